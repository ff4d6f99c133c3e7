#include "cli/plan_walk.h"

#include <algorithm>
#include <thread>
#include <utility>

namespace quillon {

using rescue::PlannedMessage;
using rescue::ReadOutcome;

std::unique_ptr<InputFile> OpenMailbox(const std::string& path,
                                       std::function<void(uint64_t)> onRead, std::string* error) {
  std::unique_ptr<InputFile> file = Utf8FileSystem()->OpenForReading(path, error);
  if (!file || !onRead) return file;
  class Watched final : public InputFile {
   public:
    Watched(std::unique_ptr<InputFile> f, std::function<void(uint64_t)> on)
        : file_(std::move(f)), on_(std::move(on)), owner_(std::this_thread::get_id()) {}
    uint64_t Size() override { return file_->Size(); }
    // Safe from two threads (the scan reads two halves at once); only the opening thread's
    // reads move the progress line, which is not.
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
                std::string* error) override {
      const bool read = file_->ReadAt(offset, buffer, size, got, error);
      if (std::this_thread::get_id() == owner_) on_(offset + *got);
      return read;
    }

   private:
    std::unique_ptr<InputFile> file_;
    std::function<void(uint64_t)> on_;
    const std::thread::id owner_;
  };
  return std::make_unique<Watched>(std::move(file), std::move(onRead));
}

bool ReadMessageStart(rescue::MessageReader* reader, const PlannedMessage& message,
                      std::string* start, ReadOutcome* outcome) {
  start->clear();
  *outcome = reader->Read(message, [&](const uint8_t* p, size_t n) {
    const size_t take = std::min(n, kStartBytes - start->size());
    const size_t from = start->size() < 3 ? 0 : start->size() - 3;
    start->append(reinterpret_cast<const char*>(p), take);
    // The header block is all the facts need.
    const bool headerEnded = start->find("\n\n", from) != std::string::npos ||
                             start->find("\r\n\r\n", from) != std::string::npos;
    return start->size() < kStartBytes && !headerEnded;
  });
  return outcome->result != ReadOutcome::kFailed;
}

}  // namespace quillon
