// quillon-output-bench [MIB] [DIR]: how fast the output formats write, against the floor of
// writing the same bytes with no format at all (one file per message, or one file for all).
// Messages of 1-50 KB with CRLF lines, some beginning "From ", come from memory in 512-byte
// chunks, as the engines give them; DIR should be on tmpfs (default /dev/shm). Prints seconds,
// MB/s and the ratio to the floor, and the peak resident memory of the process.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "output/mail_writer.h"

using namespace quillon::output;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> MakeMessages(uint64_t totalBytes) {
  std::vector<std::string> messages;
  uint64_t seed = 42, total = 0;
  const auto next = [&seed] {
    seed = seed * 6364136223846793005u + 1442695040888963407u;
    return seed >> 33;
  };
  while (total < totalBytes) {
    std::string m = "From: a@example.org\r\nSubject: bench " + std::to_string(messages.size()) +
                    "\r\nDate: Mon, 3 Jan 2005 10:00:00 +0100\r\n\r\n";
    const uint64_t size = 1000 + next() % 49000;
    while (m.size() < size) {
      m += next() % 50 == 0 ? "From the desk of the sender, a line\r\n"
                            : "Some ordinary text of a mail message, about seventy bytes.\r\n";
    }
    total += m.size();
    messages.push_back(std::move(m));
  }
  return messages;
}

MessageSource ChunkedSource(const std::string& bytes) {
  return [&bytes](const ChunkSink& sink, std::string*) {
    for (size_t at = 0; at < bytes.size(); at += 512) {
      if (!sink(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                std::min<size_t>(512, bytes.size() - at))) {
        return false;
      }
    }
    return true;
  };
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// The floor: the same bytes, written whole, one file per message or one file for all.
double Floor(const std::vector<std::string>& messages, const fs::path& dir, bool oneFile) {
  fs::remove_all(dir);
  fs::create_directories(dir);
  const auto start = std::chrono::steady_clock::now();
  std::FILE* all = oneFile ? std::fopen((dir / "all").c_str(), "wb") : nullptr;
  size_t n = 0;
  for (const std::string& m : messages) {
    std::FILE* f = oneFile ? all : std::fopen((dir / (std::to_string(++n) + ".eml")).c_str(), "wb");
    std::fwrite(m.data(), 1, m.size(), f);
    if (!oneFile) std::fclose(f);
  }
  if (all) std::fclose(all);
  return Seconds(start);
}

double Run(Format format, const std::vector<std::string>& messages, const fs::path& dir,
           uint32_t hashFlags) {
  fs::remove_all(dir);
  std::unique_ptr<quillon::OutputFs> out = quillon::PlatformOutputFs(dir.string());
  std::string error;
  WriterOptions options;
  options.format = format;
  options.hashMessages = hashFlags != 0;
  const auto start = std::chrono::steady_clock::now();
  out->MakeFolders("", &error);
  std::unique_ptr<MailWriter> writer = MailWriter::Create(out.get(), options, &error);
  uint32_t n = 0;
  for (const std::string& m : messages) {
    MessageFacts facts;
    facts.mailbox = "Bench.dbx";
    facts.folder = {"Bench"};
    facts.number = ++n;
    facts.received = 1104746400;
    WrittenMessage written;
    if (!writer->Write(facts, ChunkedSource(m), &written, &error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return -1;
    }
  }
  writer->Finish(&error);
  return Seconds(start);
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t mib = argc > 1 ? std::stoull(argv[1]) : 256;
  const fs::path dir = fs::path(argc > 2 ? argv[2] : "/dev/shm") / "quillon-output-bench";
  const std::vector<std::string> messages = MakeMessages(mib << 20);
  uint64_t bytes = 0;
  for (const std::string& m : messages) bytes += m.size();
  std::printf("%zu messages, %.1f MiB, into %s\n", messages.size(), bytes / 1048576.0, dir.c_str());
  rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const long before = usage.ru_maxrss;
  std::printf("| what | seconds | MB/s | vs floor |\n|---|---:|---:|---:|\n");
  // Each floor twice: the first run also pays for tmpfs growing.
  Floor(messages, dir, false);
  const double fileFloor = Floor(messages, dir, false);
  Floor(messages, dir, true);
  const double oneFloor = Floor(messages, dir, true);
  const auto row = [&](const char* what, double seconds, double floor) {
    std::printf("| %s | %.3f | %.0f | %.2fx |\n", what, seconds, bytes / seconds / 1e6,
                seconds / floor);
  };
  row("floor: one file per message", fileFloor, fileFloor);
  row("floor: one file for all", oneFloor, oneFloor);
  row("mbox", Run(Format::kMbox, messages, dir, 0), oneFloor);
  row("mbox + SHA-256", Run(Format::kMbox, messages, dir, 1), oneFloor);
  row("eml", Run(Format::kEml, messages, dir, 0), fileFloor);
  row("maildir", Run(Format::kMaildir, messages, dir, 0), fileFloor);
  fs::remove_all(dir);
  getrusage(RUSAGE_SELF, &usage);
  std::printf("peak RSS %.1f MiB with the messages in memory, %.1f MiB more while writing\n",
              before / 1024.0, (usage.ru_maxrss - before) / 1024.0);
  return 0;
}
