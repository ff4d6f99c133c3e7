#include "gen/mail_text.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "gen/random.h"
#include "text/ascii.h"

namespace quillon::gen {
namespace {

constexpr std::string_view kWords[] = {
    "the",       "of",          "and",        "to",           "a",         "in",        "is",
    "it",        "you",         "that",       "we",           "for",       "on",        "with",
    "this",      "be",          "are",        "have",         "will",      "not",       "as",
    "at",        "from",        "by",         "our",          "can",       "all",       "your",
    "about",     "there",       "more",       "if",           "would",     "so",        "what",
    "when",      "which",       "their",      "time",         "meeting",   "project",   "report",
    "week",      "next",        "last",       "please",       "thanks",    "think",     "should",
    "could",     "might",       "need",       "send",         "attached",  "file",      "files",
    "version",   "update",      "server",     "network",      "printer",   "office",    "budget",
    "schedule",  "monday",      "tuesday",    "wednesday",    "thursday",  "friday",    "weekend",
    "morning",   "afternoon",   "evening",    "tomorrow",     "yesterday", "today",     "client",
    "customer",  "order",       "invoice",    "payment",      "price",     "quote",     "draft",
    "final",     "review",      "comments",   "changes",      "question",  "answer",    "problem",
    "issue",     "solution",    "idea",       "plan",         "team",      "group",     "list",
    "address",   "phone",       "number",     "call",         "letter",    "message",   "mail",
    "photos",    "pictures",    "holiday",    "trip",         "flight",    "hotel",     "dinner",
    "lunch",     "coffee",      "family",     "kids",         "school",    "house",     "garden",
    "car",       "train",       "station",    "city",         "weather",   "rain",      "sunny",
    "cold",      "warm",        "great",      "good",         "nice",      "sorry",     "happy",
    "busy",      "late",        "early",      "soon",         "again",     "still",     "already",
    "just",      "really",      "probably",   "maybe",        "perhaps",   "certainly", "anyway",
    "however",   "because",     "although",   "while",        "before",    "after",     "during",
    "between",   "around",      "without",    "under",        "over",      "into",      "through",
    "some",      "any",         "each",       "every",        "other",     "another",   "same",
    "different", "new",         "old",        "first",        "second",    "third",     "few",
    "many",      "much",        "little",     "long",         "short",     "small",     "large",
    "important", "possible",    "available",  "ready",        "sure",      "know",      "see",
    "look",      "find",        "make",       "take",         "give",      "tell",      "ask",
    "work",      "help",        "try",        "keep",         "start",     "finish",    "change",
    "move",      "bring",       "write",      "read",         "meet",      "talk",      "agree",
    "decide",    "remember",    "forget",     "expect",       "hope",      "wonder",    "believe",
    "mention",   "information", "details",    "numbers",      "figures",   "results",   "documents",
    "minutes",   "agenda",      "conference", "presentation", "software",  "computer",  "database",
    "backup",    "password",    "account",    "website",      "download",  "program",   "install",
    "system",    "support",     "service",
};

constexpr std::string_view kFirstNames[] = {
    "Anna",   "Peter",  "Maria",    "Thomas", "Susan",  "Michael", "Julia",  "David",
    "Laura",  "Martin", "Claire",   "Robert", "Sophie", "James",   "Elena",  "Frank",
    "Helen",  "George", "Nina",     "Paul",   "Karen",  "Stefan",  "Monica", "Richard",
    "Ingrid", "Daniel", "Emily",    "Lucas",  "Sarah",  "Oliver",  "Rachel", "Marco",
    "Linda",  "Jan",    "Patricia", "Henrik", "Carmen", "Walter",  "Alice",  "Victor",
};

constexpr std::string_view kLastNames[] = {
    "Miller", "Schmidt", "Johnson",  "Weber",  "Brown",    "Fischer", "Garcia", "Meyer",  "Wilson",
    "Wagner", "Taylor",  "Becker",   "Moore",  "Hoffmann", "Clark",   "Rossi",  "Lewis",  "Novak",
    "Walker", "Dubois",  "Hall",     "Jansen", "Young",    "Larsen",  "King",   "Moreau", "Wright",
    "Berg",   "Scott",   "Kowalski", "Green",  "Lambert",  "Baker",   "Keller", "Adams",  "Vogel",
};

constexpr std::string_view kDomains[] = {
    "mail.example.com", "example.net",      "example.org",     "office.example.com",
    "corp.example.net", "home.example.org", "mailbox.example", "post.example.com",
    "isp.example.net",  "univ.example.edu", "web.example.de",  "free.example.fr",
    "online.example",
};

constexpr std::string_view kHosts[] = {"homepc",  "office", "laptop", "pc01",  "workstation",
                                       "desktop", "study",  "p4",     "athlon"};

constexpr int32_t kZones[] = {-480, -300, -240, 0, 0, 60, 60, 60, 120, 180, 330, 540};

struct SizeBucket {
  uint32_t low, high;  // inclusive
  uint32_t perMille;
};

// The spread of real mail: most messages 1-50 KB, a few of several MB, about 3% short replies
// under 0x200 bytes (the kShortReply bucket; its range is not used).
constexpr SizeBucket kSizeBuckets[] = {
    {0, 0, 30},          {600, 1023, 40},       {1024, 2047, 120},      {2048, 4095, 180},
    {4096, 8191, 180},   {8192, 16383, 150},    {16384, 32767, 110},    {32768, 65535, 70},
    {65536, 262143, 60}, {262144, 1048575, 40}, {1048576, 4194303, 15}, {4194304, 8388607, 5},
};

// A real Inbox: a quarter one-block messages, most of the rest 1-10 KB, and a few large ones,
// which still hold a third of the bytes.
constexpr SizeBucket kSmallSizeBuckets[] = {
    {0, 0, 250},        {600, 1023, 100},   {1024, 2047, 220},
    {2048, 4095, 214},  {4096, 8191, 130},  {8192, 16383, 60},
    {16384, 65535, 20}, {65536, 262143, 5}, {262144, 2097151, 1},
};

constexpr SizeBucket kTinySizeBuckets[] = {{0, 0, 1000}};

struct AttachmentType {
  std::string_view mimeType;
  std::string_view extension;
  std::string_view magic;  // the first bytes of such a file
};

constexpr AttachmentType kAttachmentTypes[] = {
    {"image/jpeg", "jpg", std::string_view("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00", 11)},
    {"application/pdf", "pdf", "%PDF-1.4\n%"},
    {"application/x-zip-compressed", "zip", "PK\x03\x04\x14"},
    {"application/msword", "doc", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"},
    {"image/gif", "gif", "GIF89a"},
    {"application/vnd.ms-excel", "xls", "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1"},
};

// Random streams of one mailbox. Per-message streams are (id << 8) | n with id >= 1, so they
// never meet the mailbox-wide ones.
constexpr uint64_t kOwnerStream = 0x10;
constexpr uint64_t kFieldStream = 1;
constexpr uint64_t kBodyStream = 2;

constexpr uint32_t kSingleBlockLimit = 0x200;

template <size_t N>
std::string_view Pick(Rng& rng, const std::string_view (&list)[N]) {
  return list[rng.Below(static_cast<uint32_t>(N))];
}

struct Person {
  std::string name, address;
};

Person MakePerson(Rng& rng) {
  const std::string_view first = Pick(rng, kFirstNames), last = Pick(rng, kLastNames);
  Person p;
  p.name = std::string(first) + " " + std::string(last);
  switch (rng.Below(3)) {
    case 0:
      p.address = AsciiLowered(first) + "." + AsciiLowered(last);
      break;
    case 1:
      p.address = AsciiLowered(first.substr(0, 1)) + AsciiLowered(last);
      break;
    default:
      p.address = AsciiLowered(first) + std::to_string(rng.Between(1, 99));
      break;
  }
  p.address += "@";
  p.address += Pick(rng, kDomains);
  return p;
}

// The mailbox's owner and account: the same for every message of one seed.
struct Owner {
  Person person;
  std::string account;
  int64_t firstTime;
};

Owner MakeOwner(uint64_t seed) {
  Rng rng(MixSeed(seed, kOwnerStream));
  Owner o;
  o.person = MakePerson(rng);
  o.account = "pop." + std::string(Pick(rng, kDomains));
  // 1999-01-01 plus up to four years: the years Outlook Express was in use.
  o.firstTime = 915148800 + rng.Below(4 * 365 * 86400);
  return o;
}

void CapitalizeAt(std::string* s, size_t at) { (*s)[at] = AsciiUpper((*s)[at]); }

std::string MakeSubject(Rng& rng, uint32_t maxWords) {
  std::string s;
  const uint32_t words = rng.Between(2, maxWords);
  for (uint32_t i = 0; i < words; ++i) {
    if (i > 0) s += ' ';
    s += Pick(rng, kWords);
  }
  CapitalizeAt(&s, 0);
  return s;
}

void AppendHex(Rng& rng, int digits, std::string* out) {
  static const char kHex[] = "0123456789abcdef";
  uint64_t bits = rng.Next();
  for (int i = 0; i < digits; ++i, bits >>= 4) out->push_back(kHex[bits & 15]);
}

// Civil date from days since 1970-01-01 (proleptic Gregorian).
void CivilFromDays(int64_t z, int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  *day = doy - (153 * mp + 2) / 5 + 1;
  *month = mp < 10 ? mp + 3 : mp - 9;
  *year = static_cast<int64_t>(yoe) + era * 400 + (*month <= 2 ? 1 : 0);
}

// "Mon, 17 Jun 2002 21:42:07 +0200"
std::string FormatDate(int64_t utc, int32_t zoneMinutes) {
  static const char* const kDays[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const int64_t local = utc + int64_t{zoneMinutes} * 60;
  const int64_t days = local / 86400;
  const int64_t secs = local % 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  const int32_t zone = zoneMinutes < 0 ? -zoneMinutes : zoneMinutes;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %u %s %lld %02d:%02d:%02d %c%02d%02d", kDays[days % 7], day,
                kMonths[month - 1], static_cast<long long>(year), static_cast<int>(secs / 3600),
                static_cast<int>(secs / 60 % 60), static_cast<int>(secs % 60),
                zoneMinutes < 0 ? '-' : '+', zone / 60, zone % 60);
  return text;
}

std::string MakeBoundary(Rng& rng, int level) {
  std::string b = "----=_NextPart_00" + std::to_string(level) + "_";
  static const char kHex[] = "0123456789ABCDEF";
  uint64_t bits = rng.Next();
  for (int i = 0; i < 4; ++i, bits >>= 4) b += kHex[bits & 15];
  b += "_01C2";
  for (int i = 0; i < 4; ++i, bits >>= 4) b += kHex[bits & 15];
  b += '.';
  for (int i = 0; i < 8; ++i, bits >>= 4) b += kHex[bits & 15];
  return b;
}

// Appends paragraphs of prose wrapped at `width` columns until `out` has grown by at least
// `bytes`. Ends with an empty line.
void AppendProse(Rng& rng, size_t bytes, size_t width, std::string* out) {
  const size_t stop = out->size() + bytes;
  constexpr uint32_t kWordCount = sizeof kWords / sizeof kWords[0];
  while (out->size() < stop) {
    size_t lineStart = out->size();
    const uint32_t sentences = rng.Between(1, 6);
    for (uint32_t s = 0; s < sentences; ++s) {
      const uint32_t words = rng.Between(3, 16);
      for (uint32_t w = 0; w < words; ++w) {
        const std::string_view word = kWords[rng.Below(kWordCount)];
        const size_t lineLength = out->size() - lineStart;
        if (lineLength > 0 && lineLength + 2 + word.size() > width) {
          out->append("\r\n");
          lineStart = out->size();
        } else if (lineLength > 0) {
          out->push_back(' ');
        }
        const size_t at = out->size();
        out->append(word);
        if (w == 0) CapitalizeAt(out, at);
        if (w + 1 == words) {
          out->push_back(rng.Chance(120) ? '?' : '.');
        } else if (rng.Chance(70)) {
          out->push_back(',');
        }
      }
    }
    out->append("\r\n\r\n");
  }
}

// Quoted-printable HTML, with soft line breaks keeping every line within 76 characters.
class HtmlWriter {
 public:
  explicit HtmlWriter(std::string* out) : out_(out) {}
  void Put(std::string_view token, bool spaceBefore) {
    if (column_ > 0 && column_ + (spaceBefore ? 1 : 0) + token.size() > 75) {
      out_->append("=\r\n");
      column_ = 0;
    }
    if (spaceBefore) {
      out_->push_back(' ');
      ++column_;
    }
    out_->append(token);
    column_ += token.size();
  }
  void EndLine() {
    out_->append("\r\n");
    column_ = 0;
  }

 private:
  std::string* out_;
  size_t column_ = 0;
};

// The HTML twin of a plain-text part: one DIV per paragraph, as Outlook Express writes it.
void AppendHtmlOf(std::string_view text, std::string* out) {
  out->append(
      "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n"
      "<HTML><HEAD>\r\n"
      "<META http-equiv=3DContent-Type content=3D\"text/html; =\r\n"
      "charset=3Diso-8859-1\">\r\n"
      "<META content=3D\"MSHTML 6.00.2800.1106\" name=3DGENERATOR>\r\n"
      "<STYLE></STYLE>\r\n"
      "</HEAD>\r\n"
      "<BODY bgColor=3D#ffffff>\r\n");
  HtmlWriter html(out);
  size_t pos = 0;
  bool first = true;
  while (pos < text.size()) {
    size_t end = text.find("\r\n\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    if (end > pos) {
      if (!first) {
        html.Put("<DIV>&nbsp;</DIV>", false);
        html.EndLine();
      }
      first = false;
      html.Put("<DIV><FONT face=3DArial size=3D2>", false);
      bool firstWord = true;
      size_t w = pos;
      while (w < end) {
        size_t stopAt = w;
        while (stopAt < end && text[stopAt] != ' ' && text[stopAt] != '\r') ++stopAt;
        html.Put(text.substr(w, stopAt - w), !firstWord);
        firstWord = false;
        w = stopAt;
        while (w < end && (text[w] == ' ' || text[w] == '\r' || text[w] == '\n')) ++w;
      }
      html.Put("</FONT></DIV>", false);
      html.EndLine();
    }
    pos = end + 4;
  }
  out->append("</BODY></HTML>\r\n");
}

// Appends base64 lines (76 characters) of `payload` random bytes that start with `magic`.
void AppendBase64(Rng& rng, size_t payload, std::string_view magic, std::string* out) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  uint8_t bytes[64];
  char line[80];
  for (size_t done = 0; done < payload;) {
    const size_t n = payload - done < 57 ? payload - done : 57;
    for (int i = 0; i < 8; ++i) {
      // Spelled out so the compiler turns them into one 64-bit store.
      const uint64_t r = rng.Next();
      uint8_t* b = bytes + 8 * i;
      b[0] = static_cast<uint8_t>(r);
      b[1] = static_cast<uint8_t>(r >> 8);
      b[2] = static_cast<uint8_t>(r >> 16);
      b[3] = static_cast<uint8_t>(r >> 24);
      b[4] = static_cast<uint8_t>(r >> 32);
      b[5] = static_cast<uint8_t>(r >> 40);
      b[6] = static_cast<uint8_t>(r >> 48);
      b[7] = static_cast<uint8_t>(r >> 56);
    }
    for (size_t i = 0; done + i < magic.size() && i < n; ++i) bytes[i] = magic[done + i];
    size_t k = 0;
    if (n == 57) {  // every line but the last: no padding to think of
      for (size_t i = 0; i < 57; i += 3) {
        const uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        line[k] = kAlphabet[v >> 18];
        line[k + 1] = kAlphabet[(v >> 12) & 63];
        line[k + 2] = kAlphabet[(v >> 6) & 63];
        line[k + 3] = kAlphabet[v & 63];
        k += 4;
      }
    }
    for (size_t i = k / 4 * 3; i < n; i += 3) {
      const uint32_t b0 = bytes[i];
      const uint32_t b1 = i + 1 < n ? bytes[i + 1] : 0;
      const uint32_t b2 = i + 2 < n ? bytes[i + 2] : 0;
      const uint32_t v = b0 << 16 | b1 << 8 | b2;
      line[k++] = kAlphabet[v >> 18];
      line[k++] = kAlphabet[(v >> 12) & 63];
      line[k++] = i + 1 < n ? kAlphabet[(v >> 6) & 63] : '=';
      line[k++] = i + 2 < n ? kAlphabet[v & 63] : '=';
    }
    line[k++] = '\r';
    line[k++] = '\n';
    out->append(line, k);
    done += n;
  }
}

void AppendAddressHeader(const char* name, const std::string& display, const std::string& address,
                         std::string* out) {
  out->append(name);
  out->append(": \"");
  out->append(display);
  out->append("\" <");
  out->append(address);
  out->append(">\r\n");
}

// The headers every message carries, in the order Outlook Express writes them.
void AppendCommonHeaders(const MessageFields& f, std::string* out) {
  out->append("Message-ID: ");
  out->append(f.messageId);
  out->append("\r\n");
  if (f.fromNameHeader.empty()) {
    AppendAddressHeader("From", f.fromName, f.fromAddress, out);
  } else {
    out->append("From: " + f.fromNameHeader + " <" + f.fromAddress + ">\r\n");
  }
  AppendAddressHeader("To", f.toName, f.toAddress, out);
  out->append("Subject: ");
  out->append(f.subjectHeader.empty() ? f.subject : f.subjectHeader);
  out->append("\r\n");
  if (f.dateHeader) {
    out->append("Date: ");
    out->append(FormatDate(f.sentTime, f.zoneMinutes));
    out->append("\r\n");
  }
  out->append("MIME-Version: 1.0\r\n");
}

void AppendMailerHeaders(std::string* out) {
  out->append(
      "X-Priority: 3\r\n"
      "X-MSMail-Priority: Normal\r\n"
      "X-Mailer: Microsoft Outlook Express 6.00.2800.1106\r\n"
      "X-MimeOLE: Produced By Microsoft MimeOLE V6.00.2800.1106\r\n");
}

void AppendReceived(Rng& rng, const MessageFields& f, std::string* out) {
  out->append("Received: from ");
  out->append(f.fromAddress.substr(f.fromAddress.find('@') + 1));
  out->append(" ([192.168." + std::to_string(rng.Below(256)) + "." +
              std::to_string(rng.Between(1, 254)) + "])\r\n\tby ");
  out->append(f.account);
  out->append(" with SMTP id ");
  AppendHex(rng, 8, out);
  out->append(";\r\n\t");
  out->append(FormatDate(f.receivedTime, 0));
  out->append("\r\nReturn-Path: <");
  out->append(f.fromAddress);
  out->append(">\r\n");
}

const char kTextPartHeaders[] =
    "Content-Type: text/plain;\r\n\tcharset=\"iso-8859-1\"\r\n"
    "Content-Transfer-Encoding: 7bit\r\n";
const char kHtmlPartHeaders[] =
    "Content-Type: text/html;\r\n\tcharset=\"iso-8859-1\"\r\n"
    "Content-Transfer-Encoding: quoted-printable\r\n";
// The text and HTML parts' headers in a charset other than the usual one.
std::string TextPartHeaders(const MessageFields& f) {
  if (f.charset.empty()) return kTextPartHeaders;
  return "Content-Type: text/plain;\r\n\tcharset=\"" + f.charset +
         "\"\r\nContent-Transfer-Encoding: 8bit\r\n";
}
std::string HtmlPartHeaders(const MessageFields& f) {
  if (f.charset.empty()) return kHtmlPartHeaders;
  return "Content-Type: text/html;\r\n\tcharset=\"" + f.charset +
         "\"\r\nContent-Transfer-Encoding: quoted-printable\r\n";
}

// Lines an mbox writer must quote, and lines already quoted once and twice.
const char kFromLines[] =
    "From the notes of our last meeting, as promised:\r\n"
    ">From the minutes: the budget stays as it is.\r\n"
    ">>From an older thread, quoted twice.\r\n"
    "From here on it is up to you.\r\n"
    "\r\n";

const char kMultipartPreamble[] = "This is a multi-part message in MIME format.\r\n\r\n";

void AppendBoundaryLine(const std::string& boundary, bool last, std::string* out) {
  out->append("--");
  out->append(boundary);
  out->append(last ? "--\r\n\r\n" : "\r\n");
}

// A multipart/alternative body of about `bytes`, its Content-Type header not included.
void AppendAlternativeParts(Rng& rng, const MessageFields& f, const std::string& boundary,
                            size_t bytes, std::string* out) {
  std::string text;
  // The HTML twin comes out about twice as long as the text.
  AppendProse(rng, bytes / 3 + 1, 72, &text);
  AppendBoundaryLine(boundary, false, out);
  out->append(TextPartHeaders(f));
  out->append("\r\n");
  out->append(text);
  AppendBoundaryLine(boundary, false, out);
  out->append(HtmlPartHeaders(f));
  out->append("\r\n");
  AppendHtmlOf(text, out);
  out->append("\r\n");
  AppendBoundaryLine(boundary, true, out);
}

// A reply short enough for one data block: minimal headers and a line or two.
void AppendShortReply(Rng& rng, const MessageFields& f, std::string* out) {
  const size_t start = out->size();
  AppendCommonHeaders(f, out);
  out->append("Content-Type: text/plain; charset=\"" +
              (f.charset.empty() ? std::string("iso-8859-1") : f.charset) + "\"\r\n\r\n");
  constexpr uint32_t kWordCount = sizeof kWords / sizeof kWords[0];
  // Keep room for the sign-off; fields are short enough that at least a word always fits.
  const std::string& signer = f.signature.empty() ? f.fromName : f.signature;
  const size_t signOff = std::min(signer.find(' '), signer.size());
  const std::string_view name(signer.data(), signOff);
  const size_t limit = start + kSingleBlockLimit - 1 - (name.size() + 6);
  const uint32_t words = rng.Between(2, 14);
  size_t sentenceStart = out->size();
  for (uint32_t i = 0; i < words; ++i) {
    const std::string_view word = kWords[rng.Below(kWordCount)];
    if (i > 0 && out->size() + 1 + word.size() + 1 > limit) break;
    if (i > 0) out->push_back(' ');
    out->append(word);
  }
  CapitalizeAt(out, sentenceStart);
  out->append(".\r\n\r\n");
  out->append(name);
  out->append("\r\n");
}

}  // namespace

MailboxOwner OwnerOf(uint64_t seed) {
  const Owner o = MakeOwner(seed);
  return {o.person.name, o.person.address, o.account, o.firstTime};
}

std::string FormatIso8601(int64_t unixSeconds) {
  const int64_t days = unixSeconds >= 0 ? unixSeconds / 86400 : (unixSeconds - 86399) / 86400;
  const int64_t secs = unixSeconds - days * 86400;
  int64_t year;
  unsigned month, day;
  CivilFromDays(days, &year, &month, &day);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02d:%02d:%02dZ", static_cast<long long>(year),
                month, day, static_cast<int>(secs / 3600), static_cast<int>(secs / 60 % 60),
                static_cast<int>(secs % 60));
  return text;
}

uint64_t UnixToFileTime(int64_t unixSeconds) {
  return static_cast<uint64_t>(unixSeconds + 11644473600) * 10000000u;
}

MessageFields MakeMessageFields(uint64_t seed, uint32_t id, Shape shape) {
  const Owner owner = MakeOwner(seed);
  Rng rng(MixSeed(seed, uint64_t{id} << 8 | kFieldStream));
  MessageFields f;

  uint32_t pick = rng.Below(1000);
  const SizeBucket* const buckets = shape == Shape::kSmall  ? kSmallSizeBuckets
                                    : shape == Shape::kTiny ? kTinySizeBuckets
                                                            : kSizeBuckets;
  const SizeBucket* bucket = buckets;
  while (pick >= bucket->perMille) pick -= bucket++->perMille;
  const bool shortReply = bucket == buckets;
  f.targetSize = shortReply ? 0 : rng.Between(bucket->low, bucket->high);
  if (shortReply) {
    f.kind = MessageKind::kShortReply;
  } else if (f.targetSize < 16384) {
    f.kind = rng.Chance(650) ? MessageKind::kPlain : MessageKind::kAlternative;
  } else if (f.targetSize < 65536) {
    const uint32_t k = rng.Below(100);
    f.kind = k < 40   ? MessageKind::kPlain
             : k < 75 ? MessageKind::kAlternative
                      : MessageKind::kMixed;
  } else {
    const uint32_t k = rng.Below(100);
    f.kind = k < 90   ? MessageKind::kMixed
             : k < 95 ? MessageKind::kPlain
                      : MessageKind::kAlternative;
  }

  Person sender = MakePerson(rng);
  f.fromName = sender.name;
  f.fromAddress = sender.address;
  if (rng.Chance(850)) {
    f.toName = owner.person.name;
    f.toAddress = owner.person.address;
  } else {
    Person other = MakePerson(rng);
    f.toName = other.name;
    f.toAddress = other.address;
  }
  f.normalizedSubject = MakeSubject(rng, shortReply ? 4 : 7);
  const uint32_t prefix = rng.Below(100);
  if (shortReply || prefix < 25) {
    f.subject = "Re: " + f.normalizedSubject;
  } else if (prefix < 30) {
    f.subject = "Fw: " + f.normalizedSubject;
  } else {
    f.subject = f.normalizedSubject;
  }
  f.messageId = "<";
  AppendHex(rng, 12, &f.messageId);
  f.messageId += '$';
  AppendHex(rng, 8, &f.messageId);
  f.messageId += "$0100a8c0@";
  f.messageId += Pick(rng, kHosts);
  f.messageId += '>';
  f.account = owner.account;
  // About one message every three hours, in id order.
  f.sentTime = owner.firstTime + int64_t{id} * 10800 + rng.Below(10800);
  f.receivedTime = f.sentTime + rng.Between(20, 3600);
  f.zoneMinutes = kZones[rng.Below(sizeof kZones / sizeof kZones[0])];
  f.read = rng.Chance(800);
  return f;
}

void AppendMessageText(uint64_t seed, uint32_t id, const MessageFields& f, std::string* out) {
  Rng rng(MixSeed(seed, uint64_t{id} << 8 | kBodyStream));
  const size_t start = out->size();
  if (f.kind == MessageKind::kShortReply) {
    AppendShortReply(rng, f, out);
    return;
  }
  if (rng.Chance(500)) AppendReceived(rng, f, out);
  AppendCommonHeaders(f, out);
  const size_t headerGuess = 600;
  const size_t bodyTarget = f.targetSize > headerGuess ? f.targetSize - headerGuess : 100;

  switch (f.kind) {
    case MessageKind::kShortReply:
      break;
    case MessageKind::kPlain:
      out->append(TextPartHeaders(f));
      AppendMailerHeaders(out);
      out->append("\r\n");
      AppendProse(rng, bodyTarget, 72, out);
      if (f.fromLines) out->append(kFromLines);
      out->append("-- \r\n");
      out->append(f.signature.empty() ? f.fromName : f.signature);
      out->append("\r\n");
      break;
    case MessageKind::kAlternative: {
      const std::string boundary = MakeBoundary(rng, 0);
      out->append("Content-Type: multipart/alternative;\r\n\tboundary=\"" + boundary + "\"\r\n");
      AppendMailerHeaders(out);
      out->append("\r\n");
      out->append(kMultipartPreamble);
      AppendAlternativeParts(rng, f, boundary, bodyTarget, out);
      break;
    }
    case MessageKind::kMixed: {
      const std::string boundary = MakeBoundary(rng, 0);
      out->append("Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"\r\n");
      AppendMailerHeaders(out);
      out->append("\r\n");
      out->append(kMultipartPreamble);
      const size_t textBytes = rng.Between(200, 3000);
      if (rng.Chance(300)) {
        const std::string inner = MakeBoundary(rng, 1);
        AppendBoundaryLine(boundary, false, out);
        out->append("Content-Type: multipart/alternative;\r\n\tboundary=\"" + inner + "\"\r\n\r\n");
        AppendAlternativeParts(rng, f, inner, textBytes, out);
      } else {
        AppendBoundaryLine(boundary, false, out);
        out->append(TextPartHeaders(f));
        out->append("\r\n");
        AppendProse(rng, textBytes, 72, out);
      }
      const size_t used = out->size() - start;
      const size_t remaining = f.targetSize > used + 400 ? f.targetSize - used : 400;
      const uint32_t count = remaining > 200000 ? rng.Between(1, 3) : 1;
      for (uint32_t i = 0; i < count; ++i) {
        const AttachmentType& type =
            kAttachmentTypes[rng.Below(sizeof kAttachmentTypes / sizeof kAttachmentTypes[0])];
        std::string name = type.extension == "jpg" || type.extension == "gif"
                               ? "IMG_" + std::to_string(rng.Between(1000, 9999))
                               : std::string(kWords[rng.Below(sizeof kWords / sizeof kWords[0])]) +
                                     "_" + std::to_string(rng.Between(1, 30));
        name += '.';
        name += type.extension;
        AppendBoundaryLine(boundary, false, out);
        out->append("Content-Type: ");
        out->append(type.mimeType);
        out->append(";\r\n\tname=\"" + name + "\"\r\nContent-Transfer-Encoding: base64\r\n");
        out->append("Content-Disposition: attachment;\r\n\tfilename=\"" + name + "\"\r\n\r\n");
        // 57 payload bytes make a 78-byte line.
        AppendBase64(rng, remaining / count * 57 / 78 + 1, type.magic, out);
        out->append("\r\n");
      }
      AppendBoundaryLine(boundary, true, out);
      break;
    }
  }
}

std::string MessageText(uint64_t seed, uint32_t id, Shape shape) {
  std::string text;
  AppendMessageText(seed, id, MakeMessageFields(seed, id, shape), &text);
  return text;
}

}  // namespace quillon::gen
