// The text rules of the mail-store folder lookup, apart from the registry: every buffer the
// lookup uses has a fixed size, and a text that would not fit its buffer makes the lookup fail
// instead of being cut or running past the end.
#ifndef QUILLON_DISCOVERY_STORE_ROOT_TEXT_H_
#define QUILLON_DISCOVERY_STORE_ROOT_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace quillon {

constexpr size_t kUserIdBufferSize = 260;     // "Default User ID", with its terminating zero
constexpr size_t kKeyPathBufferSize = 260;    // the identity's client key path
constexpr size_t kStoreRootBufferSize = 520;  // "Store Root", and "\Mail" appended to it
constexpr size_t kExpandedBufferSize = 260;   // the folder after environment expansion

// The identity's client key: "Identities\" + userId + "\Software\Microsoft\Outlook Express\5.0".
// False when it would not fit kKeyPathBufferSize bytes with its terminating zero.
bool JoinIdentityKeyPath(const std::string& userId, std::string* path);

// The text of a value read into a zero-filled buffer of `bufferSize` bytes: the bytes up to the
// first zero. False when the buffer holds no zero, so the value had no terminator that fits.
bool TerminatedText(const char* buffer, size_t bufferSize, std::string* text);

// The shared tail before expansion. `buffer` holds the "Store Root" value in a zero-filled buffer
// of `bufferSize` bytes, `count` the byte count the registry gave (terminator included). Fails
// when count < 2, count > bufferSize or the value has no terminator within the buffer. Otherwise
// one trailing '\' or '/' (the byte at count - 2) is overwritten with zero, "\Mail" is appended
// when `appendMail`, and `text` receives the result, which with its zero must fit the buffer.
bool StoreRootBeforeExpansion(char* buffer, size_t bufferSize, uint32_t count, bool appendMail,
                              std::string* text);

// The expansion's result: `buffer` is the zero-filled result buffer of `bufferSize` bytes and
// `required` what the expansion returned (characters needed with the terminator, 0 on failure).
// False when the expansion failed or did not fit.
bool ExpandedText(const char* buffer, size_t bufferSize, uint32_t required, std::string* text);

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_STORE_ROOT_TEXT_H_
