#include <gtest/gtest.h>

#include <memory>

#include "emulator/loopback_link.h"
#include "engine/engine.h"
#include "presentation/targets.h"
#include "protocol/requests.h"
#include "shell/display_view.h"
#include "support/log_capture.h"
#include "support/scripted_host.h"
#include "support/wait_until.h"

namespace okt {
namespace {

using test::ScriptedHost;
using test::waitUntil;

// Menu 0 (9 items) -> screen 1 of buttons; sub-menu 8 with a leave event.
const char* kDevice = R"({
  "texts": ["Home", "Item", "Sub"],
  "variables": [{"name": "v", "type": "U8", "value": 5}],
  "objects": [
    {"id": 0, "type": "Menu", "titleText": 0, "items": [
      {"textId": 1, "event": "row0", "targetScreen": 1},
      {"textId": 1, "variableId": "v"},
      {"textId": 1, "targetScreen": 8},
      {"textId": 1, "event": "row3"}, {"textId": 1}, {"textId": 1}, {"textId": 1}, {"textId": 1},
      {"textId": 1, "event": "row8"}
    ]},
    {"id": 1, "type": "Screen", "children": [
      {"object": 2, "x": 0, "y": 0, "width": 20000, "height": 20000},
      {"object": 3, "x": 30000, "y": 0, "width": 20000, "height": 20000},
      {"object": 4, "x": 0, "y": 30000, "width": 20000, "height": 20000},
      {"object": 6, "x": 30000, "y": 30000, "width": 20000, "height": 20000},
      {"object": 7, "x": 0, "y": 52000, "width": 20000, "height": 10000}
    ]},
    {"id": 2, "type": "Button", "textId": 1, "pressEvent": "a-pressed", "targetScreen": 5},
    {"id": 3, "type": "Button", "textId": 1},
    {"id": 4, "type": "Button", "textId": 1, "pressEvent": "c-pressed"},
    {"id": 5, "type": "Screen"},
    {"id": 6, "type": "TextBox", "textId": 2, "variableId": "v"},
    {"id": 7, "type": "Gauge", "variableId": "v", "pressEvent": "gauge-pressed"},
    {"id": 8, "type": "Menu", "titleText": 2, "leaveEvent": "sub-left", "items": [{"textId": 1, "targetScreen": 1}]}
  ]
})";

emu::DeviceDescription device(const char* json = kDevice) {
  emu::DeviceDescription d;
  std::string error;
  EXPECT_TRUE(emu::parseDeviceDescription(json, "test.json", nullptr, d, error)) << error;
  return d;
}

class EngineTest : public ::testing::Test {
 protected:
  void start(emu::DeviceDescription d, emu::LinkModel model = {}) {
    emulator = std::make_unique<emu::Emulator>(std::move(d));
    link = std::make_unique<emu::LoopbackLink>(
        *emulator, [this](const uint8_t* b, size_t n) { queueNotification(p, b, n); }, model);
    initQueue(p.queue);
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) {
      {
        std::lock_guard<std::mutex> lock(mutex);
        requestTypes.push_back(static_cast<uint16_t>(b[0] << 8 | b[1]));
      }
      return link->write(b, n);
    };
    engine = std::make_unique<Engine>(p, host, host);
    engine->editVariable = [this](uint32_t variable, uint32_t title) {
      std::lock_guard<std::mutex> lock(mutex);
      edits.push_back({variable, title});
    };
    host.state = &p.state;
    ASSERT_EQ(engine->startControlThread(), 0);
    ASSERT_EQ(engine->startClientThread(), 0);
    link->start();
  }
  void TearDown() override {
    if (engine) engine->shutdown();
    if (link) link->stop();
  }
  void connect() {
    engine->postControl(ControlFlag::CONNECT);
    ASSERT_TRUE(host.waitFor("menu 0"));
  }
  // kDevice connected, on its home menu; then through row 0 to screen 1.
  void startConnected() {
    start(device());
    connect();
  }
  void startOnScreenOne() {
    startConnected();
    clickUnits(1000, 6144 + 100);
    ASSERT_TRUE(host.waitFor("screen 1"));
  }
  uint32_t event(const std::string& name) { return emulator->description().eventNames.at(name); }
  std::vector<uint32_t> eventsSent() {
    return link->withEmulator([](emu::Emulator& e) {
      std::vector<uint32_t> out;
      for (const auto& ev : e.receivedEvents()) out.push_back(ev.event);
      return out;
    });
  }
  void clickUnits(uint32_t x, uint32_t y) { engine->setClick(x, y); }
  // Waits until the client's tables satisfy `test`.
  template <typename Test>
  bool tablesReach(Test test) {
    return waitUntil([&] { return engine->withTables(test); });
  }
  bool editsReach(size_t n) {
    return waitUntil([&] {
      std::lock_guard<std::mutex> lock(mutex);
      return edits.size() == n;
    });
  }

  Protocol p;
  ScriptedHost host;
  std::unique_ptr<emu::Emulator> emulator;
  std::unique_ptr<emu::LoopbackLink> link;
  std::unique_ptr<Engine> engine;
  std::mutex mutex;
  std::vector<uint16_t> requestTypes;
  std::vector<std::pair<uint32_t, uint32_t>> edits;
};

TEST_F(EngineTest, ConnectRequestsEverythingAndShowsTheHomeScreen) {
  test::LogCapture log;
  startConnected();
  EXPECT_EQ(requestTypes, (std::vector<uint16_t>{RequestType::GET_INFO, RequestType::GET_TEXTS,
                                                 RequestType::GET_VARIABLES, RequestType::GET_OBJECTS}));
  engine->withTables([](ClientState& s) {
    EXPECT_EQ(s.displayReady, 1);
    EXPECT_TRUE(s.pObjList.exists());
    EXPECT_EQ(s.currentScreen, 0u);
  });
  engine->postControl(ControlFlag::DISCONNECT);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return !s.pObjList.exists(); }));
  engine->shutdown();
  std::vector<std::string> lines;  // the control thread's
  for (const std::string& l : log.lines())
    if (l.rfind("REDO Ctrl: ", 0) == 0) lines.push_back(l);
  EXPECT_EQ(lines.front(), "REDO Ctrl: task started");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "REDO Ctrl: REDO Control: Connect to OKT Server"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "REDO Ctrl: Disconnect from OKT Server"), lines.end());
  EXPECT_EQ(lines.back(), "REDO Ctrl: task finished");
}

TEST_F(EngineTest, ADeviceWithoutObjectsCannotBeConnected) {
  emu::DeviceDescription d = device();
  d.objectCount = 0;
  start(std::move(d));
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(host.waitFor("error: Cannot connect to the OKT service"));
  engine->withTables([](ClientState& s) { EXPECT_FALSE(s.pObjList.exists()); });
}

TEST_F(EngineTest, NoTextsAndNoVariablesAreNotRequested) {
  start(device(R"({"objects": [{"type": "Menu"}]})"));
  connect();
  EXPECT_EQ(requestTypes, (std::vector<uint16_t>{RequestType::GET_INFO, RequestType::GET_OBJECTS}));
  engine->withTables([](ClientState& s) {
    EXPECT_FALSE(s.pStrList.exists());
    EXPECT_FALSE(s.pVarList.exists());
  });
}

TEST_F(EngineTest, AButtonSendsItsEventShowsItsPressAndLeadsToItsTarget) {
  startOnScreenOne();  // row 0: event, then screen 1
  uint32_t clicked = platform::tickCount();
  clickUnits(10000, 10000);  // button 2
  ASSERT_TRUE(host.waitFor("screen 1 pressed 2"));
  ASSERT_TRUE(host.waitFor("screen 5"));
  EXPECT_GE(platform::tickCount() - clicked, kPressMs);
  EXPECT_EQ(eventsSent(), (std::vector<uint32_t>{event("row0"), event("a-pressed")}));
  engine->withTables([](ClientState& s) {
    EXPECT_EQ(s.backDepth, 2u);
    EXPECT_EQ(s.pObjList.find(2)->pressed, 0u);
  });
  host.clear();
  engine->postControl(ControlFlag::BACK);
  ASSERT_TRUE(host.waitFor("screen 1"));
  engine->postControl(ControlFlag::BACK);
  ASSERT_TRUE(host.waitFor("menu 0"));
}

TEST_F(EngineTest, AButtonWithNeitherTargetNorVariableKeepsItsLookUntilTheNextRedraw) {
  startOnScreenOne();
  host.clear();
  clickUnits(40000, 10000);  // button 3
  ASSERT_TRUE(host.waitFor("screen 1 pressed 3"));
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.pObjList.find(3)->pressed == 0; }));
  platform::sleepMs(50);
  EXPECT_EQ(host.calls().size(), 1u);      // released without a redraw
  EXPECT_TRUE(eventsSent().size() == 1u);  // only the menu row's event
}

TEST_F(EngineTest, TextBoxesAndMenuRowsOpenTheirVariablesEditor) {
  startConnected();
  clickUnits(1000, 6144 + 9728 + 100);  // row 1 shows variable v
  ASSERT_TRUE(editsReach(1));
  clickUnits(1000, 6144 + 100);
  ASSERT_TRUE(host.waitFor("screen 1"));
  clickUnits(40000, 40000);  // the text box
  ASSERT_TRUE(editsReach(2));
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(edits[0], (std::pair<uint32_t, uint32_t>{0, 1}));
  EXPECT_EQ(edits[1], (std::pair<uint32_t, uint32_t>{0, 2}));
}

TEST_F(EngineTest, MenuRowsPagesGapsAndTheAreaAboveTheRows) {
  startConnected();
  engine->postControl(ControlFlag::NEXT_PAGE);
  ASSERT_TRUE(host.waitFor("menu 0 page 1"));
  // Row 3 of page 1 is item 8; the row's event carries clickX.
  clickUnits(32768, 25600 + 10);
  ASSERT_TRUE(waitUntil([&] { return eventsSent().size() == 1; }));
  EXPECT_EQ(eventsSent()[0], event("row8"));
  auto data = link->withEmulator([](emu::Emulator& e) { return e.receivedEvents()[0].data; });
  EXPECT_EQ(data, (std::vector<uint8_t>{0x80, 0x00}));
  engine->withTables([](ClientState& s) { EXPECT_EQ(s.pObjList.find(0)->selectedItem, 8); });
  for (uint32_t y : {33793u, 35327u, 6000u, 6143u, 64512u, 65535u}) {
    engine->withTables([](ClientState& s) { s.pObjList.existing(0)->selectedItem = -1; });
    host.clear();
    clickUnits(32768, y);
    platform::sleepMs(30);
    EXPECT_TRUE(host.calls().empty()) << y;
    engine->withTables([&](ClientState& s) { EXPECT_EQ(s.pObjList.find(0)->selectedItem, -1) << y; });
  }
}

TEST_F(EngineTest, BackFromAMenuSendsItsLeaveEvent) {
  startConnected();
  clickUnits(1000, 6144 + 2 * 9728 + 100);  // row 2 -> menu 8
  ASSERT_TRUE(host.waitFor("menu 8"));
  host.clear();
  engine->postControl(ControlFlag::BACK);
  ASSERT_TRUE(host.waitFor("menu 0"));
  EXPECT_EQ(eventsSent().back(), event("sub-left"));
  host.clear();
  engine->postControl(ControlFlag::BACK);  // empty stack: nothing
  platform::sleepMs(50);
  EXPECT_TRUE(host.calls().empty());
}

TEST_F(EngineTest, TwoPressesAtOnceAreHandledLowerIdFirst) {
  startOnScreenOne();
  clickUnits(10000, 40000);  // button 4 (event only)
  ASSERT_TRUE(host.waitFor("screen 1 pressed 4"));
  clickUnits(10000, 10000);  // button 2 (target)
  ASSERT_TRUE(host.waitFor("screen 1 pressed 2 pressed 4"));
  ASSERT_TRUE(host.waitFor("screen 5"));
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.pObjList.find(4)->pressed == 0; }));
  engine->withTables([](ClientState& s) { EXPECT_EQ(s.currentScreen, 5u); });
}

TEST_F(EngineTest, BackAndAClickPostedTogetherKeepTheirOrder) {
  startOnScreenOne();
  host.clear();
  // BACK to the menu, then at once a click where the menu's first row is
  // (and where screen 1 has a button with an event).
  engine->postControl(ControlFlag::BACK);
  engine->postClick(10, 70);
  ASSERT_TRUE(host.waitFor("menu 0"));
  ASSERT_TRUE(waitUntil([&] { return eventsSent().size() == 2; }));
  EXPECT_EQ(eventsSent()[1], event("row0"));  // not the button's "a-pressed"
}

// The view follows the display area: a resize draws the display again at
// the new size, and clicks are mapped with the view as it is now.
TEST_F(EngineTest, ClicksArriveAsViewUnitsOfTheViewAsItIsNow) {
  start(device());
  EXPECT_EQ(engine->postClick(400, 300), 0);  // before a connect: dropped
  connect();
  size_t drawn = host.count("menu 0 page 0");
  engine->postResize({0, 0, 800, 600});
  ASSERT_TRUE(waitUntil([&] { return host.count("menu 0 page 0") == drawn + 1; }));
  engine->withTables([](ClientState& s) { EXPECT_EQ(s.viewRect, (ViewRect{0, 0, 800, 600})); });
  engine->postClick(400, 300);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.clickX == 32767; }));
  engine->withTables([](ClientState& s) { EXPECT_EQ(s.clickY, 32767u); });
  engine->postResize({0, 0, 0, 600});  // an area with no room: nothing changes
  engine->postControl(ControlFlag::DISCONNECT);
  engine->postResize({0, 0, 100, 100});  // between connections: the next connect measures
  host.rect = {0, 0, 300, 340};
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.viewRect.right == 300; }));
  engine->withTables([](ClientState& s) { EXPECT_EQ(s.viewRect.bottom, 340); });
}

// What the keyboard walks: the screen's placements that react to a press
// (not a button without event or target), the menu's rows of the current
// page; a press at a target's centre is a click there.
TEST_F(EngineTest, TargetsAreWhatReactsAndAPressAtTheirCentreSendsTheirEvent) {
  startConnected();
  auto rows = engine->withTables([](ClientState& s) { return menuTargets(s, 0); });
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[0].kind, DisplayTarget::Kind::MenuRow);
  EXPECT_EQ(rows[0].name, "Item");
  auto [rx, ry] = targetCentre(rows[3]);
  clickUnits(rx, ry);
  ASSERT_TRUE(waitUntil([&] { return eventsSent() == std::vector<uint32_t>{event("row3")}; }));
  engine->postControl(ControlFlag::NEXT_PAGE);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return menuTargets(s, 0).size() == 3; }));

  auto targets = engine->withTables([](ClientState& s) { return screenTargets(s, 1); });
  ASSERT_EQ(targets.size(), 4u);  // buttons 2 and 4, the text box showing v, the gauge
  EXPECT_EQ(targets[0], (DisplayTarget{DisplayTarget::Kind::Button, 0, 0, 20000, 20000, "Item"}));
  EXPECT_EQ(targets[1].y, 30000u);
  EXPECT_EQ(targets[2], (DisplayTarget{DisplayTarget::Kind::Button, 30000, 30000, 20000, 20000, "Sub"}));
  EXPECT_EQ(targets[3].y, 52000u);
  engine->postControl(ControlFlag::PREV_PAGE);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.menuPage == 0; }));
  clickUnits(rows[0].x + 10, rows[0].y + 10);  // to screen 1
  ASSERT_TRUE(host.waitFor("screen 1"));
  for (const DisplayTarget& t : {targets[1], targets[3]}) {
    auto [x, y] = targetCentre(t);
    clickUnits(x, y);
  }
  ASSERT_TRUE(waitUntil([&] {
    return eventsSent() ==
           std::vector<uint32_t>{event("row3"), event("row0"), event("c-pressed"), event("gauge-pressed")};
  }));
}

TEST_F(EngineTest, FloodAtTheLinksTopRateWhileTheUserClicks) {
  emu::DeviceDescription d = device(R"({
    "variables": [{"name": "v", "type": "U16", "minimum": 0, "maximum": 60000, "value": 0}],
    "objects": [{"type": "Menu", "items": [{"variableId": "v"}, {"variableId": "v"}, {"variableId": "v"},
      {"variableId": "v"}, {"variableId": "v"}, {"variableId": "v"}, {"variableId": "v"}]}],
    "timers": [{"periodMs": 10, "actions": [{"sweep": "v", "step": 7}, {"sweep": "v", "step": 7}, {"sweep": "v", "step": 7}]}]
  })");
  start(std::move(d), emu::LinkModel::phy2M());
  connect();
  for (int i = 0; i < 100; ++i) {
    engine->postControl(i % 2 ? ControlFlag::NEXT_PAGE : ControlFlag::PREV_PAGE);
    clickUnits(1000, 6144 + static_cast<uint32_t>(i % 6) * 9728);
    platform::sleepMs(10);
  }
  size_t redraws = 0;
  for (const auto& c : host.calls()) redraws += c.rfind("menu 0", 0) == 0;
  EXPECT_GT(redraws, 50u);
}

TEST_F(EngineTest, DisconnectInTheMiddleOfAMultiPartObjectAndConnectAgain) {
  emu::DeviceDescription d;
  std::string error;
  ASSERT_TRUE(emu::loadDemoDevice(d, error));
  start(std::move(d), emu::LinkModel::phy1M());
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(waitUntil([&] { return link->delivered() > 40; }));
  engine->postControl(ControlFlag::DISCONNECT);  // parts of the pictures are still on their way
  platform::sleepMs(100);
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(link->waitIdle(20000));
  ASSERT_TRUE(tablesReach([](ClientState& s) {
    return s.displayReady && objectType(s, 30) == static_cast<int32_t>(ObjectType::JpegPicture);
  }));
}

// Posted as one word, a connect and a disconnect run in that order: the
// client ends disconnected.
TEST_F(EngineTest, ConnectAndDisconnectInOneWordEndDisconnected) {
  startConnected();
  engine->postControl(ControlFlag::CONNECT | ControlFlag::DISCONNECT);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return !s.pObjList.exists(); }));
  platform::sleepMs(50);
  engine->withTables([](ClientState& s) { EXPECT_FALSE(s.pObjList.exists()); });
}

// A pop-up that is the home display opens once per connect, however its
// body and the connect's end race, and each cancel sends one cancel event.
TEST_F(EngineTest, AHomePopupOpensOncePerConnect) {
  start(device(R"({"homeScreen": 1, "objects": [{"type": "Screen"},
    {"type": "Popup", "buttons": [{"event": "never"}]}]})"));
  for (int i = 1; i <= 20; ++i) {
    engine->postControl(ControlFlag::CONNECT);
    ASSERT_TRUE(waitUntil([&] { return host.count("popup 1 \"\" 1") == static_cast<size_t>(i); }));
    ASSERT_TRUE(waitUntil([&] { return engine->connection().current().phase == ConnectionPhase::Connected; }));
  }
  platform::sleepMs(50);
  EXPECT_EQ(host.count("popup 1 \"\" 1"), 20u);
}

// A dialog open when its connection ends closes as cancelled: nothing waits
// for a user who can no longer answer, and the client goes on.
TEST_F(EngineTest, DialogsOfAnEndedConnectionCloseAsCancelled) {
  test::LogCapture log;
  start(device(R"({"homeScreen": 1, "objects": [{"type": "Screen"}, {"type": "Popup"}]})"));
  host.answer(ScriptedHost::held());
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(host.waitFor("popup 1"));
  engine->postControl(ControlFlag::DISCONNECT);
  ASSERT_TRUE(waitUntil([&] { return log.text().find("REDO POPUP: Dialog cancelled") != std::string::npos; }));
  ASSERT_TRUE(tablesReach([](ClientState& s) { return !s.pObjList.exists(); }));
  // The next connection's dialogs open again.
  host.answer({kDialogCancel, "", -1});
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(waitUntil([&] { return host.count("popup 1 \"\" 0") == 2; }));
}

// After a lost link the display the user was on comes back (screen and menu
// page), with the back stack; another device starts from its home display
// with an empty back stack; a display that did not come back as what it was
// gives way to the home display.
TEST_F(EngineTest, AResumedConnectionReturnsToTheDisplayTheUserWasOn) {
  start(device());
  engine->postConnect({"A"});
  ASSERT_TRUE(host.waitFor("menu 0"));
  clickUnits(1000, 6144 + 2 * 9728 + 100);  // row 2 -> menu 8
  ASSERT_TRUE(host.waitFor("menu 8"));
  engine->postDisconnect(true);
  engine->postConnect({"A", true});
  ASSERT_TRUE(engine->connection().waitFor(ConnectionPhase::Connected, 5000));
  engine->withTables([](ClientState& s) {
    EXPECT_EQ(s.currentScreen, 8u);
    EXPECT_EQ(s.backDepth, 1u);
  });
  engine->postControl(ControlFlag::BACK);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.currentScreen == 0; }));

  engine->postDisconnect(true);
  engine->postConnect({"B", true});
  ASSERT_TRUE(engine->connection().waitFor(ConnectionPhase::Connected, 5000));
  engine->withTables([](ClientState& s) {
    EXPECT_EQ(s.currentScreen, 0u);
    EXPECT_EQ(s.backDepth, 0u);
  });

  // Object 8 comes back as a screen: not the menu the user left.
  clickUnits(1000, 6144 + 2 * 9728 + 100);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.currentScreen == 8; }));
  engine->postDisconnect(true);
  link->stop();
  std::string changed = kDevice;
  changed.replace(changed.find(R"({"id": 8, "type": "Menu")"), 24, R"({"id": 8, "type": "Screen"})");
  changed.replace(
      changed.find(R"(, "titleText": 2, "leaveEvent": "sub-left", "items": [{"textId": 1, "targetScreen": 1}]})"), 88,
      "");
  emulator = std::make_unique<emu::Emulator>(device(changed.c_str()));
  link = std::make_unique<emu::LoopbackLink>(*emulator,
                                             [this](const uint8_t* b, size_t n) { queueNotification(p, b, n); });
  link->start();
  engine->postConnect({"B", true});
  ASSERT_TRUE(engine->connection().waitFor(ConnectionPhase::Connected, 5000));
  engine->withTables([](ClientState& s) { EXPECT_EQ(s.currentScreen, 0u); });
}

// The download is followed in the connection state: Downloading with its
// progress, then Connected once everything announced has arrived.
TEST_F(EngineTest, TheDownloadEndsConnected) {
  // A data block of 60000 bytes takes the 1M link most of a second.
  std::string json = R"({"objects": [{"type": "Menu"}, {"type": "DataBlock", "data": ")" + std::string(120000, 'A') +
                     R"("}], "texts": ["t"]})";
  start(device(json.c_str()), emu::LinkModel::phy1M());
  std::vector<ConnectionState> seen;
  std::mutex m;
  engine->connection().setPublish([&](const ConnectionState& c) {
    std::lock_guard<std::mutex> lock(m);
    seen.push_back(c);
  });
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(engine->connection().waitFor(ConnectionPhase::Connected, 20000));
  std::lock_guard<std::mutex> lock(m);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen.front().phase, ConnectionPhase::Downloading);
  EXPECT_EQ(seen.back().phase, ConnectionPhase::Connected);
  for (size_t i = 1; i + 1 < seen.size(); ++i) {
    EXPECT_EQ(seen[i].phase, ConnectionPhase::Downloading);
    EXPECT_EQ(seen[i].announced, 3u);
    EXPECT_LT(seen[i].received, 3u);  // the data block is still on its way
  }
}

// A device that never answers GET_INFO: the wait ends early when the engine
// ends (or a newer request comes), not after its full second.
TEST_F(EngineTest, TheWaitForInfoEndsWithTheEngine) {
  start(device());
  link->stop();  // nothing will answer
  test::LogCapture log;
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(waitUntil([&] { return log.text().find("Connect to OKT Server") != std::string::npos; }));
  engine->shutdown();
  EXPECT_EQ(host.count("error: Cannot connect to the OKT service"), 0u);
  EXPECT_NE(log.text().find("REDO Ctrl: task finished"), std::string::npos);
}

TEST_F(EngineTest, TwoHundredConnectAndDisconnectCycles) {
  start(device());
  for (int i = 0; i < 200; ++i) {
    engine->postControl(ControlFlag::CONNECT);
    if (i % 3 == 0) platform::sleepMs(1);
    engine->postControl(ControlFlag::DISCONNECT);
  }
  engine->postControl(ControlFlag::CONNECT);
  ASSERT_TRUE(tablesReach([](ClientState& s) { return s.displayReady && objectType(s, 8) == ObjectType::Menu; }));
  EXPECT_EQ(host.count("error: Cannot connect to the OKT service"), 0u);
}

}  // namespace
}  // namespace okt
