// From what the rescue engine found to what the output side and `quillon list` need: each
// message's facts in UTF-8 (output/message.h). The index's strings are decoded in the code page
// of their store (cli/store_folders.h), never in the message's charset, which is for its text.
#ifndef QUILLON_CLI_MESSAGE_FACTS_H_
#define QUILLON_CLI_MESSAGE_FACTS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "cli/store_folders.h"
#include "output/message.h"
#include "rescue/rescue.h"

namespace quillon {

// The facts of `message`, a planned message of a rescue of the mailbox file `mailbox` (the path
// as the user gave it), which lies in `store`, and whose index record, read again for this
// (rescue::RecordReader), is `record` (null when it has none, or it could not be read).
// `messageStart` holds the first bytes of its text (its header block, or as much of it as was
// read): subject, sender, recipient, Message-ID and date where the index gives none, decoded by
// the charset the message declares, else the store's code page. `number` is n. The caller sets
// `folder`, where the message goes.
output::MessageFacts FactsOf(const std::string& mailbox, const catalogue::MessageInfo* record,
                             const rescue::PlannedMessage& message, uint32_t number,
                             std::string_view messageStart, const StoreFolders& store);

// FactsOf in two parts, for a caller that decodes the texts on another thread: the facts but the
// texts (subject, names, Message-ID: the most of FactsOf's cost), then the texts added. Each
// part only reads its arguments.
output::MessageFacts FactsWithoutTexts(const std::string& mailbox,
                                       const catalogue::MessageInfo* record,
                                       const rescue::PlannedMessage& message, uint32_t number,
                                       std::string_view messageStart);
void AddTextFacts(const catalogue::MessageInfo* record, std::string_view messageStart,
                  const StoreFolders& store, output::MessageFacts* facts);

// The output side's flags of an index record's flags.
uint32_t OutputFlags(uint32_t indexFlags);

}  // namespace quillon

#endif  // QUILLON_CLI_MESSAGE_FACTS_H_
