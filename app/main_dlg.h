// The main dialog: the whole user interface and the owner of all the tool's state.
#ifndef QUILLON_APP_MAIN_DLG_H_
#define QUILLON_APP_MAIN_DLG_H_

// The framework (and so <windows.h>) before the engine: the engine defines E_FAIL and
// E_UNEXPECTED only where the system has not.
#include "framework/controls.h"
#include "framework/dialog.h"

#include <cstdint>
#include <string>

#include "app/layout/dialog_layout.h"
#include "app/resource.h"
#include "engine/extract_sink.h"
#include "engine/mailbox_extractor.h"

class CMainDlg : public CDialog, public IExtractSink, public CDialogLayout {
 public:
  enum { IDD = IDD_QUILLON_DIALOG };

  // Loads the icon; creates no window and touches no file.
  explicit CMainDlg(CWnd* pParent = nullptr);
  ~CMainDlg() override;

  // Called by the engine on the export worker before each .eml file; false stops the export.
  bool OnNextFile(const char* fileName) override;

  CMailboxExtractor m_extractor;
  HICON m_appIcon;
  CStringArray m_mailboxFiles;  // full paths; a list item's data is its index here
  int32_t m_progressStep = 0;   // progress position, 0 to 10
  std::string m_backupFolder;   // backup folder of the running or last export
  HANDLE m_stopEvent;           // manual-reset stop event, or null
  HANDLE m_workerThread;        // the running export worker, or null
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

  DECLARE_MESSAGE_MAP()
};

// Where the minimised dialog draws its icon on one axis: centred, rounding up, in signed
// arithmetic, so an empty client area gives -15 for a 32-pixel icon.
inline int MinimisedIconOrigin(int clientExtent, int iconExtent) {
  return (clientExtent - iconExtent + 1) / 2;
}

#endif  // QUILLON_APP_MAIN_DLG_H_
