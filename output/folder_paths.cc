#include "output/folder_paths.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "output/names.h"
#include "text/file_names.h"

namespace quillon::output {
namespace {

constexpr uint32_t kNoParent = 0xFFFFFFFFu;
constexpr size_t kMaxLevels = 64;

// True for a name with nothing to see: empty, or spaces and other white space only. Such a folder
// is given a name by its id, as one without a name is; made safe, a blank name would be "_", and
// a second one numbered " (2)" would lose its leading blanks and show only "(2)".
bool Blank(const std::string& name) {
  return name.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

std::string WithoutDbx(const std::string& fileName) {
  const std::string name(BaseName(fileName));
  if (name.size() > 4 && FoldCase(name.substr(name.size() - 4)) == ".dbx") {
    return name.substr(0, name.size() - 4);
  }
  return name;
}

}  // namespace

std::vector<std::string> FolderPaths::PathOf(uint32_t folder) const {
  // Deeper than 64 levels: the first 63 names and its own.
  std::vector<std::string> path{folders[folder].name};
  for (uint32_t at = folders[folder].pathParent; at != kTop; at = folders[at].pathParent) {
    path.push_back(folders[at].name);
  }
  std::reverse(path.begin(), path.end());
  return path;
}

uint32_t FolderPaths::FolderOfFile(const std::string& fileName) const {
  const auto found = byFile.find(FoldCase(BaseName(fileName)));
  return found == byFile.end() ? kTop : found->second;
}

bool FolderPaths::Lists(const std::string& fileName) const {
  return unlisted.empty() || FolderOfFile(fileName) != kTop;
}

std::vector<std::string> FolderPaths::PathOf(const std::string& fileName,
                                             const std::string& ownName) const {
  const uint32_t folder = FolderOfFile(fileName);
  if (folder != kTop) return PathOf(folder);
  if (!unlisted.empty()) return {unlisted, WithoutDbx(fileName)};
  return {ownName.empty() ? WithoutDbx(fileName) : ownName};
}

std::vector<uint32_t> FolderPaths::TreeOrder() const {
  std::vector<std::vector<uint32_t>> children(folders.size() + 1);
  for (uint32_t i = 0; i < folders.size(); ++i) {
    children[folders[i].parent == kTop ? folders.size() : folders[i].parent].push_back(i);
  }
  for (std::vector<uint32_t>& list : children) {
    std::sort(list.begin(), list.end(),
              [&](uint32_t a, uint32_t b) { return folders[a].name < folders[b].name; });
  }
  // Depth first, with a stack of what is left of each level.
  std::vector<uint32_t> order;
  std::vector<std::pair<const std::vector<uint32_t>*, size_t>> stack{{&children.back(), 0}};
  while (!stack.empty()) {
    auto& [list, next] = stack.back();
    if (next == list->size()) {
      stack.pop_back();
      continue;
    }
    const uint32_t folder = (*list)[next++];
    order.push_back(folder);
    stack.emplace_back(&children[folder], 0);
  }
  return order;
}

FolderPaths PlanFolderPaths(const std::vector<FolderRecord>& records) {
  // The first record of each id; the root is the one without a parent.
  std::unordered_map<uint32_t, size_t> byId;
  std::vector<size_t> kept;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].parent == kNoParent) continue;
    if (byId.emplace(records[i].id, i).second) kept.push_back(i);
  }
  // Each record's parent among the kept ones (none: the top).
  std::vector<size_t> parentOf(records.size(), SIZE_MAX);
  for (size_t i : kept) {
    const auto p = byId.find(records[i].parent);
    if (p != byId.end()) parentOf[i] = p->second;
  }
  // Loops are cut where they close: every member of a loop goes to the top, so what hangs below
  // a loop is reached too. Each record is walked once: up from it until a record already
  // settled, or one of this walk again (a loop, whose members are those walked since).
  enum : uint8_t { kUnseen, kWalking, kSettled };
  std::vector<uint8_t> state(records.size(), kUnseen);
  std::vector<size_t> walk;
  for (size_t start : kept) {
    walk.clear();
    size_t at = start;
    while (at != SIZE_MAX && state[at] == kUnseen) {
      state[at] = kWalking;
      walk.push_back(at);
      at = parentOf[at];
    }
    if (at != SIZE_MAX && state[at] == kWalking) {
      for (size_t k = walk.size(); k-- > 0;) {
        const size_t member = walk[k];
        parentOf[member] = SIZE_MAX;
        if (member == at) break;
      }
    }
    for (size_t w : walk) state[w] = kSettled;
  }
  std::vector<std::vector<size_t>> children(records.size() + 1);
  for (size_t i : kept) {
    children[parentOf[i] == SIZE_MAX ? records.size() : parentOf[i]].push_back(i);
  }
  FolderPaths paths;
  // Breadth first from the top: parents before children.
  struct Item {
    size_t record;
    uint32_t parent;  // in paths.folders
  };
  std::vector<Item> queue;
  const auto addChildren = [&](size_t node, uint32_t folder) {
    for (size_t c : children[node]) queue.push_back({c, folder});
  };
  std::vector<bool> placed(records.size());
  addChildren(records.size(), FolderPaths::kTop);
  // Siblings of one name are numbered; siblings come one after the other in the queue.
  std::map<std::string, uint32_t> used;
  uint32_t usedBelow = FolderPaths::kTop - 1;  // no folder's index
  for (size_t q = 0; q < queue.size(); ++q) {
    const size_t r = queue[q].record;
    if (placed[r]) continue;
    placed[r] = true;
    FolderPaths::Folder folder;
    folder.parent = queue[q].parent;
    folder.record = static_cast<uint32_t>(r);
    folder.depth = folder.parent == FolderPaths::kTop ? 1 : paths.folders[folder.parent].depth + 1;
    folder.pathParent = folder.parent;
    if (folder.parent != FolderPaths::kTop && paths.folders[folder.parent].depth >= kMaxLevels) {
      folder.pathParent = paths.folders[folder.parent].pathParent;
    }
    folder.name =
        Blank(records[r].name) ? "Folder " + std::to_string(records[r].id) : records[r].name;
    if (folder.parent != usedBelow) {
      used.clear();
      usedBelow = folder.parent;
    }
    const uint32_t n = ++used[folder.name];
    if (n > 1) folder.name += " (" + std::to_string(n) + ")";
    const uint32_t index = static_cast<uint32_t>(paths.folders.size());
    paths.folders.push_back(std::move(folder));
    if (!records[r].fileName.empty()) {
      paths.byFile.emplace(FoldCase(BaseName(records[r].fileName)), index);
    }
    addChildren(r, index);
  }
  if (!paths.folders.empty()) {
    std::unordered_set<std::string> top;
    for (const FolderPaths::Folder& f : paths.folders) {
      if (f.parent == FolderPaths::kTop) top.insert(FoldCase(f.name));
    }
    paths.unlisted = kUnlistedFolder;
    for (uint32_t n = 2; top.count(FoldCase(paths.unlisted)) != 0; ++n) {
      paths.unlisted = std::string(kUnlistedFolder) + " (" + std::to_string(n) + ")";
    }
  }
  return paths;
}

}  // namespace quillon::output
