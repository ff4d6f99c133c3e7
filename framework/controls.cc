#include "framework/controls.h"

int CListCtrl::InsertColumn(int column, const char* heading, int format, int width) const {
  LVCOLUMNA lvc = {};
  lvc.mask = LVCF_FMT | LVCF_TEXT;
  lvc.fmt = format;
  lvc.pszText = const_cast<char*>(heading);
  if (width != -1) {
    lvc.mask |= LVCF_WIDTH;
    lvc.cx = width;
  }
  return static_cast<int>(
      SendMessage(LVM_INSERTCOLUMNA, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&lvc)));
}

int CListCtrl::InsertItem(int item, const char* text) const {
  LVITEMA lvi = {};
  lvi.mask = LVIF_TEXT;
  lvi.iItem = item;
  lvi.pszText = const_cast<char*>(text);
  return static_cast<int>(SendMessage(LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
}

DWORD_PTR CListCtrl::GetItemData(int item) const {
  LVITEMA lvi = {};
  lvi.mask = LVIF_PARAM;
  lvi.iItem = item;
  if (!SendMessage(LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi))) return 0;
  return static_cast<DWORD_PTR>(lvi.lParam);
}

BOOL CListCtrl::SetItemData(int item, DWORD_PTR data) const {
  LVITEMA lvi = {};
  lvi.mask = LVIF_PARAM;
  lvi.iItem = item;
  lvi.iSubItem = 0;
  lvi.lParam = static_cast<LPARAM>(data);
  return static_cast<BOOL>(SendMessage(LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&lvi)));
}

BOOL CListCtrl::SetItemState(int item, UINT state, UINT mask) const {
  LVITEMA lvi = {};
  lvi.state = state;
  lvi.stateMask = mask;
  return static_cast<BOOL>(
      SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(item), reinterpret_cast<LPARAM>(&lvi)));
}
