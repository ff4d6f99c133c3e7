// The application object: runs the main dialog once, modally, and ends the program after it.
#ifndef QUILLON_APP_MAIN_APP_H_
#define QUILLON_APP_MAIN_APP_H_

#include "framework/win_app.h"

class CMainApp : public CWinApp {
 public:
  CMainApp() : CWinApp(nullptr) {}

  // Runs the dialog and returns false, so no message loop follows it.
  BOOL InitInstance() override;

 protected:
  const CommandMapEntry* GetCommandMap() const override;
};

#endif  // QUILLON_APP_MAIN_APP_H_
