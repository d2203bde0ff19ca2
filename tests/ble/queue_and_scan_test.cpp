#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "ble/scan_list.h"
#include "platform/tick.h"
#include "shell/app_queue.h"
#include "support/log_capture.h"

namespace okt {
namespace {

TEST(AppQueue, TwoHundredFiftyFiveEmptyMessagesFillTheRing) {
  AppQueue q;
  for (int i = 0; i < 255; ++i) ASSERT_EQ(q.postAppMessage(AppMessageType::SCAN), 0) << i;
  EXPECT_EQ(q.used(), 510);
  EXPECT_EQ(q.postAppMessage(AppMessageType::SCAN), 1);
  EXPECT_EQ(q.messageCount(), 255);
}

TEST(AppQueue, AMessageAcrossTheEndOfTheRingIsReadWhole) {
  AppQueue q;
  AppMessage m;
  uint8_t filler[60] = {};
  for (int i = 0; i < 8; ++i) {  // move the positions to 496
    ASSERT_EQ(q.postAppMessage(AppMessageType::SCAN, filler, 60), 0);
    ASSERT_TRUE(q.readMessage(m));
  }
  uint8_t payload[40];
  for (uint8_t i = 0; i < 40; ++i) payload[i] = i;
  ASSERT_EQ(q.postAppMessage(AppMessageType::CONNECT, payload, 40), 0);
  ASSERT_TRUE(q.readMessage(m));
  EXPECT_EQ(m.type, AppMessageType::CONNECT);
  ASSERT_EQ(m.length, 40);
  for (uint8_t i = 0; i < 40; ++i) EXPECT_EQ(m.payload[i], i);
  EXPECT_FALSE(q.readMessage(m));
}

TEST(AppQueue, TheWorkerRunsMessagesInOrderAndEndsAtStop) {
  AppQueue q;
  std::mutex mutex;
  std::vector<int> ran;
  q.postAppMessage(AppMessageType::SCAN);
  q.postAppMessage(AppMessageType::CONNECT);
  q.postAppMessage(AppMessageType::STOP);
  q.postAppMessage(AppMessageType::DISCONNECT);  // behind STOP: never runs
  q.startWorker([&](const AppMessage& m) {
    std::lock_guard<std::mutex> lock(mutex);
    ran.push_back(m.type);
    return true;
  });
  for (int i = 0; i < 200 && q.messageCount() > 1; ++i) platform::sleepMs(5);
  q.stopWorker();
  EXPECT_EQ(ran, (std::vector<int>{AppMessageType::SCAN, AppMessageType::CONNECT}));
}

TEST(AppQueue, AFailingHandlerIsReportedAndTheRestWaitsForTheNextWakeUp) {
  test::LogCapture log;
  AppQueue q;
  std::atomic<int> handled{0};
  q.startWorker([&](const AppMessage& m) {
    ++handled;
    return m.type != 7;
  });
  q.postAppMessage(7);
  q.postAppMessage(AppMessageType::SCAN);
  for (int i = 0; i < 300 && handled < 2; ++i) platform::sleepMs(5);  // the 400 ms poll picks it up
  q.stopWorker();
  EXPECT_EQ(handled.load(), 2);
  EXPECT_NE(log.text().find("Message 7 failed\n"), std::string::npos);
}

TEST(ScanList, OneRowPerAddressWithTheLatestNameAndSignal) {
  ScanList list;
  list.addScanResult("0C:0C:0C:00:00:01", "OKT Demo", -48);
  list.addScanResult("0c:0c:0c:00:00:01", "OKT Demo 2", -52);
  list.addScanResult("11:22:33:44:55:66", "", -80);
  auto rows = list.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].address, "0C:0C:0C:00:00:01");  // as first reported
  EXPECT_EQ(rows[0].name, "OKT Demo 2");
  EXPECT_EQ(rows[0].rssiText, "-52 dBm");
  list.clear();
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(list.addScanResult("dev" + std::to_string(i), "", -1), 0);
  EXPECT_EQ(list.addScanResult("one more", "", -1), 1);
  EXPECT_EQ(list.addScanResult("DEV5", "renamed", -2), 0);  // updates still work when full
  EXPECT_EQ(list.size(), 1000u);
}

}  // namespace
}  // namespace okt
