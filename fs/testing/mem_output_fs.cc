#include "fs/testing/mem_output_fs.h"

#include <algorithm>
#include <cstring>

#include "text/file_names.h"

namespace quillon {

class MemNewFile final : public NewFile {
 public:
  MemNewFile(MemOutputFs* fs, std::string temporary) : fs_(fs), temporary_(std::move(temporary)) {}
  ~MemNewFile() override { fs_->temporaries_.erase(fs_->Key(temporary_)); }

  bool Write(const void* data, size_t size, std::string* error) override {
    if (!fs_->Consume(size, error)) return false;
    fs_->temporaries_[fs_->Key(temporary_)].append(static_cast<const char*>(data), size);
    return true;
  }

  bool CutBack(uint64_t size, std::string*) override {
    std::string& bytes = fs_->temporaries_[fs_->Key(temporary_)];
    if (size < bytes.size()) bytes.resize(size);
    return true;
  }

  bool Commit(const std::string& finalPath, std::optional<int64_t> modified,
              std::string* error) override {
    if (!fs_->ParentExists(finalPath)) {
      *error = finalPath + ": no such folder";
      return false;
    }
    if (fs_->folders_.count(fs_->Key(finalPath)) != 0) {
      *error = finalPath + ": is a folder";
      return false;
    }
    MemOutputFs::File& file = fs_->files_[fs_->Key(finalPath)];
    file.path = finalPath;
    file.bytes = std::move(fs_->temporaries_[fs_->Key(temporary_)]);
    file.modified = modified;
    return true;
  }

 private:
  MemOutputFs* fs_;
  std::string temporary_;
};

class MemAppendFile final : public AppendFile {
 public:
  MemAppendFile(MemOutputFs* fs, std::string path, size_t start)
      : fs_(fs), path_(std::move(path)), start_(start) {}
  bool Write(const void* data, size_t size, std::string* error) override {
    if (!fs_->Consume(size, error)) return false;
    fs_->files_[fs_->Key(path_)].bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  bool CutBack(uint64_t size, std::string*) override {
    std::string& bytes = fs_->files_[fs_->Key(path_)].bytes;
    if (start_ + size < bytes.size()) bytes.resize(start_ + size);
    return true;
  }
  bool Close(std::string*) override { return true; }

 private:
  MemOutputFs* fs_;
  std::string path_;
  size_t start_;  // the file's size when it was opened
};

class MemLock final : public Held {
 public:
  MemLock(MemOutputFs* fs, std::string name) : fs_(fs), name_(std::move(name)) {}
  ~MemLock() override { fs_->locks_.erase(name_); }

 private:
  MemOutputFs* fs_;
  std::string name_;
};

std::string MemOutputFs::Key(const std::string& path) const {
  return ignoreCase_ ? FoldCase(path) : path;
}

bool MemOutputFs::ParentExists(const std::string& path) const {
  const size_t slash = path.rfind('/');
  return folders_.count(Key(slash == std::string::npos ? "" : path.substr(0, slash))) != 0;
}

bool MemOutputFs::Consume(size_t size, std::string* error) {
  if (capacity != 0 && written + size > capacity) {
    *error = "No space left on device";
    return false;
  }
  written += size;
  return true;
}

bool MemOutputFs::MakeFolders(const std::string& folder, std::string* error) {
  for (size_t slash = 0;; ++slash) {
    slash = folder.find('/', slash);
    const std::string part = folder.substr(0, slash);
    if (files_.count(Key(part)) != 0) {
      *error = part + ": not a folder";
      return false;
    }
    folders_.insert(Key(part));
    if (slash == std::string::npos) return true;
  }
}

std::unique_ptr<NewFile> MemOutputFs::CreateTemporary(const std::string& temporaryPath,
                                                      std::string* error) {
  if (!ParentExists(temporaryPath)) {
    *error = temporaryPath + ": no such folder";
    return nullptr;
  }
  const std::string key = Key(temporaryPath);
  if (files_.count(key) != 0 || temporaries_.count(key) != 0) {
    *error = temporaryPath + ": exists";
    return nullptr;
  }
  temporaries_[key];
  return std::make_unique<MemNewFile>(this, temporaryPath);
}

std::unique_ptr<AppendFile> MemOutputFs::OpenForAppend(const std::string& path,
                                                       std::string* error) {
  if (!ParentExists(path)) {
    *error = path + ": no such folder";
    return nullptr;
  }
  File& file = files_[Key(path)];
  if (file.path.empty()) file.path = path;
  return std::make_unique<MemAppendFile>(this, path, file.bytes.size());
}

std::unique_ptr<Held> MemOutputFs::Lock(const std::string& name, bool* busy, std::string* error) {
  *busy = !locks_.insert(Key(name)).second;
  if (*busy) {
    *error = name + ": held by another process";
    return nullptr;
  }
  return std::make_unique<MemLock>(this, Key(name));
}

bool MemOutputFs::List(const std::string& folder, std::vector<FolderEntry>* entries, std::string*) {
  entries->clear();
  const std::string prefix = folder.empty() ? "" : Key(folder) + "/";
  const auto direct = [&](const std::string& key) {
    return key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0 &&
           key.find('/', prefix.size()) == std::string::npos;
  };
  for (const auto& [key, file] : files_) {
    if (direct(key))
      entries->push_back({file.path.substr(file.path.rfind('/') + 1), EntryKind::kRegularFile});
  }
  for (const std::string& key : folders_) {
    if (direct(key)) entries->push_back({key.substr(prefix.size()), EntryKind::kFolder});
  }
  return true;
}

std::unique_ptr<ReadableFile> MemOutputFs::OpenForReading(const std::string& path,
                                                          std::string* error) {
  const File* file = Find(path);
  if (file == nullptr) {
    *error = path + ": no such file";
    return nullptr;
  }
  // The file's bytes as they are at each read, as an open file sees writes made in place (Put).
  class Reader final : public ReadableFile {
   public:
    Reader(const MemOutputFs* fs, std::string path) : fs_(fs), path_(std::move(path)) {}
    bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got, std::string*) override {
      static const std::string kGone;
      const File* file = fs_->Find(path_);
      const std::string& bytes = file != nullptr ? file->bytes : kGone;
      *got = offset >= bytes.size() ? 0 : std::min<size_t>(size, bytes.size() - offset);
      if (*got > 0) std::memcpy(buffer, bytes.data() + offset, *got);
      return true;
    }

   private:
    const MemOutputFs* fs_;
    std::string path_;
  };
  return std::make_unique<Reader>(this, path);
}

std::map<std::string, std::string> MemOutputFs::Files() const {
  std::map<std::string, std::string> out;
  for (const auto& [key, file] : files_) out[file.path] = file.bytes;
  return out;
}

const MemOutputFs::File* MemOutputFs::Find(const std::string& path) const {
  const auto found = files_.find(Key(path));
  return found == files_.end() ? nullptr : &found->second;
}

void MemOutputFs::Put(const std::string& path, std::string bytes) {
  File& file = files_[Key(path)];
  file.path = path;
  file.bytes = std::move(bytes);
}

}  // namespace quillon
