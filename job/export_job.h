// The export job's constants: the main dialog's export members use them, and so do its tests.
#ifndef QUILLON_JOB_EXPORT_JOB_H_
#define QUILLON_JOB_EXPORT_JOB_H_

#include <windows.h>

#include <cstddef>

constexpr UINT_PTR EXPORT_TIMER_ID = 123;
constexpr UINT kExportTimerPeriod = 200;  // milliseconds
constexpr int kProgressLast = 10;         // the bar's range is 0 to this
constexpr DWORD kStopGracePeriod = 200;   // the cancel button's sleep after the stop event
constexpr DWORD kWorkerExitCode = 17;
constexpr UINT kBrowseFlags = 0x0011;    // BIF_RETURNONLYFSDIRS | BIF_EDITBOX
constexpr size_t kPathBufferSize = 261;  // MAX_PATH and one

// Sent by the worker as its last call into the dialog thread; wParam is the outcome. The dialog
// thread takes the worker's handle over there and posts WM_EXPORT_REPORT to itself.
constexpr UINT WM_EXPORT_FINISHED = WM_APP + 1;
// Posted by the dialog thread to itself: wParam the outcome, lParam the ended worker's handle,
// which the handler closes before it reports a failure.
constexpr UINT WM_EXPORT_REPORT = WM_APP + 2;

// Outcome bits of one export.
constexpr WPARAM kExportFailed = 1;   // some mailbox gave neither 0 nor 1
constexpr WPARAM kExportStopped = 2;  // cancelled, or stopped by the dialog's destruction

#endif  // QUILLON_JOB_EXPORT_JOB_H_
