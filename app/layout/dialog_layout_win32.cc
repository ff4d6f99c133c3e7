#include <windows.h>

#include "app/layout/dialog_layout.h"

bool CDialogLayout::ControlRect(int32_t id, LayoutRect* rect) const {
  HWND control = ::GetDlgItem(m_host.m_hWnd, id);
  if (control == nullptr) return false;
  RECT r;
  ::GetWindowRect(control, &r);
  ::MapWindowPoints(HWND_DESKTOP, m_host.m_hWnd, reinterpret_cast<POINT*>(&r), 2);
  *rect = {r.left, r.top, r.right, r.bottom};
  return true;
}

bool CDialogLayout::InitLayout(const AnchorEntry* table, bool useMinimumSize, uint32_t forceStyle) {
  HWND host = m_host.m_hWnd;
  std::vector<LayoutItem> items;
  const AnchorTableError error = BuildLayoutItems(
      table, [this](int32_t id, LayoutRect* rect) { return ControlRect(id, rect); }, &items);

  m_items.clear();
  m_items.shrink_to_fit();
  m_initialWidth = m_initialHeight = 0;
  m_minimumWidth = m_minimumHeight = -1;
  if (error != AnchorTableError::kNone) return false;

  const LONG style = ::GetWindowLongA(host, GWL_STYLE);
  if ((static_cast<uint32_t>(style) & forceStyle) != forceStyle) {
    ::SetWindowLongA(host, GWL_STYLE, static_cast<LONG>(static_cast<uint32_t>(style) | forceStyle));
  }
  const bool child = (style & WS_CHILD) != 0;
  if (!child) {
    ::SetWindowLongA(host, GWL_EXSTYLE, ::GetWindowLongA(host, GWL_EXSTYLE) | WS_EX_DLGMODALFRAME);
  }
  RECT client;
  ::GetClientRect(host, &client);
  m_initialWidth = client.right;
  m_initialHeight = client.bottom;
  if (useMinimumSize && child) {
    ::GetClientRect(host, &client);
    m_minimumWidth = client.right - client.left;
    m_minimumHeight = client.bottom - client.top;
  }
  m_items.swap(items);
  return true;
}

void CDialogLayout::UpdateLayout(int32_t width, int32_t height) {
  HWND host = m_host.m_hWnd;
  const bool child = (::GetWindowLongA(host, GWL_STYLE) & WS_CHILD) != 0;
  ClampToMinimum(child, m_minimumWidth, m_minimumHeight, &width, &height);

  const bool visible = ::IsWindowVisible(host) != FALSE;
  if (visible) ::SendMessageA(host, WM_SETREDRAW, FALSE, 0);
  for (size_t i = 0; i < m_items.size();) {
    const LayoutItem& first = m_items[i];
    if (first.flags & ANCHOR_BEGIN_GROUP) {
      const size_t count = GroupSize(first.flags);
      const LayoutRect group = GroupRect(&m_items[i], count);
      for (size_t k = 0; k < count; ++k) {
        PositionControl(width, height, group, m_items[i + k], true,
                        k ? &m_items[i + k - 1] : nullptr);
      }
      i += count;
    } else {
      PositionControl(width, height, LayoutRect{}, first, false, nullptr);
      ++i;
    }
  }
  if (visible) ::SendMessageA(host, WM_SETREDRAW, TRUE, 0);
  ::RedrawWindow(host, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

void CDialogLayout::PositionControl(int32_t width, int32_t height, const LayoutRect& group,
                                    const LayoutItem& item, bool inGroup,
                                    const LayoutItem* previous) {
  HWND control = ::GetDlgItem(m_host.m_hWnd, item.id);
  LayoutRect current;
  if (control == nullptr || !ControlRect(item.id, &current)) return;

  HWND previousControl = previous ? ::GetDlgItem(m_host.m_hWnd, previous->id) : nullptr;
  PreviousControl prev{previous, {}};
  const bool hasPrevious = previousControl != nullptr && ControlRect(previous->id, &prev.current);
  const LayoutRect* groupRect = inGroup ? &group : nullptr;
  const PreviousControl* prevArg = hasPrevious ? &prev : nullptr;

  const AxisPlacement x = PlaceOnAxis(LayoutAxis::kHorizontal, item, current, width, m_initialWidth,
                                      groupRect, prevArg);
  if (x.resizePrevious) {
    ::SetWindowPos(previousControl, nullptr, 0, 0, x.previousHigh - prev.current.left,
                   prev.current.bottom - prev.current.top,
                   SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  }
  // The horizontal pass may have resized the previous control.
  if (hasPrevious) ControlRect(previous->id, &prev.current);
  const AxisPlacement y = PlaceOnAxis(LayoutAxis::kVertical, item, current, height, m_initialHeight,
                                      groupRect, prevArg);
  if (y.resizePrevious) {
    ::SetWindowPos(previousControl, nullptr, 0, 0, prev.current.right - prev.current.left,
                   y.previousHigh - prev.current.top, SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOMOVE);
  }

  if (item.flags & ANCHOR_REPAINT) ::InvalidateRect(control, nullptr, TRUE);
  if (item.flags & ANCHOR_MOVING_FLAGS) {
    ::SetWindowPos(control, nullptr, x.low, y.low, x.high - x.low, y.high - y.low,
                   SWP_NOZORDER | SWP_NOACTIVATE);
  }
}
