// quillon-mkdbx [--seed N] [--size BYTES] [--messages N] [--fragmented] [--deleted N]
//               [--manifest FILE] OUT.dbx
#include <cstdio>
#include <string>
#include <vector>

#include "gen/mkdbx_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string out, err;
  const int status = quillon::gen::RunMkdbx(args, &out, &err);
  std::fputs(out.c_str(), stdout);
  std::fputs(err.c_str(), stderr);
  return status;
}
