// Message-info records: what the folder's index knows of each message, including the offset of
// its first data block.
#ifndef QUILLON_GEN_MESSAGE_INFO_H_
#define QUILLON_GEN_MESSAGE_INFO_H_

#include <cstdint>
#include <string>

#include "gen/mail_text.h"

namespace quillon::gen {

// Appends the record for message `id` to *out, as it lies at file offset `recordOffset`. The
// record starts with its own offset, like a data block does.
void AppendMessageInfo(uint32_t recordOffset, uint32_t id, const MessageFields& fields,
                       uint32_t firstBlock, uint32_t length, std::string* out);

// The most bytes the record of a message with these fields can take, whatever its offsets.
uint32_t MaxMessageInfoSize(uint32_t id, const MessageFields& fields, uint32_t length);

}  // namespace quillon::gen

#endif  // QUILLON_GEN_MESSAGE_INFO_H_
