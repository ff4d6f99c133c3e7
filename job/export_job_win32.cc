// Compiled with the GBK execution character set: its texts go to the ANSI window calls.
#include <shlobj.h>

#include "discovery/folder_path.h"
#include "discovery/mailbox_search.h"
#include "job/export_job.h"

namespace {

// The bar is repainted at once after each change, so it moves while the dialog thread is busy
// serving the worker.
constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;

// The shell's browser offers only file-system folders and lets the user type a path.
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_EDITBOX;

// Waits up to `limitMs` for `thread` to end while running the calls other threads send to this
// one, so a worker that is setting a control's text when it is asked to stop can finish that
// call and stop. Posted messages stay queued: the dialog is being destroyed and must not act on
// input. False when the thread is still running at the limit.
bool WaitServingSentMessages(HANDLE thread, DWORD limitMs) {
  const ULONGLONG deadline = ::GetTickCount64() + limitMs;
  for (;;) {
    DWORD left = INFINITE;
    if (limitMs != INFINITE) {
      const ULONGLONG now = ::GetTickCount64();
      left = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
    }
    const DWORD woke = ::MsgWaitForMultipleObjects(1, &thread, FALSE, left, QS_SENDMESSAGE);
    if (woke == WAIT_TIMEOUT) return false;
    if (woke != WAIT_OBJECT_0 + 1) return true;  // ended, or the wait itself failed
    MSG msg;
    ::PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}

// An ended worker's handle, after it has really ended: its last act was to return from a call
// this thread served, so the wait is short.
void CloseEndedWorker(HANDLE thread) {
  ::WaitForSingleObject(thread, 5000);
  ::CloseHandle(thread);
}

}  // namespace

void CExportJob::Export() {
  // The button is hidden while a worker runs; a click queued before that starts no second one.
  if (Running()) return;
  const int count = m_view.ItemCount();
  int ticked = 0;
  for (int i = 0; i < count; ++i) {
    if (m_view.IsItemTicked(i)) ++ticked;
  }
  if (ticked == 0) {
    m_view.ShowMessage("没有需要导出的邮箱文件");
    return;
  }
  const std::string typed = m_view.BackupFolderText();
  if (typed.empty()) {
    m_view.ShowMessage("备份路径不能为空");
    return;
  }
  std::string folder = quillon::NormalizeFolderPath(typed);
  if (!quillon::IsExistingFolder(folder)) {
    if (!AskForBackupFolder(folder)) return;
    m_view.SetBackupFolderText(folder);
  }
  Start(folder);
}

bool CExportJob::AskForBackupFolder(std::string& folder) {
  const HWND owner = m_view.ExportWindow();
  LPITEMIDLIST root = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(owner, CSIDL_DESKTOP, &root))) root = nullptr;
  char displayName[kPathBufferSize] = {};
  BROWSEINFOA browse = {};
  browse.hwndOwner = owner;
  browse.pidlRoot = root;
  browse.pszDisplayName = displayName;
  browse.lpszTitle = "请选择备份路径";
  browse.ulFlags = kBrowseFlags;
  browse.lpfn = nullptr;
  browse.lParam = 0;
  LPITEMIDLIST chosen = ::SHBrowseForFolderA(&browse);
  if (root != nullptr) ::CoTaskMemFree(root);
  if (chosen == nullptr) {
    m_view.ShowMessage("备份路径非法");
    return false;
  }
  char path[kPathBufferSize] = {};
  ::SHGetPathFromIDListA(chosen, path);
  ::CoTaskMemFree(chosen);
  if (path[0] == '\0') {
    m_view.ShowMessage("备份路径不能为空");
    return false;
  }
  folder = path;
  return true;
}

void CExportJob::Start(const std::string& folder) {
  const HWND window = m_view.ExportWindow();
  const CProgressCtrl& bar = m_view.ProgressBar();
  // What a failed start puts back.
  const std::string previousFolder = m_backupFolder;
  int lower = 0;
  int upper = 0;
  bar.GetRange(lower, upper);

  m_backupFolder = folder;
  // The worker reads the list and the paths that the find button rebuilds: find is disabled.
  m_view.ShowButtons(ExportButtons::kRunning);
  ::SetTimer(window, EXPORT_TIMER_ID, kExportTimerPeriod, nullptr);
  m_progressStep = 0;
  bar.SetRange(0, kProgressLast);
  if (m_stopEvent == nullptr) m_stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (m_stopEvent != nullptr) {
    ::ResetEvent(m_stopEvent);
    // Only a closing dialog asks the engine to abort; the request must not outlive its export.
    m_extractor.ClearAbort();
    m_workerThread = m_view.StartWorker();
  }
  if (m_workerThread != nullptr) return;

  ::KillTimer(window, EXPORT_TIMER_ID);
  bar.SetRange(static_cast<short>(lower), static_cast<short>(upper));
  m_view.ShowButtons(ExportButtons::kIdle);
  m_backupFolder = previousFolder;
  m_view.ShowMessage("无法启动导出");
}

void CExportJob::Run() {
  WPARAM outcome = 0;
  const int count = m_view.ItemCount();
  for (int i = 0; i < count; ++i) {
    // Only the dialog's destruction asks the engine to abort: then no further mailbox starts.
    // A cancel is seen by the engine at its next message file.
    if (m_extractor.AbortRequested()) {
      outcome |= kExportStopped;
      break;
    }
    if (!m_view.IsItemTicked(i)) continue;
    std::string mailbox;
    if (!m_view.MailboxPath(i, &mailbox)) continue;
    const int result = m_extractor.ExportMailbox(mailbox.c_str(), m_backupFolder.c_str());
    if (result == E_UNEXPECTED) {
      outcome |= kExportStopped;
      break;
    }
    if (result != quillon::kExportWritten && result != quillon::kExportNoMessages) {
      outcome |= kExportFailed;
    }
  }
  // A dialog being destroyed waits for this thread and needs nothing more from it.
  if (m_extractor.AbortRequested()) return;

  const HWND window = m_view.ExportWindow();
  m_view.ShowButtons(ExportButtons::kIdle);
  // Wine stops another thread's window timer, Windows need not; the dialog thread stops it again
  // when this thread's last call reaches it.
  ::KillTimer(window, EXPORT_TIMER_ID);
  const CProgressCtrl& bar = m_view.ProgressBar();
  bar.SetPos(0);
  bar.RedrawWindow(nullptr, nullptr, kRedrawNow);
  m_view.SetStatus(outcome == 0 ? "备份成功" : "");
  ::SendMessageA(window, WM_EXPORT_FINISHED, outcome, 0);
}

LRESULT CExportJob::Finished(WPARAM outcome) {
  HANDLE worker = m_workerThread;
  // Null: Close has taken the worker over and is waiting for it.
  if (worker == nullptr) return 0;
  m_workerThread = nullptr;
  const HWND window = m_view.ExportWindow();
  ::KillTimer(window, EXPORT_TIMER_ID);
  // A tick that came between the worker's reset of the bar and now moved it again.
  const CProgressCtrl& bar = m_view.ProgressBar();
  if (bar.GetPos() != 0) {
    bar.SetPos(0);
    bar.RedrawWindow(nullptr, nullptr, kRedrawNow);
  }
  ::PostMessageA(window, WM_EXPORT_REPORT, outcome, reinterpret_cast<LPARAM>(worker));
  return 0;
}

LRESULT CExportJob::Report(WPARAM outcome, LPARAM thread) {
  CloseEndedWorker(reinterpret_cast<HANDLE>(thread));
  // Reported also after a cancel: the mailbox failed before the user stopped the rest.
  if (outcome & kExportFailed) {
    m_view.ShowMessage("部分邮箱文件导出失败");
    // A cancelled export keeps its empty status line; a dialog closed meanwhile has none.
    if (!(outcome & kExportStopped) && ::IsWindow(m_view.ExportWindow())) {
      m_view.SetStatus("部分邮箱文件导出失败");
    }
  }
  return 0;
}

bool CExportJob::NextFile(const char* fileName) {
  if (m_stopEvent != nullptr && ::WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0) {
    return false;
  }
  if (fileName != nullptr) m_view.SetStatus(fileName);
  return true;
}

void CExportJob::Cancel() {
  if (m_stopEvent != nullptr) {
    ::SetEvent(m_stopEvent);
    ::Sleep(kStopGracePeriod);
  }
  m_view.ShowButtons(ExportButtons::kStopping);
}

void CExportJob::Tick(UINT_PTR id) {
  if (id != EXPORT_TIMER_ID) return;
  if (++m_progressStep > kProgressLast) m_progressStep = 0;
  const CProgressCtrl& bar = m_view.ProgressBar();
  bar.SetPos(m_progressStep);
  bar.RedrawWindow(nullptr, nullptr, kRedrawNow);
}

void CExportJob::Close() {
  if (HANDLE worker = m_workerThread) {
    // Cleared first, so that the worker's last call, served by the wait below, leaves the handle
    // to this function.
    m_workerThread = nullptr;
    if (m_stopEvent != nullptr) ::SetEvent(m_stopEvent);
    // The stop event is seen only between message files; the abort also reaches a long search
    // or copy, within one read window, and removes a message file left half written.
    m_extractor.RequestAbort();
    if (!WaitServingSentMessages(worker, kCloseWait)) {
      // Not stopped by now: stuck in a read that does not return, where it holds no lock this
      // thread needs. Ended here, it leaves its files open until the process ends and at most a
      // temporary file behind. Termination completes asynchronously, and a worker that could
      // not be ended must not outlive the dialog either: wait for the end.
      ::TerminateThread(worker, 0);
      WaitServingSentMessages(worker, INFINITE);
    }
    ::CloseHandle(worker);
  }
  // A finished export whose report has not run yet: its worker's handle is in the message.
  MSG msg;
  while (
      ::PeekMessageA(&msg, m_view.ExportWindow(), WM_EXPORT_REPORT, WM_EXPORT_REPORT, PM_REMOVE)) {
    CloseEndedWorker(reinterpret_cast<HANDLE>(msg.lParam));
  }
  if (m_stopEvent != nullptr) {
    ::CloseHandle(m_stopEvent);
    m_stopEvent = nullptr;
  }
}
