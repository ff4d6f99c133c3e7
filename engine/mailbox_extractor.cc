#include "engine/mailbox_extractor.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "dbx/block_format.h"

using quillon::BlockFacts;
using quillon::BlockHeader;
using quillon::BlockSource;
using quillon::MessageMap;
using quillon::OutputFile;

namespace {

// Blocks in real files are 0x210 bytes; the offsets of a file's blocks get room for that many.
constexpr uint32_t kTypicalBlockSpan = 0x210;

}  // namespace

CMailboxExtractor::CMailboxExtractor() : CMailboxExtractor(quillon::PlatformFileSystem()) {}

CMailboxExtractor::CMailboxExtractor(quillon::FileSystem* files) : m_files(files) {}

CMailboxExtractor::~CMailboxExtractor() { Reset(); }

BlockSource* CMailboxExtractor::OpenBlockSource() {
  quillon::InputFile* file = &m_input;
  if (m_pChosenSource != nullptr && m_pChosenSource->Open(file, m_nFileSize, &m_abort)) {
    return m_pChosenSource;
  }
  if (m_indexed.Open(file, m_nFileSize, &m_abort)) {
    m_visited.UseIndex(m_indexed.index());
    m_chainEnds.UseIndex(m_indexed.index());
    return &m_indexed;
  }
  return &m_windows;  // which the index left open on the file
}

void CMailboxExtractor::ForgetWalkedBlocks() {
  for (quillon::VisitedSet* set : {&m_visited, &m_chainEnds}) {
    set->Clear();
    set->UseIndex(nullptr);
  }
  m_successorNotBlock.Clear();
  m_successorNotesWhole = true;
}

void CMailboxExtractor::CloseBlockSource() {
  // The sets of blocks may refer to the index: they go first.
  ForgetWalkedBlocks();
  if (m_blocks != nullptr) m_blocks->Close();
  m_blocks = nullptr;
}

bool CMailboxExtractor::IsChainStart(uint32_t p, const BlockFacts& facts, bool skipVisited,
                                     uint32_t* next) {
  // A walked block: its walk read the successor and found it naming itself, unless noted
  // otherwise, so the test below would skip the block whole. On a file too dense to index, that
  // read is a system call per block.
  if (skipVisited && facts.selfReferencing && m_successorNotesWhole && m_visited.Contains(p) &&
      !m_successorNotBlock.Contains(p)) {
    *next = quillon::PositionAfterBlock(p, facts.blockSize);
    return false;
  }
  // No block at p: move on by one word.
  if (!facts.selfReferencing || !m_blocks->IsSelfReferencing(facts.nextOffset)) {
    *next = p + 4;
    return false;
  }
  // A block that cannot begin a message, or was walked already: skip it whole.
  if (!facts.usableLengths || (skipVisited && m_visited.Contains(p))) {
    *next = quillon::PositionAfterBlock(p, facts.blockSize);
    return false;
  }
  return true;
}

void CMailboxExtractor::NoteSuccessorNotBlock(uint32_t p) {
  if (m_successorNotesWhole && !m_successorNotBlock.Insert(p)) {
    m_successorNotesWhole = false;
    m_successorNotBlock.Clear();
  }
}

uint32_t CMailboxExtractor::CountedBytes(uint32_t offset, const BlockFacts& facts) {
  // A length beyond the block's size ends the message's copy: the copy counts that one.
  if (!facts.dataLengthKnown || facts.dataLength > facts.blockSize) return MessageMap::kUncounted;
  m_maxCountedLength = std::max(m_maxCountedLength, facts.dataLength);
  const uint64_t dataAt = uint64_t{offset} + quillon::kBlockHeaderSize;
  if (facts.dataLength == 0 || dataAt >= quillon::kReadableLimit ||
      dataAt + facts.dataLength > m_nFileSize) {
    return 0;
  }
  return facts.dataLength;
}

bool CMailboxExtractor::ReadFailed() {
  using Problem = quillon::CheckedInput::Problem;
  if (m_input.problem() == Problem::kNone) return false;
  m_failure =
      ExportFailure{m_input.problem() == Problem::kReadError ? ExportFailure::kReadMailbox
                                                             : ExportFailure::kMailboxChanged,
                    m_strMailboxPath, m_input.reason(), m_input.problemOffset()};
  return true;
}

int CMailboxExtractor::OpenMailbox(const char* mailboxPath, const char* backupFolder) {
  m_strMailboxPath = mailboxPath;
  const size_t separator = m_strMailboxPath.find_last_of(quillon::kPathSeparators);
  m_strPrefix = backupFolder;
  m_strPrefix += quillon::kPathSeparator;
  m_nameAt = m_strPrefix.size();
  m_strPrefix.append(m_strMailboxPath, separator == std::string::npos ? 0 : separator + 1);

  CloseBlockSource();
  m_input.Attach(nullptr, 0);
  m_hFile.reset();
  m_bSignature = false;
  std::string reason;
  m_hFile = m_files->OpenForReading(m_strMailboxPath, &reason);
  if (!m_hFile) {
    m_failure = ExportFailure{ExportFailure::kOpenMailbox, m_strMailboxPath, reason};
    return quillon::kExportError;
  }
  m_nPos = 0;
  m_maxCountedLength = 0;
  m_nFileSize = quillon::CappedSize(m_hFile->Size());
  m_input.Attach(m_hFile.get(), m_nFileSize);
  uint8_t head[4];
  size_t got = 0;
  m_bSignature = m_input.ReadAt(0, head, sizeof head, &got, &reason) && got == sizeof head &&
                 std::memcmp(head, "\xCF\xAD\x12\xFE", sizeof head) == 0;
  m_blocks = OpenBlockSource();
  m_messages.Reserve(m_nFileSize / kTypicalBlockSpan + 16);

  // The first search: the four bytes at p must hold p before anything else is read there.
  for (uint32_t p = 0; m_blocks->FindSelfOffset(p, 4, &p);) {
    BlockFacts facts;
    uint32_t next = p + 4;
    if (m_blocks->ReadFacts(p, &facts) && IsChainStart(p, facts, false, &next)) {
      m_nPos = p;
      break;
    }
    p = next;
  }
  if (ReadFailed()) return quillon::kExportError;
  // A start accepted at offset 0 leaves m_nPos at 0 and so counts as none.
  return m_nPos != 0 ? 0 : 1;
}

void CMailboxExtractor::CollectMessages() {
  BlockFacts h;
  if (!m_blocks->ReadFacts(m_nPos, &h)) return;
  uint32_t cur = m_nPos;
  // The next search resumes right after the chain start, not after the whole chain.
  m_nPos = quillon::PositionAfterBlock(cur, h.blockSize);
  for (;;) {
    // Walk the chain that starts at cur, whose facts are h.
    MessageMap::BlockList list = m_messages.BeginList();
    bool walked = false;  // whether a block was passed through, at `previous`
    uint32_t previous = 0;
    for (;;) {
      if (AbortRequested()) {
        m_messages.Discard(list);
        return;
      }
      if (h.nextOffset == 0 || !h.selfReferencing) {
        m_messages.Append(list, cur);  // the message's last block
        m_messages.AddBytes(list, CountedBytes(cur, h));
        // Left out of the visited set so that other walks may end here too; the pass for
        // one-block messages must still know it belongs to a message. Only a block that names
        // itself can be taken for one.
        if (h.selfReferencing) {
          m_chainEnds.Insert(cur);
        } else if (walked) {
          NoteSuccessorNotBlock(previous);
        }
        StoreChain(list, 0);
        break;
      }
      if (!m_visited.Insert(cur)) {
        // Reached blocks walked before: join the message they begin, if they begin one.
        StoreChain(list, cur);
        break;
      }
      m_messages.Append(list, cur);
      m_messages.AddBytes(list, CountedBytes(cur, h));
      walked = true;
      previous = cur;
      cur = h.nextOffset;
      if (!m_blocks->ReadFacts(cur, &h)) {
        // A link into nothing: drop the walk; its blocks stay visited.
        NoteSuccessorNotBlock(previous);
        m_messages.Discard(list);
        break;
      }
    }

    // Search for the next chain start from m_nPos.
    for (;;) {
      uint32_t p, next;
      if (!m_blocks->FindBlock(m_nPos, &p, &h)) return;
      if (IsChainStart(p, h, true, &next)) {
        cur = p;
        m_nPos = quillon::PositionAfterBlock(p, h.blockSize);
        break;
      }
      m_nPos = next;
    }
  }
}

std::vector<uint32_t> CMailboxExtractor::MessageBlocks(uint32_t key) {
  std::vector<uint32_t> offsets;
  uint32_t offset = key;
  BlockFacts facts;
  for (uint32_t k = m_messages.Blocks(key); k > 0 && m_blocks->ReadFacts(offset, &facts); --k) {
    offsets.push_back(offset);
    offset = facts.nextOffset;
  }
  return offsets;
}

void CMailboxExtractor::StoreChain(MessageMap::BlockList& list, uint32_t stopOffset) {
  m_messages.Store(list, stopOffset);
}

uint32_t CMailboxExtractor::CollectSingleBlockMessages() {
  // A chain's last block is the one block of each walk that is not in the visited set: with the
  // chain ends, the two hold every block of every message found so far.
  uint32_t added = 0;
  // Every block at a 4-aligned offset from 4 on whose header can be read.
  BlockFacts facts;
  for (uint32_t p = 4; m_blocks->FindBlock(p, &p, &facts); p += 4) {
    if (facts.nextOffset == 0 && facts.usableLengths && !m_visited.Contains(p) &&
        !m_chainEnds.Contains(p)) {
      m_messages.AddSingle(p);
      ++added;
    }
  }
  m_messages.FinishSingles();
  // Writing needs only the message map. The sets of blocks may refer to the index: they go first.
  ForgetWalkedBlocks();
  m_blocks->EndSearch();
  return added;
}

bool CMailboxExtractor::WriteFailed(const std::string& path, const std::string& reason) {
  m_failure = ExportFailure{ExportFailure::kWriteFile, path, reason};
  return false;
}

bool CMailboxExtractor::Flush(OutputFile* out, const std::string& path) {
  if (m_copyFill == 0) return true;
  std::string reason;
  if (!out->Write(m_copyBuffer.data(), m_copyFill, &reason)) return WriteFailed(path, reason);
  m_bytesWritten += m_copyFill;
  m_copyFill = 0;
  return true;
}

bool CMailboxExtractor::CopyMessage(size_t entry, OutputFile* out, const std::string& path) {
  // The message's blocks are the chain from its key, followed as the walk that found it did.
  uint32_t offset = m_messages.EntryKey(entry);
  const uint32_t blocks = m_messages.EntryBlocks(entry);
  // Counting only: the walks summed the blocks' lengths as this loop would, when they knew them
  // all and no length could end the message early.
  const uint32_t counted = !out && blocks >= MessageMap::kMinCountedBlocks
                               ? m_messages.EntryBytes(entry)
                               : MessageMap::kUncounted;
  if (counted != MessageMap::kUncounted && uint64_t{counted} + m_maxCountedLength <= m_nFileSize) {
    m_bytesWritten += counted;
    return true;
  }
  // What the message holds so far: never more than the mailbox file, however its blocks overlap.
  uint64_t copied = 0;
  for (uint32_t k = 0; k < blocks; ++k) {
    if (AbortRequested()) return false;
    // Messages are copied in ascending order of their first block and their blocks stay near
    // each other, so the copy's windows serve headers and data alike.
    const uint8_t* header = m_blocks->PeekForCopy(offset, quillon::kBlockHeaderSize, k == 0);
    // The walk read this header. Now it cannot be read: the file changed, and where the chain
    // went on is not known any more.
    if (!header) {
      if (ReadFailed()) return false;
      break;
    }
    const BlockHeader h = quillon::DecodeBlockHeader(header);
    // A length no file could hold ends the message, as does one that would take the message
    // past the size of the whole mailbox file.
    if (h.dataLength > m_nFileSize - copied || h.dataLength > h.blockSize) break;
    const uint32_t at = offset;
    offset = h.nextOffset;
    const uint64_t dataAt = uint64_t{at} + quillon::kBlockHeaderSize;
    if (h.dataLength == 0 || dataAt >= quillon::kReadableLimit) continue;
    if (!out) {
      // Counting only: the data is there to copy when the file holds all of it.
      if (dataAt + h.dataLength > m_nFileSize) continue;
      copied += h.dataLength;
      m_bytesWritten += h.dataLength;
      continue;
    }

    if (h.dataLength <= BlockSource::kMaxPeek) {
      const uint8_t* data =
          m_blocks->PeekForCopy(static_cast<uint32_t>(dataAt), h.dataLength, k == 0);
      if (!data) {
        if (ReadFailed()) return false;
        continue;  // the file ends first: contributes nothing
      }
      copied += h.dataLength;
      for (uint32_t done = 0; done < h.dataLength;) {
        if (m_copyFill == m_copyBuffer.size() && !Flush(out, path)) return false;
        const size_t n = std::min<size_t>(h.dataLength - done, m_copyBuffer.size() - m_copyFill);
        std::memcpy(m_copyBuffer.data() + m_copyFill, data + done, n);
        m_copyFill += n;
        done += static_cast<uint32_t>(n);
      }
      continue;
    }

    // More than a window: stream it through the copy buffer. The last byte is read first so a
    // block that the file cuts short contributes nothing, as one read of the whole would.
    uint8_t last;
    if (!m_blocks->ReadExact(dataAt + h.dataLength - 1, &last, 1)) {
      if (ReadFailed()) return false;
      continue;
    }
    copied += h.dataLength;
    for (uint64_t done = 0; done < h.dataLength;) {
      if (AbortRequested()) return false;
      if (m_copyFill == m_copyBuffer.size() && !Flush(out, path)) return false;
      const size_t n = static_cast<size_t>(
          std::min<uint64_t>(h.dataLength - done, m_copyBuffer.size() - m_copyFill));
      // A file that shrinks meanwhile fails the mailbox; past the size it had when opened (it
      // grew, then shrank again) the block is left cut where the shrink met it.
      if (!m_blocks->ReadExact(dataAt + done, m_copyBuffer.data() + m_copyFill, n)) {
        if (ReadFailed()) return false;
        break;
      }
      m_copyFill += n;
      done += n;
    }
  }
  return !out || Flush(out, path);
}

bool CMailboxExtractor::TooManyNameFailures(uint32_t* failures, const std::string& path,
                                            const std::string& reason) {
  if (++*failures < kMaxCreateFailures) return false;
  m_failure = ExportFailure{ExportFailure::kCreateFile, path, reason};
  return true;
}

int CMailboxExtractor::WriteMessages() {
  if (m_messages.empty()) return 0;
  if (!m_bCountOnly) m_copyBuffer.resize(kCopyBufferSize);
  m_copyFill = 0;
  int result = 0;
  uint32_t n = 1;
  uint32_t nameFailures = 0;
  // One string, and no printf, for every name: a hostile file holds tens of millions.
  std::string path;
  for (size_t i = 0; i < m_messages.EntryCount() && result == 0; ++i) {
    if (!m_messages.EntryLive(i)) continue;
    for (;;) {
      char number[16];
      const char* end = std::to_chars(number, number + sizeof number, n).ptr;
      path.assign(m_strPrefix)
          .append("-")
          .append(number, static_cast<size_t>(end - number))
          .append(".eml");
      const uint32_t m = n + 1;
      // The sink sees the name without the folder: the mailbox file's name, "-", n, ".eml".
      if (AbortRequested() || !m_pSink->OnNextFile(path.c_str() + m_nameAt)) {
        result = quillon::kExportAborted;
        break;
      }
      if (m == 0) {
        m_failure = ExportFailure{ExportFailure::kNumbersExhausted, path, ""};
        result = quillon::kExportError;
        break;
      }
      if (m_bCountOnly) {
        if (!CopyMessage(i, nullptr, path)) {
          result = ReadFailed() ? quillon::kExportError : quillon::kExportAborted;
          break;
        }
        ++m_filesWritten;
        n = m;
        break;
      }
      // The file is written under a temporary name and destroyed with `out` unless it was put in
      // place: an error, an abort or an exception leaves neither a part of a message nor a
      // temporary file.
      std::string reason;
      std::unique_ptr<OutputFile> out = m_files->CreateReplacing(path, &reason);
      if (out) {
        bool written = CopyMessage(i, out.get(), path);
        if (written && !out->Close(&reason)) written = WriteFailed(path, reason);
        if (!written) {
          result = AbortRequested() && m_failure.kind == ExportFailure::kNone
                       ? quillon::kExportAborted
                       : quillon::kExportError;
          break;
        }
        if (out->Place(&reason)) {
          nameFailures = 0;
          ++m_filesWritten;
          n = m;
          break;
        }
      }
      // The file could not be created, or its name not taken (a folder of that name, a file that
      // may not be replaced). Neither says anything about the next name, so the message goes
      // under the next number, as a failed creation always did; a folder that takes no file at
      // all ends the export after kMaxCreateFailures names in a row.
      if (TooManyNameFailures(&nameFailures, path, reason)) {
        result = quillon::kExportError;
        break;
      }
      n = m;
    }
  }
  std::vector<uint8_t>().swap(m_copyBuffer);
  m_copyFill = 0;
  return result;
}

void CMailboxExtractor::Reset() {
  CloseBlockSource();
  m_messages.Clear();
  m_input.Attach(nullptr, 0);
  m_hFile.reset();
  m_strMailboxPath.clear();
  m_strPrefix.clear();
}

int CMailboxExtractor::ExportMailbox(const char* mailboxPath, const char* backupFolder) {
  m_failure = ExportFailure{};
  m_filesWritten = 0;
  m_bytesWritten = 0;
  try {
    int r = OpenMailbox(mailboxPath, backupFolder);
    if (r != 0 && r != 1) {
      Reset();
      return r;
    }
    if (r == 0) CollectMessages();
    if (!AbortRequested()) CollectSingleBlockMessages();
    // A read that failed during the search leaves what was found incomplete: nothing is written.
    if (ReadFailed()) {
      Reset();
      return quillon::kExportError;
    }
    if (AbortRequested()) {
      Reset();
      return quillon::kExportAborted;
    }
    if (m_messages.empty()) {
      Reset();
      return 1;
    }
    r = WriteMessages();
    Reset();
    return r;
  } catch (...) {
    std::vector<uint8_t>().swap(m_copyBuffer);
    Reset();
    throw;
  }
}
