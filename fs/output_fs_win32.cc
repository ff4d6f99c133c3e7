// The output folder on Windows, through the wide-character API: names are Unicode whatever the
// system code page, and paths take the "\\?\" form so that deep trees pass MAX_PATH.
//
// Windows has no openat: a folder is entered by its whole path. So that no link can lead a write
// outside the output folder, each folder below it is opened level by level without following a
// reparse point (a symbolic link, a junction, a mount point), refused when it is one, and held
// open without delete sharing while it is used: a held folder can be neither renamed nor removed,
// so the path keeps naming the folders that were checked.
#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "fs/output_fs.h"
#include "fs/system_calls_win32.h"
#include "win32/wide_text.h"

namespace quillon {
namespace {

std::string Shown(const std::wstring& path) {
  const std::wstring_view shown =
      path.compare(0, 4, L"\\\\?\\") == 0 ? std::wstring_view(path).substr(4) : path;
  return Utf8FromWide(shown);
}

// The system's own words for a Win32 error code, after the path it concerns.
std::string ErrorText(const std::wstring& path, DWORD code) {
  return Shown(path) + ": " + SystemErrorText(code);
}

// Said of a reparse point met in the output folder. The sentence names it: callers show what
// follows the last ": " of an error as its reason.
constexpr char kLinkWords[] = " is a link (a reparse point), which the export does not follow";

// The system call's failure `code` (ERROR_SUCCESS for none) as an error about `path`.
bool Done(DWORD code, const std::wstring& path, std::string* error) {
  if (code != ERROR_SUCCESS) *error = ErrorText(path, code);
  return code == ERROR_SUCCESS;
}

bool CutAt(HANDLE h, uint64_t size, const std::wstring& path, std::string* error) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !SetEndOfFile(h)) {
    *error = ErrorText(path, GetLastError());
    return false;
  }
  return true;
}

// Opens `path` as what it is, a reparse point not followed; fails with *error when it is a
// reparse point, a folder or not a file on a disk.
HANDLE OpenRegular(const std::wstring& path, DWORD access, DWORD share, DWORD disposition,
                   DWORD flags, std::string* error) {
  const HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, disposition,
                               flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = ErrorText(path, GetLastError());
    return h;
  }
  BY_HANDLE_FILE_INFORMATION info;
  const bool known = GetFileInformationByHandle(h, &info) != 0;
  if (known && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    *error = Shown(path) + kLinkWords;
  } else if (!known || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
             GetFileType(h) != FILE_TYPE_DISK) {
    *error = Shown(path) + " is not a regular file";
  } else {
    return h;
  }
  CloseHandle(h);
  return INVALID_HANDLE_VALUE;
}

// A folder held open, so that it stays where it was checked.
struct Dir {
  explicit Dir(HANDLE handle) : h(handle) {}
  ~Dir() { CloseHandle(h); }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  const HANDLE h;
};
using DirRef = std::shared_ptr<const Dir>;

class Win32OutputFs;

class Win32NewFile final : public NewFile {
 public:
  Win32NewFile(HANDLE h, std::wstring temporary, Win32OutputFs* fs)
      : h_(h), temporary_(std::move(temporary)), fs_(fs) {}
  ~Win32NewFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    if (!committed_) DeleteFileW(temporary_.c_str());
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    return Done(win32::WriteAll(h_, data, size), temporary_, error);
  }
  bool CutBack(uint64_t size, std::string* error) override {
    return CutAt(h_, size, temporary_, error);
  }
  bool Commit(const std::string& finalPath, std::optional<int64_t> modified,
              std::string* error) override;

 private:
  HANDLE h_;
  std::wstring temporary_;
  Win32OutputFs* fs_;
  bool committed_ = false;
};

class Win32AppendFile final : public AppendFile {
 public:
  Win32AppendFile(HANDLE h, uint64_t start, std::wstring path)
      : h_(h), start_(start), path_(std::move(path)) {}
  ~Win32AppendFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  bool Write(const void* data, size_t size, std::string* error) override {
    return Done(win32::WriteAll(h_, data, size), path_, error);
  }
  bool CutBack(uint64_t size, std::string* error) override {
    return CutAt(h_, start_ + size, path_, error);
  }
  bool Close(std::string* error) override {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return Done(win32::Close(h), path_, error);
  }

 private:
  HANDLE h_;
  uint64_t start_;  // the file's size when it was opened; writes go on from its end
  std::wstring path_;
};

class Win32ReadableFile final : public InputFile {
 public:
  Win32ReadableFile(HANDLE h, std::wstring path) : h_(h), path_(std::move(path)) {}
  ~Win32ReadableFile() override { CloseHandle(h_); }
  uint64_t Size() override {
    LARGE_INTEGER size;
    return GetFileSizeEx(h_, &size) && size.QuadPart > 0 ? static_cast<uint64_t>(size.QuadPart) : 0;
  }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    return Done(win32::ReadAt(h_, offset, buffer, size, got), path_, error);
  }

 private:
  HANDLE h_;
  std::wstring path_;
};

// The lock file, opened with no sharing: a second opening fails until the handle is closed, by
// the run or by the system when the process ends, and the file goes with it.
class Win32Lock final : public Held {
 public:
  explicit Win32Lock(HANDLE h) : h_(h) {}
  ~Win32Lock() override { CloseHandle(h_); }

 private:
  HANDLE h_;
};

class Win32OutputFs final : public OutputFs {
 public:
  explicit Win32OutputFs(const std::string& root) {
    std::wstring wide = WideFromUtf8(root.empty() ? "." : root);
    for (wchar_t& c : wide) {
      if (c == L'/') c = L'\\';
    }
    const DWORD n = GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    std::wstring full(n, L'\0');
    const DWORD got = GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
    full.resize(got);
    while (full.size() > 3 && full.back() == L'\\') full.pop_back();
    // "\\?\" lets paths pass MAX_PATH; a UNC path takes "\\?\UNC\".
    if (full.compare(0, 2, L"\\\\") == 0) {
      root_ = L"\\\\?\\UNC\\" + full.substr(2);
    } else {
      root_ = L"\\\\?\\" + full;
    }
  }

  bool MakeFolders(const std::string& folder, std::string* error) override {
    return Enter(folder, true, error) != nullptr;
  }

  std::unique_ptr<NewFile> CreateTemporary(const std::string& temporaryPath,
                                           std::string* error) override {
    const DirRef dir = Enter(Parent(temporaryPath), false, error);
    if (!dir) return nullptr;
    const std::wstring full = Full(temporaryPath);
    // CREATE_NEW fails on any name that is there, a reparse point included.
    const HANDLE h = CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = ErrorText(full, GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32NewFile>(h, full, this);
  }

  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path, std::string* error) override {
    const DirRef dir = Enter(Parent(path), false, error);
    if (!dir) return nullptr;
    const std::wstring full = Full(path);
    // Write access (not append only), so that CutBack can set the end; the writes go on from
    // the end where the file is opened.
    const HANDLE h = OpenRegular(full, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, error);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER end;
    const LARGE_INTEGER zero{};
    if (!SetFilePointerEx(h, zero, &end, FILE_END)) {
      *error = ErrorText(full, GetLastError());
      CloseHandle(h);
      return nullptr;
    }
    return std::make_unique<Win32AppendFile>(h, static_cast<uint64_t>(end.QuadPart), full);
  }

  bool List(const std::string& folder, std::vector<FolderEntry>* entries,
            std::string* error) override {
    entries->clear();
    bool missing = false;
    const DirRef dir = Enter(folder, false, error, &missing);
    if (!dir) return missing;
    const std::wstring full = Full(folder);
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((full + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
      *error = ErrorText(full, code);
      return false;
    }
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      // A reparse point is no folder of the output, whatever it leads to.
      entries->push_back({Utf8FromWide(name), win32::EntryKindOf(data)});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
  }

  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    const DirRef dir = Enter(Parent(path), false, error);
    if (!dir) return nullptr;
    const std::wstring full = Full(path);
    const HANDLE h =
        OpenRegular(full, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, error);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<Win32ReadableFile>(h, full);
  }

  std::unique_ptr<Held> Lock(const std::string& name, bool* busy, std::string* error) override {
    *busy = false;
    if (!Enter("", true, error)) return nullptr;
    const std::wstring full = Full(name);
    const HANDLE h = CreateFileW(
        full.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      // A lock file being let go of by the run before refuses access until it is gone.
      *busy = code == ERROR_SHARING_VIOLATION ||
              (code == ERROR_ACCESS_DENIED &&
               GetFileAttributesW(full.c_str()) != INVALID_FILE_ATTRIBUTES);
      *error = *busy ? Shown(full) + ": held by another process" : ErrorText(full, code);
      return nullptr;
    }
    return std::make_unique<Win32Lock>(h);
  }

  // Renames `temporary` over `finalPath`, which must not be a folder (a junction included);
  // anything else there is replaced (a link itself, not what it leads to).
  bool Place(const std::wstring& temporary, const std::string& finalPath, std::string* error) {
    const DirRef dir = Enter(Parent(finalPath), false, error);
    if (!dir) return false;
    const std::wstring target = Full(finalPath);
    const DWORD attributes = GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      *error = Shown(target) + " is a folder; not replaced";
      return false;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      *error = ErrorText(target, GetLastError());
      return false;
    }
    return true;
  }

 private:
  static std::string Parent(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "" : path.substr(0, slash);
  }

  std::wstring Full(const std::string& path) const {
    if (path.empty()) return root_;
    std::wstring wide = WideFromUtf8(path);
    for (wchar_t& c : wide) {
      if (c == L'/') c = L'\\';
    }
    return root_ + L"\\" + wide;
  }

  // Opens the folder at `full` to hold it: as it is when `followLinks` is false, refusing a
  // reparse point; shared for reading and writing, not for deleting (nor so renaming).
  static HANDLE OpenFolder(const std::wstring& full, bool followLinks, std::string* error,
                           bool* missing) {
    const HANDLE h = CreateFileW(
        full.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
        OPEN_EXISTING,
        FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      if (missing != nullptr) {
        *missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
      }
      *error = ErrorText(full, code);
      return h;
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) {
      *error = ErrorText(full, GetLastError());
    } else if (!followLinks && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      *error = Shown(full) + kLinkWords;
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      *error = ErrorText(full, ERROR_DIRECTORY);
    } else {
      return h;
    }
    CloseHandle(h);
    return INVALID_HANDLE_VALUE;
  }

  // The folder `folder` ("" the output folder), each level below the output folder checked and
  // held; with `create`, missing levels are made. Null with *error when a level is missing
  // (*missing then set), is a reparse point, or is no folder.
  DirRef Enter(const std::string& folder, bool create, std::string* error,
               bool* missing = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (missing != nullptr) *missing = false;
    if (!rootDir_) {
      // The output folder itself, as the user named it (a link there is the user's own): every
      // missing folder above it is made too.
      for (size_t sep = root_.find(L'\\', 7); create; sep = root_.find(L'\\', sep + 1)) {
        const std::wstring part = root_.substr(0, sep);
        // The root's own parents (a drive, a share) may refuse creation: what matters is that
        // the folder opens below.
        CreateDirectoryW(part.c_str(), nullptr);
        if (sep == std::wstring::npos) break;
      }
      const HANDLE h = OpenFolder(root_, true, error, missing);
      if (h == INVALID_HANDLE_VALUE) return nullptr;
      rootDir_ = std::make_shared<const Dir>(h);
    }
    if (folder.empty()) return rootDir_;
    const auto cached = open_.find(folder);
    if (cached != open_.end()) return cached->second;
    // Every level is held from here on while the folder is; a level met before is held already.
    if (open_.size() >= 1024) open_.clear();
    DirRef at;
    for (size_t slash = folder.find('/');; slash = folder.find('/', slash + 1)) {
      const std::string level = folder.substr(0, slash);
      const auto found = open_.find(level);
      if (found != open_.end()) {
        at = found->second;
      } else {
        const std::wstring full = Full(level);
        if (create && !CreateDirectoryW(full.c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS) {
          *error = ErrorText(full, GetLastError());
          return nullptr;
        }
        const HANDLE h = OpenFolder(full, false, error, missing);
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        at = std::make_shared<const Dir>(h);
        open_[level] = at;
      }
      if (slash == std::string::npos) break;
    }
    return at;
  }

  std::wstring root_;
  std::mutex mutex_;
  DirRef rootDir_;                      // once opened
  std::map<std::string, DirRef> open_;  // folders below it, by path, each level of each
};

bool Win32NewFile::Commit(const std::string& finalPath, std::optional<int64_t> modified,
                          std::string* error) {
  if (modified) {
    // FILETIME counts 100 ns from 1601-01-01.
    const uint64_t ticks = static_cast<uint64_t>(*modified + 11644473600) * 10000000u;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(ticks);
    ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    if (!SetFileTime(h_, nullptr, nullptr, &ft)) {
      *error = ErrorText(temporary_, GetLastError());
      return false;
    }
  }
  const HANDLE h = h_;
  h_ = INVALID_HANDLE_VALUE;
  if (!Done(win32::Close(h), temporary_, error)) return false;
  if (!fs_->Place(temporary_, finalPath, error)) return false;
  committed_ = true;
  return true;
}

}  // namespace

std::unique_ptr<OutputFs> PlatformOutputFs(const std::string& root) {
  return std::make_unique<Win32OutputFs>(root);
}

char PlatformMaildirInfoSeparator() { return ';'; }

uint64_t PlatformProcessId() { return GetCurrentProcessId(); }

std::string PlatformHostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1];
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) return "localhost";
  return Utf8FromWide(std::wstring_view(name, size));
}

}  // namespace quillon
