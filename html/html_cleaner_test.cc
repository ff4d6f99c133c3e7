#include "html/html_cleaner.h"

#include <gtest/gtest.h>
#include <gumbo.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "html/testing/html_check.h"
#include "text/utf8.h"

namespace quillon::html {
namespace {

// The payload file's entries, their escapes read as printf's %b reads them.
std::vector<std::string> Payloads() {
  std::ifstream file(QUILLON_HTML_PAYLOADS);
  std::vector<std::string> payloads;
  std::string line;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::string payload;
    for (size_t i = 0; i < line.size(); ++i) {
      if (line[i] != '\\' || i + 1 == line.size()) {
        payload += line[i];
        continue;
      }
      const char e = line[++i];
      if (e == 'n')
        payload += '\n';
      else if (e == 't')
        payload += '\t';
      else if (e == 'r')
        payload += '\r';
      else if (e == '\\')
        payload += '\\';
      else if (e == 'x' && i + 2 < line.size()) {
        payload += static_cast<char>(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        payload += '\\';
        payload += e;
      }
    }
    payloads.push_back(payload);
  }
  return payloads;
}

TEST(HtmlCleaner, EveryPayloadIsCleanedSafelyAndStaysCleanedAgain) {
  const std::vector<std::string> payloads = Payloads();
  ASSERT_GT(payloads.size(), 150u);
  for (const std::string& payload : payloads) {
    EXPECT_EQ(testing::CheckCleaner(payload), "") << "payload: " << payload;
    // The same inside an ordinary message, and repeated: what comes after a payload is not
    // swallowed into it nor turned into markup.
    EXPECT_EQ(testing::CheckCleaner("<div><font face=Arial>Hi</font></div>" + payload +
                                    "<p>after</p>" + payload),
              "")
        << "payload: " << payload;
  }
}

// The fuzzer's findings, replayed.
TEST(HtmlCleaner, FuzzerFindingsPassTheChecks) {
  size_t replayed = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUILLON_HTML_FINDINGS)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::string input((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    EXPECT_EQ(testing::CheckCleaner(input), "") << entry.path();
    ++replayed;
  }
  EXPECT_GT(replayed, 0u);
}

std::optional<std::string> TwoParts(std::string_view contentId) {
  if (contentId == "001a01c4$e5b6c840$0200a8c0@pc") return "parts/photo 1.jpg";
  if (contentId == "bg@stationery") return "parts/bg.gif";
  if (contentId == "sneaky") return "http://tracker.example/x.gif";  // a bad mapping
  return std::nullopt;
}

// Bodies as Outlook Express wrote them, and what is shown of them.
TEST(HtmlCleaner, OrdinaryMailKeepsItsMarkupExactly) {
  struct Case {
    const char* html;
    const char* cleaned;
    size_t droppedImages;
  };
  const Case cases[] = {
      {"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\">\r\n<HTML><HEAD>\r\n"
       "<META http-equiv=Content-Type content=\"text/html; charset=iso-8859-1\">\r\n"
       "<META content=\"MSHTML 6.00.2900.2180\" name=GENERATOR>\r\n<STYLE></STYLE>\r\n"
       "</HEAD>\r\n<BODY bgColor=#ffffff>\r\n<DIV><FONT face=Arial size=2>Hello "
       "Bob,</FONT></DIV>\r\n<DIV><FONT face=Arial size=2></FONT>&nbsp;</DIV>\r\n<DIV><FONT "
       "face=Arial size=2>See you &amp; bye.</FONT></DIV></BODY></HTML>\r\n",
       "<body bgcolor=\"#ffffff\">\n<div><font face=\"Arial\" size=\"2\">Hello "
       "Bob,</font></div>\n<div><font face=\"Arial\" size=\"2\"></font>\u00a0</div>\n<div><font "
       "face=\"Arial\" size=\"2\">See you &amp; bye.</font></div>\n</body>",
       0},
      // A reply: the quoted message in a bordered blockquote.
      {"<BODY><DIV>Yes.</DIV>\r\n<BLOCKQUOTE dir=ltr style=\"PADDING-RIGHT: 0px; PADDING-LEFT: "
       "5px; MARGIN-LEFT: 5px; BORDER-LEFT: #000000 2px solid; MARGIN-RIGHT: 0px\">\r\n"
       "<DIV style=\"FONT: 10pt arial\">----- Original Message ----- </DIV>\r\n<DIV "
       "style=\"BACKGROUND: #e4e4e4; FONT: 10pt arial; font-color: black\"><B>From:</B> <A "
       "title=ann@example.com href=\"mailto:ann@example.com\">Ann</A> </DIV></BLOCKQUOTE>"
       "</BODY>",
       "<body><div>Yes.</div>\n<blockquote dir=\"ltr\" style=\"padding-right: 0px; padding-left: "
       "5px; margin-left: 5px; border-left: #000000 2px solid; margin-right: 0px\">\n<div "
       "style=\"font: 10pt arial\">----- Original Message ----- </div>\n<div "
       "style=\"background: #e4e4e4; font: 10pt arial\"><b>From:</b> <a "
       "title=\"ann@example.com\" href=\"mailto:ann@example.com\" target=\"_blank\" "
       "rel=\"noopener noreferrer\">Ann</a> </div></blockquote></body>",
       0},
      // Inline images from the message's parts; one it does not have, one remote, one mapped
      // to a remote address.
      {"<DIV><IMG alt=\"\" hspace=0 src=\"cid:001a01c4$e5b6c840$0200a8c0@pc\" align=baseline "
       "border=0><IMG src=\"cid:missing@pc\"><IMG src=\"http://example.com/a.gif\">"
       "<IMG src=cid:sneaky></DIV>",
       "<body><div><img alt=\"\" hspace=\"0\" src=\"parts/photo 1.jpg\" align=\"baseline\" "
       "border=\"0\"></div></body>",
       3},
      // Stationery: a background picture, a table of fonts and colours.
      {"<BODY background=cid:bg@stationery bgColor=#ffffcc><TABLE cellSpacing=0 cellPadding=2 "
       "width=\"100%\" border=1 background=\"http://x.example/t.gif\"><TR><TD vAlign=top "
       "noWrap bgColor=#c0c0c0><FONT color=#ff0000 size=+1>Red</FONT></TD><TD>2</TD></TR>"
       "</TABLE></BODY>",
       "<body background=\"parts/bg.gif\" bgcolor=\"#ffffcc\"><table cellspacing=\"0\" "
       "cellpadding=\"2\" width=\"100%\" border=\"1\"><tbody><tr><td valign=\"top\" nowrap=\"\" "
       "bgcolor=\"#c0c0c0\"><font color=\"#ff0000\" size=\"+1\">Red</font></td><td>2</td></tr>"
       "</tbody></table></body>",
       1},
      // Lists, a link, a rule, preformatted text.
      {"<UL><LI>one<LI>two <A href=\"http://example.com/a?b=1&amp;c=2\" target=_top>site</A>"
       "</UL><HR><PRE>\n\n  indented\n</PRE>",
       "<body><ul><li>one</li><li>two <a href=\"http://example.com/a?b=1&amp;c=2\" "
       "target=\"_blank\" rel=\"noopener noreferrer\">site</a></li></ul><hr><pre>\n\n  "
       "indented\n</pre></body>",
       0},
  };
  for (const Case& c : cases) {
    const CleanedHtml cleaned = CleanHtml(c.html, TwoParts);
    EXPECT_EQ(cleaned.html, c.cleaned) << c.html;
    EXPECT_EQ(cleaned.counts.droppedImages, c.droppedImages) << c.html;
    EXPECT_EQ(cleaned.counts.flattenedTags, 0u) << c.html;
  }
}

TEST(HtmlCleaner, LinksKeepOnlyWebAndMailAddresses) {
  struct Case {
    const char* href;
    const char* kept;  // nullptr: the link loses its address
  };
  const Case cases[] = {
      {"http://example.com/", "http://example.com/"},
      {"HTTPS://Example.com/x", "HTTPS://Example.com/x"},
      {" \thttp://exa\nmple.com/ ", "http://example.com/"},
      {"mailto:a@example.com", "mailto:a@example.com"},
      {"javascript:alert(1)", nullptr},
      {"java\tscript:alert(1)", nullptr},
      {"\x01javascript:alert(1)", nullptr},
      {"&#x6A;avascript:alert(1)", nullptr},
      {"vbscript:x", nullptr},
      {"data:text/html,x", nullptr},
      {"ftp://example.com/", nullptr},
      {"//example.com/", nullptr},
      {"page.html", nullptr},
      {"#top", nullptr},
      {"http:", "http:"},
  };
  for (const Case& c : cases) {
    const std::string cleaned =
        CleanHtml(std::string("<a href=\"") + c.href + "\">x</a>", nullptr).html;
    const std::string expected =
        c.kept == nullptr ? "<body><a>x</a></body>"
                          : std::string("<body><a href=\"") + c.kept +
                                "\" target=\"_blank\" rel=\"noopener noreferrer\">x</a></body>";
    EXPECT_EQ(cleaned, expected) << c.href;
  }
}

TEST(HtmlCleaner, StyleKeepsListedPropertiesWithPlainValues) {
  struct Case {
    const char* style;
    const char* kept;  // nullptr: no style attribute left
    size_t dropped;
  };
  const Case cases[] = {
      {"COLOR: red; FONT-SIZE: 10pt", "color: red; font-size: 10pt", 0},
      {"font-family: 'Times New Roman', \"Arial\"",
       "font-family: &#39;Times New Roman&#39;, "
       "&quot;Arial&quot;",
       0},
      {"color: #1F497D !important;;", "color: #1F497D !important", 0},
      {"background: url(http://x/)", nullptr, 1},
      {"background:u\\72l(x)", nullptr, 1},
      {"width: expression(alert(1)); color: red", "color: red", 1},
      {"color: red; position: fixed", "color: red", 1},
      {"color: rgb(1,2,3)", nullptr, 1},
      {"color: red /* x */", nullptr, 1},
      {"behavior: x; -moz-binding: y", nullptr, 2},
      {"color", nullptr, 1},
      {"margin:\n0px\t1px", "margin: 0px 1px", 0},
  };
  for (const Case& c : cases) {
    const CleanedHtml cleaned = CleanHtml(
        std::string("<span style=\"") + EscapeAttribute(c.style) + "\">x</span>", nullptr);
    const std::string expected =
        c.kept == nullptr ? "<body><span>x</span></body>"
                          : std::string("<body><span style=\"") + c.kept + "\">x</span></body>";
    EXPECT_EQ(cleaned.html, expected) << c.style;
    EXPECT_EQ(cleaned.counts.droppedAttributes, c.dropped) << c.style;
  }
}

// Deep nesting and a megabyte of unclosed tags: the parser gets a bounded depth, the text stays,
// and the result is checked like any other (its writing is not recursive: the check reads it).
TEST(HtmlCleaner, DeepAndUnclosedMarkupKeepsItsTextAndCleansSafely) {
  for (const std::string unit :
       {"<div>x", "<b><div>x", "<font size=1><table><tr><td>x", "<span><div></span>x",
        "<p><font a=1>x", "<li><ul>x", "<a href=http://a/>x", "<svg><div>x"}) {
    std::string body;
    while (body.size() < (1u << 20)) body += unit;
    const size_t units = body.size() / unit.size();
    const CleanedHtml cleaned = CleanHtml(body, nullptr);
    EXPECT_EQ(testing::CheckCleanedMarkup(cleaned.html), "") << unit;
    const size_t xs = std::count(cleaned.html.begin(), cleaned.html.end(), 'x');
    if (unit.find("<svg>") == std::string::npos) {
      EXPECT_EQ(xs, units) << unit;
    } else {
      EXPECT_EQ(xs, 0u) << unit;  // inside the first <svg>, which is never closed
    }
  }
  std::string nested;
  for (int i = 0; i < 100000; ++i) nested += "<div>";
  nested += "deep";
  for (int i = 0; i < 100000; ++i) nested += "</div>";
  nested += "after";
  const CleanedHtml cleaned = CleanHtml(nested, nullptr);
  EXPECT_EQ(cleaned.counts.flattenedTags, 100000u - kMaxDepth);
  std::string expected = "<body>";
  for (size_t i = 0; i < kMaxDepth; ++i) expected += "<div>";
  expected += "deep";
  for (size_t i = 0; i < kMaxDepth; ++i) expected += "</div>";
  EXPECT_EQ(cleaned.html, expected + "after</body>");
}

TEST(HtmlCleaner, InvalidUtf8IsReadAsReplacementCharacters) {
  const std::string cleaned = CleanHtml("a\xff<b>\xc3\x28</b>\xe2\x82", nullptr).html;
  EXPECT_EQ(cleaned, "<body>a\xef\xbf\xbd<b>\xef\xbf\xbd(</b>\xef\xbf\xbd\xef\xbf\xbd</body>");
  EXPECT_EQ(ValidUtf8(cleaned), cleaned);
}

// What EscapeAttribute writes reads back, inside either quote, as the text it was given: the
// cleaned body placed in srcdoc is the body the frame parses.
TEST(HtmlCleaner, EscapedAttributeReadsBackUnchanged) {
  EXPECT_EQ(EscapeAttribute("a&b\"c'd<e>f"), "a&amp;b&quot;c&#39;d&lt;e&gt;f");
  std::vector<std::string> texts = {"\"><script>alert(1)</script>",
                                    "'><img src=x onerror=1>",
                                    "&quot;&amp;&lt;",
                                    "&",
                                    "&amp",
                                    "plain",
                                    "\xe4\xb8\xad"};
  for (const std::string& payload : Payloads())
    texts.push_back(CleanHtml(payload, testing::ResolveEveryPart).html);
  for (const std::string& text : texts) {
    for (const char quote : {'"', '\''}) {
      const std::string page = std::string("<iframe sandbox srcdoc=") + quote +
                               EscapeAttribute(text) + quote + "></iframe><p>end</p>";
      GumboOutput* output = gumbo_parse(page.c_str());
      const GumboNode* body =
          static_cast<const GumboNode*>(output->root->v.element.children.data[1]);
      ASSERT_EQ(body->v.element.children.length, 2u) << text;
      const auto* iframe = static_cast<const GumboNode*>(body->v.element.children.data[0]);
      const GumboAttribute* srcdoc = gumbo_get_attribute(&iframe->v.element.attributes, "srcdoc");
      ASSERT_NE(srcdoc, nullptr) << text;
      EXPECT_EQ(std::string(srcdoc->value), text);
      gumbo_destroy_output(&kGumboDefaultOptions, output);
    }
  }
}

}  // namespace
}  // namespace quillon::html
