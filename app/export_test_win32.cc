// The export job on the real dialog, end to end: mailbox folders made by the generator, the
// dialog driven as a person would, and the files it writes compared byte for byte with what
// `quillon export` writes for the same mailboxes. Compiled with the GBK execution character set.
#include <windows.h>
// After <windows.h>, which they need.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "app/testing/dialog_driver_win32.h"
#include "job/export_job.h"

namespace quillon::testing {
namespace {

using Files = std::map<std::string, std::string>;

// The mailboxes every test exports, and what the command writes for them.
struct Mailbox {
  const char* name;
  uint64_t seed;
  uint32_t messages;
};
const Mailbox kMailboxes[] = {
    {"Inbox.dbx", 11, 6},
    {"ARCHIVE.DBX", 12, 4},
    {"Sent Items.dbx", 13, 5},
};

// Holds SetDlgItemTextA on the worker when it is about to show a message file's name, until the
// test lets it go: a pause the test can see, at a known point of the export.
struct Gate {
  std::atomic<bool> armed{false};
  std::atomic<DWORD> dialogThread{0};
  HANDLE arrived = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
  HANDLE release = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
} g_gate;
BOOL(WINAPI* g_realSetDlgItemTextA)(HWND, int, LPCSTR) = nullptr;

BOOL WINAPI GatedSetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  if (id == IDC_STATUS && ::GetCurrentThreadId() != g_gate.dialogThread && text[0] != '\0' &&
      g_gate.armed.exchange(false)) {
    ::SetEvent(g_gate.arrived);
    ::WaitForSingleObject(g_gate.release, 30000);
  }
  return g_realSetDlgItemTextA(dialog, id, text);
}

// Fails CreateEventA or CreateThread when the dialog's thread calls it.
std::atomic<int> g_refused{0};
HANDLE(WINAPI* g_realCreateEventA)(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR) = nullptr;
using CreateThreadFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                             LPVOID, DWORD, LPDWORD);
CreateThreadFunction g_realCreateThread = nullptr;
HANDLE WINAPI RefusingCreateEventA(LPSECURITY_ATTRIBUTES a, BOOL manual, BOOL initial,
                                   LPCSTR name) {
  if (::GetCurrentThreadId() == g_gate.dialogThread) {
    ++g_refused;
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return g_realCreateEventA(a, manual, initial, name);
}
HANDLE WINAPI RefusingCreateThread(LPSECURITY_ATTRIBUTES a, SIZE_T stack,
                                   LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                                   LPDWORD id) {
  if (::GetCurrentThreadId() == g_gate.dialogThread) {
    ++g_refused;
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return g_realCreateThread(a, stack, start, param, flags, id);
}

// TerminateThread, should the program ever call it.
std::atomic<int> g_terminations{0};
BOOL WINAPI RecordingTerminateThread(HANDLE, DWORD) {
  ++g_terminations;
  return FALSE;
}

class ExportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_root = new TempFolder("export");
    s_mail = *s_root / "mail";
    s_reference = *s_root / "reference";
    MakeFolder(s_mail);
    MakeFolder(s_reference);
    std::vector<std::string> paths;
    for (const Mailbox& m : kMailboxes) {
      paths.push_back(s_mail + "\\" + m.name);
      WriteMailbox(paths.back(), m.seed, m.messages);
    }
    s_referenceExit = ReferenceExport(paths, s_reference);
    s_expected = new Files(ReadFiles(s_reference));
  }
  static void TearDownTestSuite() {
    delete s_expected;
    delete s_root;
  }

  void SetUp() override {
    ASSERT_EQ(s_referenceExit, 0);
    // Every mailbox gave files, numbered from 1 after its own name.
    ASSERT_EQ(s_expected->size(), 15u);
    ASSERT_EQ(s_expected->count("Sent Items.dbx-5.eml"), 1u);
    m_backup = *s_root / ("backup-" + std::to_string(++s_backups));
    ASSERT_TRUE(MakeFolder(m_backup));
    m_slot = ImportSlot("user32.dll", "SetDlgItemTextA");
    ASSERT_NE(m_slot, nullptr);
    g_realSetDlgItemTextA = reinterpret_cast<decltype(g_realSetDlgItemTextA)>(*m_slot);
    Patch(m_slot, reinterpret_cast<void*>(&GatedSetDlgItemTextA));
  }
  void TearDown() override {
    g_gate.armed = false;
    Patch(m_slot, reinterpret_cast<void*>(g_realSetDlgItemTextA));
  }

  // A dialog with the mailboxes listed and the backup folder typed.
  void Start(RunningDialog& run, const std::string& backup) {
    ASSERT_NE(run.hwnd(), nullptr);
    g_gate.dialogThread = run.threadId();
    run.Type(IDC_MAILBOX_FOLDER, s_mail);
    run.ClickAndWait(IDC_FIND_MAILBOXES);
    ASSERT_EQ(run.ItemCount(), 3);
    run.Type(IDC_BACKUP_FOLDER, backup);
  }

  // Clicks export with the gate armed and returns once the worker waits at its first file.
  void ExportUntilFirstFile(RunningDialog& run) {
    g_gate.armed = true;
    run.Click(IDC_EXPORT);
    ASSERT_EQ(::WaitForSingleObject(g_gate.arrived, 20000), WAIT_OBJECT_0);
  }

  static bool WorkerGone(const RunningDialog& run) {
    return *static_cast<HANDLE volatile*>(&run.dlg()->m_job.m_workerThread) == nullptr;
  }
  // Waits until the export has finished on both threads.
  static bool WaitFinished(const RunningDialog& run) {
    return WaitUntil([&] { return WorkerGone(run) && run.Visible(IDC_EXPORT); });
  }

  // The dialog is idle: the export button back, no timer, the find button usable.
  static void ExpectIdle(const RunningDialog& run) {
    EXPECT_TRUE(run.Visible(IDC_EXPORT));
    EXPECT_FALSE(run.Visible(IDC_CANCEL_EXPORT));
    EXPECT_TRUE(run.Enabled(IDC_FIND_MAILBOXES));
    EXPECT_TRUE(WorkerGone(run));
    // On Wine another thread may stop the dialog's timer; it answers whether one was running.
    EXPECT_FALSE(::KillTimer(run.hwnd(), EXPORT_TIMER_ID));
  }

  // The expected files of the mailboxes named, or all.
  static Files Expected(const std::vector<std::string>& mailboxes) {
    Files files;
    for (const auto& [name, bytes] : *s_expected) {
      for (const std::string& m : mailboxes) {
        if (name.compare(0, m.size() + 1, m + "-") == 0) files[name] = bytes;
      }
    }
    return files;
  }

  static TempFolder* s_root;
  static std::string s_mail, s_reference;
  static int s_referenceExit;
  static Files* s_expected;
  static int s_backups;
  std::string m_backup;
  void** m_slot = nullptr;
};
TempFolder* ExportTest::s_root = nullptr;
std::string ExportTest::s_mail, ExportTest::s_reference;
int ExportTest::s_referenceExit = -1;
Files* ExportTest::s_expected = nullptr;
int ExportTest::s_backups = 0;

// Files compared by name and bytes; a difference is reported by name and size only.
void ExpectSameFiles(const Files& actual, const Files& expected) {
  std::string differences;
  for (const auto& [name, bytes] : expected) {
    auto it = actual.find(name);
    if (it == actual.end()) {
      differences += " missing " + name + ";";
    } else if (it->second != bytes) {
      differences += " " + name + " has " + std::to_string(it->second.size()) + " bytes, not " +
                     std::to_string(bytes.size()) + ";";
    }
  }
  for (const auto& entry : actual) {
    if (!expected.count(entry.first)) differences += " unexpected " + entry.first + ";";
  }
  EXPECT_EQ(differences, "");
}

// Every file written is one the command writes, byte for byte: none is cut short.
void ExpectOnlyWholeFiles(const std::string& folder, const Files& expected) {
  for (const auto& [name, bytes] : ReadFiles(folder)) {
    ASSERT_EQ(expected.count(name), 1u) << name;
    EXPECT_TRUE(bytes == expected.at(name)) << name << " differs";
  }
}

// Opens the message box the click leads to, checks its text and caption, and presses OK.
void ExpectMessage(const RunningDialog& run, const wchar_t* text) {
  HWND box = WaitFor([&] {
    HWND owned = run.OwnedDialog();
    return owned && !IsFolderBrowser(owned) ? owned : nullptr;
  });
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), text);
  EXPECT_EQ(WindowTextW(box), L"app_tests");
  Answer(box, IDOK);
  ASSERT_TRUE(run.WaitNoOwnedDialog());
}

TEST_F(ExportTest, FullExportWritesWhatTheCommandWritesAndEndsIdle) {
  RunningDialog run;
  // Forward slashes and a trailing one: used as backslashes, shown as typed.
  std::string typed = m_backup + "/";
  for (char& c : typed) c = c == '\\' ? '/' : c;
  Start(run, typed);

  ExportUntilFirstFile(run);
  // Running: cancel in the export button's place, find disabled, the bar cycling.
  EXPECT_TRUE(run.Visible(IDC_CANCEL_EXPORT));
  EXPECT_FALSE(run.Visible(IDC_EXPORT));
  EXPECT_FALSE(run.Enabled(IDC_FIND_MAILBOXES));
  EXPECT_EQ(run.dlg()->m_job.m_backupFolder, m_backup);
  EXPECT_EQ(run.Text(IDC_BACKUP_FOLDER), std::wstring(typed.begin(), typed.end()));
  HWND bar = run.Item(IDC_PROGRESS);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, TRUE, 0), 0);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), kProgressLast);
  // The bar cycles 1, 2, ..., 10, 0, 1, ... one step per tick: watched for a little more than
  // one cycle, every change is one step on, and the wrap from 10 to 0 comes.
  std::vector<int> seen{static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0))};
  for (DWORD waited = 0; waited < 2600; waited += 20) {
    const int pos = static_cast<int>(::SendMessageA(bar, PBM_GETPOS, 0, 0));
    if (pos != seen.back()) seen.push_back(pos);
    ::Sleep(20);
  }
  std::string steps;
  for (int pos : seen) steps += std::to_string(pos) + " ";
  ASSERT_GE(seen.size(), 11u) << steps;
  for (size_t i = 1; i < seen.size(); ++i) {
    EXPECT_EQ(seen[i], (seen[i - 1] + 1) % (kProgressLast + 1)) << steps;
  }
  EXPECT_NE(steps.find("10 0 "), std::string::npos) << steps;
  // A find that still arrives changes nothing the worker reads.
  run.ClickAndWait(IDC_FIND_MAILBOXES);
  EXPECT_EQ(run.ItemCount(), 3);
  EXPECT_EQ(run.dlg()->m_mailboxFiles.GetSize(), 3);
  ::SetEvent(g_gate.release);

  ASSERT_TRUE(WaitFinished(run));
  EXPECT_EQ(run.Text(IDC_STATUS), L"备份成功");
  ExpectSameFiles(ReadFiles(m_backup), *s_expected);
  ExpectIdle(run);
  // The bar at 0, and it stays there.
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
  ::Sleep(3 * kExportTimerPeriod);
  EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
  EXPECT_EQ(run.OwnedDialog(), nullptr);

  // A second export into the same folder replaces the files, and the previous status stays
  // until the first name is shown.
  ExportUntilFirstFile(run);
  EXPECT_EQ(run.Text(IDC_STATUS), L"备份成功");
  const HANDLE worker = run.dlg()->m_job.m_workerThread;
  ::SetEvent(g_gate.release);
  ASSERT_TRUE(WaitFinished(run));
  EXPECT_EQ(run.Text(IDC_STATUS), L"备份成功");
  ExpectSameFiles(ReadFiles(m_backup), *s_expected);
  // The ended worker's handle is closed. (Nothing in between makes a handle that could take
  // its number.)
  DWORD flags = 0;
  EXPECT_TRUE(WaitUntil([&] { return !::GetHandleInformation(worker, &flags); }, 2000));
}

TEST_F(ExportTest, NothingTickedEmptyPathAndTheFolderBrowser) {
  RunningDialog run;
  ASSERT_NE(run.hwnd(), nullptr);
  g_gate.dialogThread = run.threadId();
  // An empty list: the tick test comes before the backup path is read.
  run.Click(IDC_EXPORT);
  ExpectMessage(run, L"没有需要导出的邮箱文件");
  Start(run, "");
  for (int i = 0; i < 3; ++i) run.SetTicked(i, false);
  run.Click(IDC_EXPORT);
  ExpectMessage(run, L"没有需要导出的邮箱文件");
  run.SetTicked(1, true);
  run.Click(IDC_EXPORT);
  ExpectMessage(run, L"备份路径不能为空");
  ExpectIdle(run);

  // A file, then nothing: the browser opens; cancelled, the path is illegal and nothing starts.
  for (const std::string& typed : {s_mail + "\\Inbox.dbx", m_backup + "\\missing"}) {
    SCOPED_TRACE(typed);
    run.Type(IDC_BACKUP_FOLDER, typed);
    run.Click(IDC_EXPORT);
    HWND browser = run.WaitForOwnedDialog();
    ASSERT_NE(browser, nullptr);
    ASSERT_TRUE(IsFolderBrowser(browser));
    bool titled = false;
    for (HWND c = ::GetWindow(browser, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
      if (WindowTextW(c) == L"请选择备份路径") titled = true;
    }
    EXPECT_TRUE(titled);
    Answer(browser, IDCANCEL);
    ExpectMessage(run, L"备份路径非法");
    EXPECT_EQ(run.Text(IDC_BACKUP_FOLDER), std::wstring(typed.begin(), typed.end()));
    ExpectIdle(run);
  }
  ExpectSameFiles(ReadFiles(m_backup), Files());

  // Answered: the chosen folder goes into the edit unchanged, and the export runs into it.
  run.Click(IDC_EXPORT);
  HWND browser = run.WaitForOwnedDialog();
  ASSERT_NE(browser, nullptr);
  ASSERT_TRUE(IsFolderBrowser(browser));
  // Choosing a folder in the tree, as a click on it would, until the tree shows it chosen: the
  // browser may still be filling its tree when it first shows. (A dialog procedure's answer to
  // this message does not reach the sender.)
  HWND tree = ::FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
  const std::string leaf = m_backup.substr(m_backup.find_last_of('\\') + 1);
  const std::wstring wanted(leaf.begin(), leaf.end());
  ASSERT_TRUE(WaitUntil(
      [&] {
        ::SendMessageA(browser, BFFM_SETSELECTIONA, TRUE,
                       reinterpret_cast<LPARAM>(m_backup.c_str()));
        wchar_t text[MAX_PATH] = {};
        TVITEMW item = {};
        item.mask = TVIF_TEXT;
        item.hItem =
            reinterpret_cast<HTREEITEM>(::SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
        item.pszText = text;
        item.cchTextMax = MAX_PATH;
        return item.hItem &&
               ::SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&item)) &&
               wanted == text;
      },
      5000));
  Answer(browser, IDOK);
  ASSERT_TRUE(run.WaitNoOwnedDialog());
  ASSERT_TRUE(WaitUntil([&] { return run.Text(IDC_STATUS) == L"备份成功"; }));
  ASSERT_TRUE(WaitFinished(run));
  EXPECT_EQ(run.Text(IDC_BACKUP_FOLDER), std::wstring(m_backup.begin(), m_backup.end()));
  EXPECT_EQ(run.dlg()->m_job.m_backupFolder, m_backup);
  EXPECT_EQ(run.Text(IDC_STATUS), L"备份成功");
  ExpectSameFiles(ReadFiles(m_backup), Expected({run.ItemText(1)}));
}

TEST_F(ExportTest, CancelKeepsTheFilesWrittenSoFarWholeAndClearsTheStatus) {
  RunningDialog run;
  Start(run, m_backup);
  run.dlg()->SetDlgItemText(IDC_STATUS, "备份成功");  // from an earlier run
  ExportUntilFirstFile(run);
  // The worker has passed the stop test for its first file; the cancel is seen at the second.
  run.ClickAndWait(IDC_CANCEL_EXPORT);
  EXPECT_FALSE(run.Visible(IDC_CANCEL_EXPORT));
  EXPECT_FALSE(run.Visible(IDC_EXPORT));
  ::SetEvent(g_gate.release);
  ASSERT_TRUE(WaitFinished(run));
  EXPECT_EQ(run.Text(IDC_STATUS), L"");
  ExpectIdle(run);
  const std::string first = run.ItemText(0) + "-1.eml";
  ExpectSameFiles(ReadFiles(m_backup), Files({{first, s_expected->at(first)}}));
  EXPECT_EQ(run.OwnedDialog(), nullptr);
}

TEST_F(ExportTest, AnItemUntickedBeforeTheWorkerReachesItIsLeftOut) {
  RunningDialog run;
  Start(run, m_backup);
  ExportUntilFirstFile(run);
  run.SetTicked(2, false);
  // A backup folder typed now is for the next export.
  run.Type(IDC_BACKUP_FOLDER, s_mail);
  ::SetEvent(g_gate.release);
  ASSERT_TRUE(WaitFinished(run));
  EXPECT_EQ(run.Text(IDC_STATUS), L"备份成功");
  ExpectSameFiles(ReadFiles(m_backup), Expected({run.ItemText(0), run.ItemText(1)}));
}

TEST_F(ExportTest, AMailboxThatCannotBeOpenedIsReportedAfterTheOthersAreWritten) {
  TempFolder mail("unopenable");
  for (const Mailbox& m : kMailboxes) {
    ASSERT_TRUE(::CopyFileA((s_mail + "\\" + m.name).c_str(), (mail / m.name).c_str(), FALSE));
  }
  RunningDialog run;
  Start(run, m_backup);
  run.Type(IDC_MAILBOX_FOLDER, mail.path());
  run.ClickAndWait(IDC_FIND_MAILBOXES);
  ASSERT_EQ(run.ItemCount(), 3);
  const std::string gone = run.ItemText(1);
  ASSERT_TRUE(::DeleteFileA((mail / gone).c_str()));

  run.Click(IDC_EXPORT);
  HWND box = run.WaitForOwnedDialog();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"部分邮箱文件导出失败");
  EXPECT_EQ(WindowTextW(box), L"app_tests");
  // The box comes first, then the status line; never the success text.
  EXPECT_EQ(run.Text(IDC_STATUS), L"");
  ExpectIdle(run);
  Answer(box, IDOK);
  ASSERT_TRUE(WaitUntil([&] { return run.Text(IDC_STATUS) == L"部分邮箱文件导出失败"; }));
  ExpectSameFiles(ReadFiles(m_backup), Expected({run.ItemText(0), run.ItemText(2)}));

  // Cancelled after the failure: the failure is still reported, the status line stays empty.
  ASSERT_TRUE(WriteFile(mail / run.ItemText(1), ""));
  ASSERT_TRUE(::DeleteFileA((mail / run.ItemText(0)).c_str()));
  ExportUntilFirstFile(run);  // the worker waits at the first file of the second mailbox
  run.ClickAndWait(IDC_CANCEL_EXPORT);
  ::SetEvent(g_gate.release);
  box = run.WaitForOwnedDialog();
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(MessageBoxText(box), L"部分邮箱文件导出失败");
  Answer(box, IDOK);
  ASSERT_TRUE(run.WaitNoOwnedDialog());
  ::Sleep(100);
  EXPECT_EQ(run.Text(IDC_STATUS), L"");
}

TEST_F(ExportTest, AnEventOrThreadThatCannotBeMadeLeavesTheDialogIdle) {
  struct Case {
    const char* function;
    void* refusing;
  };
  const Case cases[] = {{"CreateEventA", reinterpret_cast<void*>(&RefusingCreateEventA)},
                        {"CreateThread", reinterpret_cast<void*>(&RefusingCreateThread)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.function);
    RunningDialog run;
    Start(run, m_backup);
    void** slot = ImportSlot("kernel32.dll", c.function);
    ASSERT_NE(slot, nullptr);
    void* real = *slot;
    if (std::string(c.function) == "CreateEventA") {
      g_realCreateEventA = reinterpret_cast<decltype(g_realCreateEventA)>(real);
    } else {
      g_realCreateThread = reinterpret_cast<decltype(g_realCreateThread)>(real);
    }
    g_refused = 0;
    const LRESULT range = ::SendMessageA(run.Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0);
    Patch(slot, c.refusing);
    run.Click(IDC_EXPORT);
    HWND box = run.WaitForOwnedDialog();
    Patch(slot, real);
    ASSERT_NE(box, nullptr);
    EXPECT_EQ(g_refused, 1);
    EXPECT_EQ(MessageBoxText(box), L"无法启动导出");
    // Back where it was before the click, while the message shows.
    ExpectIdle(run);
    EXPECT_EQ(run.dlg()->m_job.m_backupFolder, "");
    EXPECT_EQ(::SendMessageA(run.Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0), range);
    Answer(box, IDOK);
    ASSERT_TRUE(run.WaitNoOwnedDialog());

    // The next click exports.
    ExportUntilFirstFile(run);
    ::SetEvent(g_gate.release);
    ASSERT_TRUE(WaitFinished(run));
    EXPECT_EQ(run.Text(IDC_STATUS), L"备份成功");
    ExpectSameFiles(ReadFiles(m_backup), *s_expected);
  }
}

// Closing the dialog while the worker searches a 2 GiB mailbox: the worker is not killed, it
// stops within a read window, and no file is left half written.
TEST_F(ExportTest, ClosingDuringALongSearchStopsTheWorkerWithoutKillingIt) {
  TempFolder mail("close");
  const std::string big = mail / "Huge.dbx";
  ASSERT_TRUE(WriteMailbox(big, 21, 30));
  TempFolder reference("close-reference");
  ASSERT_EQ(ReferenceExport({big}, reference.path()), 0);
  ASSERT_TRUE(ExtendWithZeros(big, uint64_t{2} << 30));

  void** terminate = ImportSlot("kernel32.dll", "TerminateThread");
  void* realTerminate = terminate ? *terminate : nullptr;
  if (terminate) Patch(terminate, reinterpret_cast<void*>(&RecordingTerminateThread));
  g_terminations = 0;

  HANDLE worker = nullptr;
  DWORD closeMs = 0;
  {
    RunningDialog run;
    Start(run, m_backup);
    run.Type(IDC_MAILBOX_FOLDER, mail.path());
    run.ClickAndWait(IDC_FIND_MAILBOXES);
    ASSERT_EQ(run.ItemCount(), 1);
    run.ClickAndWait(IDC_EXPORT);
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), run.dlg()->m_job.m_workerThread,
                                  ::GetCurrentProcess(), &worker,
                                  SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0));
    // The whole search takes about a second here; a quarter of it has surely begun.
    ::Sleep(250);
    ASSERT_EQ(::WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "searched already";
    const ULONGLONG asked = ::GetTickCount64();
    ::PostMessageA(run.hwnd(), WM_CLOSE, 0, 0);
    ASSERT_TRUE(WaitUntil([&] { return run.Done(); }, 10000));
    closeMs = static_cast<DWORD>(::GetTickCount64() - asked);
  }
  if (terminate) Patch(terminate, realTerminate);
  EXPECT_EQ(g_terminations, 0);
  ASSERT_EQ(::WaitForSingleObject(worker, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  EXPECT_TRUE(::GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, kWorkerExitCode);
  ::CloseHandle(worker);
  std::printf("closing during the search took %lu ms\n", static_cast<unsigned long>(closeMs));
  EXPECT_LT(closeMs, 1000u);
  // Whatever was written is whole.
  ExpectOnlyWholeFiles(m_backup, ReadFiles(reference.path()));
}

// Closing while the worker is about to set the status line: the wait in OnDestroy must serve that
// call, or the two threads wait for each other for ever. The file the engine then starts is
// either complete or removed.
TEST_F(ExportTest, ClosingWhileTheWorkerCallsIntoTheDialogDoesNotDeadlock) {
  HANDLE worker = nullptr;
  {
    RunningDialog run;
    Start(run, m_backup);
    ExportUntilFirstFile(run);
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), run.dlg()->m_job.m_workerThread,
                                  ::GetCurrentProcess(), &worker,
                                  SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0));
    ::PostMessageA(run.hwnd(), WM_CLOSE, 0, 0);
    // The dialog thread is inside OnDestroy by now, waiting for the worker.
    ::Sleep(100);
    EXPECT_FALSE(run.Done());
    ::SetEvent(g_gate.release);
    ASSERT_TRUE(WaitUntil([&] { return run.Done(); }, 5000)) << "deadlocked";
  }
  DWORD code = 0;
  ASSERT_EQ(::WaitForSingleObject(worker, 1000), WAIT_OBJECT_0);
  EXPECT_TRUE(::GetExitCodeThread(worker, &code));
  EXPECT_EQ(code, kWorkerExitCode);
  ::CloseHandle(worker);
  // The stop is seen before any further mailbox: at most the first mailbox's first file.
  EXPECT_LE(ReadFiles(m_backup).size(), 1u);
  ExpectOnlyWholeFiles(m_backup, *s_expected);
}

// Starts Quillon.exe, lists `mailFolder`, exports into `backup`, waits until `busy` says the
// export is where the test wants it, closes the dialog and returns how long the process took to
// end, or -1 when it did not end within ten seconds. The program is driven from this process
// with messages the system carries across (the text calls of another process's controls do not
// reach them).
template <class Busy>
long long CloseProgramDuringExport(const std::string& mailFolder, const std::string& backup,
                                   Busy busy) {
  PROCESS_INFORMATION program;
  HWND dlg = StartQuillon(&program);
  if (program.hProcess == nullptr) {
    ADD_FAILURE() << "cannot start Quillon.exe";
    return -1;
  }
  EXPECT_NE(dlg, nullptr);
  TypeInto(dlg, IDC_MAILBOX_FOLDER, mailFolder);
  ClickButton(dlg, IDC_FIND_MAILBOXES);
  EXPECT_EQ(::SendMessageA(::GetDlgItem(dlg, IDC_MAILBOX_LIST), LVM_GETITEMCOUNT, 0, 0), 1);
  TypeInto(dlg, IDC_BACKUP_FOLDER, backup);
  ClickButton(dlg, IDC_EXPORT);
  EXPECT_TRUE(WaitUntil([&] { return ::IsWindowVisible(::GetDlgItem(dlg, IDC_CANCEL_EXPORT)); }));
  busy(dlg);
  // Still exporting.
  EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(dlg, IDC_CANCEL_EXPORT)));

  const ULONGLONG asked = ::GetTickCount64();
  ::PostMessageA(dlg, WM_CLOSE, 0, 0);
  const DWORD waited = ::WaitForSingleObject(program.hProcess, 10000);
  const long long closeMs = static_cast<long long>(::GetTickCount64() - asked);
  if (waited != WAIT_OBJECT_0) ::TerminateProcess(program.hProcess, 1);
  DWORD code = 1;
  ::GetExitCodeProcess(program.hProcess, &code);
  ::CloseHandle(program.hThread);
  ::CloseHandle(program.hProcess);
  EXPECT_EQ(code, 0u);
  return waited == WAIT_OBJECT_0 ? closeMs : -1;
}

// Quillon.exe closed in the middle of a 2 GiB search: the whole process is gone within about a
// second.
TEST_F(ExportTest, TheProgramClosedDuringALongSearchEndsWithinASecond) {
  TempFolder mail("process");
  const std::string big = mail / "Huge.dbx";
  ASSERT_TRUE(WriteMailbox(big, 22, 40));
  TempFolder reference("process-reference");
  ASSERT_EQ(ReferenceExport({big}, reference.path()), 0);
  ASSERT_TRUE(ExtendWithZeros(big, uint64_t{2} << 30));

  const long long closeMs = CloseProgramDuringExport(mail.path(), m_backup, [&](HWND) {
    ::Sleep(250);  // of a search that takes about a second
    EXPECT_EQ(ReadFiles(m_backup).size(), 0u) << "the search has ended";
  });
  std::printf("the program ended %lld ms after it was closed during the search\n", closeMs);
  ASSERT_GE(closeMs, 0);
  EXPECT_LT(closeMs, 1500);
  ExpectOnlyWholeFiles(m_backup, ReadFiles(reference.path()));
}

// Quillon.exe closed while it writes message files: the one being written is removed, every
// other is whole.
TEST_F(ExportTest, TheProgramClosedWhileWritingLeavesNoHalfFile) {
  TempFolder mail("writing");
  const std::string many = mail / "Many.dbx";
  ASSERT_TRUE(WriteMailbox(many, 23, 2000));
  TempFolder reference("writing-reference");
  ASSERT_EQ(ReferenceExport({many}, reference.path()), 0);
  const Files expected = ReadFiles(reference.path());
  ASSERT_EQ(expected.size(), 2000u);

  const long long closeMs = CloseProgramDuringExport(mail.path(), m_backup, [&](HWND dlg) {
    EXPECT_TRUE(WaitUntil([&] {
      const std::string status = ControlText(::GetDlgItem(dlg, IDC_STATUS));
      return status.size() > 4 && status.compare(status.size() - 4, 4, ".eml") == 0;
    }));
    ::Sleep(100);
  });
  std::printf("the program ended %lld ms after it was closed while writing\n", closeMs);
  ASSERT_GE(closeMs, 0);
  EXPECT_LT(closeMs, 1500);
  const size_t written = ReadFiles(m_backup).size();
  std::printf("%zu of %zu files were written\n", written, expected.size());
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, expected.size()) << "the export ended before the close";
  ExpectOnlyWholeFiles(m_backup, expected);
}

}  // namespace
}  // namespace quillon::testing
