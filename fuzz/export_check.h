// One export of an in-memory mailbox, and the checks no input may break: the result is one of
// the four, no output file is left open, the engine is idle again, every byte written comes from
// the data area of a block of the mailbox, reads stay proportional to the file's size, and the
// engine's own reading writes exactly what one read per test (bench's literal reader) writes. The
// fuzzer and the unit test that replays its findings share it, so a finding fails the same way
// under g++ and clang.
#ifndef QUILLON_FUZZ_EXPORT_CHECK_H_
#define QUILLON_FUZZ_EXPORT_CHECK_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bench/literal_block_source.h"
#include "dbx/block_format.h"
#include "engine/mailbox_extractor.h"
#include "engine/testing/mailbox_builder.h"
#include "fs/testing/mem_file_system.h"

namespace quillon::fuzzing {

inline bool IsExportResult(int r) {
  return r == kExportWritten || r == kExportNoMessages || r == kExportError || r == kExportAborted;
}

// Answers whether a byte string is a concatenation of pieces of a mailbox, a piece being the whole
// copied data of some block: the dataLength bytes after a readable header at any offset, with
// 0 < dataLength <= blockSize and the data inside the file. Pieces are compared through rolling
// hashes, so a check costs one lookup per candidate piece and reachable position.
class PieceIndex {
 public:
  explicit PieceIndex(std::string_view file) : file_(file) {
    Prefix(file_, &fileHash_);
    const uint64_t n = file_.size();
    for (uint64_t x = 0; x + kBlockHeaderSize <= n && x < kReadableLimit; ++x) {
      const BlockHeader h = DecodeBlockHeader(Bytes(file_) + x);
      const uint64_t dataAt = x + kBlockHeaderSize;
      if (h.dataLength == 0 || h.dataLength > h.blockSize || dataAt + h.dataLength > n) continue;
      const Piece piece{h.dataLength, Hash(fileHash_, dataAt, h.dataLength)};
      std::vector<Piece>& bucket = buckets_[file_.substr(dataAt, KeyLength(h.dataLength))];
      // Many blocks may carry the same bytes (zeros above all); one of them is enough.
      if (std::find(bucket.begin(), bucket.end(), piece) == bucket.end()) bucket.push_back(piece);
    }
  }

  // True when `out` is such a concatenation (the empty string is one). When explaining would take
  // more than `budget` lookups (inputs shaped to make this slow), *gaveUp is set and the answer is
  // true: the check is then left to the others.
  bool Explains(std::string_view out, bool* gaveUp, uint64_t budget = uint64_t{1} << 24) const {
    std::vector<uint64_t> outHash;
    Prefix(out, &outHash);
    std::vector<bool> reach(out.size() + 1, false);
    reach[0] = true;
    uint64_t work = 0;
    for (size_t pos = 0; pos < out.size(); ++pos) {
      if (!reach[pos]) continue;
      for (size_t k = 1; k <= kMaxKey && pos + k <= out.size(); ++k) {
        const auto it = buckets_.find(out.substr(pos, k));
        if (it == buckets_.end()) continue;
        for (const Piece& p : it->second) {
          if (++work > budget) {
            *gaveUp = true;
            return true;
          }
          if (pos + p.length <= out.size() && Hash(outHash, pos, p.length) == p.hash) {
            reach[pos + p.length] = true;
          }
        }
      }
    }
    return reach[out.size()];
  }

 private:
  static constexpr size_t kMaxKey = 8;
  static constexpr uint64_t kBase = 0x100000001B3u;
  struct Piece {
    uint64_t length;
    uint64_t hash;
    bool operator==(const Piece& o) const { return length == o.length && hash == o.hash; }
  };
  // Pieces shorter than the key are keyed by all their bytes; longer ones by their first bytes.
  static size_t KeyLength(uint64_t length) {
    return static_cast<size_t>(std::min<uint64_t>(length, kMaxKey));
  }
  static const uint8_t* Bytes(std::string_view s) {
    return reinterpret_cast<const uint8_t*>(s.data());
  }
  static void Prefix(std::string_view s, std::vector<uint64_t>* h) {
    h->assign(s.size() + 1, 0);
    for (size_t i = 0; i < s.size(); ++i) (*h)[i + 1] = (*h)[i] * kBase + Bytes(s)[i] + 1;
  }
  uint64_t Power(uint64_t e) const {
    while (powers_.size() <= e) powers_.push_back(powers_.empty() ? 1 : powers_.back() * kBase);
    return powers_[e];
  }
  uint64_t Hash(const std::vector<uint64_t>& h, uint64_t at, uint64_t length) const {
    return h[at + length] - h[at] * Power(length);
  }

  std::string_view file_;
  std::vector<uint64_t> fileHash_;
  mutable std::vector<uint64_t> powers_;
  std::unordered_map<std::string_view, std::vector<Piece>> buckets_;
};

// How an input drives the export besides being the mailbox: its last byte (zero in real files, so
// their exports run plainly) and the one before it.
struct Scenario {
  Scenario() = default;  // a plain export
  explicit Scenario(std::string_view input) {
    const uint8_t t = input.empty() ? 0 : static_cast<uint8_t>(input.back());
    arg = input.size() < 2 ? 0 : static_cast<uint8_t>(input[input.size() - 2]);
    stopAtCall = (t & 0x0F) < 8 ? 0 : (t & 0x0F) - 7;  // 1..8
    output = (t >> 4) & 3;
    truncate = (t & 0x40) != 0;
    abort = (t & 0x80) != 0;
  }
  size_t stopAtCall = 0;
  int output = 0;         // 0 plain, 1 a small disk, 2 some creations fail, 3 every creation fails
  bool truncate = false;  // the mailbox shrinks to half at read arg + 1
  bool abort = false;     // an abort is requested at read arg * 4 + 1
  uint8_t arg = 0;
  std::function<void()> probe;  // called at every read and sink call, for tests that watch
};

struct ExportRun {
  int result = 0;
  std::map<std::string, std::string> outputs;
  std::vector<std::string> announced;
  uint64_t reads = 0;
  uint32_t written = 0;
  uint64_t bytes = 0;
};

// Every export's output stops at this many bytes in all: degenerate inputs can ask for far more
// (many chains that share one large last block), and the checks need it in memory.
inline constexpr uint64_t kOutputCap = uint64_t{4} << 20;

// Inputs up to this size are also exported with literal reads and compared.
inline constexpr size_t kLiteralCompareLimit = size_t{64} << 10;

inline const char kMailboxPath[] = "/mail/box.dbx";
inline const char kOutFolder[] = "/out";

inline ExportRun RunExport(std::string_view input, const Scenario& s, bool literalReads,
                           std::string* problem, bool countOnly = false) {
  MemFileSystem files;
  files.Put(kMailboxPath, std::string(input));
  files.diskCapacity = s.output == 1 ? 1 + uint64_t{s.arg} * 97 : kOutputCap;
  if (s.output == 2) {
    const uint32_t every = s.arg % 5 + 2;
    files.failCreate = [every](const std::string& path) {
      return std::stoul(path.substr(path.rfind('-') + 1)) % every == 0;
    };
  } else if (s.output == 3) {
    files.failCreate = [](const std::string&) { return true; };
  }
  RecordingSink sink(s.stopAtCall);
  struct ProbingSink final : IExtractSink {
    bool OnNextFile(const char* name) override {
      if (probe) probe();
      return inner->OnNextFile(name);
    }
    IExtractSink* inner;
    const std::function<void()>& probe;
    ProbingSink(IExtractSink* i, const std::function<void()>& p) : inner(i), probe(p) {}
  } probingSink(&sink, s.probe);
  LiteralBlockSource literal;
  CMailboxExtractor engine(&files);
  engine.m_pSink = &probingSink;
  if (literalReads) engine.UseBlockSource(&literal);
  engine.CountOnly(countOnly);
  if (s.truncate || s.abort || s.probe) {
    files.onRead = [&, reads = uint64_t{0}](uint64_t, size_t) mutable {
      ++reads;
      if (s.probe) s.probe();
      if (s.truncate && reads == uint64_t{s.arg} + 1) {
        std::string* f = files.Mutable(kMailboxPath);
        f->resize(f->size() / 2);
      }
      if (s.abort && reads == uint64_t{s.arg} * 4 + 1) engine.RequestAbort();
    };
  }

  ExportRun run;
  run.result = engine.ExportMailbox(kMailboxPath, kOutFolder);
  run.outputs = files.FilesUnder(std::string(kOutFolder) + "/");
  run.announced = sink.names;
  run.reads = files.readCalls;
  run.written = engine.FilesWritten();
  run.bytes = engine.BytesWritten();

  const auto fail = [problem](const std::string& what) {
    if (problem->empty()) *problem = what;
  };
  if (!IsExportResult(run.result)) fail("result " + std::to_string(run.result));
  if (files.openOutputs != 0) fail(std::to_string(files.openOutputs) + " output files left open");
  if (!engine.Messages().empty() || !engine.Visited().empty()) fail("engine not reset");
  if (countOnly && !run.outputs.empty()) fail("files created while counting");
  if (!countOnly && run.outputs.size() != engine.FilesWritten()) {
    fail(std::to_string(run.outputs.size()) + " files left, " +
         std::to_string(engine.FilesWritten()) + " reported written");
  }
  if (run.result == kExportNoMessages && !sink.names.empty()) fail("no messages, yet names");
  for (const auto& [path, bytes] : run.outputs) {
    const std::string name = path.substr(std::strlen(kOutFolder) + 1);
    if (std::find(sink.names.begin(), sink.names.end(), name) == sink.names.end()) {
      fail(path + " was never announced");
    }
  }
  if (s.stopAtCall != 0 && !s.abort && s.output == 0 && run.result == kExportAborted &&
      sink.names.size() != s.stopAtCall) {
    fail("stopped after " + std::to_string(sink.names.size()) + " sink calls");
  }
  if (!s.truncate && files.Get(kMailboxPath) != input) fail("the mailbox changed");
  // Per byte of the file: the three searches read at most once a 4-byte step and twice a
  // candidate, a walk once a block, a copy twice a listed block; more means rereading.
  const uint64_t bound = 8 * uint64_t{input.size()} + 64;
  if (run.reads > bound) {
    fail(std::to_string(run.reads) + " reads of a " + std::to_string(input.size()) + "-byte file");
  }
  return run;
}

// Runs `input` as a mailbox as `s` says and returns what went wrong, or the empty string.
// `compareLiteral` also exports with literal reads and compares. *gaveUp (optional) tells whether
// the byte-origin check had to give up.
inline std::string CheckExport(std::string_view input, const Scenario& s, bool compareLiteral,
                               bool* gaveUp = nullptr) {
  std::string problem;
  const ExportRun own = RunExport(input, s, false, &problem);
  if (!problem.empty()) return "the engine's reading: " + problem;

  // Truncation only cuts the file, so whatever was read came from the original bytes.
  const PieceIndex pieces(input);
  bool gave = false;
  for (const auto& [path, bytes] : own.outputs) {
    if (!pieces.Explains(bytes, &gave)) return path + " holds bytes of no block's data";
  }
  if (gaveUp) *gaveUp = gave;

  // A file that changes or an abort land at different reads in the two modes.
  if (s.truncate || s.abort) return "";
  // A dry run counts what the export writes, without reading the data. The output's faults
  // (a small disk, failing names, the cap on what the checks hold) are the real export's alone.
  if (s.output == 0 && own.result != kExportError) {
    Scenario counting = s;
    counting.probe = nullptr;
    const ExportRun counted = RunExport(input, counting, false, &problem, true);
    if (!problem.empty()) return "counting: " + problem;
    if (counted.result != own.result || counted.announced != own.announced ||
        counted.written != own.written || counted.bytes != own.bytes) {
      return "counting gives " + std::to_string(counted.written) + " files, " +
             std::to_string(counted.bytes) + " bytes; writing " + std::to_string(own.written) +
             ", " + std::to_string(own.bytes);
    }
  }
  if (!compareLiteral) return "";
  Scenario plainReads = s;
  plainReads.probe = nullptr;
  const ExportRun literal = RunExport(input, plainReads, true, &problem);
  if (!problem.empty()) return "literal reads: " + problem;
  if (literal.result != own.result) {
    return "result " + std::to_string(own.result) + " with the engine's reading, " +
           std::to_string(literal.result) + " with literal reads";
  }
  if (literal.announced != own.announced) return "names differ between the reading modes";
  if (literal.outputs != own.outputs) return "files differ between the reading modes";
  return "";
}

// The fuzzer's check: the input's trailer picks the scenario. Literal reads cost a call every
// 4 bytes, so only smaller inputs are compared with them; the damage test compares larger ones.
inline std::string CheckExport(std::string_view input) {
  return CheckExport(input, Scenario(input), input.size() <= kLiteralCompareLimit);
}

}  // namespace quillon::fuzzing

#endif  // QUILLON_FUZZ_EXPORT_CHECK_H_
