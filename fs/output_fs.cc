#include "fs/output_fs.h"

#include <memory>

namespace quillon {

bool OutputFs::Read(const std::string& path, const ChunkSink& sink, std::string* error) {
  const std::unique_ptr<InputFile> file = OpenForReading(path, error);
  if (!file) return false;
  // On the stack: --update reads a file per message, and a large buffer taken from the heap
  // and given back for each was returned to the system and faulted in again every time (half
  // the CPU time of an unchanged update of many small messages).
  uint8_t buffer[64 * 1024];
  for (uint64_t at = 0;;) {
    size_t got = 0;
    if (!file->ReadAt(at, buffer, sizeof buffer, &got, error)) return false;
    if (got > 0 && !sink(buffer, got)) return false;
    // A short read is the end: no further read needed to find it.
    if (got < sizeof buffer) return true;
    at += got;
  }
}

}  // namespace quillon
