#include "gen/message_info.h"

#include <cstring>

#include "gen/dbx_layout.h"
#include "gen/record_builder.h"

namespace quillon::gen {
namespace {

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
