#include "emulator/loopback_link.h"

#include <algorithm>
#include <chrono>

#include "platform/tick.h"

namespace okt::emu {

LoopbackLink::LoopbackLink(Emulator& emulator, Deliver deliver, LinkModel model, LinkFaults faults)
    : emulator_(emulator),
      deliver_(std::move(deliver)),
      model_(model),
      faults_(faults),
      random_(faults.seed),
      pacer_(model.notificationsPerSecond) {}

LoopbackLink::~LoopbackLink() { stop(); }

void LoopbackLink::start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) return;
  running_ = true;
  thread_ = std::thread([this] { loop(); });
}

void LoopbackLink::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    running_ = false;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

int LoopbackLink::write(const uint8_t* bytes, size_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!up_) return 1;
  uint32_t now = platform::tickCount();
  emulator_.handleRequest(bytes, size, now);
  collectLocked(now);
  cv_.notify_all();
  return 0;
}

void LoopbackLink::goDownLocked() {
  up_ = false;
  inFlight_.clear();
  disconnectPending_ = true;
}

void LoopbackLink::dropLink() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!up_) return;
    goDownLocked();
  }
  cv_.notify_all();
}

void LoopbackLink::onDisconnect(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  onDisconnect_ = std::move(handler);
}

bool LoopbackLink::isUp() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return up_;
}

uint64_t LoopbackLink::delivered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delivered_;
}

void LoopbackLink::collectLocked(uint32_t now) {
  for (auto& m : emulator_.takeNotifications()) inFlight_.push_back({now + model_.latencyMs, std::move(m)});
  // The device itself ended the connection.
  if (emulator_.takeLinkDrop() && up_) goDownLocked();
}

bool LoopbackLink::waitIdle(uint32_t timeoutMs, uint32_t quietMs) {
  uint32_t start = platform::tickCount();
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    uint32_t now = platform::tickCount();
    bool idle =
        inFlight_.empty() && !delivering_ && !emulator_.hasNotifications() && emulator_.msUntilDue(now) > quietMs;
    if (idle || !up_) return true;
    if (now - start >= timeoutMs) return false;
    cv_.wait_for(lock, std::chrono::milliseconds(2));
  }
}

void LoopbackLink::loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (running_) {
    if (disconnectPending_) {
      disconnectPending_ = false;
      auto handler = onDisconnect_;
      lock.unlock();
      if (handler) handler();
      lock.lock();
      continue;
    }
    uint32_t now = platform::tickCount();
    if (up_) {
      emulator_.advance(now);
      collectLocked(now);
    }
    auto wait = std::chrono::microseconds(1000) * (up_ ? std::min<uint32_t>(emulator_.msUntilDue(now), 50) : 50);
    if (!inFlight_.empty()) {
      int32_t left = static_cast<int32_t>(inFlight_.front().dueMs - now);
      Pacer::Clock::time_point clock = Pacer::Clock::now();
      if (left <= 0 && pacer_.due(clock)) {
        std::vector<uint8_t> bytes = std::move(inFlight_.front().bytes);
        inFlight_.pop_front();
        pacer_.sent(clock);
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        int copies = 1;
        if (faults_.drop > 0 && chance(random_) < faults_.drop) copies = 0;
        if (copies && faults_.duplicate > 0 && chance(random_) < faults_.duplicate) copies = 2;
        if (copies && faults_.cut > 0 && chance(random_) < faults_.cut && bytes.size() > 1)
          bytes.resize(std::uniform_int_distribution<size_t>(1, bytes.size() - 1)(random_));
        delivering_ = true;
        lock.unlock();
        // Delivery may block (a full receive queue); the lock is not held.
        for (int c = 0; c < copies; ++c) deliver_(bytes.data(), bytes.size());
        lock.lock();
        delivering_ = false;
        delivered_ += static_cast<uint64_t>(copies);
        if (faults_.dropLinkAfter >= 0 && static_cast<int64_t>(delivered_) >= faults_.dropLinkAfter && up_)
          goDownLocked();
        cv_.notify_all();
        continue;
      }
      auto untilDue = left > 0 ? std::chrono::microseconds(1000) * left
                               : std::chrono::duration_cast<std::chrono::microseconds>(pacer_.next() - clock);
      wait = std::min(wait, untilDue);
    }
    cv_.wait_for(lock, std::max(wait, std::chrono::microseconds(100)));
  }
}

}  // namespace okt::emu
