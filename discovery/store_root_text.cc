#include "discovery/store_root_text.h"

#include <cstring>

namespace quillon {

namespace {
constexpr char kIdentitiesPrefix[] = "Identities\\";
constexpr char kIdentityClientSuffix[] = "\\Software\\Microsoft\\Outlook Express\\5.0";
constexpr char kMailFolder[] = "\\Mail";
}  // namespace

bool JoinIdentityKeyPath(const std::string& userId, std::string* path) {
  std::string joined = kIdentitiesPrefix + userId + kIdentityClientSuffix;
  if (joined.size() + 1 > kKeyPathBufferSize) return false;
  path->swap(joined);
  return true;
}

bool TerminatedText(const char* buffer, size_t bufferSize, std::string* text) {
  const void* zero = std::memchr(buffer, 0, bufferSize);
  if (zero == nullptr) return false;
  text->assign(buffer, static_cast<const char*>(zero));
  return true;
}

bool StoreRootBeforeExpansion(char* buffer, size_t bufferSize, uint32_t count, bool appendMail,
                              std::string* text) {
  if (count < 2 || count > bufferSize) return false;
  if (std::memchr(buffer, 0, bufferSize) == nullptr) return false;
  // Only the last character before the terminator: a second trailing separator stays.
  if (buffer[count - 2] == '\\' || buffer[count - 2] == '/') buffer[count - 2] = '\0';
  std::string result;
  TerminatedText(buffer, bufferSize, &result);
  if (appendMail) {
    result += kMailFolder;
    if (result.size() + 1 > bufferSize) return false;
  }
  text->swap(result);
  return true;
}

bool ExpandedText(const char* buffer, size_t bufferSize, uint32_t required, std::string* text) {
  if (required == 0 || required > bufferSize) return false;
  return TerminatedText(buffer, bufferSize, text);
}

}  // namespace quillon
