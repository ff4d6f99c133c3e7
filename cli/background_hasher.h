// SHA-256 of each message written, computed on a thread of its own so that hashing runs beside
// the reading and writing instead of after it: on a large export it is a third of the work.
#ifndef QUILLON_CLI_BACKGROUND_HASHER_H_
#define QUILLON_CLI_BACKGROUND_HASHER_H_

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "hash/digest.h"

namespace quillon {

// Messages are hashed in the order they are begun; their digests come back in that order. One
// thread feeds it (Begin, Update, End, Take...). The messages' bytes go one after another into
// pieces of kPieceBytes, and a piece goes to the hashing thread when it is full, or when a digest
// still in it is asked for: a folder of short messages costs the threads one hand-over per
// piece, not several per message. Memory is kPieces pieces; a feeder that gets ahead waits for
// one to come free.
class BackgroundHasher {
 public:
  static constexpr size_t kPieceBytes = size_t{256} << 10;
  static constexpr size_t kPieces = 16;

  BackgroundHasher();
  ~BackgroundHasher();
  BackgroundHasher(const BackgroundHasher&) = delete;
  BackgroundHasher& operator=(const BackgroundHasher&) = delete;

  // The bytes of one message, in order, between Begin and End. `then`, when given, is called
  // with the message's digest as soon as it is known, on the hashing thread, before Take gives
  // that digest: work that needs the digest can be done there rather than on the feeding thread.
  using Then = std::function<void(const Sha256Digest& digest)>;
  void Begin();
  void Update(const uint8_t* bytes, size_t size);
  void End(Then then = {});

  // Update for a caller that writes the bytes too: they are handed to `sink` from the piece
  // they were copied into, a piece at a time as it fills (Pass gives the rest before End), so
  // the writer sees a few large pieces instead of every small chunk, and nothing is copied
  // twice. False once the sink refused; it is not called again for this message.
  using PieceSink = std::function<bool(const uint8_t* bytes, size_t size)>;
  bool Gather(const uint8_t* bytes, size_t size, const PieceSink& sink);
  bool Pass(const PieceSink& sink);

  // True when the oldest message not yet taken has its digest, without waiting: asked after
  // every message, it looks at that one only (counting every ready one made a feeder that took
  // them one by one count them all each time).
  bool Ready();
  // The digest of the oldest ended message not yet taken; waits for it. At least one message
  // must have ended and not been taken.
  Sha256Digest Take();

 private:
  // Where a message ends in a piece, which one it is, and what to do with its digest.
  struct Mark {
    size_t at;
    uint64_t message;
    Then then;
  };
  struct Piece {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    std::vector<Mark> ends;  // in order; the bytes after the last one begin the next message
  };
  // Hands the feeder's piece over and takes a free one, waiting for it if need be.
  void Submit();
  void Work();

  std::mutex mutex_;
  std::condition_variable queuedChanged_;  // the hashing thread waits on it
  std::condition_variable freedChanged_;   // the feeder waits on it
  std::vector<Piece> free_;                // pieces to fill
  std::deque<Piece> queued_;               // filled, in order
  // The digests of the messages begun and not yet taken, in order; empty until hashed.
  std::deque<std::optional<Sha256Digest>> done_;
  uint64_t firstNotTaken_ = 0;  // the number of done_.front()
  uint64_t begunCount_ = 0;
  uint64_t submittedEnds_ = 0;  // messages whose end has been handed over
  bool stopping_ = false;

  Piece current_;         // the feeder's piece
  size_t passed_ = 0;     // bytes of current_ handed to the sink
  bool refused_ = false;  // the sink answered false
  bool begun_ = false;
  std::thread worker_;
};

}  // namespace quillon

#endif  // QUILLON_CLI_BACKGROUND_HASHER_H_
