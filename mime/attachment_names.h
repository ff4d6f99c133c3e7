// Attachment names as sent made into file names that are safe to create in a folder on any
// system: nothing a sender chose can leave the folder, name a device or hide the file.
#ifndef QUILLON_MIME_ATTACHMENT_NAMES_H_
#define QUILLON_MIME_ATTACHMENT_NAMES_H_

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

namespace quillon::mime {

inline constexpr size_t kMaxFileNameBytes = 255;

// `name` (UTF-8; invalid bytes count as U+FFFD) as one file name: only what follows the last '/'
// or '\', control and forbidden characters as '_', no leading dots or spaces, no Windows device
// name ("CON.txt" gives "CON_.txt"), at most 255 bytes cut on a character boundary with the
// extension kept; "attachment" when nothing is left.
std::string SafeFileName(std::string_view name);

// The names given in one folder: each new one made safe and, when the folder already has it
// (ASCII case ignored, as Windows and macOS do), numbered: "a.pdf", "a (2).pdf", "a (3).pdf".
class FolderNames {
 public:
  std::string Add(std::string_view name);

 private:
  std::unordered_set<std::string> taken_;  // lower-cased
};

}  // namespace quillon::mime

#endif  // QUILLON_MIME_ATTACHMENT_NAMES_H_
