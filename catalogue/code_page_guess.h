// Which code page a store's 8-bit strings are in. Outlook Express writes the strings of its
// files (folder and file names in Folders.dbx, a folder's own name, the index's subjects and
// people's names) in the ANSI code page of the Windows that stored them, never in a message's
// charset, and names it nowhere: it is weighed here from what the store shows, once for all its
// strings.
#ifndef QUILLON_CATALOGUE_CODE_PAGE_GUESS_H_
#define QUILLON_CATALOGUE_CODE_PAGE_GUESS_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace quillon::catalogue {

// What a store shows of its code page. Strings without a byte above 0x7F say nothing and may be
// left out; the caller keeps the lists short (a few hundred strings are plenty, and each is
// decoded once per code page weighed).
struct CodePageEvidence {
  // File names the store's records give (Folders.dbx's, a folder's own name with ".dbx"), 8-bit.
  // A copy from a Windows disk has the files' names in Unicode: `onDisk` says whether a name,
  // decoded to UTF-8, is a file that is there. The strongest evidence there is.
  std::vector<std::string> fileNames;
  std::function<bool(const std::string& utf8)> onDisk;
  // Index strings beside the same text as a message's own headers give it, decoded from their
  // encoded-words or by the charset the message declares (its subject, its sender's name): under
  // the right code page they agree. As strong as the names on disk.
  std::vector<std::pair<std::string, std::string>> sameTexts;
  // Other index strings: folder names, subjects, people's names.
  std::vector<std::string> texts;
  // The code pages the messages' charsets name (CodePageFromMessage), each a vote for the ANSI
  // code page of its script (AnsiCodePageOf): koi8-r mail points to 1251.
  std::vector<uint32_t> charsets;
};

struct CodePageGuess {
  uint32_t codePage = 1252;
  // Other code pages that fit the evidence as well as `codePage` and read some of the strings
  // otherwise: the choice among them was a default. Empty when the evidence singled it out, or
  // when every code page left reads the strings alike.
  std::vector<uint32_t> alsoPossible;
  // The strings held a byte above 0x7F: there was something to decide.
  bool eightBit = false;
};

// The code page of the store, from `evidence`, among the ANSI code pages of the Windows versions
// Outlook Express ran on and UTF-8, those this system can decode. In turn: the names and texts
// that agree (most agreements); the code pages under which the fewest strings hold bytes that
// are no character; the code pages under which the strings read most like text of one script
// (words neither mixing scripts nor holding symbols, a case that changes mid-word, or Latin
// words of accented letters only; double-byte characters of the common ranges); the most votes
// of the charsets; then the first in the order of kStoreCodePages.
CodePageGuess GuessCodePage(const CodePageEvidence& evidence);

// The code pages weighed, the commonest first.
inline constexpr uint32_t kStoreCodePages[] = {1252, 1250, 1251, 1253, 1254, 1255, 1256, 1257,
                                               1258, 936,  950,  932,  949,  874,  65001};

// "Western European", "Cyrillic", "Simplified Chinese"...: what a code page of kStoreCodePages
// is for, in words; "" for another.
const char* CodePageScript(uint32_t codePage);

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_CODE_PAGE_GUESS_H_
