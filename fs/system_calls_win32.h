// The loops every Win32 file of this library runs the same way: whole writes, whole reads at an
// offset, a close that counts; and what a listed entry is. Each returns 0 (ERROR_SUCCESS), or the
// error code that stopped it; the caller puts the words around it (the narrow or the wide ones).
// Included only by the
// *_win32.cc files of fs/.
#ifndef QUILLON_FS_SYSTEM_CALLS_WIN32_H_
#define QUILLON_FS_SYSTEM_CALLS_WIN32_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "fs/folder_listing.h"  // EntryKind

namespace quillon::win32 {

// Writes all `size` bytes at the handle's position. A write that takes nothing means nothing
// more will fit: ERROR_DISK_FULL.
DWORD WriteAll(HANDLE h, const void* data, size_t size);

// Writes all `size` bytes at `offset`; the handle's own position does not matter.
DWORD WriteAllAt(HANDLE h, uint64_t offset, const void* data, size_t size);

// Reads up to `size` bytes at `offset`, leaving the handle's position alone (safe from several
// threads at once); *got says how many arrived: fewer only at the end of the file, or before the
// error returned.
DWORD ReadAt(HANDLE h, uint64_t offset, void* buffer, size_t size, size_t* got);

DWORD Close(HANDLE h);

// What a found entry is, seen without following a link.
EntryKind EntryKindOf(const WIN32_FIND_DATAW& found);

}  // namespace quillon::win32

#endif  // QUILLON_FS_SYSTEM_CALLS_WIN32_H_
