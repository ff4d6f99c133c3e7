// libFuzzer target: the input is a mailbox file (its last two bytes also choose a sink that stops,
// a failing output folder, a shrinking file or an abort; see Scenario), exported in memory.
#include <cstdio>
#include <cstdlib>

#include "fuzz/export_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::fuzzing::CheckExport({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "export check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
