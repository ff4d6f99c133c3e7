// What a hostile output folder cannot make the POSIX output folder do: follow a symbolic link
// planted where a folder or a file of the output goes, wait on a FIFO, read a device, or rename
// over a device node.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "output/output_fs.h"
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

}  // namespace
}  // namespace quillon::output
