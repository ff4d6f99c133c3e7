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

  PROCESS_INFORMATION program;
  HWND dlg = StartQuillon(&program);
  if (dlg == nullptr) {
    std::fprintf(stderr, "cannot start Quillon.exe or find its dialog\n");
    return 1;
  }
  TypeInto(dlg, IDC_MAILBOX_FOLDER, mail);
  ClickButton(dlg, IDC_FIND_MAILBOXES);
  TypeInto(dlg, IDC_BACKUP_FOLDER, backup);
  ClickButton(dlg, IDC_EXPORT);
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
