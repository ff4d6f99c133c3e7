// Indexed records as the mail client writes them: a 12-byte header (own offset, body length, an
// unused word, the entry count, a change counter), then the body: one 4-byte entry per field,
// then the data of the fields that do not fit their entry. Message-info records and Folders.dbx's
// folder-info records share the shape.
#ifndef QUILLON_GEN_RECORD_BUILDER_H_
#define QUILLON_GEN_RECORD_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "gen/dbx_layout.h"

namespace quillon::gen {

// Fields must be added in ascending field order, as readers expect them. A value that fits 24
// bits goes into its entry (bit 7 set), anything else into the data, its entry holding the data
// offset.
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
  // `text` is 8-bit, in the writer's code page; it is stored with its terminating zero.
  void Text(uint8_t field, const std::string& text) {
    Indirect(field, text.c_str(), text.size() + 1);
  }

  // Appends the record, as it lies at file offset `recordOffset`, to *out.
  void AppendTo(uint32_t recordOffset, std::string* out) {
    while (body_.size() % 4 != 0) body_.push_back('\0');
    uint8_t header[12];
    dbx::StoreLE32(header, recordOffset);
    // The body is the entries and the data after them, as in the real files.
    dbx::StoreLE32(header + 4, static_cast<uint32_t>(entries_.size() + body_.size()));
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

}  // namespace quillon::gen

#endif  // QUILLON_GEN_RECORD_BUILDER_H_
