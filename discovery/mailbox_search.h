// The directory search behind the mailbox file list: the "*.dbx" entries of one folder, in the
// order the system's search returns them, with the full path of each.
#ifndef QUILLON_DISCOVERY_MAILBOX_SEARCH_H_
#define QUILLON_DISCOVERY_MAILBOX_SEARCH_H_

#include <string>

namespace quillon {

// True when `path` exists and is a folder.
bool IsExistingFolder(const std::string& path);

// One search, open from a successful Start until Close or destruction. Not copyable.
class MailboxSearch {
 public:
  MailboxSearch() = default;
  ~MailboxSearch() { Close(); }
  MailboxSearch(const MailboxSearch&) = delete;
  MailboxSearch& operator=(const MailboxSearch&) = delete;

  // Searches `folder` + "\*.dbx" and makes the first entry current. False, with nothing open,
  // when nothing matches, when that pattern is longer than 259 characters or when the search
  // cannot start. Every name the system matches is an entry, hidden files and folders included.
  bool Start(const std::string& folder);
  // The current entry's file name, without its folder.
  const std::string& Name() const { return m_name; }
  // Makes the next entry current; false, leaving the current one, when there is none.
  bool Next();
  // The absolute form of the searched folder (the pattern made absolute against the current
  // directory, cut at its last separator), a backslash and `name`.
  std::string FullPath(const std::string& name) const { return m_folder + "\\" + name; }
  void Close();

 private:
  void* m_search = nullptr;  // the system's search handle while open
  std::string m_folder;
  std::string m_name;
};

}  // namespace quillon

#endif  // QUILLON_DISCOVERY_MAILBOX_SEARCH_H_
