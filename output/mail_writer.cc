#include "output/mail_writer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "output/mail_time.h"

namespace quillon::output {
namespace {

// Enough for any Date: header an eml or Maildir file's time needs.
constexpr size_t kFileHeaderCap = 64 * 1024;
// An mbox message's header block is held until its end, where Status: goes; a longer one is
// written as it comes, without Status:/X-Status: (docs/output.md).
constexpr size_t kMboxHeaderCap = 256 * 1024;
// Chunks of a message this large are written without being copied into the mbox's buffer.
constexpr size_t kMboxLendMin = 32 * 1024;

// The head of a message as its bytes pass: up to the empty line that ends its header block, or
// up to a cap.
class HeaderCapture {
 public:
  explicit HeaderCapture(size_t cap) : cap_(cap) {}

  // Keeps bytes of `n` until the header block has ended or the cap is reached; returns how many
  // it kept. Taken a step at a time: a short message comes in one chunk, and what follows its
  // header block goes on from where it lies rather than being copied here first.
  size_t Take(const uint8_t* p, size_t n) {
    constexpr size_t kStep = 1024;
    size_t took = 0;
    while (took < n && !done()) {
      const size_t step = std::min({n - took, cap_ - bytes_.size(), kStep});
      const size_t from = bytes_.size() < 2 ? 0 : bytes_.size() - 2;
      bytes_.append(reinterpret_cast<const char*>(p + took), step);
      took += step;
      FindEnd(from);
    }
    return took;
  }
  bool found() const { return end_ != std::string::npos; }
  bool full() const { return bytes_.size() == cap_; }
  bool done() const { return found() || full(); }
  // The header block, without the empty line.
  std::string_view block() const {
    return std::string_view(bytes_).substr(0, found() ? end_ : bytes_.size());
  }
  const std::string& bytes() const { return bytes_; }
  size_t end() const { return end_; }

  // "\r\n" when the message's lines end so, else "\n".
  const char* LineEnd() const {
    const size_t nl = bytes_.find('\n');
    if (nl == std::string::npos) return bytes_.find('\r') == std::string::npos ? "\n" : "\r\n";
    return nl > 0 && bytes_[nl - 1] == '\r' ? "\r\n" : "\n";
  }

 private:
  void FindEnd(size_t from) {
    if (found()) return;
    const std::string& b = bytes_;
    if ((!b.empty() && b[0] == '\n') || (b.size() >= 2 && b[0] == '\r' && b[1] == '\n')) {
      end_ = 0;
      return;
    }
    for (size_t i = b.find('\n', from); i != std::string::npos; i = b.find('\n', i + 1)) {
      if ((i + 1 < b.size() && b[i + 1] == '\n') ||
          (i + 2 < b.size() && b[i + 1] == '\r' && b[i + 2] == '\n')) {
        end_ = i + 1;
        return;
      }
    }
  }

  size_t cap_;
  std::string bytes_;
  size_t end_ = std::string::npos;
};

// An address the From line can carry: one word of printable ASCII. Readers take the From line
// for ASCII (Python's mailbox decodes it so and fails on anything else), so an address with an
// 8-bit byte or a control character is not used.
bool UsableAddress(const std::string& address) {
  if (address.empty() || address.size() > 512) return false;
  for (char c : address) {
    const auto b = static_cast<unsigned char>(c);
    if (b <= 0x20 || b >= 0x7F) return false;
  }
  return true;
}

// The address of a From: header's value: inside <...> when there is one, else its first word
// that holds an '@', else the value when it is one word.
std::string AddressOf(std::string_view value) {
  const size_t open = value.find('<');
  if (open != std::string_view::npos) {
    const size_t close = value.find('>', open);
    if (close != std::string_view::npos)
      return std::string(value.substr(open + 1, close - open - 1));
  }
  std::vector<std::string_view> words;
  size_t pos = 0;
  while (pos < value.size()) {
    while (pos < value.size() && (value[pos] == ' ' || value[pos] == '\t')) ++pos;
    const size_t start = pos;
    while (pos < value.size() && value[pos] != ' ' && value[pos] != '\t') ++pos;
    if (pos > start) words.push_back(value.substr(start, pos - start));
  }
  for (std::string_view word : words) {
    if (word.find('@') != std::string_view::npos) return std::string(word);
  }
  return words.size() == 1 ? std::string(words[0]) : std::string();
}

std::string SenderOf(const MessageFacts& facts, std::string_view header) {
  if (UsableAddress(facts.senderAddress)) return facts.senderAddress;
  if (const std::optional<std::string> from = FindHeader(header, "From")) {
    const std::string address = AddressOf(*from);
    if (UsableAddress(address)) return address;
  }
  return "MAILER-DAEMON";
}

// Status: RO read; an unread message gets none, since Thunderbird reads "O" alone as read.
// X-Status: A answered, F flagged, T draft. Dovecot, mutt and Python's mailbox read X-Status "D"
// as deleted, so a draft is "T", as Dovecot writes.
std::string StatusLines(uint32_t flags, const char* eol) {
  std::string lines = flags & kFlagRead ? std::string("Status: RO") + eol : std::string();
  std::string x;
  if (flags & kFlagAnswered) x += 'A';
  if (flags & kFlagFlagged) x += 'F';
  if (flags & kFlagDraft) x += 'T';
  if (!x.empty()) lines += "X-Status: " + x + eol;
  return lines;
}

// The Maildir info's flags, in the convention's (ASCII) order.
std::string MaildirFlags(uint32_t flags) {
  std::string s;
  if (flags & kFlagDraft) s += 'D';
  if (flags & kFlagFlagged) s += 'F';
  if (flags & kFlagForwarded) s += 'P';
  if (flags & kFlagAnswered) s += 'R';
  if (flags & kFlagRead) s += 'S';
  return s;
}

// The convention escapes '/' and ':' in the host name as octal; so are the other characters
// that would break the name or its info part.
std::string MaildirHost(const std::string& host, char infoSeparator) {
  std::string out;
  for (char c : host) {
    const auto b = static_cast<unsigned char>(c);
    if (c == '/' || c == ':' || c == '\\' || c == infoSeparator || b < 0x20 || b == 0x7F) {
      char octal[8];
      std::snprintf(octal, sizeof octal, "\\%03o", b);
      out += octal;
    } else {
      out += c;
    }
  }
  return out.empty() ? "localhost" : out;
}

std::string DirName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

}  // namespace

std::unique_ptr<MailWriter> MailWriter::Create(OutputFs* fs, WriterOptions options,
                                               std::string* error) {
  NameTemplate nameTemplate;
  if (options.format == Format::kEml &&
      !NameTemplate::Parse(options.nameTemplate, &nameTemplate, error)) {
    return nullptr;
  }
  if (!options.clockMicroseconds) {
    options.clockMicroseconds = [] {
      return std::chrono::duration_cast<std::chrono::microseconds>(
                 std::chrono::system_clock::now().time_since_epoch())
          .count();
    };
  }
  if (!options.processId) options.processId = PlatformProcessId();
  if (!options.maildirInfoSeparator) options.maildirInfoSeparator = PlatformMaildirInfoSeparator();
  options.hostName = MaildirHost(options.hostName ? *options.hostName : PlatformHostName(),
                                 *options.maildirInfoSeparator);
  return std::unique_ptr<MailWriter>(new MailWriter(fs, std::move(options), nameTemplate));
}

MailWriter::MailWriter(OutputFs* fs, WriterOptions options, NameTemplate nameTemplate)
    : fs_(fs),
      options_(std::move(options)),
      template_(std::move(nameTemplate)),
      tree_(options_.format) {
  for (const std::string& name : options_.reservedNames) tree_.NamesIn("").Take(name);
}

MailWriter::~MailWriter() = default;

std::string MailWriter::MaildirOf(const std::string& path) { return DirName(DirName(path)); }

NameSet::Offer MailWriter::UnlistedName(const std::string& dir, NameSet& names,
                                        const std::string& stem) {
  NameSet::Offer offer = names.Propose(stem, ".eml");
  while (options_.listed && options_.listed(JoinPath(dir, offer.name))) {
    names.Accept(offer, stem);
    offer = names.Propose(stem, ".eml");
  }
  return offer;
}

NameSet& MailWriter::Names(const std::string& dir) {
  NameSet& names = tree_.NamesIn(dir);
  if (options_.keepExisting && listed_.insert(dir).second) {
    std::vector<FolderEntry> entries;
    std::string ignored;  // a folder that cannot be listed fails when it is written to
    fs_->List(dir, &entries, &ignored);
    for (const FolderEntry& e : entries) names.Take(e.name);
  }
  return names;
}

bool MailWriter::MakeFolder(const std::string& folder, std::string* error) {
  if (made_.count(folder) != 0) return true;
  if (!fs_->MakeFolders(folder, error)) return false;
  made_.insert(folder);
  return true;
}

bool MailWriter::MakeMaildir(const std::string& maildir, std::string* error) {
  if (made_.count(maildir + "/") != 0) return true;
  if (!CreateMaildir(maildir, error)) return false;
  made_.insert(maildir + "/");
  return true;
}

bool MailWriter::CreateMaildir(const std::string& maildir, std::string* error) {
  if (!maildir.empty() && !MakePlace(0, error)) return false;
  for (const char* sub : {"cur", "new", "tmp"}) {
    if (!fs_->MakeFolders(JoinPath(maildir, sub), error)) return false;
  }
  if (!maildir.empty()) {
    // Maildir++ marks a folder's Maildir so.
    std::unique_ptr<AppendFile> mark =
        fs_->OpenForAppend(JoinPath(maildir, "maildirfolder"), error);
    if (!mark || !mark->Close(error)) return false;
  }
  return true;
}

uint8_t& MailWriter::StateOf(size_t node) {
  if (node >= nodeState_.size()) nodeState_.resize(node + 1, 0);
  return nodeState_[node];
}

bool MailWriter::MakePlace(size_t node, std::string* error) {
  uint8_t& state = StateOf(node);
  if (state & kMade) return true;
  const std::string path = tree_.PathOf(node);
  if (options_.format == Format::kMaildir ? !CreateMaildir(path, error)
                                          : !fs_->MakeFolders(path, error)) {
    return false;
  }
  StateOf(node) |= kMade;  // `state` may have moved: making the root grew the table
  return true;
}

std::string MailWriter::TemporaryName() {
  return ".quillon-" + std::to_string(*options_.processId) + "-" + std::to_string(++sequence_) +
         ".tmp";
}

std::string MailWriter::UniqueMaildirName() {
  const int64_t now = options_.clockMicroseconds();
  return std::to_string(now / 1000000) + ".M" + std::to_string(now % 1000000) + "P" +
         std::to_string(*options_.processId) + "Q" + std::to_string(++sequence_) + "." +
         *options_.hostName;
}

bool MailWriter::TouchMbox(size_t node, std::string* error) {
  if (StateOf(node) & kTouched) return true;
  const std::string path = tree_.PathOf(node);
  if (!MakeFolder(DirName(path), error)) return false;
  // An empty mbox, replacing what an earlier run left there.
  std::unique_ptr<NewFile> file =
      fs_->CreateTemporary(JoinPath(DirName(path), TemporaryName()), error);
  if (!file || !file->Commit(path, std::nullopt, error)) return false;
  StateOf(node) |= kTouched;
  return true;
}

bool MailWriter::AddFolder(const std::vector<std::string>& folder, std::string* error) {
  const FolderTree::Place place = tree_.Locate(folder);
  switch (options_.format) {
    case Format::kEml:
      return MakePlace(place.node, error);
    case Format::kMaildir:
      for (const size_t above : tree_.Ancestors(place.node)) {
        if (!MakePlace(above, error)) return false;
      }
      return MakePlace(place.node, error);
    case Format::kMbox:
      for (const size_t above : tree_.Ancestors(place.node)) {
        if (!TouchMbox(above, error)) return false;
      }
      return place.path == mboxPath_ || TouchMbox(place.node, error);
  }
  return false;
}

bool MailWriter::OpenMbox(const FolderTree::Place& place, std::string* error) {
  const std::string& path = place.path;
  if (path == mboxPath_) return true;
  if (!CloseMbox(error)) return false;
  const std::string dir = DirName(path);
  if (!MakeFolder(dir, error)) return false;
  uint8_t& state = StateOf(place.node);
  const bool begun = (state & kTouched) != 0;
  state |= kTouched;
  if (!begun) {
    mboxNew_ = fs_->CreateTemporary(JoinPath(dir, TemporaryName()), error);
    if (!mboxNew_) return false;
    buffer_.Reset(mboxNew_.get());
  } else {
    mboxAppend_ = fs_->OpenForAppend(path, error);
    if (!mboxAppend_) return false;
    buffer_.Reset(mboxAppend_.get());
  }
  mboxPath_ = path;
  return true;
}

bool MailWriter::CloseMbox(std::string* error) {
  if (mboxPath_.empty()) return true;
  bool ok = buffer_.Flush();
  if (!ok) *error = buffer_.error();
  if (mboxNew_) {
    ok = ok && mboxNew_->Commit(mboxPath_, std::nullopt, error);
  } else if (mboxAppend_) {
    std::string closeError;
    if (!mboxAppend_->Close(&closeError) && ok) {
      *error = closeError;
      ok = false;
    }
  }
  mboxNew_.reset();
  mboxAppend_.reset();
  mboxPath_.clear();
  return ok;
}

bool MailWriter::Finish(std::string* error) { return CloseMbox(error); }

bool MailWriter::CutMbox(uint64_t size) {
  // What is held goes out first (a failed write drops it), so the cut is the file's last change.
  buffer_.Flush();
  std::string ignored;
  if (mboxNew_ && mboxNew_->CutBack(size, &ignored)) {
    buffer_.Reset(mboxNew_.get(), size);
  } else if (mboxAppend_ && mboxAppend_->CutBack(size, &ignored)) {
    buffer_.Reset(mboxAppend_.get(), size);
  } else {
    return false;
  }
  return true;
}

bool MailWriter::Write(const MessageFacts& facts, const MessageSource& source,
                       WrittenMessage* written, std::string* error) {
  if (options_.format == Format::kMbox) return WriteMbox(facts, source, written, error);
  return WriteFile(nullptr, facts, source, written, error);
}

bool MailWriter::Rewrite(const std::string& path, const MessageFacts& facts,
                         const MessageSource& source, WrittenMessage* written, std::string* error) {
  if (options_.format == Format::kMbox) {
    *error = "an mbox cannot be rewritten in part";
    return false;
  }
  return WriteFile(&path, facts, source, written, error);
}

bool MailWriter::WriteFile(const std::string* rewritePath, const MessageFacts& facts,
                           const MessageSource& source, WrittenMessage* written,
                           std::string* error) {
  const bool maildir = options_.format == Format::kMaildir;
  std::string dir;  // eml: the file's folder; maildir: the Maildir
  if (rewritePath != nullptr) {
    dir = maildir ? MaildirOf(*rewritePath) : DirName(*rewritePath);
    if (!(maildir ? MakeMaildir(dir, error) : MakeFolder(dir, error))) return false;
  } else {
    const FolderTree::Place place = tree_.Locate(facts.folder);
    dir = place.path;
    // Maildir++ folders above this one are Maildirs of their own (empty, but selectable), made
    // with its own the first time.
    if (maildir && (StateOf(place.node) & kMade) == 0) {
      for (const size_t above : tree_.Ancestors(place.node)) {
        if (!MakePlace(above, error)) return false;
      }
    }
    if (!MakePlace(place.node, error)) return false;
  }
  std::string unique;
  std::string temporary;
  if (maildir) {
    unique = UniqueMaildirName();
    temporary = JoinPath(dir, "tmp/" + unique);
  } else {
    temporary = JoinPath(dir, TemporaryName());
  }
  // An eml name known before the bytes (the index gives the time, or the name needs none) is
  // made at once, with no temporary file to rename; it is taken once the file is whole, so a
  // message that fails leaves the numbering as if it had never come.
  const bool timeKnown = facts.received && ShowableTime(*facts.received);
  NameSet* names = nullptr;
  NameSet::Offer offer;
  std::string stem;
  std::unique_ptr<NewFile> file;
  if (rewritePath == nullptr && !maildir && (timeKnown || !template_.UsesTime())) {
    stem = template_.Expand(facts, timeKnown ? *facts.received : options_.exportTime, 4);
    names = &Names(dir);
    offer = UnlistedName(dir, *names, stem);
    file = fs_->CreateFinal(JoinPath(dir, offer.name), temporary, error);
  } else {
    file = fs_->CreateTemporary(temporary, error);
  }
  if (!file) return false;
  buffer_.Reset(file.get());

  std::optional<Sha256> hash;
  if (!facts.sha256 && options_.hashMessages) hash.emplace();
  // The Date: header is read only when the index gives no time that can be used.
  HeaderCapture header(facts.received && ShowableTime(*facts.received) ? 0 : kFileHeaderCap);
  uint64_t size = 0;
  std::string sourceError;
  const bool complete = source(
      [&](const uint8_t* p, size_t n) {
        size += n;
        if (hash) hash->Update(p, n);
        if (!header.done()) header.Take(p, n);
        // A large chunk is written from where it lies, at once (the bytes are the source's only
        // until the call returns); a small one is gathered with the next.
        if (n >= WriteBuffer::kLendMin) {
          buffer_.Lend(p, n);
          buffer_.Flush();
        } else {
          buffer_.Write(p, n);
        }
        return !buffer_.failed();
      },
      &sourceError);
  if (!buffer_.Flush()) {
    *error = buffer_.error();
    return false;
  }
  if (!complete) {
    *error = sourceError.empty() ? "the message could not be read" : sourceError;
    return false;
  }
  const int64_t time = MessageTime(facts.received, header.block(), options_.exportTime);
  std::string path;
  if (rewritePath != nullptr) {
    path = *rewritePath;
  } else if (names != nullptr) {
    path = JoinPath(dir, offer.name);
  } else if (maildir) {
    path = JoinPath(
        dir, "cur/" + unique + *options_.maildirInfoSeparator + "2," + MaildirFlags(facts.flags));
  } else {
    // Its name needs the time its header gave.
    const std::string timedStem = template_.Expand(facts, time, 4);
    NameSet& taken = Names(dir);
    const NameSet::Offer timed = UnlistedName(dir, taken, timedStem);
    taken.Accept(timed, timedStem);
    path = JoinPath(dir, timed.name);
  }
  if (!file->Commit(path, time, error)) return false;
  if (names != nullptr) names->Accept(offer, stem);
  written->path = path;
  written->size = size;
  written->sha256 = hash ? std::optional<Sha256Digest>(hash->Finish()) : facts.sha256;
  written->time = time;
  return true;
}

bool MailWriter::WriteMbox(const MessageFacts& facts, const MessageSource& source,
                           WrittenMessage* written, std::string* error) {
  const FolderTree::Place place = tree_.Locate(facts.folder);
  // The mbox files above it, made when it is first opened.
  if (place.path != mboxPath_ && (StateOf(place.node) & kTouched) == 0) {
    for (const size_t above : tree_.Ancestors(place.node)) {
      if (tree_.PathOf(above) != mboxPath_ && !TouchMbox(above, error)) return false;
    }
  }
  if (!OpenMbox(place, error)) return false;
  // Where the message begins in the mbox, should it have to be cut away.
  const uint64_t begun = buffer_.total();
  quoter_.Reset();
  std::optional<Sha256> hash;
  if (!facts.sha256 && options_.hashMessages) hash.emplace();
  HeaderCapture header(kMboxHeaderCap);
  uint64_t size = 0;
  int64_t time = 0;
  bool started = false;
  // The From line, the header block with Status: and X-Status: at its end (when it ended
  // within the cap), and the rest of what was held.
  const auto start = [&] {
    time = MessageTime(facts.received, header.block(), options_.exportTime);
    buffer_.Write("From " + SenderOf(facts, header.block()) + " " + AsctimeUtc(time) + "\n");
    const auto* held = reinterpret_cast<const uint8_t*>(header.bytes().data());
    if (header.found()) {
      quoter_.Feed(held, header.end(), &buffer_);
      buffer_.Write(StatusLines(facts.flags, header.LineEnd()));
      quoter_.Feed(held + header.end(), header.bytes().size() - header.end(), &buffer_);
    } else {
      quoter_.Feed(held, header.bytes().size(), &buffer_);
    }
    started = true;
  };
  // A message must end its last line for the next From line to begin one. A last line that
  // ends in a lone CR gets only the LF that makes CR LF of it: another CR LF would leave a CR
  // alone on a line of its own.
  const auto endLastLine = [&] {
    if (!quoter_.AtLineStart()) buffer_.Write(quoter_.EndsInCr() ? "\n" : header.LineEnd());
  };
  std::string sourceError;
  const bool complete = source(
      [&](const uint8_t* p, size_t n) {
        size += n;
        if (hash) hash->Update(p, n);
        while (!started && n > 0) {
          const size_t took = header.Take(p, n);
          p += took;
          n -= took;
          if (header.done()) start();
        }
        if (n > 0) {
          // A large chunk goes out from where it lies, in the write that follows at once (its
          // bytes are the source's only until this call returns); a small one is copied.
          quoter_.Feed(p, n, &buffer_, n >= kMboxLendMin);
          if (buffer_.holdsLent()) buffer_.Flush();
        }
        return !buffer_.failed();
      },
      &sourceError);
  if (!started) {
    // The message ended inside its header block: the flags go after its last line.
    time = MessageTime(facts.received, header.block(), options_.exportTime);
    buffer_.Write("From " + SenderOf(facts, header.block()) + " " + AsctimeUtc(time) + "\n");
    quoter_.Feed(reinterpret_cast<const uint8_t*>(header.bytes().data()), header.bytes().size(),
                 &buffer_);
    quoter_.Finish(&buffer_);
    endLastLine();
    buffer_.Write(StatusLines(facts.flags, header.LineEnd()));
  } else {
    quoter_.Finish(&buffer_);
    endLastLine();
  }
  buffer_.Put('\n');
  const bool stopped = !complete && options_.abort != nullptr && options_.abort->load();
  if (buffer_.failed() || stopped) {
    // The manifest lists whole messages only: a message cut by a full disk or a stop goes, and
    // the messages before it stay with the mbox.
    *error = buffer_.failed() ? buffer_.error() : sourceError.empty() ? "stopped" : sourceError;
    if (!CutMbox(begun)) {
      std::string ignored;
      CloseMbox(&ignored);
    }
    return false;
  }
  written->path = place.path;
  written->size = size;
  written->sha256 = hash ? std::optional<Sha256Digest>(hash->Finish()) : facts.sha256;
  written->time = time;
  if (!complete) {
    *error = sourceError.empty() ? "the message could not be read" : sourceError;
    return false;
  }
  return true;
}

}  // namespace quillon::output
