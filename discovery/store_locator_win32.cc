#include <windows.h>

#include "discovery/store_locator.h"
#include "discovery/store_root_text.h"
#include "win32/wide_text.h"

namespace quillon {

namespace {

constexpr char kIdentitiesKey[] = "Identities";
constexpr char kDefaultUserIdValue[] = "Default User ID";
constexpr char kClientKey[] = "Software\\Microsoft\\Outlook Express";
constexpr char kStoreRootValue[] = "Store Root";

// Reads `name` of HKCU\`path` into the zero-filled `buffer`; the key is closed again either way.
bool QueryValue(const char* path, const char* name, char* buffer, DWORD bufferSize, DWORD* count) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  ZeroMemory(buffer, bufferSize);
  *count = bufferSize;
  const LONG status =
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), count);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

bool StoreRootTail(char* value, DWORD count, bool appendMail, std::string& folder) {
  std::string unexpanded;
  if (!StoreRootBeforeExpansion(value, kStoreRootBufferSize, count, appendMail, &unexpanded)) {
    return false;
  }
  char expanded[kExpandedBufferSize] = {};
  const DWORD required = ExpandEnvironmentStringsA(unexpanded.c_str(), expanded, sizeof expanded);
  return ExpandedText(expanded, sizeof expanded, required, &folder);
}

}  // namespace

bool ReadIdentityStoreRoot(std::string& folder) {
  char userId[kUserIdBufferSize];
  DWORD count = 0;
  if (!QueryValue(kIdentitiesKey, kDefaultUserIdValue, userId, sizeof userId, &count)) {
    return false;
  }
  std::string id;
  if (!TerminatedText(userId, sizeof userId, &id)) return false;
  return ReadIdentityStoreRootOf(id, folder);
}

bool ReadIdentityStoreRootOf(const std::string& id, std::string& folder) {
  std::string path;
  if (!JoinIdentityKeyPath(id, &path)) return false;
  char value[kStoreRootBufferSize];
  DWORD count = 0;
  if (!QueryValue(path.c_str(), kStoreRootValue, value, sizeof value, &count)) return false;
  return StoreRootTail(value, count, false, folder);
}

bool ReadIdentityIds(size_t maxIds, std::vector<std::string>* ids) {
  ids->clear();
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kIdentitiesKey, 0, KEY_ENUMERATE_SUB_KEYS, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  LONG status = ERROR_SUCCESS;
  for (DWORD index = 0; ids->size() < maxIds; ++index) {
    char name[256];  // the longest key name the registry allows, with its terminator
    DWORD length = sizeof name;
    status = RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS) break;
    ids->emplace_back(name, length);
  }
  RegCloseKey(key);
  if (status != ERROR_SUCCESS && status != ERROR_NO_MORE_ITEMS) {
    ids->clear();
    return false;
  }
  return true;
}

bool ReadIdentityUsername(const std::string& id, std::string* name) {
  const std::string path = std::string(kIdentitiesKey) + "\\" + id;
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t text[1025] = {};
  DWORD type = 0;
  DWORD size = sizeof text - sizeof text[0];  // one character always stays zero
  const LONG status =
      RegQueryValueExW(key, L"Username", nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || text[0] == 0) {
    return false;
  }
  std::string utf8 = Utf8FromWide(text);
  if (utf8.empty()) return false;
  *name = std::move(utf8);
  return true;
}

bool ReadClientStoreRoot(std::string& folder) {
  char value[kStoreRootBufferSize];
  DWORD count = 0;
  if (!QueryValue(kClientKey, kStoreRootValue, value, sizeof value, &count)) return false;
  return StoreRootTail(value, count, true, folder);
}

}  // namespace quillon
