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
