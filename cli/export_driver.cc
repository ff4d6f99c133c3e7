#include "cli/export_driver.h"

#include <filesystem>
#include <memory>
#include <system_error>

#include "cli/command_output.h"
#include "cli/desktop_export.h"
#include "cli/export_command.h"
#include "cli/export_progress.h"
#include "cli/inputs.h"
#include "cli/platform.h"
#include "cli/rescue_export.h"

namespace quillon {

namespace fs = std::filesystem;

namespace {

// How bad an export's status is, to keep the worst of several runs.
int Severity(int status) {
  switch (status) {
    case kExitOk:
      return 0;
    case kExitDamaged:
      return 1;
    case kExitUsage:
      return 2;
    default:
      return 3;
  }
}

bool IsStop(int status) {
  return status == kExitInterrupted || status == kExitTerminated || status == kExitHangUp;
}

// One run through the engine: its mailboxes in order until a stop, and a stop's report.
int RunOne(ExportEngine* engine, ExportRun* run, const std::string& folder, Printer* print) {
  const int begun = engine->Begin(run, folder);
  if (begun != kExitOk) return begun;
  const std::vector<std::string>& mailboxes = run->mailboxes;
  size_t stoppedAt = mailboxes.size();
  for (size_t i = 0; i < mailboxes.size(); ++i) {
    if (StopRequested() != StopCause::kNone || !engine->Export(i)) {
      stoppedAt = i;
      break;
    }
  }
  engine->Finish(&stoppedAt);
  const StopCause cause = StopRequested();
  if (cause == StopCause::kNone) return engine->Status();
  const StopReport report = ReportOf(cause);
  const std::string where = stoppedAt < mailboxes.size()
                                ? " at " + mailboxes[stoppedAt] + " (mailbox " +
                                      std::to_string(stoppedAt + 1) + " of " +
                                      std::to_string(mailboxes.size()) + ")"
                                : "";
  print->Error(std::string("quillon: ") + report.what + where + "; " + engine->WrittenSoFar());
  return report.status;
}

}  // namespace

std::string TrimSeparators(std::string folder) {
  while (folder.size() > 1 && (folder.back() == '/' || folder.back() == kPathSeparator)) {
    folder.pop_back();
  }
  return folder;
}

bool SetUpOutputFolder(const std::string& folder, bool dryRun, Printer* print) {
  if (dryRun) {
    const std::string problem = CheckOutputFolder(folder);
    if (!problem.empty()) print->Error(problem);
    return problem.empty();
  }
  std::error_code ec;
  fs::create_directories(ToPath(folder), ec);
  if (ec) {
    print->Error("quillon: cannot create the output folder " + folder + ": " + ErrorText(ec));
    return false;
  }
  return true;
}

int RunExport(const ExportOptions& options, std::FILE* out, std::FILE* err, bool progress) {
  InputOptions inputOptions;
  inputOptions.recursive = options.recursive;
  const ExpandedInputs inputs = ExpandInputs(options.paths, inputOptions);
  Printer print(out, err, options.quiet);
  ExportProgress line(err, progress, options.dryRun);
  PathRule rule(inputs, "export");
  const ExportContext context{options, &print, &line, &rule};
  const std::unique_ptr<ExportEngine> engine =
      options.desktop ? MakeDesktopEngine(context) : MakeRescueEngine(context);

  std::vector<ExportRun> runs = engine->Runs(inputs);
  if (const int refused = engine->Prepare(&runs); refused != kExitOk) return refused;
  for (const std::string& e : rule.Start()) print.Error(e);
  for (const UnreadableInput& u : inputs.unreadable) {
    print.Error("quillon: " + u.given + ": cannot be read: " + u.reason);
  }
  int worst = inputs.unreadable.empty() ? kExitOk : kExitFailed;
  for (ExportRun& run : runs) {
    std::string folder = options.outputFolder;
    if (!run.subfolder.empty()) {
      folder = FromPath(ToPath(options.outputFolder) / ToPath(run.subfolder));
      print.Result("into " + FolderForDisplay(folder) + ":");
    }
    const int status = RunOne(engine.get(), &run, folder, &print);
    if (IsStop(status)) return status;
    if (Severity(status) > Severity(worst)) worst = status;
  }
  for (const std::string& e : rule.Finish(Severity(worst) >= Severity(kExitUsage))) print.Error(e);
  if (rule.broken() && Severity(kExitFailed) > Severity(worst)) worst = kExitFailed;
  return worst;
}

}  // namespace quillon
