#include "engine/mailbox_extractor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

using quillon::BlockIndex;
using quillon::BlockReader;
using quillon::MessageMap;
using quillon::OutputFile;

namespace {

// Blocks in real files are 0x210 bytes; the offsets of a file's blocks get room for that many.
constexpr uint32_t kTypicalBlockSpan = 0x210;

bool HasUsableLengths(const BlockHeader& h) {
  return h.dataLength <= h.blockSize && h.dataLength != 0 && h.blockSize != 0;
}

}  // namespace

CMailboxExtractor::CMailboxExtractor() : CMailboxExtractor(quillon::PlatformFileSystem()) {}

CMailboxExtractor::CMailboxExtractor(quillon::FileSystem* files)
    : m_visited(&m_index), m_files(files) {
  m_reader.SetAbortFlag(&m_abort);
}

CMailboxExtractor::~CMailboxExtractor() { Reset(); }

bool CMailboxExtractor::ReadBlockHeader(uint32_t offset, BlockHeader* header,
                                        BlockReader::Window window) {
  const uint8_t* bytes = m_reader.Peek(offset, quillon::kBlockHeaderSize, window);
  if (!bytes) return false;
  *header = quillon::DecodeBlockHeader(bytes);
  return true;
}

bool CMailboxExtractor::IsSelfReferencing(uint32_t offset) {
  const uint8_t* bytes = m_reader.Peek(offset, 4, BlockReader::kLink);
  return bytes && quillon::LoadLE32(bytes) == offset;
}

bool CMailboxExtractor::PassesChainStartTest(uint32_t offset, const BlockHeader& header) {
  return header.selfOffset == offset && IsSelfReferencing(header.nextOffset) &&
         HasUsableLengths(header);
}

bool CMailboxExtractor::ReadFacts(uint32_t offset, BlockFacts* facts) {
  if (m_index.active() && offset % 4 == 0) {
    if (offset >= quillon::kReadableLimit) return false;
    if (const BlockIndex::Entry* e = m_index.Find(offset)) {
      if (!(e->tagged & BlockIndex::kHeaderReadable)) return false;
      *facts =
          BlockFacts{e->blockSize, e->next, true, (e->tagged & BlockIndex::kUsableLengths) != 0};
      return true;
    }
    // Not a block of its own; only whether its header can be read matters.
    if (uint64_t{offset} + quillon::kBlockHeaderSize > m_index.FileEnd()) return false;
    *facts = BlockFacts{0, 0, false, false};
    return true;
  }
  BlockHeader h;
  if (!ReadBlockHeader(offset, &h)) return false;
  *facts = BlockFacts{h.blockSize, h.nextOffset, h.selfOffset == offset, HasUsableLengths(h)};
  return true;
}

bool CMailboxExtractor::LinksToBlock(uint32_t offset) {
  if (m_index.active() && offset % 4 == 0) {
    return offset < quillon::kReadableLimit && m_index.Find(offset) != nullptr;
  }
  return IsSelfReferencing(offset);
}

bool CMailboxExtractor::FindSelfOffset(uint32_t from, uint32_t need, uint32_t* found) {
  if (m_index.active() && from % 4 == 0) {
    const BlockIndex::Entry* e = m_index.FirstFrom(from);
    // Only the last 15 bytes of the file hold positions whose header cannot be read whole.
    if (e == nullptr || (need > 4 && !(e->tagged & BlockIndex::kHeaderReadable))) return false;
    *found = BlockIndex::OffsetOf(*e);
    return true;
  }
  return m_reader.FindSelfOffset(from, need, found);
}

bool CMailboxExtractor::IsChainStart(uint32_t p, bool skipVisited, BlockFacts* facts,
                                     uint32_t* next) {
  // No block at p: move on by one word.
  if (!ReadFacts(p, facts) || !facts->selfReferencing || !LinksToBlock(facts->nextOffset)) {
    *next = p + 4;
    return false;
  }
  // A block that cannot begin a message, or was walked already: skip it whole.
  if (!facts->usableLengths || (skipVisited && m_visited.Contains(p))) {
    *next = quillon::PositionAfterBlock(p, facts->blockSize);
    return false;
  }
  return true;
}

int CMailboxExtractor::OpenMailbox(const char* mailboxPath, const char* backupFolder) {
  m_strMailboxPath = mailboxPath;
  const char* name = std::strrchr(mailboxPath, quillon::kPathSeparator);
  m_strPrefix = backupFolder;
  m_strPrefix += quillon::kPathSeparator;
  m_strPrefix += name ? name + 1 : mailboxPath;

  m_reader.Attach(nullptr);
  m_visited.Clear();
  m_index.Clear();
  m_hFile.reset();
  std::string reason;
  m_hFile = m_files->OpenForReading(m_strMailboxPath, &reason);
  if (!m_hFile) {
    m_failure = ExportFailure{ExportFailure::kOpenMailbox, m_strMailboxPath, reason};
    return E_FAIL;
  }
  m_nPos = 0;
  m_nFileSize = m_hFile->SizeLow32();
  m_reader.Attach(m_hFile.get());
  if (!m_reader.DirectReads()) {
    m_index.Build(&m_reader, m_nFileSize, m_nFileSize / kIndexBytesPerEntry + kIndexMinEntries);
  }
  m_messages.Reserve(m_nFileSize / kTypicalBlockSpan + 16);

  // The first search: the four bytes at p must hold p before anything else is read there.
  BlockFacts facts;
  for (uint32_t p = 0; FindSelfOffset(p, 4, &p);) {
    uint32_t next;
    if (IsChainStart(p, false, &facts, &next)) {
      m_nPos = p;
      break;
    }
    p = next;
  }
  // A start accepted at offset 0 leaves m_nPos at 0 and so counts as none.
  return m_nPos != 0 ? 0 : 1;
}

int CMailboxExtractor::CollectMessages() {
  BlockFacts h;
  if (!ReadFacts(m_nPos, &h)) return 0;
  uint32_t cur = m_nPos;
  // The next search resumes right after the chain start, not after the whole chain.
  m_nPos = quillon::PositionAfterBlock(cur, h.blockSize);
  for (;;) {
    // Walk the chain that starts at cur, whose facts are h.
    MessageMap::BlockList list = m_messages.BeginList();
    for (;;) {
      if (AbortRequested()) {
        m_messages.Discard(list);
        return 0;
      }
      if (h.nextOffset == 0 || !h.selfReferencing) {
        m_messages.Append(list, cur);  // the message's last block
        StoreChain(list, 0);
        break;
      }
      if (!m_visited.Insert(cur)) {
        // Reached blocks walked before: join the message they begin, if they begin one.
        StoreChain(list, cur);
        break;
      }
      m_messages.Append(list, cur);
      cur = h.nextOffset;
      if (!ReadFacts(cur, &h)) {
        // A link into nothing: drop the walk; its blocks stay visited.
        m_messages.Discard(list);
        break;
      }
    }

    // Search for the next chain start from m_nPos.
    for (;;) {
      uint32_t p, next;
      if (!FindSelfOffset(m_nPos, quillon::kBlockHeaderSize, &p)) return 0;
      if (IsChainStart(p, true, &h, &next)) {
        cur = p;
        m_nPos = quillon::PositionAfterBlock(p, h.blockSize);
        break;
      }
      m_nPos = next;
    }
  }
}

int CMailboxExtractor::StoreChain(MessageMap::BlockList& list, uint32_t stopOffset) {
  m_messages.Store(list, stopOffset);
  return 0;
}

uint32_t CMailboxExtractor::CollectSingleBlockMessages() {
  // A chain's last block is the one block of each walk that is not in the visited set; with it
  // added, the set holds every block of every message found so far.
  m_messages.ForEachRunEnd([this](uint32_t offset) { m_visited.Insert(offset); });
  uint32_t added = 0;
  const auto consider = [&](uint32_t offset) {
    if (!m_visited.Contains(offset)) {
      m_messages.AddSingle(offset);
      ++added;
    }
  };
  if (m_index.active()) {
    constexpr uint32_t kOneBlock = BlockIndex::kHeaderReadable | BlockIndex::kUsableLengths;
    for (const BlockIndex::Entry& e : m_index) {
      const uint32_t q = BlockIndex::OffsetOf(e);
      if (q >= 4 && (e.tagged & kOneBlock) == kOneBlock && e.next == 0) consider(q);
    }
  } else {
    // Read one-block messages straight from the file: every 4-aligned offset from 4 on.
    for (uint32_t p = 4; m_reader.FindSelfOffset(p, quillon::kBlockHeaderSize, &p); p += 4) {
      BlockHeader h;
      if (ReadBlockHeader(p, &h) && h.nextOffset == 0 && HasUsableLengths(h)) consider(p);
    }
  }
  m_messages.FinishSingles();
  // Writing needs only the message map. The visited set refers to the index: it goes first.
  m_visited.Clear();
  m_index.Clear();
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
  bool ok = true;
  m_messages.ForEachBlock(entry, [&](uint32_t offset) {
    if (AbortRequested()) return ok = false;
    // Messages are copied in ascending order of their first block and their blocks stay near
    // each other, so the copy's windows serve headers and data alike.
    BlockHeader h;
    if (!ReadBlockHeader(offset, &h, BlockReader::kCopy)) return true;  // contributes nothing
    if (h.dataLength > m_nFileSize || h.dataLength > h.blockSize) return false;  // message ends
    const uint64_t dataAt = uint64_t{offset} + quillon::kBlockHeaderSize;
    if (h.dataLength == 0 || dataAt >= quillon::kReadableLimit) return true;

    if (h.dataLength <= BlockReader::kScanWindowSize) {
      const uint8_t* data =
          m_reader.Peek(static_cast<uint32_t>(dataAt), h.dataLength, BlockReader::kCopy);
      if (!data) return true;  // the file ends first: contributes nothing
      for (uint32_t done = 0; done < h.dataLength;) {
        if (m_copyFill == m_copyBuffer.size() && !(ok = Flush(out, path))) return false;
        const size_t n = std::min<size_t>(h.dataLength - done, m_copyBuffer.size() - m_copyFill);
        std::memcpy(m_copyBuffer.data() + m_copyFill, data + done, n);
        m_copyFill += n;
        done += static_cast<uint32_t>(n);
      }
      return true;
    }

    // More than a window: stream it through the copy buffer. The last byte is read first so a
    // block that the file cuts short contributes nothing, as one read of the whole would.
    uint8_t last;
    if (!m_reader.ReadExact(dataAt + h.dataLength - 1, &last, 1)) return true;
    for (uint64_t done = 0; done < h.dataLength;) {
      if (AbortRequested()) return ok = false;
      if (m_copyFill == m_copyBuffer.size() && !(ok = Flush(out, path))) return false;
      const size_t n = static_cast<size_t>(
          std::min<uint64_t>(h.dataLength - done, m_copyBuffer.size() - m_copyFill));
      // A file that shrinks meanwhile leaves the block cut where the shrink met it.
      if (!m_reader.ReadExact(dataAt + done, m_copyBuffer.data() + m_copyFill, n)) return true;
      m_copyFill += n;
      done += n;
    }
    return true;
  });
  return ok && Flush(out, path);
}

int CMailboxExtractor::WriteMessages() {
  if (m_messages.empty()) return 0;
  m_copyBuffer.resize(kCopyBufferSize);
  m_copyFill = 0;
  // The sink sees the name after the last separator: the mailbox file's name, "-", n, ".eml".
  const size_t nameAt = m_strPrefix.rfind(quillon::kPathSeparator) + 1;
  int result = 0;
  uint32_t n = 1;
  uint32_t createFailures = 0;
  for (size_t i = 0; i < m_messages.EntryCount() && result == 0; ++i) {
    if (!m_messages.EntryLive(i)) continue;
    for (;;) {
      char number[24];
      std::snprintf(number, sizeof number, "-%u.eml", n);
      const std::string path = m_strPrefix + number;
      const uint32_t m = n + 1;
      if (AbortRequested() || !m_pSink->OnNextFile(path.c_str() + nameAt)) {
        result = E_UNEXPECTED;
        break;
      }
      std::string reason;
      std::unique_ptr<OutputFile> out = m_files->CreateOrTruncate(path, &reason);
      if (!out) {
        if (m == 0 || ++createFailures >= kMaxCreateFailures) {
          m_failure = ExportFailure{
              m == 0 ? ExportFailure::kNumbersExhausted : ExportFailure::kCreateFile, path, reason};
          result = E_FAIL;
          break;
        }
        n = m;  // the same message goes under the next number
        continue;
      }
      createFailures = 0;
      if (m == 0) {
        out->Close(&reason);
        m_failure = ExportFailure{ExportFailure::kNumbersExhausted, path, ""};
        result = E_FAIL;
        break;
      }
      bool written;
      try {
        written =
            CopyMessage(i, out.get(), path) && (out->Close(&reason) || WriteFailed(path, reason));
      } catch (...) {
        out.reset();
        m_files->Remove(path);
        throw;
      }
      if (!written) {
        // Never leave a file that looks like a whole message but is not.
        out.reset();
        m_files->Remove(path);
        result = AbortRequested() && m_failure.kind == ExportFailure::kNone ? E_UNEXPECTED : E_FAIL;
        break;
      }
      ++m_filesWritten;
      n = m;
      break;
    }
  }
  std::vector<uint8_t>().swap(m_copyBuffer);
  m_copyFill = 0;
  return result;
}

void CMailboxExtractor::Reset() {
  m_visited.Clear();
  m_index.Clear();
  m_messages.Clear();
  m_reader.Release();
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
    if (AbortRequested()) {
      Reset();
      return E_UNEXPECTED;
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
