// The connection's life end to end without a window: the connection
// manager, the engine, the real binding and link, and the emulator's
// Bluetooth library with its faults (links that drop, calls never answered,
// devices out of range or mute).
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <random>

#include "ble/binding.h"
#include "platform/log.h"
#include "shell/connection_manager.h"
#include "support/log_capture.h"
#include "support/quit_bound.h"
#include "support/scripted_host.h"
#include "support/wait_until.h"

namespace okt {
namespace {

using test::ScriptedHost;

class Lifecycle : public ::testing::Test {
 public:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(bindWarble(OKT_WARBLE_EMULATOR, w, error)) << error;
    config("reset");
    initQueue(p.queue);
    link = std::make_unique<Link>(w, p);
    link->closeDelayMs = 0;
    link->linkSetAddress("0C:0C:0C:00:00:01");
    flow = std::make_unique<ConnectFlow>(w, *link, queue);
    flow->scanSteps = 3000;
    engine = std::make_unique<Engine>(p, host, host);
    engine->editVariable = [this](uint32_t v, uint32_t t) { editVariable(p, host, v, t); };
    host.state = &p.state;
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) { return link->linkSend(b, n); };
    manager = std::make_unique<ConnectionManager>(*link, *flow, queue, *engine);
    manager->backoffUnitMs = 20;
    engine->connection().setPublish([this](const ConnectionState& s) {
      std::lock_guard<std::mutex> lock(mutex);
      phases.push_back(s.phase);
    });
    manager->startWorker();
    engine->startControlThread();
    engine->startClientThread();
  }
  void TearDown() override {
    quit();
    manager.reset();
    engine.reset();
    flow.reset();
    link.reset();
    config("reset");
    unbindWarble(w);
  }
  void config(const char* key, const char* value = "") {
    WarbleOption o{key, value};
    w.warble_lib_config(1, &o);
  }
  // The program's own ending; how long it took (ms).
  uint32_t quit() {
    uint32_t start = platform::tickCount();
    host.closeDialogs();
    manager->shutdown();
    engine->shutdown();
    queue.stopWorker();
    link->linkClose();
    return platform::tickCount() - start;
  }
  ConnectionStatus& status() { return engine->connection(); }
  void connect() {
    queue.postAppMessage(AppMessageType::CONNECT);
    ASSERT_TRUE(status().waitFor(ConnectionPhase::Connected, 10000)) << describeConnection(status().current());
  }
  uint32_t current() {
    return engine->withTables([](ClientState& s) { return s.currentScreen; });
  }
  static bool waitUntil(const std::function<bool()>& condition) { return test::waitUntil(condition, 10000); }
  std::vector<ConnectionPhase> seen() {
    std::lock_guard<std::mutex> lock(mutex);
    return phases;
  }
  // A click in view units, and the press's target or editor followed.
  void click(uint32_t x, uint32_t y) {
    engine->setClick(x, y);
    waitUntil([&] { return engine->settled(); });
  }
  // Connected does not mean drawn: the menu must be there before its next
  // page can be asked for, or the request is dropped and the test's click
  // lands on the first page.
  void nextPage() {
    auto page = [&] {
      return engine->withTables([](ClientState& s) { return std::pair(s.menuPage, s.menuPageCount); });
    };
    uint32_t from = page().first;
    ASSERT_TRUE(waitUntil([&] { return page().second > from; })) << "no page after " << from;
    engine->postControl(ControlFlag::NEXT_PAGE);
    ASSERT_TRUE(waitUntil([&] { return page().first == from + 1 && engine->settled(); }));
  }
  static uint32_t row(uint32_t k) { return 6144 + k * 9728 + 1000; }

  WarbleBinding w;
  Protocol p;
  AppQueue queue;
  ScriptedHost host;
  std::unique_ptr<Link> link;
  std::unique_ptr<ConnectFlow> flow;
  std::unique_ptr<Engine> engine;
  std::unique_ptr<ConnectionManager> manager;
  std::mutex mutex;
  std::vector<ConnectionPhase> phases;
};

// The demo's home menu: row 0 leads to screen 1 (buttons); page 2 row 3 to
// the settings menu 59, whose second page is where the user ends up. The
// first reconnection reaches the device but not its interface (no INFO): an
// attempt like any other, and the next one still returns to the display.
TEST_F(Lifecycle, ALostLinkComesBackOnTheSameDisplayAfterAFailedAttempt) {
  test::LogCapture log;
  connect();
  nextPage();
  click(1000, row(3));
  ASSERT_TRUE(waitUntil([&] { return current() == 59; }));
  nextPage();
  ASSERT_TRUE(waitUntil([&] { return engine->withTables([](ClientState& s) { return s.menuPage; }) == 1; }));
  phases.clear();
  config("ignore-requests", "1");
  config("drop-link");
  ASSERT_TRUE(waitUntil([&] { return status().current().attempt >= 2; }));
  config("ignore-requests", "0");
  ASSERT_TRUE(status().waitFor(ConnectionPhase::Connected, 10000));
  engine->withTables([](ClientState& s) {
    EXPECT_EQ(s.currentScreen, 59u);
    EXPECT_EQ(s.menuPage, 1u);
    EXPECT_EQ(s.backDepth, 1u);  // BACK still leads home
  });
  auto order = seen();
  ASSERT_GE(order.size(), 5u);
  EXPECT_EQ(order[0], ConnectionPhase::Lost);
  EXPECT_EQ(order[1], ConnectionPhase::Reconnecting);
  EXPECT_EQ(order[2], ConnectionPhase::Connecting);
  EXPECT_EQ(order.back(), ConnectionPhase::Connected);
  EXPECT_NE(log.text().find("Connection: Lost (The device disconnected)"), std::string::npos);
  EXPECT_NE(log.text().find("Connection: Reconnecting (attempt 1, next try in 1 s)"), std::string::npos);
  EXPECT_EQ(host.count("error: Cannot connect to the OKT service"), 0u);  // no box while nobody asked
}

// A device gone out of range: attempts back off (1, 2, 4 ... units) until
// the user gives up on it.
TEST_F(Lifecycle, AnAbsentDeviceIsTriedWithBackoffUntilTheUserStops) {
  connect();
  config("refuse-connections", "1");
  config("drop-link");
  ASSERT_TRUE(waitUntil([&] { return status().current().attempt >= 3; }));
  ConnectionState s = status().current();
  EXPECT_EQ(s.phase, ConnectionPhase::Reconnecting);
  EXPECT_EQ(s.nextTrySeconds, reconnectDelaySeconds(s.attempt));
  manager->stopReconnecting();
  ASSERT_TRUE(status().waitFor(ConnectionPhase::Idle, 5000));
  EXPECT_EQ(status().current().reason, "Reconnection cancelled");
  EXPECT_EQ((std::vector<uint32_t>{1, 2, 4, 8, 15, 30, 30}),
            (std::vector<uint32_t>{reconnectDelaySeconds(1), reconnectDelaySeconds(2), reconnectDelaySeconds(3),
                                   reconnectDelaySeconds(4), reconnectDelaySeconds(5), reconnectDelaySeconds(6),
                                   reconnectDelaySeconds(60)}));
}

// The user's Disconnect is final: nothing reconnects, the tables are gone;
// the worker's status texts on the way. An unknown message gets a box.
TEST_F(Lifecycle, AfterTheUsersDisconnectNothingReconnects) {
  std::vector<std::string> texts;
  std::string box;
  manager->setStatusText = [&](const std::string& t) {
    std::lock_guard<std::mutex> lock(mutex);
    texts.push_back(t);
  };
  manager->errorBox = [&](const std::string& t) { box = t; };
  connect();
  manager->disconnect();
  ASSERT_TRUE(status().waitFor(ConnectionPhase::Idle, 5000));
  platform::sleepMs(200);  // ten backoff units: an attempt would have come
  EXPECT_EQ(status().current().phase, ConnectionPhase::Idle);
  EXPECT_EQ(link->linkIsReady(), 0);
  auto order = seen();
  EXPECT_EQ(std::count(order.begin(), order.end(), ConnectionPhase::Reconnecting), 0);
  engine->withTables([](ClientState& s) { EXPECT_FALSE(s.pObjList.exists()); });
  ASSERT_TRUE(waitUntil([&] {
    std::lock_guard<std::mutex> lock(mutex);
    return texts.size() == 4;
  }));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(texts, (std::vector<std::string>{"Connecting BT...", "", "Disconnecting BT...", ""}));
  AppMessage m;
  m.type = 9;
  EXPECT_FALSE(manager->handleAppMessage(m));
  EXPECT_EQ(box, "INTERNAL Message not supported");
}

// Quitting ends everything at once in every state of the connection: nothing
// waits for the device. (Idle, scanning, the first call unanswered, and the
// error box and dialogs the user leaves open are the client tests': they
// quit the whole program with Qt's own dialogs open.)
struct QuitCase {
  const char* name;
  std::function<void(Lifecycle&)> reach;
};

class QuitIn : public Lifecycle, public ::testing::WithParamInterface<QuitCase> {
 public:
  // Stops the connect sequence at the step that shows `step` (a call to the
  // library that is never answered).
  void hangAt(const std::string& step) {
    status().setPublish([this, step](const ConnectionState& s) {
      if (s.phase == ConnectionPhase::Connecting && s.reason.rfind(step, 0) == 0) config("handler-delay-ms", "60000");
    });
    queue.postAppMessage(AppMessageType::CONNECT);
    ASSERT_TRUE(waitUntil([&] { return status().current().reason.rfind(step, 0) == 0; }));
    platform::sleepMs(20);
  }
};

TEST_P(QuitIn, EndsAtOnce) {
  GetParam().reach(*this);
  if (HasFatalFailure()) return;
  uint32_t took = quit();
  EXPECT_LT(took, static_cast<uint32_t>(test::kQuitBoundMs)) << describeConnection(status().current());
}

INSTANTIATE_TEST_SUITE_P(
    States, QuitIn,
    ::testing::Values(
        QuitCase{"ReadingTheDataCharacteristic", [](Lifecycle& t) { static_cast<QuitIn&>(t).hangAt("Connected OK"); }},
        QuitCase{"Subscribing", [](Lifecycle& t) { static_cast<QuitIn&>(t).hangAt("OKT service found"); }},
        QuitCase{"ReadingDeviceInformation", [](Lifecycle& t) { static_cast<QuitIn&>(t).hangAt("Model Number"); }},
        QuitCase{"Downloading",
                 [](Lifecycle& t) {
                   t.config("link", "1M");
                   t.queue.postAppMessage(AppMessageType::CONNECT);
                   ASSERT_TRUE(t.status().waitFor(ConnectionPhase::Downloading, 5000));
                 }},
        QuitCase{"WaitingForAnInfoThatNeverComes",
                 [](Lifecycle& t) {
                   t.config("ignore-requests", "1");
                   test::LogCapture log;
                   t.queue.postAppMessage(AppMessageType::CONNECT);
                   ASSERT_TRUE(
                       t.waitUntil([&] { return log.text().find("Connect to OKT Server") != std::string::npos; }));
                 }},
        QuitCase{"WithAWritePending",
                 [](Lifecycle& t) {
                   t.connect();
                   t.nextPage();
                   t.config("handler-delay-ms", "60000");
                   t.engine->setClick(1000, Lifecycle::row(5));  // a row that sends an event
                   platform::sleepMs(50);
                 }},
        QuitCase{"Reconnecting",
                 [](Lifecycle& t) {
                   t.connect();
                   t.config("refuse-connections", "1");
                   t.config("drop-link");
                   ASSERT_TRUE(t.status().waitFor(ConnectionPhase::Reconnecting, 5000));
                 }}),
    [](const ::testing::TestParamInfo<QuitCase>& info) { return info.param.name; });

// Links that drop at any moment (while the device floods the download,
// while the user clicks), two hundred times: every loss comes back, nothing
// leaks (LeakSanitizer), nothing races (ThreadSanitizer).
TEST_F(Lifecycle, TwoHundredDropsAndReconnections) {
  platform::LogSink previous = platform::setLogSink([](const std::string&) {});
  std::mt19937 random(7);
  connect();
  for (int i = 0; i < 200; ++i) {
    ASSERT_TRUE(waitUntil([&] {
      ConnectionPhase now = status().current().phase;
      return now == ConnectionPhase::Downloading || now == ConnectionPhase::Connected;
    })) << i
        << " " << describeConnection(status().current());
    platform::sleepMs(random() % 15);
    engine->setClick(1000 + random() % 60000, row(random() % 6));
    if (i % 4 == 0) engine->postControl(i % 8 ? ControlFlag::NEXT_PAGE : ControlFlag::BACK);
    config("drop-link");
    ASSERT_TRUE(waitUntil([&] {
      return status().current().phase != ConnectionPhase::Connected &&
             status().current().phase != ConnectionPhase::Downloading;
    })) << i;
  }
  ASSERT_TRUE(status().waitFor(ConnectionPhase::Connected, 10000));
  platform::setLogSink(previous);
  EXPECT_TRUE(engine->withTables([](ClientState& s) { return s.pObjList.exists() && s.displayReady == 1; }));
}

}  // namespace
}  // namespace okt
