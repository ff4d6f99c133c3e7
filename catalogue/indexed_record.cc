#include "catalogue/indexed_record.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <vector>

#include "catalogue/dbx_format.h"

namespace quillon::catalogue {
namespace {

std::string FieldName(const IndexedRecord& r, uint8_t field) {
  char number[8];
  std::snprintf(number, sizeof number, "0x%02X", field);
  return std::string(r.what) + " at " + Hex(r.offset) + ": field " + number;
}

}  // namespace

uint32_t IndexedRecord::Word(uint8_t field, DamageLog& damage) const {
  const Field& f = fields[field & dbx::kFieldNumberMask];
  if (f.state == Field::kDirect) return f.value;
  if (f.state == Field::kAbsent) return 0;
  // Longer is fine: the client pads some fields after the word.
  if (f.end - f.begin < 4) {
    damage.Damaged(offset, FieldName(*this, field) + " holds " + std::to_string(f.end - f.begin) +
                               " bytes, too few for a number");
    return 0;
  }
  return Le32(reinterpret_cast<const uint8_t*>(data.data()) + f.begin);
}

uint64_t IndexedRecord::Filetime(uint8_t field, DamageLog& damage) const {
  const Field& f = fields[field & dbx::kFieldNumberMask];
  if (f.state == Field::kAbsent) return 0;
  if (f.state == Field::kDirect || f.end - f.begin < 8) {
    damage.Damaged(offset, FieldName(*this, field) + " is too short for a time");
    return 0;
  }
  return Le64(reinterpret_cast<const uint8_t*>(data.data()) + f.begin);
}

std::string_view IndexedRecord::TextView(uint8_t field, DamageLog& damage) const {
  const Field& f = fields[field & dbx::kFieldNumberMask];
  if (f.state == Field::kAbsent) return {};
  if (f.state == Field::kDirect) {
    damage.Damaged(offset, FieldName(*this, field) + " holds a number where text belongs");
    return {};
  }
  const std::string_view bytes = data.substr(f.begin, f.end - f.begin);
  const size_t zero = bytes.find('\0');
  if (zero == std::string_view::npos) {
    damage.Damaged(offset, FieldName(*this, field) + " runs to the end of its space unterminated");
    return bytes;
  }
  return bytes.substr(0, zero);
}

std::string IndexedRecord::Text(uint8_t field, DamageLog& damage) const {
  return std::string(TextView(field, damage));
}

bool ReadIndexedRecord(FileReader& reader, uint32_t offset, const char* what, uint64_t* bytesLeft,
                       IndexedRecord* record) {
  DamageLog& damage = reader.damage();
  // Made only for a report: every record is read, and few are damaged.
  const auto name = [&] { return std::string(what) + " at " + Hex(offset); };
  uint8_t header[dbx::kRecordHeaderSize];
  if (!reader.Read(offset, sizeof header, header, what, offset)) return false;
  const uint32_t self = Le32(header);
  if (self != offset) {
    damage.Damaged(offset, name() + " names itself " + Hex(self));
    return false;
  }
  const uint32_t bodyLength = Le32(header + 4);
  if (bodyLength > IndexedRecord::kMaxBody) {
    damage.Damaged(offset, name() + " claims a body of " + std::to_string(bodyLength) +
                               " bytes; no record is longer than " +
                               std::to_string(IndexedRecord::kMaxBody));
    return false;
  }
  if (!reader.CheckFits(offset + dbx::kRecordHeaderSize, bodyLength, what, offset)) return false;
  if (bodyLength > *bytesLeft) {
    damage.Damaged(offset, name() + " shares its bytes with other records");
    return false;
  }
  std::string& body = record->body;
  body.resize(bodyLength);
  if (!reader.Read(offset + dbx::kRecordHeaderSize, bodyLength, body.data(), what, offset)) {
    return false;
  }
  *bytesLeft -= bodyLength;

  uint32_t count = header[dbx::kRecordEntryCount];
  if (count > bodyLength / 4) {
    damage.Damaged(offset, name() + " has " + std::to_string(count) +
                               " fields, its body room for " + std::to_string(bodyLength / 4));
    count = bodyLength / 4;
  }
  for (size_t k = 0; k < record->setCount; ++k) record->fields[record->set[k]] = {};
  record->setCount = 0;
  record->what = what;
  record->offset = offset;
  record->data = std::string_view(body).substr(count * 4);
  const uint32_t dataLength = bodyLength - count * 4;

  // A field's bytes run to where the next one's begin, so first collect where each begins.
  // Each field number once: at most 128 of them.
  std::array<uint32_t, 128> starts;
  std::array<uint8_t, 128> numbers;  // of the indirect ones
  size_t indirect = 0;
  bool inOrder = true;
  int previous = -1;
  const uint8_t* entries = reinterpret_cast<const uint8_t*>(body.data());
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t entry = Le32(entries + 4 * i);
    const uint8_t number = entry & dbx::kFieldNumberMask;
    if (static_cast<int>(number) <= previous) inOrder = false;
    previous = number;
    IndexedRecord::Field& f = record->fields[number];
    if (f.state != IndexedRecord::Field::kAbsent) {
      damage.Damaged(offset, FieldName(*record, number) + " appears twice");
      continue;
    }
    record->set[record->setCount++] = number;
    if (entry & dbx::kFieldDirect) {
      f.state = IndexedRecord::Field::kDirect;
      f.value = entry >> 8;
      continue;
    }
    f.begin = entry >> 8;
    if (f.begin >= dataLength) {
      damage.Damaged(offset, FieldName(*record, number) + " begins at " + std::to_string(f.begin) +
                                 ", past its data of " + std::to_string(dataLength) + " bytes");
      continue;
    }
    f.state = IndexedRecord::Field::kIndirect;
    numbers[indirect] = number;
    starts[indirect++] = f.begin;
  }
  if (!inOrder) damage.Damaged(offset, name() + " lists its fields out of order");
  std::sort(starts.begin(), starts.begin() + indirect);
  for (size_t k = 0; k < indirect; ++k) {
    IndexedRecord::Field& f = record->fields[numbers[k]];
    const auto next = std::upper_bound(starts.begin(), starts.begin() + indirect, f.begin);
    f.end = next == starts.begin() + indirect ? dataLength : *next;
  }
  return true;
}

namespace {

// A message-info record's text fields, in the order they are checked.
constexpr std::pair<uint8_t, std::string MessageInfo::*> kMessageTexts[] = {
    {dbx::message::kSubject, &MessageInfo::subject},
    {dbx::message::kNormalizedSubject, &MessageInfo::normalizedSubject},
    {dbx::message::kSenderName, &MessageInfo::senderName},
    {dbx::message::kSenderAddress, &MessageInfo::senderAddress},
    {dbx::message::kSender, &MessageInfo::sender},
    {dbx::message::kReceiverName, &MessageInfo::receiverName},
    {dbx::message::kReceiverAddress, &MessageInfo::receiverAddress},
    {dbx::message::kMessageId, &MessageInfo::messageId},
    {dbx::message::kInReplyTo, &MessageInfo::inReplyTo},
    {dbx::message::kAccount, &MessageInfo::account},
    {dbx::message::kAccountKey, &MessageInfo::accountKey},
};

// A message-info record's fields, checked (and reported) in one order whatever is kept of them:
// the text fields' bytes are kept only with `keepTexts`.
bool ReadMessageFields(FileReader& reader, uint32_t offset, uint64_t* bytesLeft, bool keepTexts,
                       MessageInfo* info, IndexedRecord* scratch) {
  IndexedRecord own;
  IndexedRecord& r = scratch != nullptr ? *scratch : own;
  if (!ReadIndexedRecord(reader, offset, "message-info record", bytesLeft, &r)) return false;
  DamageLog& d = reader.damage();
  namespace m = dbx::message;
  *info = MessageInfo{};
  info->recordOffset = offset;
  info->indexId = r.Word(m::kIndexId, d);
  info->flags = r.Word(m::kFlags, d);
  info->sent = r.Filetime(m::kSent, d);
  info->received = r.Filetime(m::kReceived, d);
  info->saved = r.Filetime(m::kSaved, d);
  info->firstBlock = r.Word(m::kFirstBlock, d);
  for (const auto& [field, member] : kMessageTexts) {
    const std::string_view bytes = r.TextView(field, d);
    if (keepTexts) (info->*member).assign(bytes);
  }
  info->priority = r.Word(m::kPriority, d);
  info->size = r.Word(m::kSize, d);
  return true;
}

}  // namespace

bool ReadMessageInfo(FileReader& reader, uint32_t offset, uint64_t* bytesLeft, MessageInfo* info) {
  return ReadMessageFields(reader, offset, bytesLeft, true, info, nullptr);
}

bool ReadMessageEntry(FileReader& reader, uint32_t offset, uint64_t* bytesLeft, MessageEntry* entry,
                      IndexedRecord* scratch) {
  MessageInfo info;
  if (!ReadMessageFields(reader, offset, bytesLeft, false, &info, scratch)) return false;
  *entry = MessageEntry{offset, info.firstBlock, info.size, info.flags};
  return true;
}

bool ReadFolderInfo(FileReader& reader, uint32_t offset, uint64_t* bytesLeft, FolderInfo* info) {
  IndexedRecord r;
  if (!ReadIndexedRecord(reader, offset, "folder-info record", bytesLeft, &r)) return false;
  DamageLog& d = reader.damage();
  namespace f = dbx::folder;
  *info = FolderInfo{};
  info->recordOffset = offset;
  info->id = r.Word(f::kId, d);
  info->parent = r.Word(f::kParent, d);
  info->name = r.Text(f::kName, d);
  info->fileName = r.Text(f::kFileName, d);
  info->accountKey = r.Text(f::kAccountKey, d);
  info->flags = r.Word(f::kFlags, d);
  info->messageCount = r.Word(f::kMessageCount, d);
  info->unreadCount = r.Word(f::kUnreadCount, d);
  info->special = r.Word(f::kSpecial, d);
  info->kind = r.Word(f::kKind, d);
  return true;
}

}  // namespace quillon::catalogue
