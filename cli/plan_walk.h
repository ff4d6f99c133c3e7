// What the rescue engine's export and `quillon list` share in reading a mailbox file.
#ifndef QUILLON_CLI_PLAN_WALK_H_
#define QUILLON_CLI_PLAN_WALK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fs/file_io.h"
#include "rescue/rescue.h"

namespace quillon {

// The mailbox file at `path` (UTF-8), opened for reading with every read reported to `onRead`
// (the offset the read reached), when set. Null with *error in the system's words.
std::unique_ptr<InputFile> OpenMailbox(const std::string& path,
                                       std::function<void(uint64_t)> onRead, std::string* error);

// The first bytes of `message` (up to kStartBytes, fewer when it ends or its header block ends
// before), for its facts. False when the read failed; *outcome says why.
inline constexpr size_t kStartBytes = 16 * 1024;
bool ReadMessageStart(rescue::MessageReader* reader, const rescue::PlannedMessage& message,
                      std::string* start, rescue::ReadOutcome* outcome);

}  // namespace quillon

#endif  // QUILLON_CLI_PLAN_WALK_H_
