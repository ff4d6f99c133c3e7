#include "discovery/store_names.h"

#include <cstdint>
#include <map>
#include <set>

#include "text/ascii.h"
#include "text/file_names.h"
#include "text/utf8.h"

namespace quillon {

namespace {

bool IsControl(uint32_t code) { return code < 0x20 || (code >= 0x7F && code <= 0x9F); }

// Every character kept or replaced by `replacement`, as `replace` decides.
template <typename Replace>
std::string MapCharacters(const std::string& text, char replacement, Replace replace) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    uint32_t code = 0;
    const size_t length = Utf8Length(text, at, &code);
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

// `base` cut so that `suffix` fits after it within `maxBytes`, then `suffix`.
std::string WithSuffix(std::string base, const std::string& suffix, size_t maxBytes) {
  base.resize(CutUtf8(base, maxBytes > suffix.size() ? maxBytes - suffix.size() : 0).size());
  TrimTrailingDotsAndSpaces(&base);
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
  clean.resize(CutUtf8(clean, kMaxDisplayNameBytes).size());
  return clean;
}

std::string SafeFolderName(const std::string& text, size_t maxBytes) {
  return FinishName(MapCharacters(text, '_', IsForbiddenInName), maxBytes);
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
    ++uses[AsciiLowered(names.back())];
  }
  // Names that meet say whose they are: the user's, else the identity's GUID.
  for (size_t i = 0; i < stores.size(); ++i) {
    if (uses[AsciiLowered(names[i])] < 2 || !stores[i].hasIdentity) continue;
    const StoreIdentity& id = stores[i].identity;
    std::string qualifier = !id.user.empty() ? id.user : id.guid;
    if (AsciiLowered(qualifier) == AsciiLowered(names[i])) continue;
    names[i] =
        WithSuffix(names[i], " (" + SafeFolderName(qualifier, 40) + ")", kMaxStoreFolderNameBytes);
  }
  // Whatever still meets is numbered, in the stores' order.
  std::set<std::string> taken;
  for (std::string& name : names) {
    std::string candidate = name;
    for (int number = 2; !taken.insert(AsciiLowered(candidate)).second; ++number) {
      candidate = WithSuffix(name, " (" + std::to_string(number) + ")", kMaxStoreFolderNameBytes);
    }
    name = candidate;
  }
  return names;
}

}  // namespace quillon
