#include <errno.h>
#include <hivex.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include "discovery/identity_hive.h"
#include "discovery/store_names.h"

namespace quillon {

namespace {

// A "Username" longer than this is not a name Outlook Express wrote; it is not converted.
constexpr size_t kMaxValueBytes = 64 * 1024;

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + (errno != 0 ? strerror(errno) : "unknown error");
}

}  // namespace

HiveLookup ReadIdentityName(const std::string& hivePath, const std::string& guid, std::string* name,
                            std::string* error) {
  // hivex opens the file itself: look first, so that a FIFO is never opened and a huge file is
  // never read.
  struct stat st;
  if (lstat(hivePath.c_str(), &st) != 0) {
    *error = strerror(errno);
    return HiveLookup::kUnreadable;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = "not a regular file";
    return HiveLookup::kUnreadable;
  }
  if (static_cast<uint64_t>(st.st_size) > kMaxHiveBytes) {
    *error = "larger than " + std::to_string(kMaxHiveBytes >> 20) + " MiB";
    return HiveLookup::kUnreadable;
  }
  errno = 0;
  // Opened for reading only, hivex maps the hive, and a file that another program shortens
  // meanwhile would end the process with SIGBUS. Opened for writing, hivex reads the file into
  // memory instead (with read(), O_RDONLY) and writes nothing back unless asked to commit, which
  // this never does.
  hive_h* hive = hivex_open(hivePath.c_str(), HIVEX_OPEN_WRITE);
  if (hive == nullptr) {
    *error = ErrnoText("not a registry hive");
    return HiveLookup::kUnreadable;
  }
  HiveLookup result = HiveLookup::kNoName;
  hive_node_h node = hivex_node_get_child(hive, hivex_root(hive), "Identities");
  if (node != 0) node = hivex_node_get_child(hive, node, guid.c_str());
  const hive_value_h value = node != 0 ? hivex_node_get_value(hive, node, "Username") : 0;
  hive_type type;
  size_t length = 0;
  if (value != 0 && hivex_value_type(hive, value, &type, &length) == 0 &&
      length <= kMaxValueBytes) {
    // Converts REG_SZ / REG_EXPAND_SZ from UTF-16LE; fails for other types.
    char* text = hivex_value_string(hive, value);
    if (text != nullptr) {
      *name = CleanDisplayName(text);
      free(text);
      if (!name->empty()) result = HiveLookup::kFound;
    }
  }
  hivex_close(hive);
  return result;
}

}  // namespace quillon
