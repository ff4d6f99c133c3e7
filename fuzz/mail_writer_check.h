// The checks of MailWriter writing messages into the in-memory output folder, shared by its
// fuzzer and by the unit test that replays the fuzzer's findings. Whatever the messages, their
// facts and folder names, and however their bytes arrive: every message comes back byte for byte
// (an eml or Maildir file each; an mbox read back as mboxrd readers read it: split at its From
// lines, one '>' taken from each quoted line); the From line is printable ASCII and carries the
// message's time; every name is one that Linux, macOS and Windows take, with room beside an mbox
// for what mail programs add; two folders never share a place; no temporary file stays; and no
// byte lent to the writer is read after the chunk's call has returned.
#ifndef QUILLON_FUZZ_MAIL_WRITER_CHECK_H_
#define QUILLON_FUZZ_MAIL_WRITER_CHECK_H_

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fs/testing/mem_file_system.h"
#include "fuzz/fuzz_input.h"
#include "output/mail_time.h"
#include "output/mail_writer.h"
#include "output/names.h"
#include "text/file_names.h"

namespace quillon::fuzzing {

namespace writer_check {

using namespace quillon::output;

constexpr size_t kMboxHeaderCap = 256 * 1024;  // docs/output.md: Status: goes within it

struct Message {
  MessageFacts facts;
  std::string bytes;
  uint32_t chunking = 0;    // the seed of the chunk sizes the source gives
  bool fails = false;       // the source fails after half the bytes
  bool folderOnly = false;  // AddFolder, no message
};

// What an mbox holds of a message that was given `bytes`: the header block, Status: and
// X-Status: at its end (or after the last line of a message that ends inside it; none when it
// does not end within the cap), and a line end after a last line that lacks one.
inline std::string MboxForm(const std::string& bytes, uint32_t flags) {
  // The message's line end: its first line's, within the first bytes the writer holds.
  const std::string_view head = std::string_view(bytes).substr(0, kMboxHeaderCap);
  const size_t firstLf = head.find('\n');
  const bool crlf = firstLf == std::string::npos ? head.find('\r') != std::string::npos
                                                 : firstLf > 0 && head[firstLf - 1] == '\r';
  const std::string eol = crlf ? "\r\n" : "\n";
  std::string status = flags & kFlagRead ? "Status: RO" + eol : "";
  std::string x;
  if (flags & kFlagAnswered) x += 'A';
  if (flags & kFlagFlagged) x += 'F';
  if (flags & kFlagDraft) x += 'T';
  if (!x.empty()) status += "X-Status: " + x + eol;
  // The empty line that ends the header block, when it lies within the cap.
  size_t end = std::string::npos;
  if (head.rfind("\n", 0) == 0 || head.rfind("\r\n", 0) == 0) {
    end = 0;
  } else {
    const size_t lf = head.find("\n\n"), crlfEnd = head.find("\n\r\n");
    end = std::min(lf, crlfEnd);
    if (end != std::string::npos) ++end;
  }
  std::string lastLineEnd;
  if (!bytes.empty() && bytes.back() != '\n') lastLineEnd = bytes.back() == '\r' ? "\n" : eol;
  if (end != std::string::npos)
    return bytes.substr(0, end) + status + bytes.substr(end) + lastLineEnd;
  if (bytes.size() < kMboxHeaderCap) return bytes + lastLineEnd + status;
  return bytes + lastLineEnd;
}

// The messages of an mbox as an mboxrd reader takes them: each begins at a line "From ...", its
// last line, the empty one before the next From line, is not its own, and ">From" lines lose one
// '>'. False when the file does not begin with a From line or a message lacks its empty line.
inline bool ReadMbox(const std::string& mbox, std::vector<std::string>* fromLines,
                     std::vector<std::string>* messages) {
  if (mbox.empty()) return true;
  if (mbox.rfind("From ", 0) != 0) return false;
  std::vector<size_t> starts = {0};
  for (size_t at = mbox.find("\nFrom "); at != std::string::npos;
       at = mbox.find("\nFrom ", at + 1)) {
    starts.push_back(at + 1);
  }
  starts.push_back(mbox.size());
  for (size_t i = 0; i + 1 < starts.size(); ++i) {
    const size_t lf = mbox.find('\n', starts[i]);
    fromLines->push_back(mbox.substr(starts[i], lf - starts[i]));
    std::string text = mbox.substr(lf + 1, starts[i + 1] - lf - 1);
    if (text.empty() || text.back() != '\n') return false;
    text.pop_back();
    std::string plain;
    for (size_t at = 0; at < text.size();) {
      size_t next = text.find('\n', at);
      next = next == std::string::npos ? text.size() : next + 1;
      const size_t quotes = text.find_first_not_of('>', at);
      const bool quoted = quotes != at && quotes != std::string::npos &&
                          text.compare(quotes, 5, "From ") == 0 && quotes < next;
      plain.append(text, at + (quoted ? 1 : 0), next - at - (quoted ? 1 : 0));
      at = next;
    }
    messages->push_back(std::move(plain));
  }
  return true;
}

// Why `name`, one part of a path in the output, would not do on some system; empty when it does.
inline std::string NameProblem(const std::string& name, bool checkLength, bool maildirInfo) {
  if (name.empty() || name == "." || name == "..") return "the name '" + name + "'";
  if (checkLength && name.size() > kMaxNameBytes) return "a name over 255 bytes";
  if (!IsUtf8(name)) return "a name that is not UTF-8";
  for (const char c : name) {
    const auto b = static_cast<uint8_t>(c);
    if (b < 0x20 || b == 0x7F) return "a control character in a name";
    if (std::string_view("\\/*?\"<>|").find(c) != std::string_view::npos) {
      return "a character Windows refuses in a name";
    }
    if (c == ':' && !maildirInfo) return "a ':' in a name";
  }
  if (name.back() == '.' || name.back() == ' ') return "a name that Windows cuts: '" + name + "'";
  std::string base = name.substr(0, name.find('.'));
  for (char& c : base) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  static const std::set<std::string> kDevices = {"CON", "PRN", "AUX", "NUL"};
  const bool numbered = base.size() == 4 &&
                        (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
                        base[3] >= '1' && base[3] <= '9';
  if (kDevices.count(base) != 0 || numbered) return "a Windows device name: " + name;
  return {};
}

// The message's bytes in chunks whose sizes follow from `seed`: single bytes, short runs, and
// chunks large enough to be lent to the output rather than copied. Each chunk lies in a buffer
// that is scribbled over once the sink has returned, as a reader's window is reused.
inline MessageSource SourceOf(const Message& m) {
  return [&m](const ChunkSink& sink, std::string* error) {
    uint32_t state = m.chunking | 1;
    const size_t end = m.fails ? m.bytes.size() / 2 : m.bytes.size();
    std::vector<uint8_t> window;
    for (size_t at = 0; at < end;) {
      state = state * 1103515245u + 12345u;
      const uint32_t r = state >> 8;
      static const size_t kSizes[] = {1, 7, 300, 4096, 40000, 70000};
      size_t n = 1 + r % kSizes[(r >> 16) % 6];
      n = std::min(n, end - at);
      window.assign(m.bytes.begin() + at, m.bytes.begin() + at + n);
      if (!sink(window.data(), n)) return false;
      std::fill(window.begin(), window.end(), 0xA5);
      at += n;
    }
    if (m.fails) {
      *error = "Input/output error";
      return false;
    }
    return true;
  };
}

}  // namespace writer_check

// The input: a byte of choices (format, a file system that ignores case, a message whose read
// fails, a stop in progress, the Maildir info separator), the eml name template (ended by a
// NUL), then messages: the depth and names of its folder, its subject,
// sender, sender's address and name, receiver and mailbox (NUL-ended), flags, an optional
// received time (any 64 bits), the seed of its chunks, a repeat count and length, and its bytes
// (repeated, so that a short input makes a long message).
inline std::string CheckMailWriter(std::string_view bytes) {
  using namespace writer_check;
  FuzzInput in(bytes);
  const uint8_t choice = in.Byte();
  const Format format = choice % 3 == 0   ? Format::kEml
                        : choice % 3 == 1 ? Format::kMbox
                                          : Format::kMaildir;
  const bool ignoreCase = (choice & 0x04) != 0;
  const bool stopping = (choice & 0x08) != 0;
  const char infoSeparator = choice & 0x10 ? ';' : ':';
  WriterOptions options;
  options.format = format;
  options.nameTemplate = std::string(in.Until('\0'));
  options.hostName = "fuzz.example";
  options.exportTime = 1200000000;
  options.hashMessages = false;  // not what is checked, and half the time of a run
  options.reservedNames = {"quillon-manifest.jsonl"};
  int64_t clock = 1104746400000000;
  options.clockMicroseconds = [&clock] { return clock += 1013; };
  options.processId = 4242;
  options.maildirInfoSeparator = infoSeparator;
  std::atomic<bool> abort{stopping};
  options.abort = &abort;

  std::vector<Message> messages;
  size_t total = 0;
  while (!in.empty() && messages.size() < 6) {
    Message m;
    const uint8_t shape = in.Byte();
    // mbox puts a message without a folder into the file Inbox: give each one a folder there.
    const size_t depth = shape % 4 + (format == Format::kMbox && shape % 4 == 0);
    for (size_t i = 0; i < depth; ++i) m.facts.folder.emplace_back(in.Until('\0'));
    for (std::string* s : {&m.facts.subject, &m.facts.from, &m.facts.senderAddress,
                           &m.facts.senderName, &m.facts.to, &m.facts.mailbox}) {
      *s = in.Until('\0');
    }
    m.facts.number = static_cast<uint32_t>(messages.size() + 1);
    m.facts.flags = in.Byte() & 0x7F;
    if (shape & 0x10) m.facts.received = static_cast<int64_t>(in.Number(8));
    m.chunking = static_cast<uint32_t>(in.Number(2));
    const size_t repeat = 1 + in.Byte() % 16 * (shape & 0x20 ? 64 : 1);
    const std::string_view text = in.Take(in.Number(2));
    for (size_t i = 0; i < repeat && total + text.size() <= 40 * 1024; ++i) {
      m.bytes += text;
      total += text.size();
    }
    m.folderOnly = (shape & 0xC0) == 0xC0;
    messages.push_back(std::move(m));
  }
  // One message (the input's last byte says which) whose source fails halfway.
  if ((choice & 0x20) && !messages.empty()) {
    messages[static_cast<uint8_t>(bytes.back()) % messages.size()].fails = true;
  }

  MemFileSystem fs(ignoreCase);
  std::string error;
  std::unique_ptr<MailWriter> writer = MailWriter::Create(&fs, options, &error);
  if (!writer) {
    // A template the command refuses: the default one then.
    options.nameTemplate = "{mailbox}-{n}";
    writer = MailWriter::Create(&fs, options, &error);
    if (!writer) return "the default template refused: " + error;
  }

  // What each place (a folder, an mbox, a Maildir) should hold, and which folder it is.
  std::map<std::string, std::vector<std::pair<const Message*, WrittenMessage>>> byPlace;
  std::map<std::string, std::vector<std::string>> folderOf;  // by the place, its case folded
  std::set<std::string> messageFiles;
  for (const Message& m : messages) {
    if (m.folderOnly) {
      if (!writer->AddFolder(m.facts.folder, &error)) return "AddFolder failed: " + error;
      continue;
    }
    WrittenMessage written;
    error.clear();
    const bool ok = writer->Write(m.facts, SourceOf(m), &written, &error);
    if (ok == m.fails) {
      return ok ? "a message whose read failed was written as whole"
                : "a message could not be written: " + error;
    }
    // A failed read leaves nothing of an eml or Maildir message; an mbox keeps what was read,
    // unless the run is being stopped.
    const bool kept = ok || (format == Format::kMbox && !stopping);
    if (!kept) continue;
    if (written.path.empty()) return "a message kept without a path";
    if (!ShowableTime(written.time)) return "a message time no format can show";
    std::string place = format == Format::kEml ? written.path.substr(0, written.path.rfind('/') + 1)
                        : format == Format::kMaildir ? MailWriter::MaildirOf(written.path)
                                                     : written.path;
    // Dovecot takes a Maildir++ folder "Inbox" at the top for INBOX, the output folder itself.
    std::vector<std::string> folder = m.facts.folder;
    if (format == Format::kMaildir && place.empty() && folder.size() == 1 &&
        FoldCase(folder[0]) == "inbox") {
      folder.clear();
    }
    const auto at = folderOf.emplace(FoldCase(place), folder).first;
    if (at->second != folder) {
      const auto show = [](const std::vector<std::string>& names) {
        std::string shown = "[";
        for (const std::string& name : names) shown += "'" + name + "'";
        return shown + "]";
      };
      return "the folders " + show(at->second) + " and " + show(folder) + " share the place '" +
             place + "'";
    }
    if (format != Format::kMbox && !messageFiles.insert(FoldCase(written.path)).second) {
      return "two messages share the file " + written.path;
    }
    byPlace[format == Format::kMbox ? written.path : place].push_back({&m, written});
  }
  if (!writer->Finish(&error)) return "Finish failed: " + error;
  writer.reset();
  if (fs.temporaryCount() != 0) return "a temporary file stayed";

  // Every name in the output, and what each file holds.
  std::vector<std::string> folders = {""};
  for (size_t i = 0; i < folders.size(); ++i) {
    std::vector<FolderEntry> entries;
    fs.List(folders[i], &entries, &error);
    for (const FolderEntry& e : entries) {
      const std::string path = folders[i].empty() ? e.name : folders[i] + "/" + e.name;
      const bool info =
          format == Format::kMaildir && infoSeparator == ':' && e.kind != EntryKind::kFolder;
      const std::string problem = NameProblem(e.name, !ignoreCase, info);
      if (!problem.empty()) return problem + " (" + path + ")";
      if (format == Format::kMbox && e.kind != EntryKind::kFolder &&
          e.name.size() + 5 > kMaxNameBytes) {
        return "no room for \".lock\" beside the mbox " + path;
      }
      if (e.kind == EntryKind::kFolder) folders.push_back(path);
    }
  }
  const std::map<std::string, std::string> files = fs.Files();
  if (format != Format::kMbox) {
    for (const auto& [path, held] : files) {
      if (messageFiles.count(FoldCase(path)) == 0 &&
          !(format == Format::kMaildir && BaseName(path) == "maildirfolder" && held.empty())) {
        return "a file no message was written to: " + path;
      }
    }
    for (const auto& [place, written] : byPlace) {
      for (const auto& [m, w] : written) {
        const MemFileSystem::File* file = fs.Find(w.path);
        if (file == nullptr) return "a written message is missing: " + w.path;
        if (file->bytes != m->bytes) return "a message's bytes differ in " + w.path;
        if (file->modified != w.time) return "a file without the message's time: " + w.path;
      }
    }
    return {};
  }
  for (const auto& [path, held] : files) {
    std::vector<std::string> fromLines, read;
    if (!ReadMbox(held, &fromLines, &read)) return "an mbox readers cannot split: " + path;
    const auto expected = byPlace.find(path);
    const size_t count = expected == byPlace.end() ? 0 : expected->second.size();
    if (read.size() != count) {
      return path + " holds " + std::to_string(read.size()) + " messages, not " +
             std::to_string(count);
    }
    for (size_t i = 0; i < count; ++i) {
      const Message& m = *expected->second[i].first;
      const WrittenMessage& w = expected->second[i].second;
      const std::string given = m.fails ? m.bytes.substr(0, m.bytes.size() / 2) : m.bytes;
      if (read[i] != MboxForm(given, m.facts.flags)) {
        return "message " + std::to_string(i + 1) + " of " + path + " reads back otherwise";
      }
      const std::string& line = fromLines[i];
      const std::string time = " " + AsctimeUtc(w.time);
      if (line.size() < 6 + time.size() ||
          line.compare(line.size() - time.size(), time.size(), time) != 0) {
        return "a From line without the message's time: " + line;
      }
      for (size_t k = 5; k < line.size() - time.size(); ++k) {
        if (line[k] <= ' ' || line[k] > '~') return "a From line's sender not one ASCII word";
      }
    }
  }
  return {};
}

}  // namespace quillon::fuzzing

#endif  // QUILLON_FUZZ_MAIL_WRITER_CHECK_H_
