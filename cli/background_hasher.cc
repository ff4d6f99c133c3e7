#include "cli/background_hasher.h"

#include <algorithm>
#include <cstring>

namespace quillon {

BackgroundHasher::BackgroundHasher() {
  for (size_t i = 0; i < kPieces; ++i) {
    Piece p;
    p.bytes.reset(new uint8_t[kPieceBytes]);
    free_.push_back(std::move(p));
  }
  current_ = std::move(free_.back());
  free_.pop_back();
  worker_ = std::thread([this] { Work(); });
}

BackgroundHasher::~BackgroundHasher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  queuedChanged_.notify_one();
  worker_.join();
}

void BackgroundHasher::Begin() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    done_.emplace_back();
  }
  ++begunCount_;
  begun_ = true;
  passed_ = current_.size;
  refused_ = false;
}

void BackgroundHasher::Submit() {
  std::unique_lock<std::mutex> lock(mutex_);
  submittedEnds_ += current_.ends.size();
  queued_.push_back(std::move(current_));
  queuedChanged_.notify_one();
  freedChanged_.wait(lock, [this] { return !free_.empty(); });
  current_ = std::move(free_.back());
  free_.pop_back();
  current_.size = 0;
  current_.ends.clear();
  passed_ = 0;
}

void BackgroundHasher::Update(const uint8_t* bytes, size_t size) {
  while (size > 0) {
    if (current_.size == kPieceBytes) Submit();
    const size_t take = std::min(size, kPieceBytes - current_.size);
    std::memcpy(current_.bytes.get() + current_.size, bytes, take);
    current_.size += take;
    bytes += take;
    size -= take;
  }
}

bool BackgroundHasher::Pass(const PieceSink& sink) {
  if (!refused_ && current_.size > passed_) {
    refused_ = !sink(current_.bytes.get() + passed_, current_.size - passed_);
  }
  passed_ = current_.size;
  return !refused_;
}

bool BackgroundHasher::Gather(const uint8_t* bytes, size_t size, const PieceSink& sink) {
  while (size > 0) {
    if (current_.size == kPieceBytes) {
      Pass(sink);
      Submit();
    }
    const size_t take = std::min(size, kPieceBytes - current_.size);
    std::memcpy(current_.bytes.get() + current_.size, bytes, take);
    current_.size += take;
    bytes += take;
    size -= take;
  }
  return !refused_;
}

void BackgroundHasher::End(Then then) {
  if (!begun_) return;
  begun_ = false;
  current_.ends.push_back(Mark{current_.size, begunCount_ - 1, std::move(then)});
  if (current_.size == kPieceBytes) Submit();
}

bool BackgroundHasher::Ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  return !done_.empty() && done_.front().has_value();
}

Sha256Digest BackgroundHasher::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  // The oldest message's end may still be in the feeder's piece: hand it over.
  if (!done_.front() && firstNotTaken_ >= submittedEnds_) {
    lock.unlock();
    Submit();
    lock.lock();
  }
  freedChanged_.wait(lock, [this] { return done_.front().has_value(); });
  const Sha256Digest digest = *done_.front();
  done_.pop_front();
  ++firstNotTaken_;
  return digest;
}

void BackgroundHasher::Work() {
  std::optional<Sha256> hash;  // of the message whose bytes the last piece ended in
  hash.emplace();
  for (;;) {
    Piece piece;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      queuedChanged_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
      if (queued_.empty()) return;
      piece = std::move(queued_.front());
      queued_.pop_front();
    }
    std::vector<std::pair<uint64_t, Sha256Digest>> digests;
    size_t at = 0;
    for (Mark& end : piece.ends) {
      hash->Update(piece.bytes.get() + at, end.at - at);
      at = end.at;
      const Sha256Digest digest = hash->Finish();
      hash.emplace();
      if (end.then) end.then(digest);
      end.then = nullptr;
      digests.emplace_back(end.message, digest);
    }
    hash->Update(piece.bytes.get() + at, piece.size - at);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (const auto& [message, digest] : digests) done_[message - firstNotTaken_] = digest;
      free_.push_back(std::move(piece));
    }
    freedChanged_.notify_one();
  }
}

}  // namespace quillon
