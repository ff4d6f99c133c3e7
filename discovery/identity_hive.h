// An identity's display name from a copied registry hive: a user's NTUSER.DAT holds that user's
// HKEY_CURRENT_USER, where HKCU\Identities\{GUID} "Username" names the identity. Read with
// libhivex (identity_hive_posix.cc); Windows builds have no hive reader (identity_hive_win32.cc).
#ifndef QUILLON_DISCOVERY_IDENTITY_HIVE_H_
#define QUILLON_DISCOVERY_IDENTITY_HIVE_H_

#include <cstdint>
#include <string>

namespace quillon {

// Hives larger than this are not read: a user's NTUSER.DAT is a few MiB, rarely over 100, and the
// whole file is read into memory.
inline constexpr uint64_t kMaxHiveBytes = uint64_t{256} << 20;

enum class HiveLookup {
  kFound,        // *name set
  kNoName,       // the hive was read but holds no usable "Username" for that identity
  kUnreadable,   // the file is not a hive that could be read; *error says why
  kUnsupported,  // this build reads no hives
};

// Looks up HKCU\Identities\`guid` "Username" (key and value names in any case) in the hive file
// at `hivePath`, which must be a regular file of at most kMaxHiveBytes. On kFound, *name is the
// value's text made fit to print by CleanDisplayName (store_names.h); a value that is empty
// after that counts as no name. The hive is read into memory once (never mapped: another program
// may shorten it meanwhile) and never written.
HiveLookup ReadIdentityName(const std::string& hivePath, const std::string& guid, std::string* name,
                            std::string* error);

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_IDENTITY_HIVE_H_
