#include "protocol/protocol.h"

#include "platform/tick.h"
#include "protocol/decoder.h"

namespace okt {

int queueNotification(Protocol& p, const uint8_t* bytes, size_t length) {
  // Wait for room: 21 sleeps of 10 ms at most, then the notification is lost.
  int sleeps = 0;
  while (queueIsFull(p.queue)) {
    if (p.hooks.sleep)
      p.hooks.sleep(10);
    else
      platform::sleepMs(10);
    if (++sleeps >= 21) return 1;
  }
  if (pushMessage(p.queue, bytes, length) != 0) return 1;
  p.messagesReceived.fetch_add(1, std::memory_order_relaxed);
  if (p.hooks.postData) p.hooks.postData();
  return 0;
}

int drainReceiveQueue(Protocol& p, uint32_t limit) {
  uint8_t buffer[kReceiveBufferBytes];
  for (uint32_t i = 0; i < limit && !queueIsEmpty(p.queue); ++i) {
    int n = popMessage(p.queue, buffer, sizeof buffer);
    if (n < 0) return 1;
    decodeMessage(p, buffer, static_cast<size_t>(n));
  }
  return 0;
}

int sendRequest(Protocol& p, const uint8_t* bytes, uint16_t length) {
  if (!p.hooks.sendRequest) return 1;
  return p.hooks.sendRequest(bytes, length);
}

}  // namespace okt
