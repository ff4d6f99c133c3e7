// The output folder on POSIX systems. Every folder below the output folder is made and entered
// relative to the descriptor of the one above it, never following a symbolic link, and files are
// opened and renamed relative to their folder's descriptor: a link planted in the output folder
// ("out/Local Folders -> /elsewhere") cannot lead a write outside it, whatever it is changed to
// while the export runs.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <vector>

#include "fs/output_fs.h"
#include "fs/system_calls_posix.h"

namespace quillon {
namespace {

std::string ErrorText(const std::string& path, int error) { return path + ": " + strerror(error); }

// Said of a link met in the output folder. The sentence names it: callers show what follows the
// last ": " of an error as its reason.
constexpr char kLinkWords[] = " is a symbolic link, which the export does not follow";

// The system call's failure `code` (0 for none) as an error about `path`.
bool Done(int code, const std::string& path, std::string* error) {
  if (code != 0) *error = ErrorText(path, code);
  return code == 0;
}

// An open folder; closed when the last user lets go of it.
struct Dir {
  explicit Dir(int descriptor) : fd(descriptor) {}
  ~Dir() { close(fd); }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  const int fd;
};
using DirRef = std::shared_ptr<const Dir>;

std::string Parent(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash);
}

std::string Leaf(const std::string& path) { return path.substr(path.rfind('/') + 1); }

int OpenAt(int dir, const std::string& name, int flags) {
  int fd;
  do {
    fd = openat(dir, name.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0666);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

// Opens the file `name` of `dir` when it is a regular file, never through a link and without
// waiting on a FIFO; -1 with *error otherwise.
int OpenRegular(int dir, const std::string& name, int flags, const std::string& shown,
                std::string* error) {
  const int fd = OpenAt(dir, name, flags | O_NONBLOCK);
  if (fd < 0) {
    // Why, in words of its own where the name is there but not a regular file (a FIFO without
    // a reader gives ENXIO, a link ELOOP).
    *error = ErrorText(shown, errno);
    struct stat st;
    if (fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(st.st_mode)) {
      *error = shown + (S_ISLNK(st.st_mode) ? kLinkWords : " is not a regular file");
    }
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = shown + " is not a regular file";
    close(fd);
    return -1;
  }
  // Reads and writes of a regular file are not changed by O_NONBLOCK; cleared all the same for
  // a file written, but not for one only read (--update reads one a message: two system calls
  // of its seven).
  if ((flags & O_ACCMODE) != O_RDONLY) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

class PosixOutputFs;

class PosixNewFile final : public NewFile {
 public:
  // `placed`: made under its final name (CreateFinal), that path, rather than a temporary one.
  PosixNewFile(int fd, DirRef dir, std::string name, std::string shown, PosixOutputFs* fs,
               std::string placed = {})
      : fd_(fd),
        dir_(std::move(dir)),
        name_(std::move(name)),
        shown_(std::move(shown)),
        fs_(fs),
        placed_(std::move(placed)) {}
  ~PosixNewFile() override {
    if (fd_ >= 0) close(fd_);
    if (!committed_) unlinkat(dir_->fd, name_.c_str(), 0);
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    return Done(posix::WriteAll(fd_, data, size), shown_, error);
  }
  bool WriteSpans(const ByteSpan* spans, size_t count, std::string* error) override {
    return Done(posix::WriteAll(fd_, spans, count), shown_, error);
  }
  bool CutBack(uint64_t size, std::string* error) override {
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0 ||
        lseek(fd_, static_cast<off_t>(size), SEEK_SET) < 0) {
      *error = ErrorText(shown_, errno);
      return false;
    }
    return true;
  }
  bool Commit(const std::string& finalPath, std::optional<int64_t> modified,
              std::string* error) override;

 private:
  int fd_;
  DirRef dir_;
  std::string name_;   // in dir_
  std::string shown_;  // the whole path, for errors
  PosixOutputFs* fs_;
  std::string placed_;
  bool committed_ = false;
};

class PosixAppendFile final : public AppendFile {
 public:
  PosixAppendFile(int fd, uint64_t start, std::string shown)
      : fd_(fd), start_(start), shown_(std::move(shown)) {}
  ~PosixAppendFile() override {
    if (fd_ >= 0) close(fd_);
  }
  bool Write(const void* data, size_t size, std::string* error) override {
    return Done(posix::WriteAll(fd_, data, size), shown_, error);
  }
  bool WriteSpans(const ByteSpan* spans, size_t count, std::string* error) override {
    return Done(posix::WriteAll(fd_, spans, count), shown_, error);
  }
  bool CutBack(uint64_t size, std::string* error) override {
    // O_APPEND writes go to the end, wherever that now is.
    if (ftruncate(fd_, static_cast<off_t>(start_ + size)) != 0) {
      *error = ErrorText(shown_, errno);
      return false;
    }
    return true;
  }
  bool Close(std::string* error) override {
    const int fd = fd_;
    fd_ = -1;
    return Done(posix::Close(fd), shown_, error);
  }

 private:
  int fd_;
  uint64_t start_;  // the file's size when it was opened
  std::string shown_;
};

class PosixReadableFile final : public InputFile {
 public:
  PosixReadableFile(int fd, std::string shown) : fd_(fd), shown_(std::move(shown)) {}
  ~PosixReadableFile() override { close(fd_); }
  uint64_t Size() override {
    struct stat st;
    return fstat(fd_, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  }
  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    return Done(posix::ReadAt(fd_, offset, buffer, size, got), shown_, error);
  }

 private:
  int fd_;
  std::string shown_;
};

// Held while the output folder is locked: the lock file is removed, then let go of.
class PosixLock final : public Held {
 public:
  PosixLock(int fd, DirRef root, std::string name)
      : fd_(fd), root_(std::move(root)), name_(std::move(name)) {}
  ~PosixLock() override {
    // Removed while still locked: a run that opened it meanwhile finds, once it has the lock,
    // that the name is no longer this file, and makes a new one.
    unlinkat(root_->fd, name_.c_str(), 0);
    close(fd_);
  }

 private:
  int fd_;
  DirRef root_;
  std::string name_;
};

class PosixOutputFs final : public OutputFs {
 public:
  explicit PosixOutputFs(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/') root_.pop_back();
    if (root_.empty()) root_ = ".";
  }

  bool MakeFolders(const std::string& folder, std::string* error) override {
    return Enter(folder, true, error) != nullptr;
  }

  std::unique_ptr<NewFile> CreateTemporary(const std::string& temporaryPath,
                                           std::string* error) override {
    DirRef dir = Enter(Parent(temporaryPath), false, error);
    if (!dir) return nullptr;
    const std::string name = Leaf(temporaryPath);
    const int fd = OpenAt(dir->fd, name, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0) {
      *error = ErrorText(Full(temporaryPath), errno);
      return nullptr;
    }
    return std::make_unique<PosixNewFile>(fd, std::move(dir), name, Full(temporaryPath), this);
  }

  std::unique_ptr<NewFile> CreateFinal(const std::string& finalPath,
                                       const std::string& temporaryPath,
                                       std::string* error) override {
    DirRef dir = Enter(Parent(finalPath), false, error);
    if (!dir) return nullptr;
    const std::string name = Leaf(finalPath);
    // O_EXCL fails on any name there, a link or a folder included: those are the temporary
    // file's to replace or refuse, as before.
    const int fd = OpenAt(dir->fd, name, O_WRONLY | O_CREAT | O_EXCL);
    if (fd < 0 && errno == EEXIST) return CreateTemporary(temporaryPath, error);
    if (fd < 0) {
      *error = ErrorText(Full(finalPath), errno);
      return nullptr;
    }
    return std::make_unique<PosixNewFile>(fd, std::move(dir), name, Full(finalPath), this,
                                          finalPath);
  }

  std::unique_ptr<AppendFile> OpenForAppend(const std::string& path, std::string* error) override {
    const DirRef dir = Enter(Parent(path), false, error);
    if (!dir) return nullptr;
    const int fd =
        OpenRegular(dir->fd, Leaf(path), O_WRONLY | O_CREAT | O_APPEND, Full(path), error);
    if (fd < 0) return nullptr;
    struct stat st;
    const uint64_t start = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    return std::make_unique<PosixAppendFile>(fd, start, Full(path));
  }

  bool List(const std::string& folder, std::vector<FolderEntry>* entries,
            std::string* error) override {
    entries->clear();
    bool missing = false;
    const DirRef dir = Enter(folder, false, error, &missing);
    if (!dir) return missing;
    // A description of its own: the folder's is shared by every use of it.
    const int fd = OpenAt(dir->fd, ".", O_RDONLY | O_DIRECTORY);
    DIR* listing = fd < 0 ? nullptr : fdopendir(fd);
    if (listing == nullptr) {
      *error = ErrorText(Full(folder), errno);
      if (fd >= 0) close(fd);
      return false;
    }
    while (const dirent* e = readdir(listing)) {
      const std::string name = e->d_name;
      if (name == "." || name == "..") continue;
      EntryKind kind = e->d_type == DT_DIR   ? EntryKind::kFolder
                       : e->d_type == DT_REG ? EntryKind::kRegularFile
                                             : EntryKind::kOther;
      struct stat st;
      if (e->d_type == DT_UNKNOWN &&
          fstatat(dir->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        kind = S_ISDIR(st.st_mode)   ? EntryKind::kFolder
               : S_ISREG(st.st_mode) ? EntryKind::kRegularFile
                                     : EntryKind::kOther;
      }
      entries->push_back({name, kind});
    }
    closedir(listing);
    return true;
  }

  std::unique_ptr<InputFile> OpenForReading(const std::string& path, std::string* error) override {
    const DirRef dir = Enter(Parent(path), false, error);
    if (!dir) return nullptr;
    const int fd = OpenRegular(dir->fd, Leaf(path), O_RDONLY, Full(path), error);
    if (fd < 0) return nullptr;
    return std::make_unique<PosixReadableFile>(fd, Full(path));
  }

  std::unique_ptr<Held> Lock(const std::string& name, bool* busy, std::string* error) override {
    *busy = false;
    DirRef root = Enter("", true, error);
    if (!root) return nullptr;
    // A run that ends removes the file it locked: a lock taken on a file no longer there is
    // taken again on the new one.
    for (int attempt = 0; attempt < 100; ++attempt) {
      const int fd = OpenRegular(root->fd, name, O_RDWR | O_CREAT, Full(name), error);
      if (fd < 0) return nullptr;
      if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int reason = errno;
        close(fd);
        if (reason == EWOULDBLOCK) {
          *busy = true;
          *error = Full(name) + ": held by another process";
        } else {
          *error = ErrorText(Full(name), reason);
        }
        return nullptr;
      }
      struct stat held, named;
      if (fstat(fd, &held) == 0 &&
          fstatat(root->fd, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
          held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
        return std::make_unique<PosixLock>(fd, std::move(root), name);
      }
      close(fd);
    }
    *error = Full(name) + ": replaced again and again";
    return nullptr;
  }

  // Renames `from` in `fromDir` over `finalPath`, which must not be a folder or a device node:
  // not even a run as root replaces a device. Anything else there is replaced (a link itself,
  // not what it leads to).
  bool Place(const Dir& fromDir, const std::string& from, const std::string& finalPath,
             std::string* error) {
    const DirRef dir = Enter(Parent(finalPath), false, error);
    if (!dir) return false;
    const std::string name = Leaf(finalPath);
    // Where nothing has the name, one call: what is there is looked at only when there is
    // something (a file system without RENAME_NOREPLACE takes the long way every time).
    if (renameat2(fromDir.fd, from.c_str(), dir->fd, name.c_str(), RENAME_NOREPLACE) == 0) {
      return true;
    }
    if (errno != EEXIST && errno != EINVAL && errno != ENOSYS) {
      *error = ErrorText(Full(finalPath), errno);
      return false;
    }
    struct stat st;
    if (fstatat(dir->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        (S_ISDIR(st.st_mode) || S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))) {
      *error = Full(finalPath) +
               (S_ISDIR(st.st_mode) ? " is a folder; not replaced" : " is a device; not replaced");
      return false;
    }
    if (renameat(fromDir.fd, from.c_str(), dir->fd, name.c_str()) != 0) {
      *error = ErrorText(Full(finalPath), errno);
      return false;
    }
    return true;
  }

 private:
  std::string Full(const std::string& path) const {
    return path.empty() ? root_ : root_ + "/" + path;
  }

  // The open folder `folder` ("" the output folder), entered level by level from the output
  // folder without following links; with `create`, missing levels are made. Null with *error
  // when a level is missing (*missing then set), is a link, or is no folder.
  DirRef Enter(const std::string& folder, bool create, std::string* error,
               bool* missing = nullptr) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (missing != nullptr) *missing = false;
    if (!root_dir_ && !OpenRoot(create, error, missing)) return nullptr;
    if (folder.empty()) return root_dir_;
    const auto cached = open_.find(folder);
    if (cached != open_.end()) return cached->second;
    // From the deepest level already open.
    DirRef at = root_dir_;
    size_t done = 0;  // bytes of `folder` that `at` is
    for (size_t end = folder.rfind('/'); end != std::string::npos && end > 0;
         end = folder.rfind('/', end - 1)) {
      const auto found = open_.find(folder.substr(0, end));
      if (found != open_.end()) {
        at = found->second;
        done = end;
        break;
      }
    }
    while (done < folder.size()) {
      const size_t start = done == 0 ? 0 : done + 1;
      const size_t slash = folder.find('/', start);
      const size_t end = slash == std::string::npos ? folder.size() : slash;
      const std::string name = folder.substr(start, end - start);
      const std::string shown = Full(folder.substr(0, end));
      if (create && mkdirat(at->fd, name.c_str(), 0777) != 0 && errno != EEXIST) {
        *error = ErrorText(shown, errno);
        return nullptr;
      }
      const int fd = OpenAt(at->fd, name, O_RDONLY | O_DIRECTORY);
      if (fd < 0) {
        const int reason = errno;
        struct stat st;
        if (fstatat(at->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) {
          *error = shown + kLinkWords;
        } else {
          if (missing != nullptr) *missing = reason == ENOENT;
          *error = ErrorText(shown, reason);
        }
        return nullptr;
      }
      // A few hundred folders at most stay open; the rest are opened again when next used.
      if (open_.size() >= 256) open_.clear();
      at = std::make_shared<const Dir>(fd);
      open_[folder.substr(0, end)] = at;
      done = end;
    }
    return at;
  }

  // Opens the output folder itself, as the user named it (a link there is the user's own), once:
  // it stays the folder written into, whatever is put in its place meanwhile. With `create`,
  // it is made first, with every missing folder above it.
  bool OpenRoot(bool create, std::string* error, bool* missing) {
    if (create) {
      for (size_t slash = root_.find('/', 1);; slash = root_.find('/', slash + 1)) {
        const std::string part = root_.substr(0, slash);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
          *error = ErrorText(part, errno);
          return false;
        }
        if (slash == std::string::npos) break;
      }
    }
    int fd;
    do {
      fd = open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      if (missing != nullptr) *missing = errno == ENOENT;
      *error = ErrorText(root_, errno);
      return false;
    }
    root_dir_ = std::make_shared<const Dir>(fd);
    return true;
  }

  std::string root_;
  std::mutex mutex_;
  DirRef root_dir_;                     // once opened
  std::map<std::string, DirRef> open_;  // folders below it, by path
};

bool PosixNewFile::Commit(const std::string& finalPath, std::optional<int64_t> modified,
                          std::string* error) {
  if (modified) {
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(*modified), 0}};
    if (futimens(fd_, times) != 0) {
      *error = ErrorText(shown_, errno);
      return false;
    }
  }
  const int fd = fd_;
  fd_ = -1;
  if (!Done(posix::Close(fd), shown_, error)) return false;
  if (!placed_.empty() && finalPath == placed_) {
    committed_ = true;
    return true;
  }
  if (!fs_->Place(*dir_, name_, finalPath, error)) return false;
  committed_ = true;
  return true;
}

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

}  // namespace quillon
