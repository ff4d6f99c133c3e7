// The export job: the export button's checks, one worker thread that hands every ticked mailbox
// file to the engine, the progress timer, cancel, and the stop when the dialog goes. It reaches
// its dialog only through IExportView; the dialog owns the job and forwards its handlers to it.
#ifndef QUILLON_JOB_EXPORT_JOB_H_
#define QUILLON_JOB_EXPORT_JOB_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/mailbox_extractor.h"
#include "framework/controls.h"

constexpr UINT_PTR EXPORT_TIMER_ID = 123;
constexpr UINT kExportTimerPeriod = 200;  // milliseconds
constexpr int kProgressLast = 10;         // the bar's range is 0 to this
constexpr DWORD kStopGracePeriod = 200;   // the cancel button's sleep after the stop event
constexpr DWORD kWorkerExitCode = 17;
// How long closing the dialog waits for the worker to stop on its own before ending it by
// force. A worker that has been asked stops within one read window of the engine; one that is
// still running after this is stuck in a read that does not return (a share that went away).
constexpr DWORD kCloseWait = 3000;  // milliseconds
constexpr size_t kPathBufferSize = MAX_PATH + 1;

// Sent by the worker as its last call into the dialog thread; wParam is the outcome. The dialog
// thread takes the worker's handle over there and posts WM_EXPORT_REPORT to itself.
constexpr UINT WM_EXPORT_FINISHED = WM_APP + 1;
// Posted by the dialog thread to itself: wParam the outcome, lParam the ended worker's handle,
// which the handler closes before it reports a failure.
constexpr UINT WM_EXPORT_REPORT = WM_APP + 2;

// Outcome bits of one export.
constexpr WPARAM kExportFailed = 1;   // some mailbox gave neither 0 nor 1
constexpr WPARAM kExportStopped = 2;  // cancelled, or stopped by the dialog's destruction

// Which of the export, cancel and find buttons a state shows.
enum class ExportButtons {
  kIdle,      // export shown, cancel hidden, find enabled
  kRunning,   // cancel shown in the export button's place, export hidden, find disabled
  kStopping,  // cancel hidden too: the worker shows export again when it ends
};

// What the job needs of its dialog. Calls marked "worker too" are also made on the worker
// thread; the dialog carries each of them out on its own thread (a sent window message), so the
// dialog thread keeps serving sent messages while a worker runs.
class IExportView {
 public:
  // The dialog window: owner of the job's timer, its two messages and the folder browser.
  virtual HWND ExportWindow() const = 0;
  // The file list (worker too): its item count, whether an item is ticked now, and the full path
  // of an item's mailbox file (false when the item has none).
  virtual int ItemCount() const = 0;
  virtual bool IsItemTicked(int item) const = 0;
  virtual bool MailboxPath(int item, std::string* path) const = 0;
  // The backup folder's edit control.
  virtual std::string BackupFolderText() const = 0;
  virtual void SetBackupFolderText(const std::string& text) = 0;
  virtual void ShowButtons(ExportButtons buttons) = 0;  // worker too
  virtual const CProgressCtrl& ProgressBar() const = 0;
  virtual void SetStatus(const char* text) = 0;  // worker too
  // A message box owned by the dialog.
  virtual void ShowMessage(const char* text) = 0;
  // Starts the worker thread, whose entry calls the job's Run. Its handle, or null.
  virtual HANDLE StartWorker() = 0;

 protected:
  ~IExportView() = default;
};

// One export at a time. Every call but Run and NextFile is made on the dialog thread.
class CExportJob {
 public:
  // `view` and `extractor` are not owned and must outlive the job; the extractor's sink must
  // forward to NextFile.
  CExportJob(IExportView& view, CMailboxExtractor& extractor)
      : m_view(view), m_extractor(extractor) {}
  // Close has already ended any worker and closed the stop event.
  ~CExportJob() = default;
  CExportJob(const CExportJob&) = delete;
  CExportJob& operator=(const CExportJob&) = delete;

  // The export button: checks that something is ticked and that the backup folder exists
  // (asking for one with the shell's browser when it does not), then starts the worker. Each
  // refusal shows its message and changes nothing.
  void Export();
  // The cancel button: sets the stop event, which the engine sees at its next message file.
  void Cancel();
  // The timer: one step of the bar's cycle when `id` is the job's timer.
  void Tick(UINT_PTR id);
  // The dialog's destruction: asks a running worker to stop and waits up to kCloseWait for it,
  // serving its calls into the dialog thread meanwhile; past that, ends it by force. Then
  // closes the stop event. When it returns no worker runs.
  void Close();

  // The worker: every item ticked when the loop comes to it goes to the engine with
  // m_backupFolder; then the dialog goes back to idle unless it is being destroyed.
  void Run();
  // The worker, before each message file: false when the stop event is set; otherwise shows
  // `fileName` (if not null) in the status line.
  bool NextFile(const char* fileName);

  // WM_EXPORT_FINISHED and WM_EXPORT_REPORT.
  LRESULT Finished(WPARAM outcome);
  LRESULT Report(WPARAM outcome, LPARAM thread);

  bool Running() const { return m_workerThread != nullptr; }

  int32_t m_progressStep = 0;       // progress position, 0 to kProgressLast
  std::string m_backupFolder;       // backup folder of the running or last export
  HANDLE m_stopEvent = nullptr;     // manual-reset stop event, or null
  HANDLE m_workerThread = nullptr;  // the running export worker, or null

 private:
  // The browser's answer in `folder`; false when it was cancelled or gave no path, after the
  // message has been shown.
  bool AskForBackupFolder(std::string& folder);
  // Idle to running; back to idle with a message when the event or the thread cannot be made.
  void Start(const std::string& folder);

  IExportView& m_view;
  CMailboxExtractor& m_extractor;
};

#endif  // QUILLON_JOB_EXPORT_JOB_H_
