#include "output/folder_paths.h"

#include <set>
#include <unordered_map>

#include "output/names.h"

namespace quillon::output {
namespace {

constexpr uint32_t kNoParent = 0xFFFFFFFFu;
constexpr size_t kMaxLevels = 64;
// A walk up that has not come back by then is taken for no loop (its paths are cut anyway).
constexpr size_t kMaxWalk = 1024;

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

bool FolderPaths::Lists(const std::string& fileName) const {
  return unlisted.empty() || byFile.count(FoldCase(BaseName(fileName))) != 0;
}

std::vector<std::string> FolderPaths::PathOf(const std::string& fileName,
                                             const std::string& ownName) const {
  const auto found = byFile.find(FoldCase(BaseName(fileName)));
  if (found != byFile.end()) return found->second;
  if (!unlisted.empty()) return {unlisted, WithoutDbx(fileName)};
  return {ownName.empty() ? WithoutDbx(fileName) : ownName};
}

FolderPaths PlanFolderPaths(const std::vector<FolderRecord>& records) {
  // The first record of each id; the root is the one without a parent.
  std::unordered_map<uint32_t, size_t> byId;
  std::vector<size_t> kept;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].parent == kNoParent) continue;
    if (byId.emplace(records[i].id, i).second) kept.push_back(i);
  }
  // Each record's parent among the kept ones (none: the top), loops cut where they close.
  std::vector<size_t> parentOf(records.size(), SIZE_MAX);
  for (size_t i : kept) {
    const auto p = byId.find(records[i].parent);
    if (p == byId.end() || p->second == i) continue;
    // Walk up from the parent: reaching i again means a loop, which i leaves for the top.
    std::set<size_t> seen{i};
    size_t at = p->second;
    bool loops = false;
    for (size_t steps = 0; steps < kMaxWalk; ++steps) {
      if (!seen.insert(at).second) {
        loops = at == i;
        break;
      }
      const auto up = byId.find(records[at].parent);
      if (up == byId.end()) break;
      at = up->second;
    }
    if (!loops) parentOf[i] = p->second;
  }
  // Every member of a loop goes to the top this way, so a record under a loop is reached too.
  std::vector<std::vector<size_t>> children(records.size() + 1);
  for (size_t i : kept) {
    children[parentOf[i] == SIZE_MAX ? records.size() : parentOf[i]].push_back(i);
  }
  FolderPaths paths;
  // Breadth first from the top, with an explicit queue: parents before children.
  struct Item {
    size_t record;
    std::vector<std::string> path;
  };
  std::vector<Item> queue;
  const auto addChildren = [&](size_t node, const std::vector<std::string>& above) {
    std::map<std::string, uint32_t> used;
    for (size_t c : children[node]) {
      std::string name =
          Blank(records[c].name) ? "Folder " + std::to_string(records[c].id) : records[c].name;
      const uint32_t n = ++used[name];
      if (n > 1) name += " (" + std::to_string(n) + ")";
      std::vector<std::string> path = above;
      if (path.size() < kMaxLevels) {
        path.push_back(name);
      } else {
        path.back() = name;
      }
      queue.push_back({c, std::move(path)});
    }
  };
  std::vector<bool> placed(records.size());
  addChildren(records.size(), {});
  for (size_t q = 0; q < queue.size(); ++q) {
    const size_t r = queue[q].record;
    if (placed[r]) continue;
    placed[r] = true;
    paths.folders.push_back(queue[q].path);
    if (!records[r].fileName.empty()) {
      paths.byFile.emplace(FoldCase(BaseName(records[r].fileName)), queue[q].path);
    }
    const std::vector<std::string> path = queue[q].path;  // the queue grows below
    addChildren(r, path);
  }
  if (!paths.folders.empty()) {
    std::set<std::string> top;
    for (const std::vector<std::string>& path : paths.folders) {
      if (path.size() == 1) top.insert(FoldCase(path[0]));
    }
    paths.unlisted = kUnlistedFolder;
    for (uint32_t n = 2; top.count(FoldCase(paths.unlisted)) != 0; ++n) {
      paths.unlisted = std::string(kUnlistedFolder) + " (" + std::to_string(n) + ")";
    }
  }
  return paths;
}

}  // namespace quillon::output
