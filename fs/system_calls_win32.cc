#include "fs/system_calls_win32.h"

#include <algorithm>

namespace quillon::win32 {
namespace {

// The most one call moves.
constexpr size_t kMostACall = size_t{1} << 30;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// Writes at `offset`, or at the handle's position when there is none.
DWORD Write(HANDLE h, const uint64_t* offset, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  for (uint64_t done = 0; size > 0;) {
    OVERLAPPED at = offset != nullptr ? At(*offset + done) : OVERLAPPED{};
    DWORD wrote = 0;
    if (!WriteFile(h, p, static_cast<DWORD>(std::min(size, kMostACall)), &wrote,
                   offset != nullptr ? &at : nullptr)) {
      return GetLastError();
    }
    if (wrote == 0) return ERROR_DISK_FULL;
    p += wrote;
    size -= wrote;
    done += wrote;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD WriteAll(HANDLE h, const void* data, size_t size) { return Write(h, nullptr, data, size); }

DWORD WriteAllAt(HANDLE h, uint64_t offset, const void* data, size_t size) {
  return Write(h, &offset, data, size);
}

DWORD ReadAt(HANDLE h, uint64_t offset, void* buffer, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    OVERLAPPED at = At(offset + *got);
    DWORD n = 0;
    if (!ReadFile(h, static_cast<char*>(buffer) + *got,
                  static_cast<DWORD>(std::min(size - *got, kMostACall)), &n, &at)) {
      const DWORD code = GetLastError();
      return code == ERROR_HANDLE_EOF ? ERROR_SUCCESS : code;  // at or past the end
    }
    if (n == 0) break;
    *got += n;
  }
  return ERROR_SUCCESS;
}

DWORD Close(HANDLE h) { return CloseHandle(h) ? ERROR_SUCCESS : GetLastError(); }

EntryKind EntryKindOf(const WIN32_FIND_DATAW& found) {
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

}  // namespace quillon::win32
