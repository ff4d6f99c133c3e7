// A message's HTML body made safe to show: tokenized as HTML is, parsed into a tree by gumbo (an
// HTML5 parser, so tables, implied and misnested tags come out as a browser builds them), and
// rebuilt from an allow-list of the elements and attributes a mail's text needs.
//
// What the result can no longer do:
// - run anything: no script, no event handler (on*), no javascript:/vbscript: URL, no
//   element that embeds or frames (iframe, object, embed, applet), no form or control;
// - fetch anything: no remote image, no srcset, no <link>, <base> or <meta>, no stylesheet
//   (<style> is dropped whole; a style attribute keeps only declarations of listed properties
//   whose values hold no function, escape, comment or at-rule, so no url(), image-set(),
//   expression() or @import survives), images only from the message's own cid: parts, through
//   the caller's mapping to a file of the archive;
// - change what it means when parsed again: SVG and MathML content is never copied (its
//   parsing rules differ from HTML's), comments and CDATA are dropped, every text and attribute
//   value is escaped, and the result is cleaned again until it reads back as itself.
// Links to http, https and mailto stay, inert until clicked: they open outside the message's
// frame (target="_blank") and tell the page they lead to nothing (rel="noopener noreferrer").
//
// Cost stays linear in the body's size: the body is first tokenized and written again with every
// element closed and none nested deeper than kMaxDepth (deeper start tags are removed, their text
// kept), as HTML parsers do work proportional to the depth for each tag and each run of text;
// the tree is walked without recursion.
#ifndef QUILLON_HTML_HTML_CLEANER_H_
#define QUILLON_HTML_HTML_CLEANER_H_

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::html {

// The deepest nesting of elements kept. Mail nests a few dozen levels (each reply quoted in a
// reply adds two or three).
inline constexpr size_t kMaxDepth = 256;

// Maps a cid: reference's Content-ID (percent-decoded, without "cid:" and angle brackets) to
// the file that holds the part, relative to the page the cleaned body is shown in and written
// as a URL path ("parts/1.jpg"); nullopt when the message has no such part.
using CidResolver = std::function<std::optional<std::string>(std::string_view contentId)>;

// What the cleaner removed, for the archive's notes.
struct CleanCounts {
  size_t droppedImages = 0;      // images and backgrounds not from one of the message's parts
  size_t droppedElements = 0;    // elements removed with everything inside them
  size_t droppedAttributes = 0;  // attributes (and style declarations) removed
  size_t flattenedTags = 0;      // start tags deeper than kMaxDepth, removed
};

struct CleanedHtml {
  std::string html;  // "<body ...>...</body>", UTF-8
  CleanCounts counts;
};

// The body `html` (UTF-8; bytes that are not are read as U+FFFD) cleaned. `resolve` may be
// empty: no image is kept then.
CleanedHtml CleanHtml(std::string_view html, const CidResolver& resolve);

// `text` escaped to stand inside a quoted attribute value (either quote), such as an iframe's
// srcdoc: & " ' < > become character references.
std::string EscapeAttribute(std::string_view text);

}  // namespace quillon::html

#endif  // QUILLON_HTML_HTML_CLEANER_H_
