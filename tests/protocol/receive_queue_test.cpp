#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/tick.h"
#include "protocol/protocol.h"

namespace okt {
namespace {

std::vector<uint8_t> numbered(uint32_t n, size_t size = 8) {
  std::vector<uint8_t> m(size, static_cast<uint8_t>(n));
  m[0] = static_cast<uint8_t>(n >> 8);
  m[1] = static_cast<uint8_t>(n);
  return m;
}

uint32_t numberOf(const uint8_t* m) { return (uint32_t{m[0]} << 8) | m[1]; }

}  // namespace

TEST(QueueNotification, AcceptsUpTo200BytesAndRefusesMoreWithoutPosting) {
  Protocol p;
  initQueue(p.queue);
  int posts = 0;
  p.hooks.postData = [&] { ++posts; };
  std::vector<uint8_t> m200(200, 1), m201(201, 2);
  EXPECT_EQ(queueNotification(p, m200.data(), m200.size()), 0);
  EXPECT_EQ(queueNotification(p, m201.data(), m201.size()), 1);
  EXPECT_EQ(posts, 1);
  EXPECT_EQ(p.queue.count, 1u);
  uint8_t out[256];
  EXPECT_EQ(popMessage(p.queue, out, sizeof out), 200);
  EXPECT_EQ(popMessage(p.queue, out, sizeof out), -1);
}

TEST(ReceiveQueue, KeepsOrderAcrossTheEndOfTheRing) {
  ReceiveQueue q;
  initQueue(q);
  uint8_t out[16];
  uint32_t next = 0;
  // Move the indices near the end, then fill past it.
  for (int i = 0; i < 120; ++i) {
    auto m = numbered(1000 + i);
    pushMessage(q, m.data(), m.size());
    ASSERT_EQ(popMessage(q, out, sizeof out), 8);
  }
  for (uint32_t i = 0; i < kQueueCapacity; ++i) {
    auto m = numbered(i);
    pushMessage(q, m.data(), m.size());
  }
  EXPECT_TRUE(queueIsFull(q));
  while (popMessage(q, out, sizeof out) > 0) EXPECT_EQ(numberOf(out), next++);
  EXPECT_EQ(next, kQueueCapacity);
  EXPECT_TRUE(queueIsEmpty(q));
}

TEST(ReceiveQueue, PushOnFullDropsTheOldest) {
  ReceiveQueue q;
  initQueue(q);
  for (uint32_t i = 0; i <= kQueueCapacity; ++i) {
    auto m = numbered(i);
    pushMessage(q, m.data(), m.size());
  }
  uint8_t out[16];
  ASSERT_EQ(popMessage(q, out, sizeof out), 8);
  EXPECT_EQ(numberOf(out), 1u);
}

TEST(ReceiveQueue, PopIntoSmallerBufferCutsAndRemovesTheWholeMessage) {
  ReceiveQueue q;
  initQueue(q);
  auto big = numbered(1, 180);
  auto small = numbered(2, 10);
  pushMessage(q, big.data(), big.size());
  pushMessage(q, small.data(), small.size());
  uint8_t out[kReceiveBufferBytes];
  EXPECT_EQ(popMessage(q, out, sizeof out), 148);
  EXPECT_EQ(popMessage(q, out, sizeof out), 10);
  EXPECT_EQ(numberOf(out), 2u);
}

TEST(QueueNotification, FullQueueDropsAfterItsWaitAndKeepsWhatIsStored) {
  Protocol p;
  initQueue(p.queue);
  int posts = 0, sleeps = 0;
  p.hooks.postData = [&] { ++posts; };
  p.hooks.sleep = [&](uint32_t ms) {
    EXPECT_EQ(ms, 10u);
    ++sleeps;
  };
  for (uint32_t i = 0; i < kQueueCapacity; ++i) {
    auto m = numbered(i);
    ASSERT_EQ(queueNotification(p, m.data(), m.size()), 0);
  }
  auto extra = numbered(999);
  EXPECT_EQ(queueNotification(p, extra.data(), extra.size()), 1);
  EXPECT_EQ(sleeps, 21);
  EXPECT_EQ(posts, static_cast<int>(kQueueCapacity));
  uint8_t out[16];
  for (uint32_t i = 0; i < kQueueCapacity; ++i) {
    ASSERT_EQ(popMessage(p.queue, out, sizeof out), 8);
    EXPECT_EQ(numberOf(out), i);
  }
}

TEST(QueueNotification, FloodWithConcurrentConsumerLosesNothingAndKeepsOrder) {
  Protocol p;
  initQueue(p.queue);
  constexpr uint32_t kMessages = 20000;
  std::atomic<bool> producerDone{false};
  std::vector<uint32_t> received;
  received.reserve(kMessages);
  std::thread consumer([&] {
    uint8_t out[kReceiveBufferBytes];
    for (;;) {
      int n = popMessage(p.queue, out, sizeof out);
      if (n > 0) {
        received.push_back(numberOf(out));
      } else if (producerDone && queueIsEmpty(p.queue)) {
        break;
      } else {
        std::this_thread::yield();
      }
    }
  });
  int dropped = 0;
  for (uint32_t i = 0; i < kMessages; ++i) {
    auto m = numbered(i & 0xFFFF, 20);
    dropped += queueNotification(p, m.data(), m.size());
  }
  producerDone = true;
  consumer.join();
  EXPECT_EQ(dropped, 0);
  ASSERT_EQ(received.size(), kMessages);
  for (uint32_t i = 0; i < kMessages; ++i) ASSERT_EQ(received[i], i & 0xFFFF);
}

}  // namespace okt
