// The layout on real windows: the system's MulDiv, and the Win32 host side of groups, minimums
// and refused tables.
#include <gtest/gtest.h>
#include <windows.h>

#include "app/layout/dialog_layout.h"

namespace {

// A hidden host window with static children, torn down at the end of the test.
class HostWindow : public CWnd {
 public:
  HostWindow(DWORD style, int width, int height, HWND parent = nullptr) {
    m_hWnd = ::CreateWindowExA(0, "STATIC", "", style, 0, 0, width, height, parent, nullptr,
                               ::GetModuleHandleA(nullptr), nullptr);
  }
  ~HostWindow() override { ::DestroyWindow(m_hWnd); }
  HWND AddChild(int id, int l, int t, int r, int b) const {
    return ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, l, t, r - l, b - t, m_hWnd,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                             ::GetModuleHandleA(nullptr), nullptr);
  }
  RECT ChildRect(int id) const {
    RECT r;
    ::GetWindowRect(GetDlgItem(id), &r);
    ::MapWindowPoints(HWND_DESKTOP, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
};

class TestLayout : public CDialogLayout {
 public:
  explicit TestLayout(CWnd& host) : CDialogLayout(host) {}
};

void ExpectRect(const RECT& r, LONG l, LONG t, LONG rt, LONG b) {
  EXPECT_EQ(r.left, l);
  EXPECT_EQ(r.top, t);
  EXPECT_EQ(r.right, rt);
  EXPECT_EQ(r.bottom, b);
}

TEST(LayoutOnWin32, MulDivAgreesWithTheSystem) {
  const int values[] = {0,   1,   -1,   2,       -2,      3,     7,     -7,        180,
                        380, 580, -580, 1000003, -999999, 46341, 65536, INT32_MAX, -INT32_MAX};
  for (int a : values) {
    for (int b : values) {
      for (int c : values) {
        ASSERT_EQ(LayoutMulDiv(a, b, c), ::MulDiv(a, b, c)) << a << " * " << b << " / " << c;
      }
    }
  }
}

TEST(LayoutOnWin32, GroupMembersShareTheGrowthAndKeepTheirGap) {
  HostWindow host(WS_POPUP, 400, 300);
  ASSERT_NE(host.m_hWnd, nullptr);
  host.AddChild(1, 10, 0, 190, 20);
  host.AddChild(2, 200, 0, 390, 20);
  TestLayout layout(host);
  const AnchorEntry table[] = {{-1, ANCHOR_BEGIN_GROUP},
                               {1, ANCHOR_SIZE_X},
                               {2, ANCHOR_SIZE_X},
                               {-1, ANCHOR_END_GROUP},
                               {-1, 0}};
  ASSERT_TRUE(layout.InitLayout(table, true, WS_CLIPCHILDREN));
  EXPECT_TRUE(::GetWindowLongA(host.m_hWnd, GWL_STYLE) & WS_CLIPCHILDREN);
  EXPECT_TRUE(::GetWindowLongA(host.m_hWnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);

  layout.UpdateLayout(600, 300);
  ExpectRect(host.ChildRect(1), 10, 0, 288, 20);
  ExpectRect(host.ChildRect(2), 298, 0, 590, 20);
  layout.UpdateLayout(300, 300);  // a top-level host is not clamped to its initial size
  ExpectRect(host.ChildRect(1), 10, 0, 141, 20);
  ExpectRect(host.ChildRect(2), 151, 0, 290, 20);
}

TEST(LayoutOnWin32, AChildHostIsLaidOutNoSmallerThanAtInitialisation) {
  HostWindow top(WS_POPUP, 800, 600);
  HostWindow host(WS_CHILD | WS_VISIBLE, 400, 300, top.m_hWnd);
  host.AddChild(1, 350, 5, 390, 25);
  TestLayout layout(host);
  const AnchorEntry table[] = {{1, ANCHOR_MOVE_X | ANCHOR_MOVE_Y}, {-1, 0}};
  ASSERT_TRUE(layout.InitLayout(table, true, 0));
  EXPECT_FALSE(::GetWindowLongA(host.m_hWnd, GWL_EXSTYLE) & WS_EX_DLGMODALFRAME);
  layout.UpdateLayout(100, 50);
  ExpectRect(host.ChildRect(1), 350, 5, 390, 25);
  layout.UpdateLayout(500, 350);
  ExpectRect(host.ChildRect(1), 450, 55, 490, 75);

  // Without the minimum the same host follows the smaller size.
  ASSERT_TRUE(layout.InitLayout(table, false, 0));
  // Recorded afresh at 450-490, 55-75 with the same client size: dx = -100, dy = -50.
  layout.UpdateLayout(300, 250);
  ExpectRect(host.ChildRect(1), 350, 5, 390, 25);
}

TEST(LayoutOnWin32, ARefusedTableRecordsNothingAndLeavesTheStyle) {
  HostWindow host(WS_POPUP, 400, 300);
  host.AddChild(1, 350, 5, 390, 25);
  TestLayout layout(host);
  const AnchorEntry good[] = {{1, ANCHOR_MOVE_X}, {-1, 0}};
  const AnchorEntry bad[] = {{1, ANCHOR_MOVE_X}, {2, ANCHOR_MOVE_X}, {-1, 0}};
  ASSERT_TRUE(layout.InitLayout(good, false, 0));
  EXPECT_FALSE(layout.InitLayout(bad, false, WS_CLIPCHILDREN));
  EXPECT_FALSE(::GetWindowLongA(host.m_hWnd, GWL_STYLE) & WS_CLIPCHILDREN);
  layout.UpdateLayout(600, 300);  // the earlier recording is gone too
  ExpectRect(host.ChildRect(1), 350, 5, 390, 25);
}

}  // namespace
