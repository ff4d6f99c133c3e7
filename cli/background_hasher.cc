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
  done_.emplace_back();
  begun_ = true;
  passed_ = 0;
  refused_ = false;
  if (free_.empty()) {
    here_.emplace();
    ++begunCount_;
    return;
  }
  current_ = std::move(free_.back());
  free_.pop_back();
  current_.size = 0;
  current_.message = begunCount_++;
  current_.first = true;
  current_.last = false;
}

void BackgroundHasher::Submit(bool last, Then then) {
  current_.last = last;
  current_.then = std::move(then);
  const uint64_t message = current_.message;
  std::unique_lock<std::mutex> lock(mutex_);
  queued_.push_back(std::move(current_));
  changed_.notify_all();
  if (last) return;
  changed_.wait(lock, [this] { return !free_.empty(); });
  current_ = std::move(free_.back());
  free_.pop_back();
  current_.size = 0;
  current_.message = message;
  current_.first = false;
  passed_ = 0;
}

void BackgroundHasher::Update(const uint8_t* bytes, size_t size) {
  if (here_) {
    here_->Update(bytes, size);
    return;
  }
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
  if (here_) return !refused_;
  if (!refused_ && current_.size > passed_) {
    refused_ = !sink(current_.bytes.get() + passed_, current_.size - passed_);
  }
  passed_ = current_.size;
  return !refused_;
}

bool BackgroundHasher::Gather(const uint8_t* bytes, size_t size, const PieceSink& sink) {
  if (here_) {
    here_->Update(bytes, size);
    refused_ = refused_ || !sink(bytes, size);
    return !refused_;
  }
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

void BackgroundHasher::End(Then then) {
  if (!begun_) return;
  begun_ = false;
  if (here_) {
    const Sha256Digest digest = here_->Finish();
    here_.reset();
    if (then) then(digest);
    std::lock_guard<std::mutex> lock(mutex_);
    done_[begunCount_ - 1 - firstNotTaken_] = digest;
    return;
  }
  Submit(true, std::move(then));
}

size_t BackgroundHasher::Ready() {
  std::lock_guard<std::mutex> lock(mutex_);
  size_t ready = 0;
  while (ready < done_.size() && done_[ready]) ++ready;
  return ready;
}

Sha256Digest BackgroundHasher::Take() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !done_.empty() && done_.front(); });
  const Sha256Digest digest = *done_.front();
  done_.pop_front();
  ++firstNotTaken_;
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
    if (piece.last) {
      digest = hash->Finish();
      if (piece.then) piece.then(*digest);
      piece.then = nullptr;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (digest) done_[piece.message - firstNotTaken_] = *digest;
      free_.push_back(std::move(piece));
    }
    changed_.notify_all();
  }
}

}  // namespace quillon
