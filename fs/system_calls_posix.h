// The loops every POSIX file of this library runs the same way: whole writes, whole reads at an
// offset, a close that counts. Each returns 0, or the errno that stopped it; the caller puts the
// words around it. Included only by the *_posix.cc files of fs/.
#ifndef QUILLON_FS_SYSTEM_CALLS_POSIX_H_
#define QUILLON_FS_SYSTEM_CALLS_POSIX_H_

#include <cstddef>
#include <cstdint>

#include "fs/output_fs.h"  // ByteSpan

namespace quillon::posix {

// Writes every byte of the spans in turn, at the descriptor's position (a few dozen spans a
// writev). A call that writes nothing of a non-empty request means nothing more will fit: ENOSPC.
int WriteAll(int fd, const ByteSpan* spans, size_t count);
int WriteAll(int fd, const void* data, size_t size);

// Writes all `size` bytes at `offset`, leaving the descriptor's position alone.
int WriteAllAt(int fd, uint64_t offset, const void* data, size_t size);

// Reads up to `size` bytes at `offset`; *got says how many arrived: fewer only at the end of the
// file, or before the error returned.
int ReadAt(int fd, uint64_t offset, void* buffer, size_t size, size_t* got);

// Closes `fd`; an interrupted close has closed it all the same.
int Close(int fd);

}  // namespace quillon::posix

#endif  // QUILLON_FS_SYSTEM_CALLS_POSIX_H_
