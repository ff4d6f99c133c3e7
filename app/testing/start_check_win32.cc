// Checks that a desktop program starts: runs it, waits for its dialog, compares the dialog's
// caption, closes it as the close box does, and expects the program to end with exit code 0.
// scripts/windows-release.sh runs it on the Quillon.exe of the release archive.
// Usage: quillon_start_check PROGRAM CAPTION
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// The first visible top-level dialog of process `processId`, or null.
HWND FindDialogOf(DWORD processId) {
  struct Search {
    DWORD processId;
    HWND found;
  } search{processId, nullptr};
  ::EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(hwnd, &owner);
        char cls[16] = {};
        ::GetClassNameA(hwnd, cls, sizeof cls);
        if (owner != s->processId || !::IsWindowVisible(hwnd) || std::string(cls) != "#32770") {
          return TRUE;
        }
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s PROGRAM CAPTION\n", argv[0]);
    return 2;
  }
  const std::string program = argv[1];
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = "\"" + program + "\"";
  if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    std::fprintf(stderr, "%s: cannot be started (error %lu)\n", program.c_str(),
                 static_cast<unsigned long>(::GetLastError()));
    return 1;
  }
  // Limits that only keep a broken program from hanging the check.
  HWND dialog = nullptr;
  for (int i = 0; i < 3000 && dialog == nullptr; ++i) {
    if (::WaitForSingleObject(process.hProcess, 10) == WAIT_OBJECT_0) break;
    dialog = FindDialogOf(process.dwProcessId);
  }
  int status = 0;
  if (dialog == nullptr) {
    std::fprintf(stderr, "%s: showed no dialog\n", program.c_str());
    status = 1;
  } else {
    char caption[256] = {};
    ::SendMessageA(dialog, WM_GETTEXT, sizeof caption, reinterpret_cast<LPARAM>(caption));
    if (std::string(caption) != argv[2]) {
      std::fprintf(stderr, "%s: its dialog is captioned \"%s\", not \"%s\"\n", program.c_str(),
                   caption, argv[2]);
      status = 1;
    }
    ::PostMessageA(dialog, WM_CLOSE, 0, 0);
  }
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(process.hProcess, 10000) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &code);
  } else {
    ::TerminateProcess(process.hProcess, 1);
  }
  if (dialog != nullptr && code != 0) {
    std::fprintf(stderr, "%s: did not end with exit code 0 when its dialog was closed\n",
                 program.c_str());
    status = 1;
  }
  if (status == 0) {
    std::printf("%s showed its dialog \"%s\" and ended with exit code 0 when it was closed\n",
                program.c_str(), argv[2]);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return status;
}
