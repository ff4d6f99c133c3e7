#include "cli/export_places.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <unordered_map>

#include "catalogue/catalogue.h"
#include "cli/command_output.h"
#include "cli/plan_walk.h"
#include "cli/platform.h"
#include "cli/store_folders.h"

namespace quillon {

namespace fs = std::filesystem;

std::vector<NameClash> DropRepeats(std::vector<std::string>* paths,
                                   const std::function<std::string(const std::string&)>& key) {
  std::vector<NameClash> clashes;
  std::vector<std::string> kept;
  // Only paths of one key can be one file: each is compared with those, not with every path kept.
  std::unordered_map<std::string, std::vector<size_t>> byKey;  // key -> indexes into kept
  for (const std::string& path : *paths) {
    std::vector<size_t>& same = byKey[key(path)];
    const bool repeat = std::any_of(same.begin(), same.end(), [&](size_t k) {
      std::error_code ec;
      return fs::equivalent(ToPath(kept[k]), ToPath(path), ec);
    });
    if (repeat) continue;
    if (!same.empty()) clashes.push_back({kept[same.front()], path});
    same.push_back(kept.size());
    kept.push_back(path);
  }
  *paths = std::move(kept);
  return clashes;
}

std::vector<NameClash> DropRepeatsAndFindClashes(std::vector<std::string>* mailboxes) {
  return DropRepeats(mailboxes,
                     [](const std::string& path) { return FileNameKey(OutputName(path)); });
}

std::string FlatClashWords(const NameClash& clash, const std::string& outputFolder) {
  return "quillon: " + clash.first + " and " + clash.second + " would both write " +
         OutputName(clash.second) + "-1.eml, -2.eml, ... into " + outputFolder;
}

bool PlaceMailboxes(const ExportOptions& o, std::vector<std::string> paths, StoreReader* stores,
                    Printer* print, std::vector<PlacedMailbox>* mailboxes) {
  const bool flat = o.format == output::Format::kEml && !o.tree;
  if (flat) {
    // Everything goes into the output folder, named after the mailbox: as the desktop engine.
    const std::vector<NameClash> clashes = DropRepeatsAndFindClashes(&paths);
    for (const NameClash& c : clashes) print->Error(FlatClashWords(c, o.outputFolder));
    if (!clashes.empty()) return false;
  } else {
    // The same file named twice is exported once.
    DropRepeats(&paths, OutputName);
  }
  std::unordered_map<std::string, size_t> byPlace;
  // The number to try next for a place already taken, so that the 10,000th mailbox of one folder
  // name tries one number, not 10,000.
  std::unordered_map<std::string, uint32_t> nextNumber;
  bool clash = false;
  for (const std::string& path : paths) {
    PlacedMailbox box;
    box.path = path;
    std::string ownName, error;
    // Flat eml needs no folder before the export: the mailbox is read then, not twice.
    std::unique_ptr<InputFile> file = flat ? nullptr : OpenMailbox(path, nullptr, &error);
    if (file) {
      catalogue::CatalogueOptions headerOnly;
      headerOnly.readRecords = false;
      const catalogue::Catalogue cat = catalogue::ReadCatalogue(file.get(), nullptr, headerOnly);
      ownName = cat.fileInfo.name;
      box.messageFolder = cat.kind == catalogue::FileKind::kMessages;
      box.foldersFile = cat.kind == catalogue::FileKind::kFolders;
    }
    if (!flat) {
      const StoreFolders& store = stores->Of(path);
      box.shown = store.PathOf(path, ownName);
      box.unlisted = box.messageFolder && !store.Listed(path);
    }
    if (o.tree || box.unlisted) {
      box.place = box.shown;  // an unlisted file keeps out of the listed folders' way
    } else if (o.format != output::Format::kEml) {
      box.place = {box.folderName()};  // one mbox file or Maildir per mailbox, side by side
    }
    if (!flat && (box.messageFolder || !box.foldersFile)) {
      // eml files are named after the mailbox, so only the same name in one folder clashes.
      const auto keyOf = [&](const std::vector<std::string>& place) {
        std::string key;
        for (const std::string& name : place) key += name + '\0';
        if (o.format == output::Format::kEml) key += FileNameKey(OutputName(path));
        return key;
      };
      const std::string firstKey = keyOf(box.place);
      auto taken = byPlace.find(firstKey);
      // Two folders of one store (an account's Inbox beside Local Folders' one, without
      // --tree) are told apart by a number; two stores in one folder are refused.
      uint32_t& next = nextNumber[firstKey];
      for (uint32_t n = std::max<uint32_t>(next, 2);
           taken != byPlace.end() && !box.place.empty() &&
           ParentOf((*mailboxes)[taken->second].path) == ParentOf(path);
           ++n) {
        box.place.back() = box.folderName() + " (" + std::to_string(n) + ")";
        taken = byPlace.find(keyOf(box.place));
        next = n + 1;
      }
      if (taken != byPlace.end()) {
        std::string where;
        for (const std::string& name : box.place) where += (where.empty() ? "" : "/") + name;
        print->Error("quillon: " + (*mailboxes)[taken->second].path + " and " + path +
                     " would both write into the folder " + (where.empty() ? "." : where) + " of " +
                     o.outputFolder);
        clash = true;
      }
      byPlace.emplace(keyOf(box.place), (*mailboxes).size());
    }
    (*mailboxes).push_back(std::move(box));
  }
  return !clash;
}

}  // namespace quillon
