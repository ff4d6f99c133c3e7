// The rescue engine's fuzzing checks, shared by its fuzzer and by the unit test that replays the
// fuzzer's findings: whatever the bytes, planning ends, every message has one status in its
// group and order, no block is in two messages, every message reads back to the size the plan
// gives, and a file that fails or shrinks under the reader is reported as such, never taken as
// its end.
#ifndef QUILLON_RESCUE_TESTING_RESCUE_CHECK_H_
#define QUILLON_RESCUE_TESTING_RESCUE_CHECK_H_

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "catalogue/testing/byte_file.h"
#include "rescue/rescue.h"

namespace quillon::fuzzing {

// A mailbox rescued in memory: the plan and the bytes of each of its messages.
struct RescuedMailbox {
  std::string_view bytes;  // the mailbox, as the caller keeps it
  rescue::MailboxRescue rescue;
  std::vector<std::string> messages;  // parallel to rescue.plan.messages
  rescue::ReadOutcome failure;        // the first read that did not complete, if any
};

// `bytes` must outlive the result. `windowBytes`: the size of the pieces the file is read in.
// Small ones keep the fuzzer fast.
inline RescuedMailbox RescueBytes(std::string_view bytes, const rescue::RescueOptions& options,
                                  size_t windowBytes = rescue::MailboxFile::kAheadSize) {
  RescuedMailbox out;
  out.bytes = bytes;
  catalogue::testing::ByteFile file(bytes);
  rescue::ScanOptions scanning;
  scanning.windowBytes = std::min(scanning.windowBytes, windowBytes);
  out.rescue = rescue::PlanRescue(&file, options, nullptr, scanning);
  rescue::MessageReader reader(&file, out.rescue.plan, nullptr, windowBytes);
  for (const rescue::PlannedMessage& m : out.rescue.plan.messages) {
    std::string text;
    text.reserve(static_cast<size_t>(std::min<uint64_t>(m.size, bytes.size())));
    const rescue::ReadOutcome r = reader.Read(m, [&](const uint8_t* p, size_t n) {
      text.append(reinterpret_cast<const char*>(p), n);
      return true;
    });
    if (r.result != rescue::ReadOutcome::kComplete && out.failure.result == 0) out.failure = r;
    out.messages.push_back(std::move(text));
  }
  return out;
}

namespace rescue_check {

using namespace quillon::rescue;

// The plan's own consistency: groups, order, statuses, blocks (read from `file` for a message
// that follows its links).
inline std::string CheckPlanShape(const MailboxRescue& rescued, InputFile* file) {
  const RescuePlan& plan = rescued.plan;
  MessageReader reader(file, plan);
  if (rescued.error.failure != ReadFailure::kNone) return "a file in memory failed to read";
  std::unordered_set<uint32_t> blocks;
  std::array<uint64_t, kStatusCount> listed{};
  for (size_t i = 0; i < plan.messages.size(); ++i) {
    const PlannedMessage& m = plan.messages[i];
    ++listed[static_cast<size_t>(m.status)];
    const bool exported =
        m.status == Status::kLive || m.status == Status::kOrphan || m.status == Status::kDamaged;
    if (exported != (i < plan.exported)) return "a message outside its group";
    if (exported && i > 0 && plan.messages[i - 1].firstBlock > m.firstBlock) {
      return "exported messages out of first-block order";
    }
    if ((m.status == Status::kLive) != (m.recordOffset != 0 && exported && m.noteCount == 0 &&
                                        (m.flags & ~PlannedMessage::kFollowsLinks) == 0)) {
      return "a live message that is not listed and whole, or the other way round";
    }
    uint32_t count = 0, first = 0;
    bool overlap = false;
    const bool read = reader.ForEachBlock(m, [&](uint32_t b) {
      if (count++ == 0) first = b;
      if (!blocks.insert(b).second || uint64_t{b} + 16 > plan.fileSize) overlap = true;
    });
    if (!read) return "a block's header could not be read";
    if (overlap) return "a block in two messages, or past the end";
    if (count != m.blocks) return "block count differs from the runs";
    if ((count == 0) != (m.status == Status::kHeadersOnly || m.status == Status::kLost)) {
      return "a message with a body but no blocks, or the other way round";
    }
    if (count != 0 && first != m.firstBlock) return "first block differs";
  }
  for (size_t s = 0; s < kStatusCount; ++s) {
    if (listed[s] > plan.counts[s]) return "more messages listed than counted";
  }
  return {};
}

// What the reader gave of message `m`: its size as the plan says, filled ranges filled.
inline std::string CheckRead(const RescuePlan& plan, const PlannedMessage& m, uint64_t size,
                             const ReadOutcome& outcome) {
  if (outcome.result != ReadOutcome::kComplete) return "a read in memory did not complete";
  const bool estimated = (m.flags & PlannedMessage::kEndEstimated) != 0;
  if (estimated ? size > m.size : size != m.size) return "read size differs";
  if (size > plan.fileSize) return "a message longer than the file";
  return {};
}

inline std::string CheckPlan(const RescuedMailbox& r) {
  catalogue::testing::ByteFile file(r.bytes);
  std::string problem = CheckPlanShape(r.rescue, &file);
  const RescuePlan& plan = r.rescue.plan;
  for (size_t i = 0; i < plan.messages.size() && problem.empty(); ++i) {
    const PlannedMessage& m = plan.messages[i];
    const std::string& text = r.messages[i];
    problem = CheckRead(plan, m, text.size(), r.failure);
    for (uint32_t k = 0; k < m.fillCount && problem.empty(); ++k) {
      const ByteRange& f = plan.FilledOf(m)[k];
      for (uint64_t p = f.at; p < f.at + f.length && p < text.size(); ++p) {
        if (text[p] != static_cast<char>(kFillByte)) problem = "a filled range not filled";
      }
    }
  }
  return problem;
}

// An input file that fails, or shrinks, after `reads` reads: what a failing disk or another
// program does to the mailbox while it is rescued.
class FaultyFile final : public InputFile {
 public:
  FaultyFile(std::string_view bytes, uint32_t reads, bool shrink)
      : bytes_(bytes), left_(reads), shrink_(shrink) {}
  uint64_t Size() override { return faulted_ && shrink_ ? bytes_.size() / 2 : bytes_.size(); }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    if (left_ == 0) faulted_ = true;
    if (left_ != 0) --left_;
    *got = 0;
    if (faulted_ && !shrink_) {
      *error = "Input/output error";
      return false;
    }
    const uint64_t end = Size();
    if (offset >= end) return true;
    *got = static_cast<size_t>(std::min<uint64_t>(size, end - offset));
    std::copy_n(bytes_.data() + offset, *got, static_cast<char*>(buffer));
    return true;
  }
  bool faulted() const { return faulted_; }

 private:
  std::string_view bytes_;
  uint32_t left_;
  bool shrink_;
  bool faulted_ = false;
};

}  // namespace rescue_check

// The whole rescue of any bytes, with every option on; its last byte (one input in sixteen) also
// picks a read that fails or a file that shrinks partway, which must surface as exactly that.
inline std::string CheckRescue(std::string_view bytes) {
  using namespace rescue_check;
  RescueOptions options;
  options.deleted = true;
  options.fragments = true;
  // Windows of 32 KiB: under the sanitizers larger buffers are mapped afresh for every input.
  constexpr size_t kWindow = size_t{32} << 10;
  {
    catalogue::testing::ByteFile file(bytes);
    ScanOptions scanning;
    scanning.windowBytes = kWindow;
    const MailboxRescue rescued = PlanRescue(&file, options, nullptr, scanning);
    std::string problem = CheckPlanShape(rescued, &file);
    MessageReader reader(&file, rescued.plan, nullptr, kWindow);
    for (const PlannedMessage& m : rescued.plan.messages) {
      if (!problem.empty()) return problem;
      // Streamed, not kept: the bytes are counted and the filled ranges looked at as they pass.
      const ByteRange* fill = rescued.plan.FilledOf(m);
      const ByteRange* fillEnd = fill + m.fillCount;
      uint64_t at = 0;
      const ReadOutcome o = reader.Read(m, [&](const uint8_t* p, size_t n) {
        for (; fill != fillEnd && fill->at < at + n; ++fill) {
          for (uint64_t k = std::max(fill->at, at); k < fill->at + fill->length && k < at + n;
               ++k) {
            if (p[k - at] != kFillByte) problem = "a filled range not filled";
          }
          if (fill->at + fill->length > at + n) break;
        }
        at += n;
        return true;
      });
      if (problem.empty()) problem = CheckRead(rescued.plan, m, at, o);
    }
    if (!problem.empty()) return problem;
  }

  const uint8_t pick = bytes.empty() ? 0 : static_cast<uint8_t>(bytes.back());
  if ((pick & 0xF0) != 0xF0 || bytes.size() < 64) return {};
  // Fail (or shrink) at one of the first reads (a rescue of a small file makes a handful): the
  // plan or a message read must report it.
  const uint32_t at = pick & 0x07;
  const bool shrink = (pick & 0x08) != 0;
  FaultyFile file(bytes, at, shrink);
  ScanOptions scanning;
  scanning.windowBytes = kWindow;
  const MailboxRescue planned = PlanRescue(&file, options, nullptr, scanning);
  ReadFailure seen = planned.error.failure;
  if (seen == ReadFailure::kNone) {
    MessageReader reader(&file, planned.plan, nullptr, kWindow);
    for (const PlannedMessage& m : planned.plan.messages) {
      const ReadOutcome o = reader.Read(m, [](const uint8_t*, size_t) { return true; });
      if (o.result == ReadOutcome::kFailed) {
        seen = o.error.failure;
        break;
      }
    }
  }
  const ReadFailure expected = shrink ? ReadFailure::kChanged : ReadFailure::kIoError;
  if (seen != ReadFailure::kNone && seen != expected) return "a fault reported as another kind";
  // Once the file fails every read fails, and the scan reads after the catalogue: a fault is
  // always met by the scan or the reader.
  if (file.faulted() && !shrink && seen != ReadFailure::kIoError) {
    return "a failed read went unreported";
  }
  return {};
}

}  // namespace quillon::fuzzing

#endif  // QUILLON_RESCUE_TESTING_RESCUE_CHECK_H_
