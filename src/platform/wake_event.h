#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace okt::platform {

// Wakes every thread waiting at the moment of a signal, and never misses a
// waiter: a waiter remembers the signal count it last saw (`mark`) before it
// looks at its work, and a wait returns at once if a signal came since.
class WakeEvent {
 public:
  static constexpr uint32_t kInfinite = 0xFFFFFFFFu;

  void signal();
  uint64_t mark() const;
  // Waits until a signal newer than `seen` or until the timeout (ms, or
  // kInfinite). Returns true when woken by a signal.
  bool waitSince(uint64_t seen, uint32_t timeoutMs);

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  uint64_t count_ = 0;
};

// A word of flags that posters OR into and one consumer takes whole.
// Posting never blocks on the consumer and never loses a flag.
class FlagWord {
 public:
  explicit FlagWord(WakeEvent& event) : event_(event) {}

  void post(uint32_t flags);
  uint32_t take();
  uint32_t peek() const { return word_.load(); }
  // Takes the flags; if none are set, waits (see WakeEvent) and takes again.
  uint32_t waitAndTake(uint32_t timeoutMs);

 private:
  WakeEvent& event_;
  std::atomic<uint32_t> word_{0};
};

}  // namespace okt::platform
