// The extraction engine: finds every message chain in one mailbox file and writes each message,
// byte for byte, to a numbered .eml file. docs/format.md describes the blocks it reads.
#ifndef QUILLON_ENGINE_MAILBOX_EXTRACTOR_H_
#define QUILLON_ENGINE_MAILBOX_EXTRACTOR_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/block_source.h"
#include "engine/block_sources.h"
#include "engine/checked_input.h"
#include "engine/export_result.h"
#include "engine/extract_sink.h"
#include "engine/message_map.h"
#include "engine/offset_set.h"
#include "engine/visited_set.h"
#include "fs/file_io.h"

// What went wrong when ExportMailbox returned kExportError; kept until the next ExportMailbox.
struct ExportFailure {
  enum Kind {
    kNone,
    kOpenMailbox,     // the mailbox file could not be opened
    kReadMailbox,     // the system failed to read the mailbox at `offset`
    kMailboxChanged,  // the mailbox ended at `offset`, before the size it had when it was opened
    kCreateFile,  // no output file could be created or put in place (kMaxCreateFailures in a row)
    kWriteFile,   // an output file could not be written; it was removed
    kNumbersExhausted,
  };
  Kind kind = kNone;
  std::string path;     // the file concerned
  std::string reason;   // the system's words, when it gave any
  uint64_t offset = 0;  // for kReadMailbox and kMailboxChanged
};

// One mailbox file at a time: ExportMailbox runs every stage and always leaves the object idle,
// ready for the next file. Not thread-safe; one thread drives it.
class CMailboxExtractor {
 public:
  // Consecutive failures to create an output file after which the export gives up with
  // kExportError, so a folder that accepts no file does not make the engine offer names without
  // end.
  static constexpr uint32_t kMaxCreateFailures = 64;
  // Data is copied from the mailbox to the .eml files through a buffer of this size.
  static constexpr size_t kCopyBufferSize = size_t{1} << 20;

  // Uses the operating system's files.
  CMailboxExtractor();
  // Uses `files` (not owned; it must outlive the extractor).
  explicit CMailboxExtractor(quillon::FileSystem* files);
  ~CMailboxExtractor();
  CMailboxExtractor(const CMailboxExtractor&) = delete;
  CMailboxExtractor& operator=(const CMailboxExtractor&) = delete;

  // Exports the mailbox file at `mailboxPath` into `backupFolder` as <folder><sep><name>-<n>.eml,
  // n counting from 1, <name> being what follows the last separator of `mailboxPath` (on Windows
  // '\\' or '/'). Returns kExportWritten (0) when messages were found and written,
  // kExportNoMessages (1) when there were none, kExportError when the mailbox cannot be opened or
  // read (a read error, or the file shrank meanwhile) or an output file cannot be created or
  // written, kExportAborted when the sink answered false or an abort was requested. m_pSink must
  // be set. Each file is written under a temporary name and takes its final name, replacing what
  // stood there, only when complete: files already written stay, the message being written when
  // the export ends leaves nothing, and no temporary file stays. The mailbox file is only ever
  // opened for reading. LastFailure() says more about a kExportError.
  int ExportMailbox(const char* mailboxPath, const char* backupFolder);

  // The stages of ExportMailbox, public so tests can look between them.

  // Stores the paths, opens the mailbox file, settles how it is read and searches for the first
  // chain start. 0 when one was found (at m_nPos), 1 when none was, kExportError when the file
  // cannot be opened or read.
  int OpenMailbox(const char* mailboxPath, const char* backupFolder);
  // Walks every chain that can be found from m_nPos on and fills the message map.
  void CollectMessages();
  // Stores a walked block list, first joining to its end the message keyed by `stopOffset`.
  void StoreChain(quillon::MessageMap::BlockList& list, uint32_t stopOffset);
  // Adds every one-block message (its next offset 0) that no chain holds: such a block never
  // passes the chain-start test, so without this pass short messages would be lost. Returns the
  // number added.
  uint32_t CollectSingleBlockMessages();
  // Writes the message map's messages in ascending key order. 0, kExportError or kExportAborted.
  int WriteMessages();
  // Back to idle: containers empty, mailbox file closed, paths empty. m_pSink is kept.
  void Reset();

  // Asks a running ExportMailbox, from any thread, to stop as soon as it can: within one read
  // window of its search or one block (or copy buffer) of its copying. It then returns
  // kExportAborted with its files closed and the message it was writing removed. The request stays
  // until ClearAbort.
  void RequestAbort() { m_abort.store(true, std::memory_order_relaxed); }
  void ClearAbort() { m_abort.store(false, std::memory_order_relaxed); }
  bool AbortRequested() const { return m_abort.load(std::memory_order_relaxed); }

  // For callers that report: the last export's failure, and how many .eml files it wrote.
  const ExportFailure& LastFailure() const { return m_failure; }
  uint32_t FilesWritten() const { return m_filesWritten; }
  uint64_t BytesWritten() const { return m_bytesWritten; }
  // Whether the last mailbox opened begins with the Outlook Express signature CF AD 12 FE. Files
  // without it are still searched; the caller may say that the file is no mailbox.
  bool HasMailboxSignature() const { return m_bSignature; }

  // For a dry run: the export creates no file and reads no message's data. It names each message
  // to the sink as usual and counts the bytes the copy would write from the headers of its blocks
  // alone (a data area that the system cannot read goes unnoticed), so counting costs a read of
  // each block's header, however much the messages would hold; none at all for a message whose
  // walk read its headers itself (a file read without the index), when no length in them could
  // end the copy early.
  void CountOnly(bool on) { m_bCountOnly = on; }

  // For benchmarks and tests: reads every mailbox through `source` (not owned; null goes back to
  // the engine's own choice), for example one positioned read per test, to measure the index and
  // the read windows against it or to check that they change no result.
  void UseBlockSource(quillon::BlockSource* source) { m_pChosenSource = source; }

  // For tests: the state of the stages.
  const quillon::VisitedSet& Visited() const { return m_visited; }
  const quillon::MessageMap& Messages() const { return m_messages; }
  // The blocks of the message keyed by `key`, in chain order, as the copy will follow them; while
  // the search's state is kept (before CollectSingleBlockMessages).
  std::vector<uint32_t> MessageBlocks(uint32_t key);
  uint32_t Position() const { return m_nPos; }
  uint32_t FileSize() const { return m_nFileSize; }

 private:
  // Opens the way of reading the file: the one handed to UseBlockSource, else the index, else
  // (for a file too dense to index) the read windows.
  quillon::BlockSource* OpenBlockSource();
  void CloseBlockSource();
  // Empties both sets of walked blocks, which may refer to the index.
  void ForgetWalkedBlocks();
  // The chain-start test on the facts of the header at p: true when p is a chain start;
  // otherwise *next is where the search goes on.
  bool IsChainStart(uint32_t p, const quillon::BlockFacts& facts, bool skipVisited, uint32_t* next);
  // A walk passed through `p` and found its successor naming no block, or none to read.
  void NoteSuccessorNotBlock(uint32_t p);
  // What the block at `offset` adds to a dry run's count, as the copy counts it, or
  // MessageMap::kUncounted when its facts do not tell.
  uint32_t CountedBytes(uint32_t offset, const quillon::BlockFacts& facts);

  // True, with m_failure set, when a read of the mailbox failed or found it shrunk.
  bool ReadFailed();
  // Copies one message into `out` (null: only counts its bytes), following its chain from its
  // key; false when a write or a read failed (m_failure set) or an abort was requested.
  bool CopyMessage(size_t entry, quillon::OutputFile* out, const std::string& path);
  bool Flush(quillon::OutputFile* out, const std::string& path);
  bool WriteFailed(const std::string& path, const std::string& reason);
  // Counts a name that could not be created or taken. True, with m_failure set, when that makes
  // kMaxCreateFailures in a row.
  bool TooManyNameFailures(uint32_t* failures, const std::string& path, const std::string& reason);

  quillon::VisitedSet m_visited;   // blocks a walk passed through and followed onwards
  quillon::MessageMap m_messages;  // first-block offset -> number of blocks
  // The last block of every walk that ended on a block naming itself, which the walk did not
  // visit: the pass for one-block messages skips them.
  quillon::VisitedSet m_chainEnds;
  // Walked blocks whose successor does not name itself: for every other walked block the search
  // knows the successor test's answer without reading the successor again. Few in any file (one
  // per walk at most); past the cap the search reads again, as it would without them.
  static constexpr size_t kMaxSuccessorNotes = size_t{1} << 18;
  quillon::SparseOffsetSet m_successorNotBlock{kMaxSuccessorNotes};
  bool m_successorNotesWhole = true;  // false once the cap was reached
  // The largest data length of a block counted by the walks: a count from them is the copy's
  // when it leaves room for this much in the file (the copy ends a message at a length that would
  // take it past the file's size).
  uint32_t m_maxCountedLength = 0;

 public:
  IExtractSink* m_pSink = nullptr;  // not owned; set by the owner before the first export

 private:
  std::unique_ptr<quillon::InputFile> m_hFile;  // the open mailbox file, or null
  quillon::CheckedInput m_input;                // m_hFile as every reader reads it
  uint32_t m_nPos = 0;                          // where the next search for a chain start begins
  uint32_t m_nFileSize = 0;  // the mailbox file's size when opened, capped at 0xFFFFFFFF
  bool m_bSignature = false;
  bool m_bCountOnly = false;
  std::string m_strMailboxPath;
  std::string m_strPrefix;  // backup folder, separator, mailbox file name
  size_t m_nameAt = 0;      // where the mailbox file name begins in m_strPrefix

  quillon::FileSystem* m_files;
  quillon::WindowedBlockSource m_windows;
  quillon::IndexedBlockSource m_indexed{&m_windows};  // its index is freed before writing
  quillon::BlockSource* m_pChosenSource = nullptr;    // from UseBlockSource
  quillon::BlockSource* m_blocks = nullptr;           // how the open mailbox is read
  std::vector<uint8_t> m_copyBuffer;  // pending output bytes; allocated only while writing
  size_t m_copyFill = 0;
  ExportFailure m_failure;
  uint32_t m_filesWritten = 0;
  uint64_t m_bytesWritten = 0;
  std::atomic<bool> m_abort{false};
};

#endif  // QUILLON_ENGINE_MAILBOX_EXTRACTOR_H_
