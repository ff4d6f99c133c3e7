// Registry hives for tests: a copied user's NTUSER.DAT whose HKCU\Identities\{GUID} keys name
// identities, written with libhivex (POSIX builds only).
#ifndef QUILLON_DISCOVERY_TESTING_HIVE_WRITER_H_
#define QUILLON_DISCOVERY_TESTING_HIVE_WRITER_H_

#include <string>
#include <utility>
#include <vector>

namespace quillon::test {

// Writes a hive to `path` (replacing the file) whose HKCU\Identities\`guid` keys carry "Username"
// values (REG_SZ) of the given names. False, with *error, when it could not be written.
bool WriteIdentityHive(const std::string& path,
                       const std::vector<std::pair<std::string, std::u16string>>& names,
                       std::string* error);

}  // namespace quillon::test

#endif  // QUILLON_DISCOVERY_TESTING_HIVE_WRITER_H_
