// The store folders the current user's registry names, for a search with no folder given.
// registry_stores_win32.cc reads them; elsewhere there is no such registry
// (registry_stores_posix.cc).
#ifndef QUILLON_DISCOVERY_REGISTRY_STORES_H_
#define QUILLON_DISCOVERY_REGISTRY_STORES_H_

#include "discovery/store_finder.h"

namespace quillon {

// On Windows: every identity under HKCU\Identities (at most kMaxRegistryIdentities), each with
// its "Username" and its "Store Root" (as ReadIdentityStoreRootOf reads it), then the client's
// own route (ReadClientStoreRoot); a folder named twice (separators and ASCII case aside) is
// listed once, with the identity that named it first. Each folder is described as DescribeStore
// does, its identity taken from the registry; a folder that cannot be listed, and an identity
// without a usable "Store Root", give a note instead. *result is sorted as FindStores sorts.
// Returns false, leaving *result empty, on systems without that registry.
bool FindRegistryStores(const FindOptions& options, FindResult* result);

inline constexpr int kMaxRegistryIdentities = 1000;

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_REGISTRY_STORES_H_
