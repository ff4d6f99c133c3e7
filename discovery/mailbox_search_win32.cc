#include <windows.h>

#include "discovery/mailbox_search.h"

namespace quillon {
namespace {

// The longest pattern the ANSI directory search takes (MAX_PATH with its terminator).
constexpr size_t kMaxPatternLength = MAX_PATH - 1;

// The pattern made absolute, as the search itself resolves it, and cut before "\*.dbx".
std::string AbsoluteFolder(const std::string& pattern) {
  std::string full(MAX_PATH, '\0');
  DWORD length =
      ::GetFullPathNameA(pattern.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  if (length >= full.size()) {
    full.assign(length, '\0');
    length = ::GetFullPathNameA(pattern.c_str(), length, &full[0], nullptr);
  }
  full.resize(length < full.size() ? length : 0);
  if (full.empty()) full = pattern;  // cannot happen for a pattern the search accepted
  const size_t separator = full.find_last_of("\\/");
  full.erase(separator == std::string::npos ? 0 : separator);
  return full;
}

}  // namespace

bool IsExistingFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool MailboxSearch::Start(const std::string& folder) {
  Close();
  const std::string pattern = folder + "\\*.dbx";
  // The ANSI search's limit on Windows, checked here so that a system that takes longer
  // patterns lists the same.
  if (pattern.size() > kMaxPatternLength) return false;
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  m_search = search;
  m_name = found.cFileName;
  m_folder = AbsoluteFolder(pattern);
  return true;
}

bool MailboxSearch::Next() {
  if (m_search == nullptr) return false;
  WIN32_FIND_DATAA found;
  if (!::FindNextFileA(static_cast<HANDLE>(m_search), &found)) return false;
  m_name = found.cFileName;
  return true;
}

void MailboxSearch::Close() {
  if (m_search != nullptr) ::FindClose(static_cast<HANDLE>(m_search));
  m_search = nullptr;
}

}  // namespace quillon
