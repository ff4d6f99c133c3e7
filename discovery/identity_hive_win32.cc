#include "discovery/identity_hive.h"

namespace quillon {

// libhivex is not built for Windows; the live registry names the identities there instead.
HiveLookup ReadIdentityName(const std::string&, const std::string&, std::string*,
                            std::string* error) {
  *error = "registry hives are not read by this build";
  return HiveLookup::kUnsupported;
}

}  // namespace quillon
