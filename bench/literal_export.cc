// Exports one mailbox with every test of the file made as its own positioned read, the way the
// scanner was first written, to measure what the read windows save.
//
//   quillon-bench-literal MAILBOX OUTDIR
#include <cstdio>

#include "bench/literal_block_source.h"
#include "engine/mailbox_extractor.h"

namespace {

class CountingSink final : public IExtractSink {
 public:
  bool OnNextFile(const char*) override { return true; }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s MAILBOX OUTDIR\n", argv[0]);
    return 64;
  }
  CMailboxExtractor engine;
  CountingSink sink;
  quillon::LiteralBlockSource literal;
  engine.m_pSink = &sink;
  engine.UseBlockSource(&literal);
  const int r = engine.ExportMailbox(argv[1], argv[2]);
  std::printf("result %d, %u files\n", r, engine.FilesWritten());
  return r == 0 || r == 1 ? 0 : 2;
}
