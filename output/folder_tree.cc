#include "output/folder_tree.h"

#include <algorithm>

#include "text/file_names.h"
#include "text/utf8.h"

namespace quillon::output {

const char* FormatName(Format format) {
  switch (format) {
    case Format::kEml:
      return "eml";
    case Format::kMbox:
      return "mbox";
    case Format::kMaildir:
      return "maildir";
  }
  return "";
}

bool ParseFormat(std::string_view name, Format* format) {
  for (Format f : {Format::kEml, Format::kMbox, Format::kMaildir}) {
    if (name == FormatName(f)) {
      *format = f;
      return true;
    }
  }
  return false;
}

FolderTree::FolderTree(Format format) : format_(format) {
  nodes_.emplace_back();
  if (format_ == Format::kMaildir) {
    // The Maildir of INBOX and what Dovecot keeps beside it.
    for (const char* name : {"cur", "new", "tmp", "maildirfolder"}) NamesIn("").Take(name);
  }
}

FolderTree::Place FolderTree::Locate(const std::vector<std::string>& folder) {
  size_t node = 0;
  if (folder.empty() && format_ == Format::kMbox) {
    node = Child(0, "Inbox");
  } else {
    for (size_t i = 0; i < folder.size(); ++i) {
      if (i == kMaxFolderDepth - 1) {
        node = Child(node, folder.back());
        break;
      }
      node = Child(node, folder[i]);
    }
  }
  // Messages come folder by folder: the place is made again only when the folder changes.
  if (node != located_.node || (node != 0 && located_.path.empty())) {
    located_.path = PathOf(node);
    located_.node = node;
  }
  return located_;
}

std::vector<size_t> FolderTree::Ancestors(size_t node) const {
  std::vector<size_t> above;
  for (size_t at = nodes_[node].above; at != 0; at = nodes_[at].above) above.push_back(at);
  std::reverse(above.begin(), above.end());
  return above;
}

std::string FolderTree::PathOf(size_t node) const {
  if (format_ == Format::kMaildir) return nodes_[node].own;
  // eml: "A/B/C"; mbox: the file "A.sbd/B.sbd/C".
  const char* const separator = format_ == Format::kMbox ? ".sbd/" : "/";
  std::vector<size_t> chain;
  for (size_t at = node; at != 0; at = nodes_[at].above) chain.push_back(at);
  std::string path;
  for (size_t k = chain.size(); k-- > 0;) {
    if (!path.empty()) path += separator;
    path += nodes_[chain[k]].own;
  }
  return path;
}

size_t FolderTree::Child(size_t parent, const std::string& name) {
  const auto found = nodes_[parent].children.find(name);
  if (found != nodes_[parent].children.end()) return found->second;

  Node node;
  node.parent = parent;
  node.above = parent;
  switch (format_) {
    case Format::kEml:
      node.own = NamesIn(PathOf(parent)).Claim(SafeName(name), "");
      break;
    case Format::kMbox: {
      const std::string dir = parent == 0 ? "" : PathOf(parent) + ".sbd";
      // Thunderbird keeps a folder's subfolders in "X.sbd" and its summary in "X.msf"; Dovecot
      // locks "X" with "X.lock". Each must be free, and fit beside the name.
      node.own = NamesIn(dir).Claim(SafeName(name), "", {".sbd", ".msf", ".lock"});
      break;
    }
    case Format::kMaildir: {
      size_t attachedTo = parent;
      if (parent == 0 && FoldCase(name) == "inbox" && !nodes_[0].childNames.IsTaken("INBOX")) {
        // Dovecot takes a top-level "Inbox" for INBOX itself, which is the output folder.
        nodes_[0].childNames.Take("INBOX");
        node.prefix = ".INBOX";
        break;
      }
      node.own = MaildirName(parent, name, &attachedTo);
      node.prefix = node.own;
      node.parent = attachedTo;
      break;
    }
  }
  nodes_.push_back(std::move(node));
  const size_t index = nodes_.size() - 1;
  nodes_[parent].children.emplace(name, index);
  return index;
}

std::string FolderTree::MaildirName(size_t parent, const std::string& name, size_t* attachedTo) {
  std::string level = name;
  for (char& c : level) {
    if (c == '.') c = '_';
  }
  level = SafeName(level);
  // The whole name, levels and dots, must fit in one file name; room is kept for " (n)". A
  // folder too deep for any of its name goes up to the nearest folder that leaves room.
  constexpr size_t kSuffixRoom = 8;
  for (size_t at = parent;; at = nodes_[at].parent) {
    const std::string& prefix = nodes_[at].prefix;
    if (at != 0 && prefix.size() + 1 + 4 + kSuffixRoom > kMaxNameBytes) continue;
    const size_t room = kMaxNameBytes - prefix.size() - 1 - kSuffixRoom;
    size_t budget = std::min(level.size(), room);
    while (budget > 1 && ToModifiedUtf7(CutUtf8(level, budget)).size() > room) --budget;
    *attachedTo = at;
    std::string fitted(CutUtf8(level, budget));
    // Dovecot refuses a mailbox whose name begins with '~' ("Begins with '~'"); only a name at
    // the top begins the whole name.
    if (at == 0 && fitted[0] == '~') fitted[0] = '_';
    const std::string claimed = nodes_[at].childNames.Claim(fitted, "");
    return prefix + "." + ToModifiedUtf7(claimed);
  }
}

}  // namespace quillon::output
