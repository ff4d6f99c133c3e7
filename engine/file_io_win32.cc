// Win32 files for the engine: narrow-string API in the system code page.
#include <windows.h>

#include "engine/file_io.h"

namespace quillon {

const char kPathSeparator = '\\';

namespace {

// The system's own words for a Win32 error code, without the trailing line break.
std::string ErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = n ? std::string(text, n) : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  return result;
}

class Win32InputFile final : public InputFile {
 public:
  explicit Win32InputFile(HANDLE h) : h_(h) {}
  ~Win32InputFile() override { CloseHandle(h_); }

  uint32_t SizeLow32() override {
    const DWORD low = GetFileSize(h_, nullptr);
    return low == INVALID_FILE_SIZE ? 0 : low;
  }

  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      OVERLAPPED at = {};
      const uint64_t pos = offset + done;
      at.Offset = static_cast<DWORD>(pos);
      at.OffsetHigh = static_cast<DWORD>(pos >> 32);
      const DWORD want = static_cast<DWORD>(size - done > 0x40000000u ? 0x40000000u : size - done);
      DWORD got = 0;
      if (!ReadFile(h_, static_cast<char*>(buffer) + done, want, &got, &at) || got == 0) break;
      done += got;
    }
    return done;
  }

 private:
  HANDLE h_;
};

class Win32OutputFile final : public OutputFile {
 public:
  explicit Win32OutputFile(HANDLE h) : h_(h) {}
  ~Win32OutputFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD want = static_cast<DWORD>(size > 0x40000000u ? 0x40000000u : size);
      DWORD wrote = 0;
      if (!WriteFile(h_, p, want, &wrote, nullptr)) {
        *error = ErrorText(GetLastError());
        return false;
      }
      if (wrote == 0) {
        *error = ErrorText(ERROR_DISK_FULL);
        return false;
      }
      p += wrote;
      size -= wrote;
    }
    return true;
  }

  bool Close(std::string* error) override {
    const HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(h)) {
      *error = ErrorText(GetLastError());
      return false;
    }
    return true;
  }

 private:
  HANDLE h_;
};

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = ErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32InputFile>(h);
  }

  std::unique_ptr<OutputFile> CreateOrTruncate(const std::string& path,
                                               std::string* error) override {
    const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = ErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<Win32OutputFile>(h);
  }

  bool Remove(const std::string& path) override { return DeleteFileA(path.c_str()) != 0; }
};

}  // namespace

FileSystem* PlatformFileSystem() {
  static Win32FileSystem files;
  return &files;
}

}  // namespace quillon
