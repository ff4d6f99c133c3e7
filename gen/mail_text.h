// The texts of generated messages: RFC 5322 mail with CRLF line ends, as Outlook Express stores
// it. Message `id` of a mailbox generated from `seed` is a pure function of (seed, id), so tests
// and tools can rebuild any message without keeping it.
#ifndef QUILLON_GEN_MAIL_TEXT_H_
#define QUILLON_GEN_MAIL_TEXT_H_

#include <cstdint>
#include <string>

namespace quillon::gen {

// The spread of message sizes: the default one (about 9,000 messages a GiB, most 1-50 KB, a few
// of several MB), that of a real Inbox of many small messages (150,000 or more a GiB: short
// replies, notifications and one-block messages, most 1-10 KB, a few large ones), or only
// one-block replies, the most messages a GiB holds (over a million).
enum class Shape : uint8_t { kDefault, kSmall, kTiny };

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

  // How the text's headers carry the subject and the sender's name when not as the strings
  // above (which are what the index holds): RFC 2047 encoded-words, or 8-bit text in quotes.
  // Empty: as above.
  std::string subjectHeader;
  std::string fromNameHeader;
  std::string charset;     // the text parts' charset; empty: iso-8859-1
  std::string signature;   // the name that signs the text; empty: fromName
  bool dateHeader = true;  // false: the message has no Date header
  bool fromLines = false;  // plain messages: body lines that start "From ", ">From ", ">>From "
};

// Whose mailbox it is: the same person and account for every message of one seed.
struct MailboxOwner {
  std::string name, address;
  std::string account;  // the mail account's server name
  int64_t firstTime;    // Unix seconds of the first message
};
MailboxOwner OwnerOf(uint64_t seed);

MessageFields MakeMessageFields(uint64_t seed, uint32_t id, Shape shape = Shape::kDefault);

// Appends the text of message `id`; `fields` must be MakeMessageFields(seed, id, shape), or
// made from it.
void AppendMessageText(uint64_t seed, uint32_t id, const MessageFields& fields, std::string* out);

std::string MessageText(uint64_t seed, uint32_t id, Shape shape = Shape::kDefault);

// "2002-06-17T20:02:30Z".
std::string FormatIso8601(int64_t unixSeconds);

// Windows FILETIME (100 ns since 1601) of a Unix time.
uint64_t UnixToFileTime(int64_t unixSeconds);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_MAIL_TEXT_H_
