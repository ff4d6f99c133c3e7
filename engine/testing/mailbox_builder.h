// Builds small mailbox files by hand for tests: blocks placed at chosen offsets with chosen fields.
#ifndef QUILLON_ENGINE_TESTING_MAILBOX_BUILDER_H_
#define QUILLON_ENGINE_TESTING_MAILBOX_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "engine/extract_sink.h"

namespace quillon {

class MailboxBuilder {
 public:
  // A file of `size` zero bytes whose first word is `firstWord` (real files start with a
  // non-zero magic).
  explicit MailboxBuilder(size_t size, uint32_t firstWord = 0xFE12ADCFu);

  void PutWord(size_t at, uint32_t value);
  // A block header at `at`, with `data` at the start of its data area.
  void Block(uint32_t at, uint32_t self, uint32_t blockSize, uint32_t dataLength, uint32_t next,
             const std::string& data = "");
  // A well-formed message: `text` cut into `blockSize` pieces, one per offset, linked in the
  // order given. Returns `text`, for comparison with what the export writes.
  std::string Message(const std::vector<uint32_t>& offsets, const std::string& text,
                      uint32_t blockSize = 0x200);

  std::string bytes;
};

// Text of `length` printable bytes, different for each `seed`.
std::string FillerText(size_t length, uint32_t seed);

// Records the names the engine announces; answers false on call `stopAtCall` (1-based; 0 never).
class RecordingSink final : public IExtractSink {
 public:
  explicit RecordingSink(size_t stopAtCall = 0) : stopAtCall_(stopAtCall) {}
  bool OnNextFile(const char* fileName) override {
    names.emplace_back(fileName);
    return stopAtCall_ == 0 || names.size() < stopAtCall_;
  }
  std::vector<std::string> names;

 private:
  size_t stopAtCall_;
};

}  // namespace quillon

#endif  // QUILLON_ENGINE_TESTING_MAILBOX_BUILDER_H_
