// The mailbox file as the engine's readers see it. A read that fails, or that comes back short
// where the size taken at open says the file still has bytes (another program cut it), is
// recorded with where it happened; from then on every read delivers nothing, so every search ends
// and every copy stops at once, and the engine fails the mailbox with what was recorded. The end
// of the file is not a problem: a read past it is short as it always was.
#ifndef QUILLON_ENGINE_CHECKED_INPUT_H_
#define QUILLON_ENGINE_CHECKED_INPUT_H_

#include <cstdint>
#include <string>

#include "fs/file_io.h"

namespace quillon {

class CheckedInput final : public InputFile {
 public:
  enum class Problem {
    kNone,
    kReadError,  // the system reported an error
    kShrank,     // the file ended before the size taken at open
  };

  // Reads `file` (not owned; null detaches), whose size was taken as `size`, and forgets any
  // problem recorded before.
  void Attach(InputFile* file, uint32_t size);

  Problem problem() const { return problem_; }
  // Where the problem was met: the first byte that could not be read.
  uint64_t problemOffset() const { return problemOffset_; }
  // The system's words for a read error.
  const std::string& reason() const { return reason_; }

  // The size taken at open.
  uint64_t Size() override { return size_; }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got, std::string* error) override;

 private:
  InputFile* file_ = nullptr;
  uint32_t size_ = 0;
  Problem problem_ = Problem::kNone;
  uint64_t problemOffset_ = 0;
  std::string reason_;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_CHECKED_INPUT_H_
