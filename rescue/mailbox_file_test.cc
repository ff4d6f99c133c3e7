// The read windows: every view holds the file's bytes, and a reader that moves forward with
// short steps back reads the file about once.
#include "rescue/mailbox_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace quillon::rescue {
namespace {

class BytesFile final : public InputFile {
 public:
  explicit BytesFile(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t Size() override { return bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got, std::string*) override {
    *got = offset < bytes_.size() ? std::min<size_t>(size, bytes_.size() - offset) : 0;
    std::memcpy(buffer, bytes_.data() + offset, *got);
    return true;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

TEST(MailboxFileTest, ViewsHoldTheFileAndShortStepsBackCostNoRead) {
  constexpr size_t kWindow = 64 << 10;
  std::mt19937 random(3);
  std::string bytes(1 << 20, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  BytesFile input(bytes);
  const struct {
    uint32_t step, back, length;  // forward by `step`, then a view `back` bytes behind
    uint64_t maxReads;
  } kWalks[] = {
      {528, 0, 512, 18},           // straight through: a read a window
      {528, 4000, 512, 18},        // behind, within the window
      {2000, 40000, 512, 18},      // behind, into the window before
      {2000, 40000, 8 << 10, 20},  // views as long as they may be
      {9000, 100000, 16, 130},     // further behind than both windows: reads of its own
  };
  for (const auto& walk : kWalks) {
    MailboxFile file(&input);
    file.SetWindowSize(kWindow);
    for (uint64_t at = 0; at + walk.length <= bytes.size(); at += walk.step) {
      for (uint64_t offset : {at, at > walk.back ? at - walk.back : 0}) {
        const uint8_t* view = file.View(offset, walk.length);
        ASSERT_NE(view, nullptr) << offset;
        ASSERT_EQ(std::memcmp(view, bytes.data() + offset, walk.length), 0)
            << "step " << walk.step << " back " << walk.back << " at " << offset;
      }
    }
    EXPECT_LE(file.reads(), walk.maxReads) << "step " << walk.step << " back " << walk.back;
    EXPECT_FALSE(file.failed());
  }
}

}  // namespace
}  // namespace quillon::rescue
