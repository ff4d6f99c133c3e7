// Anchored layout arithmetic: which rectangle a control gets when its host's client area changes
// size. Nothing here touches a window; dialog_layout_win32.cc applies the results with Win32.
#ifndef QUILLON_APP_LAYOUT_ANCHOR_LAYOUT_H_
#define QUILLON_APP_LAYOUT_ANCHOR_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

// Anchor flags of a table row and of a recorded item.
constexpr uint32_t ANCHOR_SIZE_X = 0x0001;    // right edge follows the width change
constexpr uint32_t ANCHOR_SIZE_Y = 0x0002;    // bottom edge follows the height change
constexpr uint32_t ANCHOR_MOVE_X = 0x0004;    // both horizontal edges follow; width kept
constexpr uint32_t ANCHOR_MOVE_Y = 0x0008;    // both vertical edges follow; height kept
constexpr uint32_t ANCHOR_REPAINT = 0x0010;   // invalidate (with erasing) before moving
constexpr uint32_t ANCHOR_CENTER_X = 0x0020;  // centred horizontally; beats SIZE_X and MOVE_X
constexpr uint32_t ANCHOR_CENTER_Y = 0x0040;  // centred vertically; beats SIZE_Y and MOVE_Y
constexpr uint32_t ANCHOR_BEGIN_GROUP = 0x1000;
constexpr uint32_t ANCHOR_END_GROUP = 0x2000;
// A control is moved only when its item carries one of these.
constexpr uint32_t ANCHOR_MOVING_FLAGS = 0x7F;
constexpr int kGroupSizeShift = 16;
constexpr uint32_t kGroupSizeMask = 0xFFu << kGroupSizeShift;
constexpr size_t kMaxGroupSize = 255;

// One row of an anchor table. Id -1 marks a marker row; {-1, 0} ends the table.
struct AnchorEntry {
  int32_t id;
  uint32_t flags;
};

struct LayoutRect {
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
};

inline bool operator==(const LayoutRect& a, const LayoutRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

// One recorded control. On the first item of a group, flags also hold ANCHOR_BEGIN_GROUP and the
// group's item count in bits 16-23.
struct LayoutItem {
  int32_t id;
  uint32_t flags;
  LayoutRect initial;  // in host-client coordinates, as recorded
};

inline uint32_t GroupSize(uint32_t flags) { return (flags & kGroupSizeMask) >> kGroupSizeShift; }

// Win32 MulDiv: the 64-bit product divided and rounded to the nearest integer, halves away from
// zero. -1 when the divisor is 0 or the result does not fit.
int32_t LayoutMulDiv(int32_t number, int32_t numerator, int32_t denominator);

// Why an anchor table was refused.
enum class AnchorTableError {
  kNone,
  kUnknownControl,   // a row names no child of the host
  kEndWithoutGroup,  // an end-group row with no group open
  kNestedGroup,      // a begin-group row inside an open group
  kEmptyGroup,       // a group with no control row
  kUnclosedGroup,    // the table ends inside a group
  kGroupTooLarge,    // more than 255 controls in one group
  kZeroSizeGroup,    // a group whose rectangle has no width or no height
  kStrayGroupBits,   // a control row that carries the group marker or a group size itself
};

// Looks up a child control by id: its rectangle in host-client coordinates, or false when the host
// has no such child.
using ChildRectLookup = std::function<bool(int32_t id, LayoutRect* rect)>;

// Walks `table` (ending with {-1, 0}) and records one item per control row, in table order, with
// the group markings. On any error `items` is left empty and the error returned. A row whose item
// cannot be stored for lack of memory is left out and the walk goes on.
AnchorTableError BuildLayoutItems(const AnchorEntry* table, const ChildRectLookup& childRect,
                                  std::vector<LayoutItem>* items);

// The union of the initial rectangles of `count` items starting at `first`.
LayoutRect GroupRect(const LayoutItem* first, size_t count);

// A child host initialised with a minimum is never laid out smaller than that minimum (-1: none).
void ClampToMinimum(bool hostIsChild, int32_t minWidth, int32_t minHeight, int32_t* width,
                    int32_t* height);

enum class LayoutAxis { kHorizontal, kVertical };

// Where one control goes on one axis.
struct AxisPlacement {
  int32_t low;   // new left (or top)
  int32_t high;  // new right (or bottom)
  // In a group, when the control is sized on this axis and follows another member: the previous
  // control's new right (or bottom) edge, which restores the initial gap between the two.
  bool resizePrevious;
  int32_t previousHigh;
};

// The previous member of a group, as seen when the current control is placed.
struct PreviousControl {
  const LayoutItem* item;  // its recorded item
  LayoutRect current;      // its control's rectangle now
};

// Places `item` on `axis`. `current` is the control's rectangle now; `extent` and
// `initialExtent` the client width (or height) now and at initialisation. `group` is the group's
// rectangle for a group member, or null for an item alone; `previous` is the member before it, or
// null. Edges that no flag governs stay where `current` has them.
AxisPlacement PlaceOnAxis(LayoutAxis axis, const LayoutItem& item, const LayoutRect& current,
                          int32_t extent, int32_t initialExtent, const LayoutRect* group,
                          const PreviousControl* previous);

#endif  // QUILLON_APP_LAYOUT_ANCHOR_LAYOUT_H_
