#include "cli/background_hasher.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "test_support/test_support.h"

namespace quillon {
namespace {

// Messages of every size around a piece's, many in one piece and one over many, fed in the
// reader's 512-byte chunks faster than they hash: each digest comes back in order, End's `then`
// has had it before Take gives it, and the writer gets every byte once, in order, in pieces.
TEST(BackgroundHasherTest, DigestsComeBackInOrderAndTheWriterGetsEveryByte) {
  constexpr size_t kPiece = BackgroundHasher::kPieceBytes;
  const size_t sizes[] = {0,    1,          511, kPiece - 1, kPiece, kPiece + 1, 7 * kPiece + 3,
                          1000, 5 * kPiece, 2,   9 * kPiece, 513,    0,          3 * kPiece};
  test::SeedRng rng(11);
  std::vector<std::string> messages;
  for (int round = 0; round < 3; ++round) {
    for (size_t size : sizes) {
      std::string m(size, '\0');
      for (char& c : m) c = static_cast<char>(rng.Next() & 0xFF);
      messages.push_back(std::move(m));
    }
  }
  BackgroundHasher hasher;
  std::vector<Sha256Digest> digests;
  std::vector<std::optional<Sha256Digest>> told(messages.size());
  const auto take = [&] {
    digests.push_back(hasher.Take());
    const size_t i = digests.size() - 1;
    EXPECT_EQ(told[i], digests[i]) << i;
  };
  size_t largest = 0;  // of the pieces the writer got
  for (const std::string& m : messages) {
    std::string written;
    const BackgroundHasher::PieceSink sink = [&](const uint8_t* p, size_t n) {
      written.append(reinterpret_cast<const char*>(p), n);
      largest = std::max(largest, n);
      return true;
    };
    hasher.Begin();
    const auto* bytes = reinterpret_cast<const uint8_t*>(m.data());
    for (size_t at = 0; at < m.size(); at += 512) {
      ASSERT_TRUE(hasher.Gather(bytes + at, std::min<size_t>(512, m.size() - at), sink));
    }
    ASSERT_TRUE(hasher.Pass(sink));
    std::optional<Sha256Digest>& slot = told[&m - messages.data()];
    hasher.End([&slot](const Sha256Digest& digest) { slot = digest; });
    EXPECT_EQ(written, m);
    while (hasher.Ready()) take();
  }
  while (digests.size() < messages.size()) take();
  for (size_t i = 0; i < messages.size(); ++i) {
    EXPECT_EQ(digests[i], ComputeSha256(messages[i].data(), messages[i].size())) << i;
  }
  EXPECT_EQ(largest, kPiece);

  // A writer that refuses is not called again for that message; the next one starts afresh.
  int calls = 0;
  const BackgroundHasher::PieceSink refusing = [&](const uint8_t*, size_t) {
    ++calls;
    return false;
  };
  const std::string big(3 * kPiece, 'x');
  hasher.Begin();
  bool taken = true;
  for (size_t at = 0; at < big.size() && taken; at += 512) {
    taken = hasher.Gather(reinterpret_cast<const uint8_t*>(big.data()) + at, 512, refusing);
  }
  EXPECT_FALSE(hasher.Pass(refusing));
  hasher.End();
  EXPECT_EQ(calls, 1);
  hasher.Begin();
  EXPECT_TRUE(hasher.Pass(refusing));
  hasher.End();
  EXPECT_EQ(hasher.Take(), ComputeSha256(big.data(), kPiece + 512));  // what was fed
  EXPECT_EQ(hasher.Take(), ComputeSha256("", 0));
}

}  // namespace
}  // namespace quillon
