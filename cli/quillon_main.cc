// quillon: rescues the mail of Outlook Express mailbox files (.dbx).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/export_command.h"
#include "cli/list_command.h"
#include "cli/platform.h"
#include "cli/terminal.h"

namespace {

// The exit of a run that did not get as far as its command: help, version or a usage error.
int Finish(quillon::ParseOutcome outcome, const std::string& error) {
  switch (outcome) {
    case quillon::ParseOutcome::kHelp:
      quillon::WriteText(stdout, quillon::kUsage);
      return quillon::kExitOk;
    case quillon::ParseOutcome::kVersion:
      quillon::WriteText(stdout, std::string("quillon ") + QUILLON_VERSION + "\n");
      return quillon::kExitOk;
    default:
      quillon::WriteText(stderr,
                         "quillon: " + error + "\nTry 'quillon --help' for more information.\n");
      return quillon::kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  quillon::InstallStopHandlers();
  const std::vector<std::string> args = quillon::CommandArguments(argc, argv);
  std::string error;
  if (!args.empty() && args[0] == "list") {
    quillon::ListOptions options;
    const quillon::ParseOutcome parsed = quillon::ParseListArguments(args, &options, &error);
    if (parsed != quillon::ParseOutcome::kRun) return Finish(parsed, error);
    const size_t columns = quillon::IsTerminal(stdout) ? quillon::TerminalColumns(stdout) : 0;
    return quillon::RunList(options, stdout, stderr, columns);
  }
  quillon::ExportOptions options;
  const quillon::ParseOutcome parsed = quillon::ParseArguments(args, &options, &error);
  if (parsed != quillon::ParseOutcome::kRun) return Finish(parsed, error);
  const bool progress = !options.quiet && quillon::IsTerminal(stderr);
  return quillon::RunExport(options, stdout, stderr, progress);
}
