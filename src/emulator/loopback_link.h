#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "emulator/emulator.h"

namespace okt::emu {

// How fast notifications travel. 0 notifications a second means unlimited.
struct LinkModel {
  uint32_t notificationsPerSecond = 0;
  uint32_t latencyMs = 0;

  static LinkModel unlimited() { return {}; }
  // Connection interval 7.5 ms with several notifications per event.
  static LinkModel phy1M() { return {700, 8}; }
  static LinkModel phy2M() { return {1000, 8}; }
};

// Spaces notifications evenly at a rate, to the microsecond: 700 a second
// are 1428 us apart, not rounded to whole milliseconds. A sender that was
// late by less than one interval catches up; an idle link earns no burst.
class Pacer {
 public:
  using Clock = std::chrono::steady_clock;
  explicit Pacer(uint32_t perSecond)
      : interval_(perSecond ? std::chrono::microseconds(1000000 / perSecond) : Clock::duration{}) {}
  bool unlimited() const { return interval_ == Clock::duration{}; }
  // Whether a notification may go at `now`.
  bool due(Clock::time_point now) const { return unlimited() || now >= next_; }
  Clock::time_point next() const { return next_; }
  // One notification went at `now`.
  void sent(Clock::time_point now) {
    if (unlimited()) return;
    if (now - next_ > interval_) next_ = now;
    next_ += interval_;
  }

 private:
  Clock::duration interval_;
  Clock::time_point next_{};
};

// Faults a test can inject into the notifications (each a probability).
struct LinkFaults {
  uint32_t seed = 1;
  double drop = 0;             // the notification never arrives
  double duplicate = 0;        // it arrives twice
  double cut = 0;              // only a part of it arrives
  int64_t dropLinkAfter = -1;  // the link goes down after this many deliveries
};

// Joins the client's request path and notification path to an emulator in
// the same process. Requests are handed to the emulator on the writer's
// thread; notifications are delivered on a thread of the link's own, as a
// BLE stack's callback thread would.
class LoopbackLink {
 public:
  using Deliver = std::function<void(const uint8_t* bytes, size_t size)>;

  LoopbackLink(Emulator& emulator, Deliver deliver, LinkModel model = {}, LinkFaults faults = {});
  ~LoopbackLink();
  LoopbackLink(const LoopbackLink&) = delete;
  LoopbackLink& operator=(const LoopbackLink&) = delete;

  void start();
  void stop();

  // One request (a write with response). 0 when the device took it, 1 when
  // the link is down.
  int write(const uint8_t* bytes, size_t size);
  // The peer goes away: writes fail, nothing more is delivered, and the
  // disconnect handler runs (on the link's thread).
  void dropLink();
  void onDisconnect(std::function<void()> handler);
  bool isUp() const;

  // Waits until every notification produced so far has been delivered and
  // nothing is due for at least `quietMs`; false on timeout.
  bool waitIdle(uint32_t timeoutMs, uint32_t quietMs = 0);
  uint64_t delivered() const;

  // Access to the emulator under the link's lock (for inspection in tests).
  template <typename F>
  auto withEmulator(F&& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(emulator_);
  }

 private:
  struct InFlight {
    uint32_t dueMs;
    std::vector<uint8_t> bytes;
  };
  void loop();
  void collectLocked(uint32_t now);
  void goDownLocked();

  Emulator& emulator_;
  Deliver deliver_;
  LinkModel model_;
  LinkFaults faults_;
  std::mt19937 random_;

  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<InFlight> inFlight_;
  bool running_ = false;
  bool up_ = true;
  bool delivering_ = false;
  bool disconnectPending_ = false;
  Pacer pacer_;
  uint64_t delivered_ = 0;
  std::function<void()> onDisconnect_;
  std::thread thread_;
};

}  // namespace okt::emu
