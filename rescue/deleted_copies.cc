#include "rescue/deleted_copies.h"

#include <algorithm>
#include <cstring>

#include "rescue/block_scan.h"
#include "text/ascii.h"

namespace quillon::rescue {
namespace {

// The header section is looked through this far for the Message-ID.
constexpr size_t kMaxHeader = 64u << 10;
// Live messages compared with one deleted message, at most.
constexpr size_t kMaxCandidates = 16;

uint64_t Key(const Sha256Digest& d) {
  uint64_t k;
  std::memcpy(&k, d.data(), sizeof k);
  return k;
}

}  // namespace

std::string FindMessageId(const std::string& header, uint64_t* lineBegin, uint64_t* lineEnd) {
  static const char kName[] = "message-id:";
  const size_t nameLength = sizeof kName - 1;
  for (size_t line = 0; line < header.size();) {
    size_t eol = header.find('\n', line);
    if (eol == std::string::npos) eol = header.size();
    bool match = eol - line >= nameLength;
    for (size_t k = 0; match && k < nameLength; ++k)
      match = AsciiLower(header[line + k]) == kName[k];
    if (match) {
      // The value, with folded continuation lines joined and the white space around it dropped.
      std::string value;
      size_t end = eol;
      value.append(header, line + nameLength, eol - line - nameLength);
      while (end + 1 < header.size() && (header[end + 1] == ' ' || header[end + 1] == '\t')) {
        size_t next = header.find('\n', end + 1);
        if (next == std::string::npos) next = header.size();
        value.append(header, end + 1, next - end - 1);
        end = next;
      }
      value.erase(std::remove(value.begin(), value.end(), '\r'), value.end());
      const size_t first = value.find_first_not_of(" \t");
      const size_t last = value.find_last_not_of(" \t");
      *lineBegin = line;
      *lineEnd = end;
      return first == std::string::npos ? std::string() : value.substr(first, last - first + 1);
    }
    line = eol + 1;
  }
  return {};
}

MessagePrinter::MessagePrinter() = default;

void MessagePrinter::Hash(const uint8_t* bytes, size_t size) {
  // Skip the four bytes at the start of every 0x200: a deleted copy has lost them.
  while (size > 0) {
    const uint32_t within = static_cast<uint32_t>(length_ % kClientBlockData);
    size_t n;
    if (within < kDeletedLinkBytes) {
      n = std::min<size_t>(size, kDeletedLinkBytes - within);
    } else {
      n = std::min<size_t>(size, kClientBlockData - within);
      masked_.Update(bytes, n);
      if (!headFinished_ && length_ < MessagePrint::kHeadBytes) {
        head_.Update(bytes, std::min<size_t>(n, MessagePrint::kHeadBytes - length_));
      }
    }
    length_ += n;
    bytes += n;
    size -= n;
    if (!headFinished_ && length_ >= MessagePrint::kHeadBytes) {
      headDigest_ = head_.Finish();
      headFinished_ = true;
    }
  }
}

void MessagePrinter::Update(const uint8_t* bytes, size_t size) {
  if (!headerDone_) {
    const size_t from = header_.size() < 3 ? 0 : header_.size() - 3;
    header_.append(reinterpret_cast<const char*>(bytes),
                   std::min(size, kMaxHeader - header_.size()));
    const size_t blank = header_.find("\r\n\r\n", from);
    if (blank != std::string::npos) header_.resize(blank + 2);
    if (blank != std::string::npos || header_.size() >= kMaxHeader) headerDone_ = true;
  }
  Hash(bytes, size);
}

MessagePrint MessagePrinter::Finish() {
  MessagePrint print;
  print.length = length_;
  print.masked = masked_.Finish();
  print.head = headFinished_ ? headDigest_ : head_.Finish();
  print.messageId = FindMessageId(header_, &print.idBegin, &print.idEnd);
  return print;
}

void LiveMessageSet::Add(MessagePrint print, std::string where) {
  byHead_.emplace(Key(print.head), entries_.size());
  entries_.push_back(Entry{std::move(print), std::move(where)});
}

std::vector<const LiveMessageSet::Entry*> LiveMessageSet::WithHead(const Sha256Digest& head) const {
  std::vector<const Entry*> found;
  const auto range = byHead_.equal_range(Key(head));
  for (auto it = range.first; it != range.second; ++it) {
    const Entry& e = entries_[it->second];
    if (e.print.head == head) found.push_back(&e);
  }
  return found;
}

RescuePlan ExamineDeleted(InputFile* file, RescuePlan plan, const LiveMessageSet& live,
                          ReadOutcome* outcome, const std::atomic<bool>* abort) {
  *outcome = ReadOutcome{};
  MessageReader reader(file, plan, abort);
  for (size_t i = 0; i < plan.messages.size(); ++i) {
    PlannedMessage* whole = plan.messages.Whole(i);  // deleted messages are kept whole
    if (whole == nullptr || whole->status != Status::kDeleted) continue;
    PlannedMessage& m = *whole;
    const uint64_t most = m.size;
    MessagePrinter printer;
    ReadOutcome read = reader.Read(m, [&](const uint8_t* bytes, size_t size) {
      printer.Update(bytes, size);
      return true;
    });
    if (read.result == ReadOutcome::kFailed) {
      *outcome = read;
      return plan;
    }
    const MessagePrint print = printer.Finish();
    m.size = print.length;
    if ((m.flags & PlannedMessage::kTailMissing) != 0) continue;  // not whole: no copy of anything
    bool idReadable = !print.messageId.empty();
    for (uint32_t k = 0; k < m.fillCount && idReadable; ++k) {
      const ByteRange& r = plan.FilledOf(m)[k];
      idReadable = r.at + r.length <= print.idBegin || r.at >= print.idEnd;
    }
    // Each candidate costs a read of the deleted message: a run of many messages that begin
    // alike (a hostile one) is looked through so far only.
    std::vector<const LiveMessageSet::Entry*> candidates = live.WithHead(print.head);
    if (candidates.size() > kMaxCandidates) candidates.resize(kMaxCandidates);
    for (const LiveMessageSet::Entry* c : candidates) {
      const uint64_t length = c->print.length;
      const uint64_t blocks = (length + kClientBlockData - 1) / kClientBlockData;
      if (blocks != m.blocks || length > most) continue;
      if (idReadable && c->print.messageId != print.messageId) continue;
      // The deleted bytes up to the live message's length, printed the same way.
      MessagePrinter prefix;
      uint64_t left = length;
      read = reader.Read(m, [&](const uint8_t* bytes, size_t size) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(size, left));
        prefix.Update(bytes, n);
        left -= n;
        return left != 0;
      });
      if (read.result == ReadOutcome::kFailed) {
        *outcome = read;
        return plan;
      }
      if (left == 0 && prefix.Finish().masked == c->print.masked) {
        m.liveCopy = static_cast<uint32_t>(plan.liveCopies.size());
        plan.liveCopies.push_back(LiveCopy{c->where, c->print.messageId});
        break;
      }
    }
  }
  return plan;
}

}  // namespace quillon::rescue
