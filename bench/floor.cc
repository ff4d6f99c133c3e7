// The floor of an export: the least any tool must do to write a mailbox's messages as files.
// One pass over the mailbox through a mapping, then one file per message of the manifest's
// sizes, written with a single write from the mapping. No scanning, no chain following.
//
//   quillon-bench-floor MAILBOX MANIFEST OUTDIR
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s MAILBOX MANIFEST OUTDIR\n", argv[0]);
    return 64;
  }
  const int fd = open(argv[1], O_RDONLY);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0) {
    std::perror(argv[1]);
    return 2;
  }
  const size_t size = static_cast<size_t>(st.st_size);
  const auto* map = static_cast<const unsigned char*>(
      size ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0) : nullptr);
  if (size && map == MAP_FAILED) {
    std::perror("mmap");
    return 2;
  }
  // The pass over the file: touch every byte once.
  uint64_t sum = 0;
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t word;
    std::memcpy(&word, map + i, 8);
    sum += word;
  }
  for (; i < size; ++i) sum += map[i];

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
    if (write(o, map + from, len) != static_cast<ssize_t>(len)) {
      std::perror(path.c_str());
      return 2;
    }
    close(o);
  }
  std::printf("%llu files, checksum %llx\n", static_cast<unsigned long long>(n),
              static_cast<unsigned long long>(sum));
  return 0;
}
