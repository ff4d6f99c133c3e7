// Keeps a dialog's controls attached to its right and bottom edges as its size changes. The
// dialog derives from CDialogLayout, records its controls with InitLayout during its
// initialisation and forwards every size event but minimising to UpdateLayout.
#ifndef QUILLON_APP_LAYOUT_DIALOG_LAYOUT_H_
#define QUILLON_APP_LAYOUT_DIALOG_LAYOUT_H_

#include <cstdint>
#include <vector>

#include "app/layout/anchor_layout.h"
#include "framework/wnd.h"

class CDialogLayout {
 public:
  // `host` is the dialog that derives from this layout; only its window is used, once it exists.
  explicit CDialogLayout(CWnd& host) : m_host(host) {}
  CDialogLayout(const CDialogLayout&) = delete;
  CDialogLayout& operator=(const CDialogLayout&) = delete;

  // Records the controls of `table` (ending with {-1, 0}) with their present rectangles and the
  // host's present client size, discarding any earlier recording. Forces `forceStyle` onto the
  // host, and WS_EX_DLGMODALFRAME onto a top-level host. With `useMinimumSize`, a child host is
  // never laid out smaller than now. A malformed table (see AnchorTableError) records nothing,
  // changes no style and returns false.
  bool InitLayout(const AnchorEntry* table, bool useMinimumSize, uint32_t forceStyle);

  // Moves the recorded controls for a client area of `width` x `height`, measured against the
  // recorded state, then repaints the host and its children at once.
  void UpdateLayout(int32_t width, int32_t height);

 protected:
  // Positions one item; `group` is its group's rectangle, used when `inGroup`, and `previous`
  // the group member before it, or null.
  void PositionControl(int32_t width, int32_t height, const LayoutRect& group,
                       const LayoutItem& item, bool inGroup, const LayoutItem* previous);

 private:
  bool ControlRect(int32_t id, LayoutRect* rect) const;

  std::vector<LayoutItem> m_items;
  int32_t m_initialWidth = 0;
  int32_t m_initialHeight = 0;
  int32_t m_minimumWidth = -1;
  int32_t m_minimumHeight = -1;
  CWnd& m_host;
};

#endif  // QUILLON_APP_LAYOUT_DIALOG_LAYOUT_H_
