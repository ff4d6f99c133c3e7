#include "app/testing/dialog_driver_win32.h"

#include <commctrl.h>

#include <cstring>
#include <memory>

#include "gen/generator.h"
#include "gen/output.h"

namespace quillon::testing {

CMainApp& TestApp() {
  static CMainApp app;
  return app;
}

std::string ClassName(HWND hwnd) {
  char name[64] = {};
  ::GetClassNameA(hwnd, name, sizeof name);
  return name;
}

std::wstring WindowTextW(HWND hwnd) {
  wchar_t text[1024] = {};
  ::GetWindowTextW(hwnd, text, 1024);
  return text;
}

namespace {

// A shown dialog box: what the dialog manager creates, message boxes and the folder browser
// included.
bool IsVisibleDialog(HWND hwnd) { return ::IsWindowVisible(hwnd) && ClassName(hwnd) == "#32770"; }

// The first top-level window of thread `threadId` (of any thread when 0) that `match` accepts.
template <class F>
HWND FirstTopLevel(DWORD threadId, F match) {
  struct Search {
    F* match;
    HWND found;
  } search{&match, nullptr};
  const WNDENUMPROC visit = [](HWND hwnd, LPARAM lp) -> BOOL {
    auto* s = reinterpret_cast<Search*>(lp);
    if (!(*s->match)(hwnd)) return TRUE;
    s->found = hwnd;
    return FALSE;
  };
  if (threadId != 0) {
    ::EnumThreadWindows(threadId, visit, reinterpret_cast<LPARAM>(&search));
  } else {
    ::EnumWindows(visit, reinterpret_cast<LPARAM>(&search));
  }
  return search.found;
}

}  // namespace

HWND FindDialogOf(DWORD threadId, HWND owner) {
  return FirstTopLevel(threadId, [owner](HWND hwnd) {
    return IsVisibleDialog(hwnd) && ::GetWindow(hwnd, GW_OWNER) == owner;
  });
}

RunningDialog::RunningDialog() {
  TestApp();
  m_thread = std::thread([this] {
    m_threadId = ::GetCurrentThreadId();
    CMainDlg dlg;
    m_dlg = &dlg;
    TestApp().m_pMainWnd = &dlg;
    m_result = dlg.DoModal();
    m_done = true;
  });
  m_hwnd = WaitFor([this] { return m_threadId ? FindDialogOf(m_threadId, nullptr) : nullptr; });
}

RunningDialog::~RunningDialog() {
  if (!m_done && m_hwnd) ::PostMessageA(m_hwnd, WM_CLOSE, 0, 0);
  if (m_thread.joinable()) m_thread.join();
}

INT_PTR RunningDialog::Result() {
  if (m_thread.joinable()) m_thread.join();
  return m_result;
}

void RunningDialog::Type(int id, const std::string& text) const {
  ::SendMessageA(Item(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void RunningDialog::Click(int id) const {
  ::PostMessageA(m_hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
}

void RunningDialog::ClickAndWait(int id) const {
  ::SendMessageA(m_hwnd, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(Item(id)));
}

int RunningDialog::ItemCount() const {
  return static_cast<int>(::SendMessageA(Item(IDC_MAILBOX_LIST), LVM_GETITEMCOUNT, 0, 0));
}

std::string RunningDialog::ItemText(int item) const {
  char text[MAX_PATH] = {};
  LVITEMA lvi = {};
  lvi.pszText = text;
  lvi.cchTextMax = MAX_PATH;
  ::SendMessageA(Item(IDC_MAILBOX_LIST), LVM_GETITEMTEXTA, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(&lvi));
  return text;
}

LPARAM RunningDialog::ItemData(int item) const {
  LVITEMA lvi = {};
  lvi.mask = LVIF_PARAM;
  lvi.iItem = item;
  lvi.lParam = -1;
  ::SendMessageA(Item(IDC_MAILBOX_LIST), LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lvi));
  return lvi.lParam;
}

int RunningDialog::ItemStateImage(int item) const {
  const LRESULT state = ::SendMessageA(Item(IDC_MAILBOX_LIST), LVM_GETITEMSTATE,
                                       static_cast<WPARAM>(item), LVIS_STATEIMAGEMASK);
  return static_cast<int>((state & LVIS_STATEIMAGEMASK) >> 12);
}

void RunningDialog::SetTicked(int item, bool ticked) const {
  LVITEMA lvi = {};
  lvi.stateMask = LVIS_STATEIMAGEMASK;
  lvi.state = INDEXTOSTATEIMAGEMASK(ticked ? 2 : 1);
  ::SendMessageA(Item(IDC_MAILBOX_LIST), LVM_SETITEMSTATE, static_cast<WPARAM>(item),
                 reinterpret_cast<LPARAM>(&lvi));
}

HWND RunningDialog::OwnedDialog() const {
  const HWND owner = m_hwnd;
  return FirstTopLevel(0, [owner](HWND hwnd) {
    return IsVisibleDialog(hwnd) && ::GetWindow(hwnd, GW_OWNER) == owner;
  });
}

HWND RunningDialog::WaitForOwnedDialog() const {
  return WaitFor([this] { return OwnedDialog(); });
}

bool RunningDialog::WaitNoOwnedDialog() const {
  return WaitUntil([this] { return OwnedDialog() == nullptr; });
}

std::wstring MessageBoxText(HWND box) { return WindowTextW(::GetDlgItem(box, 0xFFFF)); }

bool IsFolderBrowser(HWND dialog) {
  return ::FindWindowExA(dialog, nullptr, WC_TREEVIEWA, nullptr) != nullptr;
}

void Answer(HWND dialog, int button) {
  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                 reinterpret_cast<LPARAM>(::GetDlgItem(dialog, button)));
}

void** ImportSlot(const char* dll, const char* function) {
  auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name;
       ++imp) {
    if (_stricmp(reinterpret_cast<char*>(base + imp->Name), dll) != 0) continue;
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    for (; names->u1.AddressOfData; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(byName->Name), function) == 0) {
        return reinterpret_cast<void**>(&slots->u1.Function);
      }
    }
  }
  return nullptr;
}

void Patch(void** slot, void* value) {
  DWORD old;
  ::VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &old);
  *slot = value;
  ::VirtualProtect(slot, sizeof *slot, old, &old);
}

namespace {

void RemoveTree(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = found.cFileName;
      if (name == "." || name == "..") continue;
      const std::string path = folder + "\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(path);
      } else {
        ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileA(path.c_str());
      }
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
  }
  ::RemoveDirectoryA(folder.c_str());
}

}  // namespace

TempFolder::TempFolder(const std::string& name) {
  char temp[MAX_PATH] = {};
  ::GetTempPathA(MAX_PATH, temp);
  m_path = std::string(temp) + "quillon-" + name + "-" + std::to_string(::GetCurrentProcessId());
  RemoveTree(m_path);
  ::CreateDirectoryA(m_path.c_str(), nullptr);
}

TempFolder::~TempFolder() { RemoveTree(m_path); }

bool MakeFolder(const std::string& folder) {
  ::CreateDirectoryA(folder.c_str(), nullptr);
  const DWORD attributes = ::GetFileAttributesA(folder.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool WriteMailbox(const std::string& path, uint64_t seed, uint32_t messages) {
  gen::GeneratorOptions options;
  options.seed = seed;
  options.messageCount = messages;
  std::string error;
  std::unique_ptr<gen::FileOutput> out = gen::FileOutput::Create(path, &error);
  if (!out) return false;
  const bool written = gen::GenerateMailbox(options, *out, nullptr, nullptr, &error);
  return out->Close(&error) && written;
}

bool ExtendWithZeros(const std::string& path, uint64_t size) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER end;
  end.QuadPart = static_cast<LONGLONG>(size);
  const bool done = ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file);
  ::CloseHandle(file);
  return done;
}

std::map<std::string, std::string> ReadFiles(const std::string& folder) {
  std::map<std::string, std::string> files;
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    std::string& bytes = files[found.cFileName];
    HANDLE file =
        ::CreateFileA((folder + "\\" + found.cFileName).c_str(), GENERIC_READ,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    char buffer[65536];
    DWORD got = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      bytes.append(buffer, got);
    }
    ::CloseHandle(file);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return files;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok =
      ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
      written == bytes.size();
  ::CloseHandle(file);
  return ok;
}

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  folder.erase(folder.find_last_of('\\'));
  return folder;
}

std::string BuildFolder() {
  std::string folder = ProgramFolder();
  folder.erase(folder.find_last_of('\\'));
  return folder;
}

int RunProgram(const std::string& command, DWORD limitMs) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  std::string line = command;
  if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
    return -1;
  }
  DWORD code = static_cast<DWORD>(-1);
  if (::WaitForSingleObject(process.hProcess, limitMs) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.hProcess, &code);
  } else {
    ::TerminateProcess(process.hProcess, 1);
  }
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

int ReferenceExport(const std::vector<std::string>& mailboxes, const std::string& outputFolder) {
  std::string command =
      "\"" + BuildFolder() + "\\cli\\quillon.exe\" export --desktop -q -o \"" + outputFolder + "\"";
  for (const std::string& mailbox : mailboxes) command += " \"" + mailbox + "\"";
  return RunProgram(command);
}

HWND FindProgramDialog(DWORD processId) {
  return FirstTopLevel(0, [processId](HWND hwnd) {
    DWORD owner = 0;
    ::GetWindowThreadProcessId(hwnd, &owner);
    return owner == processId && IsVisibleDialog(hwnd);
  });
}

HWND StartQuillon(PROCESS_INFORMATION* program) {
  *program = {};
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  std::string line = "\"" + BuildFolder() + "\\Quillon.exe\"";
  if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        program)) {
    return nullptr;
  }
  return WaitFor([&] { return FindProgramDialog(program->dwProcessId); });
}

void TypeInto(HWND dialog, int id, const std::string& text) {
  ::SendMessageA(::GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void ClickButton(HWND dialog, int id) { ::SendMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0); }

std::string ControlText(HWND control) {
  char text[512] = {};
  ::SendMessageA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
  return text;
}

}  // namespace quillon::testing
