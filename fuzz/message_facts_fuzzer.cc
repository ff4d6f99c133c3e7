// libFuzzer target on the facts of a message: an index record's strings and times and the first
// bytes of the message's text (see CheckMessageFacts for the layout), as export and list read them.
#include <cstdio>
#include <cstdlib>

#include "fuzz/message_text_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::fuzzing::CheckMessageFacts({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "message facts check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
