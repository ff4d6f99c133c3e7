#include "gen/store.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "gen/code_page_text.h"
#include "gen/dbx_layout.h"
#include "gen/generator.h"
#include "gen/mail_text.h"
#include "gen/random.h"
#include "gen/record_builder.h"
#include "gen/store_files.h"

namespace quillon::gen {
namespace {

using Fate = FolderPlan::Fate;

constexpr uint32_t kDefaultMessages = 300;
// Random streams of a store, apart from the per-message ones of mail_text.cc (id << 8 | 1, 2).
constexpr uint64_t kStyleStream = 3;
constexpr uint64_t kFolderStreamBase = 0x1000;
constexpr uint64_t kLayoutStreamBase = 0x2000;
// The messages of each folder spread over this long from the owner's first one.
constexpr int64_t kStoreSpan = int64_t{3} * 365 * 86400;

constexpr uint32_t kFlagDraft = 0x08;
constexpr uint32_t kFlagFlagged = 0x20;
constexpr uint32_t kFlagNews = 0x800;
constexpr uint32_t kFlagAnswered = 0x80000;
constexpr uint32_t kFlagForwarded = 0x100000;

// How a subject or a sender's name stands in the message's headers.
enum class Style : uint8_t { kAscii, kEncodedB, kEncodedQ, kEightBit };

// What makes a message's text. One key gives the same bytes in every folder it lies in, so a
// moved or copied message is the same message in both.
struct TextKey {
  uint32_t id = 0;  // MakeMessageFields(seed, id, shape) is its base
  int64_t sentTime = 0;
  bool outgoing = false;  // written by the store's owner
  Style subject = Style::kAscii;
  Style from = Style::kAscii;
  bool fromLines = false;
  bool noDate = false;
  bool small = false;  // a few KB, whatever the base's size
  int kind = -1;       // a MessageKind forced on it; -1: the base's
};

struct Message {
  TextKey text;
  Fate fate = Fate::kLive;
  bool lastBlockReused = false;
  uint32_t flags = 0;  // read, flagged, answered, forwarded, draft; the rest follows the folder
  bool receivedKnown = true;
  int movedTo = -1;  // a deleted message live now in that folder
  uint32_t movedToId = 0;
};

enum class Content { kNone, kEmpty, kReceived, kSent, kDrafts, kImap, kImapSent, kNews };

// The folders of the store, in the order their files are written. `name` null means the code
// page's folder name `nameIndex`; `file` "*" means the name with ".dbx".
struct FolderRow {
  const char* name;
  int nameIndex;
  int parent;  // index in this table; -1 for the root
  const char* file;
  uint32_t id, kind, special, flags;
  Content content;
  uint32_t weight;  // share of the store's messages, per mille
  bool fragmented;
  bool named;  // false: a file that no folder record names
};

constexpr uint32_t kRootFlags = 0x00800010, kLocalFlags = 0x00900019, kAccountFlags = 0x10040029;
// Indexes in kFolders that the plan treats apart.
constexpr int kInboxIndex = 2, kDeletedItemsIndex = 5, kProjectsIndex = 10;

constexpr FolderRow kFolders[] = {
    {"Outlook Express", 0, -1, nullptr, 0, 4, 0, kRootFlags, Content::kNone, 0, false, true},
    {"Local Folders", 0, 0, nullptr, 1, 3, 0, kLocalFlags, Content::kNone, 0, false, true},
    {"Inbox", 0, 1, "Inbox.dbx", 4, 3, 1, 1, Content::kReceived, 300, true, true},
    {"Outbox", 0, 1, "Outbox.dbx", 5, 3, 2, 1, Content::kEmpty, 0, false, true},
    {"Sent Items", 0, 1, "Sent Items.dbx", 6, 3, 3, 1, Content::kSent, 120, false, true},
    {"Deleted Items", 0, 1, "Deleted Items.dbx", 7, 3, 4, 1, Content::kReceived, 50, false, true},
    {"Drafts", 0, 1, "Drafts.dbx", 8, 3, 5, 1, Content::kDrafts, 15, false, true},
    {nullptr, 0, kInboxIndex, "*", 9, 3, 0, 1, Content::kReceived, 80, false, true},
    {"2003", 0, 7, "*", 10, 3, 0, 1, Content::kReceived, 50, false, true},
    {"Q1.report", 0, 8, "*", 11, 3, 0, 1, Content::kReceived, 30, false, true},
    {"Projects", 0, 1, "*", 12, 3, 0, 1, Content::kReceived, 40, true, true},
    // Characters and names Windows refuses in file names: the client named the files otherwise.
    {"Alpha/Beta: notes", 0, 10, "Alpha_Beta_ notes.dbx", 13, 3, 0, 1, Content::kReceived, 30,
     false, true},
    {"CON", 0, 10, "CON1.dbx", 14, 3, 0, 1, Content::kReceived, 20, false, true},
    // Windows folds case in file names, so the second of these needed another name.
    {"Family", 0, 1, "*", 15, 3, 0, 1, Content::kReceived, 30, false, true},
    {"family", 0, 1, "family1.dbx", 16, 3, 0, 1, Content::kReceived, 30, false, true},
    {nullptr, 1, 1, nullptr, 17, 3, 0, 1, Content::kNone, 0, false, true},
    {"imap.example.com", 0, 0, nullptr, 18, 1, 0, kAccountFlags, Content::kNone, 0, false, true},
    {"Inbox", 0, 16, "Inbox1.dbx", 19, 1, 1, 1, Content::kImap, 60, false, true},
    {"Sent", 0, 16, "*", 20, 1, 0, 1, Content::kImapSent, 20, false, true},
    {"Trash", 0, 16, nullptr, 21, 1, 0, 1, Content::kNone, 0, false, true},
    {"news.example.org", 0, 0, nullptr, 22, 0, 0, kAccountFlags, Content::kNone, 0, false, true},
    {"comp.mail.misc", 0, 20, "*", 23, 0, 0, 1, Content::kNews, 60, false, true},
    {"Old Mail", 0, 1, "*", 0, 3, 0, 1, Content::kReceived, 30, false, false},
};
constexpr int kFolderCount = static_cast<int>(sizeof kFolders / sizeof kFolders[0]);

// The account a folder belongs to: its key in the registry and its server's name.
struct Account {
  uint8_t source;  // in the file-info area: 0 news, 1 IMAP, 3 local
  const char* key;
  const char* server;  // empty: the owner's POP account
};
Account AccountOf(uint32_t kind) {
  switch (kind) {
    case 0:
      return {0, "00000003", "news.example.org"};
    case 1:
      return {1, "00000002", "imap.example.com"};
    default:
      return {3, "LocalStore", ""};
  }
}

const char* SourceName(uint8_t source) {
  return source == 0 ? "news" : source == 1 ? "imap" : "local";
}

struct Folder {
  const FolderRow* row;
  std::string nameUtf8, nameBytes;
  std::string file;       // on disk, UTF-8; empty: no file
  std::string fileBytes;  // as Folders.dbx names it, in the code page
  std::vector<std::string> path;
  std::vector<Message> messages;
};

// A message's fields and the texts a reader shows for them.
struct MessageText {
  MessageFields fields;
  std::string subject, fromName, toName;  // UTF-8
};

class Store {
 public:
  Store(const StoreOptions& options, const CodePageText& texts)
      : options_(options), texts_(texts), owner_(OwnerOf(options.seed)) {}

  void Plan();
  bool Write(FileSink& files, StoreManifest* manifest, std::string* error);

  MessageText TextOf(const TextKey& key) const;
  // The charset the messages declare.
  const char* MailCharset() const { return options_.utf8Mail ? "utf-8" : texts_.charset; }
  uint32_t FlagsOf(const Folder& folder, const Message& m, const MessageFields& f) const;
  void AppendRecord(const Folder& folder, uint32_t id, uint32_t firstBlock, uint32_t length,
                    std::string* out) const;
  uint64_t Seed() const { return options_.seed; }

 private:
  void NameFolders();
  uint32_t CountFor(int index) const;
  void PlanFolder(int index, uint32_t count);
  void PlanInbox();
  void PlanReusedBlock(size_t at);
  Message Received(Rng& rng, int64_t sentTime);
  TextKey NewKey(int64_t sentTime);
  uint32_t RandomFlags(Rng& rng) const;

  const StoreOptions& options_;
  const CodePageText& texts_;
  const MailboxOwner owner_;
  std::vector<Folder> folders_;
  uint32_t nextTextId_ = 1;
};

// Plans one store folder's file for the generator.
class StoreFolderPlan final : public FolderPlan {
 public:
  StoreFolderPlan(const Store& store, const Folder& folder) : store_(store), folder_(folder) {}

  uint32_t Count() const override { return static_cast<uint32_t>(folder_.messages.size()); }
  Fate FateOf(uint32_t id) const override { return At(id).fate; }
  bool LastBlockReused(uint32_t id) const override { return At(id).lastBlockReused; }
  void AppendText(uint32_t id, std::string* out) const override {
    const TextKey& key = At(id).text;
    AppendMessageText(store_.Seed(), key.id, store_.TextOf(key).fields, out);
  }
  void AppendRecord(uint32_t id, uint32_t firstBlock, uint32_t length,
                    std::string* out) const override {
    store_.AppendRecord(folder_, id, firstBlock, length, out);
  }

 private:
  const Message& At(uint32_t id) const { return folder_.messages[id - 1]; }
  const Store& store_;
  const Folder& folder_;
};

// ---- Texts ----

MessageText Store::TextOf(const TextKey& key) const {
  MessageText t;
  MessageFields& f = t.fields;
  f = MakeMessageFields(options_.seed, key.id, options_.shape);
  if (key.kind >= 0) f.kind = static_cast<MessageKind>(key.kind);
  if (f.kind == MessageKind::kShortReply) {
    f.targetSize = 0;
    f.subject = "Re: " + f.normalizedSubject;
  } else if (key.small) {
    f.targetSize = 1000 + f.targetSize % 3000;
  }
  const int64_t delay = f.receivedTime - f.sentTime;
  f.sentTime = key.sentTime;
  f.receivedTime = key.sentTime + delay;
  if (key.outgoing) {
    f.toName = f.fromName;
    f.toAddress = f.fromAddress;
    f.fromName = owner_.name;
    f.fromAddress = owner_.address;
  }
  Rng rng(MixSeed(options_.seed, uint64_t{key.id} << 8 | kStyleStream));
  if (key.subject != Style::kAscii) {
    const size_t cut = f.subject.size() - f.normalizedSubject.size();
    const std::string prefix = f.subject.substr(0, cut);  // "Re: ", "Fw: " or nothing
    std::string bytes, utf8;
    // One to three words; an encoded-word stays within 75 characters.
    const uint32_t words = rng.Between(1, 3);
    for (uint32_t i = 0; i < words; ++i) {
      const Text& w = texts_.words[rng.Below(12)];
      if (i > 0 && bytes.size() + 1 + std::string(w.bytes).size() > 36) break;
      if (i > 0) {
        bytes += ' ';
        utf8 += ' ';
      }
      bytes += w.bytes;
      utf8 += w.utf8;
    }
    f.normalizedSubject = bytes;
    f.subject = prefix + bytes;
    t.subject = prefix + utf8;
    // The headers carry the text in the mail's charset; the index keeps the code page's bytes.
    const std::string& mailBytes = options_.utf8Mail ? utf8 : bytes;
    if (key.subject == Style::kEncodedB) {
      f.subjectHeader = prefix + EncodedWordB(MailCharset(), mailBytes);
    } else if (key.subject == Style::kEncodedQ) {
      f.subjectHeader = prefix + EncodedWordQ(MailCharset(), mailBytes);
    } else if (options_.utf8Mail) {
      f.subjectHeader = prefix + mailBytes;
    }
    f.charset = MailCharset();
  } else {
    t.subject = f.subject;
  }
  t.fromName = f.fromName;
  if (key.from != Style::kAscii && !key.outgoing) {
    const Text& name = texts_.names[rng.Below(6)];
    f.fromName = name.bytes;
    t.fromName = name.utf8;
    const std::string mailName = options_.utf8Mail ? name.utf8 : name.bytes;
    f.fromNameHeader = key.from == Style::kEncodedB ? EncodedWordB(MailCharset(), mailName)
                                                    : "\"" + mailName + "\"";
    if (options_.utf8Mail) f.signature = mailName;
    f.charset = MailCharset();
  }
  t.toName = f.toName;
  if (options_.utf8Mail) f.charset = MailCharset();  // every message, as a newer client writes
  f.fromLines = key.fromLines;
  f.dateHeader = !key.noDate;
  return t;
}

uint32_t Store::FlagsOf(const Folder& folder, const Message& m, const MessageFields& f) const {
  uint32_t flags = m.flags;
  if (m.fate != Fate::kHeadersOnly) flags |= dbx::kFlagDownloaded;
  if (f.kind == MessageKind::kMixed) flags |= dbx::kFlagAttachment;
  if (folder.row->content == Content::kNews) flags |= kFlagNews;
  return flags;
}

void Store::AppendRecord(const Folder& folder, uint32_t id, uint32_t firstBlock, uint32_t length,
                         std::string* out) const {
  const Message& m = folder.messages[id - 1];
  const MessageText t = TextOf(m.text);
  const MessageFields& f = t.fields;
  const Account account = AccountOf(folder.row->kind);
  RecordBuilder r;
  r.Word(dbx::kInfoId, id);
  r.Word(dbx::kInfoFlags, FlagsOf(folder, m, f));
  if (f.dateHeader) r.Time(dbx::kInfoSentTime, UnixToFileTime(f.sentTime));
  if (firstBlock != 0) r.Word(dbx::kInfoFirstBlock, firstBlock);
  r.Text(dbx::kInfoNormalizedSubject, f.normalizedSubject);
  r.Time(dbx::kInfoSavedTime, UnixToFileTime(m.receivedKnown ? f.receivedTime : f.sentTime));
  r.Text(dbx::kInfoMessageId, f.messageId);
  r.Text(dbx::kInfoSubject, f.subject);
  r.Text(dbx::kInfoSenderName, f.fromName);
  r.Text(dbx::kInfoSenderAddress, f.fromAddress);
  r.Word(dbx::kInfoPriority, 3);
  r.Word(dbx::kInfoSize, length);
  if (m.receivedKnown) r.Time(dbx::kInfoReceivedTime, UnixToFileTime(f.receivedTime));
  r.Text(dbx::kInfoReceiverName, f.toName);
  r.Text(dbx::kInfoReceiverAddress, "<" + f.toAddress + ">");
  r.Text(dbx::kInfoAccountName, *account.server != '\0' ? account.server : owner_.account);
  r.Text(dbx::kInfoAccountNumber, account.source == 3 ? "00000001" : account.key);
  r.AppendTo(0, out);
}

// ---- The plan ----

void Store::NameFolders() {
  folders_.resize(kFolderCount);
  for (int i = 0; i < kFolderCount; ++i) {
    const FolderRow& s = kFolders[i];
    Folder& f = folders_[i];
    f.row = &s;
    if (s.name != nullptr) {
      f.nameUtf8 = f.nameBytes = s.name;
    } else {
      f.nameUtf8 = texts_.folders[s.nameIndex].utf8;
      f.nameBytes = texts_.folders[s.nameIndex].bytes;
    }
    if (s.file != nullptr) {
      const bool own = std::string(s.file) == "*";
      f.file = own ? f.nameUtf8 + ".dbx" : s.file;
      f.fileBytes = own ? f.nameBytes + ".dbx" : s.file;
    }
    if (s.parent >= 0) {
      f.path = folders_[s.parent].path;
      if (s.named) f.path.push_back(f.nameUtf8);
    }
  }
}

// How many messages folder `index` gets. By size: messages until their planned sizes fill the
// folder's share, counted with the text ids PlanFolder will give them.
uint32_t Store::CountFor(int index) const {
  const FolderRow& s = kFolders[index];
  if (s.weight == 0) return 0;
  uint32_t totalWeight = 0;
  for (const FolderRow& f : kFolders) totalWeight += f.weight;
  // By count, by size, or the fewer of the two when both are given.
  const uint32_t total = options_.messageCount != 0  ? options_.messageCount
                         : options_.targetBytes != 0 ? 0xFFFFFFFFu
                                                     : kDefaultMessages;
  uint64_t n = uint64_t{total} * s.weight / totalWeight;
  if (options_.targetBytes != 0) {
    const uint64_t share = options_.targetBytes * s.weight / totalWeight;
    uint64_t bySize = 0;
    for (uint64_t bytes = 0, id = nextTextId_; bytes < share && bySize < n; ++id, ++bySize) {
      const MessageFields f =
          MakeMessageFields(options_.seed, static_cast<uint32_t>(id), options_.shape);
      bytes += f.kind == MessageKind::kShortReply ? 400 : f.targetSize;
    }
    n = bySize;
  }
  // The Inbox holds one of each kind of message that tests look for.
  const uint64_t least = index == kInboxIndex ? 40 : 3;
  return static_cast<uint32_t>(std::max(least, std::min<uint64_t>(n, 0xFFFFFF)));
}

TextKey Store::NewKey(int64_t sentTime) {
  TextKey key;
  key.id = nextTextId_++;
  key.sentTime = sentTime;
  return key;
}

uint32_t Store::RandomFlags(Rng& rng) const {
  uint32_t flags = 0;
  if (rng.Chance(850)) flags |= dbx::kFlagRead;
  if (rng.Chance(60)) flags |= kFlagFlagged;
  if (rng.Chance(150)) {
    flags |= kFlagAnswered;
  } else if (rng.Chance(60)) {
    flags |= kFlagForwarded;
  }
  return flags;
}

Message Store::Received(Rng& rng, int64_t sentTime) {
  Message m;
  m.text = NewKey(sentTime);
  const uint32_t s = rng.Below(1000);
  m.text.subject = s < 100   ? Style::kEncodedB
                   : s < 160 ? Style::kEncodedQ
                   : s < 280 ? Style::kEightBit
                             : Style::kAscii;
  const uint32_t n = rng.Below(1000);
  m.text.from = n < 120 ? Style::kEncodedB : n < 200 ? Style::kEightBit : Style::kAscii;
  if (rng.Chance(30)) {
    m.text.fromLines = true;
    m.text.kind = static_cast<int>(MessageKind::kPlain);
  }
  m.text.noDate = rng.Chance(20);
  m.flags = RandomFlags(rng);
  return m;
}

void Store::PlanFolder(int index, uint32_t count) {
  Folder& folder = folders_[index];
  const Content content = folder.row->content;
  Rng rng(MixSeed(options_.seed, kFolderStreamBase + static_cast<uint64_t>(index)));
  const int64_t start = owner_.firstTime;
  for (uint32_t n = 0; n < count; ++n) {
    const int64_t sent = start + kStoreSpan * n / count + rng.Below(10800);
    Message m = Received(rng, sent);
    switch (content) {
      case Content::kSent:
      case Content::kImapSent:
      case Content::kDrafts:
        m.text.outgoing = true;
        m.text.from = Style::kAscii;
        m.flags = dbx::kFlagRead;
        if (content == Content::kDrafts) {
          // Never received, so dated: a file time can come from the Date header.
          m.flags |= kFlagDraft;
          m.receivedKnown = false;
          m.text.noDate = false;
        }
        if (content == Content::kImapSent) m.fate = Fate::kHeadersOnly;
        break;
      case Content::kImap:
      case Content::kNews:
        // The first one downloaded, the second not; then half, or most for news, headers only.
        if (n == 1 || (n > 1 && rng.Chance(content == Content::kNews ? 700 : 500))) {
          m.fate = Fate::kHeadersOnly;
        }
        break;
      default:
        // A few deleted: in Deleted Items, those it was emptied of.
        if (n > 0 && rng.Chance(index == kDeletedItemsIndex ? 100 : 20)) m.fate = Fate::kDeleted;
        break;
    }
    folder.messages.push_back(m);
  }
}

// A deleted message of a few blocks at `at` in the Inbox, and a short reply after it stored in
// its last block, short enough that the deleted message's bytes past its end survive there.
void Store::PlanReusedBlock(size_t at) {
  std::vector<Message>& list = folders_[kInboxIndex].messages;
  Message& deleted = list[at];
  Message& reply = list[at + 1];
  deleted.text.kind = static_cast<int>(MessageKind::kPlain);
  deleted.text.small = true;
  deleted.text.fromLines = false;
  deleted.fate = Fate::kDeleted;
  deleted.lastBlockReused = true;
  reply.text = NewKey(reply.text.sentTime);
  reply.text.kind = static_cast<int>(MessageKind::kShortReply);
  reply.fate = Fate::kLive;
  std::string text;
  AppendMessageText(options_.seed, reply.text.id, TextOf(reply.text).fields, &text);
  const size_t replyLength = text.size();
  for (int tries = 0; tries < 64; ++tries) {
    text.clear();
    AppendMessageText(options_.seed, deleted.text.id, TextOf(deleted.text).fields, &text);
    if ((text.size() - 1) % dbx::kBlockDataSize + 1 > replyLength + 16) break;
    deleted.text.id = nextTextId_++;
  }
}

void Store::PlanInbox() {
  std::vector<Message>& list = folders_[kInboxIndex].messages;
  // One message of each kind first: subjects as B and Q words and 8-bit, senders as a B word
  // and 8-bit, "From " lines, no Date header, and each flag.
  struct Forced {
    Style subject, from;
    bool fromLines, noDate;
    uint32_t flags;
  };
  const Forced kForced[] = {
      {Style::kEncodedB, Style::kAscii, false, false, dbx::kFlagRead},
      {Style::kEightBit, Style::kAscii, false, false, dbx::kFlagRead},
      {Style::kEncodedQ, Style::kAscii, false, false, dbx::kFlagRead},
      {Style::kAscii, Style::kEncodedB, false, false, dbx::kFlagRead},
      {Style::kAscii, Style::kEightBit, false, false, dbx::kFlagRead},
      {Style::kAscii, Style::kAscii, true, false, dbx::kFlagRead},
      {Style::kAscii, Style::kAscii, false, true, dbx::kFlagRead},
      {Style::kAscii, Style::kAscii, false, false, dbx::kFlagRead | kFlagFlagged},
      {Style::kAscii, Style::kAscii, false, false, dbx::kFlagRead | kFlagAnswered},
      {Style::kAscii, Style::kAscii, false, false, dbx::kFlagRead | kFlagForwarded},
      {Style::kAscii, Style::kAscii, false, false, 0},
  };
  const size_t forced = sizeof kForced / sizeof kForced[0];
  for (size_t i = 0; i < forced; ++i) {
    TextKey& k = list[i].text;
    k.subject = kForced[i].subject;
    k.from = kForced[i].from;
    k.fromLines = kForced[i].fromLines;
    k.kind = k.fromLines ? static_cast<int>(MessageKind::kPlain) : -1;
    k.noDate = kForced[i].noDate;
    list[i].flags = kForced[i].flags;
    list[i].fate = Fate::kLive;
  }
  // Two deleted messages whose last block the next message took: one early, one later on that
  // had been moved to Deleted Items, so its bytes are known from there.
  const size_t reused[2] = {forced + 1, forced + (list.size() - forced) * 2 / 3};
  PlanReusedBlock(reused[0]);
  PlanReusedBlock(reused[1]);
  std::vector<size_t> moved{reused[1]}, copied;
  auto special = [&](size_t i) {
    return i < forced || i == reused[0] || i == reused[0] + 1 || i == reused[1] ||
           i == reused[1] + 1;
  };

  // Moved to Deleted Items and copied to Projects: a few of each, and at least two, taken from
  // the end when chance gave fewer.
  Rng rng(MixSeed(options_.seed, kFolderStreamBase + 0xFFF));
  std::vector<size_t> candidates;
  for (size_t i = forced; i < list.size(); ++i) {
    if (!special(i) && list[i].fate == Fate::kLive) candidates.push_back(i);
  }
  enum Role : uint8_t { kStays, kMoved, kCopied };
  std::vector<Role> role(candidates.size(), kStays);
  size_t moves = 0, copies = 0;
  for (size_t c = 0; c < candidates.size(); ++c) {
    const uint32_t r = rng.Below(1000);
    if (r < 40) {
      role[c] = kMoved;
      ++moves;
    } else if (r < 60) {
      role[c] = kCopied;
      ++copies;
    }
  }
  for (size_t c = candidates.size(); c-- > 0 && (moves < 2 || copies < 2);) {
    if (role[c] != kStays) continue;
    if (moves < 2) {
      role[c] = kMoved;
      ++moves;
    } else {
      role[c] = kCopied;
      ++copies;
    }
  }
  for (size_t c = 0; c < candidates.size(); ++c) {
    if (role[c] == kMoved) moved.push_back(candidates[c]);
    if (role[c] == kCopied) copied.push_back(candidates[c]);
  }
  std::vector<Message>& trash = folders_[kDeletedItemsIndex].messages;
  for (size_t i : moved) {
    Message copy = list[i];
    copy.fate = Fate::kLive;
    copy.lastBlockReused = false;
    list[i].fate = Fate::kDeleted;
    list[i].movedTo = kDeletedItemsIndex;
    list[i].movedToId = static_cast<uint32_t>(trash.size() + 1);
    trash.push_back(copy);
  }
  for (size_t i : copied) folders_[kProjectsIndex].messages.push_back(list[i]);
}

void Store::Plan() {
  NameFolders();
  for (int i = 0; i < kFolderCount; ++i) {
    const uint32_t count = CountFor(i);
    if (count != 0) PlanFolder(i, count);
  }
  PlanInbox();
}

// ---- Writing ----

bool Store::Write(FileSink& files, StoreManifest* manifest, std::string* error) {
  StoreManifest& mf = *manifest;
  mf = StoreManifest();
  mf.seed = options_.seed;
  mf.codePage = options_.codePage;
  mf.charset = MailCharset();
  StoreStats& st = mf.stats;
  std::vector<uint32_t> recordCount(kFolderCount, 0), unreadCount(kFolderCount, 0);
  std::vector<std::vector<FolderMessage>> written(kFolderCount);

  // The message folders first, each streamed to its file.
  for (int i = 0; i < kFolderCount; ++i) {
    Folder& f = folders_[i];
    if (f.file.empty()) continue;
    const Account account = AccountOf(f.row->kind);
    GeneratorOptions layout;
    layout.seed = MixSeed(options_.seed, kLayoutStreamBase + static_cast<uint64_t>(i));
    layout.fragmented = f.row->fragmented;
    layout.identity.source = account.source;
    layout.identity.accountKey = account.key;
    layout.identity.name = f.nameBytes;
    Output* out = files.Begin(f.file, error);
    if (out == nullptr) return false;
    GeneratorStats gs;
    const StoreFolderPlan plan(*this, f);
    if (!GenerateFolder(layout, plan, *out, &written[i], &gs, error)) return false;
    StoreManifest::File file;
    file.bytes = out->Size();
    if (!files.End(error)) return false;
    recordCount[i] = gs.messages + gs.headersOnlyMessages;
    file.name = f.file;
    file.kind = "messages";
    file.folder = f.nameUtf8;
    file.source = SourceName(account.source);
    file.accountKey = account.key;
    file.indexCount = recordCount[i];
    file.named = f.row->named;
    mf.files.push_back(file);
  }

  // Every message, now that each knows its blocks.
  for (int i = 0; i < kFolderCount; ++i) {
    const Folder& f = folders_[i];
    for (const FolderMessage& w : written[i]) {
      const Message& m = f.messages[w.id - 1];
      const MessageText t = TextOf(m.text);
      const MessageFields& fields = t.fields;
      StoreManifest::Message e;
      e.file = f.file;
      e.folder = f.nameUtf8;
      if (f.row->named) e.path = f.path;
      e.blocks = w.blocks;
      e.firstBlock = w.firstBlock;
      switch (w.fate) {
        case Fate::kLive:
          e.status = "live";
          ++st.live;
          break;
        case Fate::kHeadersOnly:
          e.status = "headers-only";
          ++st.headersOnly;
          break;
        case Fate::kDeleted:
          e.status = m.movedTo >= 0 ? "deleted-also-live" : "deleted";
          ++st.deleted;
          if (m.movedTo >= 0) {
            ++st.deletedAlsoLive;
            e.liveInFile = folders_[m.movedTo].file;
            e.liveInId = m.movedToId;
          }
          e.overwritten = w.overwritten;
          e.lastBlockReused = w.lastBlockReused;
          break;
      }
      if (w.fate != Fate::kHeadersOnly) {
        e.size = w.length;
        e.sha256 = w.sha256;
      }
      if (w.fate != Fate::kDeleted) {
        e.indexId = w.id;
        e.flags = FlagsOf(f, m, fields);
        if ((e.flags & dbx::kFlagRead) == 0) ++unreadCount[i];
        if (m.receivedKnown) e.received = FormatIso8601(fields.receivedTime);
        if (fields.dateHeader) e.sent = FormatIso8601(fields.sentTime);
      }
      e.subject = t.subject;
      e.from = t.fromName + " <" + fields.fromAddress + ">";
      e.to = t.toName + " <" + fields.toAddress + ">";
      e.messageId = fields.messageId;
      mf.messages.push_back(std::move(e));
    }
  }

  // Folders.dbx, from what the folders now hold.
  std::vector<FolderRecord> records;
  for (int i = 0; i < kFolderCount; ++i) {
    const Folder& f = folders_[i];
    const FolderRow& s = *f.row;
    if (!s.named) continue;
    static const char* const kSpecial[] = {"",           "inbox",         "outbox",
                                           "sent-items", "deleted-items", "drafts"};
    static const char* const kKinds[] = {"news", "imap", "http", "local", "root"};
    // Accounts, and Local Folders with its own key; the folders in an account carry its key.
    const bool keyed = s.kind != 4 && (s.kind != 3 || s.parent == 0);
    FolderRecord r;
    r.id = s.id;
    r.parent = s.parent < 0 ? 0xFFFFFFFFu : kFolders[s.parent].id;
    r.name = f.nameBytes;
    r.fileName = f.fileBytes;
    if (keyed) r.accountKey = AccountOf(s.kind).key;
    r.flags = s.flags;
    r.messages = recordCount[i];
    r.unread = unreadCount[i];
    r.special = s.special;
    r.kind = s.kind;
    records.push_back(r);
    StoreManifest::Folder e;
    e.id = s.id;
    e.parent = s.parent < 0 ? -1 : int64_t{kFolders[s.parent].id};
    e.name = f.nameUtf8;
    e.path = f.path;
    e.file = f.file;
    e.kind = kKinds[s.kind];
    e.special = kSpecial[s.special];
    e.accountKey = r.accountKey;
    e.messages = r.messages;
    e.unread = r.unread;
    mf.folders.push_back(e);
  }
  const uint64_t created = UnixToFileTime(owner_.firstTime - 86400);
  const char* const kExtras[][2] = {
      {"Folders.dbx", "folders"}, {"Pop3uidl.dbx", "pop3uidl"}, {"Offline.dbx", "offline"}};
  for (const auto& extra : kExtras) {
    StoreManifest::File file;
    file.name = extra[0];
    file.kind = extra[1];
    Output* out = files.Begin(file.name, error);
    if (out == nullptr) return false;
    const bool ok = file.kind == "folders"    ? WriteFoldersFile(records, created, *out, error)
                    : file.kind == "pop3uidl" ? WritePop3uidlFile(created, *out, error)
                                              : WriteOfflineFile(*out, error);
    if (!ok) return false;
    file.bytes = out->Size();
    if (!files.End(error)) return false;
    if (file.kind == "folders") file.indexCount = static_cast<uint32_t>(records.size());
    mf.files.push_back(file);
  }
  std::sort(mf.folders.begin(), mf.folders.end(),
            [](const auto& a, const auto& b) { return a.id < b.id; });
  st.files = static_cast<uint32_t>(mf.files.size());
  st.folders = static_cast<uint32_t>(records.size());
  for (const StoreManifest::File& file : mf.files) st.bytes += file.bytes;
  return true;
}

// ---- JSON ----

using Json = nlohmann::ordered_json;

// A field that is null when it has no value.
Json StringOrNull(const std::string& s) { return s.empty() ? Json() : Json(s); }

void AppendLine(const Json& line, std::string* out) {
  *out += line.dump(-1, ' ', false, Json::error_handler_t::replace);
  *out += '\n';
}

std::vector<std::string> FlagNames(uint32_t flags) {
  static const struct {
    uint32_t bit;
    const char* name;
  } kNames[] = {{dbx::kFlagRead, "read"},    {kFlagFlagged, "flagged"},
                {kFlagAnswered, "answered"}, {kFlagForwarded, "forwarded"},
                {kFlagDraft, "draft"},       {dbx::kFlagAttachment, "attachment"},
                {kFlagNews, "news"}};
  std::vector<std::string> names;
  for (const auto& n : kNames) {
    if (flags & n.bit) names.push_back(n.name);
  }
  return names;
}

}  // namespace

bool GenerateStore(const StoreOptions& options, FileSink& files, StoreManifest* manifest,
                   std::string* error) {
  const CodePageText* texts = FindCodePageText(options.codePage);
  if (texts == nullptr) {
    *error = "code page " + std::to_string(options.codePage) + " is not one of 1251, 936, 1252";
    return false;
  }
  if (options.targetBytes > (uint64_t{4} << 30)) {
    *error = "a store of at most 4 GiB; its largest folder must stay under the 4 GiB of a file";
    return false;
  }
  Store store(options, *texts);
  store.Plan();
  return store.Write(files, manifest, error);
}

std::string ManifestJsonLines(const StoreManifest& m) {
  std::string out;
  const StoreStats& st = m.stats;
  AppendLine({{"type", "store"},
              {"seed", m.seed},
              {"codepage", m.codePage},
              {"charset", m.charset},
              {"files", st.files},
              {"folders", st.folders},
              {"live", st.live},
              {"headers_only", st.headersOnly},
              {"deleted", st.deleted},
              {"deleted_also_live", st.deletedAlsoLive},
              {"bytes", st.bytes}},
             &out);
  for (const StoreManifest::Folder& f : m.folders) {
    AppendLine({{"type", "folder"},
                {"id", f.id},
                {"parent", f.parent < 0 ? Json() : Json(f.parent)},
                {"name", f.name},
                {"folder_path", f.path},
                {"file", StringOrNull(f.file)},
                {"kind", f.kind},
                {"special", StringOrNull(f.special)},
                {"account_key", StringOrNull(f.accountKey)},
                {"messages", f.messages},
                {"unread", f.unread}},
               &out);
  }
  for (const StoreManifest::File& f : m.files) {
    Json line = {{"type", "file"}, {"file", f.name}, {"kind", f.kind}};
    if (f.kind == "messages") {
      line["folder"] = f.folder;
      line["source"] = f.source;
      line["account_key"] = f.accountKey;
      line["named"] = f.named;
    }
    line["index_count"] = f.indexCount;
    line["bytes"] = f.bytes;
    AppendLine(line, &out);
  }
  for (const StoreManifest::Message& e : m.messages) {
    const bool deleted = e.indexId == 0;
    const bool blocks = e.status != "headers-only";
    Json line = {{"type", "message"},
                 {"file", e.file},
                 {"folder", e.folder},
                 {"folder_path", e.path.empty() ? Json() : Json(e.path)},
                 {"status", e.status},
                 {"index_id", deleted ? Json() : Json(e.indexId)},
                 {"first_block", blocks ? Json(e.firstBlock) : Json()},
                 {"blocks", e.blocks},
                 {"size", e.size},
                 {"sha256", blocks ? Json(DigestToHex(e.sha256)) : Json()}};
    if (deleted) {
      line["overwritten"] = Json::array();
      for (const auto& range : e.overwritten) {
        line["overwritten"].push_back({range.first, range.second});
      }
      line["last_block_reused"] = e.lastBlockReused;
      if (!e.liveInFile.empty()) {
        line["live_in"] = {{"file", e.liveInFile}, {"index_id", e.liveInId}};
      }
    }
    line["flags"] = FlagNames(e.flags);
    line["received"] = StringOrNull(e.received);
    line["sent"] = StringOrNull(e.sent);
    line["subject"] = e.subject;
    line["from"] = e.from;
    line["to"] = e.to;
    line["message_id"] = e.messageId;
    AppendLine(line, &out);
  }
  return out;
}

}  // namespace quillon::gen
