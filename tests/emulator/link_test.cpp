#include <gtest/gtest.h>

#include <atomic>

#include "emulator/in_process_client.h"
#include "protocol/wire.h"

namespace okt {
namespace {

emu::DeviceDescription demo() {
  emu::DeviceDescription d;
  std::string error;
  EXPECT_TRUE(emu::loadDemoDevice(d, error)) << error;
  return d;
}

// Collects what the link delivers, on the link's thread.
struct Collector {
  std::mutex mutex;
  std::vector<std::vector<uint8_t>> got;
  std::thread::id thread;
  void add(const uint8_t* b, size_t n) {
    std::lock_guard<std::mutex> lock(mutex);
    thread = std::this_thread::get_id();
    got.emplace_back(b, b + n);
  }
};

std::vector<uint8_t> getAll(uint16_t type) {
  return WireWriter().u16(type).u32(1).u24(0).u16(0).u24(0xFFFFFF).u16(0).take();
}

TEST(LoopbackLink, DeliversInOrderOnItsOwnThread) {
  emu::Emulator e(demo());
  Collector c;
  emu::LoopbackLink link(
      e, [&](const uint8_t* b, size_t n) { c.add(b, n); }, emu::LinkModel::phy2M());
  link.start();
  auto r = getAll(RequestType::GET_TEXTS);
  ASSERT_EQ(link.write(r.data(), r.size()), 0);
  ASSERT_TRUE(link.waitIdle(10000));
  std::lock_guard<std::mutex> lock(c.mutex);
  EXPECT_EQ(c.got.size(), e.description().texts.size());
  EXPECT_NE(c.thread, std::this_thread::get_id());
  for (size_t i = 0; i < c.got.size(); ++i) EXPECT_EQ(c.got[i][5], static_cast<uint8_t>(i + 1));
}

TEST(LoopbackLink, InjectedFaultsDropDuplicateAndCut) {
  emu::LinkFaults faults;
  faults.seed = 3;
  faults.drop = 0.2;
  faults.duplicate = 0.2;
  faults.cut = 0.2;
  emu::Emulator e(demo());
  Collector c;
  emu::LoopbackLink link(
      e, [&](const uint8_t* b, size_t n) { c.add(b, n); }, emu::LinkModel{}, faults);
  link.start();
  auto r = getAll(RequestType::GET_TEXTS);
  link.write(r.data(), r.size());
  link.write(r.data(), r.size());
  ASSERT_TRUE(link.waitIdle(10000));
  std::lock_guard<std::mutex> lock(c.mutex);
  size_t sent = 2 * e.description().texts.size();
  std::set<uint32_t> sequences;
  size_t duplicates = 0, cut = 0;
  for (const auto& m : c.got) {
    if (m.size() < 6) {
      ++cut;
      continue;
    }
    uint32_t s = 0;
    getU32(m.data() + 2, &s);
    duplicates += !sequences.insert(s).second;
    cut += m.back() != 0;  // a whole TEXT ends with its zero byte
  }
  EXPECT_GT(duplicates, 0u);
  EXPECT_GT(cut, 0u);
  EXPECT_LT(sequences.size(), sent);  // some never arrived
}

// The link goes down by an injected fault, or because the device itself
// ends it (an action of its description).
TEST(LoopbackLink, ADroppedLinkFailsWritesAndTellsItsOwner) {
  for (bool byDevice : {false, true}) {
    SCOPED_TRACE(byDevice ? "the device drops it" : "after 5 notifications");
    emu::LinkFaults faults;
    emu::DeviceDescription d = demo();
    if (byDevice) {
      std::string error;
      ASSERT_TRUE(emu::parseDeviceDescription(
          R"({"objects": [{"type": "Menu"}], "reactions": [{"event": 7, "actions": [{"dropLink": true}]}]})", "d.json",
          nullptr, d, error))
          << error;
    } else {
      faults.dropLinkAfter = 5;
    }
    emu::Emulator e(d);
    Collector c;
    std::atomic<int> disconnects{0};
    emu::LoopbackLink link(
        e, [&](const uint8_t* b, size_t n) { c.add(b, n); }, emu::LinkModel{}, faults);
    link.onDisconnect([&] { ++disconnects; });
    link.start();
    auto r = byDevice ? WireWriter().u16(RequestType::SEND_EVENT).u32(1).u24(7).u24(0).take()
                      : getAll(RequestType::GET_OBJECTS);
    EXPECT_EQ(link.write(r.data(), r.size()), 0);
    for (int i = 0; i < 500 && disconnects == 0; ++i) platform::sleepMs(2);
    EXPECT_EQ(disconnects.load(), 1);
    EXPECT_FALSE(link.isUp());
    EXPECT_EQ(link.write(r.data(), r.size()), 1);
    std::lock_guard<std::mutex> lock(c.mutex);
    EXPECT_EQ(c.got.size(), byDevice ? 0u : 5u);
  }
}

// The link models pace notifications to the microsecond: a second of
// notifications at each rate, sent as soon as each is due.
TEST(Pacer, SpacesNotificationsAtTheModelsRate) {
  for (auto [model, perSecond] : {std::pair{emu::LinkModel::phy1M(), 700}, std::pair{emu::LinkModel::phy2M(), 1000}}) {
    emu::Pacer pacer(model.notificationsPerSecond);
    auto now = emu::Pacer::Clock::time_point{} + std::chrono::hours(1);
    auto start = now;
    int sent = 0;
    while (now - start < std::chrono::seconds(1)) {
      if (pacer.due(now)) {
        pacer.sent(now);
        ++sent;
      }
      now += std::chrono::microseconds(250);  // a loop that wakes a little late each time
    }
    EXPECT_NEAR(sent, perSecond, perSecond / 50) << model.notificationsPerSecond;
  }
  emu::Pacer unlimited(0);
  EXPECT_TRUE(unlimited.due(emu::Pacer::Clock::time_point{}));
}

TEST(LoopbackLink, ClientSurvivesAFloodOfFaultyNotifications) {
  emu::LinkFaults faults;
  faults.seed = 11;
  faults.drop = 0.05;
  faults.duplicate = 0.1;
  faults.cut = 0.1;
  emu::InProcessClient c(demo(), {}, emu::LinkModel{}, faults);
  ASSERT_TRUE(c.connect());
  // Whatever arrived whole is stored; nothing crashed, nothing was corrupted into a wrong type.
  for (const auto& o : c.emulator.description().objects) {
    int32_t type = objectType(c.p.state, o.id);
    EXPECT_TRUE(type == -1 || type == static_cast<int32_t>(o.type)) << o.name;
  }
}

}  // namespace
}  // namespace okt
