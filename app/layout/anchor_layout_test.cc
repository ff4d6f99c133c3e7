#include "app/layout/anchor_layout.h"

#include <gtest/gtest.h>

#include <map>

namespace {

// Plays the host: child rectangles by id, and the update pass of the Win32 side (minus the
// redrawing), so group members see their predecessor's rectangle as it is after its own move.
class FakeHost {
 public:
  void Add(int32_t id, LayoutRect r) { rects_[id] = r; }
  const LayoutRect& Rect(int32_t id) { return rects_.at(id); }

  AnchorTableError Build(const AnchorEntry* table) {
    return BuildLayoutItems(
        table,
        [this](int32_t id, LayoutRect* r) {
          auto it = rects_.find(id);
          if (it == rects_.end()) return false;
          *r = it->second;
          return true;
        },
        &items_);
  }

  void Update(int32_t width, int32_t height) {
    for (size_t i = 0; i < items_.size();) {
      const size_t n = (items_[i].flags & ANCHOR_BEGIN_GROUP) ? GroupSize(items_[i].flags) : 1;
      if (items_[i].flags & ANCHOR_BEGIN_GROUP) {
        const LayoutRect g = GroupRect(&items_[i], n);
        for (size_t k = 0; k < n; ++k)
          Position(width, height, &g, i + k, k ? &items_[i + k - 1] : nullptr);
      } else {
        Position(width, height, nullptr, i, nullptr);
      }
      i += n;
    }
  }

  const std::vector<LayoutItem>& items() const { return items_; }
  int32_t initialWidth = 400;
  int32_t initialHeight = 300;

 private:
  void Position(int32_t w, int32_t h, const LayoutRect* g, size_t index, const LayoutItem* prev) {
    const LayoutItem& item = items_[index];
    LayoutRect r = rects_.at(item.id);
    PreviousControl pc{prev, prev ? rects_.at(prev->id) : LayoutRect{}};
    AxisPlacement x =
        PlaceOnAxis(LayoutAxis::kHorizontal, item, r, w, initialWidth, g, prev ? &pc : nullptr);
    if (x.resizePrevious) rects_[prev->id].right = x.previousHigh;
    if (prev) pc.current = rects_.at(prev->id);
    AxisPlacement y =
        PlaceOnAxis(LayoutAxis::kVertical, item, r, h, initialHeight, g, prev ? &pc : nullptr);
    if (y.resizePrevious) rects_[prev->id].bottom = y.previousHigh;
    if (item.flags & ANCHOR_MOVING_FLAGS) rects_[item.id] = {x.low, y.low, x.high, y.high};
  }

  std::map<int32_t, LayoutRect> rects_;
  std::vector<LayoutItem> items_;
};

TEST(LayoutMulDiv, RoundsHalvesAwayFromZeroAndReportsFailureAsMinusOne) {
  EXPECT_EQ(LayoutMulDiv(180, 580, 380), 275);  // 274.7
  EXPECT_EQ(LayoutMulDiv(180, 280, 380), 133);  // 132.6
  EXPECT_EQ(LayoutMulDiv(1, 1, 2), 1);
  EXPECT_EQ(LayoutMulDiv(-1, 1, 2), -1);
  EXPECT_EQ(LayoutMulDiv(1, -3, 2), -2);
  EXPECT_EQ(LayoutMulDiv(-5, 1, -2), 3);
  EXPECT_EQ(LayoutMulDiv(7, 1, 4), 2);
  EXPECT_EQ(LayoutMulDiv(5, 5, 0), -1);
  EXPECT_EQ(LayoutMulDiv(INT32_MAX, INT32_MAX, INT32_MAX), INT32_MAX);  // 64-bit product
  EXPECT_EQ(LayoutMulDiv(INT32_MAX, 2, 1), -1);
  EXPECT_EQ(LayoutMulDiv(INT32_MIN, 1, 1), -1);
}

TEST(AnchorLayout, TwoSizedItemsInOneGroupKeepTheirGap) {
  FakeHost host;
  host.Add(1, {10, 0, 190, 20});
  host.Add(2, {200, 0, 390, 20});
  const AnchorEntry table[] = {{-1, ANCHOR_BEGIN_GROUP},
                               {1, ANCHOR_SIZE_X},
                               {2, ANCHOR_SIZE_X},
                               {-1, ANCHOR_END_GROUP},
                               {-1, 0}};
  ASSERT_EQ(host.Build(table), AnchorTableError::kNone);
  ASSERT_EQ(host.items().size(), 2u);
  EXPECT_EQ(host.items()[0].flags, ANCHOR_SIZE_X | ANCHOR_BEGIN_GROUP | (2u << 16));
  EXPECT_EQ(host.items()[1].flags, ANCHOR_SIZE_X);

  // The first member alone would be 10-285; the second computes 300-590 (m = 5): the first
  // takes 3, the second gives back 2.
  host.Update(600, 300);
  EXPECT_EQ(host.Rect(1), (LayoutRect{10, 0, 288, 20}));
  EXPECT_EQ(host.Rect(2), (LayoutRect{298, 0, 590, 20}));

  // Shrinking: 10-143 and 150-290 computed, m = -3.
  host.Update(300, 300);
  EXPECT_EQ(host.Rect(1), (LayoutRect{10, 0, 141, 20}));
  EXPECT_EQ(host.Rect(2), (LayoutRect{151, 0, 290, 20}));

  host.Update(400, 300);
  EXPECT_EQ(host.Rect(1), (LayoutRect{10, 0, 190, 20}));
  EXPECT_EQ(host.Rect(2), (LayoutRect{200, 0, 390, 20}));
}

TEST(AnchorLayout, LoneItemsMoveCentreAndSizeByTheWidthChange) {
  FakeHost host;
  host.Add(1, {350, 5, 390, 25});  // ANCHOR_MOVE_X
  host.Add(2, {0, 30, 41, 40});    // ANCHOR_CENTER_X
  host.Add(3, {20, 50, 100, 60});  // SIZE_X + MOVE_X: the move wins outside a group
  host.Add(4, {20, 70, 100, 80});  // SIZE_X | SIZE_Y
  host.Add(5, {20, 90, 100, 99});  // MOVE_Y | CENTER_X | SIZE_X: centring wins
  const AnchorEntry table[] = {{1, ANCHOR_MOVE_X},
                               {2, ANCHOR_CENTER_X},
                               {3, ANCHOR_SIZE_X | ANCHOR_MOVE_X},
                               {4, ANCHOR_SIZE_X | ANCHOR_SIZE_Y},
                               {5, ANCHOR_MOVE_Y | ANCHOR_CENTER_X | ANCHOR_SIZE_X},
                               {-1, 0}};
  ASSERT_EQ(host.Build(table), AnchorTableError::kNone);

  host.Update(600, 310);
  EXPECT_EQ(host.Rect(1), (LayoutRect{550, 5, 590, 25}));
  EXPECT_EQ(host.Rect(2), (LayoutRect{279, 30, 320, 40}));  // (600 - 41) / 2 truncated
  EXPECT_EQ(host.Rect(3), (LayoutRect{220, 50, 300, 60}));
  EXPECT_EQ(host.Rect(4), (LayoutRect{20, 70, 300, 90}));
  EXPECT_EQ(host.Rect(5), (LayoutRect{260, 100, 340, 109}));

  host.Update(300, 290);
  EXPECT_EQ(host.Rect(1), (LayoutRect{250, 5, 290, 25}));
  EXPECT_EQ(host.Rect(2), (LayoutRect{129, 30, 170, 40}));
  EXPECT_EQ(host.Rect(4), (LayoutRect{20, 70, 0, 70}));  // no clamp: the width goes negative

  host.Update(400, 300);
  EXPECT_EQ(host.Rect(1), (LayoutRect{350, 5, 390, 25}));
  EXPECT_EQ(host.Rect(4), (LayoutRect{20, 70, 100, 80}));
}

TEST(AnchorLayout, CentringWithNegativeSpaceTruncatesTowardZero) {
  LayoutItem item{1, ANCHOR_CENTER_X | ANCHOR_CENTER_Y, {0, 0, 41, 41}};
  AxisPlacement x =
      PlaceOnAxis(LayoutAxis::kHorizontal, item, item.initial, 0, 400, nullptr, nullptr);
  EXPECT_EQ(x.low, -20);  // -41 / 2, not -21
  EXPECT_EQ(x.high, 21);
}

TEST(AnchorLayout, EdgesNoFlagGovernsKeepTheControlsCurrentPlace) {
  // Recorded at 0-10 but now at 5-20 (something else moved it): only the flagged edge is set.
  LayoutItem item{1, ANCHOR_SIZE_X, {0, 0, 10, 10}};
  LayoutRect current{5, 7, 20, 30};
  AxisPlacement x = PlaceOnAxis(LayoutAxis::kHorizontal, item, current, 450, 400, nullptr, nullptr);
  AxisPlacement y = PlaceOnAxis(LayoutAxis::kVertical, item, current, 999, 300, nullptr, nullptr);
  EXPECT_EQ(x.low, 5);
  EXPECT_EQ(x.high, 60);
  EXPECT_EQ(y.low, 7);
  EXPECT_EQ(y.high, 30);
}

TEST(AnchorLayout, OneItemGroupsKeepTheirLeftEdge) {
  FakeHost host;
  host.Add(1, {30, 10, 130, 40});
  host.Add(2, {150, 10, 200, 40});
  host.Add(3, {210, 10, 260, 40});
  const AnchorEntry table[] = {{-1, ANCHOR_BEGIN_GROUP}, {1, ANCHOR_SIZE_X | ANCHOR_SIZE_Y},
                               {-1, ANCHOR_END_GROUP},   {-1, ANCHOR_BEGIN_GROUP},
                               {2, ANCHOR_MOVE_X},       {-1, ANCHOR_END_GROUP},
                               {-1, ANCHOR_BEGIN_GROUP}, {3, ANCHOR_CENTER_X},
                               {-1, ANCHOR_END_GROUP},   {-1, 0}};
  ASSERT_EQ(host.Build(table), AnchorTableError::kNone);
  for (const LayoutItem& item : host.items()) EXPECT_EQ(GroupSize(item.flags), 1u);

  host.Update(500, 330);
  EXPECT_EQ(host.Rect(1), (LayoutRect{30, 10, 230, 70}));
  EXPECT_EQ(host.Rect(2), (LayoutRect{150, 10, 200, 40}));  // MOVE_X alone in a group: stays
  // Centred within the group's right edge scaled: 260 * 500 / 400 = 325; 210 + (325-210-50)/2.
  EXPECT_EQ(host.Rect(3), (LayoutRect{242, 10, 292, 40}));
}

TEST(AnchorLayout, GroupMembersMoveProportionallyAndVertically) {
  FakeHost host;
  host.Add(1, {10, 10, 60, 100});
  host.Add(2, {10, 110, 60, 200});
  host.Add(3, {10, 210, 60, 290});
  const AnchorEntry table[] = {{-1, ANCHOR_BEGIN_GROUP}, {1, ANCHOR_SIZE_Y},
                               {2, ANCHOR_SIZE_Y},       {3, ANCHOR_MOVE_Y | ANCHOR_MOVE_X},
                               {-1, ANCHOR_END_GROUP},   {-1, 0}};
  ASSERT_EQ(host.Build(table), AnchorTableError::kNone);
  host.Update(400, 580);  // dy = 280 over a group 280 high: everything doubles from the top
  EXPECT_EQ(host.Rect(1), (LayoutRect{10, 10, 60, 195}));
  // Computed 210-390 (m = 10 against 190): previous bottom +5, this top -5, gap of 10 kept.
  EXPECT_EQ(host.Rect(2), (LayoutRect{10, 205, 60, 390}));
  // MOVE_X and MOVE_Y alone: proportional left/top, length kept.
  EXPECT_EQ(host.Rect(3), (LayoutRect{10, 410, 60, 490}));
}

TEST(AnchorLayout, RowsWithoutAMovingFlagAreRecordedButNeverMoved) {
  FakeHost host;
  host.Add(1, {10, 10, 50, 20});
  host.Add(2, {10, 30, 50, 40});
  const AnchorEntry table[] = {{1, 0}, {2, ANCHOR_REPAINT}, {-1, 0x4000}, {-1, 0}};
  ASSERT_EQ(host.Build(table), AnchorTableError::kNone);
  EXPECT_EQ(host.items().size(), 2u);
  host.Update(800, 600);
  EXPECT_EQ(host.Rect(1), (LayoutRect{10, 10, 50, 20}));
  EXPECT_EQ(host.Rect(2), (LayoutRect{10, 30, 50, 40}));
}

TEST(AnchorLayout, OnlyAChildHostWithAMinimumIsClamped) {
  int32_t w = 100, h = 50;
  ClampToMinimum(true, 300, 200, &w, &h);
  EXPECT_EQ(w, 300);
  EXPECT_EQ(h, 200);
  w = 350, h = 150;
  ClampToMinimum(true, 300, 200, &w, &h);
  EXPECT_EQ(w, 350);
  EXPECT_EQ(h, 200);
  w = 100, h = 50;
  ClampToMinimum(false, 300, 200, &w, &h);  // top-level host
  EXPECT_EQ(w, 100);
  ClampToMinimum(true, -1, 200, &w, &h);  // no minimum recorded
  EXPECT_EQ(h, 50);

  // A child host laid out below its minimum lands on the initial rectangles.
  FakeHost host;
  host.Add(1, {350, 5, 390, 25});
  const AnchorEntry table[] = {{1, ANCHOR_MOVE_X | ANCHOR_MOVE_Y}, {-1, 0}};
  ASSERT_EQ(host.Build(table), AnchorTableError::kNone);
  w = 250, h = 100;
  ClampToMinimum(true, 400, 300, &w, &h);
  host.Update(w, h);
  EXPECT_EQ(host.Rect(1), (LayoutRect{350, 5, 390, 25}));
}

TEST(AnchorLayout, MalformedTablesAreRefusedAndRecordNothing) {
  FakeHost host;
  host.Add(1, {10, 10, 50, 20});
  host.Add(2, {10, 10, 10, 40});  // no width
  host.Add(3, {60, 10, 90, 10});  // no height
  const AnchorEntry unknown[] = {{1, ANCHOR_SIZE_X}, {7, ANCHOR_SIZE_X}, {-1, 0}};
  const AnchorEntry strayEnd[] = {{1, ANCHOR_SIZE_X}, {-1, ANCHOR_END_GROUP}, {-1, 0}};
  const AnchorEntry empty[] = {{-1, ANCHOR_BEGIN_GROUP}, {-1, ANCHOR_END_GROUP}, {-1, 0}};
  const AnchorEntry unclosed[] = {{-1, ANCHOR_BEGIN_GROUP}, {1, ANCHOR_SIZE_X}, {-1, 0}};
  const AnchorEntry nested[] = {
      {-1, ANCHOR_BEGIN_GROUP}, {1, 0}, {-1, ANCHOR_BEGIN_GROUP}, {-1, ANCHOR_END_GROUP}, {-1, 0}};
  const AnchorEntry zeroWidth[] = {
      {-1, ANCHOR_BEGIN_GROUP}, {2, ANCHOR_SIZE_Y}, {-1, ANCHOR_END_GROUP}, {-1, 0}};
  const AnchorEntry zeroHeight[] = {
      {-1, ANCHOR_BEGIN_GROUP}, {3, ANCHOR_SIZE_X}, {-1, ANCHOR_END_GROUP}, {-1, 0}};
  const AnchorEntry stray[] = {{1, ANCHOR_SIZE_X | ANCHOR_BEGIN_GROUP | (1u << 16)}, {-1, 0}};
  EXPECT_EQ(host.Build(unknown), AnchorTableError::kUnknownControl);
  EXPECT_TRUE(host.items().empty());
  EXPECT_EQ(host.Build(strayEnd), AnchorTableError::kEndWithoutGroup);
  EXPECT_EQ(host.Build(empty), AnchorTableError::kEmptyGroup);
  EXPECT_EQ(host.Build(unclosed), AnchorTableError::kUnclosedGroup);
  EXPECT_EQ(host.Build(nested), AnchorTableError::kNestedGroup);
  EXPECT_EQ(host.Build(zeroWidth), AnchorTableError::kZeroSizeGroup);
  EXPECT_EQ(host.Build(zeroHeight), AnchorTableError::kZeroSizeGroup);
  EXPECT_EQ(host.Build(stray), AnchorTableError::kStrayGroupBits);
  EXPECT_TRUE(host.items().empty());

  // 255 controls fit in a group, 256 do not.
  for (int32_t id = 100; id < 356; ++id) host.Add(id, {id, 0, id + 1, 1});
  std::vector<AnchorEntry> big{{-1, ANCHOR_BEGIN_GROUP}};
  for (int32_t id = 100; id < 355; ++id) big.push_back({id, ANCHOR_SIZE_X});
  big.push_back({-1, ANCHOR_END_GROUP});
  big.push_back({-1, 0});
  ASSERT_EQ(host.Build(big.data()), AnchorTableError::kNone);
  EXPECT_EQ(GroupSize(host.items()[0].flags), 255u);
  big.insert(big.end() - 2, AnchorEntry{355, ANCHOR_SIZE_X});
  EXPECT_EQ(host.Build(big.data()), AnchorTableError::kGroupTooLarge);
  EXPECT_TRUE(host.items().empty());
}

}  // namespace
