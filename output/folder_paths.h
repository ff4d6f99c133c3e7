// The folder path of each mailbox file, from the folder records of Folders.dbx: what Outlook
// Express showed ("Local Folders" > "Inbox", an account > its folders), or, for a file that no
// record names, a folder of its own under "Unlisted files": a stray copy of an Inbox never takes
// the place of the Inbox the records name. The records come from a damaged file as often as not: a
// parent that is missing, a loop, a chain deeper than any real tree, two records of one name
// under one parent are each given a sound place.
#ifndef QUILLON_OUTPUT_FOLDER_PATHS_H_
#define QUILLON_OUTPUT_FOLDER_PATHS_H_

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace quillon::output {

// One folder record of Folders.dbx, its texts decoded to UTF-8.
struct FolderRecord {
  uint32_t id = 0;
  uint32_t parent = 0xFFFFFFFFu;  // 0xFFFFFFFF for the root ("Outlook Express")
  std::string name;
  std::string fileName;  // the folder's .dbx file; empty for containers
};

inline constexpr char kUnlistedFolder[] = "Unlisted files";

struct FolderPaths {
  static constexpr uint32_t kTop = 0xFFFFFFFFu;
  // A folder below the root: its name as shown (numbered among siblings of one name) and the
  // folder above it. Paths are made when asked for, so a deep tree costs its names only once.
  struct Folder {
    uint32_t parent = kTop;  // an index of `folders`, or kTop
    uint32_t depth = 1;      // 1 at the top
    uint32_t record = 0;     // its record: an index of the records planned
    // The folder its path goes on from: its parent, or below the 64th level the folder at the
    // 63rd, so that a path is made in 64 steps however deep the folder.
    uint32_t pathParent = kTop;
    std::string name;
  };
  // Every folder below the root, each once, every folder after the folders above it.
  std::vector<Folder> folders;
  // The folder of each .dbx file a record names, by the file's name with case folded.
  std::unordered_map<std::string, uint32_t> byFile;
  // The top-level folder that takes the files no record names: kUnlistedFolder, numbered
  // " (2)"... when a record's folder at the top has that name (case folded); empty when there
  // is no folder at all (no Folders.dbx, or none that could be read).
  std::string unlisted;

  // False for a mailbox file that no record names, when records name folders.
  bool Lists(const std::string& fileName) const;

  // The names from the top down to `folder`, at most 64: a deeper folder keeps the first 63 and
  // its own.
  std::vector<std::string> PathOf(uint32_t folder) const;
  // The path of the mailbox file `fileName` ("Inbox.dbx", any case): the record's; for a file
  // no record names, {unlisted, the file's name without ".dbx"}; with no folder at all, the
  // folder's own name (`ownName`, from the file's own file-info area), else the file's name
  // without ".dbx".
  std::vector<std::string> PathOf(const std::string& fileName, const std::string& ownName) const;
  // The folder whose record names `fileName` (its name on disk, any case), or kTop.
  uint32_t FolderOfFile(const std::string& fileName) const;
  // Every folder in the order of a tree drawn top down: each followed by those beneath it,
  // siblings in the byte order of their names.
  std::vector<uint32_t> TreeOrder() const;
};

// The root record (parent 0xFFFFFFFF) is the tree's top and no level of the paths. A record whose
// parent is missing, or whose parents loop, goes to the top; paths are cut at 64 levels; a record
// whose id was seen before is dropped; siblings of one name are numbered " (2)"...; a folder whose
// name is empty or blank is "Folder <id>". Time and memory grow with the records and their
// names, however deep the tree.
FolderPaths PlanFolderPaths(const std::vector<FolderRecord>& records);

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_FOLDER_PATHS_H_
