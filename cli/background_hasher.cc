#include "cli/background_hasher.h"

#include <cstring>
#include <optional>

namespace quillon {

BackgroundHasher::BackgroundHasher() {
  for (size_t i = 0; i < kPieces; ++i) {
    Piece p;
    p.bytes.reset(new uint8_t[kPieceBytes]);
    free_.push_back(std::move(p));
  }
  worker_ = std::thread([this] { Work(); });
}

BackgroundHasher::~BackgroundHasher() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
}

void BackgroundHasher::Begin() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !free_.empty(); });
  current_ = std::move(free_.back());
  free_.pop_back();
  current_.size = 0;
  current_.first = true;
  current_.last = false;
  passed_ = 0;
  refused_ = false;
  begun_ = true;
}

void BackgroundHasher::Submit(bool last) {
  current_.last = last;
  std::unique_lock<std::mutex> lock(mutex_);
  queued_.push_back(std::move(current_));
  changed_.notify_all();
  if (last) return;
  changed_.wait(lock, [this] { return !free_.empty(); });
  current_ = std::move(free_.back());
  free_.pop_back();
  current_.size = 0;
  current_.first = false;
  passed_ = 0;
}

void BackgroundHasher::Update(const uint8_t* bytes, size_t size) {
  while (size > 0) {
    if (current_.size == kPieceBytes) Submit(false);
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
      Submit(false);
    }
    const size_t take = std::min(size, kPieceBytes - current_.size);
    std::memcpy(current_.bytes.get() + current_.size, bytes, take);
    current_.size += take;
    bytes += take;
    size -= take;
  }
  return !refused_;
}

void BackgroundHasher::End() {
  if (!begun_) return;
  begun_ = false;
  Submit(true);
}

size_t BackgroundHasher::Ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  return done_.size();
}

Sha256Digest BackgroundHasher::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !done_.empty(); });
  const Sha256Digest digest = done_.front();
  done_.pop_front();
  return digest;
}

void BackgroundHasher::Work() {
  std::optional<Sha256> hash;
  for (;;) {
    Piece piece;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !queued_.empty(); });
      if (queued_.empty()) return;
      piece = std::move(queued_.front());
      queued_.pop_front();
    }
    if (piece.first) hash.emplace();
    hash->Update(piece.bytes.get(), piece.size);
    std::optional<Sha256Digest> digest;
    if (piece.last) digest = hash->Finish();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(std::move(piece));
      if (digest) done_.push_back(*digest);
    }
    changed_.notify_all();
  }
}

}  // namespace quillon
