// What the output side needs to know of one message, in terms of its own: the rescue engine, the
// design's engine or a test fills it in. Nothing here refers to how the message was found.
#ifndef QUILLON_OUTPUT_MESSAGE_H_
#define QUILLON_OUTPUT_MESSAGE_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fs/output_fs.h"
#include "hash/digest.h"

namespace quillon::output {

// The index's flags, as the output formats carry them.
enum MessageFlag : uint32_t {
  kFlagRead = 1u << 0,
  kFlagFlagged = 1u << 1,
  kFlagAnswered = 1u << 2,
  kFlagForwarded = 1u << 3,
  kFlagDraft = 1u << 4,
  kFlagAttachment = 1u << 5,
  kFlagNews = 1u << 6,
};
inline constexpr size_t kFlagCount = 7;
// "read", "flagged", "answered", "forwarded", "draft", "attachment", "news": bit i's name.
extern const char* const kFlagNames[kFlagCount];

struct MessageFacts {
  // The mailbox file as the user named it ("mail/Inbox.dbx"); templates use its last part.
  std::string mailbox;
  // Where the message belongs in the folder tree, outermost first, as UTF-8 names ("Local
  // Folders", "Inbox"); empty for the output folder itself.
  std::vector<std::string> folder;
  // The name of the folder the message was found in, as Outlook Express showed it, when it is not
  // the last of `folder` (a flat export, or recovered mail kept apart from the folder's own).
  std::string folderName;
  uint32_t number = 0;              // n: its place among the mailbox's exported messages, from 1
  std::optional<uint32_t> indexId;  // the index record's id
  uint32_t flags = 0;               // MessageFlag bits
  // Seconds since 1970-01-01 UTC, from the index.
  std::optional<int64_t> received;
  std::optional<int64_t> sent;
  std::string senderAddress;      // the index's sender address (may be empty)
  std::string senderName;         // the sender's name alone, decoded (may be empty)
  std::string from, to, subject;  // decoded, UTF-8; from and to as "name <address>"
  // Carried into the manifest as they are.
  std::string status = "live";
  uint32_t firstBlock = 0;
  uint32_t blocks = 0;
  std::string messageId;
  // The digest of the message's bytes when the caller knows it already (--update needs it
  // before writing); otherwise the writer computes it when asked to.
  std::optional<Sha256Digest> sha256;

  // `folderName`, else the last of `folder`: the manifest's "folder" and the template's {folder}.
  const std::string& FolderName() const {
    static const std::string kNone;
    return !folderName.empty() ? folderName : folder.empty() ? kNone : folder.back();
  }
};

// Receives a message's bytes in order, a chunk at a time; returns false to stop.
using ChunkSink = quillon::ChunkSink;
// Gives every byte of one message to the sink, in order. False when the bytes could not all be
// given (a read failed: *error says why; or the sink stopped).
using MessageSource = std::function<bool(const ChunkSink& sink, std::string* error)>;

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_MESSAGE_H_
