// The folder path of each mailbox file, from the folder records of Folders.dbx: what Outlook
// Express showed ("Local Folders" > "Inbox", an account > its folders), or, for a file that no
// record names, a folder of its own under "Unlisted files": a stray copy of an Inbox never takes
// the place of the Inbox the records name. The records come from a damaged file as often as not: a
// parent that is missing, a loop, a chain deeper than any real tree, two records of one name
// under one parent are each given a sound place.
#ifndef QUILLON_OUTPUT_FOLDER_PATHS_H_
#define QUILLON_OUTPUT_FOLDER_PATHS_H_

#include <cstdint>
#include <map>
#include <string>
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
  // Every folder below the root, each path once, every folder after the folders above it.
  std::vector<std::vector<std::string>> folders;
  // The path of each .dbx file a record names, by the file's name with case folded.
  std::map<std::string, std::vector<std::string>> byFile;
  // The top-level folder that takes the files no record names: kUnlistedFolder, numbered
  // " (2)"... when a record's folder at the top has that name (case folded); empty when there
  // is no folder at all (no Folders.dbx, or none that could be read).
  std::string unlisted;

  // False for a mailbox file that no record names, when records name folders.
  bool Lists(const std::string& fileName) const;

  // The path of the mailbox file `fileName` ("Inbox.dbx", any case): the record's; for a file
  // no record names, {unlisted, the file's name without ".dbx"}; with no folder at all, the
  // folder's own name (`ownName`, from the file's own file-info area), else the file's name
  // without ".dbx".
  std::vector<std::string> PathOf(const std::string& fileName, const std::string& ownName) const;
};

// The root record (parent 0xFFFFFFFF) is the tree's top and no level of the paths. A record whose
// parent is missing, or whose parents loop, goes to the top; paths are cut at 64 levels; a record
// whose id was seen before is dropped; siblings of one name are numbered " (2)"...; a folder whose
// name is empty or blank is "Folder <id>".
FolderPaths PlanFolderPaths(const std::vector<FolderRecord>& records);

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_FOLDER_PATHS_H_
