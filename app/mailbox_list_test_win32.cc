// The find button on the real dialog: what the list and the path array hold afterwards, and the
// messages. Compiled with the GBK execution character set, like the dialog.
#include <windows.h>
// After <windows.h>, which they need.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/testing/dialog_driver_win32.h"

namespace quillon::testing {
namespace {

// The names the system's own search returns for `folder`\*.dbx, in its order.
std::vector<std::string> SystemOrder(const std::string& folder) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((folder + "\\*.dbx").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return names;
}

class FindMailboxesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(MakeFolder(m_mail));
    for (const char* name : {"Inbox.dbx", "ARCHIVE.DBX", "Sent Items.dbx", "Drafts.dbx"}) {
      ASSERT_TRUE(WriteFile(m_mail + "\\" + name, "not read by the scan"));
    }
    ASSERT_TRUE(WriteFile(m_mail + "\\notes.txt", "x"));
    ASSERT_TRUE(MakeFolder(m_mail + "\\Old.dbx"));  // a folder of that name is listed too
    ASSERT_TRUE(MakeFolder(m_empty));
    ASSERT_TRUE(WriteFile(m_empty + "\\Inbox.txt", "x"));
  }

  // After a find of `typed`: the items in the system's order, each ticked, its data the index of
  // its absolute path `folder`\name.
  void ExpectListed(const RunningDialog& run, const std::string& folder) {
    const std::vector<std::string> names = SystemOrder(folder);
    ASSERT_EQ(names.size(), 5u);
    ASSERT_EQ(run.ItemCount(), 5);
    ASSERT_EQ(run.dlg()->m_mailboxFiles.GetSize(), 5);
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(run.ItemText(i), names[static_cast<size_t>(i)]);
      EXPECT_EQ(run.ItemStateImage(i), 2);
      const LPARAM k = run.ItemData(i);
      ASSERT_GE(k, 0);
      ASSERT_LT(k, 5);
      EXPECT_EQ(k, i);  // the array grows with the list
      EXPECT_EQ(run.dlg()->m_mailboxFiles.GetAt(static_cast<int>(k)),
                m_mail + "\\" + run.ItemText(i));
    }
  }

  void FillList(const RunningDialog& run) {
    run.Type(IDC_MAILBOX_FOLDER, m_mail);
    run.ClickAndWait(IDC_FIND_MAILBOXES);
    ASSERT_EQ(run.ItemCount(), 5);
  }

  TempFolder m_root{"find"};
  std::string m_mail = m_root / "Mail Store";
  std::string m_empty = m_root / "empty";
};

TEST_F(FindMailboxesTest, ListsEveryMatchTickedInTheSystemsOrderWithAbsolutePaths) {
  RunningDialog run;
  ASSERT_NE(run.hwnd(), nullptr);
  FillList(run);
  ExpectListed(run, m_mail);
  EXPECT_EQ(run.OwnedDialog(), nullptr);

  // Typed with forward slashes, or with one trailing backslash: the same folder, the same paths,
  // and the edit keeps the text. A new find ticks an item the user had unticked again.
  std::string slashes = m_mail + "/";
  for (char& c : slashes) c = c == '\\' ? '/' : c;
  for (const std::string& typed : {slashes, m_mail + "\\"}) {
    SCOPED_TRACE(typed);
    run.SetTicked(0, false);
    run.Type(IDC_MAILBOX_FOLDER, typed);
    run.ClickAndWait(IDC_FIND_MAILBOXES);
    ExpectListed(run, m_mail);
    EXPECT_EQ(run.Text(IDC_MAILBOX_FOLDER), std::wstring(typed.begin(), typed.end()));
  }

  // Relative to the current directory; the stored paths are absolute.
  char previous[MAX_PATH] = {};
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(m_root.path().c_str()));
  run.Type(IDC_MAILBOX_FOLDER, "Mail Store");
  run.ClickAndWait(IDC_FIND_MAILBOXES);
  ::SetCurrentDirectoryA(previous);
  ExpectListed(run, m_mail);

  // A folder without mailbox files: an empty list and no message.
  run.Type(IDC_MAILBOX_FOLDER, m_empty);
  run.ClickAndWait(IDC_FIND_MAILBOXES);
  EXPECT_EQ(run.ItemCount(), 0);
  EXPECT_EQ(run.dlg()->m_mailboxFiles.GetSize(), 0);
  EXPECT_EQ(run.OwnedDialog(), nullptr);
}

TEST_F(FindMailboxesTest, EmptyFileOrMissingPathIsReportedAfterTheListIsEmptied) {
  RunningDialog run;
  ASSERT_NE(run.hwnd(), nullptr);
  struct Case {
    std::string typed;
    const wchar_t* message;
  };
  const Case cases[] = {
      {"", L"邮箱文件路径不能为空"},
      {m_mail + "\\Inbox.dbx", L"邮箱文件路径不是文件夹"},
      {m_root / "missing", L"邮箱文件路径不是文件夹"},
      {m_root / "missing/", L"邮箱文件路径不是文件夹"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    FillList(run);
    run.Type(IDC_MAILBOX_FOLDER, c.typed);
    run.Click(IDC_FIND_MAILBOXES);
    HWND box = run.WaitForOwnedDialog();
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(MessageBoxText(box), c.message);
    EXPECT_EQ(WindowTextW(box), L"app_tests");
    // Emptied before the message, not after it.
    EXPECT_EQ(run.ItemCount(), 0);
    EXPECT_EQ(run.dlg()->m_mailboxFiles.GetSize(), 0);
    Answer(box, IDOK);
    ASSERT_TRUE(run.WaitNoOwnedDialog());
    EXPECT_EQ(run.ItemCount(), 0);
  }
}

TEST_F(FindMailboxesTest, APatternLongerThan259CharactersFindsNothingAndSaysNothing) {
  // Folders whose pattern (folder + "\\*.dbx") is 259 and 260 characters long.
  const std::string base = m_root / "";
  const std::string fits = base + std::string(259 - 6 - base.size(), 'f');
  const std::string longer = base + std::string(260 - 6 - base.size(), 'l');
  ASSERT_TRUE(MakeFolder(fits));
  ASSERT_TRUE(MakeFolder(longer));
  // Too long for the ANSI file calls: made through the wide ones, without the length limit.
  for (const std::string& folder : {fits, longer}) {
    const std::string path = "\\\\?\\" + folder + "\\Inbox.dbx";
    HANDLE file = ::CreateFileW(std::wstring(path.begin(), path.end()).c_str(), GENERIC_WRITE, 0,
                                nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ::CloseHandle(file);
  }
  RunningDialog run;
  ASSERT_NE(run.hwnd(), nullptr);
  run.Type(IDC_MAILBOX_FOLDER, fits);
  run.ClickAndWait(IDC_FIND_MAILBOXES);
  EXPECT_EQ(run.ItemCount(), 1);
  run.Type(IDC_MAILBOX_FOLDER, longer);
  run.ClickAndWait(IDC_FIND_MAILBOXES);
  EXPECT_EQ(run.ItemCount(), 0);
  EXPECT_EQ(run.dlg()->m_mailboxFiles.GetSize(), 0);
  EXPECT_EQ(run.OwnedDialog(), nullptr);
}

// The list view, subclassed, refuses its third item.
WNDPROC g_listProc = nullptr;
int g_inserts = 0;
LRESULT CALLBACK RefusingList(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == LVM_INSERTITEMA && ++g_inserts == 3) return -1;
  return ::CallWindowProcW(g_listProc, hwnd, message, wParam, lParam);
}

TEST_F(FindMailboxesTest, AnItemTheListRefusesEndsTheScanWithItsPathKept) {
  RunningDialog run;
  ASSERT_NE(run.hwnd(), nullptr);
  HWND list = run.Item(IDC_MAILBOX_LIST);
  g_inserts = 0;
  g_listProc = reinterpret_cast<WNDPROC>(
      ::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RefusingList)));
  run.Type(IDC_MAILBOX_FOLDER, m_mail);
  run.Click(IDC_FIND_MAILBOXES);
  HWND box = run.WaitForOwnedDialog();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"文件插入控件失败");
  Answer(box, IDOK);
  ASSERT_TRUE(run.WaitNoOwnedDialog());
  ::SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_listProc));

  EXPECT_EQ(g_inserts, 3);  // nothing was tried after the refusal
  ASSERT_EQ(run.ItemCount(), 2);
  ASSERT_EQ(run.dlg()->m_mailboxFiles.GetSize(), 3);
  const std::vector<std::string> names = SystemOrder(m_mail);
  EXPECT_EQ(run.dlg()->m_mailboxFiles.GetAt(2), m_mail + "\\" + names[2]);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(run.ItemData(i), i);
    EXPECT_EQ(run.ItemStateImage(i), 2);
  }
}

}  // namespace
}  // namespace quillon::testing
