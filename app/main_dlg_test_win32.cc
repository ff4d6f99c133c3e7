// The main dialog from its real resource template, run modally on its own thread and driven
// from the test's thread with window messages. Compiled with the GBK execution character set,
// like the program's own sources, so narrow texts compare byte for byte.
#include <windows.h>
// After <windows.h>, which it needs.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
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

// The controls in tab order (-1: the first label, which has no id), for the layout's checks.
const int kControls[] = {-1,
                         IDC_MAILBOX_FOLDER,
                         IDC_MAILBOX_LIST,
                         IDC_FIND_MAILBOXES,
                         IDC_BACKUP_LABEL,
                         IDC_BACKUP_FOLDER,
                         IDC_EXPORT,
                         IDC_INSTRUCTION,
                         IDC_PROGRESS,
                         IDC_STATUS,
                         IDC_CANCEL_EXPORT};

class MainDialogTest : public ::testing::Test {
 protected:
  void SetUp() override { ClearStores(); }
  void TearDown() override { ClearStores(); }
};

TEST_F(MainDialogTest, StartsWithItsControlsTheProposedFoldersAndAnEmptyList) {
  SetIdentityStore("C:\\Store");
  RunningDialog run;
  HWND dlg = run.hwnd();
  ASSERT_NE(dlg, nullptr);

  EXPECT_EQ(WindowTextW(dlg), L"Quillon");
  // The cancel button is hidden until an export runs; every other control shows.
  for (HWND child = ::GetWindow(dlg, GW_CHILD); child != nullptr;
       child = ::GetWindow(child, GW_HWNDNEXT)) {
    EXPECT_EQ(::IsWindowVisible(child) != FALSE, ::GetDlgCtrlID(child) != IDC_CANCEL_EXPORT)
        << ::GetDlgCtrlID(child);
  }
  // The hidden cancel button takes the export button's place during an export.
  EXPECT_TRUE(SameRect(ClientRectOf(dlg, run.Item(IDC_EXPORT)),
                       ClientRectOf(dlg, run.Item(IDC_CANCEL_EXPORT))));

  EXPECT_EQ(run.Text(IDC_MAILBOX_FOLDER), L"C:\\Store");
  EXPECT_EQ(run.Text(IDC_BACKUP_FOLDER), L"C:\\Store\\Tamrel");

  HWND list = run.Item(IDC_MAILBOX_LIST);
  EXPECT_EQ(::SendMessageW(list, LVM_GETITEMCOUNT, 0, 0), 0);

  HICON icon = ::LoadIconA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDR_MAINFRAME));
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(dlg, WM_GETICON, ICON_BIG, 0)), icon);
  EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(dlg, WM_GETICON, ICON_SMALL, 0)), icon);
  EXPECT_EQ(reinterpret_cast<HICON>(::SendMessageA(dlg, WM_QUERYDRAGICON, 0, 0)), icon);

  GUITHREADINFO info = {};
  info.cbSize = sizeof info;
  ASSERT_TRUE(::GetGUIThreadInfo(run.threadId(), &info));
  EXPECT_EQ(info.hwndFocus, run.Item(IDC_MAILBOX_FOLDER));
}

TEST_F(MainDialogTest, ProposalsFollowTheOrderOfTries) {
  {  // The identity route wins; the client key is not consulted.
    SetIdentityStore("D:\\Identity");
    SetText(kClient, "Store Root", "D:\\Client");
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(IDC_MAILBOX_FOLDER)), L"D:\\Identity");
    EXPECT_EQ(WindowTextW(run.Item(IDC_BACKUP_FOLDER)), L"D:\\Identity\\Tamrel");
  }
  {  // An identity that yields an empty folder lets the client route decide.
    SetIdentityStore("\\");
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(IDC_MAILBOX_FOLDER)), L"D:\\Client\\Mail");
    EXPECT_EQ(WindowTextW(run.Item(IDC_BACKUP_FOLDER)), L"D:\\Client\\Mail\\Tamrel");
  }
  {  // A backslash the expansion leaves at the end stays, and the proposal adds its own.
    ClearStores();
    ::SetEnvironmentVariableA("QUILLON_DEEP", "E:\\Deep\\");
    SetIdentityStore("%QUILLON_DEEP%");
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(IDC_MAILBOX_FOLDER)), L"E:\\Deep\\");
    EXPECT_EQ(WindowTextW(run.Item(IDC_BACKUP_FOLDER)), L"E:\\Deep\\\\Tamrel");
  }
  {  // Nothing found: both stay empty, no message box, the list stays empty.
    ClearStores();
    RunningDialog run;
    EXPECT_EQ(WindowTextW(run.Item(IDC_MAILBOX_FOLDER)), L"");
    EXPECT_EQ(WindowTextW(run.Item(IDC_BACKUP_FOLDER)), L"");
    EXPECT_EQ(::SendMessageW(run.Item(IDC_MAILBOX_LIST), LVM_GETITEMCOUNT, 0, 0), 0);
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
      {IDC_MAILBOX_FOLDER, WM_KEYDOWN, VK_RETURN, IDOK},
      {IDC_BACKUP_FOLDER, WM_KEYDOWN, VK_RETURN, IDOK},
      {IDC_MAILBOX_FOLDER, WM_KEYDOWN, VK_ESCAPE, IDCANCEL},
      {0, WM_CLOSE, 0, IDCANCEL},
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
  for (const int id : kControls) {
    HWND child = id == -1 ? ::GetWindow(run.hwnd(), GW_CHILD) : run.Item(id);
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
    const int id = kControls[i];
    SCOPED_TRACE(id);
    RECT want = initial[i];
    switch (id) {
      case IDC_MAILBOX_FOLDER:  // widens
        want.right += dx;
        break;
      case IDC_MAILBOX_LIST:  // widens and grows
        want.right += dx;
        want.bottom += dy;
        break;
      case IDC_FIND_MAILBOXES:  // moves right
        OffsetRect(&want, dx, 0);
        break;
      case IDC_BACKUP_FOLDER:  // widens and moves down
        want.right += dx;
        OffsetRect(&want, 0, dy);
        break;
      case IDC_BACKUP_LABEL:
      case IDC_INSTRUCTION:
      case IDC_PROGRESS:  // move down
        OffsetRect(&want, 0, dy);
        break;
      case IDC_EXPORT:
      case IDC_STATUS:
      case IDC_CANCEL_EXPORT:  // move right and down, same size
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
    EXPECT_TRUE(SameRect(restored[i], initial[i])) << kControls[i] << ": " << Show(restored[i]);
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
    EXPECT_TRUE(SameRect(again[i], initial[i])) << kControls[i] << ": " << Show(again[i]);
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
  const ImportPatch<BOOL WINAPI(HDC, int, int, HICON)> drawIcon(
      "user32.dll", "DrawIcon", &RecordingDrawIcon, &g_realDrawIcon);
  const ImportPatch<BOOL WINAPI(HWND)> isIconic("user32.dll", "IsIconic", &RecordingIsIconic,
                                                &g_realIsIconic);
  ASSERT_TRUE(drawIcon.active());
  ASSERT_TRUE(isIconic.active());
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
  ::PostMessageA(::GetDlgItem(dlg, IDC_MAILBOX_FOLDER), WM_KEYDOWN, VK_ESCAPE, 1);
  app.join();
  EXPECT_EQ(result, FALSE);
  EXPECT_EQ(TestApp().m_pMainWnd, nullptr);
}

// Both the dialog and the icon exist in the resources' own language (the dialog is looked up in
// it).
TEST(Resources, AreChinese) {
  const WORD chinese = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);
  HMODULE self = ::GetModuleHandleA(nullptr);
  EXPECT_NE(::FindResourceExA(self, RT_DIALOG, MAKEINTRESOURCEA(IDD_QUILLON_DIALOG), chinese),
            nullptr);
  EXPECT_NE(::FindResourceExA(self, RT_GROUP_ICON, MAKEINTRESOURCEA(IDR_MAINFRAME), chinese),
            nullptr);
}

// The project's one version, in the version resource of both programs: the numbers and the
// texts of the resource's own language.
TEST(Resources, BothProgramsCarryTheProjectVersion) {
  const std::string version = QUILLON_VERSION;
  for (const std::string& program :
       {BuildFolder() + "\\Quillon.exe", BuildFolder() + "\\cli\\quillon.exe"}) {
    SCOPED_TRACE(program);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(program.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(::GetFileVersionInfoA(program.c_str(), 0, size, info.data()));
    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    const auto numbers = [](DWORD high, DWORD low) {
      return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
             std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    EXPECT_EQ(numbers(fixed->dwFileVersionMS, fixed->dwFileVersionLS), version + ".0");
    EXPECT_EQ(numbers(fixed->dwProductVersionMS, fixed->dwProductVersionLS), version + ".0");
    ASSERT_TRUE(::VerQueryValueA(info.data(), "\\VarFileInfo\\Translation", &value, &length));
    ASSERT_GE(length, 4u);
    const WORD* translation = static_cast<const WORD*>(value);
    char block[64];
    std::snprintf(block, sizeof block, "\\StringFileInfo\\%04x%04x\\", translation[0],
                  translation[1]);
    for (const char* name : {"FileVersion", "ProductVersion"}) {
      ASSERT_TRUE(
          ::VerQueryValueA(info.data(), (block + std::string(name)).c_str(), &value, &length))
          << name;
      EXPECT_EQ(std::string(static_cast<const char*>(value)), version) << name;
    }
  }
}

}  // namespace
