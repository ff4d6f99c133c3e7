#include <windows.h>
// After <windows.h>, which it needs.
#include <shellapi.h>

#include "cli/command.h"
#include "cli/platform.h"
#include "win32/wide_text.h"

namespace quillon {

namespace fs = std::filesystem;

namespace {

BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      RequestStop(StopCause::kInterrupt);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // The process ends when this returns: wait here while the export stops and removes the
      // message it was writing. Windows ends the process after a few seconds in any case.
      RequestStop(StopCause::kHangUp);
      Sleep(INFINITE);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

std::vector<std::string> CommandArguments(int, char**) {
  // The narrow argv holds the names in the system code page, where most do not fit.
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  std::vector<std::string> args;
  for (int i = 1; argv != nullptr && i < argc; ++i) args.push_back(Utf8FromWide(argv[i]));
  if (argv != nullptr) LocalFree(argv);
  return args;
}

void ReturnLargeFreedMemory() {}

void InstallStopHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

fs::path ToPath(const std::string& utf8) { return fs::u8path(utf8); }
std::string FromPath(const fs::path& path) { return path.u8string(); }

std::string ErrorText(const std::error_code& error) {
  // The library words system errors in the ANSI code page; the command speaks UTF-8.
  if (error.category() == std::system_category()) return SystemErrorText(error.value());
  return error.message();
}

std::string OutputName(const std::string& path) { return FromPath(ToPath(path).filename()); }

std::string FileNameKey(const std::string& name) {
  // Windows file systems compare names through the system's upper-case table.
  std::wstring wide = WideFromUtf8(name);
  CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return Utf8FromWide(wide);
}

std::string EnginePath(const std::string& path) {
  fs::path p = ToPath(path);
  if (p.has_root_name() && !p.has_root_directory()) {
    std::error_code ec;
    const fs::path absolute = fs::absolute(p, ec);
    if (!ec) p = absolute;
  }
  return FromPath(p.make_preferred());
}

bool ProbeCreate(const fs::path& folder, bool asFolder, std::string* reason) {
  const std::wstring name =
      (folder / (L".quillon-probe-" + std::to_wstring(GetCurrentProcessId()))).wstring();
  bool made;
  if (asFolder) {
    made = CreateDirectoryW(name.c_str(), nullptr) != 0;
    if (made) RemoveDirectoryW(name.c_str());
  } else {
    const HANDLE h = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    made = h != INVALID_HANDLE_VALUE;
    if (made) CloseHandle(h);
  }
  if (!made) *reason = SystemErrorText(GetLastError());
  return made;
}

}  // namespace quillon
