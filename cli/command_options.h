// The options of one subcommand, read with getopt_long as `export` reads its own: options and
// operands mix, short options group, "--" ends the options, -h/--help and -V/--version anywhere.
#ifndef QUILLON_CLI_COMMAND_OPTIONS_H_
#define QUILLON_CLI_COMMAND_OPTIONS_H_

#include <functional>
#include <string>
#include <vector>

#include "cli/export_command.h"

namespace quillon {

struct OptionDef {
  const char* name;  // the long name, without "--"
  int id;            // a short option's letter, or a number above 255 for a long option only
  // Empty when the option takes no value; otherwise what the error says it needs ("a number").
  const char* needs;
};

// What an option means, given its id and value (null when it takes none). False, with *error
// set, for a value it refuses.
using OptionHandler = std::function<bool(int id, const char* value, std::string* error)>;

// Parses `args`: args[0] is the subcommand's name, the rest its words. Each option goes to
// `handle`, each operand into *operands. On kUsageError *error says what was wrong, in the words
// `export` uses ("unknown option '--bogus'", "option '--codepage' needs a number").
ParseOutcome ParseCommandOptions(const std::vector<std::string>& args,
                                 const std::vector<OptionDef>& defs, const OptionHandler& handle,
                                 std::vector<std::string>* operands, std::string* error);

// --codepage in the help of every subcommand that takes it, from the 22nd column on: one text,
// so that they never differ (the manual's test holds the page to its "default:").
#define QUILLON_CODEPAGE_HELP                                                            \
  "the store's 8-bit folder names, subjects and names are in Windows\n"                  \
  "                     code page N (default: decided per store from what it shows; a\n" \
  "                     guess is said so)\n"

// --codepage's value, for every subcommand that takes it: a Windows code page number that this
// system can decode. False, with *error saying which of the two it is not.
bool ParseCodePage(const std::string& text, uint32_t* codePage, std::string* error);

}  // namespace quillon

#endif  // QUILLON_CLI_COMMAND_OPTIONS_H_
