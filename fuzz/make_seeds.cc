// Writes the fuzzer's generated seeds into a folder: small sample mailboxes, each also with a
// trailer that picks one of the export's other paths (see Scenario in export_check.h), and hand-
// built files for the scanner's corners.
#include <cstdio>
#include <fstream>
#include <string>

#include "engine/testing/sample_mailbox.h"

namespace {

using quillon::MailboxBuilder;

bool Write(const std::string& folder, const std::string& name, const std::string& bytes) {
  std::ofstream out(folder + "/" + name, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 64;
  }
  const std::string folder = argv[1];
  bool ok = true;

  // Trailers: plain, stop at the second sink call, a disk of 1,941 bytes, every third creation
  // fails, the file halves at read 4, an abort at read 9.
  const char* trailers[][2] = {{"\0\0", "plain"},      {"\0\x09", "stop2"},
                               {"\x14\x10", "disk"},   {"\x01\x20", "create"},
                               {"\x03\x40", "shrink"}, {"\x02\x80", "abort"}};
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const auto box = quillon::BuildSampleMailbox(seed, 4 + seed, seed % 3, seed % 2 == 0);
    if (box.bytes.size() > 60000) continue;  // keep seeds small
    for (const auto& [trailer, name] : trailers) {
      ok &= Write(folder, "sample" + std::to_string(seed) + "-" + name + ".dbx",
                  box.bytes + std::string(trailer, 2));
    }
  }

  {  // two blocks, the second linked from the first
    MailboxBuilder mb(1024);
    mb.Block(256, 256, 32, 16, 512, "0123456789abcdef");
    mb.Block(512, 512, 32, 8, 0, "ghijklmn");
    ok &= Write(folder, "two-blocks.dbx", mb.bytes);
  }
  {  // a chain whose later blocks come first, a loop, and a link past the end
    MailboxBuilder mb(0x1400);
    mb.Message({0x900, 0x300, 0x600}, quillon::FillerText(0x500, 1));
    mb.Message({0xC00, 0xE40}, quillon::FillerText(0x300, 2));
    mb.PutWord(0xE40 + 12, 0xC00);
    mb.Block(0x1100, 0x1100, 0x40, 0x20, 0x7FFFFFF0u, quillon::FillerText(0x20, 3));
    ok &= Write(folder, "joins-loop-past-end.dbx", mb.bytes);
  }
  {  // the file starts with four zero bytes, and a block at offset 0
    MailboxBuilder mb(0x800, 0);
    mb.Block(0, 0, 0x20, 0x10, 0x200, "zero");
    mb.Message({0x200, 0x480}, quillon::FillerText(0x300, 4));
    ok &= Write(folder, "zero-start.dbx", mb.bytes);
  }
  {  // a block larger than the reader's window
    MailboxBuilder mb(0x100);
    const std::string text = quillon::FillerText(70000, 5);
    mb.Block(0x40, 0x40, 70000, 70000, 0x11200, text);
    mb.Block(0x11200, 0x11200, 0x100, 0x80, 0, quillon::FillerText(0x80, 6));
    ok &= Write(folder, "large-block.dbx", mb.bytes);
  }
  if (!ok) {
    std::perror(folder.c_str());
    return 1;
  }
  return 0;
}
