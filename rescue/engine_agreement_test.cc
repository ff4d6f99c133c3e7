// On sound files the rescue finds what the extraction engine finds: the same messages, bytes and
// order, every one of them live. Real files of the shared corpus and generated folders of every
// layout the generator offers.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"
#include "gen/generator.h"
#include "gen/mail_text.h"
#include "rescue/testing/rescue_check.h"
#include "test_support/test_support.h"

namespace quillon::rescue {
namespace {

// What the engine writes for `bytes`, in the order of its numbers.
std::vector<std::string> EngineExport(const std::string& bytes) {
  MemFileSystem files;
  files.Put("m.dbx", bytes);
  RecordingSink sink;
  CMailboxExtractor engine(&files);
  engine.m_pSink = &sink;
  engine.ExportMailbox("m.dbx", "out");
  std::vector<std::string> written;
  const std::string prefix = std::string("out") + kPathSeparator + "m.dbx-";
  for (size_t n = 1; files.Has(prefix + std::to_string(n) + ".eml"); ++n) {
    written.push_back(files.Get(prefix + std::to_string(n) + ".eml"));
  }
  return written;
}

// The rescue agrees with the engine, and finds nothing but live mail in a sound file.
void ExpectAgreement(const std::string& bytes, size_t expectedLive) {
  RescueOptions options;
  options.deleted = true;
  const fuzzing::RescuedMailbox r = fuzzing::RescueBytes(bytes, options);
  const RescuePlan& plan = r.rescue.plan;
  const std::vector<std::string> engine = EngineExport(bytes);
  ASSERT_EQ(plan.exported, engine.size());
  for (size_t i = 0; i < engine.size(); ++i) {
    EXPECT_EQ(StatusName(plan.messages[i].status), std::string("live")) << i;
    EXPECT_EQ(plan.messages[i].size, r.messages[i].size()) << i;
    ASSERT_EQ(r.messages[i], engine[i]) << "message " << i + 1;
  }
  EXPECT_EQ(plan.Count(Status::kLive), expectedLive);
  for (Status s : {Status::kOrphan, Status::kDamaged, Status::kLost, Status::kFragment}) {
    EXPECT_EQ(plan.Count(s), 0u) << StatusName(s);
  }
  EXPECT_TRUE(plan.findings.empty());
}

TEST(EngineAgreementTest, RealFilesOfTheCorpus) {
  namespace fs = std::filesystem;
  if (!fs::is_directory(QUILLON_CORPUS_DIR)) GTEST_SKIP() << "no corpus at " << QUILLON_CORPUS_DIR;
  const struct {
    const char* file;
    size_t live;
  } kFiles[] = {{"dbxconvert_test.dbx", 2},           {"mailtransportdbx_test1.dbx", 1},
                {"dbxoutlookexpress_Inbox.dbx", 1},   {"dbxoutlookexpress_Outbox.dbx", 0},
                {"dbxoutlookexpress_Folders.dbx", 0}, {"dbxoutlookexpress_Offline.dbx", 0}};
  for (const auto& f : kFiles) {
    SCOPED_TRACE(f.file);
    std::string bytes;
    ASSERT_TRUE(test::ReadWholeFile(fs::path(QUILLON_CORPUS_DIR) / f.file, &bytes));
    ExpectAgreement(bytes, f.live);
  }
}

TEST(EngineAgreementTest, GeneratedFoldersOfEveryLayout) {
  const struct {
    uint64_t seed;
    uint32_t messages;
    uint64_t size;
    bool fragmented;
    uint32_t deleted;
  } kLayouts[] = {
      {1, 150, 0, false, 0},       // a fresh folder; a tree of several levels
      {2, 150, 0, true, 0},        // blocks interleaved, later blocks before earlier ones
      {3, 120, 0, false, 30},      // deleted messages left in place
      {4, 120, 0, true, 30},       // both
      {5, 0, 6u << 20, true, 12},  // bounded by size, records past the first info chunk
      {6, 1, 0, false, 0},         // one message
      {7, 0, 0xEAD4, false, 0},    // no message at all
  };
  for (const auto& l : kLayouts) {
    SCOPED_TRACE(l.seed);
    gen::GeneratorOptions options;
    options.seed = l.seed;
    options.messageCount = l.messages;
    options.targetBytes = l.size;
    options.fragmented = l.fragmented;
    options.deletedMessages = l.deleted;
    gen::MemoryOutput out;
    std::vector<gen::ManifestEntry> manifest;
    gen::GeneratorStats stats;
    std::string error;
    ASSERT_TRUE(gen::GenerateMailbox(options, out, &manifest, &stats, &error)) << error;
    ExpectAgreement(out.bytes(), manifest.size());

    // Every deleted message is found with a readable head: its text but for the filled bytes,
    // its end found exactly (the generator leaves a block's unused room zero).
    RescueOptions withDeleted;
    withDeleted.deleted = true;
    const fuzzing::RescuedMailbox r = fuzzing::RescueBytes(out.bytes(), withDeleted);
    ASSERT_EQ(r.rescue.plan.Count(Status::kDeleted), stats.deletedMessages);
    std::vector<uint32_t> liveIds;
    for (const gen::ManifestEntry& m : manifest) liveIds.push_back(m.id);
    std::sort(liveIds.begin(), liveIds.end());
    // Ids neither live nor deleted were left out for want of room.
    size_t found = 0;
    for (uint32_t id = 1; id <= stats.lastMessageId; ++id) {
      if (std::binary_search(liveIds.begin(), liveIds.end(), id)) continue;
      std::string expected = gen::MessageText(l.seed, id);
      for (size_t at = 0; at < expected.size(); at += 0x200) {
        expected.replace(at, std::min<size_t>(4, expected.size() - at), 4, '?');
      }
      bool seen = false;
      for (size_t i = 0; i < r.rescue.plan.messages.size() && !seen; ++i) {
        seen = r.rescue.plan.messages[i].status == Status::kDeleted && r.messages[i] == expected;
      }
      found += seen;
    }
    EXPECT_EQ(found, stats.deletedMessages);
  }
}

}  // namespace
}  // namespace quillon::rescue
