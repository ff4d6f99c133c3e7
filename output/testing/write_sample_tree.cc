// quillon-output-sample FORMAT DIR [ORIGINALS]: writes a small tree of messages in FORMAT (eml,
// mbox, maildir) into DIR with the output library, and its manifest, for the tests that read the
// result back with real mail programs (read_back_test.py). The messages hold what breaks
// readers: "From " lines (also across chunk boundaries: the bytes come 7 at a time), CRLF and
// LF lines, a message without a final line end, folder names with '.', '&', non-ASCII letters
// and names that differ only in case. With ORIGINALS, each message's bytes also go there as
// <n>.eml, to compare with what a reader of an mbox gives back.
#include <cstdio>
#include <string>
#include <vector>

#include "output/mail_writer.h"
#include "output/manifest.h"

using namespace quillon::output;

namespace {

struct Sample {
  std::vector<std::string> folder;
  uint32_t flags;
  std::string bytes;
};

std::string Message(const std::string& subject, const std::string& eol, const std::string& body) {
  return "From: Ann Example <ann@example.org>" + eol + "To: bob@example.org" + eol +
         "Subject: " + subject + eol + "Date: Mon, 3 Jan 2005 10:00:00 +0100" + eol +
         "Message-ID: <" + subject + "@example.org>" + eol + eol + body;
}

std::vector<Sample> Samples() {
  const std::vector<std::string> inbox = {"Local Folders", "Inbox"};
  std::string big;
  for (int i = 0; i < 4000; ++i) {
    big += (i % 3 == 0   ? "From line "
            : i % 3 == 1 ? ">From quoted "
                         : "plain text ") +
           std::to_string(i) + "\r\n";
  }
  return {
      {inbox, kFlagRead | kFlagAnswered,
       Message("m1", "\r\n", "From the start\r\n>From once\r\n>>From twice\r\nend\r\n")},
      {inbox, kFlagFlagged, Message("m2", "\r\n", "unread and flagged\r\n")},
      {inbox, kFlagRead, Message("m3", "\r\n", big)},
      {{"Local Folders", "Sent Items"},
       kFlagDraft | kFlagRead,
       Message("m4", "\n", "LF lines and no final line end\nFrom here")},
      {{"Local Folders", "Sent Items"},
       kFlagRead,
       "From bogus@example.org Mon Jan  3 10:00:00 2005\r\n" + Message("m5", "\r\n", "x\r\n")},
      {{"Local Folders", "Caf\xC3\xA9 & Co"},
       kFlagForwarded | kFlagRead,
       Message("m6", "\r\n", "caf\xC3\xA9\r\n")},
      {{"Local Folders", "Work.2004"}, 0, Message("m7", "\r\n", "dotted folder\r\n")},
      {{"Local Folders", "Work.2004", "Sub"},
       kFlagRead | kFlagFlagged | kFlagAnswered,
       Message("m8", "\r\n", "nested below a dotted folder\r\n")},
      {{"Local Folders", "work.2004"}, kFlagRead, Message("m9", "\r\n", "case twin\r\n")},
      {{"Inbox"}, 0, Message("m10", "\r\n", "top-level Inbox\r\n")},
  };
}

}  // namespace

int main(int argc, char** argv) {
  Format format;
  if ((argc != 3 && argc != 4) || !ParseFormat(argv[1], &format)) {
    std::fprintf(stderr, "usage: quillon-output-sample eml|mbox|maildir DIR [ORIGINALS]\n");
    return 64;
  }
  std::unique_ptr<quillon::OutputFs> fs = quillon::PlatformOutputFs(argv[2]);
  std::string error;
  WriterOptions options;
  options.format = format;
  options.exportTime = 1700000000;
  options.reservedNames = {kManifestName};
  std::unique_ptr<MailWriter> writer;
  std::unique_ptr<ManifestWriter> manifest;
  bool ok = fs->MakeFolders("", &error) &&
            (writer = MailWriter::Create(fs.get(), options, &error)) &&
            (manifest = ManifestWriter::Create(fs.get(), kManifestName, &error)) &&
            writer->AddFolder({"Local Folders", "Empty"}, &error);
  uint32_t n = 0;
  for (const Sample& sample : Samples()) {
    if (!ok) break;
    MessageFacts facts;
    facts.mailbox = "sample.dbx";
    facts.folder = sample.folder;
    facts.number = ++n;
    facts.flags = sample.flags;
    facts.received = 1104746400 + n;
    facts.senderAddress = "ann@example.org";
    facts.subject = "m" + std::to_string(n);
    facts.messageId = "<" + facts.subject + "@example.org>";
    const std::string& bytes = sample.bytes;
    if (argc == 4) {
      std::unique_ptr<quillon::OutputFs> originals = quillon::PlatformOutputFs(argv[3]);
      std::unique_ptr<quillon::NewFile> copy;
      ok = originals->MakeFolders("", &error) &&
           (copy = originals->CreateTemporary(std::to_string(n) + ".tmp", &error)) &&
           copy->Write(bytes.data(), bytes.size(), &error) &&
           copy->Commit(std::to_string(n) + ".eml", std::nullopt, &error);
      if (!ok) break;
    }
    const MessageSource source = [&bytes](const ChunkSink& sink, std::string*) {
      for (size_t at = 0; at < bytes.size(); at += 7) {
        const size_t size = std::min<size_t>(7, bytes.size() - at);
        if (!sink(reinterpret_cast<const uint8_t*>(bytes.data()) + at, size)) return false;
      }
      return true;
    };
    WrittenMessage written;
    ok =
        writer->Write(facts, source, &written, &error) && manifest->AddFile(facts, written, &error);
  }
  ok = ok && writer->Finish(&error) && manifest->Finish(&error);
  if (!ok) {
    std::fprintf(stderr, "quillon-output-sample: %s\n", error.c_str());
    return 2;
  }
  return 0;
}
