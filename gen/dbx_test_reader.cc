#include "gen/dbx_test_reader.h"

#include <set>
#include <sstream>

namespace quillon::gen::testing {
namespace {

constexpr uint32_t kNodeBytes = 0x27C;
constexpr uint32_t kMaxEntries = 0x33;
constexpr uint32_t kBlockBytes = 0x210;
constexpr uint32_t kDataBytes = 0x200;

std::string Hex(uint32_t v) {
  std::ostringstream s;
  s << "0x" << std::hex << v;
  return s.str();
}

bool Fits(const std::string& file, uint64_t offset, uint64_t size) {
  return offset <= file.size() && size <= file.size() - offset;
}

// Returns the number of values in the subtree, or -1 after setting walk->error.
int64_t WalkNode(const std::string& file, uint32_t node, uint32_t parent, uint32_t depth,
                 std::set<uint32_t>* seen, TreeWalk* walk) {
  if (depth > 8 || !Fits(file, node, kNodeBytes) || !seen->insert(node).second) {
    walk->error = "bad or repeated tree node at " + Hex(node);
    return -1;
  }
  walk->nodes.push_back(node);
  const uint8_t* p = reinterpret_cast<const uint8_t*>(file.data()) + node;
  const uint32_t entries = p[0x11];
  if (Le32(file, node) != node) walk->error = "node at " + Hex(node) + " has the wrong self offset";
  if (Le32(file, node + 0x0C) != parent) walk->error = "node at " + Hex(node) + ": wrong parent";
  if (entries > kMaxEntries) walk->error = "node at " + Hex(node) + ": too many entries";
  if (!walk->error.empty()) return -1;

  int64_t total = 0;
  bool leaf = true;
  auto subtree = [&](uint32_t child, uint32_t expected) -> bool {
    if (child == 0) {
      if (expected != 0) walk->error = "node at " + Hex(node) + ": count without a child";
      return expected == 0;
    }
    leaf = false;
    const int64_t n = WalkNode(file, child, node, depth + 1, seen, walk);
    if (n < 0) return false;
    if (n != expected) {
      walk->error = "node at " + Hex(node) + ": stored count " + std::to_string(expected) +
                    ", subtree holds " + std::to_string(n);
      return false;
    }
    total += n;
    return true;
  };
  if (!subtree(Le32(file, node + 0x08), Le32(file, node + 0x14))) return -1;
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t e = node + 0x18 + 12 * i;
    walk->values.push_back(Le32(file, e));
    ++total;
    if (!subtree(Le32(file, e + 4), Le32(file, e + 8))) return -1;
  }
  if (leaf) walk->leafDepths.push_back(depth);
  return total;
}

}  // namespace

uint32_t Le32(const std::string& file, uint64_t offset) {
  if (!Fits(file, offset, 4)) return 0xFFFFFFFFu;
  const uint8_t* p = reinterpret_cast<const uint8_t*>(file.data()) + offset;
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

TreeWalk WalkIndexTree(const std::string& file, uint32_t root) {
  TreeWalk walk;
  if (root == 0) return walk;
  std::set<uint32_t> seen;
  WalkNode(file, root, 0, 0, &seen, &walk);
  return walk;
}

bool ReadInfoRecord(const std::string& file, uint32_t offset, InfoRecord* record,
                    std::string* error) {
  if (!Fits(file, offset, 12) || Le32(file, offset) != offset) {
    *error = "no message-info record at " + Hex(offset);
    return false;
  }
  // The body length counts the entries and the data after them.
  const uint32_t entries = static_cast<uint8_t>(file[offset + 10]);
  if (Le32(file, offset + 4) < 4 * entries) {
    *error = "message-info record at " + Hex(offset) + " is shorter than its entries";
    return false;
  }
  const uint32_t bodyLength = Le32(file, offset + 4) - 4 * entries;
  const uint64_t bodyStart = uint64_t{offset} + 12 + 4 * entries;
  if (!Fits(file, bodyStart, bodyLength)) {
    *error = "message-info record at " + Hex(offset) + " runs past the end";
    return false;
  }
  record->offset = offset;
  record->body = file.substr(bodyStart, bodyLength);
  for (uint32_t i = 0; i < entries; ++i) {
    const uint32_t entry = Le32(file, offset + 12 + 4 * i);
    const uint8_t field = entry & 0x7F;
    if (entry & 0x80) {
      record->direct[field] = entry >> 8;
    } else if ((entry >> 8) >= bodyLength) {
      *error = "record at " + Hex(offset) + ": field offset outside the body";
      return false;
    } else {
      record->bodyOffset[field] = entry >> 8;
    }
  }
  return true;
}

uint32_t InfoWord(const InfoRecord& record, uint8_t field) {
  auto d = record.direct.find(field);
  if (d != record.direct.end()) return d->second;
  auto b = record.bodyOffset.find(field);
  if (b == record.bodyOffset.end()) return 0xFFFFFFFFu;
  return Le32(record.body, b->second);
}

std::string InfoText(const InfoRecord& record, uint8_t field) {
  auto b = record.bodyOffset.find(field);
  if (b == record.bodyOffset.end()) return std::string();
  return std::string(record.body.c_str() + b->second);
}

bool ReadChain(const std::string& file, uint32_t first, Chain* chain, std::string* error) {
  std::set<uint32_t> seen;
  for (uint32_t at = first; at != 0;) {
    if (!Fits(file, at, kBlockBytes) || !seen.insert(at).second) {
      *error = "chain from " + Hex(first) + " reaches a bad or repeated block at " + Hex(at);
      return false;
    }
    const uint32_t size = Le32(file, at + 4), used = Le32(file, at + 8), next = Le32(file, at + 12);
    if (Le32(file, at) != at || size != kDataBytes || used == 0 || used > kDataBytes ||
        (next != 0 && used != kDataBytes)) {
      *error = "bad block header at " + Hex(at) + " in the chain from " + Hex(first);
      return false;
    }
    chain->blocks.push_back(at);
    chain->bytes.append(file, at + 16, used);
    at = next;
  }
  return true;
}

bool DecodeMailbox(const std::string& file, DecodedMailbox* mailbox, std::string* error) {
  if (file.size() < 0x24BC || Le32(file, 0) != 0xFE12ADCFu || Le32(file, 4) != 0x6F74FDC5u) {
    *error = "not a message folder";
    return false;
  }
  mailbox->tree = WalkIndexTree(file, Le32(file, 0xE4));
  if (!mailbox->tree.error.empty()) {
    *error = mailbox->tree.error;
    return false;
  }
  if (mailbox->tree.values.size() != Le32(file, 0xC4)) {
    *error = "the tree holds " + std::to_string(mailbox->tree.values.size()) +
             " messages, the header counts " + std::to_string(Le32(file, 0xC4));
    return false;
  }
  for (uint32_t record : mailbox->tree.values) {
    InfoRecord info;
    if (!ReadInfoRecord(file, record, &info, error)) return false;
    DecodedMessage m;
    m.record = record;
    m.id = InfoWord(info, 0x00);
    m.sizeField = InfoWord(info, 0x11);
    m.firstBlock = InfoWord(info, 0x04);
    if (!ReadChain(file, m.firstBlock, &m.chain, error)) return false;
    mailbox->messages.push_back(std::move(m));
  }
  std::set<uint32_t> seen;
  for (uint32_t at = Le32(file, 0x48); at != 0;) {
    if (!Fits(file, at, kBlockBytes) || !seen.insert(at).second) {
      *error = "free list reaches a bad or repeated block at " + Hex(at);
      return false;
    }
    if (Le32(file, at) != at || Le32(file, at + 4) != 0x1FC || Le32(file, at + 8) != 0x210) {
      *error = "free-list block at " + Hex(at) + " is not marked deleted";
      return false;
    }
    DeletedBlock d{at, Le32(file, at + 12), Le32(file, at + 16)};
    mailbox->freeList.push_back(d);
    at = d.link;
  }
  return true;
}

}  // namespace quillon::gen::testing
