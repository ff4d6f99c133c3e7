// Texts in the code pages a generated store may be written in (Windows-1251, 936, 1252): folder
// names, subject words and people's names, each as UTF-8 and as the code page's bytes, and the
// RFC 2047 encoded-words that carry such bytes in a message's headers.
#ifndef QUILLON_GEN_CODE_PAGE_TEXT_H_
#define QUILLON_GEN_CODE_PAGE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon::gen {

struct Text {
  const char* utf8;
  const char* bytes;  // in the code page
};

struct CodePageText {
  uint32_t codePage;
  const char* charset;  // the MIME name mail programs of the time gave it
  const Text (&words)[12];
  const Text (&names)[6];
  const Text (&folders)[2];  // a work folder and a personal one
};

// Null for a code page without texts here.
const CodePageText* FindCodePageText(uint32_t codePage);

// `bytes` as one encoded-word: "=?charset?B?...?=" and "=?charset?Q?...?=".
std::string EncodedWordB(const char* charset, const std::string& bytes);
std::string EncodedWordQ(const char* charset, const std::string& bytes);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_CODE_PAGE_TEXT_H_
