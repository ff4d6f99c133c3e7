#include "framework/wnd.h"

std::string CWnd::GetDlgItemText(int id) const {
  HWND item = GetDlgItem(id);
  const int length = item ? ::GetWindowTextLengthA(item) : 0;
  std::string text(static_cast<size_t>(length) + 1, '\0');
  if (length > 0)
    text.resize(static_cast<size_t>(::GetWindowTextA(item, &text[0], length + 1)));
  else
    text.clear();
  return text;
}
