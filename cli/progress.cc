#include "cli/progress.h"

#include <cstdio>
#include <vector>

#include "discovery/store_names.h"

namespace quillon {

namespace {

// The path shortened from the left keeps at least this many columns of its end, or goes.
constexpr size_t kShortestTail = 6;

struct Character {
  size_t begin, length;
  uint32_t code;  // 0xFFFD for a byte that is not valid UTF-8
};

Character DecodeAt(const std::string& s, size_t i) {
  const unsigned char lead = static_cast<unsigned char>(s[i]);
  const size_t n = lead < 0x80         ? 1
                   : (lead >> 5) == 6  ? 2
                   : (lead >> 4) == 14 ? 3
                   : (lead >> 3) == 30 ? 4
                                       : 0;
  if (n == 0 || i + n > s.size()) return {i, 1, 0xFFFD};
  uint32_t code = n == 1 ? lead : lead & (0x7Fu >> n);
  for (size_t k = 1; k < n; ++k) {
    const unsigned char next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) return {i, 1, 0xFFFD};
    code = code << 6 | (next & 0x3Fu);
  }
  return {i, n, code};
}

std::vector<Character> Decode(const std::string& s) {
  std::vector<Character> chars;
  for (size_t i = 0; i < s.size(); i += chars.back().length) chars.push_back(DecodeAt(s, i));
  return chars;
}

// East Asian wide and fullwidth characters, and the emoji, which terminals draw two columns wide.
bool IsWide(uint32_t c) {
  static const struct {
    uint32_t first, last;
  } kWide[] = {{0x1100, 0x115F},   {0x2E80, 0x303E},  {0x3041, 0x33FF}, {0x3400, 0x4DBF},
               {0x4E00, 0x9FFF},   {0xA000, 0xA4CF},  {0xAC00, 0xD7A3}, {0xF900, 0xFAFF},
               {0xFE30, 0xFE4F},   {0xFF00, 0xFF60},  {0xFFE0, 0xFFE6}, {0x1F300, 0x1F64F},
               {0x1F900, 0x1F9FF}, {0x20000, 0x3FFFD}};
  for (const auto& range : kWide) {
    if (c >= range.first && c <= range.last) return true;
  }
  return false;
}

size_t Columns(uint32_t c) { return IsWide(c) ? 2 : 1; }

// The longest end of `s`, in whole characters, that takes at most `columns`.
std::string Tail(const std::string& s, size_t columns) {
  const std::vector<Character> chars = Decode(s);
  size_t used = 0, from = s.size();
  for (size_t k = chars.size(); k-- > 0;) {
    used += Columns(chars[k].code);
    if (used > columns) break;
    from = chars[k].begin;
  }
  return s.substr(from);
}

}  // namespace

size_t DisplayWidth(const std::string& utf8) {
  size_t width = 0;
  for (const Character& c : Decode(utf8)) width += Columns(c.code);
  return width;
}

std::string FitColumns(const std::string& utf8, size_t columns, bool pad) {
  const std::string shown = PrintableText(utf8);
  size_t width = DisplayWidth(shown);
  std::string out;
  if (width <= columns) {
    out = shown;
  } else if (columns > 0) {
    // Whole characters while one column is left for the ellipsis.
    width = 0;
    for (const Character& c : Decode(shown)) {
      if (width + Columns(c.code) > columns - 1) break;
      out += shown.substr(c.begin, c.length);
      width += Columns(c.code);
    }
    out += "\xE2\x80\xA6";  // U+2026, one column
    ++width;
  } else {
    width = 0;
  }
  if (pad && width < columns) out.append(columns - width, ' ');
  return out;
}

std::string HumanSize(uint64_t bytes) {
  const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes);
  int unit = 0;
  while (value >= 1024 && unit < 4) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  if (unit == 0) {
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  } else {
    std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  }
  return text;
}

std::string FormatProgress(const ProgressState& state, size_t columns) {
  const size_t limit = columns > 0 ? columns - 1 : 0;
  std::string head = "[" + std::to_string(state.mailbox) + "/" + std::to_string(state.mailboxes) +
                     "] " + std::to_string(state.percent > 100 ? 100 : state.percent) + "% ";
  if (state.writing) {
    head += std::to_string(state.written) + (state.dryRun ? " counted" : " written");
  } else {
    head += "searching";
  }
  if (head.size() > limit) return head.substr(0, limit);  // the head is ASCII

  const std::string path = PrintableText(state.path);
  const size_t room = limit - head.size();
  const std::string withSize = "  " + path + " (" + HumanSize(state.size) + ")";
  if (DisplayWidth(withSize) <= room) return head + withSize;
  if (DisplayWidth(path) + 2 <= room) return head + "  " + path;
  if (room >= 2 + 3 + kShortestTail) return head + "  ..." + Tail(path, room - 2 - 3);
  return head;
}

}  // namespace quillon
