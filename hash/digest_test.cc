// The published test vectors, and a digest fed in pieces equal to one fed at once.
#include "hash/digest.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon {
namespace {

std::string Sha256Hex(const std::string& data) {
  return DigestToHex(ComputeSha256(data.data(), data.size()));
}

TEST(DigestTest, PublishedVectors) {
  // FIPS 180-2.
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(Sha256Hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
  EXPECT_EQ(Sha256Hex(std::string(1000000, 'a')),
            "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
  // RFC 1321.
  const auto md5 = [](const std::string& s) { return DigestToHex(ComputeMd5(s.data(), s.size())); };
  EXPECT_EQ(md5(""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(md5("abc"), "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(md5("12345678901234567890123456789012345678901234567890123456789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
}

TEST(DigestTest, PiecesGiveTheDigestOfTheWhole) {
  std::string data(300, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 131 + 7);
  // Lengths around the padding boundaries (55, 56 and 64 bytes), split at a third.
  for (size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 119u, 120u, 300u}) {
    const std::string piece = data.substr(0, length);
    Sha256 parts;
    parts.Update(piece.data(), length / 3);
    parts.Update(piece.data() + length / 3, 0);
    parts.Update(piece.data() + length / 3, length - length / 3);
    EXPECT_EQ(DigestToHex(parts.Finish()), Sha256Hex(piece)) << "length " << length;
  }
}

}  // namespace
}  // namespace quillon
