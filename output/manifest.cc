#include "output/manifest.h"

#include <algorithm>
#include <cstring>
#include <nlohmann/json.hpp>

#include "output/mail_time.h"
#include "output/names.h"
#include "text/file_names.h"

namespace quillon::output {
namespace {

using Json = nlohmann::ordered_json;

// A manifest line longer than this is no line this tool wrote.
constexpr size_t kMaxLine = 1 << 20;

std::string Dump(const Json& j) {
  // Texts are UTF-8 already; a byte that is not is replaced rather than refused.
  return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool FromHex(const std::string& hex, Sha256Digest* digest) {
  if (hex.size() != 64) return false;
  for (size_t i = 0; i < 32; ++i) {
    int value = 0;
    for (size_t k = 0; k < 2; ++k) {
      const char c = hex[2 * i + k];
      const int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
      if (d < 0) return false;
      value = value * 16 + d;
    }
    (*digest)[i] = static_cast<uint8_t>(value);
  }
  return true;
}

// Nesting deeper than a manifest line has: refused before parsing.
bool ShallowEnough(const std::string& line) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inString) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        inString = false;
      }
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > 4) return false;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return true;
}

// The fields of a file line, parsed once.
struct ParsedLine {
  ListedFile file;
  bool repeated = false;  // "path", "size" or "sha256" given twice
  std::string identity;   // MessageIdentity, when the line has every field of it
  std::string mailbox;
};

// The fields of a file line as the parser meets them: only those --update needs are kept, and no
// object is built (a manifest of millions of lines is read at every --update).
class LineFields final : public nlohmann::json_sax<Json> {
 public:
  bool null() override { return Value(Kind::kNull, 0, nullptr); }
  bool boolean(bool) override { return Value(Kind::kOther, 0, nullptr); }
  bool number_integer(number_integer_t) override { return Value(Kind::kOther, 0, nullptr); }
  bool number_unsigned(number_unsigned_t n) override { return Value(Kind::kUnsigned, n, nullptr); }
  bool number_float(number_float_t, const string_t&) override {
    return Value(Kind::kOther, 0, nullptr);
  }
  bool string(string_t& text) override { return Value(Kind::kString, 0, &text); }
  bool binary(binary_t&) override { return Value(Kind::kOther, 0, nullptr); }
  bool start_object(std::size_t) override { return Open(true); }
  bool end_object() override { return Close(); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    if (depth_ == 1) key_ = name;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
    return false;
  }

  enum class Kind : uint8_t { kMissing, kNull, kUnsigned, kString, kOther };
  struct Field {
    Kind kind = Kind::kMissing;
    uint64_t number = 0;
    std::string text;
    int times = 0;  // given how many times
  };
  Field path, size, sha256, mailbox, status, firstBlock, blocks, indexId, messageId;
  bool object = false;  // the line is one object

 private:
  bool Open(bool isObject) {
    if (depth_ == 0) {
      object = isObject;
    } else if (depth_ == 1) {
      Value(Kind::kOther, 0, nullptr);  // a key's value that is an object or array
    }
    ++depth_;
    return true;
  }
  bool Close() {
    --depth_;
    return true;
  }
  bool Value(Kind kind, uint64_t number, string_t* text) {
    if (depth_ == 0) return true;  // not an object: refused by `object`
    if (depth_ != 1) return true;
    Field* field = key_ == "path"          ? &path
                   : key_ == "size"        ? &size
                   : key_ == "sha256"      ? &sha256
                   : key_ == "mailbox"     ? &mailbox
                   : key_ == "status"      ? &status
                   : key_ == "first_block" ? &firstBlock
                   : key_ == "blocks"      ? &blocks
                   : key_ == "index_id"    ? &indexId
                   : key_ == "message_id"  ? &messageId
                                           : nullptr;
    if (field == nullptr) return true;
    field->kind = kind;
    field->number = number;
    if (text != nullptr) field->text = std::move(*text);
    ++field->times;
    return true;
  }
  int depth_ = 0;
  std::string key_;
};

// Reads a line as a file line this tool wrote; false for any other line. A line that gives
// "path", "size" or "sha256" twice is one (readers would differ on which to take): `repeated`
// says so, for the caller to refuse.
bool ParseFileLine(const std::string& line, ParsedLine* parsed) {
  if (line.size() > kMaxLine || !ShallowEnough(line)) return false;
  LineFields f;
  if (!Json::sax_parse(line, &f) || !f.object) return false;
  using Kind = LineFields::Kind;
  if (f.path.kind != Kind::kString || f.size.kind != Kind::kUnsigned ||
      f.sha256.kind != Kind::kString) {
    return false;
  }
  parsed->file.path = std::move(f.path.text);
  parsed->file.size = f.size.number;
  parsed->repeated = f.path.times > 1 || f.size.times > 1 || f.sha256.times > 1;
  if (!PathStaysInside(parsed->file.path) || !FromHex(f.sha256.text, &parsed->file.sha256)) {
    return false;
  }
  // What the line says of its message, for --update to find the file of a message again.
  parsed->identity.clear();
  parsed->mailbox.clear();
  if (f.mailbox.kind == Kind::kString && f.status.kind == Kind::kString &&
      f.firstBlock.kind == Kind::kUnsigned && f.blocks.kind == Kind::kUnsigned &&
      (f.indexId.kind == Kind::kNull ||
       (f.indexId.kind == Kind::kUnsigned && f.indexId.number <= UINT32_MAX)) &&
      f.messageId.kind == Kind::kString) {
    parsed->mailbox = f.mailbox.text;
    parsed->identity = MessageIdentity(
        f.mailbox.text, f.status.text, f.firstBlock.number, f.blocks.number, parsed->file.size,
        f.indexId.kind == Kind::kNull
            ? std::nullopt
            : std::optional<uint32_t>(static_cast<uint32_t>(f.indexId.number)),
        f.messageId.text);
  }
  return true;
}

}  // namespace

namespace {

// A string as Dump writes it. An ASCII one is written here: '"' and '\\' escaped, the control
// characters as \b \f \n \r \t or \u00xx, everything else as it is; any other goes through
// nlohmann, whose handling of UTF-8 (and of bytes that are not) is not repeated here.
void AppendString(std::string_view s, std::string* out) {
  for (char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      *out += Dump(Json(std::string(s)));
      return;
    }
  }
  static const char kHex[] = "0123456789abcdef";
  out->push_back('"');
  size_t plain = 0;  // where the characters not yet written begin
  for (size_t i = 0; i < s.size(); ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if (b >= 0x20 && b != '"' && b != '\\') continue;
    out->append(s.data() + plain, i - plain);
    plain = i + 1;
    switch (b) {
      case '"':
        *out += "\\\"";
        break;
      case '\\':
        *out += "\\\\";
        break;
      case '\b':
        *out += "\\b";
        break;
      case '\f':
        *out += "\\f";
        break;
      case '\n':
        *out += "\\n";
        break;
      case '\r':
        *out += "\\r";
        break;
      case '\t':
        *out += "\\t";
        break;
      default: {
        const char escape[] = {'\\', 'u', '0', '0', kHex[b >> 4], kHex[b & 15]};
        out->append(escape, sizeof escape);
      }
    }
  }
  out->append(s.data() + plain, s.size() - plain);
  out->push_back('"');
}

// The fields `quillon list --json` and the manifest share, in their order, as Dump writes such
// an object: written directly, a line a message (hundreds of thousands for a folder of short
// messages), where building the object to dump it cost ten times as much. `path`, when given,
// follows them.
std::string MessageJsonLine(const MessageFacts& facts, uint64_t size,
                            const std::optional<Sha256Digest>& sha256, const std::string* path) {
  std::string out;
  out.reserve(512);
  const auto key = [&](const char* name) {
    out += out.empty() ? "{\"" : ",\"";
    out += name;
    out += "\":";
  };
  const auto text = [&](const char* name, std::string_view value) {
    key(name);
    AppendString(value, &out);
  };
  const auto number = [&](const char* name, std::optional<uint64_t> value) {
    key(name);
    out += value ? std::to_string(*value) : "null";
  };
  const auto time = [&](const char* name, const std::optional<int64_t>& t) {
    const std::string iso = t ? Iso8601Utc(*t) : std::string();
    if (iso.empty()) {
      key(name);
      out += "null";
    } else {
      text(name, iso);
    }
  };
  text("mailbox", facts.mailbox);
  text("folder", facts.FolderName());
  text("status", facts.status);
  number("first_block", facts.firstBlock);
  number("blocks", facts.blocks);
  number("size", size);
  if (sha256) {
    text("sha256", DigestToHex(*sha256));
  } else {
    number("sha256", std::nullopt);
  }
  number("index_id", facts.indexId);
  key("flags");
  out += '[';
  bool first = true;
  for (size_t i = 0; i < kFlagCount; ++i) {
    if ((facts.flags & (1u << i)) == 0) continue;
    if (!first) out += ',';
    first = false;
    AppendString(kFlagNames[i], &out);
  }
  out += ']';
  time("received", facts.received);
  time("sent", facts.sent);
  text("subject", facts.subject);
  text("from", facts.from);
  text("to", facts.to);
  text("message_id", facts.messageId);
  if (path != nullptr) text("path", *path);
  out += '}';
  return out;
}

}  // namespace

std::string MessageLine(const MessageFacts& facts, uint64_t size,
                        const std::optional<Sha256Digest>& sha256) {
  return MessageJsonLine(facts, size, sha256, nullptr);
}

std::string FileLine(const MessageFacts& facts, const WrittenMessage& written) {
  return MessageJsonLine(facts, written.size, written.sha256, &written.path);
}

std::string SummaryLine(const MailboxSummary& summary) {
  Json j;
  j["mailbox"] = summary.mailbox;
  j["summary"] = true;
  j["listed"] = summary.listed;
  j["found"] = summary.found;
  j["written"] = summary.written;
  Json notWritten = Json::object();
  for (const auto& [reason, count] : summary.notWritten) notWritten[reason] = count;
  j["not_written"] = notWritten;
  return Dump(j);
}

std::string ManifestTemporaryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
  return JoinPath(dir, "." + std::string(BaseName(path)) + ".tmp");
}

std::vector<std::string> OwnNames() {
  return {kManifestName, ManifestTemporaryOf(kManifestName), kLockName};
}

std::unique_ptr<ManifestWriter> ManifestWriter::Create(OutputFs* fs, const std::string& path,
                                                       std::string* error) {
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash);
  if (!fs->MakeFolders(dir, error)) return nullptr;
  std::unique_ptr<NewFile> file = fs->CreateTemporary(ManifestTemporaryOf(path), error);
  if (!file) return nullptr;
  return std::unique_ptr<ManifestWriter>(new ManifestWriter(std::move(file), path));
}

bool ManifestWriter::Line(const std::string& line, std::string* error) {
  // Lines are gathered: an export of many small messages would spend a system call on each.
  pending_ += line;
  pending_ += '\n';
  return pending_.size() < kPendingBytes || Flush(error);
}

bool ManifestWriter::Flush(std::string* error) {
  const bool written = file_->Write(pending_.data(), pending_.size(), error);
  pending_.clear();
  return written;
}

bool ManifestWriter::AddFile(const MessageFacts& facts, const WrittenMessage& written,
                             std::string* error) {
  return Line(FileLine(facts, written), error);
}

bool ManifestWriter::AddSummary(const MailboxSummary& summary, std::string* error) {
  return Line(SummaryLine(summary), error);
}

bool ManifestWriter::AddLine(const std::string& line, std::string* error) {
  return Line(line, error);
}

bool ManifestWriter::Finish(std::string* error) {
  return Flush(error) && file_->Commit(path_, std::nullopt, error);
}

std::string MessageIdentity(const std::string& mailbox, const std::string& status,
                            uint64_t firstBlock, uint64_t blocks, uint64_t size,
                            const std::optional<uint32_t>& indexId, const std::string& messageId) {
  return mailbox + '\0' + status + '\0' + std::to_string(firstBlock) + '\0' +
         std::to_string(blocks) + '\0' + std::to_string(size) + '\0' +
         (indexId ? std::to_string(*indexId) : "-") + '\0' + messageId;
}

bool PathStaysInside(const std::string& path) {
  if (path.empty() || path[0] == '/' || path.find('\\') != std::string::npos ||
      path.find('\0') != std::string::npos) {
    return false;
  }
  // No drive ("C:"): a ':' only in the last part of a path with folders, where POSIX Maildir
  // names hold it.
  const size_t lastSlash = path.rfind('/');
  const size_t colon = path.find(':');
  if (colon != std::string::npos && (lastSlash == std::string::npos || colon < lastSlash)) {
    return false;
  }
  size_t start = 0;
  for (;;) {
    const size_t slash = path.find('/', start);
    const std::string part = path.substr(start, slash - start);
    if (part.empty() || part == "." || part == "..") return false;
    if (slash == std::string::npos) return true;
    start = slash + 1;
  }
}

namespace {

// Keys of the index: hashes, so lines found by them are read again and checked.
uint64_t Hash64(std::string_view text) { return std::hash<std::string_view>{}(text); }
uint32_t Hash32(std::string_view text) {
  const uint64_t h = Hash64(text);
  return static_cast<uint32_t>(h ^ (h >> 32));
}
// A line read again is taken only while it is as it was (the manifest may have been changed in
// place meanwhile).
uint32_t CheckOf(const std::string& line) { return Hash32(line); }
uint32_t PlaceKey(const std::string& place, const Sha256Digest& sha256) {
  std::string text = place;
  text += '\0';
  text.append(reinterpret_cast<const char*>(sha256.data()), sha256.size());
  return Hash32(text);
}

// "cur/x:2,S" gives "x": a Maildir file's unique part, which stays when its flags change.
std::string_view UniquePart(std::string_view name) {
  return name.substr(0, name.find_first_of(":;"));
}

}  // namespace

// Reads the lines of the manifest through a window of its bytes, so that lines read in order
// cost one read of the file per window.
class ListedManifest::Reader {
 public:
  explicit Reader(InputFile* file, size_t window = 4096)
      : file_(file), window_(window), bytes_(new char[window]) {}

  // The line that begins at `offset`: *line gets its bytes without the line end (no more than
  // kMaxLine + 1 of them: a longer line is no line of ours), *next the offset after it. At the
  // end of the file, *next is `offset`.
  bool LineAt(uint64_t offset, std::string* line, uint64_t* next, std::string* error) {
    line->clear();
    for (uint64_t at = offset;;) {
      if (at < start_ || at >= start_ + size_) {
        if (!file_->ReadAt(at, bytes_.get(), window_, &size_, error)) return false;
        start_ = at;
        if (size_ == 0) {  // the end: a last line without a line end ends here
          *next = at;
          return true;
        }
      }
      const char* from = bytes_.get() + (at - start_);
      const size_t left = size_ - (at - start_);
      const void* nl = std::memchr(from, '\n', left);
      const size_t take = nl ? static_cast<size_t>(static_cast<const char*>(nl) - from) : left;
      line->append(from, std::min(take, kMaxLine + 1 - std::min(line->size(), kMaxLine + 1)));
      at += take;
      if (nl != nullptr) {
        *next = at + 1;
        return true;
      }
    }
  }

 private:
  InputFile* file_;
  size_t window_;
  std::unique_ptr<char[]> bytes_;
  size_t size_ = 0;  // bytes of the window read
  uint64_t start_ = 0;
};

ListedManifest::ListedManifest(Format format, std::unique_ptr<InputFile> file)
    : format_(format), file_(std::move(file)) {}

ListedManifest::~ListedManifest() = default;

std::string ListedManifest::PlaceOf(const std::string& path) const {
  if (format_ == Format::kMaildir) return MailWriter::MaildirOf(path);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string ListedManifest::NameKey(const std::string& path) const {
  // A Maildir message is one file in cur/ or new/, whatever its flags.
  const std::string dir(path.substr(0, path.rfind('/') + 1));
  if (format_ == Format::kMaildir &&
      (dir == "cur/" || dir == "new/" ||
       (dir.size() > 4 && (dir.compare(dir.size() - 5, 5, "/cur/") == 0 ||
                           dir.compare(dir.size() - 5, 5, "/new/") == 0)))) {
    return FoldCase(MailWriter::MaildirOf(path)) + "/" + FoldCase(UniquePart(BaseName(path)));
  }
  return FoldCase(path);
}

std::unique_ptr<ListedManifest> ListedManifest::Open(
    OutputFs* fs, const std::string& path, Format format,
    const std::function<bool(const std::string& mailbox)>& ofThisRun,
    const std::atomic<bool>* abort, bool* refused, std::string* error) {
  *refused = false;
  // A missing manifest is an empty one; any other failure to open it is one. The folder is
  // listed only when the manifest would not open: it may hold a file per message.
  std::unique_ptr<InputFile> file = fs->OpenForReading(path, error);
  if (!file) {
    const size_t slash = path.rfind('/');
    std::vector<FolderEntry> entries;
    std::string listError;
    if (!fs->List(slash == std::string::npos ? "" : path.substr(0, slash), &entries, &listError)) {
      return nullptr;
    }
    for (const FolderEntry& e : entries) {
      if (e.name == BaseName(path)) return nullptr;
    }
    error->clear();
  }
  std::unique_ptr<ListedManifest> m(new ListedManifest(format, std::move(file)));
  if (!m->file_) return m;

  std::vector<std::string> own;
  for (const std::string& name : OwnNames()) own.push_back(m->NameKey(name));
  // The lines counted first, so that each key gets its room at once: grown by doubling, the
  // keys of a manifest of a million lines held twice what they need while it was read.
  size_t count = 0;
  {
    constexpr size_t kChunk = 1 << 20;
    const std::unique_ptr<char[]> bytes(new char[kChunk]);
    for (uint64_t at = 0;;) {
      size_t got = 0;
      if (!m->file_->ReadAt(at, bytes.get(), kChunk, &got, error)) return nullptr;
      count += static_cast<size_t>(std::count(bytes.get(), bytes.get() + got, '\n'));
      if (got < kChunk) break;
      at += got;
    }
    ++count;  // a last line without a line end
    count = std::min<size_t>(count, UINT32_MAX);
    m->lines_.reserve(count);
    m->byName_.reserve(count);
    m->byPlace_.reserve(count);
    m->byIdentity_.reserve(count);
  }
  Reader reader(m->file_.get(), 1 << 20);
  std::string line;
  ParsedLine parsed;
  uint64_t number = 0;  // of the line, from 1, for the words
  for (uint64_t at = 0, next = 0;; at = next) {
    if (abort != nullptr && abort->load()) {
      *error = "stopped";
      return nullptr;
    }
    if (!reader.LineAt(at, &line, &next, error)) return nullptr;
    if (next == at) break;
    ++number;
    if (line.empty()) continue;
    if (!ParseFileLine(line, &parsed)) {
      if (line.size() > kMaxLine || line.find("\"summary\"") == std::string::npos) ++m->ignored_;
      continue;
    }
    if (parsed.repeated) {
      *refused = true;
      *error = "line " + std::to_string(number) + " gives its path, size or SHA-256 twice";
      return nullptr;
    }
    const std::string name = m->NameKey(parsed.file.path);
    if (std::find(own.begin(), own.end(), name) != own.end()) {
      *refused = true;
      *error = "line " + std::to_string(number) + " lists " + parsed.file.path +
               ", a file of the export's own";
      return nullptr;
    }
    if (at > UINT32_MAX || m->lines_.size() >= UINT32_MAX) {
      *refused = true;
      *error = "it is longer than 4 GiB";
      return nullptr;
    }
    const auto index = static_cast<uint32_t>(m->lines_.size());
    m->lines_.push_back({static_cast<uint32_t>(at), CheckOf(line)});
    m->byName_.push_back({Hash32(name), index});
    m->byPlace_.push_back({PlaceKey(m->PlaceOf(parsed.file.path), parsed.file.sha256), index});
    if (!parsed.identity.empty() && ofThisRun && ofThisRun(parsed.mailbox)) {
      m->byIdentity_.push_back({Hash32(parsed.identity), index});
    }
  }
  m->lines_.shrink_to_fit();
  for (auto* keys : {&m->byName_, &m->byPlace_}) {
    std::sort(keys->begin(), keys->end());
    keys->shrink_to_fit();
  }
  std::sort(m->byIdentity_.begin(), m->byIdentity_.end());
  m->byIdentity_.shrink_to_fit();
  // Two lines of one name: read again to tell them apart from keys that only meet.
  for (size_t i = 1; i < m->byName_.size(); ++i) {
    if (m->byName_[i].key != m->byName_[i - 1].key) continue;
    for (size_t k = i; k > 0 && m->byName_[k - 1].key == m->byName_[i].key; --k) {
      ListedFile a, b;
      if (!m->Read(m->byName_[k - 1].line, &a) || !m->Read(m->byName_[i].line, &b)) continue;
      if (m->NameKey(a.path) == m->NameKey(b.path)) {
        *refused = true;
        *error = "two of its lines name one file, " + a.path +
                 (a.path == b.path ? "" : " and " + b.path);
        return nullptr;
      }
    }
  }
  return m;
}

bool ListedManifest::Read(uint32_t index, ListedFile* file, std::string* identity,
                          std::string* line) const {
  if (index >= lines_.size()) return false;
  Reader reader(file_.get());
  std::string text, error;
  uint64_t next = 0;
  ParsedLine parsed;
  if (!reader.LineAt(lines_[index].offset, &text, &next, &error) ||
      CheckOf(text) != lines_[index].check || !ParseFileLine(text, &parsed)) {
    return false;
  }
  *file = std::move(parsed.file);
  if (identity != nullptr) *identity = std::move(parsed.identity);
  if (line != nullptr) *line = std::move(text);
  return true;
}

bool ListedManifest::FindIdentity(const std::string& identity, uint32_t* line,
                                  ListedFile* file) const {
  const uint32_t key = Hash32(identity);
  for (auto it = std::lower_bound(byIdentity_.begin(), byIdentity_.end(), Key{key, 0});
       it != byIdentity_.end() && it->key == key; ++it) {
    std::string listed;
    if (Read(it->line, file, &listed) && listed == identity) {
      *line = it->line;
      return true;
    }
  }
  return false;
}

std::vector<uint32_t> ListedManifest::IdentityCandidates(const std::string& identity) const {
  const uint32_t key = Hash32(identity);
  std::vector<uint32_t> lines;
  for (auto it = std::lower_bound(byIdentity_.begin(), byIdentity_.end(), Key{key, 0});
       it != byIdentity_.end() && it->key == key; ++it) {
    lines.push_back(it->line);
  }
  return lines;
}

std::vector<uint32_t> ListedManifest::LinesOfThisRun() const {
  std::vector<uint32_t> lines;
  lines.reserve(byIdentity_.size());
  for (const Key& k : byIdentity_) lines.push_back(k.line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<uint32_t> ListedManifest::Candidates(const std::string& place,
                                                 const Sha256Digest& sha256) const {
  const uint32_t key = PlaceKey(place, sha256);
  std::vector<uint32_t> lines;
  for (auto it = std::lower_bound(byPlace_.begin(), byPlace_.end(), Key{key, 0});
       it != byPlace_.end() && it->key == key; ++it) {
    lines.push_back(it->line);
  }
  return lines;
}

bool ListedManifest::Names(const std::string& path) const {
  const std::string name = NameKey(path);
  const uint32_t key = Hash32(name);
  for (auto it = std::lower_bound(byName_.begin(), byName_.end(), Key{key, 0});
       it != byName_.end() && it->key == key; ++it) {
    ListedFile file;
    if (Read(it->line, &file) && NameKey(file.path) == name) return true;
  }
  return false;
}

bool ListedManifest::ReadLines(const std::vector<uint32_t>& indices,
                               const std::function<void(const std::string& line)>& sink,
                               std::string* error) const {
  if (indices.empty()) return true;
  Reader reader(file_.get(), 1 << 20);
  std::string line;
  uint64_t next = 0;
  for (const uint32_t index : indices) {
    if (index >= lines_.size()) continue;
    if (!reader.LineAt(lines_[index].offset, &line, &next, error)) return false;
    if (CheckOf(line) == lines_[index].check) sink(line);
  }
  return true;
}

const char* UpdateActionName(UpdateAction action) {
  switch (action) {
    case UpdateAction::kWrite:
      return "write";
    case UpdateAction::kSkip:
      return "skip";
    case UpdateAction::kRewrite:
      return "rewrite";
  }
  return "";
}

UpdateAction DecideUpdate(const ListedFile* listed, const FileOnDisk& disk) {
  if (listed == nullptr) return UpdateAction::kWrite;
  if (disk.present && disk.size == listed->size && disk.sha256 && *disk.sha256 == listed->sha256) {
    return UpdateAction::kSkip;
  }
  return UpdateAction::kRewrite;
}

FileOnDisk LookAt(OutputFs* fs, const std::string& path, uint64_t listedSize,
                  const std::atomic<bool>* abort) {
  FileOnDisk disk;
  Sha256 hash;
  std::string error;
  bool whole = true;
  const bool read = fs->Read(
      path,
      [&](const uint8_t* p, size_t n) {
        disk.size += n;
        if (disk.size > listedSize || (abort != nullptr && abort->load())) {
          whole = false;
          return false;
        }
        hash.Update(p, n);
        return true;
      },
      &error);
  disk.present = read || !whole;
  if (read) disk.sha256 = hash.Finish();
  // Stopped before its end: not known to be whole, so not taken for it.
  if (!read && whole) disk.size = 0;
  return disk;
}

UpdatePlanner::UpdatePlanner(OutputFs* fs, const ListedManifest* listed, Looker look)
    : fs_(fs), listed_(listed), look_(std::move(look)), claimed_(listed->size()) {
  if (!look_) {
    look_ = [this](uint32_t, const std::string& path, const ListedFile& file) {
      return LookAt(fs_, path, file.size);
    };
  }
}

bool UpdatePlanner::Claim(const Listed& listed, const std::string& place,
                          const Sha256Digest& sha256) {
  if (claimed_[listed.line] || listed.file.sha256 != sha256 ||
      listed_->PlaceOf(listed.file.path) != place) {
    return false;
  }
  claimed_[listed.line] = true;
  return true;
}

std::optional<std::string> UpdatePlanner::FindRenamed(const std::string& path) {
  const std::string maildir = MailWriter::MaildirOf(path);
  auto found = maildirFiles_.find(maildir);
  if (found == maildirFiles_.end()) {
    // Read once per Maildir: a mail program that changed the flags of one file has likely
    // changed many.
    std::vector<MaildirFile>& files = maildirFiles_[maildir];
    for (const char* sub : {"cur", "new"}) {
      std::vector<FolderEntry> entries;
      std::string ignored;
      fs_->List(JoinPath(maildir, sub), &entries, &ignored);
      for (const FolderEntry& e : entries) {
        if (e.kind == EntryKind::kFolder) continue;
        const std::string_view unique = UniquePart(e.name);
        files.push_back({Hash64(unique), std::string(sub) + "/" + e.name.substr(unique.size())});
      }
    }
    // cur/ first among equal keys: a file in both is taken where a reader left it.
    std::stable_sort(files.begin(), files.end(),
                     [](const MaildirFile& a, const MaildirFile& b) { return a.key < b.key; });
    found = maildirFiles_.find(maildir);
  }
  const std::string_view unique = UniquePart(BaseName(path));
  const uint64_t key = Hash64(unique);
  const std::vector<MaildirFile>& files = found->second;
  const auto it = std::lower_bound(files.begin(), files.end(), key,
                                   [](const MaildirFile& f, uint64_t k) { return f.key < k; });
  if (it == files.end() || it->key != key) return std::nullopt;
  return JoinPath(maildir, it->rest.substr(0, 4) + std::string(unique) + it->rest.substr(4));
}

UpdatePlanner::Decision UpdatePlanner::Decide(const std::string& place, const Sha256Digest& sha256,
                                              const std::optional<Listed>& known) {
  Decision decision;
  if (known && Claim(*known, place, sha256)) {
    decision.listed = known;
  } else {
    for (const uint32_t line : listed_->Candidates(place, sha256)) {
      Listed candidate{line, {}};
      if (!claimed_[line] && listed_->Read(line, &candidate.file) &&
          Claim(candidate, place, sha256)) {
        decision.listed = std::move(candidate);
        break;
      }
    }
  }
  if (!decision.listed) return decision;
  const Listed& listed = *decision.listed;
  decision.path = listed.file.path;
  FileOnDisk disk = look_(listed.line, listed.file.path, listed.file);
  if (!disk.present && listed_->format() == Format::kMaildir) {
    // A mail program renames a Maildir file when its flags change; its unique part stays.
    if (const std::optional<std::string> renamed = FindRenamed(listed.file.path)) {
      decision.path = *renamed;
      disk = look_(listed.line, decision.path, listed.file);
    }
  }
  decision.action = DecideUpdate(&listed.file, disk);
  return decision;
}

void UpdatePlanner::Count(UpdateAction action) {
  switch (action) {
    case UpdateAction::kWrite:
      ++counts_.written;
      break;
    case UpdateAction::kSkip:
      ++counts_.skipped;
      break;
    case UpdateAction::kRewrite:
      ++counts_.rewritten;
      break;
  }
}

std::vector<uint32_t> UpdatePlanner::Unclaimed() const {
  std::vector<uint32_t> out;
  for (size_t i = 0; i < claimed_.size(); ++i) {
    if (!claimed_[i]) out.push_back(static_cast<uint32_t>(i));
  }
  return out;
}

}  // namespace quillon::output
