// The extraction engine: finds every message chain in one mailbox file and writes each message,
// byte for byte, to a numbered .eml file. docs/format.md describes the blocks it reads.
#ifndef QUILLON_ENGINE_MAILBOX_EXTRACTOR_H_
#define QUILLON_ENGINE_MAILBOX_EXTRACTOR_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/block_format.h"
#include "engine/block_index.h"
#include "engine/block_reader.h"
#include "engine/export_result.h"
#include "engine/extract_sink.h"
#include "engine/file_io.h"
#include "engine/message_map.h"
#include "engine/visited_set.h"

using quillon::BlockHeader;

// What went wrong when ExportMailbox returned E_FAIL; kept until the next ExportMailbox.
struct ExportFailure {
  enum Kind {
    kNone,
    kOpenMailbox,  // the mailbox file could not be opened
    kCreateFile,   // no output file could be created (kMaxCreateFailures in a row)
    kWriteFile,    // an output file could not be written; it was removed
    kNumbersExhausted,
  };
  Kind kind = kNone;
  std::string path;    // the file concerned
  std::string reason;  // the system's words, when it gave any
};

// One mailbox file at a time: ExportMailbox runs every stage and always leaves the object idle,
// ready for the next file. Not thread-safe; one thread drives it.
class CMailboxExtractor {
 public:
  // Consecutive failures to create an output file after which the export gives up with E_FAIL,
  // so a folder that accepts no file does not make the engine offer names without end.
  static constexpr uint32_t kMaxCreateFailures = 64;
  // Data is copied from the mailbox to the .eml files through a buffer of this size.
  static constexpr size_t kCopyBufferSize = size_t{1} << 20;
  // The index of a file holds at most one entry per this many bytes (real folders have one per
  // 500 or so) plus kIndexMinEntries; a denser file is searched through the read windows.
  static constexpr uint32_t kIndexBytesPerEntry = 256;
  static constexpr uint32_t kIndexMinEntries = 1u << 16;

  // Uses the operating system's files.
  CMailboxExtractor();
  // Uses `files` (not owned; it must outlive the extractor).
  explicit CMailboxExtractor(quillon::FileSystem* files);
  ~CMailboxExtractor();
  CMailboxExtractor(const CMailboxExtractor&) = delete;
  CMailboxExtractor& operator=(const CMailboxExtractor&) = delete;

  // Exports the mailbox file at `mailboxPath` into `backupFolder` as <folder><sep><name>-<n>.eml,
  // n counting from 1. Returns 0 when messages were found and written, 1 when there were none,
  // E_FAIL when the mailbox cannot be opened or an output file cannot be created or written,
  // E_UNEXPECTED when the sink answered false. m_pSink must be set. Files already written stay;
  // no incomplete file is left. LastFailure() says more about an E_FAIL.
  int ExportMailbox(const char* mailboxPath, const char* backupFolder);

  // The stages of ExportMailbox, public so tests can look between them.

  // Stores the paths, opens the mailbox file and searches for the first chain start. 0 when one
  // was found (at m_nPos), 1 when none was, E_FAIL when the file cannot be opened.
  int OpenMailbox(const char* mailboxPath, const char* backupFolder);
  // Walks every chain that can be found from m_nPos on and fills the message map. Returns 0.
  int CollectMessages();
  // Stores a walked block list, first joining to its end the message keyed by `stopOffset`.
  int StoreChain(quillon::MessageMap::BlockList& list, uint32_t stopOffset);
  // Adds every one-block message (its next offset 0) that no chain holds: such a block never
  // passes the chain-start test, so without this pass short messages would be lost. Returns the
  // number added.
  uint32_t CollectSingleBlockMessages();
  // Writes the message map's messages in ascending key order. 0, E_FAIL or E_UNEXPECTED.
  int WriteMessages();
  // Back to idle: containers empty, mailbox file closed, paths empty. m_pSink is kept.
  void Reset();

  // The block helpers, reading through the open mailbox file.
  // `window` says which read window a miss refills: copying reads through the large one.
  bool ReadBlockHeader(uint32_t offset, BlockHeader* header,
                       quillon::BlockReader::Window window = quillon::BlockReader::kLink);
  bool IsSelfReferencing(uint32_t offset);
  bool PassesChainStartTest(uint32_t offset, const BlockHeader& header);

  // Asks a running ExportMailbox, from any thread, to stop as soon as it can: within one read
  // window of its search or one block of its copying. It then returns E_UNEXPECTED with its
  // files closed and the message it was writing removed. The request stays until ClearAbort.
  void RequestAbort() { m_abort.store(true, std::memory_order_relaxed); }
  void ClearAbort() { m_abort.store(false, std::memory_order_relaxed); }
  bool AbortRequested() const { return m_abort.load(std::memory_order_relaxed); }

  // For callers that report: the last export's failure, and how many .eml files it wrote.
  const ExportFailure& LastFailure() const { return m_failure; }
  uint32_t FilesWritten() const { return m_filesWritten; }
  uint64_t BytesWritten() const { return m_bytesWritten; }

  // Makes every test of the file one positioned read, as the scanner was first written, instead
  // of indexing the file in one pass: for benchmarks and for checking that neither the index
  // nor the read windows change a result.
  void UseDirectReads(bool on) { m_reader.SetDirectReads(on); }

  // For tests: the state of the stages.
  const quillon::VisitedSet& Visited() const { return m_visited; }
  const quillon::MessageMap& Messages() const { return m_messages; }
  uint32_t Position() const { return m_nPos; }
  uint32_t FileSize() const { return m_nFileSize; }
  const std::string& Prefix() const { return m_strPrefix; }

 private:
  // What the search and the walks need of the 16 bytes at an offset: from the index when it
  // covers the offset, else read from the file.
  struct BlockFacts {
    uint32_t blockSize;
    uint32_t nextOffset;
    bool selfReferencing;  // the first word holds the offset
    bool usableLengths;    // 0 < dataLength <= blockSize, blockSize != 0
  };
  // False when the 16 bytes cannot be read.
  bool ReadFacts(uint32_t offset, BlockFacts* facts);
  // IsSelfReferencing, through the index when it covers the offset.
  bool LinksToBlock(uint32_t offset);
  // The first position from `from` on, in steps of 4, whose word holds itself and where `need`
  // bytes can be read; false at the first position where they cannot (the end of the file).
  bool FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found);
  // The search's tests at a position FindSelfOffset found: true when p is a chain start (*facts
  // then holds its facts); otherwise *next is where the search goes on.
  bool IsChainStart(uint32_t p, bool skipVisited, BlockFacts* facts, uint32_t* next);

  // Copies one message into `out`; false (with m_failure set) when a write failed.
  bool CopyMessage(size_t entry, quillon::OutputFile* out, const std::string& path);
  bool Flush(quillon::OutputFile* out, const std::string& path);
  bool WriteFailed(const std::string& path, const std::string& reason);

  quillon::VisitedSet m_visited;   // blocks a walk passed through and followed onwards
  quillon::MessageMap m_messages;  // first-block offset -> block list

 public:
  IExtractSink* m_pSink = nullptr;  // not owned; set by the owner before the first export

 private:
  std::unique_ptr<quillon::InputFile> m_hFile;  // the open mailbox file, or null
  uint32_t m_nPos = 0;                          // where the next search for a chain start begins
  uint32_t m_nFileSize = 0;  // low 32 bits of the mailbox file's size when opened
  std::string m_strMailboxPath;
  std::string m_strPrefix;  // backup folder, separator, mailbox file name

  quillon::FileSystem* m_files;
  quillon::BlockReader m_reader;
  quillon::BlockIndex m_index;        // built when the mailbox is opened, freed before writing
  std::vector<uint8_t> m_copyBuffer;  // pending output bytes; allocated only while writing
  size_t m_copyFill = 0;
  ExportFailure m_failure;
  uint32_t m_filesWritten = 0;
  uint64_t m_bytesWritten = 0;
  std::atomic<bool> m_abort{false};
};

#endif  // QUILLON_ENGINE_MAILBOX_EXTRACTOR_H_
