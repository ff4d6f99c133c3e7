// The worst inputs for the engine's time and memory (bench/hostile.py measures them at 1 GiB),
// small: each passes the checks every input must pass, counting gives what writing writes, and the
// engine's reading writes what literal reads write.
#include <gtest/gtest.h>

#include "bench/hostile_inputs.h"
#include "fuzz/export_check.h"

namespace quillon {
namespace {

TEST(HostileInputTest, EachExportsWithinTheChecks) {
  for (const HostileInput& kind : HostileInputs()) {
    SCOPED_TRACE(kind.name);
    const std::string input = BuildHostileInput(kind.name, size_t{256} << 10);
    ASSERT_EQ(input.size(), size_t{256} << 10);
    EXPECT_EQ(fuzzing::CheckExport(input, fuzzing::Scenario(), true), "");
  }
}

}  // namespace
}  // namespace quillon
