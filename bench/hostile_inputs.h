// The mailbox files that cost the engine the most time or memory per byte: every shape of block,
// link and chain that makes a search, a walk or a copy work hardest, none of them anything a mail
// client writes. bench/hostile.py measures the command on them; the fuzz tests export them small.
#ifndef QUILLON_BENCH_HOSTILE_INPUTS_H_
#define QUILLON_BENCH_HOSTILE_INPUTS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

struct HostileInput {
  const char* name;
  const char* what;  // in words, for the benchmark's listing
};

// Every kind, in the benchmark's order.
const std::vector<HostileInput>& HostileInputs();

// The file of kind `name` and `size` bytes (64 KiB to 4 GiB); empty for an unknown kind.
std::string BuildHostileInput(const std::string& name, uint64_t size);

}  // namespace quillon

#endif  // QUILLON_BENCH_HOSTILE_INPUTS_H_
