// The export job on the real dialog, end to end: mailbox folders made by the generator, the
// dialog driven as a person would, and the files it writes compared byte for byte with what
// `quillon export` writes for the same mailboxes. Compiled with the GBK execution character set.
#include <windows.h>
// After <windows.h>, which they need.
#include <commctrl.h>
#include <gtest/gtest.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>
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

// Fails the function named by g_refuse when the dialog's thread calls it.
std::atomic<const char*> g_refuse{nullptr};
std::atomic<int> g_refused{0};
bool Refuses(const char* function) {
  const char* refused = g_refuse;
  if (refused == nullptr || std::strcmp(refused, function) != 0 ||
      ::GetCurrentThreadId() != g_gate.dialogThread) {
    return false;
  }
  ++g_refused;
  ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  return true;
}
using CreateEventFunction = HANDLE WINAPI(LPSECURITY_ATTRIBUTES, BOOL, BOOL, LPCSTR);
using CreateThreadFunction = HANDLE WINAPI(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE,
                                           LPVOID, DWORD, LPDWORD);
CreateEventFunction* g_realCreateEventA = nullptr;
CreateThreadFunction* g_realCreateThread = nullptr;
HANDLE WINAPI RefusingCreateEventA(LPSECURITY_ATTRIBUTES a, BOOL manual, BOOL initial,
                                   LPCSTR name) {
  return Refuses("CreateEventA") ? nullptr : g_realCreateEventA(a, manual, initial, name);
}
HANDLE WINAPI RefusingCreateThread(LPSECURITY_ATTRIBUTES a, SIZE_T stack,
                                   LPTHREAD_START_ROUTINE start, LPVOID param, DWORD flags,
                                   LPDWORD id) {
  return Refuses("CreateThread") ? nullptr : g_realCreateThread(a, stack, start, param, flags, id);
}

// TerminateThread, counted; it ends the thread only when g_terminate is set.
std::atomic<int> g_terminations{0};
std::atomic<bool> g_terminate{false};
BOOL(WINAPI* g_realTerminateThread)(HANDLE, DWORD) = nullptr;
BOOL WINAPI CountingTerminateThread(HANDLE thread, DWORD code) {
  ++g_terminations;
  return g_terminate ? g_realTerminateThread(thread, code) : FALSE;
}

// ReadFile on a worker thread (neither the dialog's nor the test's) while g_stuck.armed: it never
// returns, as a read of a network share that went away may not.
struct StuckRead {
  std::atomic<bool> armed{false};
  std::atomic<DWORD> testThread{0};
  HANDLE entered = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);  // only when the close fails
} g_stuck;
BOOL(WINAPI* g_realReadFile)(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED) = nullptr;
BOOL WINAPI StuckReadFile(HANDLE file, LPVOID buffer, DWORD size, LPDWORD got, LPOVERLAPPED at) {
  const DWORD self = ::GetCurrentThreadId();
  if (g_stuck.armed && self != g_stuck.testThread && self != g_gate.dialogThread) {
    ::SetEvent(g_stuck.entered);
    ::WaitForSingleObject(g_stuck.release, INFINITE);
  }
  return g_realReadFile(file, buffer, size, got, at);
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
    ASSERT_TRUE(m_gated.active());
  }
  void TearDown() override { g_gate.armed = false; }

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
  const ImportPatch<BOOL WINAPI(HWND, int, LPCSTR)> m_gated{
      "user32.dll", "SetDlgItemTextA", &GatedSetDlgItemTextA, &g_realSetDlgItemTextA};
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
  const ImportPatch<CreateEventFunction> createEvent("kernel32.dll", "CreateEventA",
                                                     &RefusingCreateEventA, &g_realCreateEventA);
  const ImportPatch<CreateThreadFunction> createThread("kernel32.dll", "CreateThread",
                                                       &RefusingCreateThread, &g_realCreateThread);
  ASSERT_TRUE(createEvent.active());
  ASSERT_TRUE(createThread.active());
  for (const char* refused : {"CreateEventA", "CreateThread"}) {
    SCOPED_TRACE(refused);
    RunningDialog run;
    Start(run, m_backup);
    g_refused = 0;
    const LRESULT range = ::SendMessageA(run.Item(IDC_PROGRESS), PBM_GETRANGE, FALSE, 0);
    g_refuse = refused;
    run.Click(IDC_EXPORT);
    HWND box = run.WaitForOwnedDialog();
    g_refuse = nullptr;
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

// A handle of the running worker that outlives the dialog's own.
HANDLE DuplicateWorker(const RunningDialog& run) {
  HANDLE worker = nullptr;
  ::DuplicateHandle(::GetCurrentProcess(), run.dlg()->m_job.m_workerThread, ::GetCurrentProcess(),
                    &worker, SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
  return worker;
}

// Closes the dialog and waits for its modal run to end. The limit is a hang guard: the close
// itself gives up on the worker after kCloseWait.
bool CloseAndWait(const RunningDialog& run) {
  ::PostMessageA(run.hwnd(), WM_CLOSE, 0, 0);
  return WaitUntil([&] { return run.Done(); }, kCloseWait + 10000);
}

// The exit code of a worker that has ended (kWorkerExitCode when it returned, 0 when it was
// ended by force), or -1 when it still runs. Closes the handle.
long EndedWorkerCode(HANDLE worker) {
  DWORD code = 0;
  const bool ended = ::WaitForSingleObject(worker, 0) == WAIT_OBJECT_0 &&
                     ::GetExitCodeThread(worker, &code) && code != STILL_ACTIVE;
  ::CloseHandle(worker);
  return ended ? static_cast<long>(code) : -1;
}

// Closing the dialog while the worker searches a 2 GiB mailbox: the worker stops on its own
// within a read window, is not ended by force, and no file is left half written.
TEST_F(ExportTest, ClosingDuringALongSearchStopsTheWorkerWithoutKillingIt) {
  TempFolder mail("close");
  const std::string big = mail / "Huge.dbx";
  ASSERT_TRUE(WriteMailbox(big, 21, 30));
  TempFolder reference("close-reference");
  ASSERT_EQ(ReferenceExport({big}, reference.path()), 0);
  ASSERT_TRUE(ExtendWithZeros(big, uint64_t{2} << 30));
  const ImportPatch<BOOL WINAPI(HANDLE, DWORD)> terminate(
      "kernel32.dll", "TerminateThread", &CountingTerminateThread, &g_realTerminateThread);
  ASSERT_TRUE(terminate.active());
  g_terminations = 0;
  g_terminate = false;

  HANDLE worker = nullptr;
  {
    RunningDialog run;
    Start(run, m_backup);
    run.Type(IDC_MAILBOX_FOLDER, mail.path());
    run.ClickAndWait(IDC_FIND_MAILBOXES);
    ASSERT_EQ(run.ItemCount(), 1);
    run.ClickAndWait(IDC_EXPORT);
    worker = DuplicateWorker(run);
    // The whole search takes about a second here; a quarter of it has surely begun.
    ::Sleep(250);
    ASSERT_EQ(::WaitForSingleObject(worker, 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "searched already";
    ASSERT_TRUE(CloseAndWait(run));
  }
  EXPECT_EQ(g_terminations, 0);
  EXPECT_EQ(EndedWorkerCode(worker), static_cast<long>(kWorkerExitCode));
  ExpectOnlyWholeFiles(m_backup, ReadFiles(reference.path()));
}

// Closing while the worker is about to set the status line: the wait in OnDestroy must serve that
// call, or the two threads wait for each other until the bound. The file the engine then starts
// is either complete or removed.
TEST_F(ExportTest, ClosingWhileTheWorkerCallsIntoTheDialogDoesNotDeadlock) {
  HANDLE worker = nullptr;
  {
    RunningDialog run;
    Start(run, m_backup);
    ExportUntilFirstFile(run);
    worker = DuplicateWorker(run);
    ::PostMessageA(run.hwnd(), WM_CLOSE, 0, 0);
    // The dialog thread is inside OnDestroy by now, waiting for the worker.
    ::Sleep(100);
    EXPECT_FALSE(run.Done());
    ::SetEvent(g_gate.release);
    ASSERT_TRUE(CloseAndWait(run));
  }
  // It returned on its own: the dialog thread served its call.
  EXPECT_EQ(EndedWorkerCode(worker), static_cast<long>(kWorkerExitCode));
  // The stop is seen before any further mailbox: at most the first mailbox's first file.
  EXPECT_LE(ReadFiles(m_backup).size(), 1u);
  ExpectOnlyWholeFiles(m_backup, *s_expected);
}

// Closing while the worker is stuck in a read that never returns: the close stops waiting after
// kCloseWait and ends the worker by force, and by the time the dialog is gone the worker is too.
TEST_F(ExportTest, ClosingWhileTheWorkerIsStuckInAReadEndsItByForce) {
  const ImportPatch<BOOL WINAPI(HANDLE, LPVOID, DWORD, LPDWORD, LPOVERLAPPED)> read(
      "kernel32.dll", "ReadFile", &StuckReadFile, &g_realReadFile);
  const ImportPatch<BOOL WINAPI(HANDLE, DWORD)> terminate(
      "kernel32.dll", "TerminateThread", &CountingTerminateThread, &g_realTerminateThread);
  ASSERT_TRUE(read.active());
  ASSERT_TRUE(terminate.active());
  g_terminations = 0;
  g_terminate = true;

  HANDLE worker = nullptr;
  {
    RunningDialog run;
    Start(run, m_backup);
    g_stuck.testThread = ::GetCurrentThreadId();
    ::ResetEvent(g_stuck.entered);
    ::ResetEvent(g_stuck.release);
    g_stuck.armed = true;
    run.ClickAndWait(IDC_EXPORT);
    worker = DuplicateWorker(run);
    // Stuck in the search of the first mailbox.
    const bool stuck = ::WaitForSingleObject(g_stuck.entered, 20000) == WAIT_OBJECT_0;
    g_stuck.armed = false;
    ASSERT_TRUE(stuck);
    const bool closed = CloseAndWait(run);
    // A worker the close did not end goes on, so that a failing test still ends.
    ::SetEvent(g_stuck.release);
    ASSERT_TRUE(closed) << "the close waits for the stuck worker";
  }
  EXPECT_EQ(g_terminations, 1);
  EXPECT_EQ(EndedWorkerCode(worker), 0);
  // It was stopped before it could announce a file: nothing was written.
  EXPECT_EQ(ReadFiles(m_backup).size(), 0u);
}

// Starts Quillon.exe, lists `mailFolder`, exports into `backup`, waits until `busy` says the
// export is where the test wants it and closes the dialog. True when the process then ended with
// exit code 0; the limit is a hang guard. The program is driven from this process with messages
// the system carries across (the text calls of another process's controls do not reach them).
template <class Busy>
bool CloseProgramDuringExport(const std::string& mailFolder, const std::string& backup, Busy busy) {
  PROCESS_INFORMATION program;
  HWND dlg = StartQuillon(&program);
  if (program.hProcess == nullptr) {
    ADD_FAILURE() << "cannot start Quillon.exe";
    return false;
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

  ::PostMessageA(dlg, WM_CLOSE, 0, 0);
  const bool ended = ::WaitForSingleObject(program.hProcess, kCloseWait + 10000) == WAIT_OBJECT_0;
  if (!ended) ::TerminateProcess(program.hProcess, 1);
  DWORD code = 1;
  ::GetExitCodeProcess(program.hProcess, &code);
  ::CloseHandle(program.hThread);
  ::CloseHandle(program.hProcess);
  return ended && code == 0;
}

// Quillon.exe closed in the middle of a 2 GiB search: the process ends, and writes nothing.
TEST_F(ExportTest, TheProgramClosedDuringALongSearchEnds) {
  TempFolder mail("process");
  const std::string big = mail / "Huge.dbx";
  ASSERT_TRUE(WriteMailbox(big, 22, 40));
  ASSERT_TRUE(ExtendWithZeros(big, uint64_t{2} << 30));

  EXPECT_TRUE(CloseProgramDuringExport(mail.path(), m_backup, [&](HWND) {
    ::Sleep(250);  // of a search that takes about a second
    EXPECT_EQ(ReadFiles(m_backup).size(), 0u) << "the search has ended";
  }));
  EXPECT_EQ(ReadFiles(m_backup).size(), 0u);
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

  EXPECT_TRUE(CloseProgramDuringExport(mail.path(), m_backup, [&](HWND dlg) {
    EXPECT_TRUE(WaitUntil([&] {
      const std::string status = ControlText(::GetDlgItem(dlg, IDC_STATUS));
      return status.size() > 4 && status.compare(status.size() - 4, 4, ".eml") == 0;
    }));
    ::Sleep(100);
  }));
  const size_t written = ReadFiles(m_backup).size();
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, expected.size()) << "the export ended before the close";
  ExpectOnlyWholeFiles(m_backup, expected);
}

}  // namespace
}  // namespace quillon::testing
