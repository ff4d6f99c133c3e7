// Driving the real main dialog from a test, as a person would: the dialog's modal run on a thread
// of its own, clicks and typed texts as window messages, message boxes and the folder browser
// found as the top-level dialogs it owns. Also the import patching that lets a test see or fail
// a system call the program makes, and the mailbox folders the tests export.
#ifndef QUILLON_APP_TESTING_DIALOG_DRIVER_WIN32_H_
#define QUILLON_APP_TESTING_DIALOG_DRIVER_WIN32_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "app/main_app.h"
#include "app/main_dlg.h"

namespace quillon::testing {

// The one application object of the test program, as in the program.
CMainApp& TestApp();

std::string ClassName(HWND hwnd);
std::wstring WindowTextW(HWND hwnd);

// The first visible top-level dialog (#32770) of `threadId` owned by `owner`.
HWND FindDialogOf(DWORD threadId, HWND owner);

// Polls `find` until it gives a window; the limit (20 s) only keeps a broken build from hanging.
template <class F>
HWND WaitFor(F find) {
  for (int i = 0; i < 2000; ++i) {
    if (HWND hwnd = find()) return hwnd;
    ::Sleep(10);
  }
  return nullptr;
}

// Polls `done` until true or `limitMs` passed; returns the last answer.
template <class F>
bool WaitUntil(F done, DWORD limitMs = 20000) {
  for (DWORD waited = 0;; waited += 10) {
    if (done()) return true;
    if (waited >= limitMs) return false;
    ::Sleep(10);
  }
}

// CMainDlg's modal run on a thread of its own.
class RunningDialog {
 public:
  RunningDialog();
  ~RunningDialog();
  RunningDialog(const RunningDialog&) = delete;
  RunningDialog& operator=(const RunningDialog&) = delete;

  // Waits for the modal run to end and returns its result.
  INT_PTR Result();
  bool Done() const { return m_done; }
  HWND hwnd() const { return m_hwnd; }
  HWND Item(int id) const { return ::GetDlgItem(m_hwnd, id); }
  DWORD threadId() const { return m_threadId; }
  CMainDlg* dlg() const { return m_dlg; }

  // Types `text` into control `id`, as WM_SETTEXT.
  void Type(int id, const std::string& text) const;
  // Presses button `id`; the notification is posted, so a message box it opens does not block
  // the test. Returns at once.
  void Click(int id) const;
  // Presses button `id` and returns when its handler has run.
  void ClickAndWait(int id) const;
  std::wstring Text(int id) const { return WindowTextW(Item(id)); }
  bool Visible(int id) const { return ::IsWindowVisible(Item(id)) != FALSE; }
  bool Enabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }

  // The list's items: text, data, check state image.
  int ItemCount() const;
  std::string ItemText(int item) const;
  LPARAM ItemData(int item) const;
  int ItemStateImage(int item) const;
  void SetTicked(int item, bool ticked) const;

  // The message box or folder browser the dialog owns now, or null; Wait... waits for one.
  HWND OwnedDialog() const;
  HWND WaitForOwnedDialog() const;
  // Waits until the dialog owns no box or browser any more.
  bool WaitNoOwnedDialog() const;

 private:
  std::thread m_thread;
  std::atomic<DWORD> m_threadId{0};
  std::atomic<bool> m_done{false};
  CMainDlg* m_dlg = nullptr;
  HWND m_hwnd = nullptr;
  INT_PTR m_result = 0;
};

// A message box's text (its static control 0xFFFF).
std::wstring MessageBoxText(HWND box);
// True when `dialog` is the shell's folder browser (it holds a tree view).
bool IsFolderBrowser(HWND dialog);
// Presses OK (IDOK) or Cancel (IDCANCEL) of a message box or the browser.
void Answer(HWND dialog, int button);

// The slot in this program's import table through which it calls `function` of `dll`, or null
// when it does not import it.
void** ImportSlot(const char* dll, const char* function);
void Patch(void** slot, void* value);

// Routes this program's calls of `function` of `dll` to `replacement` for the object's life.
// `*real` receives the system's function before the first call can arrive, for the replacement
// to call on.
template <class F>
class ImportPatch {
 public:
  ImportPatch(const char* dll, const char* function, F* replacement, F** real)
      : m_slot(ImportSlot(dll, function)) {
    if (m_slot == nullptr) return;
    m_real = reinterpret_cast<F*>(*m_slot);
    *real = m_real;
    Patch(m_slot, reinterpret_cast<void*>(replacement));
  }
  ~ImportPatch() {
    if (m_slot != nullptr) Patch(m_slot, reinterpret_cast<void*>(m_real));
  }
  ImportPatch(const ImportPatch&) = delete;
  ImportPatch& operator=(const ImportPatch&) = delete;
  // False when the program does not import the function.
  bool active() const { return m_slot != nullptr; }

 private:
  void** m_slot;
  F* m_real = nullptr;
};

// A folder of its own under the system's temporary folder, removed with its files at the end.
class TempFolder {
 public:
  explicit TempFolder(const std::string& name);
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& path() const { return m_path; }
  std::string operator/(const std::string& name) const { return m_path + "\\" + name; }

 private:
  std::string m_path;
};

// Creates `folder` and its parents' last level; true when it exists afterwards.
bool MakeFolder(const std::string& folder);
// Writes a generated mailbox of `messages` messages from `seed` to `path`; true on success.
bool WriteMailbox(const std::string& path, uint64_t seed, uint32_t messages);
// Extends the file at `path` with zeros to `size` bytes without writing them (a sparse end).
bool ExtendWithZeros(const std::string& path, uint64_t size);
// Every file of `folder` (not its sub-folders), name to bytes.
std::map<std::string, std::string> ReadFiles(const std::string& folder);
bool WriteFile(const std::string& path, const std::string& bytes);

// This program's folder, and the build's folder holding Quillon.exe (quillon.exe is in its cli
// folder).
std::string ProgramFolder();
std::string BuildFolder();
// Runs `command` (a full command line) and waits for it; its exit code, or -1.
int RunProgram(const std::string& command, DWORD limitMs = 120000);
// What `quillon export --desktop` (the desktop program's engine) writes for `mailboxes` into
// `outputFolder`; its exit code.
int ReferenceExport(const std::vector<std::string>& mailboxes, const std::string& outputFolder);

// Another program's dialog: the one visible top-level dialog of `processId`, or null.
HWND FindProgramDialog(DWORD processId);
// Starts the build's Quillon.exe and waits for its dialog: null when it did not start or show.
// *program receives the process either way (its handles null when it did not start).
HWND StartQuillon(PROCESS_INFORMATION* program);
// A control's text through WM_GETTEXT, which also reaches the controls of another process.
std::string ControlText(HWND control);
// Typing and clicking in a dialog of this or another process, with messages the system carries
// across (SetWindowText does not reach another process's controls).
void TypeInto(HWND dialog, int id, const std::string& text);
void ClickButton(HWND dialog, int id);

}  // namespace quillon::testing

#endif  // QUILLON_APP_TESTING_DIALOG_DRIVER_WIN32_H_
