#include <windows.h>

#include "fs/system_calls_win32.h"
#include "fs/system_file.h"
#include "win32/wide_text.h"

namespace quillon {
namespace {

std::string Describe(const std::string& path, const char* what, DWORD code) {
  return path + ": " + what + ": " + SystemErrorText(code);
}

HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

std::unique_ptr<SystemFile> SystemFile::Create(const std::string& path, std::string* error) {
  HANDLE h = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *error = Describe(path, "cannot create", GetLastError());
    return nullptr;
  }
  return std::unique_ptr<SystemFile>(new SystemFile(reinterpret_cast<intptr_t>(h), path));
}

SystemFile::~SystemFile() {
  if (open_) CloseHandle(AsHandle(handle_));
}

bool SystemFile::WriteAt(uint64_t offset, const void* data, size_t size, std::string* error) {
  // Every write names its position, so the handle's own file pointer never matters.
  const DWORD code = win32::WriteAllAt(AsHandle(handle_), offset, data, size);
  if (code != ERROR_SUCCESS) *error = Describe(path_, "write failed", code);
  return code == ERROR_SUCCESS;
}

bool SystemFile::Close(std::string* error) {
  if (!open_) return true;
  open_ = false;
  const DWORD code = win32::Close(AsHandle(handle_));
  if (code != ERROR_SUCCESS) *error = Describe(path_, "close failed", code);
  return code == ERROR_SUCCESS;
}

bool MakeFolder(const std::string& path, std::string* error) {
  const std::wstring wide = WideFromUtf8(path);
  if (CreateDirectoryW(wide.c_str(), nullptr)) return true;
  const DWORD code = GetLastError();
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return true;
  }
  *error = Describe(path, "cannot create the folder", code);
  return false;
}

}  // namespace quillon
