// quillon: exports Outlook Express mailbox files (.dbx) as .eml files.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/export_command.h"
#include "cli/platform.h"
#include "cli/terminal.h"

int main(int argc, char** argv) {
  quillon::InstallStopHandlers();
  const std::vector<std::string> args = quillon::CommandArguments(argc, argv);
  quillon::ExportOptions options;
  std::string error;
  switch (quillon::ParseArguments(args, &options, &error)) {
    case quillon::ParseOutcome::kHelp:
      quillon::WriteText(stdout, quillon::kUsage);
      return quillon::kExitOk;
    case quillon::ParseOutcome::kVersion:
      quillon::WriteText(stdout, std::string("quillon ") + QUILLON_VERSION + "\n");
      return quillon::kExitOk;
    case quillon::ParseOutcome::kUsageError:
      quillon::WriteText(stderr,
                         "quillon: " + error + "\nTry 'quillon --help' for more information.\n");
      return quillon::kExitUsage;
    case quillon::ParseOutcome::kRun:
      break;
  }
  const bool progress = !options.quiet && quillon::IsTerminal(stderr);
  return quillon::RunExport(options, stdout, stderr, progress);
}
