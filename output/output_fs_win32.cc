// The output folder on Windows, through the wide-character API: names are Unicode whatever the
// system code page, and paths take the "\\?\" form so that deep trees pass MAX_PATH.
#include <windows.h>

#include <functional>
#include <vector>

#include "output/output_fs.h"
#include "win32/wide_text.h"

namespace quillon::output {
namespace {

// The system's own words for a Win32 error code, after the path it concerns.
std::string ErrorText(const std::wstring& path, DWORD code) {
  const std::wstring_view shown =
      path.compare(0, 4, L"\\\\?\\") == 0 ? std::wstring_view(path).substr(4) : path;
  return Utf8FromWide(shown) + ": " + SystemErrorText(code);
}

bool WriteAll(HANDLE h, const void* data, size_t size, const std::wstring& path,
              std::string* error) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD want = static_cast<DWORD>(size > 0x40000000u ? 0x40000000u : size);
    DWORD done = 0;
    if (!WriteFile(h, p, want, &done, nullptr) || done == 0) {
      *error = ErrorText(path, done == 0 && GetLastError() == 0 ? ERROR_DISK_FULL : GetLastError());
      return false;
    }
    p += done;
    size -= done;
  }
  return true;
}

class Win32NewFile final : public NewFile {
 public:
  Win32NewFile(HANDLE h, std::wstring temporary,
               std::function<std::wstring(const std::string&)> full)
      : h_(h), temporary_(std::move(temporary)), full_(std::move(full)) {}
  ~Win32NewFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    if (!committed_) DeleteFileW(temporary_.c_str());
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    return WriteAll(h_, data, size, temporary_, error);
  }

  bool Commit(const std::string& finalPath, std::optional<int64_t> modified,
              std::string* error) override {
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
    if (!CloseHandle(h)) {
      *error = ErrorText(temporary_, GetLastError());
      return false;
    }
    const std::wstring target = full_(finalPath);
    if (!MoveFileExW(temporary_.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      *error = ErrorText(target, GetLastError());
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  HANDLE h_;
  std::wstring temporary_;
  std::function<std::wstring(const std::string&)> full_;
  bool committed_ = false;
};

class Win32AppendFile final : public AppendFile {
 public:
  Win32AppendFile(HANDLE h, std::wstring path) : h_(h), path_(std::move(path)) {}
  ~Win32AppendFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  bool Write(const void* data, size_t size, std::string* error) override {
    return WriteAll(h_, data, size, path_, error);
  }
  bool Close(std::string* error) override {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) {
      *error = ErrorText(path_, GetLastError());
      return false;
    }
    return true;
  }

 private:
  HANDLE h_;
  std::wstring path_;
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
    const std::wstring full = Full(folder);
    // Each folder from the outermost one.
    for (size_t sep = full.find(L'\\', 7);; sep = full.find(L'\\', sep + 1)) {
      const std::wstring part = full.substr(0, sep);
      // The root's own parents (a drive, a share) may refuse creation: what matters is the
      // check below.
      if (!CreateDirectoryW(part.c_str(), nullptr) && part.size() >= root_.size()) {
        const DWORD code = GetLastError();
        if (code != ERROR_ALREADY_EXISTS) {
          *error = ErrorText(part, code);
          return false;
        }
      }
      if (sep == std::wstring::npos) break;
    }
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      *error = ErrorText(full, ERROR_DIRECTORY);
      return false;
    }
    return true;
  }

  std::unique_ptr<NewFile> CreateTemporary(const std::string& temporaryPath,
                                           std::string* error) override {
    const std::wstring full = Full(temporaryPath);
    const HANDLE h = CreateFileW(full.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                 nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = ErrorText(full, GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32NewFile>(h, full,
                                          [this](const std::string& path) { return Full(path); });
  }

  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path, std::string* error) override {
    const std::wstring full = Full(path);
    const HANDLE h = CreateFileW(full.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = ErrorText(full, GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32AppendFile>(h, full);
  }

  bool List(const std::string& folder, std::vector<FolderEntry>* entries,
            std::string* error) override {
    entries->clear();
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
      entries->push_back(
          {Utf8FromWide(name), (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
    } while (FindNextFileW(find, &data));
    FindClose(find);
    return true;
  }

  bool Read(const std::string& path, const ChunkSink& sink, std::string* error) override {
    const std::wstring full = Full(path);
    const HANDLE h = CreateFileW(full.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = ErrorText(full, GetLastError());
      return false;
    }
    std::vector<uint8_t> buffer(256 * 1024);
    bool ok = true;
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(h, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
        *error = ErrorText(full, GetLastError());
        ok = false;
        break;
      }
      if (got == 0) break;
      if (!sink(buffer.data(), got)) {
        ok = false;
        break;
      }
    }
    CloseHandle(h);
    return ok;
  }

 private:
  std::wstring Full(const std::string& path) const {
    if (path.empty()) return root_;
    std::wstring wide = WideFromUtf8(path);
    for (wchar_t& c : wide) {
      if (c == L'/') c = L'\\';
    }
    return root_ + L"\\" + wide;
  }
  std::wstring root_;
};

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

}  // namespace quillon::output
