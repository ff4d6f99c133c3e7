#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mime/attachment_names.h"
#include "mime/message_parts.h"

namespace quillon::mime {
namespace {

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t group = static_cast<uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size()) group |= static_cast<uint8_t>(bytes[i + 2]);
    out += kDigits[group >> 18];
    out += kDigits[(group >> 12) & 63];
    out += i + 1 < bytes.size() ? kDigits[(group >> 6) & 63] : '=';
    out += i + 2 < bytes.size() ? kDigits[group & 63] : '=';
  }
  return out;
}

std::string Le16(uint16_t value) {
  return {static_cast<char>(value), static_cast<char>(value >> 8)};
}
std::string Le32(uint32_t value) { return Le16(static_cast<uint16_t>(value)) + Le16(value >> 16); }

// One TNEF attribute: level, id (type << 16 | id), length, data, checksum.
std::string TnefAttribute(uint8_t level, uint32_t id, const std::string& data) {
  uint16_t sum = 0;
  for (const char c : data) sum = static_cast<uint16_t>(sum + static_cast<uint8_t>(c));
  return std::string(1, static_cast<char>(level)) + Le32(id) + Le32(data.size()) + data + Le16(sum);
}

// A winmail.dat holding one file.
std::string Winmail(const std::string& title, const std::string& data) {
  return Le32(0x223E9F78) + Le16(1) + TnefAttribute(1, 0x00089006, Le32(0x10000)) +  // version
         TnefAttribute(2, 0x00069002, std::string(14, '\0')) +  // rendering: a new attachment
         TnefAttribute(2, 0x00018010, title + '\0') +           // its title
         TnefAttribute(2, 0x0006800F, data);                    // its data
}

std::string Message(const std::string& headers, const std::string& body) {
  return "From: a@example.com\nSubject: test\nMIME-Version: 1.0\n" + headers + "\n" + body;
}

struct HeaderCase {
  const char* what;
  std::string subject;  // raw bytes
  std::string charset;  // of the message's Content-Type; empty for none
  uint32_t codePage;
  std::string expected;
};

TEST(MimeHeaders, SubjectDecodedToUtf8) {
  const HeaderCase cases[] = {
      {"RFC 2047 B", "=?utf-8?B?w6lsw6h2ZQ==?=", "", 1252, "\xC3\xA9l\xC3\xA8ve"},
      {"RFC 2047 Q and plain text", "=?iso-8859-1?Q?caf=E9?= au lait", "", 1251,
       "caf\xC3\xA9 au lait"},
      {"adjacent words joined", "=?utf-8?Q?a?= =?utf-8?Q?b?=", "", 1252, "ab"},
      {"gb2312 word read as GB18030", "=?gb2312?B?" + Base64("\xE9\x46") + "?=", "", 1252,
       "\xE9\x95\x95"},
      {"GB2312 in text left alone", "gb2312 =?GB2312?Q?=D6=D0?= =gb2312'", "", 1252,
       "gb2312 \xE4\xB8\xAD =gb2312'"},
      {"8-bit in the declared charset", "\xCF\xF0\xE8\xE2\xE5\xF2", "windows-1251", 1252,
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"8-bit in koi8-r", "\xF0\xD2\xC9\xD7\xC5\xD4", "koi8-r", 1252,
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"8-bit, no charset: the code page", "\xE9t\xE9 \x80", "", 1252,
       "\xC3\xA9t\xC3\xA9 \xE2\x82\xAC"},
      {"8-bit, no charset, valid UTF-8", "\xC3\xA9t\xC3\xA9", "", 1251, "\xC3\xA9t\xC3\xA9"},
      {"invalid in the declared utf-8: the code page", "\xE9t\xE9", "utf-8", 1252,
       "\xC3\xA9t\xC3\xA9"},
      {"8-bit GBK, code page 936", "\xD6\xD0\xCE\xC4", "", 936, "\xE4\xB8\xAD\xE6\x96\x87"},
      {"a byte the code page lacks", "a\x81z", "", 1252, "a\xEF\xBF\xBDz"},
  };
  for (const HeaderCase& c : cases) {
    const std::string type =
        "Content-Type: text/plain" + (c.charset.empty() ? "" : "; charset=" + c.charset) + "\n";
    const MessageParts parts = TakeApart(
        "From: a@example.com\nSubject: " + c.subject + "\nMIME-Version: 1.0\n" + type + "\nx\n",
        c.codePage);
    EXPECT_EQ(parts.subject, c.expected) << c.what;
  }
}

TEST(MimeHeaders, AddressesDateAndIds) {
  const MessageParts parts = TakeApart(
      "From: =?utf-8?Q?Jos=C3=A9?= <jose@example.com>\n"
      "To: a@example.org,\n \"B, C\" <b@example.org>\n"
      "Cc: \"=?iso-8859-1?Q?M=FCller?=\" <m@example.de>\n"
      "Date: Tue, 1 Jun 2004 10:00:00 +0200\n"
      "Subject: folded\n subject\n"
      "Message-ID: <1@example.com>\n"
      "References: <0@example.com>\n <00@example.com>\n"
      "In-Reply-To: <0@example.com>\n\nbody\n",
      1252);
  EXPECT_EQ(parts.from, "Jos\xC3\xA9 <jose@example.com>");
  EXPECT_EQ(parts.to, "a@example.org, \"B, C\" <b@example.org>");
  EXPECT_EQ(parts.cc, "M\xC3\xBCller <m@example.de>");
  EXPECT_EQ(parts.date, "Tue, 1 Jun 2004 10:00:00 +0200");
  ASSERT_TRUE(parts.time.has_value());
  EXPECT_EQ(*parts.time, 1086076800);
  EXPECT_EQ(parts.subject, "folded subject");
  EXPECT_EQ(parts.messageId, "<1@example.com>");
  EXPECT_EQ(parts.references, "<0@example.com> <00@example.com>");
  EXPECT_EQ(parts.inReplyTo, "<0@example.com>");
  EXPECT_EQ(parts.text, "body\n");
  EXPECT_TRUE(parts.attachments.empty());
  EXPECT_FALSE(TakeApart("Subject: x\nDate: someday\n\nx", 1252).time.has_value());
}

struct BodyCase {
  const char* what;
  std::string message;
  uint32_t codePage;
  std::string text, html;
  std::vector<std::string> inlineIds;    // "id=bytes"
  std::vector<std::string> attachments;  // "name|type|bytes"
};

std::vector<std::string> Describe(const std::vector<Part>& parts, bool byId) {
  std::vector<std::string> out;
  for (const Part& part : parts) {
    out.push_back(byId ? part.contentId + "=" + part.bytes
                       : part.name + "|" + part.type + "|" + part.bytes);
  }
  return out;
}

TEST(MimeBodies, ShownTextHtmlInlineAndAttachments) {
  const std::string alternative =
      "Content-Type: multipart/alternative; boundary=\"alt\"\n\n"
      "--alt\nContent-Type: text/plain; charset=iso-8859-1\n"
      "Content-Transfer-Encoding: quoted-printable\n\nPlain caf=E9\n"
      "--alt\nContent-Type: text/html; charset=utf-8\nContent-Transfer-Encoding: base64\n\n" +
      Base64("<p>Rich caf\xC3\xA9</p>") + "\n--alt--\n";
  const std::string related =
      "Content-Type: multipart/alternative; boundary=\"alt\"\n\n"
      "--alt\nContent-Type: text/plain\n\nsee picture\n"
      "--alt\nContent-Type: multipart/related; boundary=\"rel\"; start=\"<root@x>\"\n\n"
      "--rel\nContent-Type: image/png\nContent-ID: <logo@x>\nContent-Transfer-Encoding: "
      "base64\n\n" +
      Base64(std::string("\x89PNG\0\x01", 6)) +
      "\n--rel\nContent-Type: text/html\nContent-ID: <root@x>\n\n<img src=\"cid:logo@x\">\n"
      "--rel\nContent-Type: application/octet-stream\n\nloose\n"
      "--rel--\n--alt--\n";
  const std::string mixed =
      "Content-Type: multipart/mixed; boundary=\"mix\"\n\n"
      "preamble\n--mix\nContent-Type: text/plain; charset=koi8-r\nContent-Transfer-Encoding: "
      "8bit\n\n"
      "\xF0\xD2\xC9\xD7\xC5\xD4\n"
      "--mix\nContent-Type: application/pdf\nContent-Transfer-Encoding: base64\n\n" +
      Base64("%PDF-1.4") +
      "\n--mix\nContent-Type: text/plain; name=\"notes.txt\"\nContent-Disposition: attachment\n\n"
      "a note\n"
      "--mix\nContent-Type: text/plain\n\nsecond text\n"
      "--mix\nContent-Type: image/gif; name=\"a.gif\"\nContent-ID: <g@x>\n"
      "Content-Transfer-Encoding: x-uuencode\n\nbegin 644 a.gif\n"
      "$1TE&.```\n`\nend\n"
      "--mix--\nepilogue\n";
  const std::string uuencoded =
      "Content-Type: text/plain\n\nBefore\nbegin 644 hello.txt\n"
      "82&5L;&\\L('5U96YC;V1E9\"!W;W)L9\"$*\n`\nend\nAfter\n"
      "begin 600 two words.bin\n#86)C\n`\nend\n";
  const BodyCase cases[] = {
      {"alternative: both bodies",
       Message(alternative, ""),
       1252,
       "Plain caf\xC3\xA9",
       "<p>Rich caf\xC3\xA9</p>",
       {},
       {}},
      {"related html with a cid image",
       Message(related, ""),
       1252,
       "see picture",
       "<img src=\"cid:logo@x\">",
       {std::string("logo@x=\x89PNG\0\x01", 13)},
       {"attachment.bin|application/octet-stream|loose"}},
      {"mixed: first text shown, the rest attached",
       Message(mixed, ""),
       1252,
       "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82",
       "",
       {},
       {"attachment.pdf|application/pdf|%PDF-1.4", "notes.txt|text/plain|a note",
        "attachment.txt|text/plain|second text", "a.gif|image/gif|GIF8"}},
      {"html only",
       Message("Content-Type: text/html; charset=windows-1252\n", "<b>\x93hi\x94</b>"),
       1251,
       "",
       "<b>\xE2\x80\x9Chi\xE2\x80\x9D</b>",
       {},
       {}},
      {"uuencoded blocks in the text",
       Message(uuencoded, ""),
       1252,
       "Before\nAfter\n\n",
       "",
       {},
       {"hello.txt|application/octet-stream|Hello, uuencoded world!\n",
        "two words.bin|application/octet-stream|abc"}},
      {"only an attachment",
       Message("Content-Type: application/zip\nContent-Transfer-Encoding: base64\n", Base64("PK")),
       1252,
       "",
       "",
       {},
       {"attachment.zip|application/zip|PK"}},
  };
  for (const BodyCase& c : cases) {
    const MessageParts parts = TakeApart(c.message, c.codePage);
    EXPECT_EQ(parts.text, c.text) << c.what;
    EXPECT_EQ(parts.html, c.html) << c.what;
    EXPECT_EQ(Describe(parts.inlineParts, true), c.inlineIds) << c.what;
    EXPECT_EQ(Describe(parts.attachments, false), c.attachments) << c.what;
    EXPECT_FALSE(parts.limited) << c.what;
  }
  const MessageParts withImage = TakeApart(Message(related, ""), 1252);
  ASSERT_NE(withImage.FindContentId("<logo@x>"), nullptr);
  EXPECT_EQ(withImage.FindContentId("logo@x")->type, "image/png");
  EXPECT_EQ(withImage.FindContentId("root@x"), nullptr);  // the shown root is no part
}

struct NameCase {
  const char* what;
  std::string headers;
  uint32_t codePage;
  std::string expected;
};

TEST(MimeAttachments, NamesAsSent) {
  const NameCase cases[] = {
      {"RFC 2231 with charset and continuations",
       "Content-Type: application/pdf\nContent-Disposition: attachment;\n"
       " filename*0*=utf-8''r%C3%A9sum;\n filename*1*=%C3%A9.pdf\n",
       1252, "r\xC3\xA9sum\xC3\xA9.pdf"},
      {"RFC 2231 plain continuations",
       "Content-Type: application/pdf\nContent-Disposition: attachment;\n"
       " filename*0=\"long \"; filename*1=\"name.pdf\"\n",
       1252, "long name.pdf"},
      {"RFC 2047 in a quoted name",
       "Content-Type: application/pdf; name=\"=?iso-8859-1?Q?r=E9sum=E9.pdf?=\"\n", 1252,
       "r\xC3\xA9sum\xC3\xA9.pdf"},
      {"8-bit name in the code page",
       "Content-Type: application/octet-stream\nContent-Disposition: attachment; "
       "filename=\"\xCF\xF0\xE8.doc\"\n",
       1251, "\xD0\x9F\xD1\x80\xD0\xB8.doc"},
      {"filename before name",
       "Content-Type: image/jpeg; name=\"type.jpg\"\nContent-Disposition: attachment; "
       "filename=\"disposition.jpg\"\n",
       1252, "disposition.jpg"},
      {"no name: from the type", "Content-Type: image/jpeg\nContent-Disposition: attachment\n",
       1252, "attachment.jpg"},
      {"unknown type", "Content-Type: application/x-whatever\n", 1252, "attachment.bin"},
  };
  for (const NameCase& c : cases) {
    const MessageParts parts = TakeApart(
        Message("Content-Type: multipart/mixed; boundary=b\n",
                "--b\nContent-Type: text/plain\n\nbody\n--b\n" + c.headers + "\ndata\n--b--\n"),
        c.codePage);
    ASSERT_EQ(parts.attachments.size(), 1u) << c.what;
    EXPECT_EQ(parts.attachments[0].name, c.expected) << c.what;
    EXPECT_EQ(parts.attachments[0].bytes, "data") << c.what;
  }
}

std::string WithCrLf(const std::string& text) {
  std::string out;
  for (const char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
}

// The forwarded message's .eml is its bytes as they stand, in either line ending; its own
// attachments are walked, its body and inline image stay in the .eml.
TEST(MimeAttachments, ForwardedMessageAndWinmail) {
  const std::string forwarded =
      "From: b@example.com\nSubject: Inner\nContent-Type: multipart/mixed; boundary=in\n\n"
      "--in\nContent-Type: multipart/related; boundary=rel\n\n"
      "--rel\nContent-Type: text/html\n\n<img src=\"cid:i@x\">\n"
      "--rel\nContent-Type: image/gif\nContent-ID: <i@x>\n\nGIF8\n--rel--\n"
      "--in\nContent-Type: text/plain; name=inner.txt\n\ninner attachment\n--in--\n";
  const std::string winmail = Winmail("report.txt", "Quarterly figures\n");
  const std::string message =
      Message("Content-Type: multipart/mixed; boundary=out\n",
              "--out\nContent-Type: text/plain\n\nouter text\n"
              "--out\nContent-Type: message/rfc822\n\n" +
                  forwarded +
                  "\n--out\nContent-Type: application/ms-tnef; name=winmail.dat\n"
                  "Content-Transfer-Encoding: base64\n\n" +
                  Base64(winmail) +
                  "\n--out\nContent-Type: application/ms-tnef; name=winmail.dat\n\nnot tnef\n"
                  "--out--\n");
  for (const bool crlf : {false, true}) {
    const MessageParts parts = TakeApart(crlf ? WithCrLf(message) : message, 1252);
    EXPECT_EQ(parts.text, "outer text");
    const std::vector<std::string> expected = {
        "Inner.eml|message/rfc822|" + (crlf ? WithCrLf(forwarded) : forwarded),
        "inner.txt|text/plain|inner attachment",
        "report.txt|application/octet-stream|Quarterly figures\n",
        "winmail.dat|application/ms-tnef|not tnef",
    };
    EXPECT_EQ(Describe(parts.attachments, false), expected) << crlf;
  }
}

TEST(MimeHostile, LimitsHoldAndNothingCrashes) {
  std::string deep = "Subject: deep\n";
  for (int i = 0; i < 10'000; ++i) {
    deep += "Content-Type: multipart/mixed; boundary=\"b" + std::to_string(i) + "\"\n\n--b" +
            std::to_string(i) + "\n";
  }
  deep += "Content-Type: text/plain\n\ndeepest\n";
  const MessageParts deepParts = TakeApart(deep, 1252);
  EXPECT_TRUE(deepParts.limited);
  ASSERT_EQ(deepParts.attachments.size(), 1u);  // the levels past the cap, kept raw
  EXPECT_EQ(deepParts.attachments[0].type, "multipart/mixed");
  EXPECT_EQ(deepParts.attachments[0].name, "attachment.bin");
  EXPECT_EQ(deepParts.text, "");

  std::string wide = "Subject: wide\nContent-Type: multipart/mixed; boundary=b\n\n";
  for (int i = 0; i < 100'000; ++i) wide += "--b\nContent-Type: image/gif\n\nx\n";
  wide += "--b--\n";
  const MessageParts wideParts = TakeApart(wide, 1252);
  EXPECT_TRUE(wideParts.limited);
  EXPECT_LT(wideParts.attachments.size(), Limits{}.maxParts);
  EXPECT_GT(wideParts.attachments.size(), Limits{}.maxParts - 10);

  // Forwarded messages within each other: each level's .eml repeats the rest, so the bytes
  // budget stops them well before the depth does.
  std::string nested = "Subject: innermost\n\n" + std::string(100'000, 'x') + "\n";
  for (int i = 0; i < 60; ++i) nested = "Subject: level\nContent-Type: message/rfc822\n\n" + nested;
  const MessageParts nestedParts = TakeApart(nested, 1252);
  EXPECT_TRUE(nestedParts.limited);
  size_t total = 0;
  for (const Part& part : nestedParts.attachments) total += part.bytes.size();
  EXPECT_LE(total, 4 * nested.size() + (size_t{1} << 20));

  const MessageParts nul =
      TakeApart(Message("Content-Type: multipart/mixed; boundary=b\n",
                        std::string("--b\nContent-Type: text/plain\n\na\0b\n--b\nContent-Type: "
                                    "application/octet-stream; name=\"x\0y.bin\"\n\n\0\0\n--b--\n",
                                    96)),
                1252);
  EXPECT_EQ(nul.text, std::string("a\0b", 3));
  ASSERT_EQ(nul.attachments.size(), 1u);
  EXPECT_EQ(nul.attachments[0].bytes, std::string("\0\0", 2));

  for (const std::string& broken :
       {std::string(""), std::string("\n\n\n"), std::string("Content-Type: multipart/mixed\n\n--"),
        std::string(
            "Content-Type: multipart/mixed; boundary=b\n\n--b\nContent-Type: message/rfc822\n"),
        std::string("Content-Type: text/plain\nContent-Transfer-Encoding: base64\n\n!!!=\n"),
        std::string("Content-Type: application/ms-tnef\n\n") + Le32(0x223E9F78) + Le16(1) +
            "\x02\x02\x90\x06\x00\xFF\xFF\xFF\x7F"}) {
    const MessageParts parts = TakeApart(broken, 1252);
    EXPECT_FALSE(parts.limited);
  }
}

TEST(MimeFileNames, SafeFileName) {
  const std::string longStem(4096, 'a');
  const std::pair<std::string, std::string> cases[] = {
      {"report.pdf", "report.pdf"},
      {"../../etc/passwd", "passwd"},
      {"..\\..\\windows\\win.ini", "win.ini"},
      {"..", "attachment"},
      {"", "attachment"},
      {".bashrc", "bashrc"},
      {"CON.txt", "CON_.txt"},
      {"lpt1", "lpt1_"},
      {"a<b>c:d\"e|f?g*h.txt", "a_b_c_d_e_f_g_h.txt"},
      {std::string("tab\there\x01.txt"), "tab_here_.txt"},
      {std::string("nul\0byte.txt", 12), "nul_byte.txt"},
      {"gpj\xE2\x80\xAE.exe", "gpj_.exe"},
      {"trailing. . ", "trailing"},
      {"bad\xFF.txt", "bad\xEF\xBF\xBD.txt"},
      {longStem + ".pdf", std::string(251, 'a') + ".pdf"},
      {std::string(300, 'x'), std::string(255, 'x')},
      {std::string(250, 'a') + "\xC3\xA9\xC3\xA9.pdf", std::string(250, 'a') + ".pdf"},
  };
  for (const auto& [name, expected] : cases) {
    EXPECT_EQ(SafeFileName(name), expected) << name.substr(0, 40);
    EXPECT_LE(SafeFileName(name).size(), kMaxFileNameBytes);
  }
}

TEST(MimeFileNames, ClashesNumberedPerFolder) {
  FolderNames folder;
  const std::pair<std::string, std::string> added[] = {
      {"a.pdf", "a.pdf"},
      {"a.pdf", "a (2).pdf"},
      {"A.PDF", "A (3).PDF"},
      {"a (2).pdf", "a (2) (2).pdf"},
      {"../a.pdf", "a (4).pdf"},
      {"noext", "noext"},
      {"noext", "noext (2)"},
      {std::string(300, 'z') + ".txt", std::string(251, 'z') + ".txt"},
      {std::string(300, 'z') + ".txt", std::string(247, 'z') + " (2).txt"},
  };
  for (const auto& [name, expected] : added) EXPECT_EQ(folder.Add(name), expected);
  FolderNames other;
  EXPECT_EQ(other.Add("a.pdf"), "a.pdf");  // another folder has its own names
}

}  // namespace
}  // namespace quillon::mime
