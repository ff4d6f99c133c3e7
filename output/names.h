// File and folder names that every file system takes: made safe, cut to length on a character
// boundary, unique in their folder whatever the case, and the eml name template.
#ifndef QUILLON_OUTPUT_NAMES_H_
#define QUILLON_OUTPUT_NAMES_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "output/message.h"

namespace quillon::output {

// The longest name a file system takes: 255 bytes (ext4, and in UTF-16 units NTFS, APFS).
inline constexpr size_t kMaxNameBytes = 255;

// `text` as one name that Linux, macOS and Windows all accept, at most `maxBytes` long:
// separators, NUL and control characters and <>:"/\|?* become '_' (white-space controls a
// space, runs of spaces one), trailing dots and spaces go, a reserved Windows device name
// (CON, PRN, AUX, NUL, COM1-9, LPT1-9, COM and LPT with a superscript digit, with any
// extension) gets '_' after it ("CON.txt" gives "CON_.txt"), and an empty result is "_".
std::string SafeName(std::string_view text, size_t maxBytes = kMaxNameBytes);

// A mailbox name in IMAP's modified UTF-7 (RFC 3501 5.1.3): printable ASCII as itself, "&" as
// "&-", everything else as "&" + modified BASE64 of UTF-16 + "-".
std::string ToModifiedUtf7(std::string_view utf8);

// 64-bit fingerprints, in an open table of about 10 bytes each: the names of a folder of a million
// files held in 10 MiB, where the names themselves took 90 bytes each.
class FingerprintSet {
 public:
  // True when `f` was not there yet.
  bool Insert(uint64_t f);
  bool Contains(uint64_t f) const;
  size_t size() const { return size_; }

 private:
  // A large set is split by the fingerprint's top byte, so that one part grows at a time: the
  // old and new slots of a part, not of the whole, are held at once.
  struct Part {
    std::vector<uint64_t> slots;  // 0: empty (no fingerprint is 0)
    size_t used = 0;
  };
  Part& PartOf(uint64_t f) { return parts_[split_ ? f >> 56 : 0]; }
  const Part& PartOf(uint64_t f) const { return parts_[split_ ? f >> 56 : 0]; }
  static bool Add(Part* part, uint64_t f);
  std::vector<Part> parts_{1};
  bool split_ = false;
  size_t size_ = 0;
};

// The names taken in one folder, compared case-insensitively. Claim gives a free name made of
// `stem` and `extension`, numbering the stem " (2)", " (3)"... when needed, and cutting it so
// that the whole stays within kMaxNameBytes. `alsoTaken` are suffixes that must be free beside
// the name and are taken with it (Thunderbird's "X.sbd" and "X.msf", Dovecot's "X.lock" beside the
// mbox "X"); the name is cut so that each of them fits in kMaxNameBytes too.
// A name is kept as a 64-bit fingerprint of its folded form: two names of one form always meet;
// two others meet once in 2^64 / (names of the folder) looks, and the one looked for then takes
// a number it did not need. Nothing is replaced either way.
class NameSet {
 public:
  void Take(std::string_view name) { taken_.Insert(Fingerprint(name)); }
  bool IsTaken(std::string_view name) const { return taken_.Contains(Fingerprint(name)); }
  std::string Claim(std::string_view stem, std::string_view extension,
                    const std::vector<std::string>& alsoTaken = {});
  // Claim in two steps, for a name that is taken only once its file is there: the name Claim
  // would give now, and taking it. Nothing may be taken in between.
  struct Offer {
    std::string name;
    uint32_t number = 0;  // of " (n)"; 0 when not numbered
  };
  Offer Propose(std::string_view stem, std::string_view extension,
                const std::vector<std::string>& alsoTaken = {}) const;
  void Accept(const Offer& offer, std::string_view stem,
              const std::vector<std::string>& alsoTaken = {});

 private:
  static uint64_t Fingerprint(std::string_view name);
  bool Free(const std::string& name, const std::vector<std::string>& alsoTaken) const;
  FingerprintSet taken_;
  // The next number to try for a stem, so that many equal names cost no more than one each.
  std::unordered_map<std::string, uint32_t> next_;
};

// An eml name template: "{mailbox}-{n}" and the like. Fields: {n} {mailbox} {folder} {date}
// {time} {from} (the sender's name, else the address) {to} {subject} {id}; anything else in
// braces stays as it is written.
class NameTemplate {
 public:
  // False, with *error in words, for a template that holds a folder separator ('/' or '\'), or
  // that is empty: the caller then refuses the option (a usage error).
  static bool Parse(std::string_view text, NameTemplate* out, std::string* error);

  // The fields written in braces that are none of the above, for a warning.
  const std::vector<std::string>& unknownFields() const { return unknown_; }
  // Whether a name needs the message's time: {date} or {time}.
  bool UsesTime() const {
    for (const Piece& p : pieces_) {
      if (p.field == Field::kDate || p.field == Field::kTime) return true;
    }
    return false;
  }
  // Whether a name needs the message's texts: {from}, {to}, {subject} or {id}.
  bool UsesTexts() const {
    for (const Piece& p : pieces_) {
      if (p.field == Field::kFrom || p.field == Field::kTo || p.field == Field::kSubject ||
          p.field == Field::kId) {
        return true;
      }
    }
    return false;
  }
  // The name without extension, made safe and cut to kMaxNameBytes - `reserve` bytes. `time` is
  // the message's time (MessageTime) for {date} and {time}.
  std::string Expand(const MessageFacts& facts, int64_t time, size_t reserve) const;

 private:
  enum class Field : uint8_t {
    kText,
    kN,
    kMailbox,
    kFolder,
    kDate,
    kTime,
    kFrom,
    kTo,
    kSubject,
    kId
  };
  struct Piece {
    Field field;
    std::string text;  // kText only
  };
  std::vector<Piece> pieces_;
  std::vector<std::string> unknown_;
};

// The last part of a path given in either separator ("mail/Inbox.dbx" gives "Inbox.dbx").
std::string_view BaseName(std::string_view path);

}  // namespace quillon::output

#endif  // QUILLON_OUTPUT_NAMES_H_
