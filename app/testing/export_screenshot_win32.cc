// Sets the stage for the picture of the dialog during an export: makes a folder of generated
// mailboxes and a backup folder, starts Quillon.exe (in this program's desktop), types the two
// folders, presses find and export, and creates the file named by its argument once the bar
// moves and the status line shows a message file's name. It then leaves the program running.
#include <windows.h>
// After <windows.h>, which they need.
#include <commctrl.h>

#include <cstdio>
#include <string>

#include "app/resource.h"
#include "app/testing/dialog_driver_win32.h"

using namespace quillon::testing;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s READY-FILE\n", argv[0]);
    return 2;
  }
  char temp[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, temp);
  const std::string root = std::string(temp) + "Quillon";
  const std::string mail = root + "\\Mail";
  const std::string backup = root + "\\Backup";
  MakeFolder(root);
  MakeFolder(mail);
  MakeFolder(backup);
  // The inbox is large enough for the export to take a few seconds.
  const struct {
    const char* name;
    uint32_t messages;
  } mailboxes[] = {{"Inbox.dbx", 6000},       {"Sent Items.dbx", 40}, {"Drafts.dbx", 3},
                   {"Deleted Items.dbx", 25}, {"Outbox.dbx", 1},      {"Work.dbx", 60}};
  uint64_t seed = 1;
  for (const auto& m : mailboxes) {
    const std::string path = mail + "\\" + m.name;
    if (::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        !WriteMailbox(path, seed, m.messages)) {
      std::fprintf(stderr, "cannot write %s\n", path.c_str());
      return 1;
    }
    ++seed;
  }

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION program = {};
  std::string line = "\"" + BuildFolder() + "\\Quillon.exe\"";
  if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &program)) {
    std::fprintf(stderr, "cannot start %s\n", line.c_str());
    return 1;
  }
  HWND dlg = WaitFor([&] { return FindProgramDialog(program.dwProcessId); });
  if (dlg == nullptr) return 1;
  auto type = [&](int id, const std::string& text) {
    ::SendMessageA(::GetDlgItem(dlg, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  };
  auto click = [&](int id) { ::SendMessageA(::GetDlgItem(dlg, id), BM_CLICK, 0, 0); };
  type(IDC_MAILBOX_FOLDER, mail);
  click(IDC_FIND_MAILBOXES);
  type(IDC_BACKUP_FOLDER, backup);
  click(IDC_EXPORT);
  const bool busy = WaitUntil([&] {
    const std::string status = ControlText(::GetDlgItem(dlg, IDC_STATUS));
    const LRESULT position = ::SendMessageA(::GetDlgItem(dlg, IDC_PROGRESS), PBM_GETPOS, 0, 0);
    return status.size() > 4 && status.compare(status.size() - 4, 4, ".eml") == 0 && position >= 3;
  });
  if (!busy) {
    std::fprintf(stderr, "the export did not show a file name\n");
    return 1;
  }
  WriteFile(argv[1], "ready");
  ::CloseHandle(program.hThread);
  ::CloseHandle(program.hProcess);
  return 0;
}
