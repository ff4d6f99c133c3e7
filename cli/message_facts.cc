#include "cli/message_facts.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <set>
#include <system_error>

#include "catalogue/text.h"
#include "cli/platform.h"
#include "output/mail_time.h"
#include "output/names.h"

namespace quillon {

namespace fs = std::filesystem;
using catalogue::DecodeHeaderText;

namespace {

// The code pages a store's 8-bit names are tried in when the user names none: the Windows ANSI
// code pages, the commonest first.
constexpr uint32_t kStoreCodePages[] = {1252, 1251, 1250, 1253, 1254, 1257, 1255,
                                        1256, 1258, 874,  936,  950,  932,  949};

bool IsAscii(std::string_view s) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// "name <address>", or whichever of the two there is.
std::string Person(std::string name, std::string address) {
  if (address.size() >= 2 && address.front() == '<' && address.back() == '>') {
    address = address.substr(1, address.size() - 2);
  }
  if (name.empty()) return address;
  if (address.empty()) return name;
  return name + " <" + address + ">";
}

std::string HeaderText(std::string_view header, const char* name, uint32_t codePage) {
  const std::optional<std::string> value = output::FindHeader(header, name);
  return value ? DecodeHeaderText(*value, codePage) : std::string();
}

std::optional<int64_t> Seconds(uint64_t filetime) {
  int64_t seconds = 0;
  if (!catalogue::FiletimeToUnixSeconds(filetime, &seconds)) return std::nullopt;
  // A time no format can show is none, so the Date: header stands in for it everywhere alike.
  if (!output::ShowableTime(seconds)) return std::nullopt;
  return seconds;
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  return FromPath(ToPath(folder) / ToPath(name));
}

// The code page under which the most of `names` (8-bit) are among `onDisk` (case folded UTF-8);
// 0 when none is.
uint32_t CodePageOfNames(const std::vector<std::string>& names,
                         const std::set<std::string>& onDisk) {
  uint32_t best = 0;
  size_t bestCount = 0;
  for (const uint32_t codePage : kStoreCodePages) {
    if (!catalogue::CodePageAvailable(codePage)) continue;
    size_t count = 0;
    for (const std::string& name : names) {
      count += onDisk.count(output::FoldCase(catalogue::CodePageToUtf8(name, codePage)));
    }
    if (count > bestCount) {
      best = codePage;
      bestCount = count;
    }
  }
  return best;
}

std::string WithoutDbx(const std::string& name) {
  if (name.size() > 4 && output::FoldCase(name.substr(name.size() - 4)) == ".dbx") {
    return name.substr(0, name.size() - 4);
  }
  return name;
}

}  // namespace

std::string ParentOf(const std::string& path) {
  const size_t slash = path.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return "";
  return path.substr(0, slash == 0 ? 1 : slash);
}

uint32_t OutputFlags(uint32_t indexFlags) {
  static const struct {
    uint32_t index, output;
  } kFlags[] = {{catalogue::kMessageRead, output::kFlagRead},
                {catalogue::kMessageFlagged, output::kFlagFlagged},
                {catalogue::kMessageAnswered, output::kFlagAnswered},
                {catalogue::kMessageForwarded, output::kFlagForwarded},
                {catalogue::kMessageDraft, output::kFlagDraft},
                {catalogue::kMessageAttachment, output::kFlagAttachment},
                {catalogue::kMessageNews, output::kFlagNews}};
  uint32_t flags = 0;
  for (const auto& f : kFlags) {
    if (indexFlags & f.index) flags |= f.output;
  }
  return flags;
}

output::MessageFacts FactsOf(const std::string& mailbox, const catalogue::MessageInfo* record,
                             const rescue::PlannedMessage& message, uint32_t number,
                             std::string_view messageStart, uint32_t userCodePage,
                             uint32_t fallbackCodePage) {
  output::MessageFacts facts;
  facts.mailbox = mailbox;
  facts.number = number;
  facts.status = rescue::StatusName(message.status);
  facts.firstBlock = message.firstBlock;
  facts.blocks = message.blocks;
  uint32_t codePage =
      userCodePage != 0 ? userCodePage : catalogue::CodePageFromMessage(messageStart);
  if (codePage == 0) codePage = fallbackCodePage != 0 ? fallbackCodePage : catalogue::kWindows1252;
  // FindHeader reads the header block only.
  const std::string_view header = messageStart;

  if (record != nullptr) {
    const catalogue::MessageInfo& info = *record;
    facts.indexId = info.indexId;
    facts.flags = OutputFlags(info.flags);
    facts.received = Seconds(info.received);
    facts.sent = Seconds(info.sent);
    facts.subject = DecodeHeaderText(info.subject, codePage);
    facts.senderAddress = catalogue::SanitizeUtf8(info.senderAddress);
    facts.from = Person(DecodeHeaderText(info.senderName, codePage),
                        DecodeHeaderText(info.senderAddress, codePage));
    facts.to = Person(DecodeHeaderText(info.receiverName, codePage),
                      DecodeHeaderText(info.receiverAddress, codePage));
    facts.messageId = catalogue::SanitizeUtf8(info.messageId);
  }
  // What the index does not say, the message's own headers may.
  if (facts.subject.empty()) facts.subject = HeaderText(header, "Subject", codePage);
  if (facts.from.empty()) facts.from = HeaderText(header, "From", codePage);
  if (facts.to.empty()) facts.to = HeaderText(header, "To", codePage);
  if (facts.messageId.empty()) facts.messageId = HeaderText(header, "Message-ID", codePage);
  if (!facts.received || !facts.sent) {
    if (const std::optional<std::string> date = output::FindHeader(header, "Date")) {
      const std::optional<int64_t> when = output::ParseMailDate(*date);
      if (!facts.received) facts.received = when;
      if (!facts.sent) facts.sent = when;
    }
  }
  return facts;
}

const StoreFolders::Store& StoreFolders::StoreOf(const std::string& mailboxPath) {
  const std::string folder = ParentOf(mailboxPath);
  auto found = stores_.find(folder);
  if (found != stores_.end()) return found->second;
  Store& store = stores_[folder];

  // The folder's .dbx files, and Folders.dbx among them.
  std::set<std::string> onDisk;
  std::string foldersFile;
  std::error_code ec;
  for (fs::directory_iterator it(ToPath(folder.empty() ? "." : folder), ec), end; !ec && it != end;
       it.increment(ec)) {
    const std::string name = FromPath(it->path().filename());
    const std::string key = output::FoldCase(name);
    onDisk.insert(key);
    if (key == "folders.dbx") foldersFile = name;
  }
  std::vector<catalogue::FolderInfo> records;
  if (!foldersFile.empty()) {
    std::string error;
    std::unique_ptr<InputFile> file =
        Utf8FileSystem()->OpenForReading(Join(folder, foldersFile), &error);
    if (file) {
      catalogue::Catalogue cat = catalogue::ReadCatalogue(file.get(), nullptr);
      if (cat.kind == catalogue::FileKind::kFolders) records = std::move(cat.folders);
    }
  }
  store.codePage = userCodePage_;
  if (store.codePage == 0) {
    std::vector<std::string> names;
    for (const catalogue::FolderInfo& r : records) {
      if (!IsAscii(r.fileName)) names.push_back(r.fileName);
    }
    store.codePage = CodePageOfNames(names, onDisk);
  }
  std::vector<output::FolderRecord> decoded;
  const uint32_t codePage = store.codePage != 0 ? store.codePage : catalogue::kWindows1252;
  for (const catalogue::FolderInfo& r : records) {
    decoded.push_back({r.id, r.parent, catalogue::CodePageToUtf8(r.name, codePage),
                       catalogue::CodePageToUtf8(r.fileName, codePage)});
  }
  store.paths = output::PlanFolderPaths(decoded);
  return store;
}

std::vector<std::string> StoreFolders::PathOf(const std::string& mailboxPath,
                                              const std::string& ownName) {
  const Store& store = StoreOf(mailboxPath);
  const std::string fileName(output::BaseName(mailboxPath));
  uint32_t codePage = store.codePage;
  if (codePage == 0 && !IsAscii(ownName)) {
    // No record told the code page: the file's own name may, as it was made from the folder's.
    codePage = CodePageOfNames({ownName}, {output::FoldCase(WithoutDbx(fileName))});
  }
  if (codePage == 0) codePage = catalogue::kWindows1252;
  return store.paths.PathOf(fileName, catalogue::CodePageToUtf8(ownName, codePage));
}

const std::vector<std::vector<std::string>>& StoreFolders::AllFolders(
    const std::string& mailboxPath) {
  return StoreOf(mailboxPath).paths.folders;
}

}  // namespace quillon
