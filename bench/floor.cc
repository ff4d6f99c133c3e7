// The floor of an export: the least any tool must do to write a mailbox's messages as files.
// One pass over the mailbox through a mapping, then one file per message of the manifest's
// sizes, written with a single write from the mapping. No scanning, no chain following.
//
// With --pread the same work is done without a mapping, as a tool must that may not take a
// signal when another program shortens the mailbox: the pass reads the file in 256 KiB pieces,
// and each message is read and written in pieces of that size.
//
//   quillon-bench-floor [--pread] MAILBOX MANIFEST OUTDIR
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
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

int main(int argc, char** argv) {
  const bool usePread = argc == 5 && std::strcmp(argv[1], "--pread") == 0;
  if (usePread) {
    --argc;
    ++argv;
  }
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s [--pread] MAILBOX MANIFEST OUTDIR\n", argv[0]);
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
  uint64_t n = 0;
  for (const auto& [offset, length] : messages) {
    const std::string path = out + "/floor-" + std::to_string(++n) + ".eml";
    const int o = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
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
    close(o);
  }
  std::printf("%llu files, checksum %llx\n", static_cast<unsigned long long>(n),
              static_cast<unsigned long long>(sum));
  return 0;
}
