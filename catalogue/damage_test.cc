// Hostile trees and records, built in memory: each piece of damage is reported in words at its
// offset, and what is sound around it is still read; nothing loops or allocates by a count.
#include <gtest/gtest.h>

#include <functional>

#include "catalogue/catalogue.h"
#include "catalogue/dbx_format.h"
#include "catalogue/file_reader.h"
#include "catalogue/testing/byte_file.h"
#include "catalogue/testing/dbx_builder.h"

namespace quillon::catalogue {
namespace {

using testing::ByteFile;
using testing::DbxBuilder;
using Entry = DbxBuilder::Entry;

constexpr uint32_t kSize = 0x6000;
// Nodes at 0x3000, 0x3280, ...; tree values (not read as records) are small offsets.
constexpr uint32_t N(int k) { return 0x3000 + 0x280 * k; }
constexpr uint32_t V(int k) { return 0x100 + 0x10 * k; }

class Recorder final : public DamageReporter {
 public:
  void Report(const Damage& damage) override { seen.push_back(damage.reason); }
  std::vector<std::string> seen;
};

std::vector<std::string> Reasons(const Catalogue& cat) {
  std::vector<std::string> reasons;
  for (const Damage& d : cat.damage) reasons.push_back(d.reason);
  return reasons;
}

struct TreeCase {
  const char* name;
  std::function<void(DbxBuilder&)> build;
  std::vector<uint32_t> values;
  std::vector<std::string> damage;
  uint32_t size = kSize;
};

const TreeCase kTreeCases[] = {
    {"a sound tree of three levels is read in order",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 5);
       b.Node(N(0), 0, N(1), 1, {{V(2), N(2), 2}, {V(5)}});
       b.Node(N(1), N(0), 0, 0, {{V(1)}});
       b.Node(N(2), N(0), N(3), 1, {{V(4)}});
       b.Node(N(3), N(2), 0, 0, {{V(3)}});
     },
     {V(1), V(2), V(3), V(4), V(5)},
     {}},
    {"a node whose child is itself",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 1);
       b.Node(N(0), 0, N(0), 0, {{V(1)}});
     },
     {V(1)},
     {"tree node at 0x3000 is reached a second time (the tree loops)"}},
    {"a grandchild that links back to the root",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 2);
       b.Node(N(0), 0, 0, 0, {{V(1), N(1), 1}});
       b.Node(N(1), N(0), 0, 0, {{V(2), N(0), 0}});
     },
     {V(1), V(2)},
     {"tree node at 0x3000 is reached a second time (the tree loops)"}},
    {"a child count of 0xFFFFFFFF",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 2);
       b.Node(N(0), 0, N(1), 0xFFFFFFFF, {{V(2)}});
       b.Node(N(1), N(0), 0, 0, {{V(1)}});
     },
     {V(1), V(2)},
     {"tree node at 0x3280 holds 1 value; its parent counts 4294967295"}},
    {"a header count of 0xFFFFFFFF",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 0xFFFFFFFF);
       b.Node(N(0), 0, 0, 0, {{V(1)}, {V(2)}});
     },
     {V(1), V(2)},
     {"the header counts 4294967295 values in the tree at word 0xE4; it holds 2"}},
    {"an entry count of 255",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 2);
       b.Node(N(0), 0, 0, 0, {{V(1)}, {V(2)}});
       b.PutByte(N(0) + dbx::kNodeEntryCount, 0xFF);
     },
     {V(1), V(2)},
     {"tree node at 0x3000 holds 255 entries; at most 51 fit"}},
    {"a tree deeper than any real one",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 40);
       for (int k = 0; k < 40; ++k) b.Node(N(k), k ? N(k - 1) : 0, N(k + 1), 39 - k, {{V(k)}});
     },
     // The 32 levels that may be real, deepest first.
     {V(31), V(30), V(29), V(28), V(27), V(26), V(25), V(24), V(23), V(22), V(21),
      V(20), V(19), V(18), V(17), V(16), V(15), V(14), V(13), V(12), V(11), V(10),
      V(9),  V(8),  V(7),  V(6),  V(5),  V(4),  V(3),  V(2),  V(1),  V(0)},
     {"tree node at 0x8000 lies 33 levels down, deeper than any real tree"},
     0xA000},
    {"a root past the end of the file",
     [](DbxBuilder& b) { b.Tree(0, kSize - 0x100, 1); },
     {},
     {"tree node at 0x5F00 runs past the end of the file (it would end at 0x617C, the file at "
      "0x6000)"}},
    {"a child where no node is, and a parent link that is wrong",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 3);
       b.Node(N(0), 0, N(5), 1, {{V(1), N(1), 1}});
       b.Node(N(1), N(3), 0, 0, {{V(2)}});
     },
     {V(1), V(2)},
     {"tree node at 0x3C80 names itself 0x0",
      "tree node at 0x3280 names 0x3780 as its parent, not 0x3000"}},
    {"values outside the file, listed twice, or counted under no child",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 2);
       b.Node(N(0), 0, 0, 0, {{V(1)}, {0x10000}, {V(1), 0, 5}, {V(2)}, {0}});
     },
     {V(1), V(2)},
     {"tree node at 0x3000 lists 0x10000, outside the file",
      "tree node at 0x3000 lists 0x110 a second time",
      "tree node at 0x3000 counts 5 values under no child",
      "tree node at 0x3000 lists 0x0, outside the file"}},
    {"a header count the tree does not hold",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 3);
       b.Node(N(0), 0, 0, 0, {{V(1)}, {V(2)}});
       b.Tree(1, 0, 4);
     },
     {V(1), V(2)},
     {"the header counts 3 values in the tree at word 0xE4; it holds 2",
      "the header counts 4 values in the tree at word 0xE8, whose root is 0"}},
    {"the first tree's node in the second tree",
     [](DbxBuilder& b) {
       b.Tree(0, N(0), 1);
       b.Node(N(0), 0, 0, 0, {{V(1)}});
       b.Tree(1, N(1), 1);
       b.Node(N(1), 0, N(0), 0, {{V(2)}});
     },
     {V(1)},
     {"tree node at 0x3000 is reached a second time (the tree loops)"}},
};

TEST(TreeDamageTest, EachDamageIsReportedAndTheSoundRestRead) {
  for (const TreeCase& c : kTreeCases) {
    SCOPED_TRACE(c.name);
    DbxBuilder b(c.size);
    c.build(b);
    ByteFile file(b.bytes);
    Recorder recorder;
    const Catalogue cat = ReadCatalogue(&file, &recorder, {/*readRecords=*/false});
    EXPECT_EQ(cat.trees[0].values, c.values);
    EXPECT_EQ(Reasons(cat), c.damage);
    EXPECT_EQ(recorder.seen, c.damage);
    EXPECT_EQ(cat.damageCount, c.damage.size());
  }
  // A look at the first values walks no further: of the sound tree, two values and two nodes.
  DbxBuilder b(kSize);
  kTreeCases[0].build(b);
  ByteFile file(b.bytes);
  CatalogueOptions look;
  look.readRecords = false;
  look.maxRecords = 2;
  const Catalogue cat = ReadCatalogue(&file, nullptr, look);
  EXPECT_EQ(cat.trees[0].values, (std::vector<uint32_t>{V(1), V(2)}));
  EXPECT_EQ(cat.trees[0].nodes, 2u);
  EXPECT_EQ(cat.damageCount, 0u);
}

TEST(TreeDamageTest, AnUnreadableNodeIsReportedAsAReadFailure) {
  DbxBuilder b(kSize);
  b.Tree(0, N(0), 2);
  b.Node(N(0), 0, N(1), 1, {{V(2)}});
  b.Node(N(1), N(0), 0, 0, {{V(1)}});
  ByteFile file(b.bytes);
  file.FailReads(N(1) + 0x100, N(1) + 0x101);
  const Catalogue cat = ReadCatalogue(&file, nullptr, {false});
  EXPECT_EQ(cat.trees[0].values, std::vector<uint32_t>{V(2)});
  ASSERT_EQ(cat.damage.size(), 1u);
  EXPECT_EQ(cat.damage[0].kind, Damage::Kind::kUnreadable);
  EXPECT_EQ(cat.damage[0].offset, N(1));
  EXPECT_EQ(cat.damage[0].reason,
            "tree node at 0x3280 could not be read (reading at 0x3380 failed: Input/output error)");
}

TEST(TreeDamageTest, NodesOverlappingAtEveryWordCostNoMoreThanTheFileHasRoomFor) {
  // Every word holds its own offset: each is a node whose left child is the word 8 bytes on.
  DbxBuilder b(0x40000);
  for (uint32_t at = 0x2600; at + 4 <= b.bytes.size(); at += 4) b.PutWord(at, at);
  b.Tree(0, 0x2600, 0);
  ByteFile file(b.bytes);
  const Catalogue cat = ReadCatalogue(&file, nullptr, {false});
  // The header, the file-info area, and at most one node per 0x27C bytes.
  EXPECT_LE(file.reads, 2 + 0x40000 / dbx::kNodeSize + 1);
  EXPECT_GT(cat.damageCount, 0u);
}

// Records: each case lists records built at 0x2B00, 0x2C00, ... in a tree that lists them all.
struct RecordCase {
  const char* name;
  std::function<void(DbxBuilder&)> build;  // builds records 0x2B00...; the tree is added after
  std::vector<std::string> subjects;       // of the messages read
  std::vector<std::string> damage;
};

constexpr uint32_t R(int k) { return 0x2B00 + 0x100 * k; }

uint32_t Message(DbxBuilder& b, uint32_t at, const std::string& subject) {
  return b.Record(at, {DbxBuilder::Direct(dbx::message::kIndexId, at),
                       DbxBuilder::Direct(dbx::message::kFirstBlock, 0xEAD4),
                       DbxBuilder::Text(dbx::message::kSubject, subject)});
}

const RecordCase kRecordCases[] = {
    {"a body past the end of the file",
     [](DbxBuilder& b) {
       Message(b, R(0), "first");
       Message(b, R(1), "second");
       b.PutWord(R(1) + 4, kSize);
     },
     {"first"},
     {"message-info record at 0x2C00 runs past the end of the file (it would end at 0x8C0C, the "
      "file at 0x6000)"}},
    {"a record that names another offset, and one over the length cap",
     [](DbxBuilder& b) {
       Message(b, R(0), "first");
       Message(b, R(1), "second");
       b.PutWord(R(1), R(2));
       Message(b, R(2), "third");
       b.PutWord(R(2) + 4, 0x10001);
     },
     {"first"},
     {"message-info record at 0x2C00 names itself 0x2D00",
      "message-info record at 0x2D00 claims a body of 65537 bytes; no record is longer than "
      "65536"}},
    {"fields that do not fit their body",
     [](DbxBuilder& b) {
       b.Record(R(0), {DbxBuilder::Bytes(dbx::message::kFlags, std::string("\x81\x00", 2)),
                       DbxBuilder::Bytes(dbx::message::kSubject, "no end"),
                       DbxBuilder::Direct(dbx::message::kReceived, 7),
                       DbxBuilder::Bytes(dbx::message::kReceiverName, "")});
       b.PutWord(R(0) + 12 + 4 * 3, dbx::message::kReceiverName | 0xFF00);  // past its data
     },
     {"no end"},
     {"message-info record at 0x2B00: field 0x13 begins at 255, past its data of 8 bytes",
      "message-info record at 0x2B00: field 0x01 holds 2 bytes, too few for a number",
      "message-info record at 0x2B00: field 0x12 is too short for a time",
      "message-info record at 0x2B00: field 0x08 runs to the end of its space unterminated"}},
    {"fields twice, out of order, and more than the body has room for",
     [](DbxBuilder& b) {
       b.Record(R(0), {DbxBuilder::Text(dbx::message::kSubject, "kept"),
                       DbxBuilder::Direct(dbx::message::kIndexId, 1),
                       DbxBuilder::Text(dbx::message::kSubject, "dropped")});
       Message(b, R(1), "second");
       b.PutByte(R(1) + dbx::kRecordEntryCount, 200);
       b.PutWord(R(1) + 4, 12);
     },
     {"kept", ""},
     {"message-info record at 0x2B00: field 0x08 appears twice",
      "message-info record at 0x2B00 lists its fields out of order",
      "message-info record at 0x2C00 has 200 fields, its body room for 3",
      "message-info record at 0x2C00: field 0x08 begins at 0, past its data of 0 bytes"}},
    {"records whose bodies overlap past the file's size",
     [](DbxBuilder& b) {
       // Each body holds the next records; together they claim more bytes than the file has.
       for (int k = 0; k < 5; ++k) {
         Message(b, R(k), "r" + std::to_string(k));
         b.PutWord(R(k) + 4, 0x1400);
       }
     },
     {"r0", "r1", "r2", "r3"},
     {"message-info record at 0x2F00 shares its bytes with other records"}},
};

TEST(RecordDamageTest, EachDamageIsReportedAndTheSoundRestRead) {
  for (const RecordCase& c : kRecordCases) {
    SCOPED_TRACE(c.name);
    DbxBuilder b(kSize);
    c.build(b);
    std::vector<Entry> entries;
    for (int k = 0; k < 5 && Le32(reinterpret_cast<const uint8_t*>(b.bytes.data()) + R(k)); ++k) {
      entries.push_back({R(k)});
    }
    b.Tree(0, N(0), static_cast<uint32_t>(entries.size()));
    b.Node(N(0), 0, 0, 0, entries);
    ByteFile file(b.bytes);
    const Catalogue cat = ReadCatalogue(&file, nullptr);
    std::vector<std::string> subjects;
    for (const MessageInfo& m : ReadMessageInfos(&file, cat)) subjects.push_back(m.subject);
    EXPECT_EQ(subjects, c.subjects);
    EXPECT_EQ(Reasons(cat), c.damage);
  }
}

TEST(HeaderDamageTest, ShortFilesAndBadHeaderWordsAreReported) {
  {  // cut inside the header: what is there is read, the rest is not guessed
    DbxBuilder b(dbx::kHeaderSize);
    b.Tree(0, 0, 0);
    const std::string cut = b.bytes.substr(0, 0x200);
    ByteFile file(cut);
    const Catalogue cat = ReadCatalogue(&file, nullptr);
    EXPECT_EQ(cat.kind, FileKind::kMessages);
    EXPECT_FALSE(cat.fileInfo.present);
    EXPECT_EQ(Reasons(cat), (std::vector<std::string>{
                                "the file ends at 0x200, inside the 0x24BC-byte header",
                                "the file ends at 0x200, before the end of the file-info area"}));
  }
  {
    DbxBuilder b(kSize);
    b.FileInfo(1, "00000002", "Posteingang");
    b.PutWord(dbx::kFileInfoLengthWord, 0x100);
    b.PutWord(dbx::kUsedSpaceWord, kSize + 4);
    b.PutWord(dbx::kDeletedListWord, kSize);
    ByteFile file(b.bytes);
    const Catalogue cat = ReadCatalogue(&file, nullptr);
    EXPECT_EQ(cat.fileInfo.source, 1);
    EXPECT_EQ(cat.fileInfo.accountKey, "00000002");
    EXPECT_EQ(cat.fileInfo.name, "Posteingang");
    EXPECT_EQ(Reasons(cat),
              (std::vector<std::string>{
                  "the header says 0x6004 bytes are in use; the file ends at 0x6000",
                  "the list of deleted blocks starts at 0x6000, past the end of the file",
                  "the header gives the file-info area 0x100 bytes, not 0x618"}));
  }
  {  // another file class, and no mailbox at all: nothing to report, nothing read
    DbxBuilder b(kSize, 0x12345678);
    ByteFile file(b.bytes);
    const Catalogue cat = ReadCatalogue(&file, nullptr);
    EXPECT_EQ(cat.kind, FileKind::kNotAMailbox);
    EXPECT_EQ(Reasons(cat),
              std::vector<std::string>{"the file class 0x12345678 is none of a mailbox's"});
    const std::string text = "Subject: plain text\r\n\r\nnot a mailbox";
    ByteFile textFile(text);
    EXPECT_EQ(ReadCatalogue(&textFile, nullptr).kind, FileKind::kNotAMailbox);
    EXPECT_EQ(ReadCatalogue(&textFile, nullptr).damageCount, 0u);
  }
}

}  // namespace
}  // namespace quillon::catalogue
