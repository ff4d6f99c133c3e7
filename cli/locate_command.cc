#include "cli/locate_command.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <system_error>

#include "cli/command_output.h"
#include "cli/inputs.h"
#include "cli/platform.h"
#include "cli/progress.h"
#include "cli/terminal.h"
#include "cmdline/command_options.h"
#include "discovery/registry_stores.h"
#include "discovery/store_finder.h"

namespace quillon {

namespace fs = std::filesystem;
using Json = nlohmann::ordered_json;

const char kLocateUsage[] =
    "Usage: quillon locate [--json] [--hive FILE]... [PATH...]\n"
    "Lists the Outlook Express store folders (folders of .dbx files) in and beneath each PATH,\n"
    "each with its identity and how many mailboxes it holds. Links beneath a PATH are not\n"
    "followed; the search goes 12 folder levels deep.\n"
    "\n"
    "  PATH               a folder to search: an old disk, a copied profile, a backup\n"
    "  --json             one JSON object a line per store instead of text\n"
    "  --hive FILE        read identity names from FILE, a copied NTUSER.DAT (also looked for\n"
    "                     in each profile folder found); may be given more than once\n"
    "  -h, --help         show this help and exit\n"
    "  -V, --version      show the version and exit\n"
    "\n"
    "With no PATH, on Windows: every identity's store that the current user's registry names.\n"
    "An identity is named by its name (\"Main Identity\") when a hive gives it, else its GUID.\n"
    "\n"
    "Exit status: 0 when a store was found in every PATH, 2 when a PATH holds none, is a file\n"
    "(a registry hive, an archive: it says what to do) or cannot be read, 64 for a usage\n"
    "error.\n";

namespace {

enum : int { kJsonOption = 256, kHiveOption };

std::string StoreLine(const MailStore& store) {
  std::string line = store.path + ": ";
  if (store.hasIdentity) {
    const StoreIdentity& id = store.identity;
    line += "identity " + (id.displayName.empty() ? id.guid : "\"" + id.displayName + "\"");
    if (!id.user.empty()) line += " of " + id.user;
    line += ", ";
  }
  const size_t mailboxes = MailboxCount(store);
  line += std::to_string(mailboxes) + (mailboxes == 1 ? " mailbox" : " mailboxes") + " (" +
          HumanSize(store.totalSize) + ")";
  if (!store.hasFoldersDbx) line += ", no Folders.dbx";
  return line;
}

Json OrNull(const std::string& text) { return text.empty() ? Json() : Json(text); }

std::string StoreJson(const MailStore& store) {
  Json j;
  j["store"] = store.path;
  if (store.hasIdentity) {
    const StoreIdentity& id = store.identity;
    j["identity"] = {{"guid", id.guid},
                     {"name", OrNull(id.displayName)},
                     {"name_source", OrNull(id.nameSource)},
                     {"user", OrNull(id.user)},
                     {"profile", OrNull(id.profile)}};
  } else {
    j["identity"] = nullptr;
  }
  j["mailboxes"] = MailboxCount(store);
  j["folders_dbx"] = store.hasFoldersDbx;
  j["bytes"] = store.totalSize;
  Json files = Json::array();
  for (const DbxFile& file : store.dbxFiles) files.push_back(file.name);
  j["files"] = files;
  return j.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}

}  // namespace

ParseOutcome ParseLocateArguments(const std::vector<std::string>& args, LocateOptions* options,
                                  std::string* error) {
  const std::vector<OptionDef> defs = {
      {"json", kJsonOption, ""},
      {"hive", kHiveOption, "a file"},
  };
  return ParseCommandOptions(
      args, defs,
      [&](int id, const char* value, std::string*) {
        if (id == kJsonOption) {
          options->json = true;
        } else {
          options->hives.push_back(value);
        }
        return true;
      },
      &options->paths, error);
}

int RunLocate(const LocateOptions& options, std::FILE* out, std::FILE* err) {
  FindOptions find;
  find.hives = options.hives;
  FindResult found;
  bool failed = false;
  // A file given where a folder is expected says what it is: a hive, an archive, a mailbox.
  std::vector<std::string> folders;
  for (const std::string& path : options.paths) {
    std::error_code ec;
    if (!fs::is_regular_file(ToPath(path), ec)) {
      folders.push_back(path);
      continue;
    }
    const FileVerdict verdict = JudgeFile(path, "locate");
    WriteLine(err, ErrorLine(path + ": " +
                             (verdict.recognised ? verdict.words
                              : verdict.kind == FileVerdict::kOther
                                  ? "a file, not a folder: give the folder to search"
                                  : "a file of a store, not a folder: the folder that holds it "
                                    "is the store")));
    failed = true;
  }
  // Each folder searched alone, so that one that holds no store can be named; a store reached
  // from two of them is listed once.
  std::map<std::string, MailStore> stores;
  std::vector<std::string> empty;
  for (const std::string& folder : folders) {
    FindResult one = FindStores({folder}, find);
    bool unreadable = false;
    for (FindNote& note : one.notes) {
      unreadable = unreadable || note.kind == NoteKind::kGivenFolderUnreadable;
      found.notes.push_back(std::move(note));
    }
    if (one.stores.empty() && !unreadable) empty.push_back(folder);
    failed = failed || unreadable;
    for (MailStore& store : one.stores) stores.emplace(store.path, std::move(store));
  }
  for (auto& entry : stores) found.stores.push_back(std::move(entry.second));
  if (folders.empty() && options.paths.empty() && !FindRegistryStores(find, &found)) {
    WriteText(err,
              "quillon: name a folder to search (quillon locate PATH...): there is no Windows "
              "registry here to name the stores\nTry 'quillon --help' for more information.\n");
    return kExitUsage;
  }
  for (const FindNote& note : found.notes) {
    WriteLine(err, "quillon: " + note.path + ": " + note.reason);
  }
  bool open = true;
  for (const MailStore& store : found.stores) {
    if (!open) break;
    open = options.json ? WriteText(out, StoreJson(store)) : WriteLine(out, StoreLine(store));
  }
  // Each folder given must hold a store, as each PATH of the other commands must hold a mailbox.
  for (const std::string& folder : empty) {
    WriteLine(err, ErrorLine(folder + ": no Outlook Express store folder in it or beneath it"));
    failed = true;
  }
  if (options.paths.empty() && found.stores.empty()) failed = true;
  return failed ? kExitFailed : kExitOk;
}

}  // namespace quillon
