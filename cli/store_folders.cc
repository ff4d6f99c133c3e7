#include "cli/store_folders.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unordered_set>

#include "catalogue/catalogue.h"
#include "catalogue/code_page_guess.h"
#include "catalogue/text.h"
#include "cli/platform.h"
#include "dbx/block_format.h"
#include "fs/file_io.h"
#include "output/mail_time.h"
#include "output/names.h"
#include "rescue/rescue.h"
#include "text/file_names.h"

namespace quillon {

namespace fs = std::filesystem;

namespace {

// What the code page is decided from, at most: the largest mailbox files of the store, the
// first records of each, the headers of the first messages of each. Enough strings to tell
// scripts and code pages apart, few enough that a store of 10,000 files or of 2 GiB ones costs
// a few milliseconds.
constexpr size_t kSampleFiles = 16;
constexpr size_t kSampleRecords = 64;
constexpr size_t kSampleMessages = 8;
constexpr size_t kMaxStrings = 256;
constexpr size_t kHeaderBytes = 4096;

bool HasHighByte(std::string_view text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// Subjects and names are short: a longer string says no more, and each is decoded once per code
// page weighed.
constexpr size_t kMaxStringBytes = 512;

void AddString(std::vector<std::string>* list, const std::string& s) {
  if (list->size() < kMaxStrings && s.size() <= kMaxStringBytes && HasHighByte(s)) {
    list->push_back(s);
  }
}

bool IsSpecialFile(const std::string& folded) {
  return folded == "folders.dbx" || folded == "pop3uidl.dbx" || folded == "offline.dbx";
}

// The start of a message's text, its header block or kHeaderBytes of it, following its chain of
// data blocks from `block`; what the blocks give before one that is not sound.
std::string HeaderStart(InputFile* file, uint32_t block) {
  std::string text;
  for (int blocks = 0; block != 0 && blocks < 16 && text.size() < kHeaderBytes; ++blocks) {
    uint8_t bytes[kBlockHeaderSize];
    size_t got = 0;
    std::string error;
    if (!file->ReadAt(block, bytes, sizeof bytes, &got, &error) || got != sizeof bytes) break;
    const BlockHeader h = DecodeBlockHeader(bytes);
    if (h.selfOffset != block || h.dataLength > h.blockSize) break;
    const size_t take = std::min<size_t>(h.dataLength, kHeaderBytes - text.size());
    const size_t at = text.size();
    text.resize(at + take);
    if (!file->ReadAt(uint64_t{block} + kBlockHeaderSize, &text[at], take, &got, &error)) got = 0;
    text.resize(at + got);
    if (got != take || text.find("\r\n\r\n") != std::string::npos) break;
    block = h.nextOffset;
  }
  return text;
}

// The text a header gives, when it says for itself how its bytes are read: by encoded-words, or
// by the charset its message declares.
std::optional<std::string> SelfDecoded(const std::string& value, uint32_t messageCodePage) {
  if (messageCodePage == 0 && (HasHighByte(value) || value.find("=?") == std::string::npos)) {
    return std::nullopt;
  }
  return catalogue::DecodeHeaderText(value, messageCodePage);
}

// What one mailbox file shows of the store's code page.
void Sample(const std::string& path, catalogue::CodePageEvidence* evidence) {
  std::string error;
  const std::unique_ptr<InputFile> file = Utf8FileSystem()->OpenForReading(path, &error);
  if (!file) return;
  catalogue::CatalogueOptions options;
  options.maxRecords = kSampleRecords;
  const catalogue::Catalogue cat = catalogue::ReadCatalogue(file.get(), nullptr, options);
  if (cat.kind != catalogue::FileKind::kMessages) return;
  // The client names a folder's file after the folder.
  if (HasHighByte(cat.fileInfo.name) && cat.fileInfo.name.size() <= kMaxStringBytes) {
    evidence->fileNames.push_back(cat.fileInfo.name + ".dbx");
  }
  size_t messages = 0;
  catalogue::MessageInfo info;
  for (const catalogue::MessageEntry& entry : cat.messages) {
    if (!catalogue::ReadMessageInfoAt(file.get(), entry.recordOffset, &info)) continue;
    AddString(&evidence->texts, info.subject);
    AddString(&evidence->texts, info.senderName);
    AddString(&evidence->texts, info.receiverName);
    if (info.firstBlock == 0 || messages >= kSampleMessages) continue;
    ++messages;
    const std::string start = HeaderStart(file.get(), info.firstBlock);
    const uint32_t codePage = catalogue::CodePageFromMessage(start);
    if (codePage != 0) evidence->charsets.push_back(codePage);
    if (evidence->sameTexts.size() >= kMaxStrings) continue;
    const auto same = [&](const std::string& raw, std::optional<std::string> header) {
      if (!HasHighByte(raw) || raw.size() > kMaxStringBytes || !header) return;
      if (const std::optional<std::string> text = SelfDecoded(*header, codePage)) {
        evidence->sameTexts.emplace_back(raw, *text);
      }
    };
    same(info.subject, output::FindHeader(start, "Subject"));
    const std::optional<std::string> from = output::FindHeader(start, "From");
    same(info.senderName,
         from ? std::optional<std::string>(output::DisplayNameOf(*from)) : std::nullopt);
  }
}

}  // namespace

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return "";
  return path.substr(0, slash == 0 ? 1 : slash);
}

std::string StoreFolders::Text(std::string_view raw) const {
  return catalogue::DecodeHeaderText(raw, codePage.codePage);
}

std::vector<std::string> StoreFolders::PathOf(const std::string& fileName,
                                              std::string_view ownName) const {
  return paths.PathOf(fileName, Text(ownName));
}

const char* StoreFolders::SourceOf(uint32_t index) const {
  if (index >= paths.folders.size()) return nullptr;
  return catalogue::SourceName(records[paths.folders[index].record].kind);
}

StoreFolders ReadStoreFolders(const std::string& folder, uint32_t userCodePage) {
  StoreFolders store;
  store.folder = folder;
  // The folder's files: their names on disk, case folded, and the mailbox files by size.
  std::unordered_set<std::string> onDisk;
  std::string foldersName;
  std::vector<std::pair<uint64_t, std::string>> mailboxes;
  std::error_code ec;
  for (fs::directory_iterator it(ToPath(folder.empty() ? "." : folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = FromPath(it->path().filename());
    const std::string key = FoldCase(name);
    onDisk.insert(key);
    if (key == "folders.dbx") foldersName = name;
    std::error_code sizeError;
    const uint64_t size = it->file_size(sizeError);
    if (key.size() > 4 && key.compare(key.size() - 4, 4, ".dbx") == 0 && !IsSpecialFile(key) &&
        !sizeError) {
      mailboxes.emplace_back(size, name);
    }
  }

  std::vector<catalogue::FolderInfo> records;
  if (!foldersName.empty()) {
    const std::string path = FromPath(ToPath(folder) / ToPath(foldersName));
    // A Folders.dbx that cannot be opened or read names no folder: its own check or export
    // says why, as it does for any mailbox file.
    std::string error;
    const std::unique_ptr<InputFile> file = Utf8FileSystem()->OpenForReading(path, &error);
    rescue::ReadError readError;
    catalogue::Catalogue cat;
    if (file) cat = rescue::ReadCatalogueBuffered(file.get(), nullptr, &readError);
    if (file && readError.failure == rescue::ReadFailure::kNone &&
        cat.kind == catalogue::FileKind::kFolders) {
      store.present = true;
      records = std::move(cat.folders);
    }
  }

  if (userCodePage != 0) {
    store.codePage.codePage = userCodePage;
    store.codePage.given = true;
  } else {
    catalogue::CodePageEvidence evidence;
    for (const catalogue::FolderInfo& r : records) {
      if (evidence.fileNames.size() < kMaxStrings && r.fileName.size() <= kMaxStringBytes &&
          HasHighByte(r.fileName)) {
        evidence.fileNames.push_back(std::string(output::BaseName(r.fileName)));
      }
      AddString(&evidence.texts, r.name);
    }
    std::sort(mailboxes.begin(), mailboxes.end(), [](const auto& a, const auto& b) {
      return a.first != b.first ? a.first > b.first : a.second < b.second;
    });
    if (mailboxes.size() > kSampleFiles) mailboxes.resize(kSampleFiles);
    for (const auto& [size, name] : mailboxes) {
      Sample(FromPath(ToPath(folder) / ToPath(name)), &evidence);
    }
    evidence.onDisk = [&](const std::string& name) { return onDisk.count(FoldCase(name)) != 0; };
    const catalogue::CodePageGuess guess = catalogue::GuessCodePage(evidence);
    store.codePage.codePage = guess.codePage;
    store.codePage.alsoPossible = guess.alsoPossible;
  }

  std::vector<output::FolderRecord> decoded;
  decoded.reserve(records.size());
  store.records.reserve(records.size());
  for (catalogue::FolderInfo& r : records) {
    decoded.push_back({r.id, r.parent, store.Text(r.name),
                       catalogue::CodePageToUtf8(r.fileName, store.codePage.codePage)});
    store.records.push_back({std::string(output::BaseName(decoded.back().fileName)), r.kind});
    r = catalogue::FolderInfo();  // a tree of 50,000 folders: its texts held once at a time
  }
  std::vector<catalogue::FolderInfo>().swap(records);
  store.paths = output::PlanFolderPaths(decoded);
  return store;
}

std::string CodePageNote(const StoreFolders& store) {
  const StoreCodePage& cp = store.codePage;
  if (cp.alsoPossible.empty()) return "";
  const auto named = [](uint32_t codePage) {
    const std::string script = catalogue::CodePageScript(codePage);
    return std::to_string(codePage) + (script.empty() ? "" : " (" + script + ")");
  };
  std::string others;
  for (size_t i = 0; i < cp.alsoPossible.size(); ++i) {
    others += (i == 0                            ? ""
               : i + 1 == cp.alsoPossible.size() ? " or "
                                                 : ", ") +
              named(cp.alsoPossible[i]);
  }
  return (store.folder.empty() ? std::string(".") : store.folder) +
         ": the store does not show which code page its names and subjects are in; they are "
         "read as " +
         named(cp.codePage) + ", and " + others +
         " would read some otherwise: if names look wrong, give --codepage N";
}

const StoreFolders& StoreReader::OfFolder(const std::string& folder) {
  std::unique_ptr<StoreFolders>& store = stores_[folder];
  if (!store) {
    store = std::make_unique<StoreFolders>(ReadStoreFolders(folder, userCodePage_));
    const std::string note = CodePageNote(*store);
    if (!note.empty() && note_) note_(note);
  }
  return *store;
}

const StoreFolders& StoreReader::Of(const std::string& mailboxPath) {
  return OfFolder(ParentOf(mailboxPath));
}

}  // namespace quillon
