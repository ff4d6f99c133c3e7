// Win32 files for the engine, in two flavours over one implementation: narrow paths in the system
// code page through the A functions (the desktop program), and UTF-8 paths converted to UTF-16
// for the W functions (the command), so any file name can be reached.
#include <windows.h>

#include <random>

#include "fs/file_io.h"
#include "fs/system_calls_win32.h"
#include "win32/wide_text.h"

namespace quillon {

namespace {

std::string TrimmedMessage(std::string text) {
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text;
}

// The system's own words for a Win32 error code, in the system code page.
std::string NarrowErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  return TrimmedMessage(result);
}

// The narrow family: paths as given, the A functions.
struct NarrowPaths {
  using Path = std::string;
  static bool Convert(const std::string& path, Path* out, std::string*) {
    *out = path;
    return true;
  }
  static Path Append(const Path& a, const std::string& b) { return a + b; }
  static size_t LastSeparator(const Path& p) { return p.find_last_of("\\/"); }
  static HANDLE Create(const Path& p, DWORD access, DWORD disposition) {
    return CreateFileA(p.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, 0, nullptr);
  }
  static BOOL Move(const Path& from, const Path& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  static BOOL Delete(const Path& p) { return DeleteFileA(p.c_str()); }
  static std::string ErrorText(DWORD code) { return NarrowErrorText(code); }
};

// The wide family: UTF-8 in, UTF-16 to the W functions; '/' becomes '\\', and a path too long
// for the classic limit is made absolute and given the "\\?\" prefix that lifts it.
struct WidePaths {
  using Path = std::wstring;
  static bool Convert(const std::string& path, Path* out, std::string* error) {
    out->clear();
    if (path.empty()) return true;
    if (!StrictWideFromUtf8(path, out)) {
      *error = "the path is not valid UTF-8";
      return false;
    }
    for (wchar_t& c : *out) {
      if (c == L'/') c = L'\\';
    }
    if (out->size() >= MAX_PATH - 12 && out->compare(0, 4, L"\\\\?\\") != 0) {
      const DWORD need = GetFullPathNameW(out->c_str(), 0, nullptr, nullptr);
      std::wstring full(need, L'\0');
      const DWORD got = need ? GetFullPathNameW(out->c_str(), need, &full[0], nullptr) : 0;
      if (got > 0 && got < need) {
        full.resize(got);
        *out =
            full.compare(0, 2, L"\\\\") == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
      }
    }
    return true;
  }
  static Path Append(const Path& a, const std::string& b) { return a + Path(b.begin(), b.end()); }
  static size_t LastSeparator(const Path& p) { return p.find_last_of(L"\\/"); }
  static HANDLE Create(const Path& p, DWORD access, DWORD disposition) {
    return CreateFileW(p.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, 0, nullptr);
  }
  static BOOL Move(const Path& from, const Path& to) {
    return MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING);
  }
  static BOOL Delete(const Path& p) { return DeleteFileW(p.c_str()); }
  static std::string ErrorText(DWORD code) { return SystemErrorText(code); }
};

// The system call's failure `code` (ERROR_SUCCESS for none) in the family's words.
template <typename Paths>
bool Done(DWORD code, std::string* error) {
  if (code != ERROR_SUCCESS) *error = Paths::ErrorText(code);
  return code == ERROR_SUCCESS;
}

template <typename Paths>
class Win32InputFile final : public InputFile {
 public:
  explicit Win32InputFile(HANDLE h) : h_(h) {}
  ~Win32InputFile() override { CloseHandle(h_); }

  uint64_t Size() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h_, &size) || size.QuadPart < 0) return 0;
    return static_cast<uint64_t>(size.QuadPart);
  }

  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    return Done<Paths>(win32::ReadAt(h_, offset, buffer, size, got), error);
  }

 private:
  HANDLE h_;
};

template <typename Paths>
class Win32OutputFile final : public OutputFile {
 public:
  using Path = typename Paths::Path;
  Win32OutputFile(HANDLE h, Path temp, Path path)
      : h_(h), temp_(std::move(temp)), path_(std::move(path)) {}
  ~Win32OutputFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    if (!placed_) Paths::Delete(temp_);
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    return Done<Paths>(win32::WriteAll(h_, data, size), error);
  }

  bool Close(std::string* error) override {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return Done<Paths>(win32::Close(h), error);
  }

  bool Place(std::string* error) override {
    // The directory entry is replaced; a link of that name is not followed.
    if (!Paths::Move(temp_, path_)) {
      *error = Paths::ErrorText(GetLastError());
      return false;
    }
    placed_ = true;
    return true;
  }

 private:
  HANDLE h_;
  Path temp_;
  Path path_;
  bool placed_ = false;
};

// A name no other file of the folder is likely to have; CREATE_NEW settles it.
std::string TemporaryLeaf() {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  thread_local std::mt19937_64 random{static_cast<uint64_t>(now.QuadPart) ^
                                      (uint64_t{GetCurrentProcessId()} << 32) ^
                                      GetCurrentThreadId()};
  std::string name = ".quillon-";
  for (int i = 0; i < 10; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name + ".tmp";
}

template <typename Paths>
class Win32FileSystem final : public FileSystem {
 public:
  using Path = typename Paths::Path;

  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    Path p;
    if (!Paths::Convert(path, &p, error)) return nullptr;
    const HANDLE h = Paths::Create(p, GENERIC_READ, OPEN_EXISTING);
    if (h == INVALID_HANDLE_VALUE) {
      *error = Paths::ErrorText(GetLastError());
      return nullptr;
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
      CloseHandle(h);
      *error = "not a regular file";
      return nullptr;
    }
    return std::make_unique<Win32InputFile<Paths>>(h);
  }

  std::unique_ptr<OutputFile> CreateReplacing(const std::string& path,
                                              std::string* error) override {
    Path p;
    if (!Paths::Convert(path, &p, error)) return nullptr;
    const size_t separator = Paths::LastSeparator(p);
    const Path folder = separator == Path::npos ? Path() : p.substr(0, separator + 1);
    for (int attempt = 0;; ++attempt) {
      const Path temp = Paths::Append(folder, TemporaryLeaf());
      // CREATE_NEW never opens what is there, a link included.
      const HANDLE h = Paths::Create(temp, GENERIC_READ | GENERIC_WRITE, CREATE_NEW);
      if (h != INVALID_HANDLE_VALUE) return std::make_unique<Win32OutputFile<Paths>>(h, temp, p);
      const DWORD code = GetLastError();
      if ((code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) && attempt < 100) continue;
      *error = Paths::ErrorText(code);
      return nullptr;
    }
  }
};

}  // namespace

FileSystem* PlatformFileSystem() {
  static Win32FileSystem<NarrowPaths> files;
  return &files;
}

FileSystem* Utf8FileSystem() {
  static Win32FileSystem<WidePaths> files;
  return &files;
}

}  // namespace quillon
