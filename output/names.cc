#include "output/names.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include "output/mail_time.h"
#include "text/file_names.h"
#include "text/utf8.h"

namespace quillon::output {
namespace {

// `name` cut to `maxBytes` on a character boundary without trailing dots or spaces.
std::string CutName(std::string_view name, size_t maxBytes) {
  std::string cut(CutUtf8(name, maxBytes));
  TrimTrailingDotsAndSpaces(&cut);
  return cut.empty() ? "_" : cut;
}

}  // namespace

std::string SafeName(std::string_view text, size_t maxBytes) {
  std::string out;
  size_t pos = 0;
  bool space = true;  // drops leading spaces too
  while (pos < text.size()) {
    uint32_t cp = NextCodePoint(text, &pos);
    if (cp == '\t' || cp == '\r' || cp == '\n') cp = ' ';
    if (cp == ' ') {
      if (!space) out.push_back(' ');
      space = true;
      continue;
    }
    space = false;
    AppendUtf8(IsForbiddenInName(cp) ? '_' : cp, &out);
  }
  return FinishName(std::move(out), maxBytes);
}

std::string ToModifiedUtf7(std::string_view utf8) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+,";
  std::string out;
  uint32_t bits = 0;
  int bitCount = 0;
  bool inBase64 = false;
  const auto flush = [&] {
    if (!inBase64) return;
    if (bitCount > 0) out.push_back(kAlphabet[(bits << (6 - bitCount)) & 0x3F]);
    out.push_back('-');
    bits = 0;
    bitCount = 0;
    inBase64 = false;
  };
  const auto unit = [&](uint32_t u) {
    bits = (bits << 16) | u;
    bitCount += 16;
    while (bitCount >= 6) {
      bitCount -= 6;
      out.push_back(kAlphabet[(bits >> bitCount) & 0x3F]);
    }
    bits &= (1u << bitCount) - 1;
  };
  for (size_t pos = 0; pos < utf8.size();) {
    const uint32_t cp = NextCodePoint(utf8, &pos);
    if (cp >= 0x20 && cp <= 0x7E) {
      flush();
      out.push_back(static_cast<char>(cp));
      if (cp == '&') out.push_back('-');
      continue;
    }
    if (!inBase64) {
      out.push_back('&');
      inBase64 = true;
    }
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  flush();
  return out;
}

namespace {
// Parts of a split set; a set is split once it holds more than kSplitAt fingerprints.
constexpr size_t kParts = 256;
constexpr size_t kSplitAt = 1 << 16;
}  // namespace

bool FingerprintSet::Add(Part* part, uint64_t f) {
  // A part grows by a quarter when 7/8 full: linear probing stays short (the probes are
  // neighbours in memory), and a grown part is mostly used.
  if ((part->used + 1) * 8 > part->slots.size() * 7) {
    std::vector<uint64_t> old(std::max<size_t>(16, part->slots.size() + part->slots.size() / 4));
    old.swap(part->slots);
    part->used = 0;
    for (uint64_t g : old) {
      if (g != 0) Add(part, g);
    }
  }
  const size_t n = part->slots.size();
  // The slot from the low half, the part from the top byte: the two do not depend on each other.
  for (size_t i = static_cast<size_t>((f & 0xFFFFFFFFu) * n >> 32);; i = i + 1 == n ? 0 : i + 1) {
    if (part->slots[i] == f) return false;
    if (part->slots[i] == 0) {
      part->slots[i] = f;
      ++part->used;
      return true;
    }
  }
}

bool FingerprintSet::Insert(uint64_t f) {
  if (!split_ && size_ >= kSplitAt) {
    std::vector<Part> parts(kParts);
    split_ = true;
    parts.swap(parts_);
    for (uint64_t g : parts[0].slots) {
      if (g != 0) Add(&PartOf(g), g);
    }
  }
  const bool added = Add(&PartOf(f), f);
  size_ += added;
  return added;
}

bool FingerprintSet::Contains(uint64_t f) const {
  const Part& part = PartOf(f);
  const size_t n = part.slots.size();
  if (n == 0) return false;
  for (size_t i = static_cast<size_t>((f & 0xFFFFFFFFu) * n >> 32);; i = i + 1 == n ? 0 : i + 1) {
    if (part.slots[i] == f) return true;
    if (part.slots[i] == 0) return false;
  }
}

uint64_t NameSet::Fingerprint(std::string_view name) {
  const uint64_t f = std::hash<std::string_view>()(FoldCase(name));
  return f == 0 ? 1 : f;
}

bool NameSet::Free(const std::string& name, const std::vector<std::string>& alsoTaken) const {
  if (IsTaken(name)) return false;
  for (const std::string& suffix : alsoTaken) {
    if (IsTaken(name + suffix)) return false;
  }
  return true;
}

std::string NameSet::Claim(std::string_view stem, std::string_view extension,
                           const std::vector<std::string>& alsoTaken) {
  Offer offer = Propose(stem, extension, alsoTaken);
  Accept(offer, stem, alsoTaken);
  return std::move(offer.name);
}

NameSet::Offer NameSet::Propose(std::string_view stem, std::string_view extension,
                                const std::vector<std::string>& alsoTaken) const {
  // Room for the longest of the names taken beside it, so that each of them fits too.
  size_t besides = 0;
  for (const std::string& suffix : alsoTaken) besides = std::max(besides, suffix.size());
  const size_t budget = kMaxNameBytes - extension.size() - besides;
  Offer offer{CutName(stem, budget) + std::string(extension), 0};
  if (Free(offer.name, alsoTaken)) return offer;
  const auto next = next_.find(FoldCase(stem));
  for (uint32_t k = next == next_.end() ? 2 : next->second;; ++k) {
    const std::string suffix = " (" + std::to_string(k) + ")";
    offer.name = CutName(stem, budget - suffix.size()) + suffix + std::string(extension);
    if (Free(offer.name, alsoTaken)) {
      offer.number = k;
      return offer;
    }
  }
}

void NameSet::Accept(const Offer& offer, std::string_view stem,
                     const std::vector<std::string>& alsoTaken) {
  if (offer.number != 0) next_[FoldCase(stem)] = offer.number + 1;
  Take(offer.name);
  for (const std::string& suffix : alsoTaken) Take(offer.name + suffix);
}

std::string_view BaseName(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool NameTemplate::Parse(std::string_view text, NameTemplate* out, std::string* error) {
  if (text.empty()) {
    *error = "the name template is empty";
    return false;
  }
  if (text.find_first_of("/\\") != std::string_view::npos) {
    *error = "the name template '" + std::string(text) +
             "' holds a folder separator ('/' or '\\'); names cannot make folders";
    return false;
  }
  static const struct {
    const char* name;
    Field field;
  } kFields[] = {{"n", Field::kN},       {"mailbox", Field::kMailbox}, {"folder", Field::kFolder},
                 {"date", Field::kDate}, {"time", Field::kTime},       {"from", Field::kFrom},
                 {"to", Field::kTo},     {"subject", Field::kSubject}, {"id", Field::kId}};
  NameTemplate t;
  std::string literal;
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t open = text.find('{', pos);
    const size_t close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) {
      literal += text.substr(pos);
      break;
    }
    literal += text.substr(pos, open - pos);
    const std::string_view name = text.substr(open + 1, close - open - 1);
    pos = close + 1;
    const auto known = std::find_if(std::begin(kFields), std::end(kFields),
                                    [&](const auto& f) { return name == f.name; });
    if (known == std::end(kFields)) {
      t.unknown_.emplace_back(name);
      literal += text.substr(open, close + 1 - open);
      continue;
    }
    if (!literal.empty()) t.pieces_.push_back({Field::kText, std::move(literal)});
    literal.clear();
    t.pieces_.push_back({known->field, ""});
  }
  if (!literal.empty()) t.pieces_.push_back({Field::kText, std::move(literal)});
  *out = std::move(t);
  return true;
}

std::string NameTemplate::Expand(const MessageFacts& facts, int64_t time, size_t reserve) const {
  std::string name;
  const CivilTime c = ToCivil(time);
  char stamp[32];
  for (const Piece& piece : pieces_) {
    switch (piece.field) {
      case Field::kText:
        name += piece.text;
        break;
      case Field::kN:
        name += std::to_string(facts.number);
        break;
      case Field::kMailbox:
        name += BaseName(facts.mailbox);
        break;
      case Field::kFolder:
        name += facts.FolderName();
        break;
      case Field::kDate:
        std::snprintf(stamp, sizeof stamp, "%04lld-%02d-%02d", static_cast<long long>(c.year),
                      c.month, c.day);
        name += stamp;
        break;
      case Field::kTime:
        std::snprintf(stamp, sizeof stamp, "%02d%02d%02d", c.hour, c.minute, c.second);
        name += stamp;
        break;
      case Field::kFrom:
        // A name for a file: the sender's name, else the address.
        name += !facts.senderName.empty()      ? facts.senderName
                : !facts.senderAddress.empty() ? facts.senderAddress
                                               : facts.from;
        break;
      case Field::kTo:
        name += facts.to;
        break;
      case Field::kSubject:
        name += facts.subject;
        break;
      case Field::kId:
        if (facts.indexId) name += std::to_string(*facts.indexId);
        break;
    }
  }
  return SafeName(name, kMaxNameBytes - reserve);
}

}  // namespace quillon::output
