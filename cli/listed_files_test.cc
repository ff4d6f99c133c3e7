#include "cli/listed_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fs/output_fs.h"
#include "output/manifest.h"
#include "test_support/test_support.h"

namespace quillon {
namespace {

// An earlier run's manifest of two mailboxes, its files on disk, and the messages found again in
// the orders a run meets them: as listed, the other way round, the second mailbox first, one
// message in three gone. Each message finds its own line and file, whole, whatever the lines the
// reading threads had read ahead for it.
TEST(ListedFilesTest, EachMessageFindsItsOwnFileInAnyOrder) {
  test::TempFolder temp("listed-files");
  ASSERT_FALSE(temp.path().empty());
  const std::string root = temp.path().string();
  std::unique_ptr<quillon::OutputFs> fs = quillon::PlatformOutputFs(root);
  constexpr uint32_t kPerMailbox = 2200;  // more than the threads read ahead
  std::vector<output::MessageFacts> messages;
  std::vector<output::WrittenMessage> files;
  std::string error;
  std::unique_ptr<output::ManifestWriter> manifest =
      output::ManifestWriter::Create(fs.get(), output::kManifestName, &error);
  ASSERT_TRUE(manifest) << error;
  for (const char* mailbox : {"a.dbx", "b.dbx"}) {
    for (uint32_t i = 0; i < kPerMailbox; ++i) {
      output::MessageFacts facts;
      facts.mailbox = mailbox;
      facts.number = i + 1;
      facts.indexId = i;
      facts.firstBlock = 0x1000 + i * 0x200;
      facts.blocks = 1;
      facts.messageId = "<" + std::to_string(i) + "@x>";
      output::WrittenMessage written;
      written.path = std::string(mailbox).substr(0, 1) + "-" + std::to_string(i + 1) + ".eml";
      const std::string bytes = "Subject: " + written.path + "\n\nbody\n";
      ASSERT_TRUE(test::WriteWholeFile(temp.path() / written.path, bytes));
      written.size = bytes.size();
      written.sha256 = ComputeSha256(bytes.data(), bytes.size());
      ASSERT_TRUE(manifest->AddFile(facts, written, &error)) << error;
      messages.push_back(facts);
      files.push_back(written);
    }
  }
  ASSERT_TRUE(manifest->Finish(&error)) << error;

  const size_t n = messages.size();
  std::vector<size_t> listed(n), reversed(n), secondFirst, gaps;
  for (size_t i = 0; i < n; ++i) listed[i] = reversed[n - 1 - i] = i;
  for (size_t i = 0; i < n; ++i) secondFirst.push_back((i + kPerMailbox) % n);
  for (size_t i = 0; i < n; ++i) {
    if (i % 3 != 1) gaps.push_back(i);
  }
  for (const std::vector<size_t>* order : {&listed, &reversed, &secondFirst, &gaps}) {
    bool refused = false;
    std::unique_ptr<output::ListedManifest> lines = output::ListedManifest::Open(
        fs.get(), output::kManifestName, output::Format::kEml,
        [](const std::string&) { return true; }, nullptr, &refused, &error);
    ASSERT_TRUE(lines) << error;
    ListedFiles ahead(root, lines.get(), nullptr);
    ahead.Start(2);
    for (const size_t i : *order) {
      const std::optional<output::UpdatePlanner::Listed> found =
          ahead.Find(messages[i], files[i].size);
      ASSERT_TRUE(found) << i;
      EXPECT_EQ(found->line, i);
      EXPECT_EQ(found->file.path, files[i].path);
      EXPECT_EQ(found->file.sha256, *files[i].sha256);
      const output::FileOnDisk disk = ahead.Look(found->line, found->file.path, found->file);
      EXPECT_TRUE(disk.present && disk.sha256 == files[i].sha256) << i;
    }
    // A message the manifest does not list finds nothing.
    output::MessageFacts other = messages[0];
    other.messageId = "<elsewhere@x>";
    EXPECT_FALSE(ahead.Find(other, files[0].size));
  }
}

}  // namespace
}  // namespace quillon
