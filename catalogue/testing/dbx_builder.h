// Builds small mailbox files in memory for the catalogue's tests and fuzzer seeds: a header,
// tree nodes and indexed records placed at chosen offsets with chosen fields, sound or not.
#ifndef QUILLON_CATALOGUE_TESTING_DBX_BUILDER_H_
#define QUILLON_CATALOGUE_TESTING_DBX_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

namespace quillon::catalogue::testing {

class DbxBuilder {
 public:
  struct Entry {
    uint32_t value;
    uint32_t child = 0;
    uint32_t count = 0;  // values under the child
  };
  struct Field {
    uint8_t number;
    bool direct;
    uint32_t value;     // direct
    std::string bytes;  // indirect
  };
  static Field Direct(uint8_t number, uint32_t value) { return {number, true, value, {}}; }
  static Field Text(uint8_t number, const std::string& text) {
    return {number, false, 0, text + std::string(1, '\0')};
  }
  static Field Bytes(uint8_t number, const std::string& bytes) { return {number, false, 0, bytes}; }
  static Field Time(uint8_t number, uint64_t filetime);

  // A file of `size` bytes: the magic, `classWord`, and for a message folder the file-info
  // length; the rest zero.
  explicit DbxBuilder(size_t size, uint32_t classWord = 0x6F74FDC5u);

  void PutWord(size_t at, uint32_t value);
  void PutByte(size_t at, uint8_t value) { bytes.at(at) = static_cast<char>(value); }
  // Header words of tree `i` (0 to 2).
  void Tree(int i, uint32_t root, uint32_t count);
  // A node at `at`.
  void Node(uint32_t at, uint32_t parent, uint32_t leftChild, uint32_t leftCount,
            const std::vector<Entry>& entries);
  // A record at `at` with `fields` in the order given; returns the offset just past it.
  uint32_t Record(uint32_t at, const std::vector<Field>& fields);
  // The file-info area of a message folder.
  void FileInfo(uint8_t source, const std::string& accountKey, const std::string& name);

  std::string bytes;
};

}  // namespace quillon::catalogue::testing

#endif  // QUILLON_CATALOGUE_TESTING_DBX_BUILDER_H_
