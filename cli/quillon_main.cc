// quillon: rescues the mail of Outlook Express mailbox files (.dbx).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/check_command.h"
#include "cli/command_output.h"
#include "cli/export_command.h"
#include "cli/list_command.h"
#include "cli/locate_command.h"
#include "cli/platform.h"
#include "cli/terminal.h"

namespace {

// What each outcome of a subcommand's parse prints, and the status it gives.
int Finish(quillon::ParseOutcome outcome, const std::string& usage, const std::string& error) {
  switch (outcome) {
    case quillon::ParseOutcome::kHelp:
      quillon::WriteText(stdout, usage);
      return quillon::kExitOk;
    case quillon::ParseOutcome::kVersion:
      quillon::WriteText(stdout, std::string("quillon ") + QUILLON_VERSION + "\n");
      return quillon::kExitOk;
    default:
      quillon::WriteLine(stderr, quillon::ErrorLine(error));
      quillon::WriteText(stderr, "Try 'quillon --help' for more information.\n");
      return quillon::kExitUsage;
  }
}

}  // namespace

int main(int argc, char** argv) {
  quillon::ReturnLargeFreedMemory();
  const std::vector<std::string> args = quillon::CommandArguments(argc, argv);
  std::string error;
  // check and locate only read: a signal ends them as it ends any reader.
  if (!args.empty() && args[0] == "check") {
    quillon::CheckOptions options;
    const quillon::ParseOutcome parsed = quillon::ParseCheckArguments(args, &options, &error);
    if (parsed != quillon::ParseOutcome::kRun) return Finish(parsed, quillon::kCheckUsage, error);
    return quillon::RunCheck(options, stdout, stderr);
  }
  if (!args.empty() && args[0] == "locate") {
    quillon::LocateOptions options;
    const quillon::ParseOutcome parsed = quillon::ParseLocateArguments(args, &options, &error);
    if (parsed != quillon::ParseOutcome::kRun) return Finish(parsed, quillon::kLocateUsage, error);
    return quillon::RunLocate(options, stdout, stderr);
  }

  quillon::InstallStopHandlers();
  if (!args.empty() && args[0] == "list") {
    quillon::ListOptions options;
    const quillon::ParseOutcome parsed = quillon::ParseListArguments(args, &options, &error);
    if (parsed != quillon::ParseOutcome::kRun) return Finish(parsed, quillon::kListUsage, error);
    const size_t columns = quillon::IsTerminal(stdout) ? quillon::TerminalColumns(stdout) : 0;
    return quillon::RunList(options, stdout, stderr, columns);
  }
  quillon::ExportOptions options;
  const quillon::ParseOutcome parsed = quillon::ParseArguments(args, &options, &error);
  if (parsed != quillon::ParseOutcome::kRun) {
    // "quillon export --help" shows the export's help, "quillon --help" the overview.
    const bool exportOnly = !args.empty() && args[0] == "export";
    return Finish(parsed, exportOnly ? quillon::kUsage : quillon::kOverview, error);
  }
  const bool progress = !options.quiet && quillon::IsTerminal(stderr);
  return quillon::RunExport(options, stdout, stderr, progress);
}
