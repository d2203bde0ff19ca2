#include "shell/app_queue.h"

#include <algorithm>

#include "platform/log.h"
#include "platform/tick.h"

namespace okt {

AppQueue::~AppQueue() { stopWorker(); }

int AppQueue::postAppMessage(uint8_t type, const uint8_t* payload, uint8_t length) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // A message always leaves at least one byte of the ring free.
    if (used_ + length >= kRingBytes - 2 || used_ > kRingBytes - 1 || length > kMaxPayload) return 1;
    auto put = [&](uint8_t b) {
      ring_[writePos_] = b;
      writePos_ = static_cast<uint16_t>((writePos_ + 1) % kRingBytes);
    };
    put(type);
    put(length);
    for (uint8_t i = 0; i < length; ++i) put(payload[i]);
    used_ = static_cast<uint16_t>(used_ + 2 + length);
    ++count_;
  }
  wake_.signal();
  return 0;
}

bool AppQueue::readByte(uint8_t& out) {
  if (readPos_ == writePos_ || used_ == 0) return false;
  out = ring_[readPos_];
  readPos_ = static_cast<uint16_t>((readPos_ + 1) % kRingBytes);
  --used_;
  return true;
}

bool AppQueue::readMessage(AppMessage& out) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (count_ == 0) return false;
  AppMessage m;
  if (!readByte(m.type) || !readByte(m.length) || m.length > kMaxPayload) return false;
  for (uint8_t i = 0; i < m.length; ++i)
    if (!readByte(m.payload[i])) return false;
  --count_;
  out = m;
  return true;
}

uint8_t AppQueue::messageCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

uint16_t AppQueue::used() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return used_;
}

// Runs what is queued; false when the worker is to end.
bool AppQueue::drain() {
  while (messageCount() != 0) {
    AppMessage m;
    if (!readMessage(m) || m.type == AppMessageType::STOP) return false;
    if (!handler_ || !handler_(m)) {
      platform::logf("Message %d failed\n", m.type);
      return true;  // the messages behind it wait for the next wake-up
    }
  }
  return true;
}

void AppQueue::startWorker(std::function<bool(const AppMessage&)> handler, std::function<uint32_t()> idle) {
  if (worker_.joinable()) return;
  handler_ = std::move(handler);
  idle_ = std::move(idle);
  worker_ = std::thread([this] {
    uint32_t wait = 400;
    for (;;) {
      uint64_t seen = wake_.mark();
      if (messageCount() == 0) wake_.waitSince(seen, wait);
      if (!drain()) return;
      wait = idle_ ? std::min<uint32_t>(idle_(), 400) : 400;
      platform::sleepMs(1);
    }
  });
}

void AppQueue::stopWorker() {
  if (!worker_.joinable()) return;
  while (postAppMessage(AppMessageType::STOP) != 0) platform::sleepMs(10);
  worker_.join();
}

}  // namespace okt
