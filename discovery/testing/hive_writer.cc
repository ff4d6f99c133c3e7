#include "discovery/testing/hive_writer.h"

#include <errno.h>
#include <hivex.h>

#include <cstdint>
#include <cstring>

#include "test_support/test_support.h"

namespace quillon::test {

namespace {

void Put32(std::string* b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<char>(v >> (8 * i));
}

// hivex cannot create a hive, only change one: this is the smallest it opens, a base block and
// one 4 KiB bin holding the root key, its security cell and free space.
std::string EmptyHive() {
  std::string b(0x2000, '\0');
  std::memcpy(&b[0], "regf", 4);
  Put32(&b, 0x04, 1);  // sequence numbers, equal: the hive was written whole
  Put32(&b, 0x08, 1);
  Put32(&b, 0x14, 1);  // format version 1.3
  Put32(&b, 0x18, 3);
  Put32(&b, 0x20, 1);
  Put32(&b, 0x24, 0x20);    // the root key's cell, from the first bin
  Put32(&b, 0x28, 0x1000);  // the bins' length
  Put32(&b, 0x2C, 1);
  uint32_t sum = 0;
  for (size_t i = 0; i < 0x1FC; i += 4) {
    uint32_t word;
    std::memcpy(&word, &b[i], 4);
    sum ^= word;
  }
  Put32(&b, 0x1FC, sum);
  const size_t bin = 0x1000;
  std::memcpy(&b[bin], "hbin", 4);
  Put32(&b, bin + 8, 0x1000);
  const size_t root = bin + 0x20;  // cell: size (negative when used), then the record
  Put32(&b, root, static_cast<uint32_t>(-88));
  std::memcpy(&b[root + 4], "nk", 2);
  b[root + 6] = 0x2C;  // the hive's root, a compressed (8-bit) name
  // No parent, subkey lists, value list or class name.
  for (size_t field : {16u, 28u, 32u, 40u, 48u}) Put32(&b, root + 4 + field, 0xFFFFFFFF);
  Put32(&b, root + 4 + 44, 0x78);  // its security cell
  b[root + 4 + 72] = 4;
  std::memcpy(&b[root + 4 + 76], "ROOT", 4);
  const size_t sk = bin + 0x78;
  Put32(&b, sk, static_cast<uint32_t>(-48));
  std::memcpy(&b[sk + 4], "sk", 2);
  Put32(&b, sk + 8, 0x78);  // a ring of one
  Put32(&b, sk + 12, 0x78);
  Put32(&b, sk + 16, 1);
  Put32(&b, sk + 20, 20);
  b[sk + 24] = 1;  // an empty self-relative security descriptor
  b[sk + 27] = static_cast<char>(0x80);
  Put32(&b, bin + 0xA8, 0x1000 - 0xA8);  // the rest of the bin is free
  return b;
}

}  // namespace

bool WriteIdentityHive(const std::string& path,
                       const std::vector<std::pair<std::string, std::u16string>>& names,
                       std::string* error) {
  if (!WriteWholeFile(path, EmptyHive())) {
    *error = "cannot write " + path;
    return false;
  }
  hive_h* hive = hivex_open(path.c_str(), HIVEX_OPEN_WRITE);
  if (hive == nullptr) {
    *error = std::string("hivex_open: ") + strerror(errno);
    return false;
  }
  bool written = true;
  const hive_node_h identities = hivex_node_add_child(hive, hivex_root(hive), "Identities");
  written = identities != 0;
  for (size_t i = 0; written && i < names.size(); ++i) {
    const hive_node_h key = hivex_node_add_child(hive, identities, names[i].first.c_str());
    std::string bytes;
    for (char16_t c : names[i].second + u'\0') {
      bytes += {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
    }
    hive_set_value value{const_cast<char*>("Username"), hive_t_REG_SZ, bytes.size(), &bytes[0]};
    written = key != 0 && hivex_node_set_value(hive, key, &value, 0) == 0;
  }
  written = written && hivex_commit(hive, nullptr, 0) == 0;
  if (!written) *error = std::string("hivex: ") + strerror(errno);
  hivex_close(hive);
  return written;
}

}  // namespace quillon::test
