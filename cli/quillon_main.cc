// quillon: exports Outlook Express mailbox files (.dbx) as .eml files.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/export_command.h"
#include "cli/terminal.h"

namespace {

extern "C" void OnInterrupt(int) { quillon::RequestInterrupt(); }

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  quillon::ExportOptions options;
  std::string error;
  switch (quillon::ParseArguments(args, &options, &error)) {
    case quillon::ParseOutcome::kHelp:
      std::fputs(quillon::kUsage, stdout);
      return quillon::kExitOk;
    case quillon::ParseOutcome::kVersion:
      std::printf("quillon %s\n", QUILLON_VERSION);
      return quillon::kExitOk;
    case quillon::ParseOutcome::kUsageError:
      std::fprintf(stderr, "quillon: %s\nTry 'quillon --help' for more information.\n",
                   error.c_str());
      return quillon::kExitUsage;
    case quillon::ParseOutcome::kRun:
      break;
  }
  std::signal(SIGINT, OnInterrupt);
  const bool progress = !options.quiet && quillon::IsTerminal(stderr);
  return quillon::RunExport(options, stdout, stderr, progress);
}
