// Times the rescue's planning stages on one mailbox file (the catalogue, the scan of its blocks,
// the reconciliation), and with --read also the streaming of every message it would export to a
// sink that drops the bytes. Prints each run's times and peak resident memory (VmHWM, reset
// before each run, so it covers the process and one run), the median's throughput, and what was
// found.
//
// The first run reads the file from the disk unless its pages are cached; run it twice, or warm
// the cache with cat FILE >/dev/null, and measure on a quiet machine.
//
//   quillon-bench-rescue [--runs N] [--read] MAILBOX
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "rescue/rescue.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// A line of /proc/self/status, in KiB.
long StatusKiB(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, std::strlen(field), field) == 0) {
      return std::strtol(line.c_str() + std::strlen(field) + 1, nullptr, 10);
    }
  }
  return -1;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  using namespace quillon;
  int runs = 5;
  bool read = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::max(1, std::atoi(argv[++i]));
    } else if (std::strcmp(argv[i], "--read") == 0) {
      read = true;
    } else if (path == nullptr && argv[i][0] != '-') {
      path = argv[i];
    } else {
      path = nullptr;
      break;
    }
  }
  if (path == nullptr) {
    std::fprintf(stderr, "usage: %s [--runs N] [--read] MAILBOX\n", argv[0]);
    return 64;
  }
  std::string error;
  std::unique_ptr<InputFile> file = PlatformFileSystem()->OpenForReading(path, &error);
  if (!file) {
    std::fprintf(stderr, "%s: %s\n", path, error.c_str());
    return 2;
  }
  const double mib = static_cast<double>(file->Size()) / 1048576.0;
  std::printf("%s: %.1f MiB\n", path, mib);
  std::printf("%4s %10s %10s %10s %10s %10s %10s %10s\n", "run", "catalogue", "scan", "reconcile",
              "plan", "plan MB/s", "peak MiB", read ? "read" : "");

  std::vector<double> plans, reads;
  rescue::RescuePlan plan;
  size_t entries = 0, exotic = 0, entryBytes = 0;
  std::vector<double> peaks;
  for (int run = 1; run <= runs; ++run) {
    // Each run on its own: nothing of the last one kept, and the peak counted afresh (writing 5
    // to clear_refs resets VmHWM).
    plan = rescue::RescuePlan{};
    std::ofstream("/proc/self/clear_refs") << "5";
    const Clock::time_point t0 = Clock::now();
    rescue::ReadError failed;
    catalogue::Catalogue cat = rescue::ReadCatalogueBuffered(file.get(), nullptr, &failed);
    const Clock::time_point t1 = Clock::now();
    rescue::BlockScan scan = rescue::ScanBlocks(file.get(), rescue::ListedFirstBlocks(cat));
    const Clock::time_point t2 = Clock::now();
    if (failed.failure == rescue::ReadFailure::kNone) failed = scan.error;
    if (failed.failure != rescue::ReadFailure::kNone) {
      std::fprintf(stderr, "%s: %s\n", path, failed.reason.c_str());
      return 2;
    }
    entries = scan.entries.size();
    exotic = scan.entries.exoticCount();
    entryBytes = scan.entries.MemoryBytes();
    // As the rescue does: the scan and the records go into the plan, the scan freed before it
    // is made.
    plan = rescue::Reconcile(std::move(scan), std::move(cat.messages));
    const Clock::time_point t3 = Clock::now();
    double readSeconds = 0;
    if (read) {
      uint64_t bytes = 0;
      rescue::MessageReader reader(file.get(), plan);
      for (size_t i = 0; i < plan.exported; ++i) {
        const rescue::ReadOutcome o = reader.Read(
            plan.messages[i], [&](const uint8_t*, size_t n) { return bytes += n, true; });
        if (o.result != rescue::ReadOutcome::kComplete) {
          std::fprintf(stderr, "%s: %s\n", path, o.error.reason.c_str());
          return 2;
        }
      }
      readSeconds = Seconds(t3, Clock::now());
    }
    const double planSeconds = Seconds(t0, t3);
    peaks.push_back(StatusKiB("VmHWM:") / 1024.0);
    plans.push_back(planSeconds);
    reads.push_back(readSeconds);
    std::printf("%4d %9.3fs %9.3fs %9.3fs %9.3fs %10.0f %10.1f", run, Seconds(t0, t1),
                Seconds(t1, t2), Seconds(t2, t3), planSeconds, mib * 1.048576 / planSeconds,
                peaks.back());
    if (read) std::printf(" %9.3fs", readSeconds);
    std::printf("\n");
  }
  const double plan50 = Median(plans);
  std::printf("median: plan %.3f s, %.0f MB/s", plan50, mib * 1.048576 / plan50);
  if (read) {
    const double read50 = Median(reads);
    std::printf("; read %.3f s, %.0f MB/s", read50, mib * 1.048576 / read50);
  }
  std::printf("\nscan entries: %zu, %zu of them exotic (%.1f MiB)\n", entries, exotic,
              entryBytes / 1048576.0);
  std::printf("found:");
  for (size_t s = 0; s < rescue::kStatusCount; ++s) {
    std::printf(" %s %llu", rescue::StatusName(static_cast<rescue::Status>(s)),
                static_cast<unsigned long long>(plan.counts[s]));
  }
  std::printf("\npeak resident memory of a run: %.1f MiB at most\n",
              *std::max_element(peaks.begin(), peaks.end()));
  return 0;
}
