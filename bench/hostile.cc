// Writes the inputs of bench/hostile.py: the worst mailbox files for the engine's time and memory.
//
//   quillon-bench-hostile KIND SIZE OUT      (SIZE in bytes; K, M, G suffixes)
//   quillon-bench-hostile --list
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/hostile_inputs.h"

namespace {

uint64_t ParseSize(const char* text) {
  char* end = nullptr;
  uint64_t n = std::strtoull(text, &end, 10);
  switch (*end) {
    case 'G':
      n <<= 10;
      [[fallthrough]];
    case 'M':
      n <<= 10;
      [[fallthrough]];
    case 'K':
      n <<= 10;
      break;
    default:
      break;
  }
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--list") == 0) {
    for (const quillon::HostileInput& k : quillon::HostileInputs()) {
      std::printf("%s\t%s\n", k.name, k.what);
    }
    return 0;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s KIND SIZE OUT | --list\n", argv[0]);
    return 64;
  }
  const std::string bytes = quillon::BuildHostileInput(argv[1], ParseSize(argv[2]));
  if (bytes.empty()) {
    std::fprintf(stderr, "%s: unknown kind '%s' or SIZE not within 64K to 4G\n", argv[0], argv[1]);
    return 64;
  }
  FILE* out = std::fopen(argv[3], "wb");
  if (!out || std::fwrite(bytes.data(), 1, bytes.size(), out) != bytes.size() ||
      std::fclose(out) != 0) {
    std::perror(argv[3]);
    return 1;
  }
  return 0;
}
