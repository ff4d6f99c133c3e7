#include <windows.h>

#include "fs/folder_listing.h"
#include "fs/system_calls_win32.h"
#include "win32/wide_text.h"

namespace quillon {

bool ListFolder(const std::string& folder, bool followLink, uint64_t maxEntries,
                std::vector<FolderEntry>* entries, bool* truncated, std::string* error) {
  entries->clear();
  *truncated = false;
  const DWORD attributes = GetFileAttributesW(WideFromUtf8(folder).c_str());
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
  HANDLE search = FindFirstFileW(WideFromUtf8(JoinPath(folder, "*")).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND) return true;  // no entry at all, not even "."
    *error = SystemErrorText(code);
    return false;
  }
  do {
    const std::string name = Utf8FromWide(found.cFileName);
    if (name == "." || name == "..") continue;
    if (entries->size() >= maxEntries) {
      *truncated = true;
      break;
    }
    FolderEntry entry{name, win32::EntryKindOf(found), 0};
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

}  // namespace quillon
