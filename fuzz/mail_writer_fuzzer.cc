// libFuzzer target on the writer of eml files, mbox files and Maildirs: messages, their facts,
// folders and chunking (see CheckMailWriter for the layout), written into the in-memory output
// and read back.
#include <cstdio>
#include <cstdlib>

#include "fuzz/mail_writer_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::fuzzing::CheckMailWriter({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "mail writer check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
