#include "platform/wake_event.h"

#include <chrono>

namespace okt::platform {

void WakeEvent::signal() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++count_;
  }
  cv_.notify_all();
}

uint64_t WakeEvent::mark() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool WakeEvent::waitSince(uint64_t seen, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  auto signalled = [&] { return count_ != seen; };
  if (timeoutMs == kInfinite) {
    cv_.wait(lock, signalled);
    return true;
  }
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), signalled);
}

void FlagWord::post(uint32_t flags) {
  word_.fetch_or(flags);
  event_.signal();
}

uint32_t FlagWord::take() { return word_.exchange(0); }

uint32_t FlagWord::waitAndTake(uint32_t timeoutMs) {
  uint64_t seen = event_.mark();
  uint32_t flags = take();
  if (flags != 0) return flags;
  event_.waitSince(seen, timeoutMs);
  return take();
}

}  // namespace okt::platform
