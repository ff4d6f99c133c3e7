#include "output/mail_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "fs/testing/mem_file_system.h"
#include "output/manifest.h"
#include "text/utf8.h"

namespace quillon::output {
namespace {

// The message's bytes in chunks of `chunk`; with `failAt`, the source fails there.
MessageSource Source(std::string bytes, size_t chunk = 1, size_t failAt = SIZE_MAX) {
  return [bytes = std::move(bytes), chunk, failAt](const ChunkSink& sink, std::string* error) {
    for (size_t at = 0; at < bytes.size(); at += chunk) {
      if (at >= failAt) {
        *error = "read error at " + std::to_string(at);
        return false;
      }
      const size_t n = std::min(chunk, bytes.size() - at);
      if (!sink(reinterpret_cast<const uint8_t*>(bytes.data()) + at, n)) return false;
    }
    return true;
  };
}

WriterOptions Options(Format format) {
  WriterOptions options;
  options.format = format;
  options.exportTime = 1700000000;
  options.clockMicroseconds = [] { return int64_t{1104746400123456}; };
  options.processId = 77;
  options.hostName = "host/a:b";
  options.maildirInfoSeparator = ':';
  return options;
}

MessageFacts Facts(uint32_t n, std::vector<std::string> folder = {}) {
  MessageFacts facts;
  facts.mailbox = "mail/Inbox.dbx";
  facts.folder = std::move(folder);
  facts.number = n;
  return facts;
}

TEST(MailWriter, EmlKeepsTheBytesNamesAndTimes) {
  MemFileSystem fs;
  std::string error;
  auto writer = MailWriter::Create(&fs, Options(Format::kEml), &error);
  ASSERT_TRUE(writer) << error;
  const std::string withDate = "Date: Mon, 3 Jan 2005 10:00:00 +0000\r\nSubject: a\r\n\r\nx\r\n";
  const struct {
    std::optional<int64_t> received;
    std::string bytes;
    std::string path;
    int64_t modified;
  } kCases[] = {
      {1000000000, "Subject: r\r\n\r\nbody", "Inbox.dbx-1.eml", 1000000000},
      {std::nullopt, withDate, "Inbox.dbx-2.eml", 1104746400},
      {std::nullopt, "Date: never\r\n\r\n", "Inbox.dbx-3.eml", 1700000000},
      // An index time past the year 9999 is none: the Date: header stands in.
      {int64_t{900000000000}, withDate, "Inbox.dbx-4.eml", 1104746400},
  };
  uint32_t n = 0;
  for (const auto& c : kCases) {
    MessageFacts facts = Facts(++n);
    facts.received = c.received;
    WrittenMessage written;
    ASSERT_TRUE(writer->Write(facts, Source(c.bytes), &written, &error)) << error;
    EXPECT_EQ(written.path, c.path);
    EXPECT_EQ(written.size, c.bytes.size());
    EXPECT_EQ(written.sha256, ComputeSha256(c.bytes.data(), c.bytes.size()));
    ASSERT_NE(fs.Find(c.path), nullptr);
    EXPECT_EQ(fs.Find(c.path)->bytes, c.bytes);
    EXPECT_EQ(fs.Find(c.path)->modified, c.modified);
  }
  EXPECT_EQ(fs.Files().size(), 4u);
  EXPECT_EQ(fs.temporaryCount(), 0u);
}

TEST(MailWriter, FlagsBecomeMaildirNamesAndMboxHeaders) {
  const struct {
    uint32_t flags;
    const char* maildirInfo;
    const char* mboxStatus;
  } kCases[] = {
      {0, "2,", ""},
      {kFlagRead, "2,S", "Status: RO\r\n"},
      {kFlagRead | kFlagAnswered | kFlagFlagged | kFlagDraft | kFlagForwarded, "2,DFPRS",
       "Status: RO\r\nX-Status: AFT\r\n"},
      {kFlagForwarded, "2,P", ""},
      {kFlagFlagged | kFlagAnswered, "2,FR", "X-Status: AF\r\n"},
      {kFlagAttachment | kFlagNews, "2,", ""},
  };
  const std::string message = "Subject: s\r\n\r\nb\r\n";
  for (const auto& c : kCases) {
    MemFileSystem fs;
    std::string error;
    MessageFacts facts = Facts(1, {"F"});
    facts.flags = c.flags;
    facts.received = 0;
    facts.senderAddress = "a@b";
    WrittenMessage written;
    auto maildir = MailWriter::Create(&fs, Options(Format::kMaildir), &error);
    ASSERT_TRUE(maildir->Write(facts, Source(message), &written, &error)) << error;
    EXPECT_EQ(written.path,
              std::string(".F/cur/1104746400.M123456P77Q1.host\\057a\\072b:") + c.maildirInfo);
    EXPECT_EQ(fs.Find(written.path)->bytes, message);
    EXPECT_NE(fs.Find(".F/maildirfolder"), nullptr);
    EXPECT_TRUE(fs.HasFolder(".F/new") && fs.HasFolder("tmp") && fs.HasFolder("cur"));

    auto mbox = MailWriter::Create(&fs, Options(Format::kMbox), &error);
    ASSERT_TRUE(mbox->Write(facts, Source(message), &written, &error)) << error;
    ASSERT_TRUE(mbox->Finish(&error)) << error;
    EXPECT_EQ(fs.Find("F")->bytes, std::string("From a@b Thu Jan  1 00:00:00 1970\n") +
                                       "Subject: s\r\n" + c.mboxStatus + "\r\nb\r\n\n");
  }
}

TEST(MailWriter, MboxIsThunderbirdsLayoutAtAnyChunkSize) {
  const std::string first = "From: x@y\r\nSubject: one\r\n\r\nFrom here on\r\n>From quoted\r\n";
  const std::string second = "From bogus line\nFrom: Ann <ann@example.org>\nStatus: U\n\nno end";
  const std::string third = "Subject: only headers\r\n";
  const std::string expected =
      "From sender@example.org Sat Sep 10 22:58:32 2016\n"
      "From: x@y\r\nSubject: one\r\nStatus: RO\r\n\r\n>From here on\r\n>>From quoted\r\n\n"
      "From ann@example.org Mon Jan  3 10:00:00 2005\n"
      ">From bogus line\nFrom: Ann <ann@example.org>\nStatus: U\nX-Status: F\n\n"
      "no end\n\n"
      "From MAILER-DAEMON Tue Nov 14 22:13:20 2023\n"
      "Subject: only headers\r\n\n";
  for (size_t chunk : {size_t{1}, size_t{5}, size_t{4096}}) {
    MemFileSystem fs;
    std::string error;
    auto writer = MailWriter::Create(&fs, Options(Format::kMbox), &error);
    ASSERT_TRUE(writer->AddFolder({"Local Folders", "Empty"}, &error)) << error;
    MessageFacts a = Facts(1, {"Local Folders", "Inbox"});
    a.senderAddress = "sender@example.org";
    a.received = 1473548312;
    a.flags = kFlagRead;
    MessageFacts b = Facts(2, {"Local Folders", "Inbox"});
    b.senderAddress = "not an address";
    b.received = 1104746400;
    b.flags = kFlagFlagged;
    MessageFacts c = Facts(3, {"Local Folders", "Inbox"});
    WrittenMessage written;
    for (const auto& [facts, bytes] : {std::pair{a, first}, {b, second}, {c, third}}) {
      ASSERT_TRUE(writer->Write(facts, Source(bytes, chunk), &written, &error)) << error;
      EXPECT_EQ(written.path, "Local Folders.sbd/Inbox");
      EXPECT_EQ(written.sha256, ComputeSha256(bytes.data(), bytes.size()));
    }
    ASSERT_TRUE(writer->Finish(&error)) << error;
    const std::map<std::string, std::string> files = fs.Files();
    EXPECT_EQ(files, (std::map<std::string, std::string>{{"Local Folders", ""},
                                                         {"Local Folders.sbd/Empty", ""},
                                                         {"Local Folders.sbd/Inbox", expected}}))
        << "chunk " << chunk;
  }
}

// The From line is ASCII whatever the index says, and every message ends its last line once.
TEST(MailWriter, MboxFromLinesAreAsciiAndLastLinesEndOnce) {
  const std::string date = "Date: Mon, 3 Jan 2005 10:00:00 +0000\n";
  const struct {
    std::string sender;
    int64_t received;
    std::string bytes, mbox;
  } kCases[] = {
      // An 8-bit or control character in the index's address: the From: header's, else none.
      {"j\xC3\xB6rg@example.org", 0, "From: J <j@example.org>\n\nx\n",
       "From j@example.org Thu Jan  1 00:00:00 1970\nFrom: J <j@example.org>\n\nx\n\n"},
      {"a\xC2\x85@b", 0, "From: <j\xC3\xB6rg@b>\n\nx\n",
       "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\nFrom: <j\xC3\xB6rg@b>\n\nx\n\n"},
      {"a\x1B@b", 0, "\nx", "From MAILER-DAEMON Thu Jan  1 00:00:00 1970\n\nx\n\n"},
      // A last line that ends in a lone CR gets the LF that makes it CR LF, and no more.
      {"a@b", 0, "S: s\r\n\r\nends in CR\r",
       "From a@b Thu Jan  1 00:00:00 1970\nS: s\r\n\r\nends in CR\r\n\n"},
      {"a@b", 0, "S: s\n\nx\n\r", "From a@b Thu Jan  1 00:00:00 1970\nS: s\n\nx\n\r\n\n"},
      {"a@b", 0, "S: in the header\r", "From a@b Thu Jan  1 00:00:00 1970\nS: in the header\r\n\n"},
      // An index time past the year 9999 is none: the Date: header's time, as {date} has it.
      {"a@b", 900000000000, date + "\nx\n",
       "From a@b Mon Jan  3 10:00:00 2005\n" + date + "\nx\n\n"},
  };
  for (const auto& c : kCases) {
    for (size_t chunk : {size_t{1}, size_t{4096}}) {
      MemFileSystem fs;
      std::string error;
      auto writer = MailWriter::Create(&fs, Options(Format::kMbox), &error);
      MessageFacts facts = Facts(1, {"F"});
      facts.senderAddress = c.sender;
      facts.received = c.received;
      WrittenMessage written;
      ASSERT_TRUE(writer->Write(facts, Source(c.bytes, chunk), &written, &error)) << error;
      ASSERT_TRUE(writer->Finish(&error)) << error;
      EXPECT_EQ(fs.Find("F")->bytes, c.mbox) << c.bytes << " in chunks of " << chunk;
    }
  }
}

TEST(MailWriter, LeavesNothingHalfWritten) {
  const std::string bytes = "Subject: s\r\n\r\n" + std::string(1000, 'b');
  for (Format format : {Format::kEml, Format::kMaildir}) {
    // The source fails, then the disk fills up: neither leaves a file.
    MemFileSystem fs;
    std::string error;
    auto writer = MailWriter::Create(&fs, Options(format), &error);
    WrittenMessage written;
    EXPECT_FALSE(writer->Write(Facts(1), Source(bytes, 100, 500), &written, &error));
    EXPECT_EQ(error, "read error at 500");
    fs.diskCapacity = 600;
    EXPECT_FALSE(writer->Write(Facts(2), Source(bytes, 100), &written, &error));
    EXPECT_EQ(error, "No space left on device");
    EXPECT_TRUE(fs.Files().empty()) << FormatName(format);
    EXPECT_EQ(fs.temporaryCount(), 0u);
  }
  // An mbox keeps what the source gave of a message, ended as a message, and says so.
  MemFileSystem fs;
  std::string error;
  auto writer = MailWriter::Create(&fs, Options(Format::kMbox), &error);
  WrittenMessage written;
  EXPECT_FALSE(writer->Write(Facts(1, {"A"}), Source("Subject: s\r\n\r\nline\r\nmore", 20, 20),
                             &written, &error));
  ASSERT_TRUE(writer->Finish(&error));
  EXPECT_EQ(fs.Find("A")->bytes,
            "From MAILER-DAEMON Tue Nov 14 22:13:20 2023\nSubject: s\r\n\r\nline\r\n\n");
}

// A message cut by a stop or by a full disk is cut away from its mbox, new or appended to: the
// mbox ends at the last whole message, the one the manifest lists last. A read that fails for
// another reason keeps what it gave (above).
TEST(MailWriter, MboxEndsAtTheLastWholeMessageWhenStoppedOrFull) {
  const std::string whole = "Subject: whole\n\nbody\n";
  const std::string head = "From MAILER-DAEMON Tue Nov 14 22:13:20 2023\n";
  const std::string big = "Subject: cut\n\n" + std::string(600 * 1024, 'x') + "\n";
  for (const bool stop : {true, false}) {
    for (const bool appended : {false, true}) {
      SCOPED_TRACE(std::string(stop ? "stopped" : "disk full") + (appended ? ", appended" : ""));
      MemFileSystem fs;
      std::atomic<bool> abort{false};
      WriterOptions options = Options(Format::kMbox);
      options.abort = &abort;
      std::string error;
      auto writer = MailWriter::Create(&fs, options, &error);
      WrittenMessage written;
      ASSERT_TRUE(writer->Write(Facts(1, {"A"}), Source(whole), &written, &error)) << error;
      if (appended) {
        // Another folder, then "A" again: its mbox is appended to.
        ASSERT_TRUE(writer->Write(Facts(2, {"B"}), Source(whole), &written, &error)) << error;
        ASSERT_TRUE(writer->Write(Facts(3, {"A"}), Source(whole), &written, &error)) << error;
      }
      // Large enough to reach the file before it is cut.
      MessageSource source = Source(big, 64 * 1024);
      if (stop) {
        source = [&](const ChunkSink& sink, std::string* e) {
          return Source(big, 64 * 1024, 512 * 1024)(
                     [&](const uint8_t* p, size_t n) { return sink(p, n); }, e) ||
                 (abort = true, false);
        };
      } else {
        fs.diskCapacity = fs.bytesWritten + 300 * 1024;
      }
      EXPECT_FALSE(writer->Write(Facts(4, {"A"}), source, &written, &error));
      EXPECT_EQ(error, stop ? "read error at 524288" : "No space left on device");
      fs.diskCapacity = 0;
      ASSERT_TRUE(writer->Finish(&error)) << error;
      const std::string one = head + whole + "\n";
      ASSERT_NE(fs.Find("A"), nullptr);
      EXPECT_EQ(fs.Find("A")->bytes, appended ? one + one : one);
      EXPECT_EQ(fs.temporaryCount(), 0u);
    }
  }
}

TEST(MailWriter, NoMessageReplacesAnotherWhateverTheCase) {
  MemFileSystem fs(/*ignoreCase=*/true);
  WriterOptions options = Options(Format::kEml);
  options.nameTemplate = "{subject}";
  options.reservedNames = {"quillon-manifest.jsonl"};
  std::string error;
  auto writer = MailWriter::Create(&fs, options, &error);
  const char* const kSubjects[] = {"Hello", "HELLO", "hello (2)", "Quillon-Manifest.jsonl", ""};
  const char* const kNames[] = {"Hello.eml", "HELLO (2).eml", "hello (2) (2).eml",
                                "Quillon-Manifest.jsonl.eml", "_.eml"};
  for (size_t i = 0; i < std::size(kSubjects); ++i) {
    MessageFacts facts = Facts(static_cast<uint32_t>(i + 1));
    facts.subject = kSubjects[i];
    WrittenMessage written;
    ASSERT_TRUE(writer->Write(facts, Source("x"), &written, &error)) << error;
    EXPECT_EQ(written.path, kNames[i]);
  }
  EXPECT_EQ(fs.Files().size(), std::size(kSubjects));

  options.nameTemplate = "{folder}/{n}";
  EXPECT_EQ(MailWriter::Create(&fs, options, &error), nullptr);
  EXPECT_NE(error.find("folder separator"), std::string::npos);
}

// Folder names as a damaged or hostile Folders.dbx gives them, each alone and with the pieces
// around it that break paths, names and readers.
std::vector<std::string> HostileNames() {
  const std::string pieces[] = {"",
                                " ",
                                "   ",
                                ".",
                                "..",
                                "...",
                                "~",
                                "~Archive",
                                "-",
                                "&",
                                "&-",
                                "&AOk-",
                                "%",
                                "*",
                                "?",
                                "\"",
                                "<>",
                                "|",
                                ":",
                                "/",
                                "\\",
                                "a/b",
                                "..\\..\\x",
                                "../../etc",
                                "C:",
                                "C:\\x",
                                "\\\\?\\x",
                                "CON",
                                "con.txt",
                                "NUL",
                                "COM1",
                                "LPT9",
                                "COM\xC2\xB9",
                                "AUX.tar.gz",
                                "Inbox",
                                "INBOX",
                                "inbox",
                                "cur",
                                "new",
                                "tmp",
                                "maildirfolder",
                                "dovecot-uidlist",
                                "quillon-manifest.jsonl",
                                ".quillon-lock",
                                ".quillon-manifest.jsonl.tmp",
                                "X.sbd",
                                "X.msf",
                                "X.lock",
                                ".hidden",
                                "trailing.",
                                "trailing ",
                                " leading",
                                "tab\there",
                                "nl\nhere",
                                "cr\rhere",
                                "esc\x1B[2J",
                                std::string("nul\0byte", 8),
                                "\x7F",
                                "c1\xC2\x85",
                                "bad\xFF\xFEutf8",
                                "\xC3",
                                "rtl\xE2\x80\xAEtxt.exe",
                                "\xEF\xBB\xBF"
                                "bom",
                                "mail \xF0\x9F\x93\xA7",
                                "Caf\xC3\xA9",
                                "Cafe\xCC\x81",
                                "\xEF\xBC\xA1",
                                "Work.2004",
                                "a.b.c",
                                "#shared",
                                "a%b",
                                std::string(252, 'a'),
                                std::string(255, 'b'),
                                std::string(300, 'c')};
  std::vector<std::string> names;
  std::string cyrillic, chinese, emoji;
  for (int i = 0; i < 150; ++i) cyrillic += "\xD0\x96";
  for (int i = 0; i < 100; ++i) chinese += "\xE6\x94\xB6";
  for (int i = 0; i < 70; ++i) emoji += "\xF0\x9F\x93\xA7";
  for (const std::string& piece : {cyrillic, chinese, emoji}) names.push_back(piece);
  for (const std::string& piece : pieces) {
    std::string upper = piece;
    for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    for (const std::string& name : {piece, upper, piece + ".sbd", "x" + piece + "x"}) {
      if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    }
  }
  return names;
}

// Every file and folder name of the output, in every format, is one that Linux, macOS and
// Windows take and that readers can open beside it: within 255 bytes (an mbox with room for its
// ".lock"), valid UTF-8 without control characters, no separator, device name or trailing dot,
// never "." or "..", inside the output folder; no two folders meet, though names differ only by
// case; and each manifest line is JSON that names the file written.
TEST(MailWriter, HostileFolderNamesHoldInEveryFormat) {
  const std::vector<std::string> names = HostileNames();
  ASSERT_GE(names.size(), 250u);
  const auto reserved = [](std::string base) {
    while (!base.empty() && base.back() == ' ') base.pop_back();
    for (char& c : base) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
  };
  for (Format format : {Format::kEml, Format::kMbox, Format::kMaildir}) {
    SCOPED_TRACE(FormatName(format));
    MemFileSystem fs(/*ignoreCase=*/true);
    WriterOptions options = Options(format);
    options.maildirInfoSeparator = ';';  // as on Windows: no ':' in any name
    options.hostName = "host";
    options.reservedNames = OwnNames();
    std::string error;
    auto writer = MailWriter::Create(&fs, options, &error);
    uint32_t n = 0;
    std::set<std::string> places;
    for (const std::string& name : names) {
      for (const std::vector<std::string>& folder :
           {std::vector<std::string>{name}, std::vector<std::string>{"P", name}}) {
        MessageFacts facts = Facts(++n, folder);
        facts.subject = name;
        const std::string bytes = "Subject: " + std::to_string(n) + "\r\n\r\nbody\r\n";
        WrittenMessage written;
        ASSERT_TRUE(writer->Write(facts, Source(bytes, 4096), &written, &error)) << error;
        places.insert(format == Format::kEml    ? written.path.substr(0, written.path.rfind('/'))
                      : format == Format::kMbox ? written.path
                                                : MailWriter::MaildirOf(written.path));
        const nlohmann::json line = nlohmann::json::parse(FileLine(facts, written), nullptr, false);
        ASSERT_TRUE(line.is_object()) << FileLine(facts, written);
        EXPECT_EQ(line["path"], written.path);
      }
    }
    ASSERT_TRUE(writer->Finish(&error)) << error;
    // Two folders per name, each in a place of its own: the parent "P" and the top share none.
    EXPECT_EQ(places.size(), 2 * names.size());
    // Each message in a file of its own (eml, Maildir; beside each Maildir++ folder's mark), each
    // mbox a file of its own (and "P" one, above its folders): none was written over another.
    const std::map<std::string, std::string> files = fs.Files();
    size_t marks = 0;
    for (const auto& [path, bytes] : files) marks += BaseName(path) == "maildirfolder";
    if (format == Format::kMbox) {
      EXPECT_EQ(files.size(), places.size() + 1);
    } else {
      EXPECT_EQ(files.size() - marks, 2 * names.size());
    }
    for (const auto& [path, bytes] : files) {
      EXPECT_TRUE(PathStaysInside(path)) << path;
      for (size_t start = 0; start <= path.size();) {
        const size_t slash = std::min(path.find('/', start), path.size());
        const std::string part = path.substr(start, slash - start);
        start = slash + 1;
        EXPECT_LE(part.size() + (format == Format::kMbox ? 5 : 0), kMaxNameBytes) << path;
        EXPECT_EQ(ValidUtf8(part), part) << path;
        EXPECT_TRUE(part != "." && part != ".." && !part.empty()) << path;
        EXPECT_TRUE(part.back() != '.' && part.back() != ' ') << path;
        EXPECT_FALSE(reserved(part.substr(0, part.find('.')))) << path;
        for (const char c : part) {
          const auto b = static_cast<unsigned char>(c);
          EXPECT_TRUE(b >= 0x20 && b != 0x7F && std::strchr("<>:\"\\|?*", c) == nullptr) << path;
        }
        if (format == Format::kMaildir && path.compare(0, part.size(), part) == 0) {
          EXPECT_TRUE(part.size() < 2 || part[1] != '~') << path;  // Dovecot refuses it
        }
      }
    }
  }
}

}  // namespace
}  // namespace quillon::output
