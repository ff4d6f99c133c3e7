// The real mailbox files of the shared corpus: each gives the messages that its notes list, byte
// for byte (MD5 of the raw message as published with the files).
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "engine/testing/md5.h"
#include "engine/testing/mem_file_system.h"

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
     {{1195, "4869313BE1F1B213836783A565F87969"}, {18490, "C0F7F802D5D7522D8745F0F6CD895901"}}},
    {"mailtransportdbx_test1.dbx", 0, {{2710, "F6846EDAB46081094AE9D0794EB0A075"}}},
    {"dbxoutlookexpress_Inbox.dbx", 0, {{10139, "6390189CA68789C9E26EC3A14AA10E35"}}},
    {"dbxoutlookexpress_Outbox.dbx", 1, {}},
    {"dbxoutlookexpress_Folders.dbx", 1, {}},
    {"dbxoutlookexpress_Offline.dbx", 1, {}},
};

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return true;
}

TEST(CorpusTest, EachRealFileGivesItsPublishedMessages) {
  const std::string dir = QUILLON_CORPUS_DIR;
  std::string probe;
  if (!ReadFile(dir + "/dbxconvert_test.dbx", &probe)) {
    GTEST_SKIP() << "the shared corpus is not at " << dir;
  }
  for (const Expected& e : kCorpus) {
    SCOPED_TRACE(e.file);
    std::string bytes;
    ASSERT_TRUE(ReadFile(dir + "/" + e.file, &bytes));
    MemFileSystem files;
    files.Put(e.file, bytes);
    RecordingSink sink;
    CMailboxExtractor engine(&files);
    engine.m_pSink = &sink;
    ASSERT_EQ(engine.ExportMailbox(e.file, "out"), e.result);
    const auto written = files.FilesUnder("out/");
    ASSERT_EQ(written.size(), e.messages.size());
    for (size_t i = 0; i < e.messages.size(); ++i) {
      const std::string& eml =
          files.Get("out/" + std::string(e.file) + "-" + std::to_string(i + 1) + ".eml");
      EXPECT_EQ(eml.size(), e.messages[i].first);
      EXPECT_EQ(Md5Hex(eml), e.messages[i].second);
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

TEST(CorpusTest, Md5MatchesTheReferenceVectors) {
  EXPECT_EQ(Md5Hex(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(Md5Hex("The quick brown fox jumps over the lazy dog"),
            "9E107D9D372BB6826BD81D3542A419D6");
  EXPECT_EQ(Md5Hex(std::string(1000, 'a')), "CABE45DCC9AE5B66BA86600CCA6B8BA8");
}

}  // namespace
}  // namespace quillon
