#include "engine/testing/mailbox_builder.h"

#include <algorithm>

namespace quillon {

MailboxBuilder::MailboxBuilder(size_t size, uint32_t firstWord) : bytes(size, '\0') {
  if (size >= 4) PutWord(0, firstWord);
}

void MailboxBuilder::PutWord(size_t at, uint32_t value) {
  if (bytes.size() < at + 4) bytes.resize(at + 4, '\0');
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

void MailboxBuilder::Block(uint32_t at, uint32_t self, uint32_t blockSize, uint32_t dataLength,
                           uint32_t next, const std::string& data) {
  PutWord(at, self);
  PutWord(at + 4, blockSize);
  PutWord(at + 8, dataLength);
  PutWord(at + 12, next);
  if (bytes.size() < at + 16 + data.size()) bytes.resize(at + 16 + data.size(), '\0');
  std::copy(data.begin(), data.end(), bytes.begin() + at + 16);
}

std::string MailboxBuilder::Message(const std::vector<uint32_t>& offsets, const std::string& text,
                                    uint32_t blockSize) {
  size_t done = 0;
  for (size_t i = 0; i < offsets.size(); ++i) {
    const size_t n = i + 1 == offsets.size() ? text.size() - done
                                             : std::min<size_t>(blockSize, text.size() - done);
    const uint32_t next = i + 1 < offsets.size() ? offsets[i + 1] : 0;
    Block(offsets[i], offsets[i], blockSize, static_cast<uint32_t>(n), next, text.substr(done, n));
    done += n;
  }
  return text;
}

std::string FillerText(size_t length, uint32_t seed) {
  std::string text(length, ' ');
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < length; ++i) {
    x = x * 1103515245u + 12345u;
    text[i] = static_cast<char>('a' + (x >> 16) % 26);
  }
  return text;
}

}  // namespace quillon
