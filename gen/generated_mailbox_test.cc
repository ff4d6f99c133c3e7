// Folders laid out as the mail client writes them, from the project's generator: every live
// message comes out byte for byte, in first-block order, deleted ones do not, and the short
// messages that fit in one block are there only thanks to the one-block pass.
#include <gtest/gtest.h>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"
#include "gen/generator.h"
#include "gen/mail_text.h"

namespace quillon {
namespace {

struct Folder {
  std::string bytes;
  std::vector<gen::ManifestEntry> manifest;
  gen::GeneratorStats stats;
};

Folder Generate(uint64_t seed, uint32_t messages, bool fragmented, uint32_t deleted) {
  gen::GeneratorOptions options;
  options.seed = seed;
  options.messageCount = messages;
  options.fragmented = fragmented;
  options.deletedMessages = deleted;
  gen::MemoryOutput out;
  Folder f;
  std::string error;
  EXPECT_TRUE(gen::GenerateMailbox(options, out, &f.manifest, &f.stats, &error)) << error;
  f.bytes = out.bytes();
  return f;
}

TEST(GeneratedMailboxTest, EveryLiveMessageComesOutWhole) {
  for (bool fragmented : {false, true}) {
    SCOPED_TRACE(fragmented);
    const Folder f = Generate(fragmented ? 11 : 12, 400, fragmented, 25);
    ASSERT_GT(f.stats.singleBlockMessages, 0u);
    MemFileSystem files;
    files.Put("Inbox.dbx", f.bytes);
    RecordingSink sink;
    CMailboxExtractor engine(&files);
    engine.m_pSink = &sink;
    ASSERT_EQ(engine.ExportMailbox("Inbox.dbx", "out"), 0);
    ASSERT_EQ(files.FilesUnder("out/").size(), f.manifest.size());
    for (size_t i = 0; i < f.manifest.size(); ++i) {
      const std::string& eml = files.Get("out/Inbox.dbx-" + std::to_string(i + 1) + ".eml");
      ASSERT_EQ(eml, gen::MessageText(fragmented ? 11 : 12, f.manifest[i].id)) << i;
    }

    // Without the one-block pass exactly the short messages would be missing.
    engine.Reset();
    ASSERT_EQ(engine.OpenMailbox("Inbox.dbx", "out"), 0);
    engine.CollectMessages();
    EXPECT_EQ(engine.Messages().size() + f.stats.singleBlockMessages, f.manifest.size());
    EXPECT_EQ(engine.CollectSingleBlockMessages(), f.stats.singleBlockMessages);
    engine.Reset();
  }
}

}  // namespace
}  // namespace quillon
