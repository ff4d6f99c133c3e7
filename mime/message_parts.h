// A message taken apart, for reading it without a mail program: its headers decoded to UTF-8,
// the text and HTML bodies a mail program would show, the inline parts an HTML body refers to
// by Content-ID, and every attachment decoded (uuencoded blocks, forwarded messages and their
// own attachments, and the files inside a winmail.dat included).
//
// Hostile mail is expected: nesting deeper than Limits::maxDepth is kept as one raw attachment,
// parts past Limits::maxParts are not read, and the decoded bytes together stay within a small
// multiple of the message's size. Malformed MIME gives what could be read, never a crash.
#ifndef QUILLON_MIME_MESSAGE_PARTS_H_
#define QUILLON_MIME_MESSAGE_PARTS_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon::mime {

struct Part {
  std::string type;       // lower case, "image/png"
  std::string name;       // UTF-8, as sent (decoded), else made from the type: "attachment.pdf"
  std::string contentId;  // without the angle brackets; empty when there is none
  std::string bytes;      // decoded
};

struct MessageParts {
  // Headers as UTF-8, unfolded and trimmed; empty when absent.
  std::string from, to, cc, date, subject, messageId, references, inReplyTo;
  std::optional<int64_t> time;  // the Date header as seconds since 1970 UTC, when it parses

  std::string text;  // the text/plain body as UTF-8
  std::string html;  // the text/html body as UTF-8

  std::vector<Part> inlineParts;  // the parts of a multipart/related body beside its root
  std::vector<Part> attachments;

  // True when a limit stopped the walk: what is here is all that was read.
  bool limited = false;

  // The part with Content-ID `id` (with or without angle brackets, as a "cid:" URL names it),
  // among the inline parts, then the attachments; null when none has it.
  const Part* FindContentId(std::string_view id) const;
};

struct Limits {
  size_t maxDepth = 64;      // multiparts and messages within each other
  size_t maxParts = 10'000;  // parts read in all; the parser is not given more
  size_t bytesFactor = 4;    // decoded bytes at most this many times the message's size (+1 MiB)
};

// `message` as stored. `codePage` is the Windows code page of the store (1252, 1251, 936, ...):
// 8-bit text that is not valid in the charset it is declared in, or declares none and is not
// UTF-8, is read in it.
MessageParts TakeApart(std::string_view message, uint32_t codePage, const Limits& limits = {});

// `bytes` in `charset` (a MIME name; "gb2312" and its kin read as GB18030) as UTF-8 when every
// byte is valid there; else, and when the charset is unknown or absent (valid UTF-8 is then taken
// as it is), in Windows code page `codePage`, a byte that is no character there becoming U+FFFD.
std::string TextToUtf8(std::string_view bytes, std::string_view charset, uint32_t codePage);

}  // namespace quillon::mime

#endif  // QUILLON_MIME_MESSAGE_PARTS_H_
