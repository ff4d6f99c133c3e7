// Small mailboxes shaped like the mail client's, from a seed: the file header with its magic,
// 0x210-byte blocks in 0xF780-byte segments, messages of one block and of many, blocks of
// different messages interleaved and later blocks placed before earlier ones, and deleted
// messages left in place. For fuzzer seeds and tests that need many small files fast and in
// memory.
#ifndef QUILLON_ENGINE_TESTING_SAMPLE_MAILBOX_H_
#define QUILLON_ENGINE_TESTING_SAMPLE_MAILBOX_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "engine/testing/mailbox_builder.h"
#include "test_support/test_support.h"

namespace quillon {

struct SampleMailbox {
  std::string bytes;
  std::vector<std::pair<uint32_t, std::string>> messages;  // first block, text; ascending
  std::vector<uint32_t> blocks;                            // every block written, live or deleted
};

inline constexpr uint32_t kSampleHeaderSize = 0x24BC;
inline constexpr uint32_t kSampleBlockSpan = 0x210;
inline constexpr uint32_t kSampleSegment = 0xF780;

// A mail text of about `length` bytes with CRLF line ends.
inline std::string SampleText(size_t length, uint32_t seed) {
  std::string text = "Subject: note " + std::to_string(seed) + "\r\nFrom: a@example.org\r\n\r\n";
  const std::string filler = FillerText(length, seed);
  for (size_t i = 0; text.size() < length; i += 70) {
    text += filler.substr(i % filler.size(), 70);
    text += "\r\n";
  }
  text.resize(std::max<size_t>(length, 1));
  return text;
}

// `messageCount` live messages and `deletedCount` deleted ones. Fragmented files hand out block
// slots in a shuffled order, so chains interleave and often run backwards.
inline SampleMailbox BuildSampleMailbox(uint64_t seed, uint32_t messageCount, uint32_t deletedCount,
                                        bool fragmented) {
  test::SeedRng rng(seed);
  std::vector<std::string> texts;
  size_t blocksNeeded = 0;
  for (uint32_t i = 0; i < messageCount + deletedCount; ++i) {
    const uint32_t kind = rng.Below(10);
    const size_t length = kind < 3   ? 1 + rng.Below(0x1FF)     // one block
                          : kind < 9 ? 0x200 + rng.Below(3000)  // a few blocks
                                     : 4000 + rng.Below(12000);
    texts.push_back(SampleText(length, static_cast<uint32_t>(seed * 1000 + i)));
    blocksNeeded += (length + 0x1FF) / 0x200;
  }
  // Slots: 120 to a segment, segments after the header and the file-info area.
  std::vector<uint32_t> slots;
  for (uint32_t seg = kSampleHeaderSize + 0x618; slots.size() < blocksNeeded + 8;
       seg += kSampleSegment) {
    for (uint32_t k = 0; k < kSampleSegment / kSampleBlockSpan; ++k) {
      slots.push_back(seg + k * kSampleBlockSpan);
    }
  }
  slots.resize(blocksNeeded + 8);
  if (fragmented) {
    for (size_t i = slots.size() - 1; i > 0; --i) std::swap(slots[i], slots[rng.Below(i + 1)]);
  }

  MailboxBuilder mb(*std::max_element(slots.begin(), slots.end()) + kSampleBlockSpan, 0xFE12ADCFu);
  mb.PutWord(4, 0x6F74FDC5u);
  mb.PutWord(0x1C, 0x618);
  mb.PutWord(0x40, kSampleSegment);
  mb.PutWord(0xC4, messageCount);

  SampleMailbox box;
  size_t next = 0;
  for (uint32_t i = 0; i < texts.size(); ++i) {
    const std::string& text = texts[i];
    std::vector<uint32_t> at(slots.begin() + next,
                             slots.begin() + next + (text.size() + 0x1FF) / 0x200);
    next += at.size();
    mb.Message(at, text);
    box.blocks.insert(box.blocks.end(), at.begin(), at.end());
    if (i < messageCount) {
      box.messages.emplace_back(at.front(), text);
      continue;
    }
    // Deleted: lengths 0x1FC and 0x210, the free-list link over the first data bytes.
    for (uint32_t b : at) {
      mb.PutWord(b + 4, 0x1FC);
      mb.PutWord(b + 8, 0x210);
      mb.PutWord(b + 16, slots[rng.Below(slots.size())]);
    }
  }
  std::sort(box.messages.begin(), box.messages.end());
  box.bytes = std::move(mb.bytes);
  return box;
}

}  // namespace quillon

#endif  // QUILLON_ENGINE_TESTING_SAMPLE_MAILBOX_H_
