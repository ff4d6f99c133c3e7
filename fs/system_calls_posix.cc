#include "fs/system_calls_posix.h"

#include <errno.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>

namespace quillon::posix {

int WriteAll(int fd, const ByteSpan* spans, size_t count) {
  iovec vectors[64];  // fewer than any system's IOV_MAX
  for (size_t i = 0; i < count;) {
    size_t filled = 0;
    for (; i < count && filled < std::size(vectors); ++i) {
      if (spans[i].size > 0) vectors[filled++] = {const_cast<void*>(spans[i].data), spans[i].size};
    }
    for (size_t at = 0; at < filled;) {  // the first vector not yet written whole
      const ssize_t n = writev(fd, vectors + at, static_cast<int>(filled - at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return n < 0 ? errno : ENOSPC;
      for (size_t left = static_cast<size_t>(n); left > 0;) {
        iovec& v = vectors[at];
        const size_t done = std::min(left, v.iov_len);
        v.iov_base = static_cast<char*>(v.iov_base) + done;
        v.iov_len -= done;
        left -= done;
        if (v.iov_len == 0) ++at;
      }
    }
  }
  return 0;
}

int WriteAll(int fd, const void* data, size_t size) {
  const ByteSpan span{data, size};
  return WriteAll(fd, &span, 1);
}

int WriteAllAt(int fd, uint64_t offset, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = pwrite(fd, p, size, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : ENOSPC;
    p += n;
    size -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return 0;
}

int ReadAt(int fd, uint64_t offset, void* buffer, size_t size, size_t* got) {
  *got = 0;
  while (*got < size) {
    const ssize_t n = pread(fd, static_cast<char*>(buffer) + *got, size - *got,
                            static_cast<off_t>(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) break;  // the end of the file
    *got += static_cast<size_t>(n);
  }
  return 0;
}

int Close(int fd) { return close(fd) != 0 && errno != EINTR ? errno : 0; }

}  // namespace quillon::posix
