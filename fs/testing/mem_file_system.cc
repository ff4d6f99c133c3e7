#include "fs/testing/mem_file_system.h"

#include <algorithm>
#include <cstring>

#include "text/file_names.h"

namespace quillon {

class MemInputFile final : public InputFile {
 public:
  MemInputFile(MemFileSystem* owner, std::shared_ptr<MemFileSystem::File> file)
      : owner_(owner), file_(std::move(file)) {}

  uint64_t Size() override { return file_->bytes.size(); }

  bool ReadAt(uint64_t offset, void* buffer, size_t size, size_t* got,
              std::string* error) override {
    ++owner_->readCalls;
    if (owner_->onRead) owner_->onRead(offset, size);
    *got = 0;
    if (owner_->failRead && owner_->failRead(offset, size)) {
      *error = "Input/output error";
      return false;
    }
    const std::string& bytes = file_->bytes;
    if (offset >= bytes.size()) return true;
    *got = static_cast<size_t>(std::min<uint64_t>(size, bytes.size() - offset));
    std::memcpy(buffer, bytes.data() + offset, *got);
    return true;
  }

 private:
  MemFileSystem* owner_;
  std::shared_ptr<MemFileSystem::File> file_;
};

class MemOutputFile final : public OutputFile {
 public:
  MemOutputFile(MemFileSystem* owner, std::string temp, std::string path)
      : owner_(owner), temp_(std::move(temp)), path_(std::move(path)) {
    owner_->files_[owner_->Key(temp_)] = std::make_shared<MemFileSystem::File>();
    owner_->files_[owner_->Key(temp_)]->path = temp_;
    ++owner_->openOutputs;
  }
  ~MemOutputFile() override {
    if (open_) --owner_->openOutputs;
    if (!placed_) owner_->files_.erase(owner_->Key(temp_));
  }

  bool Write(const void* data, size_t size, std::string* error) override {
    return owner_->Write(&owner_->files_.at(owner_->Key(temp_))->bytes, data, size, error);
  }

  bool Close(std::string*) override {
    if (open_) --owner_->openOutputs;
    open_ = false;
    return true;
  }

  bool Place(std::string* error) override {
    if (owner_->failPlace && owner_->failPlace(path_)) {
      *error = "Is a directory";
      return false;
    }
    auto& files = owner_->files_;
    std::shared_ptr<MemFileSystem::File> file = files.at(owner_->Key(temp_));
    file->path = path_;
    files.erase(owner_->Key(temp_));
    files[owner_->Key(path_)] = std::move(file);
    placed_ = true;
    return true;
  }

 private:
  MemFileSystem* owner_;
  std::string temp_;
  std::string path_;
  bool open_ = true;
  bool placed_ = false;
};

class MemNewFile final : public NewFile {
 public:
  MemNewFile(MemFileSystem* fs, std::string temporary)
      : fs_(fs), temporary_(std::move(temporary)) {}
  ~MemNewFile() override { fs_->temporaries_.erase(fs_->Key(temporary_)); }

  bool Write(const void* data, size_t size, std::string* error) override {
    return fs_->Write(&fs_->temporaries_[fs_->Key(temporary_)], data, size, error);
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
    fs_->files_[fs_->Key(finalPath)] = std::make_shared<MemFileSystem::File>(MemFileSystem::File{
        finalPath, std::move(fs_->temporaries_[fs_->Key(temporary_)]), modified});
    return true;
  }

 private:
  MemFileSystem* fs_;
  std::string temporary_;
};

class MemAppendFile final : public AppendFile {
 public:
  MemAppendFile(MemFileSystem* fs, std::shared_ptr<MemFileSystem::File> file)
      : fs_(fs), file_(std::move(file)), start_(file_->bytes.size()) {}
  bool Write(const void* data, size_t size, std::string* error) override {
    return fs_->Write(&file_->bytes, data, size, error);
  }
  bool CutBack(uint64_t size, std::string*) override {
    if (start_ + size < file_->bytes.size()) file_->bytes.resize(start_ + size);
    return true;
  }
  bool Close(std::string*) override { return true; }

 private:
  MemFileSystem* fs_;
  std::shared_ptr<MemFileSystem::File> file_;
  size_t start_;  // the file's size when it was opened
};

class MemLock final : public Held {
 public:
  MemLock(MemFileSystem* fs, std::string name) : fs_(fs), name_(std::move(name)) {}
  ~MemLock() override { fs_->locks_.erase(name_); }

 private:
  MemFileSystem* fs_;
  std::string name_;
};

std::string MemFileSystem::Key(const std::string& path) const {
  return ignoreCase_ ? FoldCase(path) : path;
}

bool MemFileSystem::ParentExists(const std::string& path) const {
  const size_t slash = path.rfind('/');
  return folders_.count(Key(slash == std::string::npos ? "" : path.substr(0, slash))) != 0;
}

bool MemFileSystem::Write(std::string* bytes, const void* data, size_t size, std::string* error) {
  size_t n = size;
  if (diskCapacity != 0) {
    n = static_cast<size_t>(
        std::min<uint64_t>(n, diskCapacity - std::min(diskCapacity, bytesWritten)));
  }
  bytes->append(static_cast<const char*>(data), n);
  bytesWritten += n;
  if (n < size) {
    *error = "No space left on device";
    return false;
  }
  return true;
}

void MemFileSystem::Put(const std::string& path, std::string contents) {
  files_[Key(path)] = std::make_shared<File>(File{path, std::move(contents), std::nullopt});
}

const MemFileSystem::File* MemFileSystem::Find(const std::string& path) const {
  const auto found = files_.find(Key(path));
  return found == files_.end() ? nullptr : found->second.get();
}

std::map<std::string, std::string> MemFileSystem::FilesUnder(const std::string& prefix) const {
  std::map<std::string, std::string> found;
  for (const auto& [key, file] : files_) {
    if (file->path.compare(0, prefix.size(), prefix) == 0) found[file->path] = file->bytes;
  }
  return found;
}

std::unique_ptr<InputFile> MemFileSystem::OpenForReading(const std::string& path,
                                                         std::string* error) {
  const auto it = files_.find(Key(path));
  if (it == files_.end()) {
    *error = "No such file or directory";
    return nullptr;
  }
  return std::make_unique<MemInputFile>(this, it->second);
}

std::unique_ptr<OutputFile> MemFileSystem::CreateReplacing(const std::string& path,
                                                           std::string* error) {
  if (failCreate && failCreate(path)) {
    *error = "Permission denied";
    return nullptr;
  }
  const size_t separator = path.find_last_of(kPathSeparators);
  const std::string folder = separator == std::string::npos ? "" : path.substr(0, separator + 1);
  return std::make_unique<MemOutputFile>(this, folder + ".tmp-" + std::to_string(++temporaryNames_),
                                         path);
}

bool MemFileSystem::MakeFolders(const std::string& folder, std::string* error) {
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

std::unique_ptr<NewFile> MemFileSystem::CreateTemporary(const std::string& temporaryPath,
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

std::unique_ptr<AppendFile> MemFileSystem::OpenForAppend(const std::string& path,
                                                         std::string* error) {
  if (!ParentExists(path)) {
    *error = path + ": no such folder";
    return nullptr;
  }
  std::shared_ptr<File>& file = files_[Key(path)];
  if (!file) file = std::make_shared<File>(File{path, {}, std::nullopt});
  return std::make_unique<MemAppendFile>(this, file);
}

bool MemFileSystem::List(const std::string& folder, std::vector<FolderEntry>* entries,
                         std::string*) {
  entries->clear();
  const std::string prefix = folder.empty() ? "" : Key(folder) + "/";
  const auto direct = [&](const std::string& key) {
    return key.size() > prefix.size() && key.compare(0, prefix.size(), prefix) == 0 &&
           key.find('/', prefix.size()) == std::string::npos;
  };
  for (const auto& [key, file] : files_) {
    if (direct(key)) {
      entries->push_back({file->path.substr(file->path.rfind('/') + 1), EntryKind::kRegularFile});
    }
  }
  for (const std::string& key : folders_) {
    if (direct(key)) entries->push_back({key.substr(prefix.size()), EntryKind::kFolder});
  }
  return true;
}

std::unique_ptr<Held> MemFileSystem::Lock(const std::string& name, bool* busy, std::string* error) {
  *busy = !locks_.insert(Key(name)).second;
  if (*busy) {
    *error = name + ": held by another process";
    return nullptr;
  }
  return std::make_unique<MemLock>(this, Key(name));
}

}  // namespace quillon
