// The application object. Exactly one exists, as a global constructed before the program's entry
// point runs; the entry point calls its InitInstance and, only if that returns true, runs a
// message loop until WM_QUIT.
#ifndef QUILLON_FRAMEWORK_WIN_APP_H_
#define QUILLON_FRAMEWORK_WIN_APP_H_

#include <windows.h>

#include <string>

#include "framework/wnd.h"

constexpr UINT ID_HELP = 57670;  // the standard Help command

class CWinApp;

struct CommandMapEntry {
  UINT id;  // 0 ends a table
  void (CWinApp::*handler)();
};

class CWinApp {
 public:
  // With no name, the application name is the executable's file name without its extension.
  explicit CWinApp(const char* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // The program's start-up; false ends the program without a message loop.
  virtual BOOL InitInstance();
  // The message loop, then ExitInstance. Returns the exit code.
  virtual int Run();
  virtual int ExitInstance();

  // Runs the handler of the application's command `id`; false when the application has none.
  BOOL OnCmdMsg(UINT id);

  // Names the registry key of the program's settings (the program stores none under it).
  void SetRegistryKey(const char* key) {
    m_registryKey = key;
    m_pszRegistryKey = m_registryKey.c_str();
  }

  HINSTANCE m_hInstance;
  const char* m_pszAppName;
  const char* m_pszRegistryKey = nullptr;
  CWnd* m_pMainWnd = nullptr;  // not owned

 protected:
  // The default Help handler: the program ships no help file, so there is nothing to open.
  void OnHelp() {}
  virtual const CommandMapEntry* GetCommandMap() const;

 private:
  std::string m_appName;
  std::string m_registryKey;
};

// The one application object, or null before it is constructed.
CWinApp* AfxGetApp();

// Hosting ActiveX controls in dialogs: the program's dialogs hold none, so there is nothing to
// load; kept so start-up reads as the program's start-up does elsewhere.
inline void AfxEnableControlContainer() {}

// A message box with the application name as caption, owned by the main window. A box with
// only the OK button also gets the exclamation icon. Returns the button pressed.
int AfxMessageBox(const char* text, UINT type = MB_OK);

// The program's entry point body; WinMain (win_main.cc) calls it.
int AfxWinMain(HINSTANCE instance);

#endif  // QUILLON_FRAMEWORK_WIN_APP_H_
