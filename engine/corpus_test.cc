// The real mailbox files of the shared corpus: each gives the messages that its notes list, byte
// for byte (MD5 of the raw message as published with the files).
#include <gtest/gtest.h>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"
#include "hash/digest.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

struct Expected {
  const char* file;
  int result;
  std::vector<std::pair<size_t, const char*>> messages;  // length and MD5, in export order
};

const Expected kCorpus[] = {
    {"dbxconvert_test.dbx",
     0,
     {{1195, "4869313be1f1b213836783a565f87969"}, {18490, "c0f7f802d5d7522d8745f0f6cd895901"}}},
    {"mailtransportdbx_test1.dbx", 0, {{2710, "f6846edab46081094ae9d0794eb0a075"}}},
    {"dbxoutlookexpress_Inbox.dbx", 0, {{10139, "6390189ca68789c9e26ec3a14aa10e35"}}},
    {"dbxoutlookexpress_Outbox.dbx", 1, {}},
    {"dbxoutlookexpress_Folders.dbx", 1, {}},
    {"dbxoutlookexpress_Offline.dbx", 1, {}},
};

TEST(CorpusTest, EachRealFileGivesItsPublishedMessages) {
  const std::string dir = QUILLON_CORPUS_DIR;
  std::string probe;
  if (!test::ReadWholeFile(dir + "/dbxconvert_test.dbx", &probe)) {
    GTEST_SKIP() << "the shared corpus is not at " << dir;
  }
  for (const Expected& e : kCorpus) {
    SCOPED_TRACE(e.file);
    std::string bytes;
    ASSERT_TRUE(test::ReadWholeFile(dir + "/" + e.file, &bytes));
    MemFileSystem files;
    files.Put(e.file, bytes);
    RecordingSink sink;
    CMailboxExtractor engine(&files);
    engine.m_pSink = &sink;
    ASSERT_EQ(engine.ExportMailbox(e.file, "out"), e.result);
    const std::string out = std::string("out") + kPathSeparator;
    const auto written = files.FilesUnder(out);
    ASSERT_EQ(written.size(), e.messages.size());
    for (size_t i = 0; i < e.messages.size(); ++i) {
      const std::string& eml =
          files.Get(out + std::string(e.file) + "-" + std::to_string(i + 1) + ".eml");
      EXPECT_EQ(eml.size(), e.messages[i].first);
      EXPECT_EQ(DigestToHex(ComputeMd5(eml.data(), eml.size())), e.messages[i].second);
    }

    // The one-block pass finds nothing more in real files: the scanner alone gives the same.
    engine.Reset();
    const int r = engine.OpenMailbox(e.file, "out");
    if (r == 0) engine.CollectMessages();
    const size_t scanned = engine.Messages().size();
    EXPECT_EQ(engine.CollectSingleBlockMessages(), 0u);
    EXPECT_EQ(scanned, e.messages.size());
    engine.Reset();
  }
}

}  // namespace
}  // namespace quillon
