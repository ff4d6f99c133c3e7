// libFuzzer target on the catalogue reader: the input is a mailbox file; its header, file-info area
// and trees are read.
#include <cstdio>
#include <cstdlib>

#include "catalogue/testing/catalogue_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::fuzzing::CheckCatalogueTrees({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "catalogue check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
