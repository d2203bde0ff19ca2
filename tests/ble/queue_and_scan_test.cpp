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

// A list on a clock the test moves, with devices heard at given times.
struct TimedList {
  uint32_t now = 0;
  ScanList list{[this] { return now; }};
  void hear(uint32_t at, const std::string& address, const std::string& name, int32_t rssi, bool okt = false) {
    now = at;
    list.addScanResult(address, name, rssi, okt);
  }
  std::vector<std::string> shown(const ScanList::Filter& filter = {}) const {
    std::vector<std::string> out;
    for (const auto& s : list.view(filter)) out.push_back(s.row.address + (s.stale ? " stale" : ""));
    return out;
  }
};

TEST(ScanList, StrongestFirstThenTheDevicesNotHeardLately) {
  TimedList t;
  t.hear(0, "00:00:00:00:00:0A", "far", -90);
  t.hear(0, "00:00:00:00:00:0B", "near", -40);
  t.hear(0, "00:00:00:00:00:0C", "middle", -65);
  t.hear(0, "00:00:00:00:00:09", "middle too", -65);  // ties keep a fixed order: by address
  EXPECT_EQ(t.shown(), (std::vector<std::string>{"00:00:00:00:00:0B", "00:00:00:00:00:09", "00:00:00:00:00:0C",
                                                 "00:00:00:00:00:0A"}));
  // The near one goes quiet: greyed and behind every device still heard, but listed.
  t.hear(5000, "00:00:00:00:00:0A", "far", -91);
  t.hear(5000, "00:00:00:00:00:0C", "middle", -66);
  t.hear(5000, "00:00:00:00:00:09", "middle too", -64);
  t.now = 10000;
  EXPECT_EQ(t.shown(), (std::vector<std::string>{"00:00:00:00:00:09", "00:00:00:00:00:0C", "00:00:00:00:00:0A",
                                                 "00:00:00:00:00:0B stale"}));
  t.hear(10500, "00:00:00:00:00:0B", "near", -40);  // heard again: back on top
  EXPECT_EQ(t.shown().front(), "00:00:00:00:00:0B");
}

TEST(ScanList, AgeingTakesTenSecondsAcrossTheWrapOfTheTick) {
  struct Case {
    uint32_t heard, now;
    bool stale;
  } cases[] = {{0, 9999, false}, {0, 10000, true}, {0xFFFFF000u, 0x00001000u, false}, {0xFFFFF000u, 0x00002000u, true}};
  for (const Case& c : cases) {
    TimedList t;
    t.hear(c.heard, "AA", "x", -50);
    t.now = c.now;
    auto view = t.list.view({});
    ASSERT_EQ(view.size(), 1u);
    EXPECT_EQ(view[0].stale, c.stale) << c.heard << " " << c.now;
  }
}

TEST(ScanList, FiltersByNameOrAddressInAnyCaseAndByTheOktService) {
  TimedList t;
  t.hear(0, "0C:0C:0C:00:00:01", "OKT Demo", -50, true);
  t.hear(0, "11:22:33:44:55:66", "Kitchen scale", -60);
  t.hear(0, "AB:CD:EF:00:11:22", "", -70);
  // Only some advertisements carry the service list: once seen, the device stays an OKT one.
  t.hear(1, "0c:0c:0c:00:00:01", "OKT Demo", -51, false);
  struct Case {
    const char* text;
    bool oktOnly;
    std::vector<std::string> shown;
  } cases[] = {
      {"", false, {"0C:0C:0C:00:00:01", "11:22:33:44:55:66", "AB:CD:EF:00:11:22"}},
      {"demo", false, {"0C:0C:0C:00:00:01"}},
      {"KITCHEN", false, {"11:22:33:44:55:66"}},
      {"cd:ef", false, {"AB:CD:EF:00:11:22"}},
      {"0c:0C", false, {"0C:0C:0C:00:00:01"}},
      {"scale ", false, {}},
      {"", true, {"0C:0C:0C:00:00:01"}},
      {"kitchen", true, {}},
  };
  for (const Case& c : cases) EXPECT_EQ(t.shown({c.text, c.oktOnly}), c.shown) << '"' << c.text << '"' << c.oktOnly;
}

}  // namespace
}  // namespace okt
