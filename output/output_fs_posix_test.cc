// What a hostile output folder cannot make the POSIX output folder do: follow a symbolic link
// planted where a folder or a file of the output goes, wait on a FIFO, read a device, or rename
// over a device node.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>

#include "fs/output_fs.h"
#include "output/mail_writer.h"
#include "test_support/test_support.h"

namespace quillon::output {
namespace {

namespace fs = std::filesystem;

bool ReadsAnything(OutputFs* out, const std::string& path, std::string* error) {
  return out->Read(
      path, [](const uint8_t*, size_t) { return true; }, error);
}

bool Commits(OutputFs* out, const std::string& temporary, const std::string& final,
             std::string* error) {
  std::unique_ptr<NewFile> file = out->CreateTemporary(temporary, error);
  return file && file->Write("new", 3, error) && file->Commit(final, {}, error);
}

TEST(PosixOutputFs, NeverFollowsALinkNorWaitsOnAFifo) {
  test::TempFolder temp("output-links");
  ASSERT_FALSE(temp.path().empty());
  const fs::path root = temp.path() / "out", elsewhere = temp.path() / "elsewhere";
  fs::create_directories(root / "Local Folders.sbd");
  fs::create_directories(root / ".Sent");
  fs::create_directories(elsewhere / "cur");
  ASSERT_TRUE(test::WriteWholeFile(elsewhere / "Inbox", "theirs"));
  ASSERT_TRUE(test::WriteWholeFile(elsewhere / "cur" / "m", "theirs"));
  // Links planted for a folder of each format, and for files.
  fs::create_directory_symlink(elsewhere, root / "Local Folders");
  fs::create_directory_symlink(elsewhere / "cur", root / ".Sent" / "cur");
  fs::create_directory_symlink(elsewhere, root / "Local Folders.sbd" / "Sub.sbd");
  fs::create_symlink(elsewhere / "Inbox", root / "Inbox");
  fs::create_symlink("/dev/zero", root / "zero.eml");
  ASSERT_EQ(mkfifo((root / "fifo.eml").c_str(), 0600), 0);
  fs::create_directory(root / "folder.eml");
  ASSERT_TRUE(test::WriteWholeFile(root / "plain.eml", "old"));

  const std::unique_ptr<OutputFs> out = PlatformOutputFs(root.string());
  const struct {
    const char* what;
    std::function<bool(std::string*)> call;
    const char* said;  // what the error ends with
  } kCases[] = {
      {"folders below a link",
       [&](std::string* e) { return out->MakeFolders("Local Folders/Inbox", e); },
       "out/Local Folders is a symbolic link, which the export does not follow"},
      {"a file in a linked folder",
       [&](std::string* e) { return Commits(out.get(), ".Sent/cur/.t", ".Sent/cur/m", e); },
       "out/.Sent/cur is a symbolic link, which the export does not follow"},
      {"a file renamed into a linked folder",
       [&](std::string* e) { return Commits(out.get(), ".t", "Local Folders/Inbox", e); },
       "out/Local Folders is a symbolic link, which the export does not follow"},
      {"an mbox appended to through a link",
       [&](std::string* e) { return out->OpenForAppend("Inbox", e) != nullptr; },
       "out/Inbox is a symbolic link, which the export does not follow"},
      {"an mbox appended to in a linked .sbd",
       [&](std::string* e) {
         return out->OpenForAppend("Local Folders.sbd/Sub.sbd/Inbox", e) != nullptr;
       },
       "out/Local Folders.sbd/Sub.sbd is a symbolic link, which the export does not follow"},
      {"a listing of a linked folder",
       [&](std::string* e) {
         std::vector<FolderEntry> entries;
         return out->List("Local Folders", &entries, e);
       },
       "out/Local Folders is a symbolic link, which the export does not follow"},
      {"a read through a linked folder",
       [&](std::string* e) { return ReadsAnything(out.get(), "Local Folders/Inbox", e); },
       "out/Local Folders is a symbolic link, which the export does not follow"},
      {"a read of a link to a device",
       [&](std::string* e) { return ReadsAnything(out.get(), "zero.eml", e); },
       "out/zero.eml is a symbolic link, which the export does not follow"},
      {"a read of a FIFO, which would wait for a writer",
       [&](std::string* e) { return ReadsAnything(out.get(), "fifo.eml", e); },
       "out/fifo.eml is not a regular file"},
      {"an append to a FIFO",
       [&](std::string* e) { return out->OpenForAppend("fifo.eml", e) != nullptr; },
       "out/fifo.eml is not a regular file"},
      {"a rename over a folder",
       [&](std::string* e) { return Commits(out.get(), ".t", "folder.eml", e); },
       "out/folder.eml is a folder; not replaced"},
  };
  for (const auto& c : kCases) {
    std::string error;
    EXPECT_FALSE(c.call(&error)) << c.what;
    EXPECT_EQ(error.substr(error.size() - std::min(error.size(), std::strlen(c.said))), c.said)
        << c.what << ": " << error;
  }
  // Nothing was written where the links lead, nothing left behind, and a regular file is
  // replaced as before.
  EXPECT_EQ(test::ReadWholeFile(elsewhere / "Inbox"), "theirs");
  EXPECT_EQ(test::ReadWholeFile(elsewhere / "cur" / "m"), "theirs");
  EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere), fs::directory_iterator()), 2);
  // A file renamed into place replaces a regular file, a FIFO or a link itself (not what it
  // leads to), never a device node, not even for root.
  std::string error;
  for (const char* name : {"plain.eml", "fifo.eml", "Inbox"}) {
    EXPECT_TRUE(Commits(out.get(), ".t", name, &error)) << error;
    EXPECT_EQ(test::ReadWholeFile(root / name), "new") << name;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root / name))) << name;
  }
  EXPECT_EQ(test::ReadWholeFile(elsewhere / "Inbox"), "theirs");
  if (mknod((root / "null.eml").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) {
    EXPECT_FALSE(Commits(out.get(), ".t", "null.eml", &error));
    EXPECT_EQ(error, root.string() + "/null.eml is a device; not replaced");
    EXPECT_TRUE(fs::is_character_file(root / "null.eml"));
  }
  EXPECT_FALSE(fs::exists(root / ".t"));

  // A folder entered once stays the one written into when a link takes its place.
  ASSERT_TRUE(out->MakeFolders("Drafts", &error)) << error;
  fs::rename(root / "Drafts", root / "Drafts.moved");
  fs::create_directory_symlink(elsewhere, root / "Drafts");
  EXPECT_TRUE(Commits(out.get(), "Drafts/.t", "Drafts/m.eml", &error)) << error;
  EXPECT_EQ(test::ReadWholeFile(root / "Drafts.moved" / "m.eml"), "new");
  EXPECT_FALSE(fs::exists(elsewhere / "m.eml"));
}

// A file made under its final name where nothing has that name replaces and refuses what is
// there as a renamed one does, and one dropped before its commit (a write that failed, a stop)
// leaves the name as it was: nothing cut stays under it, nothing temporary beside it.
TEST(PosixOutputFs, FilesMadeUnderTheirNamesReplaceAndRefuseAsRenamedOnes) {
  test::TempFolder temp("output-final");
  ASSERT_FALSE(temp.path().empty());
  const fs::path root = temp.path() / "out", elsewhere = temp.path() / "elsewhere";
  fs::create_directories(root);
  fs::create_directories(elsewhere);
  ASSERT_TRUE(test::WriteWholeFile(elsewhere / "target", "theirs"));
  ASSERT_TRUE(test::WriteWholeFile(root / "plain.eml", "old"));
  ASSERT_EQ(mkfifo((root / "fifo.eml").c_str(), 0600), 0);
  fs::create_symlink(elsewhere / "target", root / "link.eml");
  fs::create_symlink(elsewhere / "missing", root / "dangling.eml");
  fs::create_directory(root / "folder.eml");
  const bool device = mknod((root / "null.eml").c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0;

  const std::unique_ptr<OutputFs> out = PlatformOutputFs(root.string());
  const struct {
    const char* name;
    fs::file_type before;  // what a dropped file leaves there
    const char* refused;   // the error's end when the commit is refused, else null
  } kCases[] = {
      {"fresh.eml", fs::file_type::not_found, nullptr},
      {"plain.eml", fs::file_type::regular, nullptr},
      {"fifo.eml", fs::file_type::fifo, nullptr},
      {"link.eml", fs::file_type::symlink, nullptr},
      {"dangling.eml", fs::file_type::symlink, nullptr},
      {"folder.eml", fs::file_type::directory, " is a folder; not replaced"},
      {"null.eml", fs::file_type::character, " is a device; not replaced"},
  };
  for (const auto& c : kCases) {
    if (c.before == fs::file_type::character && !device) continue;
    std::string error;
    std::unique_ptr<NewFile> file = out->CreateFinal(c.name, ".t", &error);
    ASSERT_TRUE(file && file->Write("cut", 3, &error)) << c.name << ": " << error;
    file.reset();
    EXPECT_EQ(fs::symlink_status(root / c.name).type(), c.before) << c.name;
    if (c.before == fs::file_type::regular) {
      EXPECT_EQ(test::ReadWholeFile(root / c.name), "old");
    }

    file = out->CreateFinal(c.name, ".t", &error);
    ASSERT_TRUE(file && file->Write("new", 3, &error)) << c.name << ": " << error;
    const bool committed = file->Commit(c.name, int64_t{1104746400}, &error);
    file.reset();
    if (c.refused != nullptr) {
      EXPECT_FALSE(committed) << c.name;
      EXPECT_EQ(error, (root / c.name).string() + c.refused);
      EXPECT_EQ(fs::symlink_status(root / c.name).type(), c.before) << c.name;
      continue;
    }
    ASSERT_TRUE(committed) << c.name << ": " << error;
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(root / c.name))) << c.name;
    EXPECT_EQ(test::ReadWholeFile(root / c.name), "new") << c.name;
    struct stat st;
    ASSERT_EQ(lstat((root / c.name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 1104746400) << c.name;
  }
  EXPECT_EQ(test::ReadWholeFile(elsewhere / "target"), "theirs");
  EXPECT_FALSE(fs::exists(fs::symlink_status(root / ".t")));
  EXPECT_FALSE(fs::exists(fs::symlink_status(elsewhere / "missing")));
}

// Through the writer, on disk: a message whose read fails or that a stop cuts leaves no file,
// not even one it would have replaced, and takes no name: the next message of the name gets it
// unnumbered, as if the failed one had never come. A name a file has from a run before is
// replaced whole.
TEST(PosixOutputFs, NoCutMessageStaysUnderItsName) {
  test::TempFolder temp("output-cut");
  ASSERT_FALSE(temp.path().empty());
  const fs::path root = temp.path() / "out";
  fs::create_directories(root / "cur");
  ASSERT_TRUE(test::WriteWholeFile(root / "kept.eml", "old"));
  ASSERT_TRUE(test::WriteWholeFile(root / "again.eml", "old"));
  const std::unique_ptr<OutputFs> out = PlatformOutputFs(root.string());
  const std::string bytes = "Subject: s\r\n\r\n" + std::string(100000, 'b');
  enum End { kWhole, kReadFails, kStopped };
  const struct {
    Format format;
    const char* subject;
    End end;
    const char* path;  // what it became ("": nothing)
  } kCases[] = {
      {Format::kEml, "a", kReadFails, ""},          {Format::kEml, "a", kStopped, ""},
      {Format::kEml, "a", kWhole, "a.eml"},         {Format::kEml, "A", kWhole, "A (2).eml"},
      {Format::kEml, "kept", kReadFails, ""},       {Format::kEml, "kept", kStopped, ""},
      {Format::kEml, "again", kWhole, "again.eml"}, {Format::kMaildir, "", kReadFails, ""},
      {Format::kMaildir, "", kStopped, ""},
  };
  std::map<Format, std::unique_ptr<MailWriter>> writers;
  std::atomic<bool> stop{false};
  std::set<std::string> expected = {"kept.eml", "cur", "new", "tmp"};
  for (const auto& c : kCases) {
    std::string error;
    std::unique_ptr<MailWriter>& writer = writers[c.format];
    if (!writer) {
      WriterOptions options;
      options.format = c.format;
      options.nameTemplate = "{subject}";
      options.abort = &stop;
      writer = MailWriter::Create(out.get(), options, &error);
      ASSERT_TRUE(writer) << error;
    }
    MessageFacts facts;
    facts.mailbox = "Inbox.dbx";
    facts.subject = c.subject;
    facts.received = 1104746400;
    stop = c.end == kStopped;
    // The bytes go in pieces; the read ends halfway, after some are written.
    const MessageSource source = [&](const ChunkSink& sink, std::string* why) {
      for (size_t at = 0; at < bytes.size(); at += 4096) {
        if (c.end != kWhole && at >= bytes.size() / 2) {
          *why = c.end == kStopped ? "stopped" : "read error";
          return false;
        }
        if (!sink(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                  std::min<size_t>(4096, bytes.size() - at))) {
          return false;
        }
      }
      return true;
    };
    WrittenMessage written;
    EXPECT_EQ(writer->Write(facts, source, &written, &error), c.end == kWhole) << c.subject;
    if (c.end != kWhole) continue;
    EXPECT_EQ(written.path, c.path);
    EXPECT_EQ(test::ReadWholeFile(root / c.path), bytes) << c.path;
    expected.insert(c.path);
  }
  std::set<std::string> there;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    there.insert(fs::relative(e.path(), root).string());
  }
  EXPECT_EQ(there, expected);
  EXPECT_EQ(test::ReadWholeFile(root / "kept.eml"), "old");
}

}  // namespace
}  // namespace quillon::output
