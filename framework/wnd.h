// The framework layer's window object: a thin holder of an HWND with the few window calls the
// dialog and its controls use. It owns nothing: the window belongs to whoever created it.
#ifndef QUILLON_FRAMEWORK_WND_H_
#define QUILLON_FRAMEWORK_WND_H_

#include <windows.h>

#include <string>

class CWnd {
 public:
  CWnd() = default;
  virtual ~CWnd() = default;
  CWnd(const CWnd&) = delete;
  CWnd& operator=(const CWnd&) = delete;

  HWND GetSafeHwnd() const { return m_hWnd; }
  HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }
  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
  }
  void SetWindowText(const char* text) const { ::SetWindowTextA(m_hWnd, text); }
  void SetDlgItemText(int id, const char* text) const { ::SetDlgItemTextA(m_hWnd, id, text); }
  std::string GetDlgItemText(int id) const;
  BOOL ShowWindow(int command) const { return ::ShowWindow(m_hWnd, command); }
  BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
  BOOL EnableWindow(BOOL enable = TRUE) const { return ::EnableWindow(m_hWnd, enable); }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
  }
  UINT_PTR SetTimer(UINT_PTR id, UINT elapse, TIMERPROC proc = nullptr) const {
    return ::SetTimer(m_hWnd, id, elapse, proc);
  }
  BOOL KillTimer(UINT_PTR id) const { return ::KillTimer(m_hWnd, id); }
  BOOL RedrawWindow(const RECT* update = nullptr, HRGN region = nullptr,
                    UINT flags = RDW_INVALIDATE | RDW_UPDATENOW | RDW_ERASE) const {
    return ::RedrawWindow(m_hWnd, update, region, flags);
  }
  void GetClientRect(RECT* rect) const { ::GetClientRect(m_hWnd, rect); }

  HWND m_hWnd = nullptr;
};

#endif  // QUILLON_FRAMEWORK_WND_H_
