// Thin wrappers of the common controls the dialog binds, and the small helpers its painting and
// state use. Each is a handful of messages to the real control.
#ifndef QUILLON_FRAMEWORK_CONTROLS_H_
#define QUILLON_FRAMEWORK_CONTROLS_H_

#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>

#include <string>
#include <vector>

#include "framework/wnd.h"

// A list view in report mode.
class CListCtrl : public CWnd {
 public:
  // Inserts column `column` with the heading, LVCFMT_* alignment and pixel width. Returns the
  // new column's index, or -1.
  int InsertColumn(int column, const char* heading, int format = LVCFMT_LEFT, int width = -1) const;
  int GetItemCount() const { return static_cast<int>(SendMessage(LVM_GETITEMCOUNT)); }
  // Inserts an item with text only (LVIF_TEXT) at `item`. Returns its index, or -1.
  int InsertItem(int item, const char* text) const;
  // The item's data (lParam); 0 when the item does not exist.
  DWORD_PTR GetItemData(int item) const;
  BOOL SetItemData(int item, DWORD_PTR data) const;
  // The item's state bits under `mask`.
  UINT GetItemState(int item, UINT mask) const {
    return static_cast<UINT>(SendMessage(LVM_GETITEMSTATE, static_cast<WPARAM>(item), mask));
  }
  BOOL SetItemState(int item, UINT state, UINT mask) const;
  BOOL DeleteAllItems() const { return static_cast<BOOL>(SendMessage(LVM_DELETEALLITEMS)); }
};

// A progress bar.
class CProgressCtrl : public CWnd {
 public:
  void SetRange(short lower, short upper) const {
    SendMessage(PBM_SETRANGE, 0, MAKELPARAM(lower, upper));
  }
  void GetRange(int& lower, int& upper) const {
    PBRANGE range = {};
    SendMessage(PBM_GETRANGE, TRUE, reinterpret_cast<LPARAM>(&range));
    lower = range.iLow;
    upper = range.iHigh;
  }
  int SetPos(int position) const { return static_cast<int>(SendMessage(PBM_SETPOS, position)); }
  int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
};

// A growable array of narrow strings.
class CStringArray {
 public:
  int GetSize() const { return static_cast<int>(m_items.size()); }
  int Add(const std::string& item) {
    m_items.push_back(item);
    return GetSize() - 1;
  }
  const std::string& GetAt(int index) const { return m_items.at(static_cast<size_t>(index)); }
  // Empties the array and releases its storage.
  void RemoveAll() { std::vector<std::string>().swap(m_items); }

 private:
  std::vector<std::string> m_items;
};

// BeginPaint on construction, EndPaint on destruction.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* window) : m_window(window->m_hWnd) {
    m_hDC = ::BeginPaint(m_window, &m_ps);
  }
  ~CPaintDC() { ::EndPaint(m_window, &m_ps); }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;

  HDC GetSafeHdc() const { return m_hDC; }
  BOOL DrawIcon(int x, int y, HICON icon) const { return ::DrawIcon(m_hDC, x, y, icon); }

  HDC m_hDC;
  PAINTSTRUCT m_ps;

 private:
  HWND m_window;
};

#endif  // QUILLON_FRAMEWORK_CONTROLS_H_
