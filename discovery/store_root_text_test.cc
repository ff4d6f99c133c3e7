#include "discovery/store_root_text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace quillon {
namespace {

// A zero-filled value buffer holding `value` and the count the registry would report.
struct Value {
  explicit Value(const std::string& text, size_t size = kStoreRootBufferSize) : bytes(size, 0) {
    std::memcpy(bytes.data(), text.data(), text.size());
    count = static_cast<uint32_t>(text.size() + 1);
  }
  std::vector<char> bytes;
  uint32_t count;
};

std::string Tail(const std::string& text, bool appendMail, bool* ok) {
  Value v(text);
  std::string out = "unchanged";
  *ok = StoreRootBeforeExpansion(v.bytes.data(), v.bytes.size(), v.count, appendMail, &out);
  return out;
}

TEST(StoreRootText, OneTrailingSeparatorGoesAndTheClientRouteAddsMail) {
  bool ok = false;
  EXPECT_EQ(Tail("%UserProfile%\\Store\\", false, &ok), "%UserProfile%\\Store");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Tail("%UserProfile%\\Store\\", true, &ok), "%UserProfile%\\Store\\Mail");
  EXPECT_EQ(Tail("C:/Store/", false, &ok), "C:/Store");
  EXPECT_EQ(Tail("C:\\Store\\\\", false, &ok), "C:\\Store\\");
  EXPECT_EQ(Tail("C:\\Store", true, &ok), "C:\\Store\\Mail");
  EXPECT_EQ(Tail("\\", false, &ok), "");
  EXPECT_TRUE(ok);
  EXPECT_EQ(Tail("\\", true, &ok), "\\Mail");
}

TEST(StoreRootText, ShortMissingTerminatorAndOverlongValuesFail) {
  bool ok = true;
  EXPECT_EQ(Tail("", false, &ok), "unchanged");  // a single zero byte
  EXPECT_FALSE(ok);

  Value counted("C:\\Store");
  std::string out = "unchanged";
  EXPECT_FALSE(
      StoreRootBeforeExpansion(counted.bytes.data(), counted.bytes.size(), 1, false, &out));
  EXPECT_FALSE(StoreRootBeforeExpansion(counted.bytes.data(), counted.bytes.size(),
                                        kStoreRootBufferSize + 1, false, &out));

  // A value that fills the buffer with no zero anywhere.
  std::vector<char> full(kStoreRootBufferSize, 'a');
  EXPECT_FALSE(
      StoreRootBeforeExpansion(full.data(), full.size(), kStoreRootBufferSize, false, &out));
  // The same length with its last byte a zero fits: 519 characters.
  full.back() = '\0';
  EXPECT_TRUE(
      StoreRootBeforeExpansion(full.data(), full.size(), kStoreRootBufferSize, false, &out));
  EXPECT_EQ(out.size(), kStoreRootBufferSize - 1);

  // "\Mail" must still fit the 520 bytes: 514 + 5 characters do, 515 + 5 do not.
  EXPECT_EQ(Tail(std::string(514, 'a'), true, &ok).size(), 519u);
  EXPECT_TRUE(ok);
  EXPECT_EQ(Tail(std::string(515, 'a'), true, &ok), "unchanged");
  EXPECT_FALSE(ok);
  // A removed separator makes room first.
  EXPECT_EQ(Tail(std::string(514, 'a') + "\\", true, &ok).size(), 519u);
  EXPECT_TRUE(ok);
}

TEST(StoreRootText, TerminatedTextNeedsAZeroInsideTheBuffer) {
  std::string out = "unchanged";
  char id[kUserIdBufferSize];
  std::memset(id, 'x', sizeof id);
  EXPECT_FALSE(TerminatedText(id, sizeof id, &out));
  EXPECT_EQ(out, "unchanged");
  id[sizeof id - 1] = '\0';
  EXPECT_TRUE(TerminatedText(id, sizeof id, &out));
  EXPECT_EQ(out.size(), 259u);
  id[3] = '\0';
  EXPECT_TRUE(TerminatedText(id, sizeof id, &out));
  EXPECT_EQ(out, "xxx");
}

TEST(StoreRootText, IdentityKeyPathMustFitItsBuffer) {
  std::string path;
  ASSERT_TRUE(JoinIdentityKeyPath("{E0F8-1}", &path));
  EXPECT_EQ(path, "Identities\\{E0F8-1}\\Software\\Microsoft\\Outlook Express\\5.0");
  // "Identities\" and the suffix take 11 + 39 characters, so the id may have 209.
  EXPECT_TRUE(JoinIdentityKeyPath(std::string(209, 'i'), &path));
  EXPECT_EQ(path.size(), 259u);
  path = "unchanged";
  EXPECT_FALSE(JoinIdentityKeyPath(std::string(210, 'i'), &path));
  EXPECT_EQ(path, "unchanged");
}

TEST(StoreRootText, ExpansionThatDoesNotFitFails) {
  std::vector<char> buffer(kExpandedBufferSize, 0);
  std::memset(buffer.data(), 'e', 259);
  std::string out = "unchanged";
  EXPECT_TRUE(ExpandedText(buffer.data(), buffer.size(), 260, &out));
  EXPECT_EQ(out.size(), 259u);
  out = "unchanged";
  EXPECT_FALSE(ExpandedText(buffer.data(), buffer.size(), 261, &out));
  EXPECT_FALSE(ExpandedText(buffer.data(), buffer.size(), 0, &out));
  EXPECT_EQ(out, "unchanged");
  // A result that claims to fit but has no terminator is refused as well.
  std::memset(buffer.data(), 'e', buffer.size());
  EXPECT_FALSE(ExpandedText(buffer.data(), buffer.size(), 100, &out));
}

}  // namespace
}  // namespace quillon
