#include "catalogue/file_reader.h"

#include <cstdio>
#include <string>

namespace quillon::catalogue {

void DamageLog::Report(Damage::Kind kind, uint32_t offset, std::string reason) {
  ++count_;
  Damage damage{kind, offset, std::move(reason)};
  if (reporter_ != nullptr) reporter_->Report(damage);
  if (kept_.size() < kKept) kept_.push_back(std::move(damage));
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

FileReader::FileReader(InputFile* file, DamageLog* damage)
    : file_(file), damage_(damage), size_(CappedSize(file->Size())) {}

bool FileReader::Read(uint32_t offset, uint32_t length, void* out, const char* what, uint32_t at) {
  return CheckFits(offset, length, what, at) && ReadWithin(offset, length, out, what, at);
}

bool FileReader::CheckFits(uint32_t offset, uint32_t length, const char* what, uint32_t at) {
  if (!Fits(offset, length)) {
    damage_->Damaged(at, std::string(what) + " at " + Hex(at) +
                             " runs past the end of the file (it would end at " +
                             Hex(uint64_t{offset} + length) + ", the file at " + Hex(size_) + ")");
    return false;
  }
  return true;
}

uint32_t FileReader::ReadUpTo(uint32_t offset, uint32_t length, void* out, const char* what) {
  if (offset >= size_) return 0;
  if (length > size_ - offset) length = size_ - offset;
  return ReadWithin(offset, length, out, what, offset) ? length : 0;
}

bool FileReader::ReadWithin(uint32_t offset, uint32_t length, void* out, const char* what,
                            uint32_t at) {
  size_t got = 0;
  std::string error;
  const bool read = file_->ReadAt(offset, out, length, &got, &error);
  if (read && got == length) return true;
  // Either the system failed to read there, or the file has shrunk since its size was taken:
  // both times the bytes the size promised are not there to read, and neither is damage.
  const std::string why = read ? "the file now ends at " + Hex(uint64_t{offset} + got)
                               : "reading at " + Hex(uint64_t{offset} + got) + " failed: " + error;
  damage_->Report(Damage::Kind::kUnreadable, at,
                  std::string(what) + " at " + Hex(at) + " could not be read (" + why + ")");
  return false;
}

}  // namespace quillon::catalogue
