#include "html/html_cleaner.h"

#include <gumbo.h>

#include <algorithm>
#include <array>
#include <initializer_list>
#include <memory>
#include <set>
#include <unordered_map>
#include <utility>
#include <vector>

#include "text/ascii.h"
#include "text/utf8.h"

namespace quillon::html {

namespace {

// How the cleaner treats an element.
enum class Kind {
  kUnwrap,  // the tags go, what is inside stays (form, label, unknown elements)
  kKeep,    // kept, with its listed attributes
  kVoid,    // kept, has no content (br, hr, img, wbr, col)
  kDrop,    // removed with everything inside it
  kRaw,     // removed, and its content is raw text up to its own end tag (script, style, ...)
  kBody,    // <body>: its listed attributes go on the result's body
};

// The element lists stay several to a line.
// clang-format off
Kind KindOf(GumboTag tag) {
  switch (tag) {
    case GUMBO_TAG_A: case GUMBO_TAG_ABBR: case GUMBO_TAG_ACRONYM: case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_B: case GUMBO_TAG_BDI: case GUMBO_TAG_BDO: case GUMBO_TAG_BIG:
    case GUMBO_TAG_BLOCKQUOTE: case GUMBO_TAG_CAPTION: case GUMBO_TAG_CENTER: case GUMBO_TAG_CITE:
    case GUMBO_TAG_CODE: case GUMBO_TAG_COLGROUP: case GUMBO_TAG_DD: case GUMBO_TAG_DEL:
    case GUMBO_TAG_DFN: case GUMBO_TAG_DIV: case GUMBO_TAG_DL: case GUMBO_TAG_DT:
    case GUMBO_TAG_EM: case GUMBO_TAG_FONT: case GUMBO_TAG_H1: case GUMBO_TAG_H2:
    case GUMBO_TAG_H3: case GUMBO_TAG_H4: case GUMBO_TAG_H5: case GUMBO_TAG_H6: case GUMBO_TAG_I:
    case GUMBO_TAG_INS: case GUMBO_TAG_KBD: case GUMBO_TAG_LI: case GUMBO_TAG_MARK:
    case GUMBO_TAG_NOBR: case GUMBO_TAG_OL: case GUMBO_TAG_P: case GUMBO_TAG_PRE: case GUMBO_TAG_Q:
    case GUMBO_TAG_S: case GUMBO_TAG_SAMP: case GUMBO_TAG_SMALL: case GUMBO_TAG_SPAN:
    case GUMBO_TAG_STRIKE: case GUMBO_TAG_STRONG: case GUMBO_TAG_SUB: case GUMBO_TAG_SUP:
    case GUMBO_TAG_TABLE: case GUMBO_TAG_TBODY: case GUMBO_TAG_TD: case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_TH: case GUMBO_TAG_THEAD: case GUMBO_TAG_TR: case GUMBO_TAG_TT:
    case GUMBO_TAG_U: case GUMBO_TAG_UL: case GUMBO_TAG_VAR:
      return Kind::kKeep;
    case GUMBO_TAG_BR: case GUMBO_TAG_HR: case GUMBO_TAG_IMG: case GUMBO_TAG_WBR:
    case GUMBO_TAG_COL:
      return Kind::kVoid;
    case GUMBO_TAG_SCRIPT: case GUMBO_TAG_STYLE: case GUMBO_TAG_XMP: case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_NOEMBED: case GUMBO_TAG_NOFRAMES: case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_TEXTAREA: case GUMBO_TAG_TITLE: case GUMBO_TAG_PLAINTEXT:
      return Kind::kRaw;
    case GUMBO_TAG_SVG: case GUMBO_TAG_MATH: case GUMBO_TAG_OBJECT: case GUMBO_TAG_APPLET:
    case GUMBO_TAG_EMBED: case GUMBO_TAG_FRAMESET: case GUMBO_TAG_FRAME: case GUMBO_TAG_SELECT:
    case GUMBO_TAG_TEMPLATE: case GUMBO_TAG_AUDIO: case GUMBO_TAG_VIDEO: case GUMBO_TAG_CANVAS:
    case GUMBO_TAG_MAP: case GUMBO_TAG_HEAD: case GUMBO_TAG_BASE: case GUMBO_TAG_META:
    case GUMBO_TAG_LINK: case GUMBO_TAG_PARAM: case GUMBO_TAG_SOURCE: case GUMBO_TAG_TRACK:
    case GUMBO_TAG_INPUT: case GUMBO_TAG_KEYGEN: case GUMBO_TAG_BGSOUND: case GUMBO_TAG_AREA:
    case GUMBO_TAG_IMAGE: case GUMBO_TAG_BASEFONT: case GUMBO_TAG_MENUITEM:
      return Kind::kDrop;
    case GUMBO_TAG_BODY:
      return Kind::kBody;
    default:
      return Kind::kUnwrap;
  }
}

// Elements with no end tag: a start tag of one opens nothing.
bool IsVoid(GumboTag tag) {
  switch (tag) {
    case GUMBO_TAG_AREA: case GUMBO_TAG_BASE: case GUMBO_TAG_BR: case GUMBO_TAG_COL:
    case GUMBO_TAG_EMBED: case GUMBO_TAG_HR: case GUMBO_TAG_IMG: case GUMBO_TAG_INPUT:
    case GUMBO_TAG_LINK: case GUMBO_TAG_META: case GUMBO_TAG_PARAM: case GUMBO_TAG_SOURCE:
    case GUMBO_TAG_TRACK: case GUMBO_TAG_WBR: case GUMBO_TAG_KEYGEN: case GUMBO_TAG_FRAME:
    case GUMBO_TAG_BGSOUND: case GUMBO_TAG_BASEFONT: case GUMBO_TAG_IMAGE: case GUMBO_TAG_MENUITEM:
      return true;
    default:
      return false;
  }
}

// clang-format on

// The attributes an element keeps, besides the ones every kept element may carry.
bool AttributeAllowed(GumboTag tag, std::string_view name) {
  static constexpr std::array<std::string_view, 6> kGlobal = {"align", "valign", "title",
                                                              "dir",   "lang",   "style"};
  if (std::find(kGlobal.begin(), kGlobal.end(), name) != kGlobal.end()) return true;
  auto among = [name](std::initializer_list<std::string_view> names) {
    return std::find(names.begin(), names.end(), name) != names.end();
  };
  switch (tag) {
    case GUMBO_TAG_A:
      return name == "href";
    case GUMBO_TAG_IMG:
      return among({"src", "alt", "width", "height", "border", "hspace", "vspace"});
    case GUMBO_TAG_FONT:
      return among({"face", "size", "color"});
    case GUMBO_TAG_TABLE:
      return among({"border", "cellpadding", "cellspacing", "width", "height", "bgcolor",
                    "background", "frame", "rules"});
    case GUMBO_TAG_TD:
    case GUMBO_TAG_TH:
      return among({"colspan", "rowspan", "nowrap", "width", "height", "bgcolor", "background"});
    case GUMBO_TAG_TR:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TFOOT:
      return among({"bgcolor", "height"});
    case GUMBO_TAG_COL:
    case GUMBO_TAG_COLGROUP:
      return among({"span", "width"});
    case GUMBO_TAG_OL:
      return among({"start", "type", "reversed"});
    case GUMBO_TAG_UL:
      return name == "type";
    case GUMBO_TAG_LI:
      return among({"value", "type"});
    case GUMBO_TAG_HR:
      return among({"size", "width", "noshade", "color"});
    case GUMBO_TAG_BR:
      return name == "clear";
    case GUMBO_TAG_BODY:
      return among({"bgcolor", "text", "link", "vlink", "alink", "background"});
    default:
      return false;
  }
}

bool IsHtmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r'; }
bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// A start or end tag as the tokenizer reads it.
struct Tag {
  std::string name;                                             // lower case
  std::vector<std::pair<std::string, std::string>> attributes;  // name, raw value
  bool end = false;
  bool selfClosing = false;  // written "<name ... />"
};

// Reads the tag whose name starts at text[at] (after "<" or "</"); returns the position after
// its ">", or npos when the text ends inside it (the tokenizer then emits nothing).
size_t ReadTag(std::string_view text, size_t at, Tag* tag) {
  const size_t n = text.size();
  size_t i = at;
  while (i < n && !IsHtmlSpace(text[i]) && text[i] != '/' && text[i] != '>') ++i;
  tag->name.assign(text.substr(at, i - at));
  for (char& c : tag->name) c = AsciiLower(c);
  for (;;) {
    while (i < n && (IsHtmlSpace(text[i]) || text[i] == '/')) ++i;
    if (i >= n) return std::string_view::npos;
    if (text[i] == '>') {
      tag->selfClosing = text[i - 1] == '/';
      return i + 1;
    }
    const size_t nameStart = i++;  // the first character may be '='
    while (i < n && !IsHtmlSpace(text[i]) && text[i] != '/' && text[i] != '>' && text[i] != '=')
      ++i;
    std::string name(text.substr(nameStart, i - nameStart));
    for (char& c : name) c = AsciiLower(c);
    size_t j = i;
    while (j < n && IsHtmlSpace(text[j])) ++j;
    std::string value;
    if (j < n && text[j] == '=') {
      i = j + 1;
      while (i < n && IsHtmlSpace(text[i])) ++i;
      if (i >= n) return std::string_view::npos;
      if (text[i] == '"' || text[i] == '\'') {
        const size_t close = text.find(text[i], i + 1);
        if (close == std::string_view::npos) return std::string_view::npos;
        value.assign(text.substr(i + 1, close - i - 1));
        i = close + 1;
      } else {
        const size_t start = i;
        while (i < n && !IsHtmlSpace(text[i]) && text[i] != '>') ++i;
        value.assign(text.substr(start, i - start));
      }
    }
    tag->attributes.emplace_back(std::move(name), std::move(value));
  }
}

// The position after the end tag `</name ...>` that closes raw text starting at `at`; npos
// when there is none (the raw text then runs to the end).
size_t SkipRawText(std::string_view text, size_t at, std::string_view name) {
  for (size_t lt = text.find("</", at); lt != std::string_view::npos;
       lt = text.find("</", lt + 2)) {
    const size_t after = lt + 2 + name.size();
    if (after > text.size()) return std::string_view::npos;
    bool same = true;
    for (size_t k = 0; k < name.size() && same; ++k) same = AsciiLower(text[lt + 2 + k]) == name[k];
    if (!same || (after < text.size() && !IsHtmlSpace(text[after]) && text[after] != '/' &&
                  text[after] != '>'))
      continue;
    Tag ignored;
    return ReadTag(text, lt + 2, &ignored);
  }
  return std::string_view::npos;
}

// Attribute names that can reach the parser: others are never listed, and some characters in a
// name would read differently when written again.
bool PlainAttributeName(std::string_view name) {
  return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == ':';
  });
}

// The first pass: the body tokenized as HTML reads it, written again as what the parser
// receives. It holds only text (every '<' escaped that starts no tag), the tags of kept elements
// (attribute values quoted) and <body>; comments, declarations, raw-text elements and the
// elements removed with their content are gone; every element is closed, in order, and none
// deeper than kMaxDepth. The parser then builds its tree from markup that means one thing, in
// time linear in its size: on the raw body, Debian's gumbo 0.10.1 took 4.3 s for 40,000 nested
// <div> (each start tag looks through the open elements) and 13 s for 20,000 when it records
// its errors (each error copies the open elements), so it records none here.
class Reader {
 public:
  explicit Reader(CleanCounts* counts) : counts_(counts) {}

  std::string Read(std::string_view text) {
    const size_t n = text.size();
    size_t pos = 0;
    while (pos < n) {
      const size_t lt = text.find('<', pos);
      Text(text.substr(pos, (lt == std::string_view::npos ? n : lt) - pos));
      if (lt == std::string_view::npos) break;
      pos = Markup(text, lt);
    }
    while (!open_.empty()) Close();
    return std::move(out_);
  }

 private:
  // Reads the markup at text[lt] == '<'; returns where reading goes on.
  size_t Markup(std::string_view text, size_t lt) {
    const size_t n = text.size();
    const char next = lt + 1 < n ? text[lt + 1] : '\0';
    if (IsAsciiLetter(next) || (next == '/' && lt + 2 < n && IsAsciiLetter(text[lt + 2]))) {
      Tag tag;
      tag.end = next == '/';
      const size_t after = ReadTag(text, lt + (tag.end ? 2 : 1), &tag);
      if (after == std::string_view::npos) return n;
      if (tag.end) {
        EndTag(tag);
        return after;
      }
      const GumboTag id = gumbo_tagn_enum(tag.name.data(), static_cast<unsigned>(tag.name.size()));
      if (KindOf(id) == Kind::kRaw) {
        if (skipDepth_ == 0) ++counts_->droppedElements;
        const size_t end =
            id == GUMBO_TAG_PLAINTEXT ? std::string_view::npos : SkipRawText(text, after, tag.name);
        return end == std::string_view::npos ? n : end;
      }
      StartTag(id, tag);
      return after;
    }
    if (next == '/' && lt + 2 < n && text[lt + 2] == '>') return lt + 3;
    if (text.substr(lt, 4) == "<!--") {
      // "<!-->" and "<!--->" end at once; otherwise at "-->" or "--!>".
      size_t at = lt + 4;
      if (text.substr(at, 1) == ">") return at + 1;
      if (text.substr(at, 2) == "->") return at + 2;
      for (size_t dash = text.find("--", at); dash != std::string_view::npos;
           dash = text.find("--", dash + 1)) {
        if (text.substr(dash + 2, 1) == ">") return dash + 3;
        if (text.substr(dash + 2, 2) == "!>") return dash + 4;
      }
      return n;
    }
    if (next == '!' || next == '?' || next == '/') {  // declarations and bogus comments
      const size_t gt = text.find('>', lt + 2);
      return gt == std::string_view::npos ? n : gt + 1;
    }
    Text("<");
    return lt + 1;
  }

  void Text(std::string_view text) {
    if (skipDepth_ > 0) return;
    for (char c : text) {
      if (c == '<') {
        out_ += "&lt;";
      } else {
        out_ += c;
      }
    }
  }

  void StartTag(GumboTag id, const Tag& tag) {
    const Kind kind = KindOf(id);
    // Only SVG and MathML elements close themselves with "/>".
    const bool opens =
        !IsVoid(id) && !(tag.selfClosing && (id == GUMBO_TAG_SVG || id == GUMBO_TAG_MATH));
    if (skipDepth_ > 0) {
      if (id == skipTag_ && opens) ++skipDepth_;
      return;
    }
    if (kind == Kind::kDrop) {
      ++counts_->droppedElements;
      if (opens) {
        skipTag_ = id;
        skipDepth_ = 1;
      }
      return;
    }
    if (kind == Kind::kUnwrap) return;
    if (kind == Kind::kBody) {
      out_ += "<body";
      WriteAttributes(tag);
      out_ += '>';
      return;
    }
    ImpliedEnds(id);
    if (kind == Kind::kKeep && open_.size() >= kMaxDepth) {
      ++counts_->flattenedTags;
      ++unopened_[id];
      return;
    }
    out_ += '<';
    out_ += tag.name;
    WriteAttributes(tag);
    out_ += '>';
    if (kind == Kind::kKeep) {
      open_.push_back(id);
      ++opened_[id];
    }
  }

  void EndTag(const Tag& tag) {
    const GumboTag id = gumbo_tagn_enum(tag.name.data(), static_cast<unsigned>(tag.name.size()));
    if (skipDepth_ > 0) {
      if (id == skipTag_) --skipDepth_;
      return;
    }
    if (KindOf(id) != Kind::kKeep) return;
    auto unopened = unopened_.find(id);
    if (unopened != unopened_.end() && unopened->second > 0) {
      --unopened->second;
      return;
    }
    const auto found = std::find(open_.rbegin(), open_.rend(), id);
    if (found == open_.rend()) return;
    const size_t keep = open_.size() - 1 - static_cast<size_t>(found - open_.rbegin());
    while (open_.size() > keep) Close();
  }

  // The end tags HTML implies when `id` starts: an open paragraph before a block, the previous
  // item, cell, row or section of a list or table.
  void ImpliedEnds(GumboTag id) {
    switch (id) {
      case GUMBO_TAG_LI:
        CloseOpen({GUMBO_TAG_LI},
                  {GUMBO_TAG_UL, GUMBO_TAG_OL, GUMBO_TAG_DL, GUMBO_TAG_TABLE, GUMBO_TAG_TD,
                   GUMBO_TAG_TH, GUMBO_TAG_CAPTION, GUMBO_TAG_BLOCKQUOTE});
        break;
      case GUMBO_TAG_DT:
      case GUMBO_TAG_DD:
        CloseOpen({GUMBO_TAG_DT, GUMBO_TAG_DD},
                  {GUMBO_TAG_DL, GUMBO_TAG_TABLE, GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_CAPTION});
        break;
      case GUMBO_TAG_TD:
      case GUMBO_TAG_TH:
        CloseOpen({GUMBO_TAG_TD, GUMBO_TAG_TH}, {GUMBO_TAG_TR, GUMBO_TAG_TABLE});
        break;
      case GUMBO_TAG_TR:
        CloseOpen({GUMBO_TAG_TR},
                  {GUMBO_TAG_TABLE, GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT});
        break;
      case GUMBO_TAG_TBODY:
      case GUMBO_TAG_THEAD:
      case GUMBO_TAG_TFOOT:
        CloseOpen({GUMBO_TAG_TBODY, GUMBO_TAG_THEAD, GUMBO_TAG_TFOOT}, {GUMBO_TAG_TABLE});
        break;
      case GUMBO_TAG_A:
        CloseOpen({GUMBO_TAG_A}, {GUMBO_TAG_TABLE, GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_CAPTION});
        break;
      case GUMBO_TAG_P:
      case GUMBO_TAG_DIV:
      case GUMBO_TAG_ADDRESS:
      case GUMBO_TAG_BLOCKQUOTE:
      case GUMBO_TAG_CENTER:
      case GUMBO_TAG_DL:
      case GUMBO_TAG_H1:
      case GUMBO_TAG_H2:
      case GUMBO_TAG_H3:
      case GUMBO_TAG_H4:
      case GUMBO_TAG_H5:
      case GUMBO_TAG_H6:
      case GUMBO_TAG_HR:
      case GUMBO_TAG_OL:
      case GUMBO_TAG_UL:
      case GUMBO_TAG_PRE:
        CloseOpen({GUMBO_TAG_P}, {GUMBO_TAG_TABLE, GUMBO_TAG_TD, GUMBO_TAG_TH, GUMBO_TAG_CAPTION});
        break;
      default:
        break;
    }
  }

  // Closes the innermost open element among `targets` and everything inside it, unless one of
  // `stops` is open inside it.
  void CloseOpen(std::initializer_list<GumboTag> targets, std::initializer_list<GumboTag> stops) {
    if (std::none_of(targets.begin(), targets.end(), [this](GumboTag t) { return opened_[t] > 0; }))
      return;
    for (size_t i = open_.size(); i-- > 0;) {
      if (std::find(targets.begin(), targets.end(), open_[i]) != targets.end()) {
        while (open_.size() > i) Close();
        return;
      }
      if (std::find(stops.begin(), stops.end(), open_[i]) != stops.end()) return;
    }
  }

  void Close() {
    out_ += "</";
    out_ += gumbo_normalized_tagname(open_.back());
    out_ += '>';
    --opened_[open_.back()];
    open_.pop_back();
  }

  void WriteAttributes(const Tag& tag) {
    for (const auto& [name, value] : tag.attributes) {
      if (!PlainAttributeName(name)) continue;
      out_ += ' ';
      out_ += name;
      out_ += "=\"";
      for (char c : value) {
        if (c == '"') {
          out_ += "&quot;";
        } else {
          out_ += c;
        }
      }
      out_ += '"';
    }
  }

  CleanCounts* counts_;
  std::string out_;
  std::vector<GumboTag> open_;
  std::array<size_t, GUMBO_TAG_LAST + 1> opened_{};  // how many of each element are open
  // The element being removed with its content, and how deep in it of the same element.
  GumboTag skipTag_ = GUMBO_TAG_UNKNOWN;
  size_t skipDepth_ = 0;
  // Start tags past kMaxDepth not written, by element: their end tags are not written either.
  std::unordered_map<int, size_t> unopened_;
};

// A URL attribute's value as the URL parser reads it: without the spaces and control characters
// around it and the tabs and line breaks inside it.
std::string PlainUrl(std::string_view value) {
  while (!value.empty() && static_cast<unsigned char>(value.front()) <= ' ') value.remove_prefix(1);
  while (!value.empty() && static_cast<unsigned char>(value.back()) <= ' ') value.remove_suffix(1);
  std::string url;
  for (char c : value) {
    if (c != '\t' && c != '\n' && c != '\r') url += c;
  }
  return url;
}

// The URL's scheme in lower case; empty when it has none (a relative URL).
std::string SchemeOf(std::string_view url) {
  if (url.empty() || !IsAsciiLetter(url[0])) return {};
  for (size_t i = 1; i < url.size(); ++i) {
    const char c = url[i];
    if (c == ':') {
      std::string scheme(url.substr(0, i));
      for (char& s : scheme) s = AsciiLower(s);
      return scheme;
    }
    if (!IsAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '-' && c != '.') break;
  }
  return {};
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = AsciiLower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// The file of the message's part that a cid: URL names, as the caller maps it; nullopt for any
// other URL, an unknown part, or a mapping that is not a relative path.
std::optional<std::string> PartFile(std::string_view value, const CidResolver& resolve) {
  const std::string url = PlainUrl(value);
  if (!resolve || SchemeOf(url) != "cid") return std::nullopt;
  std::string id;  // RFC 2392: the Content-ID, %hh-encoded
  for (size_t i = 4; i < url.size(); ++i) {
    if (url[i] == '%' && i + 2 < url.size() && HexValue(url[i + 1]) >= 0 &&
        HexValue(url[i + 2]) >= 0) {
      id += static_cast<char>(HexValue(url[i + 1]) * 16 + HexValue(url[i + 2]));
      i += 2;
    } else {
      id += url[i];
    }
  }
  if (id.size() >= 2 && id.front() == '<' && id.back() == '>') id = id.substr(1, id.size() - 2);
  if (id.empty()) return std::nullopt;
  std::optional<std::string> file = resolve(id);
  if (!file || file->empty() || !SchemeOf(*file).empty() || file->front() == '/' ||
      file->find('\\') != std::string::npos)
    return std::nullopt;
  return file;
}

// A link that stays: http, https and mailto, as the URL parser reads them.
std::optional<std::string> LinkUrl(std::string_view value) {
  std::string url = PlainUrl(value);
  const std::string scheme = SchemeOf(url);
  if (scheme != "http" && scheme != "https" && scheme != "mailto") return std::nullopt;
  return url;
}

// A style attribute's declarations that stay: listed properties, with values made only of
// words, numbers, lengths, colours (#rgb) and quoted names. Without '(' no function (url(),
// image-set(), expression(), rgb()) survives, without '\' no escape, without '/' no comment, and
// without ':', ';', '@', '{', '<' nothing can end the declaration or the attribute early.
std::string CleanStyle(std::string_view style, size_t* dropped) {
  static constexpr std::array<std::string_view, 44> kProperties = {
      "color",           "background",      "background-color", "font",           "font-family",
      "font-size",       "font-style",      "font-weight",      "font-variant",   "text-align",
      "text-decoration", "text-indent",     "text-transform",   "vertical-align", "line-height",
      "letter-spacing",  "word-spacing",    "white-space",      "direction",      "margin",
      "margin-top",      "margin-right",    "margin-bottom",    "margin-left",    "padding",
      "padding-top",     "padding-right",   "padding-bottom",   "padding-left",   "border",
      "border-top",      "border-right",    "border-bottom",    "border-left",    "border-color",
      "border-style",    "border-width",    "border-collapse",  "border-spacing", "width",
      "height",          "list-style-type", "text-align-last",  "display"};
  auto trim = [](std::string_view s) {
    while (!s.empty() && IsHtmlSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsHtmlSpace(s.back())) s.remove_suffix(1);
    return s;
  };
  std::string out;
  size_t at = 0;
  while (at <= style.size()) {
    size_t semicolon = style.find(';', at);
    if (semicolon == std::string_view::npos) semicolon = style.size();
    const std::string_view declaration = trim(style.substr(at, semicolon - at));
    at = semicolon + 1;
    if (declaration.empty()) continue;
    const size_t colon = declaration.find(':');
    std::string property(trim(declaration.substr(0, colon)));
    for (char& c : property) c = AsciiLower(c);
    std::string value(colon == std::string_view::npos ? std::string_view()
                                                      : trim(declaration.substr(colon + 1)));
    const bool plain = std::all_of(value.begin(), value.end(), [](char c) {
      return IsAsciiLetter(c) || (c >= '0' && c <= '9') || IsHtmlSpace(c) ||
             static_cast<unsigned char>(c) >= 0x80 ||
             std::string_view("#%.,-+!'\"").find(c) != std::string_view::npos;
    });
    if (value.empty() || !plain ||
        std::find(kProperties.begin(), kProperties.end(), property) == kProperties.end()) {
      ++*dropped;
      continue;
    }
    for (char& c : value) {
      if (IsHtmlSpace(c)) c = ' ';
    }
    if (!out.empty()) out += "; ";
    out += property + ": " + value;
  }
  return out;
}

void AppendText(std::string_view text, std::string* out) {
  for (char c : text) {
    switch (c) {
      case '&':
        *out += "&amp;";
        break;
      case '<':
        *out += "&lt;";
        break;
      case '>':
        *out += "&gt;";
        break;
      default:
        *out += c;
    }
  }
}

// The second pass: the parser's tree written again, element by element from the allow-list,
// without recursion.
class Writer {
 public:
  // `files`: the files the resolver gave; with `again`, the markup is the cleaner's own, and the
  // images kept are those that name one of them.
  Writer(const CidResolver& resolve, std::set<std::string>* files, bool again, CleanCounts* counts)
      : resolve_(resolve), files_(files), again_(again), counts_(counts) {}

  std::string Write(const GumboNode* body) {
    out_ += "<body";
    if (body != nullptr) WriteAttributes(body);
    out_ += '>';
    struct Frame {
      const GumboNode* node;
      size_t next;    // the next child to write
      bool closeTag;  // whether the element's end tag is written
    };
    std::vector<Frame> stack;
    if (body != nullptr) stack.push_back({body, 0, false});
    while (!stack.empty()) {
      Frame& frame = stack.back();
      const GumboVector& children = frame.node->v.element.children;
      if (frame.next == children.length) {
        if (frame.closeTag) {
          out_ += "</";
          out_ += gumbo_normalized_tagname(frame.node->v.element.tag);
          out_ += '>';
        }
        stack.pop_back();
        continue;
      }
      const auto* child = static_cast<const GumboNode*>(children.data[frame.next++]);
      switch (child->type) {
        case GUMBO_NODE_TEXT:
        case GUMBO_NODE_WHITESPACE:
          AppendText(child->v.text.text, &out_);
          break;
        case GUMBO_NODE_ELEMENT: {
          bool opened = false;
          if (Element(child, &opened)) stack.push_back({child, 0, opened});
          break;
        }
        default:  // comments, CDATA, templates
          break;
      }
    }
    out_ += "</body>";
    return std::move(out_);
  }

 private:
  // Writes the start of `element` when it stays (*opened then says whether an end tag is due);
  // returns whether its children are to be written.
  bool Element(const GumboNode* element, bool* opened) {
    const GumboTag tag = element->v.element.tag;
    const Kind kind =
        element->v.element.tag_namespace == GUMBO_NAMESPACE_HTML ? KindOf(tag) : Kind::kDrop;
    if (kind == Kind::kUnwrap || kind == Kind::kBody) return true;
    if (kind != Kind::kKeep && kind != Kind::kVoid) {
      ++counts_->droppedElements;
      return false;
    }
    std::optional<std::string> image;
    if (tag == GUMBO_TAG_IMG) {
      const GumboAttribute* src = gumbo_get_attribute(&element->v.element.attributes, "src");
      if (src != nullptr) image = Image(src->value);
      if (!image) {
        ++counts_->droppedImages;
        return false;
      }
    }
    out_ += '<';
    out_ += gumbo_normalized_tagname(tag);
    WriteAttributes(element);
    out_ += '>';
    if (kind == Kind::kVoid) return false;
    *opened = true;
    // The parser drops a newline right after <pre>: one more keeps the text's own.
    const GumboVector& children = element->v.element.children;
    if (tag == GUMBO_TAG_PRE && children.length > 0) {
      const auto* first = static_cast<const GumboNode*>(children.data[0]);
      if ((first->type == GUMBO_NODE_TEXT || first->type == GUMBO_NODE_WHITESPACE) &&
          first->v.text.text[0] == '\n')
        out_ += '\n';
    }
    return true;
  }

  void WriteAttributes(const GumboNode* element) {
    const GumboTag tag = element->v.element.tag;
    const GumboVector& attributes = element->v.element.attributes;
    for (unsigned i = 0; i < attributes.length; ++i) {
      const auto* attribute = static_cast<const GumboAttribute*>(attributes.data[i]);
      const std::string_view name = attribute->name;
      if (tag == GUMBO_TAG_A && (name == "rel" || name == "target")) continue;  // set below
      std::optional<std::string> value;
      if (!AttributeAllowed(tag, name)) {
        // dropped below
      } else if (name == "href") {
        value = LinkUrl(attribute->value);
      } else if (name == "src" || name == "background") {
        value = Image(attribute->value);
        if (!value && name == "background") ++counts_->droppedImages;
      } else if (name == "style") {
        value = CleanStyle(attribute->value, &counts_->droppedAttributes);
        if (value->empty()) continue;
      } else {
        value = attribute->value;
      }
      if (!value) {
        ++counts_->droppedAttributes;
        continue;
      }
      out_ += ' ';
      out_ += name;
      out_ += "=\"";
      out_ += EscapeAttribute(*value);
      out_ += '"';
      if (name == "href") out_ += R"( target="_blank" rel="noopener noreferrer")";
    }
  }

  std::optional<std::string> Image(std::string_view value) {
    if (again_) {
      if (files_->count(std::string(value)) == 0) return std::nullopt;
      return std::string(value);
    }
    std::optional<std::string> file = PartFile(value, resolve_);
    if (file) files_->insert(*file);
    return file;
  }

  const CidResolver& resolve_;
  std::set<std::string>* files_;
  bool again_;
  CleanCounts* counts_;
  std::string out_;
};

const GumboNode* BodyOf(const GumboOutput* output) {
  const GumboVector& children = output->root->v.element.children;
  for (unsigned i = 0; i < children.length; ++i) {
    const auto* child = static_cast<const GumboNode*>(children.data[i]);
    if (child->type == GUMBO_NODE_ELEMENT && child->v.element.tag == GUMBO_TAG_BODY) return child;
  }
  return nullptr;
}

// One pass of the cleaner: `text` read, parsed and written again.
std::string CleanOnce(std::string_view text, const CidResolver& resolve,
                      std::set<std::string>* files, bool again, CleanCounts* counts) {
  const std::string markup = Reader(counts).Read(text);
  GumboOptions options = kGumboDefaultOptions;
  options.max_errors = 0;  // each error would keep a copy of the open elements
  std::unique_ptr<GumboOutput, void (*)(GumboOutput*)> output(
      gumbo_parse_with_options(&options, markup.data(), markup.size()),
      [](GumboOutput* parsed) { gumbo_destroy_output(&kGumboDefaultOptions, parsed); });
  return Writer(resolve, files, again, counts).Write(BodyOf(output.get()));
}

}  // namespace

CleanedHtml CleanHtml(std::string_view html, const CidResolver& resolve) {
  CleanedHtml result;
  std::set<std::string> files;
  result.html = CleanOnce(ValidUtf8(html), resolve, &files, false, &result.counts);
  // Some trees the parser builds from broken markup (a list item moved out of a table into a
  // paragraph, say) read back as other trees: the result is cleaned again until it reads back
  // as itself, so that what the frame shows is what was checked, and cleaning it is a no-op.
  for (int pass = 0; pass < 3; ++pass) {
    std::string again = CleanOnce(result.html, resolve, &files, true, &result.counts);
    if (again == result.html) break;
    result.html = std::move(again);
  }
  return result;
}

std::string EscapeAttribute(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace quillon::html
