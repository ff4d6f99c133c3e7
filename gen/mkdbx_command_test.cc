#include "gen/mkdbx_command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "gen/dbx_test_reader.h"
#include "gen/output.h"
#include "test_support/test_support.h"

namespace quillon::gen {
namespace {

TEST(GenMkdbx, ByteCounts) {
  uint64_t v = 0;
  EXPECT_TRUE(ParseByteCount("4096", &v));
  EXPECT_EQ(v, 4096u);
  EXPECT_TRUE(ParseByteCount("64K", &v));
  EXPECT_EQ(v, 65536u);
  EXPECT_TRUE(ParseByteCount("16m", &v));
  EXPECT_EQ(v, 16u << 20);
  EXPECT_TRUE(ParseByteCount("2G", &v));
  EXPECT_EQ(v, uint64_t{2} << 30);
  for (const char* bad :
       {"", "K", "1.5G", "12KB", "-1", " 1", "17179869184G", "99999999999999999999"}) {
    EXPECT_FALSE(ParseByteCount(bad, &v)) << bad;
  }
}

TEST(GenMkdbx, ArgumentsBecomeOptions) {
  MkdbxArgs a;
  std::string error;
  ASSERT_TRUE(ParseMkdbxArgs({"--seed=0x1F", "--size", "8M", "--messages", "7", "--fragmented",
                              "--deleted=2", "--manifest", "m.txt", "out.dbx"},
                             &a, &error))
      << error;
  EXPECT_EQ(a.options.seed, 0x1Fu);
  EXPECT_EQ(a.options.targetBytes, 8u << 20);
  EXPECT_EQ(a.options.messageCount, 7u);
  EXPECT_TRUE(a.options.fragmented);
  EXPECT_EQ(a.options.deletedMessages, 2u);
  EXPECT_EQ(a.manifestPath, "m.txt");
  EXPECT_EQ(a.outputPath, "out.dbx");

  // Options may follow the file, and long ones may be shortened while they stay unambiguous.
  ASSERT_TRUE(ParseMkdbxArgs({"out.dbx", "--mess", "9", "--frag"}, &a, &error)) << error;
  EXPECT_EQ(a.options.messageCount, 9u);
  EXPECT_TRUE(a.options.fragmented);
  EXPECT_EQ(a.outputPath, "out.dbx");

  ASSERT_TRUE(ParseMkdbxArgs({"out.dbx"}, &a, &error));
  EXPECT_EQ(a.options.messageCount, 100u) << "the default";
  EXPECT_EQ(a.options.seed, 1u);
  ASSERT_TRUE(ParseMkdbxArgs({"--size", "1G", "out.dbx"}, &a, &error));
  EXPECT_EQ(a.options.messageCount, 0u) << "a size alone decides the count";
  EXPECT_EQ(a.options.shape, Shape::kDefault);

  ASSERT_TRUE(ParseMkdbxArgs({"--shape", "small", "--codepage", "1251", "out.dbx"}, &a, &error));
  EXPECT_EQ(a.options.shape, Shape::kSmall);
  EXPECT_EQ(a.options.codePage, 1251u);
  ASSERT_TRUE(ParseMkdbxArgs({"--store", "s", "--shape=small"}, &a, &error)) << error;
  EXPECT_EQ(a.store.shape, Shape::kSmall);
  EXPECT_FALSE(a.store.utf8Mail);
  ASSERT_TRUE(ParseMkdbxArgs({"--store", "s", "--mail-charset", "utf-8"}, &a, &error)) << error;
  EXPECT_TRUE(a.store.utf8Mail);
}

TEST(GenMkdbx, BadUsageExits64WithTheReason) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{}, "no output file given"},
      {{"a.dbx", "b.dbx"}, "more than one output file given"},
      {{"--frobnicate", "a.dbx"}, "unknown option '--frobnicate'"},
      {{"--fragmented=yes", "a.dbx"}, "unknown option '--fragmented=yes'"},
      {{"--seed", "3", "-xh", "a.dbx"}, "unknown option '-x'"},
      {{"a.dbx", "--messages"}, "option '--messages' needs a value"},
      {{"--messages", "ten", "a.dbx"}, "--messages: 'ten' is not a count"},
      {{"--messages", "0", "a.dbx"}, "--messages: give at least 1"},
      {{"--deleted", "4294967296", "a.dbx"}, "--deleted: '4294967296' is not a count"},
      {{"--seed", "0xZZ", "a.dbx"}, "--seed: '0xZZ' is not a number"},
      {{"--size", "2.5G", "a.dbx"},
       "--size: '2.5G' is not a byte count such as 4096, 64K, 16M or 2G"},
      {{"--size", "4G", "a.dbx"},
       "--size: at most 4294967295 bytes; offsets in a mailbox are 32-bit"},
      {{"--size", "1K", "a.dbx"}, "--size: at least 60116 bytes, the size of an empty mailbox"},
      {{"--manifest=", "a.dbx"}, "--manifest: the file name is empty"},
      {{"--shape", "huge", "a.dbx"}, "--shape: 'huge' is not default, small or tiny"},
      {{"--store", "s", "--mail-charset", "koi8-r"}, "--mail-charset: 'koi8-r' is not utf-8"},
      {{"--mail-charset", "utf-8", "a.dbx"}, "--mail-charset applies to --store only"},
  };
  for (const auto& c : cases) {
    std::string out, err;
    EXPECT_EQ(RunMkdbx(c.first, &out, &err), kMkdbxUsage) << c.second;
    EXPECT_EQ(err, "quillon-mkdbx: " + c.second + "\nTry 'quillon-mkdbx --help'.\n");
    EXPECT_EQ(out, "");
  }
  // --help and --version anywhere, whatever else is given, and nothing written.
  for (const auto& [args, help] : std::vector<std::pair<std::vector<std::string>, bool>>{
           {{"--help"}, true},
           {{"--seed", "3", "a.dbx", "-h"}, true},
           {{"--version"}, false},
           {{"a.dbx", "b.dbx", "-V"}, false}}) {
    std::string out, err;
    EXPECT_EQ(RunMkdbx(args, &out, &err), kMkdbxOk);
    EXPECT_EQ(err, "");
    if (help) {
      EXPECT_EQ(out.compare(0, 41, "Usage: quillon-mkdbx [OPTION]... OUT.dbx\n"), 0) << out;
    } else {
      EXPECT_EQ(out, "quillon-mkdbx " QUILLON_VERSION "\n");
    }
  }
}

TEST(GenMkdbx, WritesTheMailboxTheManifestAndASummary) {
  test::TempFolder dir("mkdbx");
  const std::string dbx = dir / "out.dbx", list = dir / "manifest.txt";
  std::string out, err;
  ASSERT_EQ(RunMkdbx({"--seed", "9", "--messages", "30", "--fragmented", "--deleted", "3",
                      "--manifest", list, dbx},
                     &out, &err),
            kMkdbxOk)
      << err;
  EXPECT_EQ(err, "");
  std::string file, manifest;
  ASSERT_TRUE(test::ReadWholeFile(dbx, &file));
  ASSERT_TRUE(test::ReadWholeFile(list, &manifest));
  EXPECT_TRUE(std::regex_match(
      out, std::regex(std::regex_replace(dbx, std::regex(R"([.\\])"), R"(\$&)") +
                      ": 30 messages \\(3 deleted\\), " + std::to_string(file.size()) +
                      " bytes, [0-9]+\\.[0-9][0-9] s\n")))
      << out;

  // The same options through the library give the same file and the same list.
  MemoryOutput memory;
  std::vector<ManifestEntry> entries;
  std::string error;
  MkdbxArgs args;
  ASSERT_TRUE(ParseMkdbxArgs({"--seed", "9", "--messages", "30", "--fragmented", "--deleted", "3",
                              "--manifest", list, dbx},
                             &args, &error));
  ASSERT_TRUE(GenerateMailbox(args.options, memory, &entries, nullptr, &error));
  EXPECT_TRUE(file == memory.bytes());
  EXPECT_EQ(manifest, FormatManifest(entries, args));

  // One '#' line, then "0x<offset> <length> <sha256>" in ascending offset order.
  ASSERT_EQ(manifest[0], '#');
  const std::regex line("0x([0-9a-f]{8}) ([0-9]+) [0-9a-f]{64}");
  size_t at = manifest.find('\n') + 1, lines = 0;
  unsigned long previous = 0;
  for (size_t end; (end = manifest.find('\n', at)) != std::string::npos; at = end + 1, ++lines) {
    std::smatch m;
    const std::string text = manifest.substr(at, end - at);
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    const unsigned long offset = std::stoul(m[1].str(), nullptr, 16);
    EXPECT_GT(offset, previous);
    previous = offset;
  }
  EXPECT_EQ(lines, 30u);
}

TEST(GenMkdbx, UnwritableOutputFails) {
  std::string out, err;
  test::TempFolder dir("mkdbx");
  const std::string path = dir / "no-such-folder/x.dbx";
  EXPECT_EQ(RunMkdbx({"--messages", "1", path}, &out, &err), kMkdbxFailed);
  const std::string expected = "quillon-mkdbx: " + path + ": cannot create: ";
  EXPECT_EQ(err.compare(0, expected.size(), expected), 0) << err;
}

}  // namespace
}  // namespace quillon::gen
