#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fs/folder_listing.h"

namespace quillon {

bool ListFolder(const std::string& folder, bool followLink, uint64_t maxEntries,
                std::vector<FolderEntry>* entries, bool* truncated, std::string* error) {
  entries->clear();
  *truncated = false;
  // O_NONBLOCK: should a FIFO take the folder's place after it was seen, opening it must not wait
  // for a writer; O_DIRECTORY then refuses it.
  const int flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
  const int fd = open(folder.c_str(), flags);
  if (fd < 0) {
    *error = strerror(errno);
    return false;
  }
  DIR* dir = fdopendir(fd);
  if (dir == nullptr) {
    *error = strerror(errno);
    close(fd);
    return false;
  }
  for (;;) {
    errno = 0;
    const dirent* d = readdir(dir);
    if (d == nullptr) {
      if (errno != 0) {
        *error = strerror(errno);
        entries->clear();
        closedir(dir);
        return false;
      }
      break;
    }
    if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
    if (entries->size() >= maxEntries) {
      *truncated = true;
      break;
    }
    FolderEntry entry{d->d_name, EntryKind::kOther, 0};
    // The entry itself, never what a link points to.
    struct stat st;
    if (fstatat(dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      if (S_ISDIR(st.st_mode)) {
        entry.kind = EntryKind::kFolder;
      } else if (S_ISREG(st.st_mode)) {
        entry.kind = EntryKind::kRegularFile;
        entry.size = static_cast<uint64_t>(st.st_size);
      }
    } else if (errno != ENOENT && error->empty()) {
      // An entry that vanished is no loss; one that cannot be looked at may be a store.
      *error = strerror(errno);
    }
    entries->push_back(std::move(entry));
  }
  closedir(dir);
  return true;
}

}  // namespace quillon
