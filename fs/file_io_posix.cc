// POSIX files for the engine.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>

#include "fs/file_io.h"
#include "fs/system_calls_posix.h"

namespace quillon {

namespace {

std::string ErrorText(int error) { return strerror(error); }

class PosixInputFile final : public InputFile {
 public:
  explicit PosixInputFile(int fd) : fd_(fd) {}
  ~PosixInputFile() override { close(fd_); }

  uint64_t Size() override {
    struct stat st;
    if (fstat(fd_, &st) != 0 || st.st_size < 0) return 0;
    return static_cast<uint64_t>(st.st_size);
  }

  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    const int code = posix::ReadAt(fd_, offset, buffer, size, got);
    if (code != 0) *error = ErrorText(code);
    return code == 0;
  }

 private:
  int fd_;
};

// Data goes to `temp`, which replaces `path` in Place.
class PosixOutputFile final : public OutputFile {
 public:
  PosixOutputFile(int fd, std::string temp, std::string path)
      : fd_(fd), temp_(std::move(temp)), path_(std::move(path)) {}
  ~PosixOutputFile() override {
    if (fd_ >= 0) close(fd_);
    if (!placed_) unlink(temp_.c_str());
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    const int code = posix::WriteAll(fd_, data, size);
    if (code != 0) *error = ErrorText(code);
    return code == 0;
  }

  bool Close(std::string* error) override {
    const int code = posix::Close(fd_);
    fd_ = -1;
    if (code != 0) *error = ErrorText(code);
    return code == 0;
  }

  bool Place(std::string* error) override {
    // rename replaces the directory entry itself: a link of that name is replaced, not followed.
    if (rename(temp_.c_str(), path_.c_str()) != 0) {
      *error = ErrorText(errno);
      return false;
    }
    placed_ = true;
    return true;
  }

 private:
  int fd_;
  std::string temp_;
  std::string path_;
  bool placed_ = false;
};

// A name no other file in `folder` (which ends with a separator, or is empty for the current
// folder) is likely to have; creation with O_EXCL settles it.
std::string TemporaryName(const std::string& folder) {
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      (uint64_t{static_cast<uint32_t>(getpid())} << 32)};
  std::string name = folder + ".quillon-";
  for (int i = 0; i < 10; ++i) name += kLetters[random() % (sizeof kLetters - 1)];
  return name + ".tmp";
}

class PosixFileSystem final : public FileSystem {
 public:
  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    int fd;
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer. It changes nothing for the
    // reads of a regular file, the only kind that is kept open.
    do {
      fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      *error = ErrorText(errno);
      return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
      *error = ErrorText(errno);
      close(fd);
      return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
      // A folder opens read-only on POSIX but cannot be read; refuse it as Windows would.
      *error = S_ISDIR(st.st_mode) ? ErrorText(EISDIR) : "not a regular file";
      close(fd);
      return nullptr;
    }
    return std::make_unique<PosixInputFile>(fd);
  }

  std::unique_ptr<OutputFile> CreateReplacing(const std::string& path,
                                              std::string* error) override {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    for (int attempt = 0;; ++attempt) {
      const std::string temp = TemporaryName(folder);
      // O_EXCL never opens what is there, a link included; O_NOFOLLOW says so twice.
      const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
      if (fd >= 0) return std::make_unique<PosixOutputFile>(fd, temp, path);
      if (errno == EINTR || (errno == EEXIST && attempt < 100)) continue;
      *error = ErrorText(errno);
      return nullptr;
    }
  }
};

}  // namespace

FileSystem* PlatformFileSystem() {
  static PosixFileSystem files;
  return &files;
}

FileSystem* Utf8FileSystem() { return PlatformFileSystem(); }

}  // namespace quillon
