// Hand-built mailboxes, one decision of the reconciler each: what status a message gets, what is
// read of it, and what the plan says is missing or mended. Then deleted mail, a file that fails
// under the reader, a hostile file, and the fuzzer's committed findings.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "catalogue/dbx_format.h"
#include "catalogue/testing/dbx_builder.h"
#include "gen/generator.h"
#include "gen/message_info.h"
#include "rescue/testing/rescue_check.h"
#include "test_support/test_support.h"

namespace quillon::rescue {
namespace {

using catalogue::testing::DbxBuilder;
namespace dbx = catalogue::dbx;

constexpr uint32_t kSlot0 = 0xEAD4;
uint32_t Slot(uint32_t k) { return kSlot0 + k * 0x210; }

std::string Text(const std::string& subject, size_t length) {
  std::string t = "Subject: " + subject + "\r\nFrom: a@example.org\r\n\r\n";
  while (t.size() < length) t += "line of " + subject + " text\r\n";
  t.resize(length);
  return t;
}

// A message folder: blocks in 0x210-byte slots, an index of one node over records at 0x2B00.
struct Folder {
  DbxBuilder b{Slot(40)};
  std::vector<uint32_t> listed;
  bool sized = false;                  // the records give each message's size, as the client's do
  std::map<uint32_t, uint32_t> sizes;  // first block -> the message's length

  // `text` in the given slots, linked in that order.
  std::string Message(const std::vector<uint32_t>& slots, const std::string& text) {
    sizes[Slot(slots[0])] = static_cast<uint32_t>(text.size());
    for (size_t i = 0; i < slots.size(); ++i) {
      const uint32_t at = Slot(slots[i]);
      const size_t from = i * 0x200, n = std::min<size_t>(0x200, text.size() - from);
      b.PutWord(at, at);
      b.PutWord(at + 4, 0x200);
      b.PutWord(at + 8, static_cast<uint32_t>(n));
      b.PutWord(at + 12, i + 1 < slots.size() ? Slot(slots[i + 1]) : 0);
      b.bytes.replace(at + 16, n, text, from, n);
    }
    return text;
  }
  void Deleted(const std::vector<uint32_t>& slots, const std::string& text) {
    Message(slots, text);
    for (uint32_t s : slots) {
      b.PutWord(Slot(s) + 4, kDeletedBlockSize);
      b.PutWord(Slot(s) + 8, kDeletedDataLength);
      b.PutWord(Slot(s) + 16, 0);  // the free list's link
    }
  }
  // Index records for `firstBlocks` (0: a message whose body was never downloaded).
  std::string Bytes() {
    uint32_t at = 0x2B00;
    std::vector<DbxBuilder::Entry> entries;
    for (uint32_t i = 0; i < listed.size(); ++i) {
      const uint32_t flags = listed[i] != 0 ? 0x81 : 0x80;
      entries.push_back({at});
      std::vector<DbxBuilder::Field> fields{
          DbxBuilder::Direct(dbx::message::kIndexId, i + 1),
          DbxBuilder::Direct(dbx::message::kFlags, flags),
          DbxBuilder::Direct(dbx::message::kFirstBlock, listed[i])};
      if (sized && sizes.count(listed[i]) != 0) {
        fields.push_back(DbxBuilder::Direct(dbx::message::kSize, sizes[listed[i]]));
      }
      at = b.Record(at, fields);
    }
    if (!listed.empty()) {
      b.Node(0x7000, 0, 0, 0, entries);
      b.Tree(0, 0x7000, static_cast<uint32_t>(listed.size()));
    }
    return b.bytes;
  }
};

struct Expect {
  Status status;
  std::string bytes;  // what the reader gives
  bool noted;         // the plan explains what is missing or mended
};

TEST(ReconcileTest, EachMessageGetsOneStatus) {
  const std::string a = Text("alpha", 1300), b = Text("beta", 700), noHead = "no header\r\n" + a;
  const struct Case {
    const char* name;
    std::function<std::vector<Expect>(Folder&)> build;
    uint64_t fragments;
  } kCases[] = {
      {"listed and whole",
       [&](Folder& f) {
         f.listed = {Slot(2)};
         return std::vector<Expect>{{Status::kLive, f.Message({2, 0, 1}, a), false}};
       },
       0},
      {"listed without a body",
       [&](Folder& f) {
         f.listed = {0};
         return std::vector<Expect>{{Status::kHeadersOnly, "", false}};
       },
       0},
      {"listed, its first block past the end",
       [&](Folder& f) {
         f.listed = {Slot(90)};
         return std::vector<Expect>{{Status::kLost, "", true}};
       },
       0},
      {"in no index, beginning like a message",
       [&](Folder& f) {
         return std::vector<Expect>{{Status::kOrphan, f.Message({3, 4}, b), false}};
       },
       0},
      {"in no index, not beginning like a message: a fragment",
       [&](Folder& f) {
         f.Message({3, 4, 5}, noHead);
         return std::vector<Expect>{};
       },
       1},
      {"its head wiped: the index entry is lost, the tail a fragment, not a message",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.Message({0, 1, 2}, a);
         f.b.bytes.replace(Slot(0), 0x210, 0x210, '\0');
         return std::vector<Expect>{{Status::kLost, "", true}};
       },
       1},
      {"its last block links back to its first",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.Message({0, 1, 2}, a);
         f.b.PutWord(Slot(2) + 12, Slot(0));
         return std::vector<Expect>{{Status::kDamaged, a, true}};
       },
       0},
      {"a link out of the file, its tail elsewhere",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.Message({0, 5, 6}, a);
         f.b.PutWord(Slot(0) + 12, 0x7FFFFFF0);
         return std::vector<Expect>{{Status::kDamaged, a.substr(0, 0x200), true}};
       },
       1},
      {"a link one bit off: mended",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.Message({0, 7, 3}, a);
         f.b.PutWord(Slot(0) + 12, Slot(7) ^ 0x100000);
         return std::vector<Expect>{{Status::kDamaged, a, true}};
       },
       0},
      {"two chains claim one block: the one with a loose tail behind it lost its link",
       [&](Folder& f) {
         f.listed = {Slot(0), Slot(3)};
         std::vector<Expect> e{{Status::kLive, f.Message({0, 1, 2}, a), false},
                               {Status::kDamaged, f.Message({3, 4}, b), true}};
         f.b.PutWord(Slot(3) + 12, Slot(1));
         return e;
       },
       0},
      {"listed at another message's middle block: the index entry is wrong",
       [&](Folder& f) {
         f.listed = {Slot(0), Slot(1)};
         return std::vector<Expect>{{Status::kLive, f.Message({0, 1, 2}, a), false},
                                    {Status::kLost, "", true}};
       },
       0},
      {"a size word damaged: the length that fits a full block is believed",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.Message({0, 1, 2}, a);
         f.b.PutWord(Slot(1) + 4, 0x100);
         return std::vector<Expect>{{Status::kDamaged, a, true}};
       },
       0},
      {"listed and whole, of whole blocks, the index giving its size",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.sized = true;
         return std::vector<Expect>{{Status::kLive, f.Message({0, 6}, Text("even", 0x400)), false}};
       },
       0},
      {"a link zeroed, the next block elsewhere: shorter than the index says, so damaged",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.sized = true;
         f.Message({0, 5, 9}, a);
         f.b.PutWord(Slot(5) + 12, 0);
         return std::vector<Expect>{{Status::kDamaged, a.substr(0, 0x400), true}};
       },
       1},
      {"the first block no longer names itself: taken because the index lists it",
       [&](Folder& f) {
         f.listed = {Slot(0)};
         f.Message({0, 1, 2}, a);
         f.b.PutWord(Slot(0), 0x12345678);
         return std::vector<Expect>{{Status::kDamaged, a, true}};
       },
       0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    Folder f;
    const std::vector<Expect> expected = c.build(f);
    RescueOptions options;
    options.fragments = true;
    const std::string bytes = f.Bytes();
    const fuzzing::RescuedMailbox r = fuzzing::RescueBytes(bytes, options);
    const RescuePlan& plan = r.rescue.plan;
    EXPECT_EQ(fuzzing::rescue_check::CheckPlan(r), "");
    EXPECT_EQ(plan.Count(Status::kFragment), c.fragments);
    std::vector<Expect> got;
    for (size_t i = 0; i < plan.messages.size(); ++i) {
      const PlannedMessage& m = plan.messages[i];
      if (m.status != Status::kFragment) got.push_back({m.status, r.messages[i], m.noteCount != 0});
    }
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_EQ(StatusName(got[i].status), std::string(StatusName(expected[i].status))) << i;
      EXPECT_EQ(got[i].bytes, expected[i].bytes) << i;
      EXPECT_EQ(got[i].noted, expected[i].noted) << i;
    }
  }
}

TEST(ReconcileTest, DeletedMailIsFilledEstimatedAndKnownWhenStillLive) {
  Folder f;
  const std::string moved = Text("moved", 1100), gone = "To: b@example.org\r\n" + Text("gone", 600);
  f.Deleted({0, 1, 2}, moved);
  f.Deleted({4, 5}, gone);
  f.Deleted({8, 9}, std::string(700, 'z'));  // no head of a message: not recovered
  RescueOptions options;
  options.deleted = true;
  const std::string bytes = f.Bytes();
  const fuzzing::RescuedMailbox r = fuzzing::RescueBytes(bytes, options);
  const RescuePlan& plan = r.rescue.plan;
  ASSERT_EQ(plan.Count(Status::kDeleted), 2u);
  ASSERT_EQ(plan.messages.size(), 2u);
  std::string movedSeen = moved, goneSeen = gone;
  for (size_t at : {0, 0x200, 0x400}) movedSeen.replace(at, 4, "????");
  for (size_t at : {0, 0x200}) goneSeen.replace(at, 4, "????");
  EXPECT_EQ(r.messages[0], movedSeen);
  EXPECT_EQ(r.messages[1], goneSeen);
  ASSERT_EQ(plan.messages[0].fillCount, 3u);
  EXPECT_EQ(plan.FilledOf(plan.messages[0])[2].at, 0x400u);
  EXPECT_EQ(plan.messages[0].flags & PlannedMessage::kEndEstimated, PlannedMessage::kEndEstimated);

  // The moved message is live in another mailbox of the run; the other one is not.
  LiveMessageSet live;
  MessagePrinter printer;
  printer.Update(reinterpret_cast<const uint8_t*>(moved.data()), moved.size());
  live.Add(printer.Finish(), "Archive.dbx-3.eml");
  catalogue::testing::ByteFile file(f.b.bytes);
  ReadOutcome outcome;
  const RescuePlan examined = ExamineDeleted(&file, plan, live, &outcome);
  EXPECT_EQ(outcome.result, ReadOutcome::kComplete);
  ASSERT_EQ(examined.messages[0].liveCopy, 0u);
  EXPECT_EQ(examined.liveCopies[0].where, "Archive.dbx-3.eml");
  EXPECT_EQ(examined.messages[1].liveCopy, kNoRecord);
  EXPECT_EQ(examined.messages[1].size, gone.size());
}

TEST(ReconcileTest, AFileThatFailsShrinksOrIsStoppedSaysSo) {
  Folder f;
  f.listed = {Slot(0), Slot(10)};
  f.Message({0, 1, 2}, Text("alpha", 1300));
  f.Message({10, 11}, Text("beta", 900));
  const std::string bytes = f.Bytes();
  catalogue::testing::ByteFile whole(bytes);
  const MailboxRescue planned = PlanRescue(&whole);
  ASSERT_EQ(planned.plan.exported, 2u);
  for (ReadFailure expected :
       {ReadFailure::kIoError, ReadFailure::kChanged, ReadFailure::kAborted}) {
    SCOPED_TRACE(ReadFailureName(expected));
    const std::atomic<bool> stop{expected == ReadFailure::kAborted};
    fuzzing::rescue_check::FaultyFile file(bytes, expected == ReadFailure::kAborted ? 1000 : 0,
                                           expected == ReadFailure::kChanged);
    // Planning meets it in the catalogue's first read, reading in the first block.
    RescueOptions options;
    options.abort = &stop;
    EXPECT_EQ(PlanRescue(&file, options).error.failure, expected);
    MessageReader reader(&file, planned.plan, &stop);
    const ReadOutcome o =
        reader.Read(planned.plan.messages[0], [](const uint8_t*, size_t) { return true; });
    EXPECT_EQ(o.result, ReadOutcome::kFailed);
    EXPECT_EQ(o.error.failure, expected);
    EXPECT_FALSE(o.error.reason.empty());
  }
}

// A healthy folder of one-block messages: each message-info record names itself as each block
// does, and there are nearly as many records as blocks. Only blocks count against the cap.
class OneBlockMessages final : public gen::FolderPlan {
 public:
  explicit OneBlockMessages(uint32_t count) : count_(count) {}
  uint32_t Count() const override { return count_; }
  Fate FateOf(uint32_t) const override { return Fate::kLive; }
  bool LastBlockReused(uint32_t) const override { return false; }
  void AppendText(uint32_t id, std::string* out) const override {
    gen::AppendMessageText(kSeed, id, Fields(id), out);
  }
  void AppendRecord(uint32_t id, uint32_t firstBlock, uint32_t length,
                    std::string* out) const override {
    gen::AppendMessageInfo(0, id, Fields(id), firstBlock, length, out);
  }

 private:
  static constexpr uint64_t kSeed = 18;
  static gen::MessageFields Fields(uint32_t id) {
    gen::MessageFields f = gen::MakeMessageFields(kSeed, id);
    f.kind = gen::MessageKind::kShortReply;
    return f;
  }
  uint32_t count_;
};

TEST(ReconcileTest, AHealthyFolderOfOneBlockMessagesIsFoundWhole) {
  gen::MemoryOutput out;
  std::vector<gen::FolderMessage> written;
  std::string error;
  ASSERT_TRUE(gen::GenerateFolder({}, OneBlockMessages(20000), out, &written, nullptr, &error))
      << error;
  ASSERT_EQ(written.size(), 20000u);
  for (const gen::FolderMessage& m : written) ASSERT_EQ(m.blocks, 1u);
  catalogue::testing::ByteFile file(out.bytes());
  const MailboxRescue r = PlanRescue(&file);
  EXPECT_EQ(r.plan.Count(Status::kLive), 20000u);
  EXPECT_EQ(r.plan.Count(Status::kDamaged) + r.plan.Count(Status::kLost), 0u);
  EXPECT_TRUE(r.plan.findings.empty()) << r.plan.findings[0].reason;
}

TEST(ReconcileTest, AFileOfSelfNamingBlocksIsCappedAndSaysSo) {
  // A block header every 16 bytes: [its offset, 0x200, 1, 0].
  std::string bytes(4u << 20, '\0');
  for (uint32_t at = 0; at < bytes.size(); at += 16) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(at >> (8 * i));
    bytes[at + 5] = 2;
    bytes[at + 8] = 1;
  }
  catalogue::testing::ByteFile file(bytes);
  const BlockScan scan = ScanBlocks(&file, {});
  EXPECT_EQ(scan.entries.size(), bytes.size() / 0x200 + ScanOptions{}.minEntries);
  EXPECT_NE(scan.cappedAt, 0u);
  const RescuePlan plan = Reconcile(scan, catalogue::Catalogue{});
  ASSERT_FALSE(plan.findings.empty());
  EXPECT_NE(plan.findings[0].reason.find("more blocks"), std::string::npos);
}

TEST(ReconcileTest, FuzzSeedsAndFindingsPassTheFuzzersChecks) {
  namespace fs = std::filesystem;
  size_t replayed = 0;
  for (const fs::path& dir : {fs::path(QUILLON_FUZZ_DIR) / "seeds",
                              fs::path(QUILLON_FUZZ_DIR) / "regressions" / "rescue_fuzzer"}) {
    if (!fs::is_directory(dir)) continue;
    for (const fs::directory_entry& e : fs::directory_iterator(dir)) {
      if (!e.is_regular_file() || e.path().extension() == ".md") continue;
      EXPECT_EQ(fuzzing::CheckRescue(test::ReadWholeFile(e.path())), "") << e.path();
      ++replayed;
    }
  }
  EXPECT_GE(replayed, 4u);  // the committed seeds alone are four
}

}  // namespace
}  // namespace quillon::rescue
