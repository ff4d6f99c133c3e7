#include "framework/win_app.h"

namespace {
CWinApp* g_app = nullptr;

std::string ExecutableBaseName() {
  char path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length < MAX_PATH ? length : MAX_PATH);
  const size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  const size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}
}  // namespace

CWinApp::CWinApp(const char* appName)
    : m_hInstance(::GetModuleHandleA(nullptr)),
      m_appName(appName != nullptr ? appName : ExecutableBaseName()) {
  m_pszAppName = m_appName.c_str();
  g_app = this;
}

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::Run() {
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  ExitInstance();
  return static_cast<int>(msg.wParam);
}

int CWinApp::ExitInstance() { return 0; }

const CommandMapEntry* CWinApp::GetCommandMap() const {
  static const CommandMapEntry none[] = {{0, nullptr}};
  return none;
}

BOOL CWinApp::OnCmdMsg(UINT id) {
  for (const CommandMapEntry* e = GetCommandMap(); e->id != 0; ++e) {
    if (e->id == id) {
      (this->*e->handler)();
      return TRUE;
    }
  }
  return FALSE;
}

CWinApp* AfxGetApp() { return g_app; }

int AfxMessageBox(const char* text, UINT type) {
  CWinApp* app = AfxGetApp();
  HWND owner = app != nullptr && app->m_pMainWnd != nullptr ? app->m_pMainWnd->m_hWnd : nullptr;
  if ((type & MB_TYPEMASK) == MB_OK && (type & MB_ICONMASK) == 0) type |= MB_ICONEXCLAMATION;
  const char* caption = app != nullptr ? app->m_pszAppName : "";
  return ::MessageBoxA(owner, text, caption, type);
}

int AfxWinMain(HINSTANCE instance) {
  CWinApp* app = AfxGetApp();
  if (app == nullptr) return -1;
  app->m_hInstance = instance;
  if (!app->InitInstance()) return app->ExitInstance();
  return app->Run();
}
