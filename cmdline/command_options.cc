#include "cmdline/command_options.h"

#include <getopt.h>

namespace quillon {

namespace {

// The option getopt_long just refused, as it was typed: a long one whole, a short one as "-c".
std::string RefusedOption(char* const* argv, const std::vector<option>& options) {
  const std::string word = argv[optind - 1];
  if (word.size() > 2 && word.compare(0, 2, "--") == 0) {
    if (optopt == 0) return word;  // no such long option
    const std::string name = word.substr(2, word.find('=') - 2);
    for (const option& o : options) {
      if (o.name != nullptr && o.val == optopt &&
          std::string(o.name).compare(0, name.size(), name) == 0) {
        return word;
      }
    }
  }
  // A short option; while it is not the last of a group such as -xq, optind has not moved on.
  return std::string("-") + static_cast<char>(optopt);
}

}  // namespace

ParseOutcome ParseCommandOptions(const std::vector<std::string>& args,
                                 const std::vector<OptionDef>& defs, const OptionHandler& handle,
                                 std::vector<std::string>* operands, std::string* error) {
  std::vector<option> options;
  std::string shortOptions = ":hV";  // ':' first: a missing value is told apart
  for (const OptionDef& def : defs) {
    const bool value = def.needs != nullptr && def.needs[0] != '\0';
    options.push_back({def.name, value ? required_argument : no_argument, nullptr, def.id});
    if (def.id < 256) {
      shortOptions += static_cast<char>(def.id);
      if (value) shortOptions += ':';
    }
  }
  options.push_back({"help", no_argument, nullptr, 'h'});
  options.push_back({"version", no_argument, nullptr, 'V'});
  options.push_back({nullptr, 0, nullptr, 0});

  // getopt_long takes args[0], the subcommand, for the program's name.
  std::vector<std::string> words(args);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(words.size());
  opterr = 0;
  optind = 0;  // a fresh scan, in glibc and in the MinGW-w64 runtime alike
  for (int c;
       (c = getopt_long(argc, argv.data(), shortOptions.c_str(), options.data(), nullptr)) != -1;) {
    if (c == 'h') return ParseOutcome::kHelp;
    if (c == 'V') return ParseOutcome::kVersion;
    if (c == ':') {
      // MinGW-w64's getopt_long also answers ':' for "--json=1", a value the option does not
      // take: only an option that takes a value can be missing one.
      for (const OptionDef& def : defs) {
        if (def.id == optopt && def.needs != nullptr && def.needs[0] != '\0') {
          *error = "option '" + RefusedOption(argv.data(), options) + "' needs " + def.needs;
          return ParseOutcome::kUsageError;
        }
      }
    }
    const OptionDef* known = nullptr;
    for (const OptionDef& def : defs) {
      if (def.id == c) known = &def;
    }
    if (known == nullptr) {
      *error = "unknown option '" + RefusedOption(argv.data(), options) + "'";
      return ParseOutcome::kUsageError;
    }
    if (known->flag != nullptr) *known->flag = true;
    if (!handle(c, optarg, error)) return ParseOutcome::kUsageError;
  }
  operands->assign(argv.begin() + optind, argv.begin() + argc);
  return ParseOutcome::kRun;
}

}  // namespace quillon
