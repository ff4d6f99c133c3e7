// The check of a message taken apart (mime/), shared by its fuzzer and by the unit test that
// replays the fuzzer's seeds and findings. The input is a message as stored, its last byte
// choosing the store's code page. Beyond not crashing, leaking or running long: every text is
// valid UTF-8, every part has a name and a type, the limits hold, and each name made a file name
// in one folder is one.
#ifndef QUILLON_FUZZ_MIME_WALK_CHECK_H_
#define QUILLON_FUZZ_MIME_WALK_CHECK_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "mime/attachment_names.h"
#include "mime/message_parts.h"
#include "text/utf8.h"

namespace quillon::fuzzing {

// "" when the walk of `input` passes, else what failed.
inline std::string CheckMimeWalk(std::string_view input) {
  static const uint32_t kCodePages[] = {1252, 1251, 936, 1250, 932, 65001};
  const uint32_t codePage =
      input.empty() ? 1252 : kCodePages[static_cast<uint8_t>(input.back()) % 6];
  const mime::MessageParts parts = mime::TakeApart(input, codePage);
  const auto invalid = [](const std::string& text) { return ValidUtf8(text) != text; };
  for (const std::string* text :
       {&parts.from, &parts.to, &parts.cc, &parts.date, &parts.subject, &parts.messageId,
        &parts.references, &parts.inReplyTo, &parts.text, &parts.html}) {
    if (invalid(*text)) return "text not UTF-8: " + text->substr(0, 200);
  }
  const mime::Limits limits;
  if (parts.inlineParts.size() + parts.attachments.size() > limits.maxParts) {
    return "more parts than the limit: " + std::to_string(parts.attachments.size());
  }
  size_t bytes = 0;
  mime::FolderNames folder;
  for (const auto* list : {&parts.inlineParts, &parts.attachments}) {
    for (const mime::Part& part : *list) {
      bytes += part.bytes.size();
      if (part.name.empty() || part.type.empty()) return "a part without name or type";
      if (invalid(part.name)) return "name not UTF-8: " + part.name.substr(0, 200);
      const std::string file = folder.Add(part.name);
      if (file.empty() || file.size() > mime::kMaxFileNameBytes ||
          file.find_first_of("/\\") != std::string::npos || file[0] == '.') {
        return "unsafe file name: " + file.substr(0, 200);
      }
    }
  }
  if (bytes > limits.bytesFactor * input.size() + (size_t{1} << 20)) {
    return "decoded bytes past the budget: " + std::to_string(bytes);
  }
  return "";
}

}  // namespace quillon::fuzzing

#endif  // QUILLON_FUZZ_MIME_WALK_CHECK_H_
