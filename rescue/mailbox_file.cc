#include "rescue/mailbox_file.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace quillon::rescue {

const char* ReadFailureName(ReadFailure failure) {
  switch (failure) {
    case ReadFailure::kIoError:
      return "I/O error";
    case ReadFailure::kChanged:
      return "changed";
    case ReadFailure::kAborted:
      return "aborted";
    case ReadFailure::kNone:
      break;
  }
  return "";
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

MailboxFile::MailboxFile(InputFile* file, const std::atomic<bool>* abort)
    : MailboxFile(file, abort, CappedSize(file->Size())) {}

MailboxFile::MailboxFile(InputFile* file, const std::atomic<bool>* abort, uint32_t knownSize)
    : file_(file), abort_(abort), size_(knownSize) {}

bool MailboxFile::Fail(ReadFailure failure, uint64_t offset, std::string reason) {
  if (error_.failure == ReadFailure::kNone) error_ = ReadError{failure, offset, std::move(reason)};
  return false;
}

bool MailboxFile::Read(uint64_t offset, void* out, size_t length) {
  if (failed()) return false;
  if (Aborted()) return Fail(ReadFailure::kAborted, offset, "stopped on request");
  if (!Holds(offset, length)) {
    // The callers check ranges first; a range outside is a fault of theirs, not of the disk.
    return Fail(ReadFailure::kIoError, offset,
                "a read of " + std::to_string(length) + " bytes at offset " + Hex(offset) +
                    " lies past the end of the file (" + Hex(size_) + ")");
  }
  ++reads_;
  size_t got = 0;
  std::string error;
  const bool read = file_->ReadAt(offset, out, length, &got, &error);
  bytesRead_ += std::min(got, length);
  if (!read) return Fail(ReadFailure::kIoError, offset + got, error);
  if (got >= length) return true;
  // The file ends before the range its size held when reading began: it was cut while it was read.
  return Fail(ReadFailure::kChanged, offset + got,
              "the file shrank from " + std::to_string(size_) + " to " +
                  std::to_string(file_->Size()) + " bytes while it was being read");
}

size_t MailboxFile::ReadUpTo(uint64_t offset, void* out, size_t length) {
  if (offset >= size_) return 0;
  const size_t n = static_cast<size_t>(std::min<uint64_t>(length, size_ - offset));
  if (n <= viewMax()) {
    const uint8_t* bytes = View(offset, static_cast<uint32_t>(n), kAhead);
    if (bytes == nullptr) return 0;
    std::memcpy(out, bytes, n);
    return n;
  }
  return Read(offset, out, n) ? n : 0;
}

void MailboxFile::SetWindowSize(size_t ahead) {
  aheadSize_ = std::max<size_t>(ahead, 64);
  ReleaseWindows();
}

const uint8_t* MailboxFile::View(uint64_t offset, uint32_t length, Window window) {
  if (failed() || !Holds(offset, length)) return nullptr;
  if (length > viewMax()) {
    return Fail(ReadFailure::kIoError, offset, "a view larger than the read window was asked for"),
           nullptr;
  }
  for (const Buffer& b : windows_) {
    if (offset >= b.start && offset + length <= b.start + b.valid) {
      return b.bytes.get() + (offset - b.start);
    }
  }
  // A view behind the forward window goes to the other: the blocks of neighbouring messages
  // interleave, and pulling the forward window back would read again all that lies ahead.
  if (window == kAhead && windows_[kAhead].valid != 0 && offset < windows_[kAhead].start) {
    window = kAside;
  }
  // No larger than the file: a small file costs small windows. Both buffers are as large as the
  // forward window, since they change places.
  const size_t room = std::min<size_t>(aheadSize_, size_);
  for (Buffer& w : windows_) {
    if (w.capacity >= room) continue;
    w.bytes.reset(new uint8_t[room]);
    w.capacity = room;
    w.valid = 0;
  }
  Buffer& b = windows_[window];
  uint64_t back = std::min<uint64_t>(offset, aheadSize_ / 16);
  if (window == kAhead) {
    // Moving forward, the present window becomes the one behind: a message that began before a
    // long one ended lies a little behind, and is then read from memory. Only a little of what
    // lies before is read again, for views that reach across the two.
    if (b.valid != 0) std::swap(b, windows_[kAside]);
    back = std::min<uint64_t>(offset, room / 32);
  }
  const size_t capacity = window == kAhead ? room : std::min<size_t>(aheadSize_ / 8, room);
  const uint64_t start = offset - std::min<uint64_t>(back, capacity - length);
  const size_t want = static_cast<size_t>(std::min<uint64_t>(capacity, size_ - start));
  b.valid = 0;
  if (!Read(start, b.bytes.get(), want)) return nullptr;
  b.start = start;
  b.valid = want;
  return b.bytes.get() + (offset - start);
}

void MailboxFile::ReleaseWindows() {
  for (Buffer& b : windows_) b = Buffer{};
}

}  // namespace quillon::rescue
