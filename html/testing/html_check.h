// The checks a cleaned body must pass, shared by the cleaner's tests and its fuzzer (a finding
// fails the same way under g++ and clang). The cleaned markup is parsed again with gumbo, as a
// browser would parse it in an iframe's srcdoc, and must hold:
// - only elements of the mail-text list (and the html, head and body the parser adds), all in
//   the HTML namespace; no comment;
// - only attributes of a fixed list: no event handler, no srcset;
// - links only to http, https and mailto, each with target="_blank" and
//   rel="noopener noreferrer"; images and backgrounds only from the resolver's files;
// - style attributes without a function, escape, comment or at-rule;
// and cleaning the result again must give it back unchanged.
#ifndef QUILLON_HTML_TESTING_HTML_CHECK_H_
#define QUILLON_HTML_TESTING_HTML_CHECK_H_

#include <optional>
#include <string>
#include <string_view>

#include "html/html_cleaner.h"

namespace quillon::html::testing {

// The file the checks' resolver maps every Content-ID to: "parts/" and the ID as given.
inline constexpr std::string_view kPartFolder = "parts/";
std::optional<std::string> ResolveEveryPart(std::string_view contentId);

// What is wrong with `cleaned` (markup CleanHtml wrote); empty when nothing is.
std::string CheckCleanedMarkup(std::string_view cleaned);

// `input` cleaned with ResolveEveryPart and without a resolver, each result checked, and each
// cleaned again to the same markup; empty when all holds, else what failed.
std::string CheckCleaner(std::string_view input);

}  // namespace quillon::html::testing

#endif  // QUILLON_HTML_TESTING_HTML_CHECK_H_
