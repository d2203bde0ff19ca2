#include <gtest/gtest.h>

#include "emulator/in_process_client.h"
#include "support/log_capture.h"
#include "support/messages.h"

namespace okt {
namespace {

using emu::DeviceDescription;
using emu::InProcessClient;

DeviceDescription demo() {
  DeviceDescription d;
  std::string error;
  EXPECT_TRUE(emu::loadDemoDevice(d, error)) << error;
  return d;
}

// Adds elements too large for one message, so they arrive in parts.
DeviceDescription demoWithLargeElements() {
  DeviceDescription d = demo();
  d.texts.push_back({d.textCount, "long", std::string(400, 'T')});
  d.textCount += 1;
  emu::VariableDef v;
  v.id = d.variableCount;
  v.desc.type = VariableType::STRING;
  v.desc.access = 2;
  v.desc.maximum = 300;
  v.desc.value.assign(250, 'v');
  v.desc.value.push_back(0);
  d.variables.push_back(v);
  d.variableCount += 1;
  return d;
}

void expectTablesEqualDescription(const ClientState& s, const DeviceDescription& d) {
  for (const emu::TextDef& t : d.texts) {
    const char* text = textOf(s, t.id);
    ASSERT_NE(text, nullptr) << "text " << t.id;
    EXPECT_EQ(std::string(text), t.text) << "text " << t.id;
  }
  for (const emu::VariableDef& v : d.variables) {
    const VariableEntry* e = variableEntry(s, v.id);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->type, v.desc.type) << "variable " << v.id;
    EXPECT_EQ(e->access, v.desc.access);
    EXPECT_EQ(e->unitText, v.desc.unitText);
    EXPECT_EQ(e->minimum, v.desc.minimum);
    EXPECT_EQ(e->maximum, v.desc.maximum);
    EXPECT_EQ(e->length, v.desc.value.size());
    std::vector<uint8_t> value(e->value.begin(), e->value.begin() + e->length);
    EXPECT_EQ(value, v.desc.value) << "variable " << v.id;
  }
  for (const emu::ObjectDef& o : d.objects) {
    EXPECT_EQ(objectType(s, o.id), static_cast<int32_t>(o.type)) << "object " << o.name;
    const ObjectBody* body = objectBody(s, o.id);
    ASSERT_NE(body, nullptr) << "object " << o.name;
    EXPECT_TRUE(*body == o.body) << "object " << o.name;
  }
}

// In the order sent, and with the parts of each element shuffled.
TEST(Emulator, EveryElementOfTheDemoArrivesAsDescribed) {
  for (bool shuffled : {false, true}) {
    emu::Emulator::Options options;
    options.shuffleParts = shuffled;
    options.seed = 7;
    InProcessClient c(demoWithLargeElements(), options);
    ASSERT_TRUE(c.connect()) << shuffled;
    const DeviceDescription& d = c.emulator.description();
    EXPECT_EQ(c.p.state.objectCount, d.objectCount);
    EXPECT_EQ(c.p.state.homeScreen, d.homeScreen);
    EXPECT_EQ(c.p.state.infoBytes[2], 1);
    expectTablesEqualDescription(c.p.state, d);
  }
}

// A long write is assembled from its chunks and echoed; bad writes get error
// reports.
TEST(Emulator, WritesAreAssembledAndEchoedAndBadOnesGetErrorReports) {
  InProcessClient c(demo());
  ASSERT_TRUE(c.connect());
  const auto& d = c.emulator.description();
  auto idOf = [&](const std::string& name) {
    for (const auto& v : d.variables)
      if (v.name == name) return v.id;
    return 0xFFFFFFu;
  };
  VariableValue value{VariableType::STRING, 0, std::string(39, 'n')};
  ASSERT_EQ(writeVariable(c.p, idOf("deviceName"), &value), 0);
  c.settle();
  std::vector<uint8_t> expected(39, 'n');
  expected.push_back(0);
  EXPECT_EQ(c.link.withEmulator([&](emu::Emulator& e) { return e.variableValue(idOf("deviceName")); }), expected);
  std::string shown;
  formatVariable(c.p.state, idOf("deviceName"), shown);
  EXPECT_EQ(shown, std::string(39, 'n'));

  struct Case {
    const char* name;
    uint32_t variable;
    std::vector<uint8_t> bytes;
    const char* line;
  };
  const Case cases[] = {
      {"no such variable", 999, {1}, "INVALID VARIABLE ID ; Element type 3: VARIABLE ID = 999"},
      {"read only", idOf("level"), {1}, "VAR READ ONLY ; Element type 3: VARIABLE ID = 0"},
      {"above its limits", idOf("speed"), {0x03, 0xE8}, "VAR OUT OF LIMITS ; Element type 3: VARIABLE ID = 5"},
      {"below its signed limits", idOf("offset"), {0x80}, "VAR OUT OF LIMITS ; Element type 3: VARIABLE ID = 4"},
      {"list index past its choices", idOf("mode"), {0, 3}, "VAR OUT OF LIMITS ; Element type 3: VARIABLE ID = 13"},
      {"longer than the variable", idOf("volume"), {1, 2}, "VAR CONTENTS OVERFLOW ; Element type 3: VARIABLE ID = 3"},
  };
  for (const Case& k : cases) {
    test::LogCapture log;
    ASSERT_EQ(writeVariableBytes(c.p, k.variable, k.bytes.size(), k.bytes.data()), 0);
    c.settle();
    EXPECT_NE(log.text().find(k.line), std::string::npos) << k.name << ": " << log.text();
  }
  // A refused value is sent back, so the client shows the device's value again.
  VariableValue tooFast{VariableType::U16, 1000, ""};
  writeVariable(c.p, idOf("speed"), &tooFast);
  c.settle();
  formatVariable(c.p.state, idOf("speed"), shown);
  EXPECT_EQ(shown, "88 km/h");
}

TEST(Emulator, EventsRunTheirReactions) {
  InProcessClient c(demo());
  ASSERT_TRUE(c.connect());
  const auto& d = c.emulator.description();
  c.p.state.displayReady = 1;
  std::vector<uint32_t> changed;
  std::vector<uint32_t> lockTargets;
  c.p.hooks.variableChanged = [&](uint32_t id) { changed.push_back(id); };
  c.p.hooks.leaveLock = [&](uint32_t target, int) {
    lockTargets.push_back(target);
    return 0;
  };
  uint32_t presses = 1;
  EXPECT_EQ(sendEvent(c.p, d.eventNames.at("count"), 3, nullptr, 0), 0);
  c.settle();
  uint32_t n = 0;
  EXPECT_EQ(variableNumber(c.p.state, presses, &n), 0);
  EXPECT_EQ(n, 1u);

  sendEvent(c.p, d.eventNames.at("rename"), 4, nullptr, 0);
  c.settle();
  EXPECT_STREQ(textOf(c.p.state, 22), "Buttons (renamed by the device)");

  const char wrong[] = "nope";
  sendEvent(c.p, d.eventNames.at("password-submit"), 40, reinterpret_cast<const uint8_t*>(wrong), sizeof wrong);
  EXPECT_TRUE(c.pumpUntil([&] { return lockTargets.size() == 1; }));
  const char right[] = "okt";
  sendEvent(c.p, d.eventNames.at("password-submit"), 40, reinterpret_cast<const uint8_t*>(right), sizeof right);
  EXPECT_TRUE(c.pumpUntil([&] { return lockTargets.size() == 2; }));
  uint32_t okScreen = 0, errorScreen = 0;
  for (const auto& o : d.objects) {
    if (o.name == "okScreen") okScreen = o.id;
    if (o.name == "errorScreen") errorScreen = o.id;
  }
  EXPECT_EQ(lockTargets, (std::vector<uint32_t>{errorScreen, okScreen}));
  auto events = c.link.withEmulator([](emu::Emulator& e) { return e.receivedEvents(); });
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].data, std::vector<uint8_t>(wrong, wrong + sizeof wrong));
}

TEST(Emulator, TimersSweepBetweenTheLimits) {
  DeviceDescription d = demo();
  emu::Emulator e(d);
  auto info = WireWriter().u16(RequestType::GET_INFO).u32(1).take();
  e.handleRequest(info.data(), info.size(), 1000);
  e.takeNotifications();
  std::vector<uint32_t> levels;
  for (uint32_t t = 1100; t <= 1100 + 100 * 40; t += 100) {
    e.advance(t);
    levels.push_back(e.variableValue(0)[0]);
  }
  // 40 to 100 by 2, then back down.
  EXPECT_EQ(levels[0], 42u);
  EXPECT_EQ(*std::max_element(levels.begin(), levels.end()), 100u);
  EXPECT_EQ(levels.back(), 100u - 2 * (levels.size() - 30));
  EXPECT_EQ(e.takeNotifications().size(), levels.size());
}

}  // namespace
}  // namespace okt
