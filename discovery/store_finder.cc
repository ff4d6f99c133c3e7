#include "discovery/store_finder.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "discovery/identity_hive.h"
#include "fs/folder_listing.h"
#include "text/ascii.h"

namespace quillon {

namespace {

// A profile folder holds a few dozen entries; this only keeps a strange one from being read whole.
constexpr uint64_t kMaxProfileEntries = 100'000;

bool EndsWithIgnoringCase(const std::string& text, const char* suffix) {
  const std::string s(suffix);
  return text.size() > s.size() &&
         EqualsIgnoringAsciiCase(text.substr(text.size() - s.size()), suffix);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}
bool IsGuid(const std::string& text) {
  if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
  for (size_t i = 1; i < 37; ++i) {
    const bool dash = i == 9 || i == 14 || i == 19 || i == 24;
    if (dash ? text[i] != '-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

struct Component {
  size_t start;
  size_t length;
};

std::vector<Component> SplitPath(const std::string& path) {
  std::vector<Component> parts;
  size_t i = 0;
  while (i < path.size()) {
    if (path[i] == '/' || path[i] == '\\') {
      ++i;
      continue;
    }
    const size_t start = i;
    while (i < path.size() && path[i] != '/' && path[i] != '\\') ++i;
    parts.push_back({start, i - start});
  }
  return parts;
}

// ParseIdentityPath, and the folder where the profile would be whatever its layout's names
// (empty when the path is too short to have one).
bool ParseIdentity(const std::string& path, StoreIdentity* identity, std::string* anyProfile) {
  const std::vector<Component> parts = SplitPath(path);
  const size_t n = parts.size();
  auto name = [&](size_t fromEnd) {
    const Component& c = parts[n - fromEnd];
    return path.substr(c.start, c.length);
  };
  if (n < 4 || !EqualsIgnoringAsciiCase(name(1), "Outlook Express") ||
      !EqualsIgnoringAsciiCase(name(2), "Microsoft") || !IsGuid(name(3)) ||
      !EqualsIgnoringAsciiCase(name(4), "Identities")) {
    return false;
  }
  StoreIdentity found;
  found.guid = name(3);
  anyProfile->clear();
  if (n >= 7) {
    const Component& profile = parts[n - 7];
    *anyProfile = path.substr(0, profile.start + profile.length);
    const bool xp = EqualsIgnoringAsciiCase(name(6), "Local Settings") &&
                    EqualsIgnoringAsciiCase(name(5), "Application Data");
    const bool vista =
        EqualsIgnoringAsciiCase(name(6), "AppData") && EqualsIgnoringAsciiCase(name(5), "Local");
    if (xp || vista) {
      found.profile = *anyProfile;
      found.user = name(7);
    }
  }
  *identity = std::move(found);
  return true;
}

// Keeps a root's own separator: "/", and "C:\", which without it names the drive's current
// folder.
std::string TrimTrailingSeparators(std::string path) {
  while (path.size() > 1 && IsPathSeparator(path.back()) && path[path.size() - 2] != ':') {
    path.pop_back();
  }
  return path;
}

// One search: the hives and profiles already read, shared by every store it finds.
class Finder {
 public:
  explicit Finder(const FindOptions& options) : options_(options) {}

  void Search(const std::string& given);
  bool Describe(const std::string& folder, MailStore* store);

  FindResult Finish();

 private:
  struct Pending {
    std::string path;
    int depth;
  };

  void Note(const std::string& path, const std::string& reason, NoteKind kind) {
    notes_.insert({{path, reason}, kind});
  }
  // Fills *store from the listing of its folder; false when the folder holds no .dbx file.
  bool BuildStore(const std::string& folder, const std::vector<FolderEntry>& entries,
                  MailStore* store);
  void AddIdentity(MailStore* store);
  // The profile's NTUSER.DAT (any case), or empty.
  const std::string& ProfileHive(const std::string& profile);
  bool LookUpName(const std::string& hive, const std::string& guid, bool given, std::string* name);

  const FindOptions& options_;
  std::map<std::string, MailStore> stores_;
  std::map<std::pair<std::string, std::string>, NoteKind> notes_;
  std::map<std::string, std::string> profileHives_;
  std::set<std::string> unreadableHives_;
};

void Finder::Search(const std::string& given) {
  const std::string root = TrimTrailingSeparators(given);
  std::vector<Pending> pending{{root, 0}};
  uint64_t budget = options_.maxEntries;
  uint64_t tooDeep = 0;
  std::vector<FolderEntry> entries;
  while (!pending.empty()) {
    const Pending folder = std::move(pending.back());
    pending.pop_back();
    bool truncated = false;
    std::string error;
    // The given folder may be a link the user named; nothing below it is followed.
    if (!ListFolder(folder.path, folder.depth == 0, budget, &entries, &truncated, &error)) {
      Note(folder.path, "cannot be read: " + error,
           folder.depth == 0 ? NoteKind::kGivenFolderUnreadable : NoteKind::kFolderUnreadable);
      continue;
    }
    if (!error.empty()) {
      // Listed, but not entered: what lies beneath is unknown, so it is said.
      Note(folder.path, "cannot be searched: " + error,
           folder.depth == 0 ? NoteKind::kGivenFolderUnreadable : NoteKind::kFolderUnreadable);
    }
    budget -= entries.size();
    MailStore store;
    if (BuildStore(folder.path, entries, &store)) {
      stores_[store.path] = std::move(store);
    }
    for (const FolderEntry& entry : entries) {
      if (entry.kind != EntryKind::kFolder) continue;
      if (folder.depth + 1 > options_.maxDepth) {
        ++tooDeep;
      } else {
        pending.push_back({JoinPath(folder.path, entry.name), folder.depth + 1});
      }
    }
    if (truncated) {
      Note(root, "search stopped after " + std::to_string(options_.maxEntries) + " entries",
           NoteKind::kEntryBound);
      break;
    }
  }
  if (tooDeep > 0) {
    Note(root,
         std::to_string(tooDeep) + (tooDeep == 1 ? " folder lies" : " folders lie") +
             " deeper than " + std::to_string(options_.maxDepth) + " levels: not searched",
         NoteKind::kDepthBound);
  }
}

bool Finder::Describe(const std::string& folder, MailStore* store) {
  std::vector<FolderEntry> entries;
  bool truncated = false;
  std::string error;
  const std::string path = TrimTrailingSeparators(folder);
  if (!ListFolder(path, true, options_.maxEntries, &entries, &truncated, &error)) {
    Note(path, "cannot be read: " + error, NoteKind::kGivenFolderUnreadable);
    return false;
  }
  if (truncated) {
    Note(path, "listing stopped after " + std::to_string(options_.maxEntries) + " entries",
         NoteKind::kEntryBound);
  }
  if (!BuildStore(path, entries, store)) {
    *store = MailStore();
    store->path = path;
    AddIdentity(store);
  }
  return true;
}

bool Finder::BuildStore(const std::string& folder, const std::vector<FolderEntry>& entries,
                        MailStore* store) {
  MailStore built;
  built.path = folder;
  for (const FolderEntry& entry : entries) {
    if (entry.kind != EntryKind::kRegularFile || !EndsWithIgnoringCase(entry.name, ".dbx")) {
      continue;
    }
    if (EqualsIgnoringAsciiCase(entry.name, "Folders.dbx")) built.hasFoldersDbx = true;
    built.dbxFiles.push_back({entry.name, entry.size});
    built.totalSize += entry.size;
  }
  if (built.dbxFiles.empty()) return false;
  std::sort(built.dbxFiles.begin(), built.dbxFiles.end(),
            [](const DbxFile& a, const DbxFile& b) { return a.name < b.name; });
  AddIdentity(&built);
  *store = std::move(built);
  return true;
}

void Finder::AddIdentity(MailStore* store) {
  StoreIdentity identity;
  std::string anyProfile;
  if (!ParseIdentity(store->path, &identity, &anyProfile)) return;
  std::string profileHive;
  if (!anyProfile.empty()) {
    profileHive = ProfileHive(anyProfile);
    // A layout of other names (a localised Windows) is a profile too when it holds the user's
    // hive.
    if (identity.profile.empty() && !profileHive.empty()) {
      identity.profile = anyProfile;
      identity.user = anyProfile.substr(SplitPath(anyProfile).back().start);
    }
  }
  for (const std::string& hive : options_.hives) {
    if (LookUpName(hive, identity.guid, true, &identity.displayName)) {
      identity.nameSource = hive;
      break;
    }
  }
  if (identity.displayName.empty() && !profileHive.empty() &&
      LookUpName(profileHive, identity.guid, false, &identity.displayName)) {
    identity.nameSource = profileHive;
  }
  store->hasIdentity = true;
  store->identity = std::move(identity);
}

const std::string& Finder::ProfileHive(const std::string& profile) {
  auto known = profileHives_.find(profile);
  if (known != profileHives_.end()) return known->second;
  std::string& hive = profileHives_[profile];
  std::vector<FolderEntry> entries;
  bool truncated = false;
  std::string error;
  if (ListFolder(profile, false, kMaxProfileEntries, &entries, &truncated, &error)) {
    for (const FolderEntry& entry : entries) {
      if (entry.kind == EntryKind::kRegularFile &&
          EqualsIgnoringAsciiCase(entry.name, "NTUSER.DAT")) {
        hive = JoinPath(profile, entry.name);
        break;
      }
    }
  }
  return hive;
}

bool Finder::LookUpName(const std::string& hive, const std::string& guid, bool given,
                        std::string* name) {
  if (unreadableHives_.count(hive) != 0) return false;
  std::string error;
  switch (ReadIdentityName(hive, guid, name, &error)) {
    case HiveLookup::kFound:
      return true;
    case HiveLookup::kNoName:
      return false;
    case HiveLookup::kUnsupported:
      // Only a hive the user asked for is worth a word; a profile's own goes unread quietly.
      if (!given) return false;
      [[fallthrough]];
    case HiveLookup::kUnreadable:
      unreadableHives_.insert(hive);
      Note(hive, "identity names not read: " + error, NoteKind::kHiveUnreadable);
      return false;
  }
  return false;
}

FindResult Finder::Finish() {
  FindResult result;
  for (auto& entry : stores_) result.stores.push_back(std::move(entry.second));
  for (const auto& note : notes_) {
    result.notes.push_back({note.first.first, note.first.second, note.second});
  }
  return result;
}

}  // namespace

FindResult FindStores(const std::vector<std::string>& folders, const FindOptions& options) {
  Finder finder(options);
  for (const std::string& folder : folders) finder.Search(folder);
  return finder.Finish();
}

bool DescribeStore(const std::string& folder, const FindOptions& options, MailStore* store,
                   std::vector<FindNote>* notes) {
  Finder finder(options);
  const bool listed = finder.Describe(folder, store);
  FindResult result = finder.Finish();
  notes->insert(notes->end(), result.notes.begin(), result.notes.end());
  return listed;
}

bool ParseIdentityPath(const std::string& path, StoreIdentity* identity) {
  std::string anyProfile;
  return ParseIdentity(path, identity, &anyProfile);
}

}  // namespace quillon
