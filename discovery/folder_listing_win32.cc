#include <windows.h>

#include <cwchar>

#include "discovery/folder_listing.h"

namespace quillon {

namespace {

// The command speaks UTF-8; the system's wide API takes every name, the ANSI one only those of
// its code page.
std::wstring Wide(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  return wide;
}

std::string Utf8(const wchar_t* wide, size_t length) {
  if (length == 0) return std::string();
  const int n =
      WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, static_cast<int>(length), utf8.data(), n, nullptr, nullptr);
  return utf8;
}

std::string SystemErrorText(DWORD code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string result =
      length > 0 && text != nullptr ? Utf8(text, length) : "system error " + std::to_string(code);
  if (text != nullptr) LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r' ||
                             result.back() == ' ' || result.back() == '.')) {
    result.pop_back();
  }
  return result;
}

EntryKind KindOf(const WIN32_FIND_DATAW& found) {
  const DWORD attributes = found.dwFileAttributes;
  const bool reparse = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    // Junctions, mount points and folder links alike: never entered.
    return reparse ? EntryKind::kOther : EntryKind::kFolder;
  }
  // A file that is a link is not followed; other reparse points (deduplicated or cloud files)
  // hold their data and count as files.
  if (reparse && found.dwReserved0 == IO_REPARSE_TAG_SYMLINK) return EntryKind::kOther;
  return EntryKind::kRegularFile;
}

}  // namespace

bool ListFolder(const std::string& folder, bool followLink, uint64_t maxEntries,
                std::vector<FolderEntry>* entries, bool* truncated, std::string* error) {
  entries->clear();
  *truncated = false;
  const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = SystemErrorText(GetLastError());
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    *error = SystemErrorText(ERROR_DIRECTORY);
    return false;
  }
  if (!followLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    *error = SystemErrorText(ERROR_CANT_ACCESS_FILE);
    return false;
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(Wide(JoinPath(folder, "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;  // no entry at all, not even "."
    *error = SystemErrorText(code);
    return false;
  }
  do {
    const std::string name = Utf8(found.cFileName, wcslen(found.cFileName));
    if (name == "." || name == "..") continue;
    if (entries->size() >= maxEntries) {
      *truncated = true;
      break;
    }
    FolderEntry entry{name, KindOf(found), 0};
    if (entry.kind == EntryKind::kRegularFile) {
      entry.size = (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
    }
    entries->push_back(std::move(entry));
  } while (FindNextFileW(search, &found));
  const DWORD code = *truncated ? ERROR_NO_MORE_FILES : GetLastError();
  FindClose(search);
  if (code != ERROR_NO_MORE_FILES) {
    *error = SystemErrorText(code);
    entries->clear();
    return false;
  }
  return true;
}

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (!folder.empty() && IsPathSeparator(folder.back())) return folder + name;
  return folder + '\\' + name;
}

bool IsPathSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace quillon
