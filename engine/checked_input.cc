#include "engine/checked_input.h"

#include <algorithm>

namespace quillon {

void CheckedInput::Attach(InputFile* file, uint32_t size) {
  file_ = file;
  size_ = size;
  problem_ = Problem::kNone;
  problemOffset_ = 0;
  reason_.clear();
}

bool CheckedInput::ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                          std::string* error) {
  *got = 0;
  if (file_ == nullptr || problem_ != Problem::kNone) {
    *error = reason_;
    return false;
  }
  if (!file_->ReadAt(offset, buffer, size, got, &reason_)) {
    problem_ = Problem::kReadError;
    problemOffset_ = offset + *got;
    *error = reason_;
    return false;
  }
  // A file that grew meanwhile may deliver more than its size said; only less is a problem.
  const uint64_t expected = offset < size_ ? std::min<uint64_t>(size, size_ - offset) : 0;
  if (*got < expected) {
    problem_ = Problem::kShrank;
    problemOffset_ = offset + *got;
    reason_.clear();
    *error = reason_;
    return false;
  }
  return true;
}

}  // namespace quillon
