#include "gen/generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "catalogue/text.h"
#include "gen/dbx_test_reader.h"
#include "gen/mail_text.h"
#include "gen/output.h"
#include "test_support/test_support.h"

namespace quillon::gen {
namespace {

using testing::DecodedMailbox;
using testing::Le32;

constexpr uint32_t kFirstSegment = 0xEAD4;
constexpr uint32_t kSegment = 0xF780;
constexpr uint32_t kBlock = 0x210;
constexpr uint32_t kData = 0x200;

struct Generated {
  std::string file;
  std::vector<ManifestEntry> manifest;
  GeneratorStats stats;
  DecodedMailbox decoded;
  std::string decodeError;  // empty when the test reader read the whole file
};

GeneratorOptions Options(uint64_t seed, uint32_t messages, bool fragmented, uint32_t deleted) {
  GeneratorOptions o;
  o.seed = seed;
  o.messageCount = messages;
  o.fragmented = fragmented;
  o.deletedMessages = deleted;
  return o;
}

Generated Generate(const GeneratorOptions& options) {
  Generated g;
  MemoryOutput out;
  std::string error;
  EXPECT_TRUE(GenerateMailbox(options, out, &g.manifest, &g.stats, &error)) << error;
  g.file = out.bytes();
  if (!testing::DecodeMailbox(g.file, &g.decoded, &g.decodeError) && g.decodeError.empty()) {
    g.decodeError = "unreadable";
  }
  return g;
}

// A header of the message's own header section (not of its parts).
std::string HeaderValue(const std::string& text, const std::string& name) {
  const std::string head = "\r\n" + text.substr(0, text.find("\r\n\r\n") + 2);
  const size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return std::string();
  const size_t start = at + name.size() + 4;
  return head.substr(start, head.find("\r\n", start) - start);
}

// What an index-based reader gets must be exactly the manifest, every message must be the text
// the seed gives for its id, and the index records must describe their messages.
void ExpectDecodesToManifest(const Generated& g, uint64_t seed) {
  ASSERT_EQ(g.decoded.messages.size(), g.manifest.size());
  ASSERT_EQ(g.manifest.size(), g.stats.messages);
  uint32_t previousId = 0;
  for (const auto& m : g.decoded.messages) {
    EXPECT_GT(m.id, previousId) << "index not in id order";
    previousId = m.id;
  }
  std::vector<const testing::DecodedMessage*> byBlock;
  for (const auto& m : g.decoded.messages) byBlock.push_back(&m);
  std::sort(byBlock.begin(), byBlock.end(),
            [](auto* a, auto* b) { return a->firstBlock < b->firstBlock; });
  for (size_t i = 0; i < byBlock.size(); ++i) {
    const testing::DecodedMessage& m = *byBlock[i];
    const ManifestEntry& e = g.manifest[i];
    SCOPED_TRACE("message id " + std::to_string(m.id));
    ASSERT_EQ(m.firstBlock, e.firstBlock);
    ASSERT_EQ(m.chain.bytes.size(), e.length);
    EXPECT_EQ(m.id, e.id);
    EXPECT_EQ(m.sizeField, e.length);
    EXPECT_EQ(ComputeSha256(m.chain.bytes.data(), m.chain.bytes.size()), e.sha256);
    ASSERT_EQ(m.chain.bytes, MessageText(seed, m.id));

    testing::InfoRecord info;
    std::string error;
    ASSERT_TRUE(testing::ReadInfoRecord(g.file, m.record, &info, &error)) << error;
    EXPECT_EQ(testing::InfoText(info, 0x08), HeaderValue(m.chain.bytes, "Subject"));
    const std::string from = HeaderValue(m.chain.bytes, "From");
    EXPECT_NE(from.find("<" + testing::InfoText(info, 0x0E) + ">"), std::string::npos) << from;
    EXPECT_EQ(InfoWord(info, 0x01) & 0x01, 1u) << "body-downloaded flag";
  }
}

std::map<uint32_t, uint32_t> LiveBlockOwners(const Generated& g) {
  std::map<uint32_t, uint32_t> owner;  // block offset -> message id
  for (const auto& m : g.decoded.messages) {
    for (uint32_t b : m.chain.blocks) EXPECT_TRUE(owner.emplace(b, m.id).second) << b;
  }
  return owner;
}

// Deleted messages: every block on the free list is marked as Outlook Express marks it, the
// list runs down each deleted chain (the old next kept in the fourth word) and on to the message
// deleted before, and the data after the link word is the deleted message's text.
void ExpectDeletedAsOnDisk(const Generated& g, uint64_t seed) {
  EXPECT_EQ(Le32(g.file, 0x48), g.decoded.freeList.empty() ? 0 : g.decoded.freeList[0].offset);
  std::set<uint32_t> liveIds;
  for (const auto& m : g.decoded.messages) liveIds.insert(m.id);
  const std::map<uint32_t, uint32_t> live = LiveBlockOwners(g);

  // The free list holds the message deleted last first. Ids that are neither live nor deleted
  // belong to messages left out because they did not fit the size; their texts do not match.
  size_t at = 0;
  uint32_t matched = 0;
  for (uint32_t id = g.stats.lastMessageId; id >= 1 && at < g.decoded.freeList.size(); --id) {
    if (liveIds.count(id)) continue;
    SCOPED_TRACE("deleted id " + std::to_string(id));
    const std::string text = MessageText(seed, id);
    const size_t blocks = (text.size() + kData - 1) / kData;
    if (at + blocks > g.decoded.freeList.size()) continue;
    bool same = true;
    for (size_t k = 0; k < blocks && same; ++k) {
      const size_t used = std::min<size_t>(kData, text.size() - k * kData);
      same = used <= 4 || g.file.compare(g.decoded.freeList[at + k].offset + 16 + 4, used - 4, text,
                                         k * kData + 4, used - 4) == 0;
    }
    if (!same) continue;
    for (size_t k = 0; k < blocks; ++k) {
      const testing::DeletedBlock& d = g.decoded.freeList[at + k];
      EXPECT_EQ(live.count(d.offset), 0u) << "a deleted block is also live";
      if (k + 1 < blocks) {
        EXPECT_EQ(d.oldNext, d.link);
        EXPECT_NE(d.oldNext, 0u);
      } else {
        EXPECT_EQ(d.oldNext, 0u);
      }
    }
    at += blocks;
    ++matched;
  }
  EXPECT_EQ(matched, g.stats.deletedMessages);
  EXPECT_EQ(at, g.decoded.freeList.size());
}

struct Shape {
  uint32_t contiguousLinks = 0, jumpingLinks = 0;
  uint32_t laterBlockBeforeFirst = 0;  // messages with a block before their first block
  uint32_t interleaved = 0;  // messages with another message's block between their first and last
};

Shape ShapeOf(const Generated& g) {
  Shape s;
  const std::map<uint32_t, uint32_t> owner = LiveBlockOwners(g);
  for (const auto& m : g.decoded.messages) {
    const auto& b = m.chain.blocks;
    for (size_t i = 1; i < b.size(); ++i) {
      if (b[i] == b[i - 1] + kBlock) {
        ++s.contiguousLinks;
      } else {
        ++s.jumpingLinks;
      }
    }
    const uint32_t low = *std::min_element(b.begin(), b.end());
    const uint32_t high = *std::max_element(b.begin(), b.end());
    if (low < m.firstBlock) ++s.laterBlockBeforeFirst;
    for (auto it = owner.upper_bound(low); it != owner.end() && it->first < high; ++it) {
      if (it->second != m.id) {
        ++s.interleaved;
        break;
      }
    }
  }
  return s;
}

// Header words that tie the parts of the file together.
void ExpectHeaderDescribesFile(const Generated& g) {
  const std::string& f = g.file;
  EXPECT_NE(Le32(f, 0), 0u);
  EXPECT_EQ(Le32(f, 0x7C), f.size()) << "used space";
  EXPECT_EQ(Le32(f, 0x5C), g.stats.lastMessageId);
  EXPECT_EQ(Le32(f, 0xC4), g.stats.messages);
  EXPECT_EQ(Le32(f, 0x30) + Le32(f, 0x34), f.size()) << "the last tree chunk ends the file";
  EXPECT_EQ(Le32(f, 0xE4), g.decoded.tree.nodes.empty() ? 0 : g.decoded.tree.nodes.front());
  const uint32_t lastSegment = Le32(f, 0x3C);
  ASSERT_EQ((lastSegment - kFirstSegment) % kSegment, 0u);
  uint32_t inLastSegment = 0;
  std::vector<uint32_t> all;
  for (const auto& m : g.decoded.messages)
    all.insert(all.end(), m.chain.blocks.begin(), m.chain.blocks.end());
  for (const auto& d : g.decoded.freeList) all.push_back(d.offset);
  for (uint32_t b : all) {
    EXPECT_GE(b, kFirstSegment);
    EXPECT_EQ((b - kFirstSegment) % kBlock, 0u);
    EXPECT_LT(b, lastSegment + kSegment);
    if (b >= lastSegment) ++inLastSegment;
  }
  EXPECT_EQ(Le32(f, 0x44), inLastSegment * kBlock) << "bytes used in the last segment";
  // The highest record lies in the last info chunk, within its used part.
  uint32_t lastRecord = 0;
  for (const auto& m : g.decoded.messages) lastRecord = std::max(lastRecord, m.record);
  if (lastRecord != 0) {
    EXPECT_GE(lastRecord, Le32(f, 0x24));
    EXPECT_LT(lastRecord, Le32(f, 0x24) + Le32(f, 0x2C));
  }
}

TEST(GenMailbox, PlainLayoutDecodesToTheManifest) {
  const Generated g = Generate(Options(11, 300, false, 6));
  ASSERT_EQ(g.decodeError, "");
  ExpectDecodesToManifest(g, 11);
  ExpectDeletedAsOnDisk(g, 11);
  ExpectHeaderDescribesFile(g);
  const Shape s = ShapeOf(g);
  EXPECT_EQ(s.jumpingLinks, 0u);
  EXPECT_EQ(s.laterBlockBeforeFirst, 0u);
  EXPECT_EQ(s.interleaved, 0u);
  // 300 messages need a second index level and a second info chunk after the segments.
  ASSERT_FALSE(g.decoded.tree.leafDepths.empty());
  EXPECT_EQ(g.decoded.tree.leafDepths.front(), 1u);
  uint32_t before = 0, after = 0;
  for (const auto& m : g.decoded.messages) ++(m.record < kFirstSegment ? before : after);
  EXPECT_GT(before, 0u);
  EXPECT_GT(after, 0u);
  EXPECT_EQ(std::min(g.manifest.front().firstBlock,
                     g.decoded.freeList.empty() ? 0xFFFFFFFFu : g.decoded.freeList.back().offset),
            kFirstSegment);
}

TEST(GenMailbox, FragmentedLayoutInterleavesAndStillDecodes) {
  const Generated g = Generate(Options(12, 300, true, 6));
  ASSERT_EQ(g.decodeError, "");
  ExpectDecodesToManifest(g, 12);
  ExpectDeletedAsOnDisk(g, 12);
  ExpectHeaderDescribesFile(g);
  const Shape s = ShapeOf(g);
  EXPECT_GT(s.interleaved, 30u);
  EXPECT_GT(s.laterBlockBeforeFirst, 30u);
  // Runs of consecutive blocks remain: most links still go to the next block.
  EXPECT_GT(s.contiguousLinks, s.jumpingLinks);
}

TEST(GenMailbox, SameSeedSameBytesOtherSeedOtherBytes) {
  MemoryOutput a, b, c, plain;
  std::string error;
  std::vector<ManifestEntry> ma, mplain;
  ASSERT_TRUE(GenerateMailbox(Options(21, 40, true, 3), a, &ma, nullptr, &error)) << error;
  ASSERT_TRUE(GenerateMailbox(Options(21, 40, true, 3), b, nullptr, nullptr, &error)) << error;
  ASSERT_TRUE(GenerateMailbox(Options(22, 40, true, 3), c, nullptr, nullptr, &error)) << error;
  ASSERT_TRUE(GenerateMailbox(Options(21, 40, false, 3), plain, &mplain, nullptr, &error));
  EXPECT_TRUE(a.bytes() == b.bytes());
  EXPECT_FALSE(a.bytes() == c.bytes());
  // The layout moves blocks, never changes the messages.
  auto byId = [](std::vector<ManifestEntry> m) {
    std::map<uint32_t, std::pair<uint32_t, Sha256Digest>> r;
    for (const auto& e : m) r[e.id] = {e.length, e.sha256};
    return r;
  };
  EXPECT_TRUE(byId(ma) == byId(mplain));
  EXPECT_FALSE(a.bytes() == plain.bytes());
}

TEST(GenMailbox, SizeBoundIsKeptAndNearlyFilled) {
  GeneratorOptions o;
  o.seed = 13;
  o.targetBytes = 16 << 20;
  o.deletedMessages = 4;
  o.fragmented = true;
  const Generated g = Generate(o);
  ASSERT_EQ(g.decodeError, "");
  EXPECT_LE(g.file.size(), o.targetBytes);
  EXPECT_GT(g.file.size(), o.targetBytes - (256 << 10));
  EXPECT_EQ(g.stats.fileBytes, g.file.size());
  EXPECT_EQ(g.stats.deletedMessages, 4u);
  ExpectDecodesToManifest(g, 13);
  ExpectDeletedAsOnDisk(g, 13);
  ExpectHeaderDescribesFile(g);
}

TEST(GenMailbox, RoomForNothingGivesAnEmptyFolder) {
  GeneratorOptions o;
  o.targetBytes = kFirstSegment;
  const Generated g = Generate(o);
  ASSERT_EQ(g.decodeError, "");
  EXPECT_EQ(g.file.size(), kFirstSegment);
  EXPECT_EQ(g.stats.messages, 0u);
  EXPECT_TRUE(g.manifest.empty());
  for (uint32_t word : {0x30u, 0x34u, 0x38u, 0x3Cu, 0x40u, 0x44u, 0x48u, 0xC4u, 0xE4u}) {
    EXPECT_EQ(Le32(g.file, word), 0u) << std::hex << word;
  }
}

// A counting sink: big runs measured without keeping their bytes.
class CountingOutput final : public Output {
 public:
  bool Append(const void*, size_t size, std::string*) override {
    size_ += size;
    return true;
  }
  bool Overwrite(uint64_t offset, const void*, size_t size, std::string*) override {
    return offset + size <= size_;
  }
  uint64_t Size() const override { return size_; }

 private:
  uint64_t size_ = 0;
};

TEST(GenMailbox, SizesSpreadLikeRealMail) {
  CountingOutput out;
  std::vector<ManifestEntry> manifest;
  GeneratorStats stats;
  std::string error;
  ASSERT_TRUE(GenerateMailbox(Options(31, 3000, false, 0), out, &manifest, &stats, &error));
  std::vector<uint32_t> lengths;
  for (const auto& e : manifest) lengths.push_back(e.length);
  std::sort(lengths.begin(), lengths.end());
  const auto count = [&](uint32_t low, uint32_t high) {
    return std::count_if(lengths.begin(), lengths.end(),
                         [=](uint32_t n) { return n >= low && n <= high; });
  };
  const auto single = count(1, 0x200);
  EXPECT_EQ(single, stats.singleBlockMessages);
  EXPECT_GE(single, 60);  // about 3%
  EXPECT_LE(single, 135);
  EXPECT_GE(count(1024, 50 * 1024), 2100);    // most
  EXPECT_GE(count(1 << 20, UINT32_MAX), 20);  // a few of several MB
  EXPECT_GT(lengths.front(), 0u);
  EXPECT_LT(lengths.back(), 9u << 20);
  EXPECT_GE(lengths[lengths.size() / 2], 2048u);
  EXPECT_LE(lengths[lengths.size() / 2], 20480u);
}

// The default shape's bytes are what the tests and the benchmarks' figures were made with.
TEST(GenMailbox, DefaultShapeKeepsItsBytes) {
  MemoryOutput out;
  std::string error;
  ASSERT_TRUE(GenerateMailbox(Options(7, 500, true, 20), out, nullptr, nullptr, &error)) << error;
  const std::string& file = out.bytes();
  EXPECT_EQ(DigestToHex(ComputeSha256(file.data(), file.size())),
            "5478bc4a1dd77cff587185bfa2ee167f02b06c8802485f477f1718d5e77898c8");
}

// A real Inbox: a quarter of the messages in one block, nine in ten within 10 KB, a few large;
// and the index's subjects and senders' names 8-bit in the writer's code page, saying what the
// headers say however these carry it (encoded-words in the code page's charset or in UTF-8, or
// 8-bit).
TEST(GenMailbox, SmallShapeIsARealInbox) {
  for (const uint32_t codePage : {1252u, 1251u, 936u}) {
    SCOPED_TRACE("code page " + std::to_string(codePage));
    GeneratorOptions options = Options(5, 4000, true, 40);
    options.shape = gen::Shape::kSmall;
    options.codePage = codePage;
    const Generated g = Generate(options);
    ASSERT_EQ(g.decodeError, "");
    ASSERT_EQ(g.decoded.messages.size(), 4000u);
    EXPECT_EQ(g.stats.deletedMessages, 40u);
    size_t oneBlock = 0, within10K = 0, over64K = 0, eightBitSubjects = 0, eightBitNames = 0;
    std::set<std::string> charsets;
    for (const testing::DecodedMessage& m : g.decoded.messages) {
      const std::string& text = m.chain.bytes;
      oneBlock += text.size() <= kData;
      within10K += text.size() <= 10240;
      over64K += text.size() > 65536;
      testing::InfoRecord info;
      std::string error;
      ASSERT_TRUE(testing::ReadInfoRecord(g.file, m.record, &info, &error)) << error;
      const std::string subject = testing::InfoText(info, 0x08);
      const std::string name = testing::InfoText(info, 0x0D);
      const auto eightBit = [](const std::string& s) {
        return std::any_of(s.begin(), s.end(), [](char c) { return (c & 0x80) != 0; });
      };
      eightBitSubjects += eightBit(subject);
      eightBitNames += eightBit(name);
      SCOPED_TRACE("message " + std::to_string(m.id) + ": " + HeaderValue(text, "Subject"));
      EXPECT_EQ(catalogue::CodePageToUtf8(subject, codePage),
                catalogue::DecodeHeaderText(HeaderValue(text, "Subject"), codePage));
      const std::string from = catalogue::DecodeHeaderText(HeaderValue(text, "From"), codePage);
      EXPECT_NE(from.find(catalogue::CodePageToUtf8(name, codePage)), std::string::npos) << from;
      const size_t charset = text.find("charset=");
      if (charset != std::string::npos) charsets.insert(text.substr(charset + 8, 8));
    }
    EXPECT_GE(oneBlock, 850u);  // about a quarter
    EXPECT_LE(oneBlock, 1150u);
    EXPECT_GE(within10K, 3600u);
    EXPECT_GE(over64K, 5u);
    EXPECT_GE(eightBitSubjects, 1400u);  // about two in five
    EXPECT_GE(eightBitNames, 800u);      // about one in four
    EXPECT_EQ(charsets.count("\"utf-8\"\r"), 1u) << "some messages say utf-8";
  }
}

// The tiny shape: nothing but one-block replies, as many as a file holds.
TEST(GenMailbox, TinyShapeIsOneBlockMessages) {
  GeneratorOptions options = Options(6, 0, true, 10);
  options.shape = gen::Shape::kTiny;
  options.targetBytes = 4u << 20;
  const Generated g = Generate(options);
  ASSERT_EQ(g.decodeError, "");
  EXPECT_GE(g.stats.messages, 4000u);  // over a million a GiB
  EXPECT_EQ(g.stats.singleBlockMessages, g.stats.messages);
  EXPECT_EQ(g.stats.deletedMessages, 10u);
}

bool IsBase64Line(const std::string& line) {
  if (line.empty() || line.size() > 76 || line.size() % 4 != 0) return false;
  for (char c : line) {
    if (!isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/' && c != '=') return false;
  }
  return true;
}

TEST(GenMessageText, RealisticMailWithCrlfLineEnds) {
  std::map<std::string, int> kinds;
  int attachments = 0, html = 0, short_ = 0;
  for (uint32_t id = 1; id <= 400; ++id) {
    const std::string text = MessageText(41, id);
    SCOPED_TRACE("id " + std::to_string(id));
    ASSERT_GE(text.size(), 2u);
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\n') {
        ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
      } else if (text[i] == '\r') {
        ASSERT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
      }
    }
    const size_t headerEnd = text.find("\r\n\r\n");
    ASSERT_NE(headerEnd, std::string::npos);
    const std::string header = "\r\n" + text.substr(0, headerEnd + 2);
    for (const char* name : {"From: \"", "To: \"", "Subject: ", "Date: ", "Message-ID: <",
                             "MIME-Version: 1.0\r\n", "Content-Type: "}) {
      EXPECT_NE(header.find(std::string("\r\n") + name), std::string::npos) << name;
    }
    if (text.size() <= 0x200) ++short_;
    const std::string type = HeaderValue(text, "Content-Type");
    kinds[type.substr(0, type.find(';'))]++;
    if (type.compare(0, 10, "multipart/") == 0) {
      const size_t b = header.find("boundary=\"");
      ASSERT_NE(b, std::string::npos);
      const std::string boundary = header.substr(b + 10, header.find('"', b + 10) - b - 10);
      EXPECT_NE(text.find("\r\n--" + boundary + "--\r\n"), std::string::npos) << "not closed";
    }
    // Encoded parts: base64 lines of at most 76 characters; quoted-printable within 76.
    for (size_t at = text.find("Content-Transfer-Encoding: base64\r\n"); at != std::string::npos;
         at = text.find("Content-Transfer-Encoding: base64\r\n", at + 1)) {
      ++attachments;
      size_t line = text.find("\r\n\r\n", at) + 4;
      for (size_t end; (end = text.find("\r\n", line)) != line; line = end + 2) {
        ASSERT_TRUE(IsBase64Line(text.substr(line, end - line))) << text.substr(line, end - line);
      }
    }
    for (size_t at = text.find("quoted-printable\r\n\r\n"); at != std::string::npos;
         at = text.find("quoted-printable\r\n\r\n", at + 1)) {
      ++html;
      for (size_t line = at + 20, end; text.compare(line, 2, "--") != 0; line = end + 2) {
        end = text.find("\r\n", line);
        ASSERT_LE(end - line, 76u);
      }
    }
  }
  EXPECT_GT(kinds["text/plain"], 100);
  EXPECT_GT(kinds["multipart/alternative"], 40);
  EXPECT_GT(kinds["multipart/mixed"], 20);
  EXPECT_GE(attachments, kinds["multipart/mixed"]);
  EXPECT_GE(html, kinds["multipart/alternative"]);
  EXPECT_GT(short_, 3);
}

// A small file still sits in the write buffer when the header is patched; a large one does not.
TEST(GenOutput, FileAndMemoryGiveTheSameBytes) {
  test::TempFolder dir("gen-output");
  const std::string path = dir / "out.dbx";
  std::string error;
  for (const GeneratorOptions& options : {Options(51, 2, false, 1), Options(51, 80, true, 4)}) {
    std::unique_ptr<FileOutput> file = FileOutput::Create(path, &error);
    ASSERT_TRUE(file) << error;
    MemoryOutput memory;
    ASSERT_TRUE(GenerateMailbox(options, *file, nullptr, nullptr, &error)) << error;
    ASSERT_TRUE(file->Close(&error)) << error;
    ASSERT_TRUE(GenerateMailbox(options, memory, nullptr, nullptr, &error)) << error;
    std::string written;
    ASSERT_TRUE(test::ReadWholeFile(path, &written));
    EXPECT_EQ(written.size(), memory.bytes().size());
    EXPECT_TRUE(written == memory.bytes()) << options.messageCount << " messages";
  }

  const std::string missing = dir / "no-such-folder/x.dbx";
  EXPECT_FALSE(FileOutput::Create(missing, &error));
  const std::string expected = missing + ": cannot create: ";
  EXPECT_EQ(error.compare(0, expected.size(), expected), 0) << error;
}

TEST(GenOptions, BadOptionsAreRefusedWithAReason) {
  std::string error;
  MemoryOutput out;
  GeneratorOptions none;
  EXPECT_FALSE(GenerateMailbox(none, out, nullptr, nullptr, &error));
  EXPECT_EQ(error, "give a message count or a file size");
  GeneratorOptions huge;
  huge.targetBytes = uint64_t{1} << 32;
  EXPECT_FALSE(GenerateMailbox(huge, out, nullptr, nullptr, &error));
  EXPECT_EQ(error, "the file size is over 4294967295 bytes; mailbox offsets are 32-bit");
  GeneratorOptions tiny;
  tiny.targetBytes = 4096;
  EXPECT_FALSE(GenerateMailbox(tiny, out, nullptr, nullptr, &error));
  EXPECT_EQ(error, "the file size is under 60116 bytes, the size of an empty mailbox");
  std::string filled;
  ASSERT_TRUE(out.Append("x", 1, &filled));
  EXPECT_FALSE(GenerateMailbox(Options(1, 1, false, 0), out, nullptr, nullptr, &error));
  EXPECT_EQ(error, "the output is not empty");
}

// The real folders in the corpus (written by Outlook Express 5/6), to check the generated layout
// against and to prove the test reader reads real files.
std::string CorpusFile(const char* name) { return std::string(QUILLON_CORPUS_DIR) + "/" + name; }

bool LoadCorpus(const char* name, std::string* bytes) {
  return test::ReadWholeFile(CorpusFile(name), bytes);
}

TEST(GenCorpus, TestReaderReadsTheRealFolders) {
  struct Expected {
    const char* file;
    std::vector<uint32_t> records, firstBlocks, lengths, blocks;
    std::vector<std::string> subjects;
  };
  // From corpus/SOURCES.md (the survey reading and the peers' expected values).
  const Expected expected[] = {
      {"dbxconvert_test.dbx",
       {0x2B24, 0x32D8},
       {0xEAD4, 0xF104},
       {1195, 18490},
       {3, 37},
       {"Subject #1", "Subject #2"}},
      {"mailtransportdbx_test1.dbx",
       {0x2B24},
       {0xEAD4},
       {2710},
       {6},
       {"[fmII] centericq 4.7.5 released (Default branch)"}},
      {"dbxoutlookexpress_Inbox.dbx",
       {0x2E10},
       {0xEAD4},
       {10139},
       {20},
       {"Welcome to Outlook Express 6"}},
      {"dbxoutlookexpress_Outbox.dbx", {}, {}, {}, {}, {}},
  };
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.file);
    std::string file, error;
    if (!LoadCorpus(e.file, &file)) GTEST_SKIP() << "no corpus at " << CorpusFile(e.file);
    DecodedMailbox d;
    ASSERT_TRUE(testing::DecodeMailbox(file, &d, &error)) << error;
    ASSERT_EQ(d.messages.size(), e.records.size());
    for (size_t i = 0; i < d.messages.size(); ++i) {
      EXPECT_EQ(d.messages[i].record, e.records[i]);
      EXPECT_EQ(d.messages[i].firstBlock, e.firstBlocks[i]);
      EXPECT_EQ(d.messages[i].chain.bytes.size(), e.lengths[i]);
      EXPECT_EQ(d.messages[i].sizeField, e.lengths[i]);
      EXPECT_EQ(d.messages[i].chain.blocks.size(), e.blocks[i]);
      testing::InfoRecord info;
      ASSERT_TRUE(testing::ReadInfoRecord(file, e.records[i], &info, &error));
      EXPECT_EQ(testing::InfoText(info, 0x08), e.subjects[i]);
    }
    EXPECT_TRUE(d.freeList.empty());
  }
}

TEST(GenCorpus, GeneratedHeaderHasTheRealLayout) {
  const Generated g = Generate(Options(61, 60, false, 0));
  ASSERT_EQ(g.decodeError, "");
  // Words that hold the same constants in every real folder with messages.
  const uint32_t kFixedWords[] = {0x1C, 0x28, 0x38, 0x40, 0x64, 0x80, 0x88};
  // Relations between the header and the file that hold in the real folders too.
  auto structureOk = [](const std::string& f) {
    return Le32(f, 0x30) + Le32(f, 0x34) == Le32(f, 0x7C) &&  // the tree chunk ends the used space
           Le32(f, 0x7C) <= f.size() && Le32(f, 0x3C) >= 0xEAD4 &&
           (Le32(f, 0x3C) - 0xEAD4) % 0xF780 == 0 && Le32(f, 0x44) % 0x210 == 0 &&
           Le32(f, 0xE4) >= Le32(f, 0x3C) + 0xF780 && Le32(f, 0x24) >= 0x2AD4;
  };
  EXPECT_TRUE(structureOk(g.file));
  for (const char* name :
       {"dbxconvert_test.dbx", "mailtransportdbx_test1.dbx", "dbxoutlookexpress_Inbox.dbx"}) {
    SCOPED_TRACE(name);
    std::string real;
    if (!LoadCorpus(name, &real)) GTEST_SKIP() << "no corpus at " << CorpusFile(name);
    EXPECT_EQ(g.file.compare(0, 0x1C, real, 0, 0x1C), 0) << "magic and class id";
    for (uint32_t w : kFixedWords) EXPECT_EQ(Le32(g.file, w), Le32(real, w)) << std::hex << w;
    EXPECT_TRUE(structureOk(real));
    // The file-info area and the view-filter object that opens the first info chunk.
    EXPECT_EQ(g.file.compare(0x24BC, 16, real, 0x24BC, 16), 0);
    // (up to the text's terminating zero: one real file has old bytes in the padding)
    EXPECT_EQ(g.file.compare(0x2AD4, 0x4E, real, 0x2AD4, 0x4E), 0);
  }
  // A folder with room for nothing is laid out like the real empty Outbox.
  std::string outbox;
  if (!LoadCorpus("dbxoutlookexpress_Outbox.dbx", &outbox)) GTEST_SKIP();
  GeneratorOptions o;
  o.targetBytes = kFirstSegment;
  const Generated empty = Generate(o);
  ASSERT_EQ(empty.decodeError, "");
  for (uint32_t w : {0x1Cu, 0x24u, 0x28u, 0x2Cu, 0x30u, 0x34u, 0x38u, 0x3Cu, 0x40u, 0x44u, 0x48u,
                     0x7Cu, 0x88u, 0xC4u, 0xE4u}) {
    EXPECT_EQ(Le32(empty.file, w), Le32(outbox, w)) << std::hex << w;
  }
}

}  // namespace
}  // namespace quillon::gen
