#include "gen/message_info.h"

#include <cstring>

#include "gen/dbx_layout.h"

namespace quillon::gen {
namespace {

// Builds the entry list and the body side by side: a value that fits 24 bits goes into its entry
// (bit 7 set), anything else into the body, its entry holding the body offset.
class RecordBuilder {
 public:
  void Word(uint8_t field, uint32_t value) {
    if (value <= 0xFFFFFF) {
      PutEntry(field | 0x80, value);
      return;
    }
    uint8_t bytes[4];
    dbx::StoreLE32(bytes, value);
    Indirect(field, bytes, 4);
  }
  void Time(uint8_t field, uint64_t fileTime) {
    uint8_t bytes[8];
    dbx::StoreLE32(bytes, static_cast<uint32_t>(fileTime));
    dbx::StoreLE32(bytes + 4, static_cast<uint32_t>(fileTime >> 32));
    Indirect(field, bytes, 8);
  }
  void Text(uint8_t field, const std::string& text) {
    Indirect(field, text.c_str(), text.size() + 1);
  }

  void AppendTo(uint32_t recordOffset, std::string* out) {
    while (body_.size() % 4 != 0) body_.push_back('\0');
    uint8_t header[12];
    dbx::StoreLE32(header, recordOffset);
    dbx::StoreLE32(header + 4, static_cast<uint32_t>(body_.size()));
    header[8] = 0;  // a fresh record: no older length kept
    header[9] = 0;
    header[10] = static_cast<uint8_t>(entries_.size() / 4);
    header[11] = 1;  // change counter
    out->append(reinterpret_cast<const char*>(header), sizeof header);
    out->append(entries_);
    out->append(body_);
  }

 private:
  void PutEntry(uint8_t tag, uint32_t value) {
    const char e[4] = {static_cast<char>(tag), static_cast<char>(value),
                       static_cast<char>(value >> 8), static_cast<char>(value >> 16)};
    entries_.append(e, 4);
  }
  void Indirect(uint8_t field, const void* data, size_t size) {
    PutEntry(field, static_cast<uint32_t>(body_.size()));
    body_.append(static_cast<const char*>(data), size);
  }

  std::string entries_;
  std::string body_;
};

uint32_t FlagsOf(const MessageFields& f) {
  uint32_t flags = dbx::kFlagDownloaded;
  if (f.read) flags |= dbx::kFlagRead;
  if (f.kind == MessageKind::kMixed) flags |= dbx::kFlagAttachment;
  return flags;
}

}  // namespace

void AppendMessageInfo(uint32_t recordOffset, uint32_t id, const MessageFields& f,
                       uint32_t firstBlock, uint32_t length, std::string* out) {
  RecordBuilder r;
  r.Word(dbx::kInfoId, id);
  r.Word(dbx::kInfoFlags, FlagsOf(f));
  r.Time(dbx::kInfoSentTime, UnixToFileTime(f.sentTime));
  r.Word(dbx::kInfoFirstBlock, firstBlock);
  r.Text(dbx::kInfoNormalizedSubject, f.normalizedSubject);
  r.Time(dbx::kInfoSavedTime, UnixToFileTime(f.receivedTime));
  r.Text(dbx::kInfoMessageId, f.messageId);
  r.Text(dbx::kInfoSubject, f.subject);
  r.Text(dbx::kInfoSenderName, f.fromName);
  r.Text(dbx::kInfoSenderAddress, f.fromAddress);
  r.Word(dbx::kInfoPriority, 3);
  r.Word(dbx::kInfoSize, length);
  r.Time(dbx::kInfoReceivedTime, UnixToFileTime(f.receivedTime));
  r.Text(dbx::kInfoReceiverName, f.toName);
  r.Text(dbx::kInfoReceiverAddress, "<" + f.toAddress + ">");
  r.Text(dbx::kInfoAccountName, f.account);
  r.Text(dbx::kInfoAccountNumber, "00000001");
  r.AppendTo(recordOffset, out);
}

uint32_t MaxMessageInfoSize(uint32_t id, const MessageFields& fields, uint32_t length) {
  // A first block past 24 bits moves into the body: the largest form.
  std::string scratch;
  AppendMessageInfo(0, id, fields, 0xFFFFFFFFu, length, &scratch);
  return static_cast<uint32_t>(scratch.size());
}

}  // namespace quillon::gen
