// libFuzzer target on the Date: header's reader: a date's fields and the way it is written (see
// CheckMailDate), read and compared with the C library's calendar.
#include <cstdio>
#include <cstdlib>

#include "fuzz/message_text_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::fuzzing::CheckMailDate({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "mail date check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
