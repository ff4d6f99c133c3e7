// Compiled with the GBK execution character set, like every source holding interface texts.
#include "app/main_app.h"

#include <commctrl.h>

#include "app/main_dlg.h"

const CommandMapEntry* CMainApp::GetCommandMap() const {
  static const CommandMapEntry entries[] = {
      {ID_HELP, &CMainApp::OnHelp},
      {0, nullptr},
  };
  return entries;
}

BOOL CMainApp::InitInstance() {
  ::InitCommonControls();
  CWinApp::InitInstance();
  AfxEnableControlContainer();
  SetRegistryKey("应用程序向导生成的本地应用程序");

  CMainDlg dlg;
  m_pMainWnd = &dlg;
  dlg.DoModal();
  return FALSE;
}
