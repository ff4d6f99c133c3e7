// libFuzzer target on the rescue engine: the input is a mailbox file, scanned, reconciled with
// its catalogue and read message by message (its last byte may also make the file fail or
// shrink partway; see CheckRescue).
#include <cstdio>
#include <cstdlib>

#include "rescue/testing/rescue_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::fuzzing::CheckRescue({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "rescue check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
