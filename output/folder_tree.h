// Where each folder of the mail tree lands on disk, per format:
//   eml      nested folders: "Local Folders/Inbox";
//   mbox     Thunderbird's layout: the file "Local Folders", its subfolders in
//            "Local Folders.sbd/" ("Local Folders.sbd/Inbox");
//   maildir  Maildir++ as Dovecot reads it by default: the output folder is INBOX, every other
//            folder a Maildir ".Local Folders.Inbox" beside cur/new/tmp, each level's name in
//            IMAP's modified UTF-7 with '.' (the level separator) inside a name turned into '_'.
// Every name is made safe (SafeName) and unique among its siblings whatever the case, so two
// folders never share a place; the same folder path always gets the same place in one run.
#ifndef QUILLON_OUTPUT_FOLDER_TREE_H_
#define QUILLON_OUTPUT_FOLDER_TREE_H_

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "output/names.h"
#include "text/paths.h"

namespace quillon::output {

enum class Format : uint8_t { kEml, kMbox, kMaildir };
// "eml", "mbox", "maildir".
const char* FormatName(Format format);
bool ParseFormat(std::string_view name, Format* format);

// Folders deeper than this keep their first kMaxFolderDepth - 1 names and their own: a tree
// read from a damaged file must not make paths no file system takes.
inline constexpr size_t kMaxFolderDepth = 16;

// "a/b" from "a" and "b"; "b" when `folder` is empty. Paths below the output folder have '/'
// between their names on every system.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
  return quillon::JoinPath(folder, name, '/');
}

class FolderTree {
 public:
  explicit FolderTree(Format format);

  // eml and maildir: the folder, "" being the output folder (for maildir the Maildir, "" being
  // INBOX). mbox: the mbox file; its folder is made by the writer. `node` names the folder in
  // this tree (0: the output folder), for Ancestors and PathOf.
  struct Place {
    std::string path;
    size_t node = 0;
  };

  // The place of `folder` (outermost name first). An empty path is the output folder: for mbox,
  // which needs a file, it is the file "Inbox" (the folder a mailbox without a tree shows).
  Place Locate(const std::vector<std::string>& folder);

  // The folders above `node`, outermost first, the output folder left out (mbox makes a file for
  // each, maildir a Maildir).
  std::vector<size_t> Ancestors(size_t node) const;
  // The place of folder `node`. Places are made when asked for from each folder's own name: a
  // tree of 20,000 nested folders keeps each name once, not every path whole.
  std::string PathOf(size_t node) const;

  // The names taken in the folder `dir` of the output (eml's files share them with folders).
  NameSet& NamesIn(const std::string& dir) { return names_[dir]; }

 private:
  struct Node {
    std::map<std::string, size_t> children;  // by the name as given
    // eml and mbox: its name in the folder above; maildir: its whole Maildir name.
    std::string own;
    size_t above = 0;    // the folder it lies in, in the tree as given
    std::string prefix;  // maildir: what the children's names start with (".A.B")
    size_t parent = 0;   // maildir: the folder whose name it was made under
    NameSet childNames;  // maildir: the level names of the children
  };
  size_t Child(size_t parent, const std::string& name);
  std::string MaildirName(size_t parent, const std::string& name, size_t* attachedTo);

  Format format_;
  std::vector<Node> nodes_;
  std::map<std::string, NameSet> names_;
  Place located_;  // the last place Locate gave, whose path is not made again
};

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_FOLDER_TREE_H_
