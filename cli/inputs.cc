#include "cli/inputs.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <system_error>

#include "catalogue/catalogue.h"
#include "cli/message_facts.h"
#include "cli/platform.h"
#include "discovery/store_names.h"
#include "fs/file_io.h"
#include "fs/folder_listing.h"
#include "text/ascii.h"

namespace quillon {

namespace fs = std::filesystem;

namespace {

bool IsDbxName(const std::string& name) {
  return name.size() > 4 && EqualsIgnoringAsciiCase(name.substr(name.size() - 4), ".dbx");
}

// The same folder reached by two paths (a link, "a/../a") is one key.
std::string FolderKey(const std::string& path) {
  std::error_code ec;
  const fs::path canonical = fs::weakly_canonical(ToPath(path), ec);
  return ec ? path : FromPath(canonical);
}

// A folder's own *.dbx entries, by name; false with the system's reason when it cannot be listed.
// Entries are not opened: a FIFO among them is refused when the mailbox is opened.
bool ListOwnMailboxes(const std::string& folder, std::vector<std::string>* mailboxes,
                      std::string* reason) {
  std::error_code ec;
  const fs::path at = ToPath(folder);
  std::vector<std::string> names;
  for (fs::directory_iterator it(at, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = FromPath(it->path().filename());
    std::error_code kindError;
    if (IsDbxName(name) && !it->is_directory(kindError)) names.push_back(name);
  }
  if (ec) {
    *reason = ErrorText(ec);
    return false;
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) mailboxes->push_back(FromPath(at / ToPath(name)));
  return true;
}

constexpr uint32_t kMailboxSignature = 0xFE12ADCFu;

// Files people take for a mailbox, by the bytes they begin with.
struct Signature {
  size_t at;
  std::string bytes;
  const char* words;
};
const Signature kSignatures[] = {
    {0, std::string("PK\x03\x04", 4), "a zip archive, not a mailbox: unpack it first"},
    {0, std::string("PK\x05\x06", 4), "an empty zip archive, not a mailbox"},
    {0, std::string("7z\xBC\xAF\x27\x1C", 6), "a 7z archive, not a mailbox: unpack it first"},
    {0, std::string("Rar!\x1A\x07", 6), "a RAR archive, not a mailbox: unpack it first"},
    {0, std::string("\x1F\x8B", 2), "a gzip file, not a mailbox: unpack it first"},
    {0, std::string("MSCF\0\0\0\0", 8), "a cabinet (.cab) archive, not a mailbox: unpack it first"},
    {257, "ustar", "a tar archive, not a mailbox: unpack it first"},
    {0, "regf", "this is a registry file: give it to `quillon locate --hive`"},
    {0, "!BDN", "an Outlook data file (.pst), not an Outlook Express mailbox"},
};

}  // namespace

FileVerdict JudgeFile(const std::string& path, const std::string& command) {
  FileVerdict verdict;
  std::string error;
  const std::unique_ptr<InputFile> file = Utf8FileSystem()->OpenForReading(path, &error);
  if (!file) {
    verdict.words = "cannot be opened: " + error;
    return verdict;
  }
  if (file->Size() == 0) {
    verdict.words = "an empty file, not a mailbox";
    return verdict;
  }
  std::string start(512, '\0');
  size_t got = 0;
  if (!file->ReadAt(0, start.data(), start.size(), &got, &error)) {
    verdict.words = "cannot be read: " + error;
    return verdict;
  }
  start.resize(got);
  for (const Signature& s : kSignatures) {
    if (start.compare(std::min(s.at, start.size()), s.bytes.size(), s.bytes) == 0) {
      verdict.words = s.words;
      verdict.recognised = true;
      return verdict;
    }
  }
  catalogue::CatalogueOptions headerOnly;
  headerOnly.readRecords = false;
  const catalogue::Catalogue cat = catalogue::ReadCatalogue(file.get(), nullptr, headerOnly);
  switch (cat.kind) {
    case catalogue::FileKind::kMessages:
      verdict.kind = FileVerdict::kMailbox;
      break;
    case catalogue::FileKind::kFolders:
      verdict.kind = FileVerdict::kStoreFile;
      verdict.words = "the folder list of a store: " + command + " the folder that holds it";
      break;
    case catalogue::FileKind::kOffline:
    case catalogue::FileKind::kPop3uidl:
      verdict.kind = FileVerdict::kStoreFile;
      verdict.words =
          "a file of a store that holds no mail: " + command + " the folder that holds it";
      break;
    default:
      // The signature without a known kind: a mailbox whose header is damaged, never refused.
      if (cat.header.magic == kMailboxSignature) {
        verdict.kind = FileVerdict::kMailbox;
      } else {
        verdict.words = "not an Outlook Express mailbox file";
      }
  }
  return verdict;
}

PathRule::PathRule(const ExpandedInputs& inputs, std::string command)
    : inputs_(inputs), command_(std::move(command)) {
  for (const InputGroup& group : inputs.groups) {
    if (group.folder.empty()) named_.insert(group.mailboxes.begin(), group.mailboxes.end());
  }
}

std::vector<std::string> PathRule::Start() {
  std::vector<std::string> errors;
  for (const EmptyFolder& e : inputs_.emptyFolders) errors.push_back(EmptyFolderWords(e));
  broken_ = broken_ || !errors.empty();
  return errors;
}

std::string PathRule::Read(const std::string& path, bool messagesFound) {
  FileVerdict verdict;
  if (!messagesFound) verdict = JudgeFile(path, command_);
  if (messagesFound || verdict.kind == FileVerdict::kMailbox) {
    ++yielded_;
    yielding_.insert(ParentOf(path));
    return "";
  }
  if (named_.count(path) == 0) return "";
  if (verdict.kind == FileVerdict::kStoreFile) {
    storeFiles_.emplace_back(path, verdict.words);
    return "";
  }
  broken_ = true;
  return path + ": " + verdict.words;
}

std::vector<std::string> PathRule::Finish(bool failed) {
  std::vector<std::string> errors;
  for (const auto& [path, words] : storeFiles_) {
    if (yielding_.count(ParentOf(path)) == 0) errors.push_back(path + ": " + words);
  }
  if (yielded_ == 0 && errors.empty() && !failed && !broken_) {
    errors.push_back("none of the files given is an Outlook Express mailbox: nothing to " +
                     command_);
  }
  broken_ = broken_ || !errors.empty();
  return errors;
}

ExpandedInputs ExpandInputs(const std::vector<std::string>& paths, const InputOptions& options) {
  ExpandedInputs result;
  std::vector<MailStore> stores;     // the stores --recursive found, in the order of their groups
  std::vector<size_t> storeGroups;   // the group of each
  std::set<std::string> storesSeen;  // FolderKey of each
  for (const std::string& path : paths) {
    std::error_code ec;
    // stat only: anything but a folder is left for the command to open, or to refuse.
    if (!fs::is_directory(ToPath(path), ec)) {
      InputGroup group;
      group.given = path;
      group.mailboxes.push_back(path);
      result.groups.push_back(std::move(group));
      continue;
    }
    if (!options.recursive) {
      InputGroup group;
      group.given = path;
      group.folder = path;
      std::string reason;
      if (!ListOwnMailboxes(path, &group.mailboxes, &reason)) {
        result.unreadable.push_back({path, reason});
      } else if (!group.mailboxes.empty()) {
        result.groups.push_back(std::move(group));
      } else {
        FindResult found = FindStores({path}, options.find);
        result.emptyFolders.push_back({path, std::move(found.stores)});
        result.notes.insert(result.notes.end(), found.notes.begin(), found.notes.end());
      }
      continue;
    }
    FindResult found = FindStores({path}, options.find);
    bool any = false;
    for (MailStore& store : found.stores) {
      any = true;
      if (!storesSeen.insert(FolderKey(store.path)).second) continue;
      InputGroup group;
      group.given = path;
      group.folder = store.path;
      for (const DbxFile& file : store.dbxFiles) {
        group.mailboxes.push_back(JoinPath(store.path, file.name));
      }
      group.hasIdentity = store.hasIdentity;
      group.identity = store.identity;
      storeGroups.push_back(result.groups.size());
      result.groups.push_back(std::move(group));
      stores.push_back(std::move(store));
    }
    for (FindNote& note : found.notes) {
      if (note.kind == NoteKind::kGivenFolderUnreadable) {
        result.unreadable.push_back({path, note.reason});
        any = true;
      } else {
        result.notes.push_back(std::move(note));
      }
    }
    if (!any) result.emptyFolders.push_back({path, {}});
  }
  const std::vector<std::string> names = StoreFolderNames(stores);
  for (size_t i = 0; i < names.size(); ++i)
    result.groups[storeGroups[i]].outputSubfolder = names[i];
  return result;
}

std::string IdentityWords(const MailStore& store) {
  if (!store.hasIdentity) return "";
  return store.identity.displayName.empty() ? store.identity.guid : store.identity.displayName;
}

size_t MailboxCount(const MailStore& store) {
  size_t count = 0;
  for (const DbxFile& file : store.dbxFiles) {
    const std::string name = AsciiLowered(file.name);
    if (name != "folders.dbx" && name != "pop3uidl.dbx" && name != "offline.dbx") ++count;
  }
  return count;
}

std::string EmptyFolderWords(const EmptyFolder& folder) {
  if (folder.storesBeneath.empty()) {
    return folder.given + ": no .dbx files in this folder or beneath it";
  }
  std::string words = folder.given + ": no .dbx files in this folder; stores found beneath it: ";
  const size_t named = std::min(folder.storesBeneath.size(), kMaxStoresNamed);
  for (size_t i = 0; i < named; ++i) {
    const MailStore& store = folder.storesBeneath[i];
    if (i > 0) words += ", ";
    words += store.path;
    const std::string identity = IdentityWords(store);
    if (!identity.empty()) words += " (" + identity + ")";
  }
  if (folder.storesBeneath.size() > named) {
    words += ", and " + std::to_string(folder.storesBeneath.size() - named) + " more";
  }
  return words + "; use --recursive to take them all";
}

}  // namespace quillon
