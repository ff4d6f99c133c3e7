// STAND-IN, to be removed when the engine's UTF-8 file system for Windows lands: SystemFiles()
// then returns that one and this file goes. Until then the command reaches its files through
// the wide API here, so names outside the system code page work.
#include <windows.h>

#include <memory>

#include "cli/platform.h"
#include "cli/windows_text.h"
#include "engine/file_io.h"

namespace quillon {

namespace {

class WideInputFile final : public InputFile {
 public:
  explicit WideInputFile(HANDLE h) : h_(h) {}
  ~WideInputFile() override { CloseHandle(h_); }

  uint32_t SizeLow32() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(h_, &size)) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(size.QuadPart));
  }

  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      OVERLAPPED at = {};
      at.Offset = static_cast<DWORD>(offset + done);
      at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
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

class WideOutputFile final : public OutputFile {
 public:
  explicit WideOutputFile(HANDLE h) : h_(h) {}
  ~WideOutputFile() override {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const DWORD want = static_cast<DWORD>(size > 0x40000000u ? 0x40000000u : size);
      DWORD wrote = 0;
      if (!WriteFile(h_, p, want, &wrote, nullptr) || wrote == 0) {
        *error = SystemErrorText(wrote == 0 ? ERROR_DISK_FULL : GetLastError());
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
    if (CloseHandle(h)) return true;
    *error = SystemErrorText(GetLastError());
    return false;
  }

 private:
  HANDLE h_;
};

class WideFileSystem final : public FileSystem {
 public:
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    const HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = SystemErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<WideInputFile>(h);
  }

  std::unique_ptr<OutputFile> CreateOrTruncate(const std::string& path,
                                               std::string* error) override {
    const HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      *error = SystemErrorText(GetLastError());
      return nullptr;
    }
    return std::make_unique<WideOutputFile>(h);
  }

  bool Remove(const std::string& path) override {
    return DeleteFileW(WideFromUtf8(path).c_str()) != 0;
  }
};

}  // namespace

FileSystem* SystemFiles() {
  static WideFileSystem files;
  return &files;
}

}  // namespace quillon
