// --codepage, as every subcommand that reads a store's 8-bit texts takes it.
#ifndef QUILLON_CLI_CODEPAGE_OPTION_H_
#define QUILLON_CLI_CODEPAGE_OPTION_H_

#include <cstdint>
#include <string>

namespace quillon {

// --codepage in the help of every subcommand that takes it, from the 22nd column on: one text,
// so that they never differ (the manual's test holds the page to its "default:").
#define QUILLON_CODEPAGE_HELP                                                            \
  "the store's 8-bit folder names, subjects and names are in Windows\n"                  \
  "                     code page N (default: decided per store from what it shows; a\n" \
  "                     guess is said so)\n"

// --codepage's value: a Windows code page number that this system can decode. False, with
// *error saying which of the two it is not.
bool ParseCodePage(const std::string& text, uint32_t* codePage, std::string* error);

}  // namespace quillon

#endif  // QUILLON_CLI_CODEPAGE_OPTION_H_
