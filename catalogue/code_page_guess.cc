#include "catalogue/code_page_guess.h"

#include <algorithm>
#include <string_view>

#include "catalogue/text.h"
#include "text/utf8.h"

namespace quillon::catalogue {
namespace {

constexpr char kReplacement[] = "\xEF\xBF\xBD";

bool HasHighByte(std::string_view s) {
  return std::any_of(s.begin(), s.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// ---- What a character is, for telling text from the wrong code page's reading of it ----

enum Script : uint8_t {
  kLatin = 1,
  kGreek = 2,
  kCyrillic = 4,
  kHebrew = 8,
  kArabic = 16,
  kThai = 32,
  kCjk = 64,  // Han, kana, Hangul and the full-width forms: one family, mixed in one word
};
enum class Kind : uint8_t { kSeparator, kDigit, kLetter, kMark, kSymbol, kControl };
enum class Case : uint8_t { kNone, kUpper, kLower };

struct CharClass {
  Kind kind;
  uint8_t script = 0;
  Case letterCase = Case::kNone;
};

CharClass Letter(uint8_t script, Case c = Case::kNone) { return {Kind::kLetter, script, c}; }
// Blocks whose letters alternate upper, lower.
Case EvenUpper(uint32_t c) { return c % 2 == 0 ? Case::kUpper : Case::kLower; }

CharClass Classify(uint32_t c) {
  if (c < 0x80) {
    if (c >= 'A' && c <= 'Z') return Letter(kLatin, Case::kUpper);
    if (c >= 'a' && c <= 'z') return Letter(kLatin, Case::kLower);
    if (c >= '0' && c <= '9') return {Kind::kDigit};
    return {c < 0x20 || c == 0x7F ? Kind::kControl : Kind::kSeparator};
  }
  if (c < 0xA0 || c == 0xFFFD) return {Kind::kControl};
  if (c < 0xC0) {
    switch (c) {
      case 0xA0:  // no-break space
      case 0xA1:  // ¡
      case 0xAB:  // «
      case 0xB0:  // °
      case 0xB7:  // ·
      case 0xBB:  // »
      case 0xBF:  // ¿
        return {Kind::kSeparator};
      case 0xAA:  // ª
      case 0xBA:  // º
        return Letter(kLatin);
      default:
        return {Kind::kSymbol};
    }
  }
  if (c == 0xD7 || c == 0xF7) return {Kind::kSymbol};  // × ÷
  if (c <= 0xDE) return Letter(kLatin, Case::kUpper);
  if (c <= 0xFF) return Letter(kLatin, Case::kLower);
  if (c <= 0x17F) {
    // Pairs, the capital first, on even code points but for 0x139-0x148 and 0x179-0x17E.
    if (c == 0x138 || c == 0x149 || c == 0x17F) return Letter(kLatin, Case::kLower);
    if (c == 0x178) return Letter(kLatin, Case::kUpper);
    const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    return Letter(kLatin, (c % 2 == 1) == oddUpper ? Case::kUpper : Case::kLower);
  }
  if (c <= 0x2AF) return Letter(kLatin);
  if (c <= 0x2FF) return {Kind::kSymbol};  // modifier letters: ˆ ˜ stand alone
  if (c <= 0x36F) return {Kind::kMark};    // combining marks, as Windows-1258 writes tones
  if (c <= 0x3FF) {
    if (c == 0x386 || (c >= 0x388 && c <= 0x38F) || (c >= 0x391 && c <= 0x3AB)) {
      return Letter(kGreek, Case::kUpper);
    }
    if (c >= 0x3AC && c <= 0x3CE) return Letter(kGreek, Case::kLower);
    return c == 0x387 ? CharClass{Kind::kSeparator} : Letter(kGreek);
  }
  if (c <= 0x4FF) {
    if (c <= 0x42F) return Letter(kCyrillic, Case::kUpper);
    if (c <= 0x45F) return Letter(kCyrillic, Case::kLower);
    return Letter(kCyrillic, EvenUpper(c));
  }
  if (c >= 0x590 && c <= 0x5FF) {
    return c >= 0x5B0 && c <= 0x5C7 ? CharClass{Kind::kMark, kHebrew} : Letter(kHebrew);
  }
  if (c >= 0x600 && c <= 0x6FF) {
    if (c == 0x60C || c == 0x61B || c == 0x61F) return {Kind::kSeparator};  // ، ؛ ؟
    if (c >= 0x64B && c <= 0x652) return {Kind::kMark, kArabic};
    return Letter(kArabic);
  }
  if (c >= 0xE00 && c <= 0xE7F) {
    // Vowels above and below and tone marks sit on a consonant.
    if (c == 0xE31 || (c >= 0xE34 && c <= 0xE3A) || (c >= 0xE47 && c <= 0xE4E)) {
      return {Kind::kMark, kThai};
    }
    return Letter(kThai);
  }
  if (c >= 0x1100 && c <= 0x11FF) return Letter(kCjk);
  if (c >= 0x1E00 && c <= 0x1EFF) return Letter(kLatin, EvenUpper(c));
  if (c >= 0x2000 && c <= 0x206F) {
    // Dashes, quotes, ellipsis and bullets stand beside words; daggers and per-mille do not.
    return c == 0x2020 || c == 0x2021 || c == 0x2030 ? CharClass{Kind::kSymbol}
                                                     : CharClass{Kind::kSeparator};
  }
  if (c == 0x20AC || c == 0x2116) return {Kind::kSeparator};  // € №
  if (c >= 0x3000 && c <= 0x303F) return {Kind::kSeparator};  // 、。「」
  if ((c >= 0x3040 && c <= 0x30FF) || (c >= 0x3130 && c <= 0x318F) ||
      (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
      (c >= 0xAC00 && c <= 0xD7AF) || (c >= 0xF900 && c <= 0xFAFF)) {
    return Letter(kCjk);
  }
  if (c >= 0xFF01 && c <= 0xFFEF) {
    if (c >= 0xFF10 && c <= 0xFF19) return {Kind::kDigit};
    if ((c >= 0xFF21 && c <= 0xFF3A) || (c >= 0xFF41 && c <= 0xFF5A) || c >= 0xFF66) {
      return Letter(kCjk);
    }
    return {Kind::kSeparator};
  }
  return {Kind::kSymbol};
}

bool IsVowel(uint32_t c) {
  // Cyrillic а е и о у ы э ю я ё і ї є ў, either case; Greek α ε η ι ο υ ω, with or without a
  // tonos or dialytika, either case.
  static const char16_t kVowels[] =
      u"аеиоуыэюяёіїєўАЕИОУЫЭЮЯЁІЇЄЎ"
      u"αεηιουωάέήίόύώϊϋΐΰΑΕΗΙΟΥΩΆΈΉΊΌΎΏ";
  for (const char16_t v : kVowels) {
    if (v != 0 && v == c) return true;
  }
  return false;
}

struct WordTally {
  uint32_t plausible = 0;
  uint32_t implausible = 0;
};

// Counts the words of `utf8` that hold a character beyond ASCII as read right or not: a word
// read in the wrong code page mixes scripts ("Rщunion"), holds symbols or control characters
// ("Îò÷¸ò"), changes case mid-word, or is Latin of accented letters only ("íåäåëþ"), which real
// words seldom are.
void TallyWords(std::string_view utf8, WordTally* tally) {
  struct Word {
    bool beyondAscii = false, symbol = false, control = false, caseBreak = false;
    bool strayMark = false;          // a combining mark on no letter, a final sigma mid-word
    uint32_t vowels = 0, lower = 0;  // Cyrillic and Greek
    uint8_t scripts = 0;
    uint32_t letters = 0, accented = 0;
    Case last = Case::kNone;
    bool afterLetter = false;
    uint32_t lastChar = 0;
  } w;
  const auto finish = [&] {
    if (w.beyondAscii) {
      const uint8_t scripts = (w.scripts & kCjk) ? (w.scripts & ~kLatin) : w.scripts;
      const bool mixed = (scripts & (scripts - 1)) != 0;
      const bool allAccented = w.scripts == kLatin && w.letters >= 3 && w.accented == w.letters;
      // Russian, Ukrainian, Bulgarian, Serbian and Greek words have vowels; abbreviations are
      // capitals.
      const bool noVowel = (w.scripts == kCyrillic || w.scripts == kGreek) && w.letters >= 3 &&
                           w.lower > 0 && w.vowels == 0;
      const bool wrong = w.control || (w.symbol && w.letters > 0) || mixed || w.caseBreak ||
                         allAccented || w.strayMark || noVowel;
      ++(wrong ? tally->implausible : tally->plausible);
    }
    w = Word();
  };
  for (size_t at = 0; at < utf8.size();) {
    const uint32_t c = NextCodePoint(utf8, &at);
    const CharClass k = Classify(c);
    if (k.kind == Kind::kSeparator) {
      // A separator beyond ASCII between two words leaves them as they are.
      finish();
      continue;
    }
    w.beyondAscii = w.beyondAscii || c >= 0x80;
    const bool afterLetter = w.afterLetter;
    // Greek's final sigma ends a word.
    if (w.lastChar == 0x3C2 && k.kind == Kind::kLetter) w.strayMark = true;
    w.lastChar = c;
    w.afterLetter = k.kind == Kind::kLetter || (k.kind == Kind::kMark && afterLetter);
    switch (k.kind) {
      case Kind::kMark:
        // A script's own marks sit on its letters: Arabic vowel signs on Latin ones mix scripts.
        w.strayMark = w.strayMark || !afterLetter;
        w.scripts |= k.script;
        break;
      case Kind::kLetter:
        ++w.letters;
        if (c >= 0x80) ++w.accented;
        w.scripts |= k.script;
        if (k.letterCase == Case::kUpper && w.last == Case::kLower && c >= 0x80) {
          w.caseBreak = true;
        }
        if (k.letterCase != Case::kNone) w.last = k.letterCase;
        if (k.letterCase == Case::kLower) ++w.lower;
        if (IsVowel(c)) ++w.vowels;
        break;
      case Kind::kSymbol:
        w.symbol = true;
        break;
      case Kind::kControl:
        w.control = true;
        break;
      default:
        break;
    }
  }
  finish();
}

// ---- Double-byte code pages: which characters are common ----

// Text in a double-byte code page is mostly of its common characters (GB2312's first level,
// Big5's frequent hanzi, JIS level 1 and kana, KS X 1001's Hangul); other text read in it gives
// rare characters. The share of common ones among the double-byte characters of `bytes`, which
// is 1 without any.
double CommonShare(std::string_view bytes, uint32_t codePage) {
  uint32_t common = 0, total = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    const uint8_t lead = static_cast<uint8_t>(bytes[i]);
    if (lead < 0x81) continue;
    if (codePage == 932 && lead >= 0xA1 && lead <= 0xDF) {
      ++total;  // half-width katakana: one byte, and seldom written in mail
      continue;
    }
    if (codePage == 932 && lead > 0x9F && lead < 0xE0) continue;
    if (i + 1 >= bytes.size()) break;
    const uint8_t trail = static_cast<uint8_t>(bytes[++i]);
    ++total;
    const bool gbTrail = trail >= 0xA1 && trail <= 0xFE;
    bool ok = false;
    switch (codePage) {
      case 936:
        ok = gbTrail && ((lead >= 0xB0 && lead <= 0xD7) || (lead >= 0xA1 && lead <= 0xA9));
        break;
      case 950:
        ok = (lead >= 0xA4 && lead <= 0xC6) || (lead >= 0xA1 && lead <= 0xA3);
        break;
      case 949:
        ok = gbTrail && ((lead >= 0xB0 && lead <= 0xC8) || (lead >= 0xA1 && lead <= 0xAC));
        break;
      case 932:
        ok = (lead >= 0x81 && lead <= 0x83) || (lead >= 0x88 && lead <= 0x98);
        break;
      default:
        break;
    }
    common += ok ? 1 : 0;
  }
  return total == 0 ? 1.0 : static_cast<double>(common) / total;
}

bool DoubleByte(uint32_t codePage) {
  return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950;
}

// ---- Weighing ----

struct Candidate {
  uint32_t codePage = 0;
  uint32_t agreements = 0;
  uint32_t invalid = 0;  // strings with a byte that is no character
  WordTally words;
  uint32_t votes = 0;
  double Plausible() const {
    const uint32_t all = words.plausible + words.implausible;
    return all == 0 ? 1.0 : static_cast<double>(words.plausible) / all;
  }
};

// Keeps the candidates `keep` says yes to, unless that would leave none.
template <typename Keep>
void Narrow(std::vector<Candidate>* left, Keep keep) {
  std::vector<Candidate> kept;
  for (const Candidate& c : *left) {
    if (keep(c)) kept.push_back(c);
  }
  if (!kept.empty()) *left = std::move(kept);
}

// Characters of two bytes or more in `strings`, taken as UTF-8.
size_t MultiByteCharacters(const std::vector<const std::string*>& strings) {
  size_t n = 0;
  for (const std::string* s : strings) {
    for (char c : *s) n += (static_cast<unsigned char>(c) & 0xC0) == 0xC0 ? 1 : 0;
  }
  return n;
}

bool Invalid(const std::string& raw, const std::string& decoded) {
  return decoded.find(kReplacement) != std::string::npos &&
         raw.find(kReplacement) == std::string::npos;
}

}  // namespace

const char* CodePageScript(uint32_t codePage) {
  switch (codePage) {
    case 874:
      return "Thai";
    case 932:
      return "Japanese";
    case 936:
      return "Simplified Chinese";
    case 949:
      return "Korean";
    case 950:
      return "Traditional Chinese";
    case 1250:
      return "Central European";
    case 1251:
      return "Cyrillic";
    case 1252:
      return "Western European";
    case 1253:
      return "Greek";
    case 1254:
      return "Turkish";
    case 1255:
      return "Hebrew";
    case 1256:
      return "Arabic";
    case 1257:
      return "Baltic";
    case 1258:
      return "Vietnamese";
    case 65001:
      return "Unicode";
    default:
      return "";
  }
}

CodePageGuess GuessCodePage(const CodePageEvidence& evidence) {
  // Every 8-bit string once, whatever list it came in.
  std::vector<const std::string*> strings;
  for (const std::string& s : evidence.fileNames) strings.push_back(&s);
  for (const auto& same : evidence.sameTexts) strings.push_back(&same.first);
  for (const std::string& s : evidence.texts) strings.push_back(&s);
  strings.erase(std::remove_if(strings.begin(), strings.end(),
                               [](const std::string* s) { return !HasHighByte(*s); }),
                strings.end());

  std::vector<Candidate> left;
  for (const uint32_t codePage : kStoreCodePages) {
    if (!CodePageAvailable(codePage)) continue;
    left.emplace_back();
    left.back().codePage = codePage;
  }
  for (Candidate& c : left) {
    for (const uint32_t charset : evidence.charsets) {
      if (AnsiCodePageOf(charset) == c.codePage) ++c.votes;
    }
  }
  CodePageGuess guess;
  guess.eightBit = !strings.empty();
  if (left.empty()) return guess;
  if (!guess.eightBit) {
    // Nothing to read otherwise: the votes alone, for strings not seen.
    Narrow(&left, [&](const Candidate& c) { return c.votes > 0 && c.codePage != 65001; });
    const auto most = std::max_element(left.begin(), left.end(),
                                       [](auto& a, auto& b) { return a.votes < b.votes; });
    if (most->votes > 0) guess.codePage = most->codePage;
    return guess;
  }

  for (Candidate& c : left) {
    for (const std::string& name : evidence.fileNames) {
      if (HasHighByte(name) && evidence.onDisk &&
          evidence.onDisk(CodePageToUtf8(name, c.codePage))) {
        ++c.agreements;
      }
    }
    for (const auto& [raw, text] : evidence.sameTexts) {
      if (HasHighByte(raw) && CodePageToUtf8(raw, c.codePage) == text) ++c.agreements;
    }
    for (const std::string* s : strings) {
      const std::string decoded = CodePageToUtf8(*s, c.codePage);
      if (Invalid(*s, decoded)) ++c.invalid;
      WordTally tally;
      TallyWords(decoded, &tally);
      if (DoubleByte(c.codePage) && CommonShare(*s, c.codePage) < 0.5) {
        tally.implausible += tally.plausible;
        tally.plausible = 0;
      }
      c.words.plausible += tally.plausible;
      c.words.implausible += tally.implausible;
    }
  }

  // Agreements first: a name that is a file on disk, or the same text in the message, is seldom
  // a coincidence.
  uint32_t agreements = 0;
  for (const Candidate& c : left) agreements = std::max(agreements, c.agreements);
  if (agreements > 0) Narrow(&left, [&](const Candidate& c) { return c.agreements == agreements; });
  // Bytes that are no character rule a code page out, a damaged string or two aside.
  uint32_t fewest = UINT32_MAX;
  for (const Candidate& c : left) fewest = std::min(fewest, c.invalid);
  const uint32_t slack = static_cast<uint32_t>(strings.size() / 20);
  Narrow(&left, [&](const Candidate& c) { return c.invalid <= fewest + slack; });
  double best = 0;
  for (const Candidate& c : left) best = std::max(best, c.Plausible());
  Narrow(&left, [&](const Candidate& c) { return c.Plausible() >= best - 0.1; });
  uint32_t votes = 0;
  for (const Candidate& c : left) votes = std::max(votes, c.votes);
  if (votes > 0) Narrow(&left, [&](const Candidate& c) { return c.votes == votes; });

  // Bytes beyond ASCII that are valid UTF-8 throughout are seldom anything else: three
  // characters so are enough, whatever else reads them too.
  const auto utf8 = std::find_if(left.begin(), left.end(),
                                 [](const Candidate& c) { return c.codePage == 65001; });
  if (utf8 != left.end() && utf8->invalid == 0 && MultiByteCharacters(strings) >= 3) {
    guess.codePage = 65001;
    return guess;
  }
  // `left` keeps kStoreCodePages' order: the commonest first.
  guess.codePage = left.front().codePage;
  for (size_t i = 1; i < left.size(); ++i) {
    const uint32_t other = left[i].codePage;
    const bool differs = std::any_of(strings.begin(), strings.end(), [&](const std::string* s) {
      return CodePageToUtf8(*s, other) != CodePageToUtf8(*s, guess.codePage);
    });
    if (differs) guess.alsoPossible.push_back(other);
  }
  return guess;
}

}  // namespace quillon::catalogue
