// The main dialog from its real resource template, run modally on its own thread and driven
// from the test's thread with window messages. Compiled with the GBK execution character set,
// like the program's own sources, so narrow texts compare byte for byte.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/main_app.h"
#include "app/main_dlg.h"
#include "app/testing/dialog_driver_win32.h"

namespace {

using namespace quillon::testing;

constexpr char kIdentities[] = "Identities";
constexpr char kClient[] = "Software\\Microsoft\\Outlook Express";

void SetText(const std::string& path, const char* name, const std::string& text) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExA(key, name, 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                 static_cast<DWORD>(text.size() + 1));
  RegCloseKey(key);
}

void ClearStores() {
  RegDeleteTreeA(HKEY_CURRENT_USER, kIdentities);
  RegDeleteTreeA(HKEY_CURRENT_USER, kClient);
}

void SetIdentityStore(const std::string& storeRoot) {
  SetText(kIdentities, "Default User ID", "{test}");
  SetText("Identities\\{test}\\Software\\Microsoft\\Outlook Express\\5.0", "Store Root", storeRoot);
}

RECT ClientRectOf(HWND parent, HWND child) {
  RECT r;
  ::GetWindowRect(child, &r);
  ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Show(const RECT& r) {
  return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
         "," + std::to_string(r.bottom);
}

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearStores(); }
  void TearDown() override { ClearStores(); }
};

struct ControlSpec {
  int id;
  const char* cls;
  const wchar_t* text;
  RECT dlu;  // x, y, width, height as left, top, right, bottom
  DWORD style;
};

// The template, in tab order, with every style beyond WS_CHILD | WS_VISIBLE.
const ControlSpec kControls[] = {
    {-1, "Static", L"邮箱文件路径", {7, 10, 44, 8}, WS_GROUP | SS_LEFT},
    {1000, "Edit", L"", {52, 7, 196, 14}, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
    {1002,
     "SysListView32",
     L"",
     {7, 23, 299, 133},
     WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_ALIGNLEFT},
    {1003, "Button", L"查找 .dbx 文件", {250, 7, 56, 14}, WS_TABSTOP | BS_PUSHBUTTON},
    {1005, "Static", L"备份邮件路径", {7, 170, 44, 8}, WS_GROUP | SS_LEFT},
    {1001, "Edit", L"", {52, 168, 196, 14}, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL},
    {1004, "Button", L"导出成邮件文件", {250, 168, 56, 14}, WS_TABSTOP | BS_PUSHBUTTON},
    {1006,
     "Static",
     L"勾选需要导出的邮箱文件，填好备份的邮件路径，点击“导出成邮件文件”。",
     {8, 157, 255, 8},
     WS_GROUP | SS_LEFT},
    {1007, "msctls_progress32", L"", {7, 185, 104, 11}, WS_BORDER},
    {1008, "Static", L"", {116, 184, 190, 10}, WS_GROUP | SS_LEFT},
    {1009, "Button", L"取消导出", {250, 168, 56, 14}, WS_TABSTOP | BS_PUSHBUTTON},
};

TEST_F(MainDialogTest, StartsAsTheTemplateSaysWithTheProposedFolders) {
  SetIdentityStore("C:\\Store");
  RunningDialog run;
  HWND dlg = run.hwnd();
  ASSERT_NE(dlg, nullptr);

  EXPECT_EQ(WindowTextW(dlg), L"Quillon");
  const DWORD style = static_cast<DWORD>(::GetWindowLongA(dlg, GWL_STYLE));
  const DWORD wanted = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                       WS_MAXIMIZEBOX | DS_MODALFRAME | WS_CLIPCHILDREN;
  EXPECT_EQ(style & wanted, wanted);
  EXPECT_FALSE(style & WS_THICKFRAME);
  const DWORD exStyle = static_cast<DWORD>(::GetWindowLongA(dlg, GWL_EXSTYLE));
  EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
  EXPECT_TRUE(exStyle & WS_EX_DLGMODALFRAME);

  // Children in template (tab) order, each as the template gives it.
  HWND child = ::GetWindow(dlg, GW_CHILD);
  for (const ControlSpec& want : kControls) {
    ASSERT_NE(child, nullptr);
    SCOPED_TRACE(want.id);
    EXPECT_EQ(static_cast<int>(::GetDlgCtrlID(child)), want.id);
    EXPECT_EQ(ClassName(child), want.cls);
    // The controls turn some template styles into edges of their own, so styles are checked
    // on the template (below); here only what the program changed.
    EXPECT_EQ(::IsWindowVisible(child) != FALSE, want.id != 1009);
    // The dialog manager converts the position and the size, each on its own.
    RECT expected = want.dlu;
    ::MapDialogRect(dlg, &expected);
    expected.right += expected.left;
    expected.bottom += expected.top;
    EXPECT_TRUE(SameRect(ClientRectOf(dlg, child), expected))
        << Show(ClientRectOf(dlg, child)) << " want " << Show(expected);
    if (want.id != 1000 && want.id != 1001) {
      EXPECT_EQ(WindowTextW(child), want.text);
    }
    child = ::GetWindow(child, GW_HWNDNEXT);
  }
  EXPECT_EQ(child, nullptr);

  EXPECT_TRUE(::IsWindowVisible(run.Item(1004)));
  EXPECT_FALSE(::IsWindowVisible(run.Item(1009)));
  EXPECT_TRUE(SameRect(ClientRectOf(dlg, run.Item(1004)), ClientRectOf(dlg, run.Item(1009))));
  EXPECT_EQ(::GetDlgItem(dlg, IDOK), nullptr);
  EXPECT_EQ(::GetDlgItem(dlg, IDCANCEL), nullptr);

  EXPECT_EQ(WindowTextW(run.Item(1000)), L"C:\\Store");
  EXPECT_EQ(WindowTextW(run.Item(1001)), L"C:\\Store\\Tamrel");

  HWND list = run.Item(1002);
  EXPECT_EQ(::SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), 0x25);
  EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);
  wchar_t heading[64] = {};
  LVCOLUMNW column = {};
  column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
  column.pszText = heading;
  column.cchTextMax = 64;
  ASSERT_TRUE(::SendMessageW(list, LVM_GETCOLUMNW, 0, reinterpret_cast<LPARAM>(&column)));
  EXPECT_STREQ(heading, L"文件名");
  EXPECT_EQ(column.cx, 400);
  EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_LEFT);
  EXPECT_FALSE(::SendMessageW(list, LVM_GETCOLUMNW, 1, reinterpret_cast<LPARAM>(&column)));
  // Bound controls.
  EXPECT_EQ(run.dlg()->m_fileList.m_hWnd, list);
  EXPECT_EQ(run.dlg()->m_progress.m_hWnd, run.Item(1007));
  EXPECT_EQ(run.dlg()->m_extractor.m_pSink, static_cast<IExtractSink*>(run.dlg()));

  HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(128));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(dlg, WM_GETICON, ICON_BIG, 0)), icon);
  EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(dlg, WM_GETICON, ICON_SMALL, 0)), icon);
  EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(dlg, WM_QUERYDRAGICON, 0, 0)), icon);

  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  ASSERT_TRUE(::GetGUIThreadInfo(run.threadId(), &info));
  EXPECT_EQ(info.hwndFocus, run.Item(1000));
}

TEST_F(MainDialogTest, ProposalsFollowTheOrderOfTries) {
  {  // The identity route wins; the client key is not consulted.
    SetIdentityStore("D:\\Identity");
    SetText(kClient, "Store Root", "D:\\Client");
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(1000)), L"D:\\Identity");
    EXPECT_EQ(WindowTextW(run.Item(1001)), L"D:\\Identity\\Tamrel");
  }
  {  // An identity that yields an empty folder lets the client route decide.
    SetIdentityStore("\\");
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(1000)), L"D:\\Client\\Mail");
    EXPECT_EQ(WindowTextW(run.Item(1001)), L"D:\\Client\\Mail\\Tamrel");
  }
  {  // A backslash the expansion leaves at the end stays, and the proposal adds its own.
    ClearStores();
    ::SetEnvironmentVariableA("QUILLON_DEEP", "E:\\Deep\\");
    SetIdentityStore("%QUILLON_DEEP%");
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(1000)), L"E:\\Deep\\");
    EXPECT_EQ(WindowTextW(run.Item(1001)), L"E:\\Deep\\\\Tamrel");
  }
  {  // Nothing found: both stay empty, no message box, the list stays empty.
    ClearStores();
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(1000)), L"");
    EXPECT_EQ(WindowTextW(run.Item(1001)), L"");
    EXPECT_EQ(::SendMessageW(run.Item(1002), LVM_GETITEMCOUNT, 0, 0), 0);
    EXPECT_EQ(FindDialogOf(run.threadId(), run.hwnd()), nullptr);
  }
}

TEST_F(MainDialogTest, EnterEscapeAndCloseEndTheModalRun) {
  struct Case {
    int control;  // where the key goes; 0 for the dialog itself
    UINT message;
    WPARAM key;
    INT_PTR result;
  };
  const Case cases[] = {
      {1000, WM_KEYDOWN, VK_RETURN, IDOK},     {1001, WM_KEYDOWN, VK_RETURN, IDOK},
      {1000, WM_KEYDOWN, VK_ESCAPE, IDCANCEL}, {0, WM_CLOSE, 0, IDCANCEL},
      {0, WM_SYSCOMMAND, SC_CLOSE, IDCANCEL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    RunningDialog run;
    ASSERT_NE(run.hwnd(), nullptr);
    HWND target = c.control ? run.Item(c.control) : run.hwnd();
    // Keys go through the dialog manager's message loop, as typed keys do.
    ::PostMessageA(target, c.message, c.key, c.message == WM_KEYDOWN ? 1 : 0);
    EXPECT_EQ(run.Result(), c.result);
  }
}

// Every control's rectangle in dialog-client coordinates, by id.
std::vector<RECT> ControlRects(const RunningDialog& run) {
  std::vector<RECT> rects;
  for (const ControlSpec& want : kControls) {
    HWND child = want.id == -1 ? ::GetWindow(run.hwnd(), GW_CHILD) : run.Item(want.id);
    rects.push_back(ClientRectOf(run.hwnd(), child));
  }
  return rects;
}

TEST_F(MainDialogTest, MaximiseMovesTheAnchoredControlsAndRestoreBringsThemBack) {
  RunningDialog run;
  HWND dlg = run.hwnd();
  ASSERT_NE(dlg, nullptr);
  RECT client;
  ::GetClientRect(dlg, &client);
  const std::vector<RECT> initial = ControlRects(run);

  // As with minimising below: a maximise that Wine's desktop undoes (seen on a busy machine) is
  // asked for again.
  for (int i = 0; i < 200 && !::IsZoomed(dlg); ++i) {
    if (i) ::Sleep(10);
    ::SendMessageA(dlg, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  }
  ASSERT_TRUE(::IsZoomed(dlg));
  RECT maxClient;
  ::GetClientRect(dlg, &maxClient);
  const LONG dx = maxClient.right - client.right;
  const LONG dy = maxClient.bottom - client.bottom;
  ASSERT_GT(dx, 0);
  ASSERT_GT(dy, 0);
  const std::vector<RECT> maximised = ControlRects(run);
  for (size_t i = 0; i < std::size(kControls); ++i) {
    const int id = kControls[i].id;
    SCOPED_TRACE(id);
    RECT want = initial[i];
    switch (id) {
      case 1000:  // widens
        want.right += dx;
        break;
      case 1002:  // widens and grows
        want.right += dx;
        want.bottom += dy;
        break;
      case 1003:  // moves right
        OffsetRect(&want, dx, 0);
        break;
      case 1001:  // widens and moves down
        want.right += dx;
        OffsetRect(&want, 0, dy);
        break;
      case 1005:
      case 1006:
      case 1007:  // move down
        OffsetRect(&want, 0, dy);
        break;
      case 1004:
      case 1008:
      case 1009:  // move right and down, same size
        OffsetRect(&want, dx, dy);
        break;
      default:  // the top label is not anchored
        break;
    }
    EXPECT_TRUE(SameRect(maximised[i], want)) << Show(maximised[i]) << " want " << Show(want);
  }
  EXPECT_TRUE(SameRect(maximised[6], maximised[10]));  // cancel still on the export button

  ::SendMessageA(dlg, WM_SYSCOMMAND, SC_RESTORE, 0);
  const std::vector<RECT> restored = ControlRects(run);
  for (size_t i = 0; i < restored.size(); ++i) {
    EXPECT_TRUE(SameRect(restored[i], initial[i])) << kControls[i].id << ": " << Show(restored[i]);
  }

  // Minimising moves nothing; restoring lays out for the restored size.
  ::SendMessageA(dlg, WM_SYSCOMMAND, SC_MAXIMIZE, 0);
  // As in the painting test: a minimise that Wine's desktop undoes is asked for again.
  for (int i = 0; i < 200 && !::IsIconic(dlg); ++i) {
    if (i) ::Sleep(10);
    ::SendMessageA(dlg, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  }
  ASSERT_TRUE(::IsIconic(dlg));
  ::SendMessageA(dlg, WM_SYSCOMMAND, SC_RESTORE, 0);
  ::SendMessageA(dlg, WM_SYSCOMMAND, SC_RESTORE, 0);
  ASSERT_FALSE(::IsZoomed(dlg));
  const std::vector<RECT> again = ControlRects(run);
  for (size_t i = 0; i < again.size(); ++i) {
    EXPECT_TRUE(SameRect(again[i], initial[i])) << kControls[i].id << ": " << Show(again[i]);
  }
}

// DrawIcon as the dialog calls it, seen through the program's own import table.
struct DrawnIcon {
  std::atomic<int> calls{0};
  HWND window;  // the paint context's window, while it is open
  int x, y;
  HICON icon;
  RECT client;
} g_drawn;
BOOL(WINAPI* g_realDrawIcon)(HDC, int, int, HICON) = nullptr;
BOOL(WINAPI* g_realIsIconic)(HWND) = nullptr;
std::atomic<int> g_iconicAnswers{0};  // how often the program was told "minimised"

BOOL WINAPI RecordingIsIconic(HWND hwnd) {
  const BOOL iconic = g_realIsIconic(hwnd);
  if (iconic) ++g_iconicAnswers;
  return iconic;
}

BOOL WINAPI RecordingDrawIcon(HDC hdc, int x, int y, HICON icon) {
  g_drawn.window = ::WindowFromDC(hdc);
  g_drawn.x = x;
  g_drawn.y = y;
  g_drawn.icon = icon;
  ::GetClientRect(::WindowFromDC(hdc), &g_drawn.client);
  ++g_drawn.calls;
  return g_realDrawIcon(hdc, x, y, icon);
}

TEST_F(MainDialogTest, MinimisedDialogDrawsItsIconCentred) {
  void** slot = ImportSlot("user32.dll", "DrawIcon");
  void** iconicSlot = ImportSlot("user32.dll", "IsIconic");
  ASSERT_NE(slot, nullptr);
  ASSERT_NE(iconicSlot, nullptr);
  g_realDrawIcon = reinterpret_cast<BOOL(WINAPI*)(HDC, int, int, HICON)>(*slot);
  g_realIsIconic = reinterpret_cast<BOOL(WINAPI*)(HWND)>(*iconicSlot);
  Patch(slot, reinterpret_cast<void*>(&RecordingDrawIcon));
  Patch(iconicSlot, reinterpret_cast<void*>(&RecordingIsIconic));

  {
    RunningDialog run;
    HWND dlg = run.hwnd();
    ASSERT_NE(dlg, nullptr);
    ::SendMessageA(dlg, WM_PAINT, 0, 0);
    EXPECT_EQ(g_drawn.calls, 0);  // not minimised: default painting only

    // A dialog minimised while Wine's desktop is still activating it comes back restored, so
    // minimise (again) and paint until the program itself has been told it is minimised.
    g_iconicAnswers = 0;
    for (int i = 0; i < 200 && g_iconicAnswers == 0; ++i) {
      if (i) ::Sleep(10);
      if (!g_realIsIconic(dlg)) ::SendMessageA(dlg, WM_SYSCOMMAND, SC_MINIMIZE, 0);
      ::InvalidateRect(dlg, nullptr, TRUE);
      ::SendMessageA(dlg, WM_PAINT, 0, 0);
    }
    ASSERT_EQ(g_iconicAnswers, 1);
    ASSERT_EQ(g_drawn.calls, 1);
    EXPECT_EQ(g_drawn.icon, run.dlg()->m_appIcon);
    EXPECT_EQ(g_drawn.window, dlg);
    const int cx = ::GetSystemMetrics(SM_CXICON);
    const int cy = ::GetSystemMetrics(SM_CYICON);
    EXPECT_EQ(g_drawn.x, MinimisedIconOrigin(g_drawn.client.right, cx)) << g_drawn.client.right;
    EXPECT_EQ(g_drawn.y, MinimisedIconOrigin(g_drawn.client.bottom, cy)) << g_drawn.client.bottom;
  }
  Patch(slot, reinterpret_cast<void*>(g_realDrawIcon));
  Patch(iconicSlot, reinterpret_cast<void*>(g_realIsIconic));

  // The rounding itself: up for odd space, toward zero below it.
  EXPECT_EQ(MinimisedIconOrigin(36, 32), 2);
  EXPECT_EQ(MinimisedIconOrigin(37, 32), 3);
  EXPECT_EQ(MinimisedIconOrigin(0, 32), -15);
}

TEST_F(MainDialogTest, MessageBoxIsOwnedByTheDialogAndCaptionedWithTheProgramName) {
  RunningDialog run;
  ASSERT_NE(run.hwnd(), nullptr);
  std::atomic<int> pressed{0};
  std::thread asker([&] { pressed = AfxMessageBox("请选择邮箱文件"); });
  HWND box = WaitFor([&] {
    HWND found = nullptr;
    for (HWND w = ::GetTopWindow(nullptr); w && !found; w = ::GetWindow(w, GW_HWNDNEXT)) {
      if (ClassName(w) == "#32770" && ::GetWindow(w, GW_OWNER) == run.hwnd()) found = w;
    }
    return found;
  });
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(WindowTextW(box), L"app_tests");
  bool sawText = false;
  bool sawWarningIcon = false;
  HICON warning = ::LoadIconA(nullptr, IDI_EXCLAMATION);
  for (HWND c = ::GetWindow(box, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
    if (WindowTextW(c) == L"请选择邮箱文件") sawText = true;
    if (ClassName(c) == "Static" &&
        reinterpret_cast<HICON>(::SendMessageA(c, STM_GETICON, 0, 0)) == warning) {
      sawWarningIcon = true;
    }
  }
  EXPECT_TRUE(sawText);
  EXPECT_TRUE(sawWarningIcon);
  EXPECT_NE(::GetDlgItem(box, IDOK), nullptr);
  EXPECT_EQ(::GetDlgItem(box, IDCANCEL), nullptr);
  ::PostMessageA(box, WM_COMMAND, IDOK, 0);
  asker.join();
  EXPECT_EQ(pressed, IDOK);
}

TEST_F(MainDialogTest, InitInstanceRunsTheDialogOnceAndReturnsFalse) {
  std::atomic<DWORD> threadId{0};
  std::atomic<int> result{-1};
  std::thread app([&] {
    threadId = ::GetCurrentThreadId();
    result = TestApp().InitInstance();
  });
  HWND dlg = WaitFor([&] { return threadId ? FindDialogOf(threadId, nullptr) : nullptr; });
  ASSERT_NE(dlg, nullptr);
  ASSERT_NE(TestApp().m_pMainWnd, nullptr);
  EXPECT_EQ(TestApp().m_pMainWnd->m_hWnd, dlg);
  EXPECT_STREQ(TestApp().m_pszRegistryKey, "应用程序向导生成的本地应用程序");
  EXPECT_STREQ(TestApp().m_pszAppName, "app_tests");
  ::PostMessageA(::GetDlgItem(dlg, 1000), WM_KEYDOWN, VK_ESCAPE, 1);
  app.join();
  EXPECT_EQ(result, FALSE);
  EXPECT_EQ(TestApp().m_pMainWnd, nullptr);
}

// Reads dialog template 102 (DLGTEMPLATEEX) from the program's resources.
struct TemplateItem {
  DWORD style;
  short x, y, cx, cy;
  int id;
  std::wstring cls;  // name, or "#n" for a predefined class
  std::wstring text;
};
struct DialogTemplate {
  DWORD style, exStyle;
  short cx, cy;
  std::wstring caption, font;
  WORD points, weight;
  BYTE italic, charset;
  std::vector<TemplateItem> items;
};

DialogTemplate ReadTemplate() {
  HMODULE self = ::GetModuleHandleA(nullptr);
  HRSRC res = ::FindResourceExA(self, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(102),
                                MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  const BYTE* p = static_cast<const BYTE*>(::LockResource(::LoadResource(self, res)));
  auto word = [&p] {
    WORD w;
    std::memcpy(&w, p, 2);
    p += 2;
    return w;
  };
  auto dword = [&p] {
    DWORD d;
    std::memcpy(&d, p, 4);
    p += 4;
    return d;
  };
  auto text = [&] {
    std::wstring t;
    for (WORD c = word(); c != 0; c = word()) t += static_cast<wchar_t>(c);
    return t;
  };
  auto nameOrOrdinal = [&] {
    WORD first;
    std::memcpy(&first, p, 2);
    if (first == 0xFFFF) {
      p += 2;
      return L"#" + std::to_wstring(word());
    }
    return text();
  };
  DialogTemplate t{};
  EXPECT_EQ(word(), 1);       // version
  EXPECT_EQ(word(), 0xFFFF);  // extended template
  dword();                    // help id
  t.exStyle = dword();
  t.style = dword();
  const WORD count = word();
  word();
  word();
  t.cx = static_cast<short>(word());
  t.cy = static_cast<short>(word());
  EXPECT_EQ(nameOrOrdinal(), L"");  // no menu
  EXPECT_EQ(nameOrOrdinal(), L"");  // the standard dialog class
  t.caption = text();
  t.points = word();
  t.weight = word();
  t.italic = *p++;
  t.charset = *p++;
  t.font = text();
  for (WORD i = 0; i < count; ++i) {
    p = reinterpret_cast<const BYTE*>((reinterpret_cast<uintptr_t>(p) + 3) & ~uintptr_t{3});
    TemplateItem item;
    dword();                 // help id
    EXPECT_EQ(dword(), 0u);  // extended style
    item.style = dword();
    item.x = static_cast<short>(word());
    item.y = static_cast<short>(word());
    item.cx = static_cast<short>(word());
    item.cy = static_cast<short>(word());
    item.id = static_cast<int>(dword());
    item.cls = nameOrOrdinal();
    item.text = nameOrOrdinal();
    p += word();  // creation data
    t.items.push_back(item);
  }
  return t;
}

TEST(Resources, DialogTemplateIsExactlyTheMainDialog) {
  const DialogTemplate t = ReadTemplate();
  EXPECT_EQ(t.style,
            static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX |
                               WS_MAXIMIZEBOX | DS_MODALFRAME | DS_SETFONT | DS_FIXEDSYS));
  EXPECT_EQ(t.exStyle, static_cast<DWORD>(WS_EX_APPWINDOW));
  EXPECT_EQ(t.cx, 313);
  EXPECT_EQ(t.cy, 203);
  EXPECT_EQ(t.caption, L"Quillon");
  EXPECT_EQ(t.font, L"MS Shell Dlg");
  EXPECT_EQ(t.points, 9);
  EXPECT_EQ(t.weight, 0);
  EXPECT_EQ(t.italic, 0);
  EXPECT_EQ(t.charset, DEFAULT_CHARSET);
  ASSERT_EQ(t.items.size(), std::size(kControls));
  const std::pair<const char*, const wchar_t*> classes[] = {
      {"Static", L"#130"},
      {"Edit", L"#129"},
      {"Button", L"#128"},
      {"SysListView32", L"SysListView32"},
      {"msctls_progress32", L"msctls_progress32"}};
  for (size_t i = 0; i < t.items.size(); ++i) {
    const TemplateItem& item = t.items[i];
    const ControlSpec& want = kControls[i];
    SCOPED_TRACE(want.id);
    EXPECT_EQ(item.id, want.id);
    for (const auto& c : classes) {
      if (std::strcmp(c.first, want.cls) == 0) {
        // Window class names are case-insensitive; windres stores them in capitals.
        EXPECT_EQ(_wcsicmp(item.cls.c_str(), c.second), 0)
            << std::string(item.cls.begin(), item.cls.end());
      }
    }
    EXPECT_EQ(item.text, want.text);
    EXPECT_EQ(item.x, want.dlu.left);
    EXPECT_EQ(item.y, want.dlu.top);
    EXPECT_EQ(item.cx, want.dlu.right);
    EXPECT_EQ(item.cy, want.dlu.bottom);
    EXPECT_EQ(item.style, want.style | WS_CHILD | WS_VISIBLE) << std::hex << item.style;
  }
}

TEST(Resources, AreChineseAndTheIconHasNineImages) {
  const WORD lang = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
  EXPECT_EQ(lang, 2052);
  HMODULE self = ::GetModuleHandleA(nullptr);
  EXPECT_NE(::FindResourceExA(self, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(102), lang),
            nullptr);  // RT_DIALOG
  EXPECT_NE(::FindResourceExA(self, MAKEINTRESOURCEA(16), MAKEINTRESOURCEA(1), lang),
            nullptr);  // RT_VERSION
  HRSRC group =
      ::FindResourceExA(self, MAKEINTRESOURCEA(14), MAKEINTRESOURCEA(128), lang);  // RT_GROUP_ICON
  ASSERT_NE(group, nullptr);
  const BYTE* dir = static_cast<const BYTE*>(::LockResource(::LoadResource(self, group)));
  const WORD count = *reinterpret_cast<const WORD*>(dir + 4);
  ASSERT_EQ(count, 9);
  std::vector<std::pair<int, int>> images;  // size, bits per pixel
  for (int i = 0; i < count; ++i) {
    const BYTE* e = dir + 6 + 14 * i;  // GRPICONDIRENTRY
    images.emplace_back(e[0], *reinterpret_cast<const WORD*>(e + 6));
  }
  for (int size : {48, 32, 16}) {
    for (int bpp : {4, 8, 24}) {
      EXPECT_EQ(std::count(images.begin(), images.end(), std::make_pair(size, bpp)), 1)
          << size << "px " << bpp << "bpp";
    }
  }
}

}  // namespace
