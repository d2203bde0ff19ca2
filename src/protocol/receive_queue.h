#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace okt {

constexpr uint32_t kQueueCapacity = 128;
constexpr size_t kSlotDataBytes = 200;
constexpr size_t kReceiveBufferBytes = 148;  // the most of a message that is decoded

// Ring of fixed slots carrying notifications from the BLE callback thread to
// the client thread. No allocation on this path: the slots live in the queue.
struct ReceiveQueue {
  struct Slot {
    uint8_t data[kSlotDataBytes];
    uint8_t length;
  };

  uint32_t capacity = kQueueCapacity;
  uint32_t writeIndex = 0;
  uint32_t readIndex = 0;
  uint32_t count = 0;
  std::array<Slot, kQueueCapacity> slots{};
  std::mutex mutex;
};

int initQueue(ReceiveQueue& queue);
// 1 without storing anything when length exceeds 200; else 0.
int pushMessage(ReceiveQueue& queue, const uint8_t* bytes, size_t length);
// Bytes copied into buffer, or -1 when the queue is empty. Bytes of the
// message beyond bufferSize are lost.
int popMessage(ReceiveQueue& queue, uint8_t* buffer, size_t bufferSize);
bool queueIsEmpty(const ReceiveQueue& queue);
bool queueIsFull(const ReceiveQueue& queue);

}  // namespace okt
