#include "output/mbox_quoting.h"

#include <gtest/gtest.h>

namespace quillon::output {
namespace {

class StringOut final : public ByteOut {
 public:
  bool Write(const void* data, size_t size, std::string*) override {
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  std::string bytes;
};

// The quoted message, fed in chunks of `chunk` bytes through a buffer of `capacity`.
std::string Quote(const std::string& message, size_t chunk, size_t capacity) {
  StringOut out;
  WriteBuffer buffer(capacity);
  buffer.Reset(&out);
  FromQuoter quoter;
  quoter.Reset();
  const auto* p = reinterpret_cast<const uint8_t*>(message.data());
  for (size_t at = 0; at < message.size(); at += chunk) {
    quoter.Feed(p + at, std::min(chunk, message.size() - at), &buffer);
  }
  quoter.Finish(&buffer);
  EXPECT_TRUE(buffer.Flush());
  return out.bytes;
}

TEST(FromQuoter, QuotesEveryFromLineAtEveryChunkBoundary) {
  const struct {
    std::string message, quoted;
  } kCases[] = {
      {"From me\r\nSubject: x\r\n\r\nbody\r\n", ">From me\r\nSubject: x\r\n\r\nbody\r\n"},
      {"a\nFrom b\n>From c\n>>From d\n", "a\n>From b\n>>From c\n>>>From d\n"},
      // Not a From line: no space, another letter first, a '>' after text, lower case.
      {"From\nXFrom a\n>F>From b\nfrom c\nFrom:x\n", "From\nXFrom a\n>F>From b\nfrom c\nFrom:x\n"},
      // CRLF lines, and a line that is only "From " at the very end.
      {"x\r\nFrom y\r\n\r\nFrom ", "x\r\n>From y\r\n\r\n>From "},
      // A message that ends inside a possible match keeps its bytes.
      {"x\nFro", "x\nFro"},
      {"x\n>>F", "x\n>>F"},
      {"F", "F"},
      {"", ""},
      {"FFrom a\nFrFrom b\n", "FFrom a\nFrFrom b\n"},
  };
  for (const auto& c : kCases) {
    for (size_t chunk = 1; chunk <= c.message.size() + 1; ++chunk) {
      for (size_t capacity : {size_t{1}, size_t{3}, size_t{4096}}) {
        EXPECT_EQ(Quote(c.message, chunk, capacity), c.quoted)
            << "message '" << c.message << "' chunk " << chunk << " buffer " << capacity;
      }
    }
  }
}

TEST(FromQuoter, TellsWhetherTheMessageEndedItsLastLine) {
  for (const auto& [message, atLineStart] : {std::pair<std::string, bool>{"", true},
                                             {"a\n", true},
                                             {"a", false},
                                             {"a\r", false},
                                             {"From", false}}) {
    StringOut out;
    WriteBuffer buffer;
    buffer.Reset(&out);
    FromQuoter quoter;
    quoter.Reset();
    quoter.Feed(reinterpret_cast<const uint8_t*>(message.data()), message.size(), &buffer);
    quoter.Finish(&buffer);
    EXPECT_EQ(quoter.AtLineStart(), atLineStart) << message;
  }
}

}  // namespace
}  // namespace quillon::output
