#include <windows.h>

#include <algorithm>
#include <set>

#include "discovery/folder_path.h"
#include "discovery/registry_stores.h"
#include "discovery/store_locator.h"
#include "discovery/store_names.h"
#include "text/ascii.h"
#include "win32/wide_text.h"

namespace quillon {

namespace {

struct Route {
  std::string folder;
  std::string id;        // empty for the client's own route
  std::string username;  // UTF-8; empty when the identity has none
};

// One form for "the same folder": separators alike, no trailing one, ASCII case folded (Windows
// ignores case in names).
std::string FolderKey(const std::string& folder) {
  return AsciiLowered(NormalizeFolderPath(folder));
}

bool SameGuid(const std::string& a, const std::string& b) { return FolderKey(a) == FolderKey(b); }

}  // namespace

bool FindRegistryStores(const FindOptions& options, FindResult* result) {
  *result = FindResult();
  std::vector<Route> routes;
  std::vector<std::string> ids;
  ReadIdentityIds(kMaxRegistryIdentities, &ids);
  for (const std::string& id : ids) {
    Route route{"", id, ""};
    if (!ReadIdentityStoreRootOf(id, route.folder) || route.folder.empty()) {
      result->notes.push_back(
          {"HKEY_CURRENT_USER\\Identities\\" + id, "no usable Store Root", NoteKind::kNoStoreRoot});
      continue;
    }
    route.folder = Utf8FromCodePage(CP_ACP, route.folder);
    ReadIdentityUsername(id, &route.username);
    routes.push_back(std::move(route));
  }
  Route client;
  if (ReadClientStoreRoot(client.folder) && !client.folder.empty()) {
    client.folder = Utf8FromCodePage(CP_ACP, client.folder);
    routes.push_back(client);
  }

  std::set<std::string> seen;
  for (const Route& route : routes) {
    if (!seen.insert(FolderKey(route.folder)).second) continue;
    MailStore store;
    if (!DescribeStore(route.folder, options, &store, &result->notes)) continue;
    if (!route.id.empty()) {
      // The path's own layout gives the profile and user when it names this identity.
      if (!store.hasIdentity || !SameGuid(store.identity.guid, route.id)) {
        store.identity = StoreIdentity();
        store.identity.guid = route.id;
      }
      store.hasIdentity = true;
      store.identity.displayName = CleanDisplayName(route.username);
      store.identity.nameSource = store.identity.displayName.empty() ? "" : "registry";
    }
    result->stores.push_back(std::move(store));
  }
  std::sort(result->stores.begin(), result->stores.end(),
            [](const MailStore& a, const MailStore& b) { return a.path < b.path; });
  std::sort(result->notes.begin(), result->notes.end(), [](const FindNote& a, const FindNote& b) {
    return a.path != b.path ? a.path < b.path : a.reason < b.reason;
  });
  return true;
}

}  // namespace quillon
