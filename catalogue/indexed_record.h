// Indexed records: message-info records (what a message folder's index knows of each message) and
// folder-info records (Folders.dbx). Raw strings stay bytes in the writer's code page; text.h
// decodes them.
#ifndef QUILLON_CATALOGUE_INDEXED_RECORD_H_
#define QUILLON_CATALOGUE_INDEXED_RECORD_H_

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "catalogue/file_reader.h"

namespace quillon::catalogue {

// A field absent from a record reads as 0 or empty, as the mail client treats it.
struct MessageInfo {
  uint32_t recordOffset = 0;
  uint32_t indexId = 0;
  uint32_t flags = 0;       // kMessage* below
  uint64_t sent = 0;        // FILETIME; 0 when absent
  uint64_t received = 0;    // FILETIME
  uint64_t saved = 0;       // FILETIME: when it was stored in this folder
  uint32_t firstBlock = 0;  // offset of the first data block; 0 when there is no body
  std::string subject;
  std::string normalizedSubject;  // without "Re:" and the like
  std::string senderName;
  std::string senderAddress;
  std::string sender;  // "name <address>"
  std::string receiverName;
  std::string receiverAddress;
  std::string messageId;
  std::string inReplyTo;
  std::string account;
  std::string accountKey;  // the account's registry key, "00000001"
  uint32_t priority = 0;   // 1 high, 3 normal, 5 low
  uint32_t size = 0;       // of the message text, as the client counted it (not always right)
};

// What a mailbox's catalogue keeps of each message-info record: where the record is, and what
// says how its message lies in the file. The rest of a record (times, strings) is read again from
// the file when a message's facts are wanted (ReadMessageInfo at recordOffset), so that the
// catalogue of a folder of a million short messages stays a few MiB.
struct MessageEntry {
  uint32_t recordOffset = 0;
  uint32_t firstBlock = 0;
  uint32_t size = 0;
  uint32_t flags = 0;
};

inline constexpr uint32_t kMessageDownloaded = 0x01;  // clear: only the headers are known
inline constexpr uint32_t kMessageDraft = 0x08;
inline constexpr uint32_t kMessageFlagged = 0x20;
inline constexpr uint32_t kMessageRead = 0x80;
inline constexpr uint32_t kMessageNews = 0x800;
inline constexpr uint32_t kMessageAttachment = 0x4000;
inline constexpr uint32_t kMessageAnswered = 0x80000;
inline constexpr uint32_t kMessageForwarded = 0x100000;

struct FolderInfo {
  uint32_t recordOffset = 0;
  uint32_t id = 0;      // the root, "Outlook Express", has none: 0
  uint32_t parent = 0;  // 0xFFFFFFFF for the root
  std::string name;
  std::string fileName;  // the folder's .dbx file; empty for containers and never-made files
  std::string accountKey;
  uint32_t flags = 0;
  uint32_t messageCount = 0;
  uint32_t unreadCount = 0;
  uint32_t special = 0;  // 0 other, 1 Inbox, 2 Outbox, 3 Sent Items, 4 Deleted Items, 5 Drafts
  uint32_t kind = 0;     // 0 news, 1 IMAP, 2 HTTP mail, 3 local, 4 the root
};

// One record's fields as they lie in its body, for the typed readers below.
struct IndexedRecord {
  static constexpr uint32_t kMaxBody = 0x10000;

  IndexedRecord() = default;
  // `data` views `body`: a copy would view the original's.
  IndexedRecord(const IndexedRecord&) = delete;
  IndexedRecord& operator=(const IndexedRecord&) = delete;

  struct Field {
    enum State : uint8_t { kAbsent, kDirect, kIndirect };
    State state = kAbsent;
    uint32_t value = 0;  // kDirect: the value
    uint32_t begin = 0;  // kIndirect: the field's bytes in `data`
    uint32_t end = 0;
  };

  const char* what = "record";  // "message-info record", for reports
  uint32_t offset = 0;
  std::string body;       // the record's body, entries and data
  std::string_view data;  // the data area: the body after its entries (a view of `body`)
  std::array<Field, 128> fields{};
  // The fields set by the last read, cleared by the next: a record read again and again (the
  // catalogue's million) costs no new memory and no clearing of every field.
  std::array<uint8_t, 128> set{};
  size_t setCount = 0;

  // Readers of one field; a field of the wrong shape is reported to `damage` and reads as absent.
  uint32_t Word(uint8_t field, DamageLog& damage) const;
  uint64_t Filetime(uint8_t field, DamageLog& damage) const;
  std::string Text(uint8_t field, DamageLog& damage) const;
  // The text's bytes, valid while the record is (a view of Text's result, without a copy).
  std::string_view TextView(uint8_t field, DamageLog& damage) const;
};

// Reads the record at `offset` into `record` (fresh, or one this read before). False when there
// is none to read (reported): it lies outside the file, does not name itself, or its body is longer
// than kMaxBody or than *bytesLeft, which it is taken from (real records never share bytes, so the
// records of a file together are no larger than the file). A field that does not fit its body is
// reported and left absent.
bool ReadIndexedRecord(FileReader& reader, uint32_t offset, const char* what, uint64_t* bytesLeft,
                       IndexedRecord* record);

// The typed readers, on the same terms. ReadMessageEntry checks and reports what ReadMessageInfo
// does, in the same order, and keeps only the entry.
bool ReadMessageInfo(FileReader& reader, uint32_t offset, uint64_t* bytesLeft, MessageInfo* info);
// `scratch`, when given, is read into instead of a record of its own (ReadIndexedRecord).
bool ReadMessageEntry(FileReader& reader, uint32_t offset, uint64_t* bytesLeft, MessageEntry* entry,
                      IndexedRecord* scratch = nullptr);
bool ReadFolderInfo(FileReader& reader, uint32_t offset, uint64_t* bytesLeft, FolderInfo* info);

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_INDEXED_RECORD_H_
