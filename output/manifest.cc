#include "output/manifest.h"

#include <cstring>
#include <nlohmann/json.hpp>

#include "output/mail_time.h"
#include "output/names.h"

namespace quillon::output {
namespace {

using Json = nlohmann::ordered_json;

// A manifest line longer than this is no line this tool wrote.
constexpr size_t kMaxLine = 1 << 20;

Json TimeOrNull(const std::optional<int64_t>& t) {
  if (!t) return nullptr;
  const std::string iso = Iso8601Utc(*t);
  return iso.empty() ? Json(nullptr) : Json(iso);
}

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

bool ParseFileLine(const std::string& line, ListedFile* file) {
  if (line.size() > kMaxLine || !ShallowEnough(line)) return false;
  const Json j = Json::parse(line, nullptr, false);
  if (!j.is_object()) return false;
  const auto path = j.find("path");
  const auto sha = j.find("sha256");
  const auto size = j.find("size");
  if (path == j.end() || !path->is_string() || sha == j.end() || !sha->is_string() ||
      size == j.end() || !size->is_number_unsigned()) {
    return false;
  }
  file->path = path->get<std::string>();
  file->size = size->get<uint64_t>();
  return PathStaysInside(file->path) && FromHex(sha->get<std::string>(), &file->sha256);
}

}  // namespace

namespace {

// The fields `quillon list --json` and the manifest share, in their order.
Json MessageJson(const MessageFacts& facts, uint64_t size,
                 const std::optional<Sha256Digest>& sha256) {
  Json j;
  j["mailbox"] = facts.mailbox;
  j["folder"] = facts.FolderName();
  j["status"] = facts.status;
  j["first_block"] = facts.firstBlock;
  j["blocks"] = facts.blocks;
  j["size"] = size;
  j["sha256"] = sha256 ? Json(DigestToHex(*sha256)) : Json(nullptr);
  j["index_id"] = facts.indexId ? Json(*facts.indexId) : Json(nullptr);
  Json flags = Json::array();
  for (size_t i = 0; i < kFlagCount; ++i) {
    if (facts.flags & (1u << i)) flags.push_back(kFlagNames[i]);
  }
  j["flags"] = flags;
  j["received"] = TimeOrNull(facts.received);
  j["sent"] = TimeOrNull(facts.sent);
  j["subject"] = facts.subject;
  j["from"] = facts.from;
  j["to"] = facts.to;
  j["message_id"] = facts.messageId;
  return j;
}

}  // namespace

std::string MessageLine(const MessageFacts& facts, uint64_t size,
                        const std::optional<Sha256Digest>& sha256) {
  return Dump(MessageJson(facts, size, sha256));
}

std::string FileLine(const MessageFacts& facts, const WrittenMessage& written) {
  Json j = MessageJson(facts, written.size, written.sha256);
  j["path"] = written.path;
  return Dump(j);
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

namespace {

// Reads the manifest at `path` line by line: `take(line, number, overlong)` for each line (an
// overlong one empty), numbered from 0. *exists says whether there is a manifest at all.
bool ForEachLine(OutputFs* fs, const std::string& path, bool* exists,
                 const std::function<void(const std::string&, uint64_t, bool)>& take,
                 std::string* error) {
  *exists = false;
  const size_t slash = path.rfind('/');
  std::vector<FolderEntry> entries;
  if (!fs->List(slash == std::string::npos ? "" : path.substr(0, slash), &entries, error)) {
    return false;
  }
  const std::string name(BaseName(path));
  for (const FolderEntry& e : entries) *exists = *exists || (e.name == name && !e.isFolder);
  if (!*exists) return true;

  std::string line;
  bool overlong = false;
  uint64_t number = 0;
  const auto end = [&] {
    take(line, number++, overlong);
    line.clear();
    overlong = false;
  };
  const bool read = fs->Read(
      path,
      [&](const uint8_t* p, size_t n) {
        const char* s = reinterpret_cast<const char*>(p);
        for (size_t i = 0; i < n;) {
          const void* nl = std::memchr(s + i, '\n', n - i);
          const size_t stop =
              nl == nullptr ? n : static_cast<size_t>(static_cast<const char*>(nl) - s);
          if (line.size() + (stop - i) > kMaxLine) {
            overlong = true;
            line.clear();
          } else if (!overlong) {
            line.append(s + i, stop - i);
          }
          if (nl == nullptr) break;
          end();
          i = stop + 1;
        }
        return true;
      },
      error);
  if (!read) return false;
  if (!line.empty() || overlong) end();
  return true;
}

}  // namespace

bool ReadManifest(OutputFs* fs, const std::string& path, ManifestContents* contents,
                  std::string* error, const ListedLineObserver& observe) {
  *contents = ManifestContents();
  bool exists = false;
  return ForEachLine(
      fs, path, &exists,
      [&](const std::string& line, uint64_t number, bool overlong) {
        if (line.empty() && !overlong) return;
        ListedFile file;
        if (!overlong && ParseFileLine(line, &file)) {
          file.line = number;
          if (observe) observe(file, line);
          contents->files.push_back(std::move(file));
        } else if (overlong || line.find("\"summary\"") == std::string::npos) {
          ++contents->ignoredLines;
        }
      },
      error);
}

bool ReadListedLines(OutputFs* fs, const std::string& path,
                     const std::vector<const ListedFile*>& files,
                     const std::function<void(const std::string& line)>& sink, std::string* error) {
  if (files.empty()) return true;
  size_t next = 0;
  bool exists = false;
  return ForEachLine(
      fs, path, &exists,
      [&](const std::string& line, uint64_t number, bool overlong) {
        while (next < files.size() && files[next]->line < number) ++next;
        if (next == files.size() || files[next]->line != number || overlong) return;
        const ListedFile& wanted = *files[next++];
        ListedFile now;
        if (ParseFileLine(line, &now) && now.path == wanted.path && now.size == wanted.size &&
            now.sha256 == wanted.sha256) {
          sink(line);
        }
      },
      error);
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

UpdatePlanner::UpdatePlanner(OutputFs* fs, Format format, ManifestContents listed, Looker look)
    : fs_(fs),
      format_(format),
      listed_(std::move(listed)),
      look_(std::move(look)),
      claimed_(listed_.files.size()) {
  for (size_t i = 0; i < listed_.files.size(); ++i) {
    byContent_.emplace(std::make_pair(FolderOf(listed_.files[i].path), listed_.files[i].sha256), i);
  }
}

std::string UpdatePlanner::FolderOf(const std::string& path) const {
  if (format_ == Format::kMaildir) return MailWriter::MaildirOf(path);
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string UpdatePlanner::FindNow(const ListedFile& listed) {
  if (format_ != Format::kMaildir) return listed.path;
  // A mail program renames a Maildir file when its flags change; its unique part stays.
  const std::string maildir = MailWriter::MaildirOf(listed.path);
  auto found = maildirFiles_.find(maildir);
  if (found == maildirFiles_.end()) {
    std::map<std::string, std::string>& files = maildirFiles_[maildir];
    for (const char* sub : {"new", "cur"}) {
      std::vector<FolderEntry> entries;
      std::string ignored;
      fs_->List(JoinPath(maildir, sub), &entries, &ignored);
      for (const FolderEntry& e : entries) {
        if (!e.isFolder) {
          files[e.name.substr(0, e.name.find_first_of(":;"))] =
              JoinPath(maildir, std::string(sub) + "/" + e.name);
        }
      }
    }
    found = maildirFiles_.find(maildir);
  }
  const std::string name(BaseName(listed.path));
  const auto file = found->second.find(name.substr(0, name.find_first_of(":;")));
  return file == found->second.end() ? listed.path : file->second;
}

FileOnDisk UpdatePlanner::Look(const std::string& path) {
  if (look_) return look_(path);
  return LookAt(fs_, path);
}

FileOnDisk LookAt(OutputFs* fs, const std::string& path) {
  FileOnDisk disk;
  Sha256 hash;
  std::string error;
  disk.present = fs->Read(
      path,
      [&](const uint8_t* p, size_t n) {
        disk.size += n;
        hash.Update(p, n);
        return true;
      },
      &error);
  if (disk.present) disk.sha256 = hash.Finish();
  return disk;
}

UpdatePlanner::Decision UpdatePlanner::Decide(const std::string& folder,
                                              const Sha256Digest& sha256) {
  Decision decision;
  const auto [first, last] = byContent_.equal_range(std::make_pair(folder, sha256));
  for (auto it = first; it != last; ++it) {
    if (claimed_[it->second]) continue;
    claimed_[it->second] = true;
    decision.listed = &listed_.files[it->second];
    break;
  }
  if (decision.listed == nullptr) return decision;
  decision.path = FindNow(*decision.listed);
  decision.action = DecideUpdate(decision.listed, Look(decision.path));
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

std::vector<const ListedFile*> UpdatePlanner::Unclaimed() const {
  std::vector<const ListedFile*> out;
  for (size_t i = 0; i < listed_.files.size(); ++i) {
    if (!claimed_[i]) out.push_back(&listed_.files[i]);
  }
  return out;
}

}  // namespace quillon::output
