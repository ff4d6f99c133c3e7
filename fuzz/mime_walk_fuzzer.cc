// libFuzzer target on a message taken apart (mime/); the check is fuzz/mime_walk_check.h.
#include <cstdio>
#include <cstdlib>

#include "fuzz/mime_walk_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::fuzzing::CheckMimeWalk({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "mime walk check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
