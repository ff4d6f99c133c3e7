// The floor of an export: the least any tool must do to write a mailbox's messages as files.
// One pass over the mailbox through a mapping, then one file per message of the manifest's
// sizes, written with a single write from the mapping. No scanning, no chain following.
//
// With --pread the same work is done without a mapping, as a tool must that may not take a
// signal when another program shortens the mailbox: the pass reads the file in 256 KiB pieces,
// and each message is read and written in pieces of that size.
//
//   quillon-bench-floor [--pread] [--whole[=HOW]] MAILBOX MANIFEST OUTDIR
//
// With --whole each file is written so that it appears whole or not at all and carries its
// message's time, in one of the ways an export may (HOW):
//   rename     (the default) under a temporary name, given its time (futimens), closed, its final
//              name looked at (fstatat: a folder or a device there is not replaced), renamed;
//   noreplace  the same without the look: renameat2 with RENAME_NOREPLACE fails on any name there;
//   link       under a temporary name, given its time, closed, linked to the final name (which
//              fails on any name there) and the temporary name removed;
//   excl       created under its final name with O_EXCL (which fails on any name there), given
//              its time, closed; a failed export removes it;
//   tmpfile    an unnamed file (O_TMPFILE) given its time and linked to its final name.
// That is the least such an export must do, above the floor of open, write and close.
//
// The floor of a walk through blocks linked at random across a file too large to index
// (bench/hostile.py's random-chain): --random-reads times 16-byte and 4 KiB positioned reads at
// random offsets of a cached FILE, which a reader within bounded memory pays once a hop, and
// --mapped-walk follows every chain of FILE through a mapping of all of it with a bit per 4 bytes
// for "visited", the least a walk can cost with memory unbounded.
//
//   quillon-bench-floor --random-reads FILE [READS]
//   quillon-bench-floor --mapped-walk FILE
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

double Seconds(clockid_t clock) {
  timespec t;
  clock_gettime(clock, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
// Wall-clock time, and the CPU time of this process: on a machine that others load, the CPU time
// still says what the work costs.
double Now() { return Seconds(CLOCK_MONOTONIC); }
double Cpu() { return Seconds(CLOCK_PROCESS_CPUTIME_ID); }

uint32_t Load32(const unsigned char* bytes) {
  uint32_t word;
  std::memcpy(&word, bytes, 4);
  return word;
}

int RandomReads(const char* path, uint64_t reads) {
  const int fd = open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < (8 << 10)) {
    std::fprintf(stderr, "%s: cannot be read, or smaller than 8 KiB\n", path);
    return 2;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  std::vector<unsigned char> buffer(4096);
  // Into the page cache first: the walk's reads are of a cached file.
  for (off_t at = 0; pread(fd, buffer.data(), buffer.size(), at) > 0;) at += 4096;
  uint64_t state = 1, sum = 0;
  std::printf("positioned reads at random offsets of %s (%llu MiB, cached)\n", path,
              static_cast<unsigned long long>(size >> 20));
  double perRead[2] = {}, cpuPerRead[2] = {};
  const size_t sizes[2] = {16, 4096};
  for (int k = 0; k < 2; ++k) {
    const double start = Now(), cpuStart = Cpu();
    for (uint64_t i = 0; i < reads; ++i) {
      state = state * 6364136223846793005u + 1442695040888963407u;
      const off_t at = static_cast<off_t>(((state >> 16) % (size - sizes[k])) & ~uint64_t{15});
      if (pread(fd, buffer.data(), sizes[k], at) != static_cast<ssize_t>(sizes[k])) {
        std::perror(path);
        return 2;
      }
      sum += buffer[0];
    }
    perRead[k] = (Now() - start) / static_cast<double>(reads);
    cpuPerRead[k] = (Cpu() - cpuStart) / static_cast<double>(reads);
    std::printf("%5zu bytes: %7.0f ns a read, %7.0f ns of CPU (%llu reads)\n", sizes[k],
                perRead[k] * 1e9, cpuPerRead[k] * 1e9, static_cast<unsigned long long>(reads));
  }
  // random-chain at 1 GiB: 32-byte blocks from 0x100 on, one hop each.
  const double hops = static_cast<double>(((uint64_t{1} << 30) - 0x100) / 32);
  std::printf(
      "a walk within bounded memory, one 16-byte read a hop: %.2f M hops/s, %.0f s "
      "(%.0f s of CPU) for the %.1f M blocks of 1 GiB of 32-byte blocks (checksum %llu)\n",
      1e-6 / perRead[0], hops * perRead[0], hops * cpuPerRead[0], hops * 1e-6,
      static_cast<unsigned long long>(sum & 1));
  return 0;
}

int MappedWalk(const char* path) {
  const int fd = open(path, O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || st.st_size < 16) {
    std::fprintf(stderr, "%s: cannot be read, or smaller than 16 bytes\n", path);
    return 2;
  }
  const uint64_t size = std::min<uint64_t>(static_cast<uint64_t>(st.st_size), uint64_t{1} << 31);
  const auto* map =
      static_cast<const unsigned char*>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
  if (map == MAP_FAILED) {
    std::perror("mmap");
    return 2;
  }
  uint64_t sum = 0;
  for (uint64_t i = 0; i < size; i += 4096) sum += map[i];  // into memory first
  std::vector<uint64_t> visited(size / 4 / 64 + 1, 0);
  const auto self = [&](uint64_t q) {
    return q + 16 <= size && q % 4 == 0 && Load32(map + q) == q;
  };
  uint64_t hops = 0;
  const double start = Now(), cpuStart = Cpu();
  // From every self-naming word in file order, follow the links to a visited block or a word
  // that does not name itself.
  for (uint64_t p = 4; p + 16 <= size; p += 4) {
    for (uint64_t q = p; self(q) && !(visited[q / 256] >> (q / 4 % 64) & 1); ++hops) {
      visited[q / 256] |= uint64_t{1} << (q / 4 % 64);
      q = Load32(map + q + 12);
    }
  }
  const double seconds = Now() - start, cpu = Cpu() - cpuStart;
  std::printf(
      "walk of %s through a mapping of all of it: %llu hops in %.2f s (%.2f s of CPU), "
      "%.0f ns a hop (checksum %llu)\n",
      path, static_cast<unsigned long long>(hops), seconds, cpu,
      hops ? seconds * 1e9 / static_cast<double>(hops) : 0.0,
      static_cast<unsigned long long>(sum & 1));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--random-reads") == 0) {
    return RandomReads(argv[2], argc == 4 ? std::strtoull(argv[3], nullptr, 10) : 2000000);
  }
  if (argc == 3 && std::strcmp(argv[1], "--mapped-walk") == 0) return MappedWalk(argv[2]);
  bool usePread = false;
  std::string whole;  // how, or empty for the plain floor
  while (argc > 4 &&
         (std::strcmp(argv[1], "--pread") == 0 || std::strncmp(argv[1], "--whole", 7) == 0)) {
    if (std::strcmp(argv[1], "--pread") == 0) {
      usePread = true;
    } else {
      whole = argv[1][7] == '=' ? argv[1] + 8 : "rename";
    }
    --argc;
    ++argv;
  }
  const bool knownWay = whole.empty() || whole == "rename" || whole == "noreplace" ||
                        whole == "link" || whole == "excl" || whole == "tmpfile";
  if (argc != 4 || !knownWay) {
    std::fprintf(stderr,
                 "usage: %s [--pread] [--whole[=rename|noreplace|link|excl|tmpfile]] MAILBOX "
                 "MANIFEST OUTDIR\n"
                 "       %s --random-reads FILE [READS]\n"
                 "       %s --mapped-walk FILE\n",
                 argv[0], argv[0], argv[0]);
    return 64;
  }
  const int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    std::perror(argv[1]);
    return 2;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  const unsigned char* map = nullptr;
  if (!usePread && size) {
    map = static_cast<const unsigned char*>(mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0));
    if (map == MAP_FAILED) {
      std::perror("mmap");
      return 2;
    }
  }
  // The pass over the file: touch every byte once.
  uint64_t sum = 0;
  const auto add = [&sum](const unsigned char* bytes, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
      uint64_t word;
      std::memcpy(&word, bytes + i, 8);
      sum += word;
    }
    for (; i < n; ++i) sum += bytes[i];
  };
  std::vector<unsigned char> buffer;
  if (usePread) {
    buffer.resize(256 << 10);
    for (off_t at = 0;;) {
      const ssize_t n = pread(fd, buffer.data(), buffer.size(), at);
      if (n <= 0) break;
      add(buffer.data(), static_cast<size_t>(n));
      at += n;
    }
  } else {
    add(map, size);
  }

  std::ifstream manifest(argv[2]);
  std::string line;
  std::vector<std::pair<uint64_t, uint64_t>> messages;  // offset, length
  while (std::getline(manifest, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string offset;
    uint64_t length = 0;
    fields >> offset >> length;
    messages.emplace_back(std::strtoull(offset.c_str(), nullptr, 0), length);
  }
  const std::string out = argv[3];
  const int outDir = open(out.c_str(), O_RDONLY | O_DIRECTORY);
  if (outDir < 0) {
    std::perror(out.c_str());
    return 2;
  }
  uint64_t n = 0;
  for (const auto& [offset, length] : messages) {
    const std::string name = "floor-" + std::to_string(++n) + ".eml";
    const std::string temporary = ".floor-" + std::to_string(n) + ".tmp";
    const std::string path = out + "/" + name;
    const int o =
        whole.empty()        ? open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666)
        : whole == "excl"    ? openat(outDir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666)
        : whole == "tmpfile" ? openat(outDir, ".", O_WRONLY | O_TMPFILE, 0666)
                             : openat(outDir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    if (o < 0) {
      std::perror(path.c_str());
      return 2;
    }
    // Same sizes as the messages; bytes from where the message starts.
    const uint64_t from = offset < size ? offset : 0;
    const uint64_t len = from + length <= size ? length : size - from;
    if (usePread) {
      // Through a buffer that stays in the cache: one pread and one write a piece.
      for (uint64_t done = 0; done < len;) {
        const size_t piece = static_cast<size_t>(std::min<uint64_t>(len - done, buffer.size()));
        if (pread(fd, buffer.data(), piece, static_cast<off_t>(from + done)) !=
                static_cast<ssize_t>(piece) ||
            write(o, buffer.data(), piece) != static_cast<ssize_t>(piece)) {
          std::perror(path.c_str());
          return 2;
        }
        done += piece;
      }
    } else if (write(o, map + from, len) != static_cast<ssize_t>(len)) {
      std::perror(path.c_str());
      return 2;
    }
    if (!whole.empty()) {
      const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(1000000000 + n), 0}};
      struct stat there;
      bool placed = futimens(o, times) == 0;
      if (whole == "tmpfile") {
        const std::string self = "/proc/self/fd/" + std::to_string(o);
        placed =
            placed && linkat(AT_FDCWD, self.c_str(), outDir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
        placed = close(o) == 0 && placed;
      } else {
        placed = close(o) == 0 && placed;
        if (whole == "rename") {
          placed = placed &&
                   !(fstatat(outDir, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
                     S_ISDIR(there.st_mode)) &&
                   renameat(outDir, temporary.c_str(), outDir, name.c_str()) == 0;
        } else if (whole == "noreplace") {
          placed = placed && renameat2(outDir, temporary.c_str(), outDir, name.c_str(),
                                       RENAME_NOREPLACE) == 0;
        } else if (whole == "link") {
          placed = placed && linkat(outDir, temporary.c_str(), outDir, name.c_str(), 0) == 0 &&
                   unlinkat(outDir, temporary.c_str(), 0) == 0;
        }
      }
      if (!placed) {
        std::perror(path.c_str());
        return 2;
      }
    } else {
      close(o);
    }
  }
  close(outDir);
  std::printf("%llu files, checksum %llx\n", static_cast<unsigned long long>(n),
              static_cast<unsigned long long>(sum));
  return 0;
}
