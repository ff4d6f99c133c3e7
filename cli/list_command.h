// `quillon list`: one row per message the rescue engine finds in each mailbox (its status,
// received date, sender, subject and size) as a table that fits the terminal, or with --json one
// JSON object a line, the fields the export's manifest gives each file but its path.
#ifndef QUILLON_CLI_LIST_COMMAND_H_
#define QUILLON_CLI_LIST_COMMAND_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/command.h"

namespace quillon {

extern const char kListUsage[];

struct ListOptions {
  bool json = false;
  bool deleted = false;
  bool fragments = false;
  bool recursive = false;  // every store folder found in or beneath each folder PATH
  uint32_t codePage = 0;
  std::vector<std::string> paths;
};

// Parses the arguments after the program name, "list" first.
ParseOutcome ParseListArguments(const std::vector<std::string>& args, ListOptions* options,
                                std::string* error);

// Lists the messages and returns the exit status: 0, kExitFailed when a mailbox could not be
// read, or a stop's. `columns` is the terminal's width, 0 when `out` is no terminal (the rows are
// then not cut).
int RunList(const ListOptions& options, std::FILE* out, std::FILE* err, size_t columns);

// One row of the table: the status, "2005-01-03 10:00" (or "-"), the size, sender and subject,
// in `columns` (0: sender in its own width, the subject whole).
std::string ListRow(const std::string& status, const std::string& received, const std::string& size,
                    const std::string& from, const std::string& subject, size_t columns);

// "512", "12.3K", "4.5M": a size in at most 6 characters.
std::string ShortSize(uint64_t bytes);

}  // namespace quillon

#endif  // QUILLON_CLI_LIST_COMMAND_H_
