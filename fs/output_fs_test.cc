#include "fs/output_fs.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>

#include "test_support/test_support.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(OutputFs* out, const std::string& path) {
  std::string bytes, error;
  EXPECT_TRUE(out->Read(
      path,
      [&bytes](const uint8_t* p, size_t n) {
        bytes.append(reinterpret_cast<const char*>(p), n);
        return true;
      },
      &error))
      << error;
  return bytes;
}

// The system's files, through the same calls the writers make: a file appears under its final
// name only when committed, with its time; a dropped one leaves nothing; names are UTF-8.
TEST(PlatformOutputFs, WritesWholeFilesAppendsAndLists) {
  test::TempFolder temp("output-fs");
  ASSERT_FALSE(temp.path().empty());
  std::unique_ptr<OutputFs> out = PlatformOutputFs((temp.path() / "out").string());
  std::string error;
  const std::string folder = "Local Folders/Caf\xC3\xA9 \xE6\x94\xB6\xE4\xBB\xB6";
  ASSERT_TRUE(out->MakeFolders(folder, &error)) << error;
  ASSERT_TRUE(out->MakeFolders(folder, &error)) << error;  // again: it exists

  std::unique_ptr<NewFile> file = out->CreateTemporary(folder + "/.t.tmp", &error);
  ASSERT_TRUE(file) << error;
  EXPECT_FALSE(out->CreateTemporary(folder + "/.t.tmp", &error));  // never two writers
  ASSERT_TRUE(file->Write("abc", 3, &error)) << error;
  std::vector<FolderEntry> entries;
  ASSERT_TRUE(out->List(folder, &entries, &error));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, ".t.tmp");
  ASSERT_TRUE(file->Commit(folder + "/m\xC3\xA9.eml", int64_t{1104746400}, &error)) << error;
  file.reset();
  EXPECT_EQ(ReadAll(out.get(), folder + "/m\xC3\xA9.eml"), "abc");
  // The times given: a day apart exactly, and the first near 2005-01-03 10:00 UTC (the file
  // clock's epoch is the library's own, so that one is compared through both clocks' now).
  file = out->CreateTemporary(folder + "/.v.tmp", &error);
  ASSERT_TRUE(file && file->Commit(folder + "/later.eml", int64_t{1104746400 + 86400}, &error));
  const auto first =
      fs::last_write_time(temp.path() / "out" / fs::u8path(folder + "/m\xC3\xA9.eml"));
  const auto later = fs::last_write_time(temp.path() / "out" / fs::u8path(folder + "/later.eml"));
  EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(later - first).count(), 86400);
  const auto sinceFirst =
      std::chrono::duration_cast<std::chrono::seconds>(fs::file_time_type::clock::now() - first);
  const int64_t now = std::chrono::duration_cast<std::chrono::seconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
  EXPECT_NEAR(static_cast<double>(now - sinceFirst.count()), 1104746400.0, 5.0);

  // Dropped before its commit: nothing stays.
  file = out->CreateTemporary(folder + "/.u.tmp", &error);
  ASSERT_TRUE(file && file->Write("x", 1, &error));
  file.reset();

  std::unique_ptr<AppendFile> mbox = out->OpenForAppend("Local Folders/box", &error);
  ASSERT_TRUE(mbox && mbox->Write("one\n", 4, &error) && mbox->Close(&error)) << error;
  mbox = out->OpenForAppend("Local Folders/box", &error);
  ASSERT_TRUE(mbox && mbox->Write("two\n", 4, &error) && mbox->Close(&error)) << error;
  EXPECT_EQ(ReadAll(out.get(), "Local Folders/box"), "one\ntwo\n");
  // Cut back to what this opening wrote first: the earlier bytes stay, and so does the rest.
  mbox = out->OpenForAppend("Local Folders/box", &error);
  ASSERT_TRUE(mbox && mbox->Write("three\n", 6, &error) && mbox->Write("cut", 3, &error));
  ASSERT_TRUE(mbox->CutBack(6, &error) && mbox->Write("four\n", 5, &error) && mbox->Close(&error))
      << error;
  EXPECT_EQ(ReadAll(out.get(), "Local Folders/box"), "one\ntwo\nthree\nfour\n");
  file = out->CreateTemporary("Local Folders/.w.tmp", &error);
  ASSERT_TRUE(file && file->Write("whole\ncut", 9, &error) && file->CutBack(6, &error) &&
              file->Write("end\n", 4, &error) && file->Commit("Local Folders/cut", {}, &error))
      << error;
  EXPECT_EQ(ReadAll(out.get(), "Local Folders/cut"), "whole\nend\n");
  // Spans in one call: more than one system call takes, empty ones among them.
  std::vector<std::string> pieces;
  std::vector<ByteSpan> spans;
  std::string joined;
  for (int i = 0; i < 3000; ++i) pieces.push_back(i % 7 == 0 ? "" : std::to_string(i) + ",");
  for (const std::string& piece : pieces) {
    spans.push_back({piece.data(), piece.size()});
    joined += piece;
  }
  mbox = out->OpenForAppend("Local Folders/spans", &error);
  ASSERT_TRUE(mbox && mbox->WriteSpans(spans.data(), spans.size(), &error) && mbox->Close(&error))
      << error;
  EXPECT_EQ(ReadAll(out.get(), "Local Folders/spans"), joined);

  ASSERT_TRUE(out->List("Local Folders", &entries, &error));
  std::map<std::string, bool> listed;
  for (const FolderEntry& e : entries) listed[e.name] = e.kind == EntryKind::kFolder;
  EXPECT_EQ(listed, (std::map<std::string, bool>{{"Caf\xC3\xA9 \xE6\x94\xB6\xE4\xBB\xB6", true},
                                                 {"box", false},
                                                 {"cut", false},
                                                 {"spans", false}}));
  ASSERT_TRUE(out->List(folder, &entries, &error));
  EXPECT_EQ(entries.size(), 2u);
  ASSERT_TRUE(out->List("missing", &entries, &error));
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(out->Read(
      "missing", [](const uint8_t*, size_t) { return true; }, &error));
}

// A file is read whole whatever its length against the reading buffer's (a read that comes
// short is taken for the end), and no further once the sink stops.
TEST(PlatformOutputFs, ReadsFilesOfEveryLengthWhole) {
  test::TempFolder temp("output-read");
  ASSERT_FALSE(temp.path().empty());
  std::unique_ptr<OutputFs> out = PlatformOutputFs(temp.path().string());
  for (const size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537},
                            size_t{3 * 65536}, size_t{200001}}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    const std::string name = "f" + std::to_string(size);
    ASSERT_TRUE(test::WriteWholeFile(temp.path() / name, bytes));
    EXPECT_EQ(ReadAll(out.get(), name), bytes) << size;
    int calls = 0;
    std::string error;
    const bool read = out->Read(
        name,
        [&calls](const uint8_t*, size_t) {
          ++calls;
          return false;
        },
        &error);
    EXPECT_EQ(read, size == 0) << size;
    EXPECT_EQ(calls, size == 0 ? 0 : 1) << size;
  }
}

// One export at a time in an output folder: a second lock is refused until the first is let go
// of, and the lock file goes with it.
TEST(PlatformOutputFs, LocksTheOutputFolderForOneRun) {
  test::TempFolder temp("output-lock");
  ASSERT_FALSE(temp.path().empty());
  const std::string root = (temp.path() / "out").string();
  std::unique_ptr<OutputFs> first = PlatformOutputFs(root), second = PlatformOutputFs(root);
  bool busy = true;
  std::string error;
  std::unique_ptr<Held> held = first->Lock(".lock", &busy, &error);
  ASSERT_TRUE(held) << error;
  EXPECT_FALSE(busy);
  EXPECT_TRUE(fs::is_regular_file(temp.path() / "out" / ".lock"));
  EXPECT_FALSE(second->Lock(".lock", &busy, &error));
  EXPECT_TRUE(busy) << error;
  EXPECT_NE(error.find(".lock"), std::string::npos) << error;
  held.reset();
  EXPECT_FALSE(fs::exists(temp.path() / "out" / ".lock"));
  held = second->Lock(".lock", &busy, &error);
  EXPECT_TRUE(held) << error;
}

}  // namespace
}  // namespace quillon
