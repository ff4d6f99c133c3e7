// Code pages through the system's tables: MultiByteToWideChar, then WideCharToMultiByte to UTF-8.
#include <windows.h>

#include "text/code_pages.h"
#include "text/code_pages_platform.h"

namespace quillon {
namespace {

// These code pages refuse MB_ERR_INVALID_CHARS; the system then picks its own stand-in for a
// byte that is no character.
bool TakesNoFlags(uint32_t codePage) {
  return (codePage >= 50220 && codePage <= 50229) || codePage == 52936 || codePage == 54936 ||
         (codePage >= 57002 && codePage <= 57011) || codePage == 65000 || codePage == 42;
}

// UTF-16 of `bytes`, or false when `flags` make the system refuse them.
bool ToWide(std::string_view bytes, uint32_t codePage, DWORD flags, std::wstring* wide) {
  if (bytes.empty()) return true;
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (n <= 0) return false;
  const size_t at = wide->size();
  wide->resize(at + static_cast<size_t>(n));
  if (MultiByteToWideChar(codePage, flags, bytes.data(), size, &(*wide)[at], n) == n) return true;
  wide->resize(at);
  return false;
}

}  // namespace

bool CodePageAvailable(uint32_t codePage) { return IsValidCodePage(codePage) != 0; }

bool PlatformToUtf8(std::string_view bytes, uint32_t codePage, bool strict, std::string* out) {
  std::wstring wide;
  if (TakesNoFlags(codePage)) {
    // The system's stand-ins cannot be told from characters, so strict is as lenient here.
    if (!ToWide(bytes, codePage, 0, &wide) && strict) return false;
  } else if (!ToWide(bytes, codePage, MB_ERR_INVALID_CHARS, &wide)) {
    if (strict) return false;
    // Character by character, so that only the bytes that are no character are lost.
    wide.clear();
    for (size_t i = 0; i < bytes.size();) {
      const bool lead = IsDBCSLeadByteEx(codePage, static_cast<BYTE>(bytes[i])) != 0;
      if (lead && i + 1 < bytes.size() &&
          ToWide(bytes.substr(i, 2), codePage, MB_ERR_INVALID_CHARS, &wide)) {
        i += 2;
      } else if (!lead && ToWide(bytes.substr(i, 1), codePage, MB_ERR_INVALID_CHARS, &wide)) {
        ++i;
      } else {
        wide.push_back(0xFFFD);
        ++i;
      }
    }
  }
  if (wide.empty()) return true;
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return !strict;
  const size_t at = out->size();
  out->resize(at + static_cast<size_t>(n));
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, &(*out)[at], n, nullptr, nullptr);
  return true;
}

}  // namespace quillon
