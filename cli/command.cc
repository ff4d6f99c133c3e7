#include "cli/command.h"

namespace quillon {

namespace {

static_assert(std::atomic<int>::is_always_lock_free &&
                  std::atomic<StopTarget*>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "the stop request is made from signal handlers");

std::atomic<int> g_stopCause{static_cast<int>(StopCause::kNone)};
std::atomic<StopTarget*> g_stopTarget{nullptr};
std::atomic<bool> g_stopFlag{false};

}  // namespace

void RequestStop(StopCause cause) {
  int none = static_cast<int>(StopCause::kNone);
  g_stopCause.compare_exchange_strong(none, static_cast<int>(cause));
  g_stopFlag.store(true, std::memory_order_relaxed);
  if (StopTarget* target = g_stopTarget.load()) target->Stop();
}

StopCause StopRequested() { return static_cast<StopCause>(g_stopCause.load()); }

const std::atomic<bool>* StopFlag() { return &g_stopFlag; }

void SetStopTarget(StopTarget* target) {
  g_stopTarget.store(target);
  if (target != nullptr && StopRequested() != StopCause::kNone) target->Stop();
}

}  // namespace quillon
