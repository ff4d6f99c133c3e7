// The Windows file layer on real files under both flavours: UTF-8 names of any script and both
// separators for the command, and for both the replacement of what stands under an output name.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>

#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "test_support/test_support.h"
#include "win32/wide_text.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

// Every folder of an absolute path, made with the wide functions and the prefix that lifts the
// length limit, which take only backslashes.
bool MakeFolders(std::string path) {
  for (char& c : path) c = c == '/' ? '\\' : c;
  for (size_t at = 3;; ++at) {
    at = path.find('\\', at);
    const std::wstring folder = L"\\\\?\\" + WideFromUtf8(path.substr(0, at));
    if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
      return false;
    }
    if (at == std::string::npos) return true;
  }
}

// Writes and reads whole files through a file system's own interface.
bool Store(FileSystem* files, const std::string& path, const std::string& bytes) {
  std::string error;
  std::unique_ptr<OutputFile> out = files->CreateReplacing(path, &error);
  return out && out->Write(bytes.data(), bytes.size(), &error) && out->Close(&error) &&
         out->Place(&error);
}

std::string Load(FileSystem* files, const std::string& path) {
  std::string error;
  std::unique_ptr<InputFile> in = files->OpenForReading(path, &error);
  if (!in) return "cannot open: " + error;
  std::string bytes(static_cast<size_t>(in->Size()), '\0');
  size_t got = 0;
  if (!in->ReadAt(0, &bytes[0], bytes.size(), &got, &error)) return "cannot read: " + error;
  bytes.resize(got);
  return bytes;
}

std::string TwoMessages(std::string* first, std::string* second) {
  MailboxBuilder mb(0x1000);
  *first = mb.Message({0x100, 0x400}, FillerText(0x300, 1));
  *second = mb.Message({0x700, 0xA00}, FillerText(0x300, 2));
  return mb.bytes;
}

TEST(WindowsFilesTest, TheCommandsFilesTakeUtf8NamesAndEitherSeparator) {
  test::TempFolder dir("utf8");
  ASSERT_FALSE(dir.path().empty());
  // Forward slashes only, as a user types them; the folders hold Latin, Cyrillic and Chinese.
  std::string base = dir.path().string();
  for (char& c : base) c = c == '\\' ? '/' : c;
  // A path beyond the classic 260 characters, too.
  const std::string deep = base + "/" + std::string(120, 'd') + "/" + std::string(120, 'e');
  const std::string names[] = {"Boîte de réception.dbx", "Входящие.dbx", "收件箱.dbx"};
  for (const std::string& folder : {base + "/sortie/réception", deep}) {
    ASSERT_TRUE(MakeFolders(folder)) << folder;
    for (const std::string& name : names) {
      SCOPED_TRACE(folder + "/" + name);
      std::string first, second;
      const std::string mailbox = folder + "/" + name;
      ASSERT_TRUE(Store(Utf8FileSystem(), mailbox, TwoMessages(&first, &second)));
      RecordingSink sink;
      CMailboxExtractor engine(Utf8FileSystem());
      engine.m_pSink = &sink;
      ASSERT_EQ(engine.ExportMailbox(mailbox.c_str(), folder.c_str()), 0);
      EXPECT_EQ(sink.names, (std::vector<std::string>{name + "-1.eml", name + "-2.eml"}));
      EXPECT_EQ(Load(Utf8FileSystem(), folder + "\\" + name + "-1.eml"), first);
      EXPECT_EQ(Load(Utf8FileSystem(), folder + "/" + name + "-2.eml"), second);
    }
  }
}

TEST(WindowsFilesTest, OutputNamesAreReplacedWholeAndTheMailboxIsOnlyRead) {
  test::TempFolder dir("replace");
  ASSERT_FALSE(dir.path().empty());
  const std::string mailbox = dir / "Box.dbx", out = dir / "out";
  std::string first, second;
  const std::string bytes = TwoMessages(&first, &second);
  ASSERT_TRUE(test::WriteWholeFile(mailbox, bytes));
  fs::create_directory(out);
  // An older, longer file under the first name; a folder under the second, which moves the second
  // message on to the third name.
  ASSERT_TRUE(test::WriteWholeFile(out + "\\Box.dbx-1.eml", std::string(0x1000, 'x')));
  fs::create_directory(out + "\\Box.dbx-2.eml");
  // The mail client holds the mailbox open, sharing it for reading and writing only.
  const HANDLE held =
      CreateFileA(mailbox.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);

  RecordingSink sink;
  CMailboxExtractor engine;  // the desktop program's narrow files
  engine.m_pSink = &sink;
  EXPECT_EQ(engine.ExportMailbox(mailbox.c_str(), out.c_str()), 0);
  CloseHandle(held);
  EXPECT_EQ(test::ReadWholeFile(out + "\\Box.dbx-1.eml"), first);
  EXPECT_TRUE(fs::is_directory(out + "\\Box.dbx-2.eml"));
  EXPECT_EQ(test::ReadWholeFile(out + "\\Box.dbx-3.eml"), second);
  EXPECT_EQ(test::ReadWholeFile(mailbox), bytes);
  size_t entries = 0;
  for (const fs::directory_entry& e : fs::directory_iterator(out)) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 3u);  // no temporary file left

  std::string reason;
  EXPECT_EQ(PlatformFileSystem()->OpenForReading("NUL", &reason), nullptr);
  EXPECT_EQ(reason, "not a regular file");
}

}  // namespace
}  // namespace quillon
