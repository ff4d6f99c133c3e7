#include "output/output_fs.h"

#include <memory>

namespace quillon::output {

bool OutputFs::Read(const std::string& path, const ChunkSink& sink, std::string* error) {
  const std::unique_ptr<ReadableFile> file = OpenForReading(path, error);
  if (!file) return false;
  // Not zeroed first: --update reads thousands of small files, each through a buffer of its own.
  constexpr size_t kBuffer = 256 * 1024;
  const std::unique_ptr<uint8_t[]> buffer(new uint8_t[kBuffer]);
  for (uint64_t at = 0;;) {
    size_t got = 0;
    if (!file->ReadAt(at, buffer.get(), kBuffer, &got, error)) return false;
    if (got == 0) return true;
    if (!sink(buffer.get(), got)) return false;
    at += got;
  }
}

}  // namespace quillon::output
