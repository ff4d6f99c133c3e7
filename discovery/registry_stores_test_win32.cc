// The stores the registry names, on the test prefix's own HKCU, and the folder search through the
// Windows directory calls. Each test writes the identities it needs and removes them again.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

#include "discovery/registry_stores.h"
#include "discovery/store_finder.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr char kGuidA[] = "{A1A1A1A1-0000-4000-8000-00000000000A}";
constexpr char kGuidB[] = "{B2B2B2B2-0000-4000-8000-00000000000B}";
constexpr char kGuidC[] = "{C3C3C3C3-0000-4000-8000-00000000000C}";
constexpr char kGuidD[] = "{D4D4D4D4-0000-4000-8000-00000000000D}";
constexpr char kClient[] = "Software\\Microsoft\\Outlook Express";

void SetValue(const std::string& path, const wchar_t* name, DWORD type, const void* data,
              size_t size) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &key, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(
      RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size)),
      ERROR_SUCCESS);
  RegCloseKey(key);
}

void SetText(const std::string& path, const wchar_t* name, const std::wstring& text) {
  SetValue(path, name, REG_SZ, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
}

// "Store Root" as Outlook Express writes it: REG_EXPAND_SZ, here in the ANSI code page.
void SetStoreRoot(const std::string& key, const std::string& folder) {
  HKEY handle = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &handle, nullptr),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(handle, "Store Root", 0, REG_EXPAND_SZ,
                           reinterpret_cast<const BYTE*>(folder.c_str()),
                           static_cast<DWORD>(folder.size() + 1)),
            ERROR_SUCCESS);
  RegCloseKey(handle);
}

std::string IdentityKey(const std::string& guid) { return "Identities\\" + guid; }
std::string ClientKeyOf(const std::string& guid) {
  return IdentityKey(guid) + "\\Software\\Microsoft\\Outlook Express\\5.0";
}

void MakeFile(const fs::path& path, size_t size) {
  fs::create_directories(path.parent_path());
  ASSERT_TRUE(test::WriteWholeFile(path, std::string(size, 'x')));
}

// The notes' kinds, as words for the lines compared.
const char* KindWord(NoteKind kind) {
  switch (kind) {
    case NoteKind::kGivenFolderUnreadable:
      return "given";
    case NoteKind::kFolderUnreadable:
      return "folder";
    case NoteKind::kDepthBound:
      return "depth";
    case NoteKind::kEntryBound:
      return "entries";
    case NoteKind::kHiveUnreadable:
      return "hive";
    case NoteKind::kNoStoreRoot:
      return "registry";
  }
  return "?";
}

std::vector<std::string> Render(const FindResult& result, const std::string& root) {
  std::vector<std::string> lines;
  auto relative = [&](const std::string& path) {
    return path.compare(0, root.size(), root) == 0 ? path.substr(root.size()) : path;
  };
  for (const MailStore& s : result.stores) {
    std::string line = relative(s.path) + " |";
    for (const DbxFile& f : s.dbxFiles) line += " " + f.name + ":" + std::to_string(f.size);
    line += s.hasFoldersDbx ? " | Folders.dbx" : "";
    if (s.hasIdentity) {
      line += " | " + s.identity.guid + " name=" + s.identity.displayName +
              " from=" + s.identity.nameSource;
    }
    lines.push_back(line);
  }
  for (const FindNote& n : result.notes) {
    lines.push_back(std::string("note ") + KindWord(n.kind) + " " + relative(n.path) + ": " +
                    n.reason);
  }
  return lines;
}

class RegistryStoresTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Clear();
    ASSERT_FALSE(tmp_.path().empty());
    root_ = tmp_.path().string() + "\\";
  }
  void TearDown() override { Clear(); }
  static void Clear() {
    RegDeleteTreeA(HKEY_CURRENT_USER, "Identities");
    RegDeleteTreeA(HKEY_CURRENT_USER, kClient);
  }

  test::TempFolder tmp_{"registry-stores"};
  std::string root_;
};

TEST_F(RegistryStoresTest, EveryIdentityAndTheClientRouteOnceEach) {
  const std::string storeA = root_ + "Identities\\" + kGuidA + "\\Microsoft\\Outlook Express";
  MakeFile(storeA + "\\Folders.dbx", 10);
  MakeFile(storeA + "\\Inbox.dbx", 20);
  MakeFile(root_ + "B-root\\Mail\\Inbox.dbx", 5);

  // A: the usual layout, named in plain ASCII; the Store Root ends in a separator.
  SetText(IdentityKey(kGuidA), L"Username", L"Main Identity");
  SetStoreRoot(ClientKeyOf(kGuidA), storeA + "\\");
  // B: a name beyond the ANSI code page, a folder the client's own route names too (in another
  // case), and through an environment reference.
  SetText(IdentityKey(kGuidB), L"Username", L"B\u00FCro \u5DE5\u4F5C");
  ASSERT_TRUE(SetEnvironmentVariableA("QUILLON_TEST_ROOT", tmp_.path().string().c_str()));
  SetStoreRoot(ClientKeyOf(kGuidB), "%QUILLON_TEST_ROOT%\\B-root\\Mail");
  SetStoreRoot(kClient, root_ + "b-ROOT");
  // C: a Store Root whose folder is gone; D: no Store Root at all.
  SetText(IdentityKey(kGuidC), L"Username", L"Gone");
  SetStoreRoot(ClientKeyOf(kGuidC), root_ + "missing");
  SetText(IdentityKey(kGuidD), L"Username", L"Never started");

  FindResult result;
  ASSERT_TRUE(FindRegistryStores(FindOptions(), &result));
  const std::vector<std::string> expected = {
      "B-root\\Mail | Inbox.dbx:5 | " + std::string(kGuidB) +
          " name=B\xC3\xBCro \xE5\xB7\xA5\xE4\xBD\x9C from=registry",
      "Identities\\" + std::string(kGuidA) +
          "\\Microsoft\\Outlook Express | Folders.dbx:10 Inbox.dbx:20 | Folders.dbx | " + kGuidA +
          " name=Main Identity from=registry",
      // The temporary folder is on C:, so its note sorts first.
      "note given missing: cannot be read: ",
      "note registry HKEY_CURRENT_USER\\Identities\\" + std::string(kGuidD) +
          ": no usable Store Root",
  };
  std::vector<std::string> lines = Render(result, root_);
  // The system's reason is in the prefix's language: only that there is one is checked.
  for (std::string& line : lines) {
    const std::string prefix = "note given missing: cannot be read: ";
    if (line.compare(0, prefix.size(), prefix) != 0) continue;
    EXPECT_GT(line.size(), prefix.size());
    line.resize(prefix.size());
  }
  EXPECT_EQ(lines, expected);

  // The same tree searched as a folder: the Windows listing, the layout seen in '\' paths, and
  // no name without a hive.
  const FindResult found = FindStores({tmp_.path().string()}, FindOptions());
  const std::vector<std::string> expectedFound = {
      "B-root\\Mail | Inbox.dbx:5",
      "Identities\\" + std::string(kGuidA) +
          "\\Microsoft\\Outlook Express | Folders.dbx:10 Inbox.dbx:20 | Folders.dbx | " + kGuidA +
          " name= from=",
  };
  EXPECT_EQ(Render(found, root_), expectedFound);
}

// A Store Root naming a folder beyond ASCII, written in the ANSI code page as the client writes
// it: the store's path comes back in UTF-8, as the command and the folder listing take paths.
TEST_F(RegistryStoresTest, AnAnsiStoreRootComesBackInUtf8) {
  const std::wstring name = L"Bo\u00EEte";
  char ansi[16] = {};
  BOOL lossy = FALSE;
  if (WideCharToMultiByte(CP_ACP, 0, name.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy) == 0 ||
      lossy) {
    GTEST_SKIP() << "the ANSI code page " << GetACP() << " has no \\u00EE";
  }
  MakeFile(tmp_.path() / name / "Inbox.dbx", 7);
  SetText(IdentityKey(kGuidA), L"Username", L"Main Identity");
  SetStoreRoot(ClientKeyOf(kGuidA), root_ + ansi);

  FindResult result;
  ASSERT_TRUE(FindRegistryStores(FindOptions(), &result));
  const std::vector<std::string> expected = {"Bo\xC3\xAEte | Inbox.dbx:7 | " + std::string(kGuidA) +
                                             " name=Main Identity from=registry"};
  EXPECT_EQ(Render(result, root_), expected);
}

}  // namespace
}  // namespace quillon
