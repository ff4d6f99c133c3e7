// libFuzzer target on the cleaner of mail HTML: any body, cleaned with and without images, must
// read back with gumbo as only the elements and attributes of mail text, no link or image that
// runs or fetches, and clean again to itself (see html/testing/html_check.h).
#include <cstdio>
#include <cstdlib>
#include <string>

#include "html/testing/html_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      quillon::html::testing::CheckCleaner({reinterpret_cast<const char*>(data), size});
  if (!problem.empty()) {
    std::fprintf(stderr, "html cleaner check failed: %s\n", problem.c_str());
    std::abort();
  }
  return 0;
}
