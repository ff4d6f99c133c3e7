// The real mailbox files of the shared corpus: each one's catalogue holds what its notes list
// (record offsets, first blocks, subjects, times, Message-IDs, the folder tree), and no damage.
#include "catalogue/catalogue.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "catalogue/testing/byte_file.h"
#include "catalogue/text.h"

namespace quillon::catalogue {
namespace {

struct ExpectedMessage {
  uint32_t record;
  uint32_t firstBlock;
  uint32_t size;
  const char* subject;
  const char* senderName;
  const char* senderAddress;
  const char* receiverAddress;
  const char* received;
  const char* messageId;
  const char* account;
};

struct ExpectedFile {
  const char* file;
  FileKind kind;
  const char* folderName;  // UTF-8, decoded as Windows-1251 (the writer of dbxconvert_test.dbx)
  uint32_t indexCount;
  std::vector<ExpectedMessage> messages;
};

const ExpectedFile kFiles[] = {
    {"dbxconvert_test.dbx",
     FileKind::kMessages,
     "Исходящие",
     2,
     {{0x2B24, 0xEAD4, 1195, "Subject #1", "Romanito", "rebe82@mail.ru", "<test@domain.com>",
       "2016-09-11T22:58:32Z", "", "imap.mail.ru"},
      {0x32D8, 0xF104, 18490, "Subject #2", "Romanito", "rebe82@mail.ru", "<test-2@domain.com>",
       "2016-09-11T23:02:53Z", "", "imap.mail.ru"}}},
    {"mailtransportdbx_test1.dbx",
     FileKind::kMessages,
     "test1",
     1,
     {{0x2B24, 0xEAD4, 2710, "[fmII] centericq 4.7.5 released (Default branch)",
       "noreply@freshmeat.net", "noreply@freshmeat.net", "<noreply@freshmeat.net>",
       "2002-06-17T20:02:30Z", "<20020617194207.DF10883011@mail.freshmeat.net>",
       "pbox.dialup.rwth-aachen.de"}}},
    {"dbxoutlookexpress_Inbox.dbx",
     FileKind::kMessages,
     "Inbox",
     1,
     {{0x2E10, 0xEAD4, 10139, "Welcome to Outlook Express 6", "Microsoft Outlook Express Team",
       "msoe@microsoft.com", "", "2021-12-12T04:45:59Z", "", ""}}},
    {"dbxoutlookexpress_Outbox.dbx", FileKind::kMessages, "Outbox", 0, {}},
    {"dbxoutlookexpress_Folders.dbx", FileKind::kFolders, "", 8, {}},
    {"dbxoutlookexpress_Offline.dbx", FileKind::kOffline, "", 0, {}},
};

bool ReadFile(const std::string& path, std::string* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  *bytes = s.str();
  return true;
}

class CorpusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string probe;
    if (!ReadFile(std::string(QUILLON_CORPUS_DIR) + "/dbxconvert_test.dbx", &probe)) {
      GTEST_SKIP() << "the shared corpus is not at " << QUILLON_CORPUS_DIR;
    }
  }
  Catalogue Read(const char* name) {
    EXPECT_TRUE(ReadFile(std::string(QUILLON_CORPUS_DIR) + "/" + name, &bytes_)) << name;
    testing::ByteFile file(bytes_);
    return ReadCatalogue(&file, nullptr);
  }
  // The records of the file Read last, in full.
  std::vector<MessageInfo> Records(const Catalogue& cat) {
    testing::ByteFile file(bytes_);
    return ReadMessageInfos(&file, cat);
  }
  std::string bytes_;
};

TEST_F(CorpusTest, EachFileGivesItsListedMessagesAndNoDamage) {
  for (const ExpectedFile& e : kFiles) {
    SCOPED_TRACE(e.file);
    const Catalogue cat = Read(e.file);
    EXPECT_EQ(cat.kind, e.kind);
    EXPECT_EQ(cat.damageCount, 0u) << (cat.damage.empty() ? "" : cat.damage[0].reason);
    EXPECT_EQ(cat.header.treeCounts[0], e.indexCount);
    EXPECT_EQ(CodePageToUtf8(cat.fileInfo.name, 1251), e.folderName);
    if (e.kind == FileKind::kMessages) {
      EXPECT_EQ(cat.fileInfo.source, 3);  // every message folder here is a local one
      EXPECT_EQ(cat.fileInfo.accountKey, "LocalStore");
    }
    const std::vector<MessageInfo> records = Records(cat);
    ASSERT_EQ(cat.messages.size(), e.messages.size());
    ASSERT_EQ(records.size(), e.messages.size());
    for (size_t i = 0; i < e.messages.size(); ++i) {
      const MessageInfo& m = records[i];
      EXPECT_EQ(cat.messages[i].recordOffset, m.recordOffset);
      EXPECT_EQ(cat.messages[i].firstBlock, m.firstBlock);
      EXPECT_EQ(cat.messages[i].size, m.size);
      EXPECT_EQ(cat.messages[i].flags, m.flags);
      const ExpectedMessage& x = e.messages[i];
      EXPECT_EQ(m.recordOffset, x.record);
      EXPECT_EQ(m.firstBlock, x.firstBlock);
      EXPECT_EQ(m.size, x.size);
      EXPECT_EQ(m.subject, x.subject);
      EXPECT_EQ(m.normalizedSubject, x.subject);  // none starts with "Re:"
      EXPECT_EQ(m.senderName, x.senderName);
      EXPECT_EQ(m.senderAddress, x.senderAddress);
      EXPECT_EQ(m.receiverAddress, x.receiverAddress);
      EXPECT_EQ(FiletimeToIso8601(m.received), x.received);
      EXPECT_EQ(m.messageId, x.messageId);
      EXPECT_EQ(m.account, x.account);
      EXPECT_EQ(m.priority, 3u);
      EXPECT_TRUE(m.flags & kMessageDownloaded);
    }
  }
}

TEST_F(CorpusTest, MailTransportMessageIsReadWithItsAccountKeyAndSeenFlag) {
  const Catalogue cat = Read("mailtransportdbx_test1.dbx");
  ASSERT_EQ(cat.messages.size(), 1u);
  const std::vector<MessageInfo> records = Records(cat);
  ASSERT_EQ(records.size(), 1u);
  const MessageInfo& m = records[0];
  EXPECT_EQ(m.accountKey, "00000001");
  EXPECT_TRUE(m.flags & kMessageRead);
  EXPECT_EQ(m.inReplyTo, "");
  EXPECT_EQ(m.indexId, 2u);
  EXPECT_EQ(cat.header.lastMessageId, 2u);
}

TEST_F(CorpusTest, FoldersFileGivesItsEightFoldersOnceEach) {
  const Catalogue cat = Read("dbxoutlookexpress_Folders.dbx");
  EXPECT_EQ(cat.damageCount, 0u);
  // Three trees over the same records in different orders; the third leaves out the root.
  EXPECT_EQ(cat.trees[0].values.size(), 8u);
  EXPECT_EQ(cat.trees[1].values.size(), 8u);
  EXPECT_EQ(cat.trees[2].values.size(), 7u);
  EXPECT_EQ(cat.trees[1].values[1], 0x2770u);
  struct Folder {
    uint32_t id, parent;
    const char *name, *fileName;
    uint32_t special, kind, messages;
  };
  const Folder expected[] = {
      {0, 0xFFFFFFFF, "Outlook Express", "", 0, 4, 0},
      {1, 0, "Local Folders", "", 0, 3, 0},
      {4, 1, "Inbox", "Inbox.dbx", 1, 3, 1},
      {5, 1, "Outbox", "Outbox.dbx", 2, 3, 0},
      {6, 1, "Sent Items", "", 3, 3, 0},
      {7, 1, "Deleted Items", "", 4, 3, 0},
      {8, 1, "Drafts", "", 5, 3, 0},
      {9, 0, "Hotmail", "", 0, 2, 0},
  };
  ASSERT_EQ(cat.folders.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].name);
    const FolderInfo& f = cat.folders[i];
    EXPECT_EQ(f.recordOffset, cat.trees[0].values[i]);
    EXPECT_EQ(f.id, expected[i].id);
    EXPECT_EQ(f.parent, expected[i].parent);
    EXPECT_EQ(f.name, expected[i].name);
    EXPECT_EQ(f.fileName, expected[i].fileName);
    EXPECT_EQ(f.special, expected[i].special);
    EXPECT_EQ(f.kind, expected[i].kind);
    EXPECT_EQ(f.messageCount, expected[i].messages);
  }
  EXPECT_EQ(cat.folders[1].accountKey, "LocalStore");
  EXPECT_EQ(cat.folders[7].accountKey, "00000001");
}

}  // namespace
}  // namespace quillon::catalogue
