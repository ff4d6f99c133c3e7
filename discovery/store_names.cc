#include "discovery/store_names.h"

#include <cstdint>
#include <map>
#include <set>

namespace quillon {

namespace {

// The length of the well-formed UTF-8 character at text[at], or 0 when none starts there
// (overlong forms, surrogates and code points past U+10FFFF are not well-formed).
size_t CharLength(const std::string& text, size_t at, uint32_t* code) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  if (lead < 0x80) {
    *code = lead;
    return 1;
  }
  size_t length;
  uint32_t value;
  uint32_t least;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F, least = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F, least = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, value = lead & 0x07, least = 0x10000;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    value = (value << 6) | (byte(at + i) & 0x3F);
  }
  if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  *code = value;
  return length;
}

bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

// Every character kept or replaced by `replacement`, as `replace` decides.
template <typename Replace>
std::string MapCharacters(const std::string& text, char replacement, Replace replace) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    const size_t length = CharLength(text, at, &code);
    if (length == 0 || replace(code)) {
      out += replacement;
      at += length == 0 ? 1 : length;
    } else {
      out.append(text, at, length);
      at += length;
    }
  }
  return out;
}

// Cuts well-formed UTF-8 to at most `maxBytes` without splitting a character.
void CutToBytes(std::string* text, size_t maxBytes) {
  if (text->size() <= maxBytes) return;
  size_t end = maxBytes;
  while (end > 0 && (static_cast<uint8_t>((*text)[end]) & 0xC0) == 0x80) --end;
  text->resize(end);
}

void DropTrailingDotsAndSpaces(std::string* text) {
  while (!text->empty() && (text->back() == '.' || text->back() == ' ')) text->pop_back();
}

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string AsciiFolded(std::string text) {
  for (char& c : text) c = AsciiLower(c);
  return text;
}

// The length of the device name `text` starts with, when that is all before the extension (or
// trailing spaces); else 0.
size_t ReservedStemLength(const std::string& text) {
  size_t stem = text.find('.');
  if (stem == std::string::npos) stem = text.size();
  while (stem > 0 && text[stem - 1] == ' ') --stem;
  const std::string name = AsciiFolded(text.substr(0, stem));
  static const std::set<std::string> kDevices = {"con", "prn", "aux", "nul"};
  if (kDevices.count(name) != 0) return stem;
  if (name.size() == 4 && (name.compare(0, 3, "com") == 0 || name.compare(0, 3, "lpt") == 0) &&
      name[3] >= '1' && name[3] <= '9') {
    return stem;
  }
  return 0;
}

// `base` cut so that `suffix` fits after it within `maxBytes`, then `suffix`.
std::string WithSuffix(std::string base, const std::string& suffix, size_t maxBytes) {
  CutToBytes(&base, maxBytes > suffix.size() ? maxBytes - suffix.size() : 0);
  DropTrailingDotsAndSpaces(&base);
  return SafeFolderName(base + suffix, maxBytes);
}

std::string LastComponent(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && (path[end - 1] == '/' || path[end - 1] == '\\')) --end;
  size_t start = end;
  while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\') --start;
  return path.substr(start, end - start);
}

}  // namespace

std::string PrintableText(const std::string& text) { return MapCharacters(text, '?', IsControl); }

std::string CleanDisplayName(const std::string& text) {
  std::string clean = PrintableText(text);
  CutToBytes(&clean, kMaxDisplayNameBytes);
  return clean;
}

std::string SafeFolderName(const std::string& text, size_t maxBytes) {
  std::string name = MapCharacters(text, '_', [](uint32_t code) {
    switch (code) {
      case '/':
      case '\\':
      case ':':
      case '*':
      case '?':
      case '"':
      case '<':
      case '>':
      case '|':
        return true;
      default:
        return IsControl(code);
    }
  });
  CutToBytes(&name, maxBytes);
  DropTrailingDotsAndSpaces(&name);
  if (const size_t stem = ReservedStemLength(name)) {
    name.insert(stem, 1, '_');
    // The added byte may push the end past the limit: cut again; the device name stays whole.
    CutToBytes(&name, maxBytes);
    DropTrailingDotsAndSpaces(&name);
  }
  if (name.empty()) name = "_";
  return name;
}

std::vector<std::string> StoreFolderNames(const std::vector<MailStore>& stores) {
  std::vector<std::string> names;
  std::map<std::string, int> uses;
  for (const MailStore& store : stores) {
    const StoreIdentity& id = store.identity;
    std::string name = !store.hasIdentity        ? LastComponent(store.path)
                       : !id.displayName.empty() ? id.displayName
                                                 : id.guid;
    names.push_back(SafeFolderName(name));
    ++uses[AsciiFolded(names.back())];
  }
  // Names that meet say whose they are: the user's, else the identity's GUID.
  for (size_t i = 0; i < stores.size(); ++i) {
    if (uses[AsciiFolded(names[i])] < 2 || !stores[i].hasIdentity) continue;
    const StoreIdentity& id = stores[i].identity;
    std::string qualifier = !id.user.empty() ? id.user : id.guid;
    if (AsciiFolded(qualifier) == AsciiFolded(names[i])) continue;
    names[i] =
        WithSuffix(names[i], " (" + SafeFolderName(qualifier, 40) + ")", kMaxStoreFolderNameBytes);
  }
  // Whatever still meets is numbered, in the stores' order.
  std::set<std::string> taken;
  for (std::string& name : names) {
    std::string candidate = name;
    for (int number = 2; !taken.insert(AsciiFolded(candidate)).second; ++number) {
      candidate = WithSuffix(name, " (" + std::to_string(number) + ")", kMaxStoreFolderNameBytes);
    }
    name = candidate;
  }
  return names;
}

}  // namespace quillon
