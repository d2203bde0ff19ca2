#include "protocol/receive_queue.h"

#include <algorithm>
#include <atomic>
#include <cstring>

namespace okt {
namespace {

// count is read without the mutex by the producer's wait and the consumer's
// loop; reading it through an atomic view keeps that read well-defined.
uint32_t loadCount(const ReceiveQueue& q) {
  return std::atomic_ref<const uint32_t>(q.count).load(std::memory_order_acquire);
}

void storeCount(ReceiveQueue& q, uint32_t value) {
  std::atomic_ref<uint32_t>(q.count).store(value, std::memory_order_release);
}

}  // namespace

int initQueue(ReceiveQueue& queue) {
  std::lock_guard<std::mutex> lock(queue.mutex);
  queue.capacity = kQueueCapacity;
  queue.writeIndex = 0;
  queue.readIndex = 0;
  storeCount(queue, 0);
  return 0;
}

int pushMessage(ReceiveQueue& queue, const uint8_t* bytes, size_t length) {
  if (length > kSlotDataBytes) return 1;
  std::lock_guard<std::mutex> lock(queue.mutex);
  uint32_t count = queue.count;
  if (count >= queue.capacity) {
    queue.readIndex = (queue.readIndex + 1) % queue.capacity;
    --count;
  }
  ReceiveQueue::Slot& slot = queue.slots[queue.writeIndex];
  if (length > 0) std::memcpy(slot.data, bytes, length);
  slot.length = static_cast<uint8_t>(length);
  queue.writeIndex = (queue.writeIndex + 1) % queue.capacity;
  storeCount(queue, count + 1);
  return 0;
}

int popMessage(ReceiveQueue& queue, uint8_t* buffer, size_t bufferSize) {
  std::lock_guard<std::mutex> lock(queue.mutex);
  if (queue.count == 0) return -1;
  const ReceiveQueue::Slot& slot = queue.slots[queue.readIndex];
  queue.readIndex = (queue.readIndex + 1) % queue.capacity;
  size_t n = std::min<size_t>(bufferSize, slot.length);
  if (n > 0) std::memcpy(buffer, slot.data, n);
  storeCount(queue, queue.count - 1);
  return static_cast<int>(n);
}

bool queueIsEmpty(const ReceiveQueue& queue) { return loadCount(queue) == 0; }

bool queueIsFull(const ReceiveQueue& queue) { return loadCount(queue) >= queue.capacity; }

}  // namespace okt
