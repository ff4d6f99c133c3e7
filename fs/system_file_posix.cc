#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/system_calls_posix.h"
#include "fs/system_file.h"

namespace quillon {
namespace {
std::string Describe(const std::string& path, const char* what, int code) {
  return path + ": " + what + ": " + strerror(code);
}
}  // namespace

std::unique_ptr<SystemFile> SystemFile::Create(const std::string& path, std::string* error) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = Describe(path, "cannot create", errno);
    return nullptr;
  }
  return std::unique_ptr<SystemFile>(new SystemFile(fd, path));
}

SystemFile::~SystemFile() {
  if (open_) close(static_cast<int>(handle_));
}

bool SystemFile::WriteAt(uint64_t offset, const void* data, size_t size, std::string* error) {
  const int code = posix::WriteAllAt(static_cast<int>(handle_), offset, data, size);
  if (code != 0) *error = Describe(path_, "write failed", code);
  return code == 0;
}

bool SystemFile::Close(std::string* error) {
  if (!open_) return true;
  open_ = false;
  const int code = posix::Close(static_cast<int>(handle_));
  if (code != 0) *error = Describe(path_, "close failed", code);
  return code == 0;
}

bool MakeFolder(const std::string& path, std::string* error) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  const int code = errno;
  struct stat st;
  if (code == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return true;
  *error = Describe(path, "cannot create the folder", code == EEXIST ? ENOTDIR : code);
  return false;
}

}  // namespace quillon
