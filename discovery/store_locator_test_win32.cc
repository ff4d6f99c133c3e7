// The two registry routes on the real per-user registry of the test's Wine prefix. Each test
// writes the values it needs under HKCU and removes both trees again.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "discovery/store_locator.h"

namespace {

constexpr char kIdentities[] = "Identities";
constexpr char kClient[] = "Software\\Microsoft\\Outlook Express";
constexpr char kSuffix[] = "\\Software\\Microsoft\\Outlook Express\\5.0";

void SetValue(const std::string& path, const char* name, DWORD type, const std::string& bytes) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                           static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

// A REG_EXPAND_SZ value with its terminating zero.
void SetText(const std::string& path, const char* name, const std::string& text) {
  SetValue(path, name, REG_EXPAND_SZ, text + '\0');
}

std::string Expand(const char* text) {
  char out[1024] = {};
  ExpandEnvironmentStringsA(text, out, sizeof out);
  return out;
}

class StoreLocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { Clear(); }
  void TearDown() override { Clear(); }
  static void Clear() {
    RegDeleteTreeA(HKEY_CURRENT_USER, kIdentities);
    RegDeleteTreeA(HKEY_CURRENT_USER, kClient);
  }
  // Points the default identity at `id` and gives that identity's key a "Store Root".
  static void SetIdentity(const std::string& id, const std::string& storeRoot) {
    SetText(kIdentities, "Default User ID", id);
    SetText(std::string(kIdentities) + "\\" + id + kSuffix, "Store Root", storeRoot);
  }
};

TEST_F(StoreLocatorTest, IdentityRouteExpandsAndDropsOneTrailingSeparator) {
  SetIdentity("{0A1B2C3D-1111-2222-3333-444455556666}", "%UserProfile%\\OE Store\\");
  std::string folder;
  ASSERT_TRUE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_EQ(folder, Expand("%UserProfile%") + "\\OE Store");
  EXPECT_NE(folder.find(":\\users\\"), std::string::npos) << folder;

  SetIdentity("{id}", "C:\\Store\\\\");
  ASSERT_TRUE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_EQ(folder, "C:\\Store\\");

  SetIdentity("{id}", "C:/Store/");
  ASSERT_TRUE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_EQ(folder, "C:/Store");

  // A lone backslash is removed: success with an empty folder.
  SetIdentity("{id}", "\\");
  folder = "before";
  ASSERT_TRUE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_EQ(folder, "");
}

TEST_F(StoreLocatorTest, ClientRouteAddsMailInPlaceOfTheTrailingSeparator) {
  SetText(kClient, "Store Root", "%UserProfile%\\OE Store\\");
  std::string folder;
  ASSERT_TRUE(quillon::ReadClientStoreRoot(folder));
  EXPECT_EQ(folder, Expand("%UserProfile%") + "\\OE Store\\Mail");

  // The value's type is not looked at: plain bytes with a terminator do as well.
  SetValue(kClient, "Store Root", REG_BINARY, std::string("D:\\Mail store", 14));
  ASSERT_TRUE(quillon::ReadClientStoreRoot(folder));
  EXPECT_EQ(folder, "D:\\Mail store\\Mail");
}

TEST_F(StoreLocatorTest, MissingKeysValuesAndEmptyValuesFailAndLeaveTheFolder) {
  std::string folder = "unchanged";
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_FALSE(quillon::ReadClientStoreRoot(folder));

  // The identity list names an identity that has no key.
  SetText(kIdentities, "Default User ID", "{missing}");
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));
  // The key exists but holds no "Store Root".
  SetText(std::string(kIdentities) + "\\{missing}" + kSuffix, "Other", "x");
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));
  SetText(kClient, "Other", "x");
  EXPECT_FALSE(quillon::ReadClientStoreRoot(folder));

  // A "Store Root" that is just its terminating zero.
  SetIdentity("{id}", "");
  SetText(kClient, "Store Root", "");
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_FALSE(quillon::ReadClientStoreRoot(folder));
  EXPECT_EQ(folder, "unchanged");
}

TEST_F(StoreLocatorTest, TextsThatOverflowTheirBuffersFail) {
  std::string folder = "unchanged";

  // "Default User ID": 259 characters fit its 260 bytes, 260 do not; with no zero at all, 260
  // bytes fill the buffer and are refused too. (Either way the key path would be too long
  // already, so these fail.)
  SetText(kIdentities, "Default User ID", std::string(260, 'u'));
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));
  SetValue(kIdentities, "Default User ID", REG_BINARY, std::string(260, 'u'));
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));

  // The joined key path: an id of 209 characters makes 259, of 210 makes 260. Both keys exist
  // (the id is split into short key names), so only the bound tells them apart.
  auto idOfLength = [](size_t n) {
    std::string id;
    while (id.size() < n) id += id.empty() || id.size() % 20 ? 'k' : '\\';
    if (id.back() == '\\') id.back() = 'k';
    return id;
  };
  SetIdentity(idOfLength(209), "C:\\Fits");
  ASSERT_TRUE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_EQ(folder, "C:\\Fits");
  SetIdentity(idOfLength(210), "C:\\Too long");
  folder = "unchanged";
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_EQ(folder, "unchanged");

  // "Store Root" with no terminator in its 520 bytes, and one too long for them.
  SetValue(kClient, "Store Root", REG_BINARY, std::string(520, 's'));
  EXPECT_FALSE(quillon::ReadClientStoreRoot(folder));
  SetText(kClient, "Store Root", std::string(520, 's'));
  EXPECT_FALSE(quillon::ReadClientStoreRoot(folder));

  // "\Mail" appended must fit the 520 bytes as well. The value shrinks in the expansion
  // (%Q% is one character), so only the joined length decides: 514 + 5 fits, 515 + 5 does not.
  ASSERT_TRUE(SetEnvironmentVariableA("Q", "q"));
  std::string refs;
  for (int i = 0; i < 171; ++i) refs += "%Q%";  // 513 characters
  SetText(kClient, "Store Root", refs + "x");
  ASSERT_TRUE(quillon::ReadClientStoreRoot(folder));
  EXPECT_EQ(folder, std::string(171, 'q') + "x\\Mail");
  SetText(kClient, "Store Root", refs + "xy");
  folder = "unchanged";
  EXPECT_FALSE(quillon::ReadClientStoreRoot(folder));
  EXPECT_EQ(folder, "unchanged");

  // The expansion: 259 characters fit the 260-byte result, 260 do not.
  ASSERT_TRUE(SetEnvironmentVariableA("QUILLON_LONG", std::string(250, 'L').c_str()));
  SetIdentity("{id}", "%QUILLON_LONG%\\abcdefgh");  // 250 + 9
  ASSERT_TRUE(quillon::ReadIdentityStoreRoot(folder));
  EXPECT_EQ(folder.size(), 259u);
  SetIdentity("{id}", "%QUILLON_LONG%\\abcdefghi");  // 250 + 10
  folder = "unchanged";
  EXPECT_FALSE(quillon::ReadIdentityStoreRoot(folder));
  SetText(kClient, "Store Root", "%QUILLON_LONG%\\abc");  // 250 + 4 + "\Mail"
  ASSERT_TRUE(quillon::ReadClientStoreRoot(folder));
  EXPECT_EQ(folder.size(), 259u);
  SetText(kClient, "Store Root", "%QUILLON_LONG%\\abcd");
  folder = "unchanged";
  EXPECT_FALSE(quillon::ReadClientStoreRoot(folder));
  EXPECT_EQ(folder, "unchanged");
}

}  // namespace
