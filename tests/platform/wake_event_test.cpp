#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/tick.h"
#include "platform/wake_event.h"

namespace okt::platform {

TEST(WakeEvent, SignalBeforeWaitIsNotMissed) {
  WakeEvent event;
  uint64_t seen = event.mark();
  event.signal();
  EXPECT_TRUE(event.waitSince(seen, 0));
}

TEST(WakeEvent, TimesOutWithoutSignal) {
  WakeEvent event;
  EXPECT_FALSE(event.waitSince(event.mark(), 20));
}

TEST(FlagWord, PostsCombineInsteadOfOverwriting) {
  WakeEvent event;
  FlagWord word(event);
  word.post(1);
  word.post(4);
  EXPECT_EQ(word.take(), 5u);
  EXPECT_EQ(word.take(), 0u);
}

TEST(FlagWord, OneEventWakesConsumersOfBothWords) {
  WakeEvent event;
  FlagWord a(event), b(event);
  std::atomic<uint32_t> gotA{0}, gotB{0};
  std::thread ta([&] { gotA = a.waitAndTake(WakeEvent::kInfinite); });
  std::thread tb([&] { gotB = b.waitAndTake(WakeEvent::kInfinite); });
  sleepMs(20);
  a.post(2);
  b.post(8);
  ta.join();
  // b's consumer may have woken on a's signal and found nothing yet.
  tb.join();
  EXPECT_EQ(gotA.load(), 2u);
  EXPECT_EQ(gotB.load() | b.take(), 8u);
}

TEST(FlagWord, ConsumerWaitingWithoutLimitSeesEveryKindOfFlag) {
  // With waits that never time out, a lost wake-up would hang this test.
  WakeEvent event;
  FlagWord word(event);
  uint32_t seen = 0;
  std::thread consumer([&] {
    while (!(seen & 4)) seen |= word.waitAndTake(WakeEvent::kInfinite);
  });
  std::thread p1([&] {
    for (int i = 0; i < 20000; ++i) word.post(1);
  });
  std::thread p2([&] {
    for (int i = 0; i < 20000; ++i) word.post(2);
  });
  p1.join();
  p2.join();
  word.post(4);
  consumer.join();
  EXPECT_EQ(seen | word.take(), 7u);
}

TEST(Tick, AdvancesInMilliseconds) {
  uint32_t start = tickCount();
  sleepMs(30);
  uint32_t elapsed = tickCount() - start;
  EXPECT_GE(elapsed, 25u);
}

}  // namespace okt::platform
