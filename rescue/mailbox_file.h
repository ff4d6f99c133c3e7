// The rescue engine's one way to the mailbox file. Every read is checked against the size taken
// when reading began: a read the system fails is an I/O error with its reason, and one that comes
// back short inside that size means the file shrank ("changed"). Neither is taken as the end of
// the file. How the input-file interface reports errors is known here and nowhere else.
#ifndef QUILLON_RESCUE_MAILBOX_FILE_H_
#define QUILLON_RESCUE_MAILBOX_FILE_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fs/file_io.h"

namespace quillon::rescue {

enum class ReadFailure : uint8_t {
  kNone,
  kIoError,  // the system could not read bytes the file holds
  kChanged,  // the file is shorter now than when reading began
  kAborted,  // the caller asked to stop
};

// "I/O error", "changed", "aborted" (empty for kNone).
const char* ReadFailureName(ReadFailure failure);

// Why the file could not be read, where, and in words for the user ("the read of 262144 bytes at
// offset 0x1A2B00 failed after 4096 bytes").
struct ReadError {
  ReadFailure failure = ReadFailure::kNone;
  uint64_t offset = 0;
  std::string reason;
};

class MailboxFile {
 public:
  // Reads `file` (not owned; it must outlive this object). Its size is taken now, unless
  // `knownSize` is given: the size an earlier stage read the file with, so that a file that
  // shrank since then is noticed. A read gives up with kAborted once *abort is true.
  explicit MailboxFile(InputFile* file, const std::atomic<bool>* abort = nullptr);
  MailboxFile(InputFile* file, const std::atomic<bool>* abort, uint32_t knownSize);

  // The file's length when reading began, at most 0xFFFFFFFF (offsets in the file are 32-bit).
  uint32_t size() const { return size_; }

  // True when [offset, offset + length) lies within size().
  bool Holds(uint64_t offset, uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // Reads exactly `length` bytes at `offset`; the range must lie within size(). False on a
  // failure, which failure() then describes; after one failure every read fails.
  bool Read(uint64_t offset, void* out, size_t length);

  // The `length` bytes at `offset`, through one of two read windows: kAhead follows a reader that
  // moves forward through the file, kAside serves short jumps back without losing the forward
  // window. When the forward window moves on, what it held becomes the window behind. Null when the
  // range does not lie within size() (failure() stays kNone: that is the file's shape, not an
  // error) or on a failure. `length` is at most viewMax(); the bytes stay valid until the next
  // call.
  enum Window { kAhead = 0, kAside = 1 };
  static constexpr size_t kAheadSize = size_t{1} << 20;
  const uint8_t* View(uint64_t offset, uint32_t length, Window window = kAhead);
  // The forward window's size, kAheadSize unless set (a read for a view behind it reads an
  // eighth of that); no window is larger than the file. For callers that read small files many
  // times over.
  void SetWindowSize(size_t ahead);
  uint32_t viewMax() const { return static_cast<uint32_t>(aheadSize_ / 8); }
  // Frees the windows' memory.
  void ReleaseWindows();

  // The file as an InputFile whose reads go through this object, for readers written against
  // InputFile (the catalogue): reads up to viewMax() bytes are served from the read windows,
  // larger ones straight; a short read is kept as a failure here as for any other. It delivers
  // what lies within size() and nothing past it.
  InputFile* AsInputFile() { return &adapter_; }

  bool failed() const { return error_.failure != ReadFailure::kNone; }
  const ReadError& error() const { return error_; }

  // Counts, for tests and the fuzzer's checks.
  uint64_t reads() const { return reads_; }
  uint64_t bytesRead() const { return bytesRead_; }

 private:
  struct Buffer {
    std::unique_ptr<uint8_t[]> bytes;  // not zeroed: only what a read filled is used
    size_t capacity = 0;
    uint64_t start = 0;
    size_t valid = 0;
  };
  class Adapter final : public InputFile {
   public:
    explicit Adapter(MailboxFile* owner) : owner_(owner) {}
    uint64_t Size() override { return owner_->size_; }
    // A failure is kept by the owner, and reported here as the system's error it stands for.
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                std::string* error) override {
      *got = owner_->ReadUpTo(offset, buffer, size);
      if (!owner_->failed()) return true;
      *error = owner_->error_.reason;
      return false;
    }

   private:
    MailboxFile* owner_;
  };
  size_t ReadUpTo(uint64_t offset, void* out, size_t length);
  bool Fail(ReadFailure failure, uint64_t offset, std::string reason);
  bool Aborted() const { return abort_ != nullptr && abort_->load(std::memory_order_relaxed); }

  InputFile* file_;
  const std::atomic<bool>* abort_;
  uint32_t size_;
  size_t aheadSize_ = kAheadSize;
  Adapter adapter_{this};
  Buffer windows_[2];
  ReadError error_;
  uint64_t reads_ = 0;
  uint64_t bytesRead_ = 0;
};

// "0x1A2B00".
std::string Hex(uint64_t value);

}  // namespace quillon::rescue

#endif  // QUILLON_RESCUE_MAILBOX_FILE_H_
