// The texts of generated messages: RFC 5322 mail with CRLF line ends, as Outlook Express stores
// it. Message `id` of a mailbox generated from `seed` is a pure function of (seed, id), so tests
// and tools can rebuild any message without keeping it.
#ifndef QUILLON_GEN_MAIL_TEXT_H_
#define QUILLON_GEN_MAIL_TEXT_H_

#include <cstdint>
#include <string>

namespace quillon::gen {

enum class MessageKind : uint8_t {
  kShortReply,   // under 0x200 bytes: fits one data block
  kPlain,        // text/plain
  kAlternative,  // multipart/alternative: text and quoted-printable HTML
  kMixed,        // multipart/mixed with base64 attachments
};

// What a mailbox's index knows about a message, and what shapes its text.
struct MessageFields {
  MessageKind kind = MessageKind::kPlain;
  uint32_t targetSize = 0;  // the text comes out near this length (not for short replies)
  std::string fromName, fromAddress;
  std::string toName, toAddress;
  std::string subject;
  std::string normalizedSubject;  // without "Re: " or "Fw: "
  std::string messageId;          // with the angle brackets
  std::string account;            // the mail account's server name
  int64_t sentTime = 0;           // Unix seconds, UTC
  int64_t receivedTime = 0;
  int32_t zoneMinutes = 0;  // the sender's offset from UTC, shown in the Date header
  bool read = false;
};

MessageFields MakeMessageFields(uint64_t seed, uint32_t id);

// Appends the text of message `id`; `fields` must be MakeMessageFields(seed, id).
void AppendMessageText(uint64_t seed, uint32_t id, const MessageFields& fields, std::string* out);

std::string MessageText(uint64_t seed, uint32_t id);

// Windows FILETIME (100 ns since 1601) of a Unix time.
uint64_t UnixToFileTime(int64_t unixSeconds);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_MAIL_TEXT_H_
