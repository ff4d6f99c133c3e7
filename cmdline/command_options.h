// The options of a command line, read with getopt_long for every program of the project (each
// `quillon` subcommand, quillon-mkdbx): options and operands mix, short options group, long ones
// may be shortened while unambiguous, "--" ends the options, -h/--help and -V/--version anywhere.
#ifndef QUILLON_CMDLINE_COMMAND_OPTIONS_H_
#define QUILLON_CMDLINE_COMMAND_OPTIONS_H_

#include <functional>
#include <string>
#include <vector>

namespace quillon {

// What the command line asks for: a run, or only the help or the version; or it is wrong.
enum class ParseOutcome { kRun, kHelp, kVersion, kUsageError };

struct OptionDef {
  const char* name;  // the long name, without "--"
  int id;            // a short option's letter, or a number above 255 for a long option only
  // Empty when the option takes no value; otherwise what the error says it needs ("a number").
  const char* needs;
  // An option without a value that sets this, before it goes to the handler too.
  bool* flag = nullptr;
};

// What an option means, given its id and value (null when it takes none). False, with *error
// set, for a value it refuses.
using OptionHandler = std::function<bool(int id, const char* value, std::string* error)>;

// Parses `args`: args[0] is the program's or the subcommand's name, the rest its words. Each
// option goes to `handle` in the order given, each operand into *operands. On kUsageError *error
// says what was wrong, naming the option as it was typed ("unknown option '--bogus'", "option
// '--codepage' needs a number").
ParseOutcome ParseCommandOptions(const std::vector<std::string>& args,
                                 const std::vector<OptionDef>& defs, const OptionHandler& handle,
                                 std::vector<std::string>* operands, std::string* error);

}  // namespace quillon

#endif  // QUILLON_CMDLINE_COMMAND_OPTIONS_H_
