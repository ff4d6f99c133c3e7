#include "app/layout/anchor_layout.h"

#include <new>

int32_t LayoutMulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return -1;
  const int64_t product = static_cast<int64_t>(number) * numerator;
  int64_t quotient = product / denominator;
  const int64_t remainder = product % denominator;
  const int64_t absRemainder = remainder < 0 ? -remainder : remainder;
  const int64_t absDenominator = denominator < 0 ? -static_cast<int64_t>(denominator) : denominator;
  if (2 * absRemainder >= absDenominator) quotient += ((product < 0) != (denominator < 0)) ? -1 : 1;
  // Like the system's, the most negative 32-bit value counts as an overflow too.
  if (quotient > INT32_MAX || quotient < -INT32_MAX) return -1;
  return static_cast<int32_t>(quotient);
}

AnchorTableError BuildLayoutItems(const AnchorEntry* table, const ChildRectLookup& childRect,
                                  std::vector<LayoutItem>* items) {
  items->clear();
  std::vector<LayoutItem> recorded;
  bool groupOpen = false;
  size_t groupStart = 0;
  for (const AnchorEntry* row = table;; ++row) {
    if (row->id == -1) {
      if (row->flags == 0) break;
      if (row->flags == ANCHOR_BEGIN_GROUP) {
        if (groupOpen) return AnchorTableError::kNestedGroup;
        groupOpen = true;
        groupStart = recorded.size();
      } else if (row->flags == ANCHOR_END_GROUP) {
        if (!groupOpen) return AnchorTableError::kEndWithoutGroup;
        const size_t count = recorded.size() - groupStart;
        if (count == 0) return AnchorTableError::kEmptyGroup;
        if (count > kMaxGroupSize) return AnchorTableError::kGroupTooLarge;
        const LayoutRect g = GroupRect(&recorded[groupStart], count);
        // The group's width and height divide in the proportional placement.
        if (g.right == g.left || g.bottom == g.top) return AnchorTableError::kZeroSizeGroup;
        LayoutItem& first = recorded[groupStart];
        first.flags = (first.flags & ~kGroupSizeMask) |
                      ((static_cast<uint32_t>(count) & 0xFF) << kGroupSizeShift);
        groupOpen = false;
      }
      continue;  // any other marker row is ignored
    }
    if (row->flags & (ANCHOR_BEGIN_GROUP | kGroupSizeMask))
      return AnchorTableError::kStrayGroupBits;
    LayoutItem item{row->id, row->flags, {}};
    if (!childRect(row->id, &item.initial)) return AnchorTableError::kUnknownControl;
    if (groupOpen && recorded.size() == groupStart) item.flags |= ANCHOR_BEGIN_GROUP;
    try {
      recorded.push_back(item);
    } catch (const std::bad_alloc&) {
      // That control simply stays where it is.
    }
  }
  if (groupOpen) return AnchorTableError::kUnclosedGroup;
  items->swap(recorded);
  return AnchorTableError::kNone;
}

LayoutRect GroupRect(const LayoutItem* first, size_t count) {
  LayoutRect g = first[0].initial;
  for (size_t i = 1; i < count; ++i) {
    const LayoutRect& r = first[i].initial;
    if (r.left < g.left) g.left = r.left;
    if (r.top < g.top) g.top = r.top;
    if (r.right > g.right) g.right = r.right;
    if (r.bottom > g.bottom) g.bottom = r.bottom;
  }
  return g;
}

void ClampToMinimum(bool hostIsChild, int32_t minWidth, int32_t minHeight, int32_t* width,
                    int32_t* height) {
  if (!hostIsChild || minWidth == -1 || minHeight == -1) return;
  if (*width < minWidth) *width = minWidth;
  if (*height < minHeight) *height = minHeight;
}

AxisPlacement PlaceOnAxis(LayoutAxis axis, const LayoutItem& item, const LayoutRect& current,
                          int32_t extent, int32_t initialExtent, const LayoutRect* group,
                          const PreviousControl* previous) {
  const bool horizontal = axis == LayoutAxis::kHorizontal;
  const uint32_t center = horizontal ? ANCHOR_CENTER_X : ANCHOR_CENTER_Y;
  const uint32_t size = horizontal ? ANCHOR_SIZE_X : ANCHOR_SIZE_Y;
  const uint32_t move = horizontal ? ANCHOR_MOVE_X : ANCHOR_MOVE_Y;
  const int32_t initialLow = horizontal ? item.initial.left : item.initial.top;
  const int32_t initialHigh = horizontal ? item.initial.right : item.initial.bottom;
  const int32_t length = initialHigh - initialLow;
  const int32_t delta = extent - initialExtent;

  AxisPlacement p{horizontal ? current.left : current.top,
                  horizontal ? current.right : current.bottom, false, 0};
  const uint32_t flags = item.flags;

  if (group == nullptr) {
    if (flags & center) {
      p.low = (extent - length) / 2;
      p.high = p.low + length;
    } else if (flags & (size | move)) {
      p.high = initialHigh + delta;
      if (flags & move) p.low = initialLow + delta;
    }
    return p;
  }

  const int32_t groupLow = horizontal ? group->left : group->top;
  const int32_t groupHigh = horizontal ? group->right : group->bottom;
  const int32_t groupLength = groupHigh - groupLow;
  if (flags & center) {
    const int32_t scaledHigh = LayoutMulDiv(groupHigh, extent, initialExtent);
    p.low = groupLow + (scaledHigh - groupLow - length) / 2;
    p.high = p.low + length;
  } else if (flags & (size | move)) {
    p.low = groupLow + LayoutMulDiv(initialLow - groupLow, groupLength + delta, groupLength);
    if (flags & size) {
      p.high = groupLow + LayoutMulDiv(initialHigh - groupLow, groupLength + delta, groupLength);
      if (previous != nullptr) {
        const LayoutRect& pi = previous->item->initial;
        const int32_t previousInitialHigh = horizontal ? pi.right : pi.bottom;
        const int32_t previousHigh =
            horizontal ? previous->current.right : previous->current.bottom;
        // How much the gap to the previous control changed; each side takes back half of it.
        const int32_t m = (p.low - previousHigh) - (initialLow - previousInitialHigh);
        p.resizePrevious = true;
        p.previousHigh = previousHigh + (m - m / 2);
        p.low -= m / 2;
      }
    } else {
      p.high = p.low + length;
    }
  }
  return p;
}
