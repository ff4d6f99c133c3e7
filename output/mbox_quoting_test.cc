#include "output/mbox_quoting.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

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

// The quoted message, fed in chunks of `chunk` bytes through a buffer of `capacity`; with
// `lend`, the chunks are lent to the buffer, and what it holds of one is written before the next.
std::string Quote(const std::string& message, size_t chunk, size_t capacity, bool lend = false) {
  StringOut out;
  WriteBuffer buffer(capacity);
  buffer.Reset(&out);
  FromQuoter quoter;
  quoter.Reset();
  const auto* p = reinterpret_cast<const uint8_t*>(message.data());
  for (size_t at = 0; at < message.size(); at += chunk) {
    // Each chunk on its own, as a reader's buffer holds it: nothing of the next lies beyond.
    const std::vector<uint8_t> piece(p + at, p + std::min(at + chunk, message.size()));
    quoter.Feed(piece.data(), piece.size(), &buffer, lend);
    if (buffer.holdsLent()) buffer.Flush();
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

// What mboxrd asks, a line at a time.
std::string QuoteByLines(const std::string& message) {
  std::string quoted;
  for (size_t at = 0; at < message.size();) {
    const size_t end = std::min(message.find('\n', at), message.size() - 1) + 1;
    const size_t text = message.find_first_not_of('>', at);
    if (text != std::string::npos && text < end && message.compare(text, 5, "From ") == 0 &&
        text + 5 <= end) {
      quoted += '>';
    }
    quoted.append(message, at, end - at);
    at = end;
  }
  return quoted;
}

// Long messages, whose runs are lent rather than copied, against the rule applied line by line:
// lines that need quoting and lines that nearly do, at every distance from the chunk and
// buffer ends and from each other.
TEST(FromQuoter, LongMessagesLentOrCopiedInChunksOfAnySize) {
  const char* kLines[] = {"From a@b Sat Jan  3 01:05:34 1996",
                          ">From b",
                          ">>>From c",
                          "From",
                          "Fro",
                          ">F",
                          "F",
                          "",
                          ">",
                          "xFrom d",
                          "\r",
                          "From \r"};
  std::mt19937 random(7);
  for (int round = 0; round < 40; ++round) {
    std::string message;
    while (message.size() < 40000) {
      // Short lines between those that matter, or long runs of text that are lent whole.
      const size_t filler = random() % (round % 4 == 0 ? 300 : 9000);
      message.append(filler, static_cast<char>('a' + filler % 26));
      message += '\n';
      message += kLines[random() % std::size(kLines)];
      message += random() % 2 ? "\n" : "\r\n";
    }
    if (round % 2) message.resize(message.size() - 1 - random() % 40);
    const std::string expected = QuoteByLines(message);
    const size_t chunk = std::vector<size_t>{1, 63, 4096, 5000, 40000}[round % 5] + random() % 64;
    for (bool lend : {false, true}) {
      ASSERT_EQ(Quote(message, chunk, round % 3 == 0 ? 4096 : 256 * 1024, lend), expected)
          << "round " << round << " chunk " << chunk << " lend " << lend;
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
