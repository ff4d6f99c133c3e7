// The output folder on POSIX systems.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <vector>

#include "output/output_fs.h"

namespace quillon::output {
namespace {

std::string ErrorText(const std::string& path, int error) { return path + ": " + strerror(error); }

// writev, a few dozen spans a call, until every byte is written. A call that writes nothing of a
// non-empty request means nothing more will fit.
bool WriteAllSpans(int fd, const ByteSpan* spans, size_t count, const std::string& path,
                   std::string* error) {
  iovec vectors[64];  // fewer than any system's IOV_MAX
  for (size_t i = 0; i < count;) {
    size_t filled = 0;
    for (; i < count && filled < std::size(vectors); ++i) {
      if (spans[i].size > 0) vectors[filled++] = {const_cast<void*>(spans[i].data), spans[i].size};
    }
    for (size_t at = 0; at < filled;) {  // the first vector not yet written whole
      const ssize_t n = writev(fd, vectors + at, static_cast<int>(filled - at));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        *error = ErrorText(path, n < 0 ? errno : ENOSPC);
        return false;
      }
      for (size_t left = static_cast<size_t>(n); left > 0;) {
        iovec& v = vectors[at];
        const size_t done = std::min(left, v.iov_len);
        v.iov_base = static_cast<char*>(v.iov_base) + done;
        v.iov_len -= done;
        left -= done;
        if (v.iov_len == 0) ++at;
      }
    }
  }
  return true;
}

bool WriteAll(int fd, const void* data, size_t size, const std::string& path, std::string* error) {
  const ByteSpan span{data, size};
  return WriteAllSpans(fd, &span, 1, path, error);
}

class PosixNewFile final : public NewFile {
 public:
  PosixNewFile(int fd, std::string temporary, std::string root)
      : fd_(fd), temporary_(std::move(temporary)), root_(std::move(root)) {}
  ~PosixNewFile() override {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlink(temporary_.c_str());
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    return WriteAll(fd_, data, size, temporary_, error);
  }
  bool WriteSpans(const ByteSpan* spans, size_t count, std::string* error) override {
    return WriteAllSpans(fd_, spans, count, temporary_, error);
  }

  bool Commit(const std::string& finalPath, std::optional<int64_t> modified,
              std::string* error) override {
    if (modified) {
      const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*modified), 0}};
      if (futimens(fd_, times) != 0) {
        *error = ErrorText(temporary_, errno);
        return false;
      }
    }
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 && errno != EINTR) {
      *error = ErrorText(temporary_, errno);
      return false;
    }
    const std::string target = root_ + "/" + finalPath;
    if (rename(temporary_.c_str(), target.c_str()) != 0) {
      *error = ErrorText(target, errno);
      return false;
    }
    committed_ = true;
    return true;
  }

 private:
  int fd_;
  std::string temporary_;
  std::string root_;
  bool committed_ = false;
};

class PosixAppendFile final : public AppendFile {
 public:
  PosixAppendFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  ~PosixAppendFile() override {
    if (fd_ >= 0) close(fd_);
  }
  bool Write(const void* data, size_t size, std::string* error) override {
    return WriteAll(fd_, data, size, path_, error);
  }
  bool WriteSpans(const ByteSpan* spans, size_t count, std::string* error) override {
    return WriteAllSpans(fd_, spans, count, path_, error);
  }
  bool Close(std::string* error) override {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 && errno != EINTR) {
      *error = ErrorText(path_, errno);
      return false;
    }
    return true;
  }

 private:
  int fd_;
  std::string path_;
};

int OpenRetrying(const std::string& path, int flags) {
  int fd;
  do {
    fd = open(path.c_str(), flags | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

class PosixOutputFs final : public OutputFs {
 public:
  explicit PosixOutputFs(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    if (root_.empty()) root_ = ".";
  }

  bool MakeFolders(const std::string& folder, std::string* error) override {
    const std::string full = Full(folder);
    // Each folder from the outermost one, so a missing parent is made first.
    for (size_t slash = full.find('/', 1);; slash = full.find('/', slash + 1)) {
      const std::string part = full.substr(0, slash);
      if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = ErrorText(part, errno);
        return false;
      }
      if (slash == std::string::npos) break;
    }
    struct stat st;
    if (stat(full.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      *error = ErrorText(full, ENOTDIR);
      return false;
    }
    return true;
  }

  std::unique_ptr<NewFile> CreateTemporary(const std::string& temporaryPath,
                                           std::string* error) override {
    const std::string full = Full(temporaryPath);
    const int fd = OpenRetrying(full, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) {
      *error = ErrorText(full, errno);
      return nullptr;
    }
    return std::make_unique<PosixNewFile>(fd, full, root_);
  }

  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path, std::string* error) override {
    const std::string full = Full(path);
    const int fd = OpenRetrying(full, O_WRONLY | O_CREAT | O_APPEND);
    if (fd < 0) {
      *error = ErrorText(full, errno);
      return nullptr;
    }
    return std::make_unique<PosixAppendFile>(fd, full);
  }

  bool List(const std::string& folder, std::vector<FolderEntry>* entries,
            std::string* error) override {
    entries->clear();
    const std::string full = Full(folder);
    DIR* dir = opendir(full.c_str());
    if (dir == nullptr) {
      if (errno == ENOENT) return true;
      *error = ErrorText(full, errno);
      return false;
    }
    while (const dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      bool isFolder = e->d_type == DT_DIR;
      if (e->d_type == DT_UNKNOWN) {
        struct stat st;
        isFolder = stat((full + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
      }
      entries->push_back({name, isFolder});
    }
    closedir(dir);
    return true;
  }

  bool Read(const std::string& path, const ChunkSink& sink, std::string* error) override {
    const std::string full = Full(path);
    const int fd = OpenRetrying(full, O_RDONLY);
    if (fd < 0) {
      *error = ErrorText(full, errno);
      return false;
    }
    std::vector<uint8_t> buffer(256 * 1024);
    bool ok = true;
    for (;;) {
      const ssize_t n = read(fd, buffer.data(), buffer.size());
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *error = ErrorText(full, errno);
        ok = false;
        break;
      }
      if (n == 0) break;
      if (!sink(buffer.data(), static_cast<size_t>(n))) {
        ok = false;
        break;
      }
    }
    close(fd);
    return ok;
  }

 private:
  std::string Full(const std::string& path) const {
    return path.empty() ? root_ : root_ + "/" + path;
  }
  std::string root_;
};

}  // namespace

std::unique_ptr<OutputFs> PlatformOutputFs(const std::string& root) {
  return std::make_unique<PosixOutputFs>(root);
}

char PlatformMaildirInfoSeparator() { return ':'; }

uint64_t PlatformProcessId() { return static_cast<uint64_t>(getpid()); }

std::string PlatformHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "localhost";
  return name;
}

}  // namespace quillon::output
