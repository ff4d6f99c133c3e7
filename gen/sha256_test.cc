#include "gen/sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gen/random.h"

namespace quillon::gen {
namespace {

std::vector<Sha256Engine> Engines() {
  std::vector<Sha256Engine> engines = {Sha256Engine::kPortable};
  if (Sha256HardwareAvailable()) engines.push_back(Sha256Engine::kX86ShaExtensions);
  return engines;
}

std::string Digest(Sha256Engine engine, const std::string& data) {
  Sha256 hash(engine);
  hash.Update(data.data(), data.size());
  return DigestToHex(hash.Finish());
}

// The FIPS 180-2 example messages, on every engine this processor runs.
TEST(GenSha256, FipsVectors) {
  for (Sha256Engine engine : Engines()) {
    SCOPED_TRACE(static_cast<int>(engine));
    EXPECT_EQ(Digest(engine, "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Digest(engine, "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Digest(engine, std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(Digest(engine, ""),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  }
}

// Lengths around the padding boundary (55/56/64 bytes) and updates split at every point must
// give the same digest as one update; both engines must agree on all of them.
TEST(GenSha256, SplitUpdatesAndEnginesAgree) {
  Rng rng(3);
  std::string data(300, '\0');
  for (char& c : data) c = static_cast<char>(rng.Below(256));
  for (size_t length = 0; length <= data.size(); ++length) {
    const std::string piece = data.substr(0, length);
    const std::string whole = Digest(Sha256Engine::kPortable, piece);
    for (Sha256Engine engine : Engines()) {
      ASSERT_EQ(Digest(engine, piece), whole) << "length " << length;
    }
    const size_t split = length / 3;
    Sha256 parts;
    parts.Update(piece.data(), split);
    parts.Update(piece.data() + split, 0);
    parts.Update(piece.data() + split, length - split);
    ASSERT_EQ(DigestToHex(parts.Finish()), whole) << "length " << length;
  }
}

}  // namespace
}  // namespace quillon::gen
