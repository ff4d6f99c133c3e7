// `quillon export`: one driver for both engines. The driver expands the PATHs once, tells what
// is wrong with them, runs each output folder's share of the mailboxes through the engine, and
// reports a stop; the engine (the desktop program's, or the rescue engine with its output
// formats) places the mailboxes, reads them and writes what it finds.
#ifndef QUILLON_CLI_EXPORT_DRIVER_H_
#define QUILLON_CLI_EXPORT_DRIVER_H_

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"

namespace quillon {

class ExportProgress;
class PathRule;
class Printer;
struct ExpandedInputs;

// The mailboxes one output folder of an export takes.
struct ExportRun {
  std::string subfolder;  // of the output folder; empty: the output folder itself
  std::vector<std::string> mailboxes;
};

// What the driver needs of an engine. The driver calls Runs and Prepare once, then for each run
// Begin, Export for each of its mailboxes until one is stopped, and Finish.
class ExportEngine {
 public:
  virtual ~ExportEngine() = default;

  // The output folders of the export, in order, and the mailboxes of each.
  virtual std::vector<ExportRun> Runs(const ExpandedInputs& inputs) = 0;
  // Before the inputs' errors are told: what the whole export checks or sets up first (a file
  // named twice may be dropped from a run). Returns kExitOk, or the exit status of an export
  // refused (the reasons printed).
  virtual int Prepare(std::vector<ExportRun>* runs) = 0;
  // Begins `run` into `folder` (the output folder as given, or its subfolder): places its
  // mailboxes (a file named twice is dropped from *run) and sets up the output. Returns kExitOk,
  // or the run's exit status when it cannot begin (the reasons printed).
  virtual int Begin(ExportRun* run, const std::string& folder) = 0;
  // Exports mailbox `index` of the run, its result printed. False when a stop ended it.
  virtual bool Export(size_t index) = 0;
  // Ends the run: what follows its mailboxes. False when a stop ended it at mailbox *index.
  virtual bool Finish(size_t* index) = 0;
  // The run's exit status when no stop came.
  virtual int Status() const = 0;
  // What a stop's report ends with: "the 12 files written so far are whole".
  virtual std::string WrittenSoFar() const = 0;
};

// What an engine shares with the driver while it runs.
struct ExportContext {
  const ExportOptions& options;
  Printer* print;
  ExportProgress* progress;
  PathRule* rule;  // each mailbox read is told to it; its errors fail the export
};

// Makes `folder` (without trailing separators) for the export, or with --dry-run checks that it
// could be made and written. False, with the error printed, when it cannot.
bool SetUpOutputFolder(const std::string& folder, bool dryRun, Printer* print);

// `folder` without the separators it ends in ("out/" is "out"; "/" stays).
std::string TrimSeparators(std::string folder);

}  // namespace quillon

#endif  // QUILLON_CLI_EXPORT_DRIVER_H_
