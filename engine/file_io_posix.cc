// POSIX files for the engine.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/file_io.h"

namespace quillon {

const char kPathSeparator = '/';

namespace {

std::string ErrorText(int error) { return strerror(error); }

class PosixInputFile final : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  ~PosixInputFile() override { close(fd_); }

  uint32_t SizeLow32() override {
    struct stat st;
    if (fstat(fd_, &st) != 0) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(st.st_size));
  }

  size_t ReadAt(uint64_t offset, void* buffer, size_t size) override {
    size_t done = 0;
    while (done < size) {
      const ssize_t n = pread(fd_, static_cast<char*>(buffer) + done, size - done,
                              static_cast<off_t>(offset + done));
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        break;  // the end of the file, or an error: report what arrived
      }
    }
    return done;
  }

 private:
  int fd_;
};

class PosixOutputFile final : public OutputFile {
 public:
  explicit PosixOutputFile(int fd) : fd_(fd) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) close(fd_);
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      const ssize_t n = write(fd_, p, size);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        // write() returning 0 for a non-empty request means nothing more will fit.
        *error = ErrorText(n < 0 ? errno : ENOSPC);
        return false;
      }
      p += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }

  bool Close(std::string* error) override {
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 && errno != EINTR) {
      *error = ErrorText(errno);
      return false;
    }
    return true;
  }

 private:
  int fd_;
};

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    int fd;
    do {
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *error = ErrorText(errno);
      return nullptr;
    }
    // A folder opens read-only on POSIX but cannot be read; refuse it as Windows would.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
      close(fd);
      *error = ErrorText(EISDIR);
      return nullptr;
    }
    return std::make_unique<PosixInputFile>(fd);
  }

  std::unique_ptr<OutputFile> CreateOrTruncate(const std::string& path,
                                               std::string* error) override {
    int fd;
    do {
      fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *error = ErrorText(errno);
      return nullptr;
    }
    return std::make_unique<PosixOutputFile>(fd);
  }

  bool Remove(const std::string& path) override { return unlink(path.c_str()) == 0; }
};

}  // namespace

FileSystem* PlatformFileSystem() {
  static PosixFileSystem files;
  return &files;
}

}  // namespace quillon
