// The export job of the main dialog: the export button, the worker that hands each ticked
// mailbox file to the engine, the progress timer, cancel, and the stop when the dialog goes.
// Compiled with the GBK execution character set: its texts go to the ANSI window calls.
#include <shlobj.h>

#include "app/main_dlg.h"
#include "discovery/folder_path.h"
#include "discovery/mailbox_search.h"
#include "framework/win_app.h"
#include "job/export_job.h"

namespace {

constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;  // 0x0105

void ShowItem(const CWnd& dialog, int id, int command) {
  ::ShowWindow(dialog.GetDlgItem(id), command);
}

void EnableItem(const CWnd& dialog, int id, BOOL enable) {
  ::EnableWindow(dialog.GetDlgItem(id), enable);
}

// Waits for `thread` to end while running the calls other threads send to this one, so a worker
// that is setting a control's text when it is asked to stop can finish that call and stop.
// Posted messages stay queued: the dialog is being destroyed and must not act on input.
void WaitServingSentMessages(HANDLE thread) {
  for (;;) {
    const DWORD woke = ::MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE);
    if (woke != WAIT_OBJECT_0 + 1) return;  // ended, or the wait itself failed
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

bool CMainDlg::IsItemTicked(int item) const {
  // State image 1 is the empty box and 2 the ticked one; anything else counts as ticked too.
  return (m_fileList.GetItemState(item, LVIS_STATEIMAGEMASK) >> 12) != 1;
}

void CMainDlg::OnExport() {
  // The button is hidden while a worker runs; a click queued before that starts no second one.
  if (m_workerThread != nullptr) return;
  const int count = m_fileList.GetItemCount();
  int ticked = 0;
  for (int i = 0; i < count; ++i) {
    if (IsItemTicked(i)) ++ticked;
  }
  if (ticked == 0) {
    AfxMessageBox("没有需要导出的邮箱文件");
    return;
  }
  const std::string typed = GetDlgItemText(IDC_BACKUP_FOLDER);
  if (typed.empty()) {
    AfxMessageBox("备份路径不能为空");
    return;
  }
  std::string folder = quillon::NormalizeFolderPath(typed);
  if (!quillon::IsExistingFolder(folder)) {
    if (!AskForBackupFolder(folder)) return;
    SetDlgItemText(IDC_BACKUP_FOLDER, folder.c_str());
  }
  StartExport(folder);
}

bool CMainDlg::AskForBackupFolder(std::string& folder) {
  LPITEMIDLIST root = nullptr;
  if (FAILED(::SHGetSpecialFolderLocation(m_hWnd, CSIDL_DESKTOP, &root))) root = nullptr;
  char displayName[kPathBufferSize] = {};
  BROWSEINFOA browse = {};
  browse.hwndOwner = m_hWnd;
  browse.pidlRoot = root;
  browse.pszDisplayName = displayName;
  browse.lpszTitle = "请选择备份路径";
  browse.ulFlags = kBrowseFlags;
  browse.lpfn = nullptr;
  browse.lParam = 0;
  LPITEMIDLIST chosen = ::SHBrowseForFolderA(&browse);
  if (root != nullptr) ::CoTaskMemFree(root);
  if (chosen == nullptr) {
    AfxMessageBox("备份路径非法");
    return false;
  }
  char path[kPathBufferSize] = {};
  ::SHGetPathFromIDListA(chosen, path);
  ::CoTaskMemFree(chosen);
  if (path[0] == '\0') {
    AfxMessageBox("备份路径不能为空");
    return false;
  }
  folder = path;
  return true;
}

void CMainDlg::StartExport(const std::string& folder) {
  // What a failed start puts back.
  const std::string previousFolder = m_backupFolder;
  int lower = 0;
  int upper = 0;
  m_progress.GetRange(lower, upper);

  m_backupFolder = folder;
  ShowItem(*this, IDC_CANCEL_EXPORT, SW_SHOWNORMAL);
  ShowItem(*this, IDC_EXPORT, SW_HIDE);
  // The worker reads the list and the array that the find button rebuilds.
  EnableItem(*this, IDC_FIND_MAILBOXES, FALSE);
  SetTimer(EXPORT_TIMER_ID, kExportTimerPeriod);
  m_progressStep = 0;
  m_progress.SetRange(0, kProgressLast);
  if (m_stopEvent == nullptr) m_stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (m_stopEvent != nullptr) {
    ::ResetEvent(m_stopEvent);
    // Only a closing dialog asks the engine to abort; the request must not outlive its export.
    m_extractor.ClearAbort();
    DWORD threadId = 0;
    m_workerThread = ::CreateThread(nullptr, 0, ExportThreadProc, this, 0, &threadId);
  }
  if (m_workerThread != nullptr) return;

  KillTimer(EXPORT_TIMER_ID);
  m_progress.SetRange(static_cast<short>(lower), static_cast<short>(upper));
  EnableItem(*this, IDC_FIND_MAILBOXES, TRUE);
  ShowItem(*this, IDC_EXPORT, SW_SHOWNORMAL);
  ShowItem(*this, IDC_CANCEL_EXPORT, SW_HIDE);
  m_backupFolder = previousFolder;
  AfxMessageBox("无法启动导出");
}

DWORD WINAPI CMainDlg::ExportThreadProc(LPVOID param) {
  if (param != nullptr) static_cast<CMainDlg*>(param)->RunExport();
  return kWorkerExitCode;
}

void CMainDlg::RunExport() {
  WPARAM outcome = 0;
  const int count = m_fileList.GetItemCount();
  for (int i = 0; i < count; ++i) {
    // Only the dialog's destruction asks the engine to abort: then no further mailbox starts.
    // A cancel is seen by the engine at its next message file, as before.
    if (m_extractor.AbortRequested()) {
      outcome |= kExportStopped;
      break;
    }
    if (!IsItemTicked(i)) continue;
    const DWORD_PTR k = m_fileList.GetItemData(i);
    if (k >= static_cast<DWORD_PTR>(m_mailboxFiles.GetSize())) continue;
    const std::string mailbox = m_mailboxFiles.GetAt(static_cast<int>(k));
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

  ShowItem(*this, IDC_EXPORT, SW_SHOWNORMAL);
  ShowItem(*this, IDC_CANCEL_EXPORT, SW_HIDE);
  EnableItem(*this, IDC_FIND_MAILBOXES, TRUE);
  // Wine stops another thread's window timer, Windows need not; the dialog thread stops it again
  // when this thread's last call reaches it.
  ::KillTimer(m_hWnd, EXPORT_TIMER_ID);
  m_progress.SetPos(0);
  m_progress.RedrawWindow(nullptr, nullptr, kRedrawNow);
  SetDlgItemText(IDC_STATUS, outcome == 0 ? "备份成功" : "");
  SendMessage(WM_EXPORT_FINISHED, outcome);
}

LRESULT CMainDlg::OnExportFinished(WPARAM outcome, LPARAM) {
  HANDLE worker = m_workerThread;
  // Null: OnDestroy has taken the worker over and is waiting for it.
  if (worker == nullptr) return 0;
  m_workerThread = nullptr;
  KillTimer(EXPORT_TIMER_ID);
  // A tick that came between the worker's reset of the bar and now moved it again.
  if (m_progress.GetPos() != 0) {
    m_progress.SetPos(0);
    m_progress.RedrawWindow(nullptr, nullptr, kRedrawNow);
  }
  PostMessage(WM_EXPORT_REPORT, outcome, reinterpret_cast<LPARAM>(worker));
  return 0;
}

LRESULT CMainDlg::OnExportReport(WPARAM outcome, LPARAM thread) {
  CloseEndedWorker(reinterpret_cast<HANDLE>(thread));
  // Reported also after a cancel: the mailbox failed before the user stopped the rest.
  if (outcome & kExportFailed) {
    AfxMessageBox("部分邮箱文件导出失败");
    // A cancelled export keeps its empty status line.
    if (!(outcome & kExportStopped) && m_hWnd != nullptr) {
      SetDlgItemText(IDC_STATUS, "部分邮箱文件导出失败");
    }
  }
  return 0;
}

bool CMainDlg::OnNextFile(const char* fileName) {
  if (m_stopEvent != nullptr && ::WaitForSingleObject(m_stopEvent, 0) == WAIT_OBJECT_0) {
    return false;
  }
  if (fileName != nullptr) SetDlgItemText(IDC_STATUS, fileName);
  return true;
}

void CMainDlg::OnCancelExport() {
  if (m_stopEvent != nullptr) {
    ::SetEvent(m_stopEvent);
    ::Sleep(kStopGracePeriod);
  }
  ShowItem(*this, IDC_CANCEL_EXPORT, SW_HIDE);
}

void CMainDlg::OnTimer(UINT_PTR nIDEvent) {
  if (nIDEvent == EXPORT_TIMER_ID) {
    if (++m_progressStep > kProgressLast) m_progressStep = 0;
    m_progress.SetPos(m_progressStep);
    m_progress.RedrawWindow(nullptr, nullptr, kRedrawNow);
  }
  CDialog::OnTimer(nIDEvent);
}

void CMainDlg::OnDestroy() {
  if (HANDLE worker = m_workerThread) {
    // Cleared first, so that the worker's last call, served by the wait below, leaves the handle
    // to this function.
    m_workerThread = nullptr;
    if (m_stopEvent != nullptr) ::SetEvent(m_stopEvent);
    // The stop event is seen only between message files; the abort also reaches a long search
    // or copy, within one read window, and removes a message file left half written.
    m_extractor.RequestAbort();
    WaitServingSentMessages(worker);
    ::CloseHandle(worker);
  }
  // A finished export whose report has not run yet: its worker's handle is in the message.
  MSG msg;
  while (::PeekMessageA(&msg, m_hWnd, WM_EXPORT_REPORT, WM_EXPORT_REPORT, PM_REMOVE)) {
    CloseEndedWorker(reinterpret_cast<HANDLE>(msg.lParam));
  }
  if (m_stopEvent != nullptr) {
    ::CloseHandle(m_stopEvent);
    m_stopEvent = nullptr;
  }
  CDialog::OnDestroy();
}
