// An independent reader of .dbx files for the tests: it knows the format from the facts about
// real files, not from the generator's code, and checks every structure it passes through. Used
// on generated files and on the real ones in the corpus.
//
// It repeats on purpose what engine/, catalogue/ and rescue/ know of the format (as
// gen/dbx_layout.h does for the writer): it is the tests' second opinion. A reading shared with
// the product would share its mistakes, and a test comparing the two would then pass; so keep it
// apart, and do not fold it into the product's readers or theirs into it.
#ifndef QUILLON_GEN_DBX_TEST_READER_H_
#define QUILLON_GEN_DBX_TEST_READER_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace quillon::gen::testing {

// The word at `offset`, or 0xFFFFFFFF past the end (the callers check bounds first).
uint32_t Le32(const std::string& file, uint64_t offset);

struct TreeWalk {
  std::vector<uint32_t> values;  // in order
  std::vector<uint32_t> nodes;   // in pre-order
  std::vector<uint32_t> leafDepths;
  std::string error;  // empty when every node was consistent
};
// Walks the index tree at `root`, checking own offsets, parents, entry counts and the value
// counts stored for each subtree.
TreeWalk WalkIndexTree(const std::string& file, uint32_t root);

struct InfoRecord {
  uint32_t offset = 0;
  std::map<uint8_t, uint32_t> direct;      // field -> value kept in the entry
  std::map<uint8_t, uint32_t> bodyOffset;  // field -> offset into the body
  std::string body;
};
bool ReadInfoRecord(const std::string& file, uint32_t offset, InfoRecord* record,
                    std::string* error);
// A 32-bit field, kept in its entry or in the body. 0xFFFFFFFF when absent.
uint32_t InfoWord(const InfoRecord& record, uint8_t field);
std::string InfoText(const InfoRecord& record, uint8_t field);

struct Chain {
  std::vector<uint32_t> blocks;
  std::string bytes;
};
// Follows a live message's blocks from `first`, checking each header.
bool ReadChain(const std::string& file, uint32_t first, Chain* chain, std::string* error);

struct DecodedMessage {
  uint32_t record;
  uint32_t id;
  uint32_t sizeField;
  uint32_t firstBlock;
  Chain chain;
};
struct DeletedBlock {
  uint32_t offset;
  uint32_t oldNext;  // the fourth word
  uint32_t link;     // the first data word: the next block on the free list
};
struct DecodedMailbox {
  std::vector<DecodedMessage> messages;  // in index order
  std::vector<DeletedBlock> freeList;    // from the header's list root
  TreeWalk tree;
};
// Reads a message folder the way an index-based reader does: header, tree, records, chains, and
// the free list. False with *error at the first inconsistency.
bool DecodeMailbox(const std::string& file, DecodedMailbox* mailbox, std::string* error);

}  // namespace quillon::gen::testing

#endif  // QUILLON_GEN_DBX_TEST_READER_H_
