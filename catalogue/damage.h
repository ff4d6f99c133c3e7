// What the catalogue reader stepped over: each piece of damage with where it lies and why, handed
// to a reporter the caller gives and kept in the catalogue it returns.
#ifndef QUILLON_CATALOGUE_DAMAGE_H_
#define QUILLON_CATALOGUE_DAMAGE_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::catalogue {

struct Damage {
  enum class Kind {
    kDamaged,     // the bytes were read, and they are not what a sound file holds
    kUnreadable,  // the file could not be read there
  };
  Kind kind = Kind::kDamaged;
  uint32_t offset = 0;  // file offset of the structure concerned
  std::string reason;   // in words, for the user: "tree node at 0x1E254 ..."
};

class DamageReporter {
 public:
  virtual ~DamageReporter() = default;
  // Called once per piece of damage, in the order it is found, on the reading thread.
  virtual void Report(const Damage& damage) = 0;
};

// Passes each report on to the caller's reporter (if any) and keeps the first kKept of them, so
// a file that is damage from end to end costs bounded memory.
class DamageLog {
 public:
  static constexpr size_t kKept = 1000;

  explicit DamageLog(DamageReporter* reporter) : reporter_(reporter) {}

  void Report(Damage::Kind kind, uint32_t offset, std::string reason);
  void Damaged(uint32_t offset, std::string reason) {
    Report(Damage::Kind::kDamaged, offset, std::move(reason));
  }

  uint64_t count() const { return count_; }
  const std::vector<Damage>& kept() const { return kept_; }
  std::vector<Damage> TakeKept() { return std::move(kept_); }

 private:
  DamageReporter* reporter_;
  std::vector<Damage> kept_;
  uint64_t count_ = 0;
};

// "0x1E254": offsets in reports are written as the format describes them.
std::string Hex(uint64_t value);

}  // namespace quillon::catalogue

#endif  // QUILLON_CATALOGUE_DAMAGE_H_
