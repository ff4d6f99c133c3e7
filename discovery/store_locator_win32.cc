#include <windows.h>

#include "discovery/store_locator.h"
#include "discovery/store_root_text.h"

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
  std::string path;
  if (!TerminatedText(userId, sizeof userId, &id) || !JoinIdentityKeyPath(id, &path)) return false;

  char value[kStoreRootBufferSize];
  if (!QueryValue(path.c_str(), kStoreRootValue, value, sizeof value, &count)) return false;
  return StoreRootTail(value, count, false, folder);
}

bool ReadClientStoreRoot(std::string& folder) {
  char value[kStoreRootBufferSize];
  DWORD count = 0;
  if (!QueryValue(kClientKey, kStoreRootValue, value, sizeof value, &count)) return false;
  return StoreRootTail(value, count, true, folder);
}

}  // namespace quillon
