// Finds the folder where Outlook Express keeps the current user's mailbox files, from the
// per-user registry alone. Each route opens its keys with query access only and closes every key
// it opened before it returns.
#ifndef QUILLON_DISCOVERY_STORE_LOCATOR_H_
#define QUILLON_DISCOVERY_STORE_LOCATOR_H_

#include <cstddef>
#include <string>
#include <vector>

namespace quillon {

// The default identity's route: HKCU\Identities "Default User ID", then that identity's
// "...\Outlook Express\5.0" key and its "Store Root", one trailing separator removed and
// environment references expanded. True with `folder` set (possibly empty); false with `folder`
// unchanged when a key or value is missing, the value is empty or a text overflows its buffer.
bool ReadIdentityStoreRoot(std::string& folder);

// The route of the identity `id` (a subkey name of HKCU\Identities): its "...\Outlook
// Express\5.0" key and "Store Root", read as ReadIdentityStoreRoot reads the default identity's.
bool ReadIdentityStoreRootOf(const std::string& id, std::string& folder);

// The subkey names of HKCU\Identities, at most `maxIds` of them, in the registry's order. False,
// with *ids empty, when the key is missing or cannot be read.
bool ReadIdentityIds(size_t maxIds, std::vector<std::string>* ids);

// HKCU\Identities\`id` "Username" in UTF-8 (read as UTF-16, at most 1024 characters). False,
// with *name unchanged, when the key or value is missing, empty or not a text.
bool ReadIdentityUsername(const std::string& id, std::string* name);

// The client's own route: HKCU\Software\Microsoft\Outlook Express "Store Root" plus "\Mail",
// otherwise as ReadIdentityStoreRoot.
bool ReadClientStoreRoot(std::string& folder);

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_STORE_LOCATOR_H_
