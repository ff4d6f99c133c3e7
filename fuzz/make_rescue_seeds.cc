// Writes compact seeds for the rescue fuzzer: mailboxes of some 10 to 30 KiB with a header, an
// index and blocks right behind it (the client's folders put the first block at 0xEAD4; nothing in
// the rescue needs that), in the shapes the rescue decides between: listed, fragmented, deleted,
// without a body, unlisted, and damaged links. Small inputs keep the fuzzer fast.
// Usage: make_rescue_seeds DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "catalogue/dbx_format.h"
#include "catalogue/testing/dbx_builder.h"

namespace {

using quillon::catalogue::testing::DbxBuilder;
namespace dbx = quillon::catalogue::dbx;

constexpr uint32_t kFirstSlot = 0x3400;
uint32_t Slot(uint32_t k) { return kFirstSlot + k * 0x210; }

struct Seed {
  DbxBuilder b{Slot(48)};
  std::vector<uint32_t> listed;  // first blocks; 0 for a message without a body

  void Message(const std::vector<uint32_t>& slots, size_t length, int n, bool deleted = false) {
    std::string text = "Subject: message " + std::to_string(n) + "\r\nFrom: a@example.org\r\n\r\n";
    while (text.size() < length) text += "text of message " + std::to_string(n) + "\r\n";
    text.resize(length);
    for (size_t i = 0; i < slots.size(); ++i) {
      const uint32_t at = Slot(slots[i]);
      const size_t from = i * 0x200, size = std::min<size_t>(0x200, text.size() - from);
      b.PutWord(at, at);
      b.PutWord(at + 4, deleted ? 0x1FC : 0x200);
      b.PutWord(at + 8, deleted ? 0x210 : static_cast<uint32_t>(size));
      b.PutWord(at + 12, i + 1 < slots.size() ? Slot(slots[i + 1]) : 0);
      b.bytes.replace(at + 16, size, text, from, size);
      if (deleted) b.PutWord(at + 16, 0);
    }
  }
  std::string Bytes() {
    uint32_t at = 0x2AD4;
    std::vector<DbxBuilder::Entry> entries;
    for (uint32_t i = 0; i < listed.size(); ++i) {
      entries.push_back({at});
      at = b.Record(at,
                    {DbxBuilder::Direct(dbx::message::kIndexId, i + 1),
                     DbxBuilder::Direct(dbx::message::kFlags, listed[i] ? 0x81 : 0x80),
                     DbxBuilder::Direct(dbx::message::kFirstBlock, listed[i]),
                     DbxBuilder::Text(dbx::message::kMessageId, "<m" + std::to_string(i) + ">")});
    }
    if (!listed.empty()) {
      const uint32_t node = (at + 3) & ~3u;
      b.Node(node, 0, 0, 0, entries);
      b.Tree(0, node, static_cast<uint32_t>(listed.size()));
    }
    return b.bytes;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_rescue_seeds DIR\n");
    return 64;
  }
  const std::string dir = argv[1];
  std::vector<std::pair<std::string, std::string>> seeds;

  Seed plain;
  plain.Message({0, 1, 2}, 1300, 1);
  plain.Message({3}, 300, 2);
  plain.Message({4, 5}, 700, 3);
  plain.listed = {Slot(0), Slot(3), Slot(4), 0};
  seeds.push_back({"rescue-listed.dbx", plain.Bytes()});

  Seed fragmented;
  fragmented.Message({5, 1, 3}, 1400, 1);
  fragmented.Message({0, 4}, 900, 2);
  fragmented.Message({2}, 200, 3);
  fragmented.listed = {Slot(5), Slot(0), Slot(2)};
  seeds.push_back({"rescue-fragmented.dbx", fragmented.Bytes()});

  Seed deleted;
  deleted.Message({0, 1}, 800, 1);
  deleted.Message({2, 3, 4}, 1200, 2, true);
  deleted.Message({5, 6}, 700, 3, true);
  deleted.listed = {Slot(0)};
  seeds.push_back({"rescue-deleted.dbx", deleted.Bytes()});

  Seed unlisted;  // no index at all: orphans, and a tail whose head is gone
  unlisted.Message({0, 1}, 900, 1);
  unlisted.Message({2, 3, 4}, 1300, 2);
  unlisted.b.bytes.replace(Slot(2), 0x210, 0x210, '\0');
  seeds.push_back({"rescue-unlisted.dbx", unlisted.Bytes()});

  Seed damaged;  // a loop, a link out of the file, and two links to one block
  damaged.Message({0, 1, 2}, 1300, 1);
  damaged.Message({3, 4}, 900, 2);
  damaged.Message({5, 6, 7}, 1400, 3);
  damaged.Message({8, 9}, 800, 4);
  damaged.b.PutWord(Slot(2) + 12, Slot(0));
  damaged.b.PutWord(Slot(3) + 12, 0x7FFFFFF0);
  damaged.b.PutWord(Slot(8) + 12, Slot(6));
  damaged.b.PutWord(Slot(5), 0x12345678);
  damaged.listed = {Slot(0), Slot(3), Slot(5), Slot(8), Slot(40)};
  seeds.push_back({"rescue-damaged.dbx", damaged.Bytes()});

  for (const auto& seed : seeds) {
    std::ofstream out(dir + "/" + seed.first, std::ios::binary);
    out.write(seed.second.data(), static_cast<std::streamsize>(seed.second.size()));
    if (!out) {
      std::fprintf(stderr, "make_rescue_seeds: cannot write %s/%s\n", dir.c_str(),
                   seed.first.c_str());
      return 1;
    }
  }
  std::printf("make_rescue_seeds: %zu seeds in %s\n", seeds.size(), dir.c_str());
  return 0;
}
