// Where the engine deliberately does better than "try forever, never check, skip short mail":
// bounded creation retries, write failures, and one-block messages.
#include <gtest/gtest.h>

#include <functional>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"

namespace quillon {
namespace {

// The engine joins the output folder and a file's name with the system's separator.
const std::string kOut = std::string("/out") + kPathSeparator;

// Three messages of two blocks each, 0x300 bytes long.
std::string ThreeMessages() {
  MailboxBuilder mb(0x3000);
  for (uint32_t i = 0; i < 3; ++i) {
    mb.Message({0x100 + 0x600 * i, 0x400 + 0x600 * i}, FillerText(0x300, i));
  }
  return mb.bytes;
}

class FixesTest : public ::testing::Test {
 protected:
  FixesTest() : engine(&files) { engine.m_pSink = &sink; }
  int Export(const std::string& mailbox) {
    files.Put("/mail/Sent.dbx", mailbox);
    return engine.ExportMailbox("/mail/Sent.dbx", "/out");
  }
  size_t OutCount() const { return files.FilesUnder(kOut).size(); }
  MemFileSystem files;
  RecordingSink sink;
  CMailboxExtractor engine;
};

// A name that cannot be created and one that cannot be taken when the file is complete (a folder
// of that name) count alike.
using NameFailure = std::function<bool(const std::string&)> MemFileSystem::*;
constexpr NameFailure kNameFailures[] = {&MemFileSystem::failCreate, &MemFileSystem::failPlace};

TEST_F(FixesTest, AFolderThatAcceptsNoFileEndsTheExport) {
  for (const NameFailure failure : kNameFailures) {
    files = MemFileSystem();
    sink.names.clear();
    files.*failure = [](const std::string&) { return true; };
    EXPECT_EQ(Export(ThreeMessages()), kExportError);
    EXPECT_EQ(sink.names.size(), CMailboxExtractor::kMaxCreateFailures);
    EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kCreateFile);
    EXPECT_EQ(engine.LastFailure().path, kOut + "Sent.dbx-64.eml");
    EXPECT_EQ(engine.LastFailure().reason,
              failure == kNameFailures[0] ? "Permission denied" : "Is a directory");
    EXPECT_EQ(OutCount(), 0u);  // no temporary file either
  }
}

TEST_F(FixesTest, FailuresBelowTheLimitOnlyMoveNumbersOn) {
  // One short of the limit, twice, for different messages: every message is still written.
  const uint32_t limit = CMailboxExtractor::kMaxCreateFailures;
  for (const NameFailure failure : kNameFailures) {
    files = MemFileSystem();
    files.*failure = [limit](const std::string& path) {
      const int n = std::stoi(path.substr(path.rfind('-') + 1));
      return (n >= 2 && n < 2 + int(limit) - 1) || (n >= 70 && n < 70 + int(limit) - 1);
    };
    EXPECT_EQ(Export(ThreeMessages()), 0);
    EXPECT_EQ(engine.FilesWritten(), 3u);
    EXPECT_EQ(files.Get(kOut + "Sent.dbx-1.eml"), FillerText(0x300, 0));
    EXPECT_EQ(files.Get(kOut + "Sent.dbx-" + std::to_string(1 + limit) + ".eml"),
              FillerText(0x300, 1));
    EXPECT_EQ(OutCount(), 3u);
  }
}

TEST_F(FixesTest, AFullDiskRemovesTheIncompleteFileAndStops) {
  // Room for the first message and a part of the second.
  files.diskCapacity = 0x300 + 0x100;
  EXPECT_EQ(Export(ThreeMessages()), kExportError);
  EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kWriteFile);
  EXPECT_EQ(engine.LastFailure().path, kOut + "Sent.dbx-2.eml");
  EXPECT_EQ(engine.LastFailure().reason, "No space left on device");
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-1.eml"), FillerText(0x300, 0));
  EXPECT_FALSE(files.Has(kOut + "Sent.dbx-2.eml"));
  EXPECT_FALSE(files.Has(kOut + "Sent.dbx-3.eml"));  // the mailbox stopped there
  EXPECT_EQ(sink.names.size(), 2u);
  EXPECT_EQ(files.openOutputs, 0);
}

TEST_F(FixesTest, OneBlockMessagesAreFoundOnce) {
  MailboxBuilder mb(0x3000);
  const std::string a = mb.Message({0x100, 0x400}, FillerText(0x300, 1));
  const std::string shortMail = mb.Message({0x800}, "Subject: ok\r\n\r\nThanks!\r\n");
  const std::string b = mb.Message({0xC00, 0xE80}, FillerText(0x250, 2));
  const std::string tiny = mb.Message({0x2000}, "x");
  // A deleted one-block message (lengths 0x210 in a 0x1FC block) stays deleted.
  mb.Block(0x1800, 0x1800, 0x1FC, 0x210, 0, "gone");
  // Four bytes that hold their offset but are no block (the header would run past the end).
  mb.PutWord(mb.bytes.size() - 8, static_cast<uint32_t>(mb.bytes.size() - 8));
  EXPECT_EQ(Export(mb.bytes), 0);
  ASSERT_EQ(OutCount(), 4u);
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-1.eml"), a);
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-2.eml"), shortMail);
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-3.eml"), b);
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-4.eml"), tiny);
}

TEST_F(FixesTest, AFolderOfOnlyShortMailNoLongerAnswersOne) {
  MailboxBuilder mb(0x1000);
  mb.Message({0x100}, "Subject: one\r\n\r\nfirst\r\n");
  mb.Message({0x400}, "Subject: two\r\n\r\nsecond\r\n");
  files.Put("/mail/Sent.dbx", mb.bytes);
  ASSERT_EQ(engine.OpenMailbox("/mail/Sent.dbx", "/out"), 1);
  engine.Reset();
  EXPECT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(OutCount(), 2u);
}

TEST_F(FixesTest, OneBlockPassSkipsBlocksOfFoundMessages) {
  // With a zero first word the scanner itself takes a chain's last block as a one-block
  // message; the extra pass must not add it a second time, nor any block of a chain.
  MailboxBuilder mb(0x2000, 0);
  const std::string text = mb.Message({0x100, 0x400, 0x700}, FillerText(0x450, 4));
  mb.Message({0x1000}, "lonely");
  EXPECT_EQ(Export(mb.bytes), 0);
  EXPECT_EQ(OutCount(), 3u);
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-2.eml"), text.substr(0x400));
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-3.eml"), "lonely");
}

TEST_F(FixesTest, AnAbortEndsTheSearchAndTheCopyPromptly) {
  // Requested before the export: nothing is announced or written.
  engine.RequestAbort();
  EXPECT_EQ(Export(ThreeMessages()), kExportAborted);
  EXPECT_TRUE(sink.names.empty());
  EXPECT_EQ(OutCount(), 0u);
  engine.ClearAbort();

  // During the search of a large file: a few reads later it is over, long before the end.
  MailboxBuilder big(64u << 20);
  big.Message({(64u << 20) - 0x1000, (64u << 20) - 0x800}, FillerText(0x300, 1));
  files.onRead = [this](uint64_t, size_t) {
    if (files.readCalls == 2) engine.RequestAbort();
  };
  EXPECT_EQ(Export(big.bytes), kExportAborted);
  EXPECT_LE(files.readCalls, 4u);
  EXPECT_EQ(OutCount(), 0u);
  engine.ClearAbort();

  // During the copy of a message: its file is removed, the ones before it stay.
  MailboxBuilder mb(12u << 20);
  const std::string first = mb.Message({0x100, 0x400}, FillerText(0x300, 2));
  const uint32_t size = 5u << 20;
  mb.Block(0x1000, 0x1000, size, size, 0x1000 + 16 + size, FillerText(size, 3));
  mb.Block(0x1000 + 16 + size, 0x1000 + 16 + size, 0x20, 0x10, 0, FillerText(0x10, 4));
  files.readCalls = 0;
  files.onRead = [this](uint64_t, size_t length) {
    if (length == 1) engine.RequestAbort();  // the probe of the big block's last byte
  };
  EXPECT_EQ(Export(mb.bytes), kExportAborted);
  EXPECT_EQ(files.Get(kOut + "Sent.dbx-1.eml"), first);
  EXPECT_FALSE(files.Has(kOut + "Sent.dbx-2.eml"));
  EXPECT_EQ(files.openOutputs, 0);
  EXPECT_EQ(engine.LastFailure().kind, ExportFailure::kNone);
}

// Three small messages, one of 320 KiB (copied through ReadExact, past the read windows) and one
// more, so that every kind of read happens: the signature, the index pass, the search, the copy's
// windows and the long copy.
std::string FiveMessages() {
  MailboxBuilder mb(0x60000);
  for (uint32_t i = 0; i < 3; ++i) {
    mb.Message({0x100 + 0x600 * i, 0x400 + 0x600 * i}, FillerText(0x300, i));
  }
  mb.Message({0x4000}, FillerText(0x50000, 3), 0x50000);
  mb.Message({0x58000, 0x59000}, FillerText(0x400, 4));
  return mb.bytes;
}

// Exports `mailbox` with `prepare` applied to a fresh file system; returns the result and leaves
// the files and the engine for the caller to look at.
struct ExportRun {
  explicit ExportRun(const std::string& mailbox,
                     const std::function<void(ExportRun&)>& prepare = nullptr)
      : engine(&files) {
    engine.m_pSink = &sink;
    files.Put("/mail/Sent.dbx", mailbox);
    if (prepare) prepare(*this);
    result = engine.ExportMailbox("/mail/Sent.dbx", "/out");
  }
  std::vector<std::string> Outputs() const {
    std::vector<std::string> texts;
    for (const auto& [path, bytes] : files.FilesUnder(kOut)) texts.push_back(bytes);
    return texts;
  }
  MemFileSystem files;
  RecordingSink sink;
  CMailboxExtractor engine;
  int result = 0;
};

TEST(ReadFailureTest, AReadErrorAnywhereFailsTheMailboxAndKeepsTheFilesWritten) {
  const std::string mailbox = FiveMessages();
  const ExportRun plain(mailbox);
  ASSERT_EQ(plain.result, 0);
  const std::vector<std::string> all = plain.Outputs();
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(all[3], FillerText(0x50000, 3));
  // Names sort as 1 < 2 < ... here, so the files are in message order.
  for (uint64_t k = 1; k <= plain.files.readCalls; ++k) {
    SCOPED_TRACE("read " + std::to_string(k) + " fails");
    uint64_t failedAt = 0;
    const ExportRun run(mailbox, [&](ExportRun& r) {
      r.files.failRead = [&r, &failedAt, k](uint64_t offset, size_t) {
        if (r.files.readCalls != k) return false;
        failedAt = offset;
        return true;
      };
    });
    EXPECT_EQ(run.result, kExportError);
    const ExportFailure& failure = run.engine.LastFailure();
    EXPECT_EQ(failure.kind, ExportFailure::kReadMailbox);
    EXPECT_EQ(failure.path, "/mail/Sent.dbx");
    EXPECT_EQ(failure.offset, failedAt);
    EXPECT_EQ(failure.reason, "Input/output error");
    // The message being written is gone; the ones before it stay, whole.
    const std::vector<std::string> kept = run.Outputs();
    EXPECT_EQ(kept, std::vector<std::string>(all.begin(), all.begin() + kept.size()));
    EXPECT_EQ(kept.size(), run.engine.FilesWritten());
    EXPECT_EQ(run.files.openOutputs, 0);
  }
}

TEST(ReadFailureTest, AMailboxCutDuringTheExportFailsInsteadOfGivingEmptyFiles) {
  const std::string mailbox = FiveMessages();
  const ExportRun plain(mailbox);
  const std::vector<std::string> all = plain.Outputs();
  for (uint64_t k = 1; k <= plain.files.readCalls; ++k) {
    for (const size_t cutTo : {size_t{0}, mailbox.size() / 2, mailbox.size() - 1}) {
      SCOPED_TRACE("cut to " + std::to_string(cutTo) + " at read " + std::to_string(k));
      const ExportRun run(mailbox, [k, cutTo](ExportRun& r) {
        r.files.onRead = [&r, k, cutTo](uint64_t, size_t) {
          if (r.files.readCalls == k) r.files.Mutable("/mail/Sent.dbx")->resize(cutTo);
        };
      });
      const std::vector<std::string> kept = run.Outputs();
      if (run.result == 0) {
        // Cut after the last read that needed the bytes: everything came out. The first read
        // (the signature) always needs them.
        EXPECT_NE(k, 1u);
        EXPECT_EQ(kept, all);
        continue;
      }
      EXPECT_EQ(run.result, kExportError);
      EXPECT_EQ(run.engine.LastFailure().kind, ExportFailure::kMailboxChanged);
      EXPECT_GE(run.engine.LastFailure().offset, cutTo);
      EXPECT_EQ(kept, std::vector<std::string>(all.begin(), all.begin() + kept.size()));
      EXPECT_EQ(kept.size(), run.engine.FilesWritten());
    }
  }
}

TEST(ReadFailureTest, AMessageNeverHoldsMoreThanTheMailboxFile) {
  // 256 blocks 16 bytes apart, each claiming 32 KiB of data that overlaps the next ones: 8 MiB
  // of message from a file of 64 KiB. The copy ends where the message would outgrow the file.
  MailboxBuilder mb(0x10000);
  for (uint32_t at = 0x100; at < 0x1100; at += 0x10) mb.Block(at, at, 0x8000, 0x8000, at + 0x10);
  mb.PutWord(0x1100 - 4, 0);  // the last block ends the chain
  const ExportRun run(mb.bytes);
  ASSERT_EQ(run.result, 0);
  ASSERT_FALSE(run.Outputs().empty());
  EXPECT_EQ(run.Outputs()[0], mb.bytes.substr(0x110, 0x8000) + mb.bytes.substr(0x120, 0x8000));
}

}  // namespace
}  // namespace quillon
