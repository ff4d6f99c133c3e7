#include "html/testing/html_check.h"

#include <gumbo.h>

#include <algorithm>
#include <cctype>
#include <functional>
#include <memory>
#include <set>
#include <vector>

namespace quillon::html::testing {

namespace {

// Written apart from the cleaner's own lists, so that a name added there by mistake shows here.
const std::set<std::string, std::less<>>& MailElements() {
  static const std::set<std::string, std::less<>> names = {
      "html",     "head", "body",       "a",    "abbr",    "acronym", "address", "b",    "bdi",
      "bdo",      "big",  "blockquote", "br",   "caption", "center",  "cite",    "code", "col",
      "colgroup", "dd",   "del",        "dfn",  "div",     "dl",      "dt",      "em",   "font",
      "h1",       "h2",   "h3",         "h4",   "h5",      "h6",      "hr",      "i",    "img",
      "ins",      "kbd",  "li",         "mark", "nobr",    "ol",      "p",       "pre",  "q",
      "s",        "samp", "small",      "span", "strike",  "strong",  "sub",     "sup",  "table",
      "tbody",    "td",   "tfoot",      "th",   "thead",   "tr",      "tt",      "u",    "ul",
      "var",      "wbr"};
  return names;
}

const std::set<std::string, std::less<>>& MailAttributes() {
  static const std::set<std::string, std::less<>> names = {
      "align",   "valign",      "title",       "dir",     "lang",  "style",    "width",
      "height",  "border",      "hspace",      "vspace",  "alt",   "face",     "size",
      "color",   "cellpadding", "cellspacing", "bgcolor", "frame", "rules",    "colspan",
      "rowspan", "nowrap",      "span",        "start",   "type",  "reversed", "value",
      "noshade", "clear",       "text",        "link",    "vlink", "alink",    "href",
      "src",     "background",  "target",      "rel"};
  return names;
}

// The scheme of a URL as a browser finds it: after the characters up to a space dropped, and
// without tabs and line breaks; empty for none.
std::string BrowserScheme(std::string_view url) {
  std::string plain;
  for (char c : url) {
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (plain.empty() && static_cast<unsigned char>(c) <= ' ') continue;
    plain += c;
  }
  const size_t colon = plain.find(':');
  if (colon == std::string::npos) return {};
  std::string scheme = plain.substr(0, colon);
  for (char& c : scheme) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool valid =
      !scheme.empty() && std::isalpha(static_cast<unsigned char>(scheme[0])) &&
      std::all_of(scheme.begin(), scheme.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == '.';
      });
  return valid ? scheme : std::string();
}

std::string CheckAttribute(std::string_view element, const GumboAttribute& attribute,
                           const GumboElement& owner) {
  const std::string_view name = attribute.name;
  const std::string_view value = attribute.value;
  const std::string where =
      "<" + std::string(element) + " " + std::string(name) + "=\"" + std::string(value) + "\">: ";
  if (MailAttributes().count(name) == 0) return where + "attribute not on the list";
  if (name == "href") {
    const std::string scheme = BrowserScheme(value);
    if (scheme != "http" && scheme != "https" && scheme != "mailto")
      return where + "link to a scheme not allowed";
    const GumboAttribute* target = gumbo_get_attribute(&owner.attributes, "target");
    const GumboAttribute* rel = gumbo_get_attribute(&owner.attributes, "rel");
    if (target == nullptr || std::string_view(target->value) != "_blank" || rel == nullptr ||
        std::string_view(rel->value) != "noopener noreferrer")
      return where + "link without target=_blank and rel=noopener noreferrer";
  }
  if ((name == "target" || name == "rel") && element != "a") return where + "not on a link";
  if (name == "src" || name == "background") {
    if (value.substr(0, kPartFolder.size()) != kPartFolder || !BrowserScheme(value).empty())
      return where + "not one of the message's parts";
  }
  if (name == "style" && value.find_first_of("()\\/@{}<>") != std::string_view::npos)
    return where + "style with a function, escape, comment or rule";
  return {};
}

}  // namespace

std::optional<std::string> ResolveEveryPart(std::string_view contentId) {
  return std::string(kPartFolder) + std::string(contentId);
}

std::string CheckCleanedMarkup(std::string_view cleaned) {
  std::unique_ptr<GumboOutput, void (*)(GumboOutput*)> output(
      gumbo_parse_with_options(&kGumboDefaultOptions, cleaned.data(), cleaned.size()),
      [](GumboOutput* parsed) { gumbo_destroy_output(&kGumboDefaultOptions, parsed); });
  std::vector<const GumboNode*> pending = {output->root};
  while (!pending.empty()) {
    const GumboNode* node = pending.back();
    pending.pop_back();
    if (node->type == GUMBO_NODE_COMMENT) return "a comment: " + std::string(node->v.text.text);
    if (node->type == GUMBO_NODE_CDATA) return "a CDATA section";
    if (node->type != GUMBO_NODE_ELEMENT) continue;
    const GumboElement& element = node->v.element;
    const char* known = gumbo_normalized_tagname(element.tag);
    const std::string name = element.tag == GUMBO_TAG_UNKNOWN ? "(unknown)" : known;
    if (element.tag_namespace != GUMBO_NAMESPACE_HTML)
      return "<" + name + "> outside the HTML namespace";
    if (MailElements().count(name) == 0) return "<" + name + "> is not on the list";
    for (unsigned i = 0; i < element.attributes.length; ++i) {
      const std::string problem = CheckAttribute(
          name, *static_cast<const GumboAttribute*>(element.attributes.data[i]), element);
      if (!problem.empty()) return problem;
    }
    for (unsigned i = 0; i < element.children.length; ++i)
      pending.push_back(static_cast<const GumboNode*>(element.children.data[i]));
  }
  return {};
}

std::string CheckCleaner(std::string_view input) {
  for (const bool images : {true, false}) {
    const CidResolver resolve = images ? CidResolver(ResolveEveryPart) : CidResolver();
    const std::string label = images ? "with images: " : "without images: ";
    const CleanedHtml cleaned = CleanHtml(input, resolve);
    std::string problem = CheckCleanedMarkup(cleaned.html);
    if (!problem.empty()) return label + problem + "\nin: " + cleaned.html;
    if (images) continue;  // the archive's file names are not cid: URLs: cleaned again, they go
    const CleanedHtml again = CleanHtml(cleaned.html, resolve);
    if (again.html != cleaned.html)
      return label + "cleaned again, it changed:\n" + cleaned.html + "\nto\n" + again.html;
  }
  return {};
}

}  // namespace quillon::html::testing
