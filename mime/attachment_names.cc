#include "mime/attachment_names.h"

#include "text/ascii.h"
#include "text/file_names.h"
#include "text/utf8.h"

namespace quillon::mime {
namespace {

// The characters that reorder the text around them: "gpj.exe" behind U+202E shows as
// "exe.jpg", so a name could pass for the type it is not.
bool IsBidiControl(uint32_t code) {
  return (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069) ||
         code == 0x200E || code == 0x200F || code == 0x061C;
}

// Where the extension of a safe name starts: its last dot, when something comes before it and
// the extension is short enough to be one; else the end.
size_t ExtensionStart(std::string_view name) {
  const size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || name.size() - dot > 32) return name.size();
  return dot;
}

// `stem` + `suffix` + `extension`, the stem cut on a character boundary so that the whole fits
// in kMaxFileNameBytes.
std::string Join(std::string_view stem, std::string_view suffix, std::string_view extension) {
  const size_t room = kMaxFileNameBytes - suffix.size() - extension.size();
  std::string out(CutUtf8(stem, room));
  out += suffix;
  out += extension;
  return out;
}

}  // namespace

std::string SafeFileName(std::string_view name) {
  const size_t slash = name.find_last_of("/\\");
  if (slash != std::string_view::npos) name.remove_prefix(slash + 1);
  std::string out;
  out.reserve(name.size());
  for (size_t pos = 0; pos < name.size();) {
    const uint32_t code = NextCodePoint(name, &pos);
    if (IsForbiddenInName(code) || IsBidiControl(code)) {
      out += '_';
    } else {
      AppendUtf8(code, &out);
    }
  }
  const size_t start = out.find_first_not_of(". ");
  out.erase(0, start == std::string::npos ? out.size() : start);
  TrimTrailingDotsAndSpaces(&out);
  if (out.empty()) return "attachment";
  if (out.size() > kMaxFileNameBytes) {
    const size_t dot = ExtensionStart(out);
    out = Join(std::string_view(out).substr(0, dot), "", std::string_view(out).substr(dot));
  }
  return FinishName(std::move(out), kMaxFileNameBytes);
}

std::string FolderNames::Add(std::string_view name) {
  std::string safe = SafeFileName(name);
  if (taken_.insert(AsciiLowered(safe)).second) return safe;
  const size_t dot = ExtensionStart(safe);
  const std::string_view stem = std::string_view(safe).substr(0, dot);
  const std::string_view extension = std::string_view(safe).substr(dot);
  for (size_t number = 2;; ++number) {
    std::string numbered =
        FinishName(Join(stem, " (" + std::to_string(number) + ")", extension), kMaxFileNameBytes);
    if (taken_.insert(AsciiLowered(numbered)).second) return numbered;
  }
}

}  // namespace quillon::mime
