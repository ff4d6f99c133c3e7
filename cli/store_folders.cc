#include "cli/store_folders.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>

#include "catalogue/text.h"
#include "cli/platform.h"
#include "discovery/store_names.h"
#include "engine/file_io.h"
#include "output/names.h"
#include "rescue/rescue.h"

namespace quillon {

namespace {

// The ANSI code pages of the Windows versions Outlook Express ran on; the first is the guess
// when nothing tells them apart.
constexpr uint32_t kCandidateCodePages[] = {1252, 1250, 1251, 1253, 1254, 1255, 1256,
                                            1257, 1258, 874,  932,  936,  949,  950};

bool HasHighByte(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

}  // namespace

const StoreFolder* StoreFolders::FolderOf(const std::string& fileName) const {
  const std::string key = output::FoldCase(fileName);
  for (const StoreFolder& folder : folders) {
    if (!folder.fileName.empty() && output::FoldCase(folder.fileName) == key) return &folder;
  }
  return nullptr;
}

const char* FolderSourceName(uint32_t kind) {
  switch (kind) {
    case 0:
      return "news";
    case 1:
      return "imap";
    case 2:
      return "http";
    case 3:
      return "local";
    default:
      return nullptr;
  }
}

uint32_t CodePageOfNames(const std::vector<std::string>& rawNames,
                         const std::vector<std::string>& dbxNames) {
  std::set<std::string> onDisk;
  for (const std::string& name : dbxNames) onDisk.insert(output::FoldCase(name));
  uint32_t best = 0;
  size_t bestMatches = 0;
  for (const uint32_t codePage : kCandidateCodePages) {
    if (!catalogue::CodePageAvailable(codePage)) continue;
    size_t matches = 0;
    for (const std::string& raw : rawNames) {
      if (HasHighByte(raw) &&
          onDisk.count(output::FoldCase(catalogue::CodePageToUtf8(raw, codePage))) != 0) {
        ++matches;
      }
    }
    if (matches > bestMatches) {
      best = codePage;
      bestMatches = matches;
    }
  }
  return best;
}

StoreFolders ReadStoreFolders(const std::string& folder, const std::vector<std::string>& dbxNames,
                              uint32_t userCodePage) {
  StoreFolders store;
  std::string foldersName;
  for (const std::string& name : dbxNames) {
    if (output::FoldCase(name) == "folders.dbx") foldersName = name;
  }
  if (foldersName.empty()) return store;
  const std::string path = FromPath(ToPath(folder) / ToPath(foldersName));
  std::string error;
  const std::unique_ptr<InputFile> file = Utf8FileSystem()->OpenForReading(path, &error);
  if (!file) return store;
  rescue::ReadError readError;
  const catalogue::Catalogue cat = rescue::ReadCatalogueBuffered(file.get(), nullptr, &readError);
  if (readError.failure != rescue::ReadFailure::kNone ||
      cat.kind != catalogue::FileKind::kFolders) {
    return store;
  }
  store.present = true;
  store.path = path;
  store.codePage = userCodePage;
  if (store.codePage == 0) {
    std::vector<std::string> fileNames;
    for (const catalogue::FolderInfo& info : cat.folders) fileNames.push_back(info.fileName);
    store.codePage = CodePageOfNames(fileNames, dbxNames);
    store.codePageFound = store.codePage != 0;
    if (store.codePage == 0) store.codePage = catalogue::kWindows1252;
  }

  std::vector<output::FolderRecord> records;
  for (const catalogue::FolderInfo& info : cat.folders) {
    // Names are shown on lines of their own: no control character may break them.
    records.push_back({info.id, info.parent,
                       CleanDisplayName(catalogue::CodePageToUtf8(info.name, store.codePage)),
                       catalogue::CodePageToUtf8(info.fileName, store.codePage)});
  }
  const output::FolderPaths paths = output::PlanFolderPaths(records);
  store.unlisted = paths.unlisted;
  // Each path's record, through the file it names (a container names none).
  std::map<std::vector<std::string>, size_t> recordOfPath;
  for (size_t i = 0; i < records.size(); ++i) {
    if (records[i].fileName.empty()) continue;
    const auto found = paths.byFile.find(output::FoldCase(output::BaseName(records[i].fileName)));
    if (found != paths.byFile.end()) recordOfPath.emplace(found->second, i);
  }
  for (const std::vector<std::string>& folderPath : paths.folders) {
    StoreFolder entry;
    entry.path = folderPath;
    const auto record = recordOfPath.find(folderPath);
    if (record != recordOfPath.end()) {
      entry.fileName = std::string(output::BaseName(records[record->second].fileName));
      entry.kind = cat.folders[record->second].kind;
    }
    store.folders.push_back(std::move(entry));
  }
  std::sort(store.folders.begin(), store.folders.end(),
            [](const StoreFolder& a, const StoreFolder& b) { return a.path < b.path; });
  return store;
}

}  // namespace quillon
