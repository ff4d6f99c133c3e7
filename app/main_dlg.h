// The main dialog: the whole user interface and the owner of all the tool's state.
#ifndef QUILLON_APP_MAIN_DLG_H_
#define QUILLON_APP_MAIN_DLG_H_

#include <cstdint>
#include <string>

#include "app/layout/dialog_layout.h"
#include "app/resource.h"
#include "engine/extract_sink.h"
#include "engine/mailbox_extractor.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/win_app.h"
#include "job/export_job.h"

// Its export handlers hand their work to m_job (job/), which reaches the dialog through the
// IExportView operations below.
class CMainDlg : public CDialog, public IExtractSink, public CDialogLayout, private IExportView {
 public:
  enum { IDD = IDD_QUILLON_DIALOG };

  // Loads the icon; creates no window and touches no file.
  explicit CMainDlg(CWnd* pParent = nullptr);
  ~CMainDlg() override;

  // Called by the engine on the export worker before each .eml file; false stops the export.
  // Shows the name in the status line unless the stop event is set.
  bool OnNextFile(const char* fileName) override;

  // The export worker's entry: runs RunExport of the dialog `param` points to, if any, and
  // returns 17.
  static DWORD WINAPI ExportThreadProc(LPVOID param);
  // The export loop and its finish, on the worker thread (CExportJob::Run). Reaches the controls
  // only through calls that the dialog thread serves.
  void RunExport();

  CMailboxExtractor m_extractor;
  HICON m_appIcon;
  CStringArray m_mailboxFiles;  // full paths; a list item's data is its index here
  CExportJob m_job;             // the backup folder, the stop event and the worker
  CListCtrl m_fileList;         // control 1002
  CProgressCtrl m_progress;     // control 1007

 protected:
  void DoDataExchange(CDataExchange* pDX) override;
  BOOL OnInitDialog() override;

  void OnSysCommand(UINT nID, LPARAM lParam);
  void OnPaint();
  HCURSOR OnQueryDragIcon();
  void OnSize(UINT nType, int cx, int cy);
  void OnFindMailboxFiles();
  void OnExport();
  void OnCancelExport();
  void OnTimer(UINT_PTR nIDEvent);
  void OnDestroy();
  // The worker's last call into the dialog thread, and the report that follows it there.
  LRESULT OnExportFinished(WPARAM outcome, LPARAM);
  LRESULT OnExportReport(WPARAM outcome, LPARAM thread);

 private:
  // IExportView.
  HWND ExportWindow() const override { return m_hWnd; }
  int ItemCount() const override { return m_fileList.GetItemCount(); }
  bool IsItemTicked(int item) const override;
  bool MailboxPath(int item, std::string* path) const override;
  std::string BackupFolderText() const override { return GetDlgItemText(IDC_BACKUP_FOLDER); }
  void SetBackupFolderText(const std::string& text) override {
    SetDlgItemText(IDC_BACKUP_FOLDER, text.c_str());
  }
  void ShowButtons(ExportButtons buttons) override;
  const CProgressCtrl& ProgressBar() const override { return m_progress; }
  void SetStatus(const char* text) override { SetDlgItemText(IDC_STATUS, text); }
  void ShowMessage(const char* text) override { AfxMessageBox(text); }
  HANDLE StartWorker() override;

  DECLARE_MESSAGE_MAP()
};

// Where the minimised dialog draws its icon on one axis: centred, rounding up, in signed
// arithmetic, so an empty client area gives -15 for a 32-pixel icon.
inline int MinimisedIconOrigin(int clientExtent, int iconExtent) {
  return (clientExtent - iconExtent + 1) / 2;
}

#endif  // QUILLON_APP_MAIN_DLG_H_
