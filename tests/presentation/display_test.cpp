#include <gtest/gtest.h>

#include "presentation/display.h"
#include "protocol/encoder.h"
#include "protocol/requests.h"
#include "support/log_capture.h"
#include "support/messages.h"
#include "support/scripted_host.h"

namespace okt {
namespace {

using namespace okt::test::fields;

using Calls = std::vector<std::string>;

// The dispatcher on its own, driven from the test's thread. Object ids:
// 0 menu (8 items), 1 screen placing 2 (button) and 3 (canvas placing 4),
// 5 local password prompt, 6 remote prompt, 7 popup, 8 screen, 9 text box
// placed on 1 via a screen 10, 11 empty-button popup.
class DisplayFlows : public ::testing::Test {
 protected:
  void SetUp() override {
    test::openTables(p, 64, 8, 8);
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) {
      uint32_t event = 0;
      if (n >= 12) getU24(b + 6, &event);
      events.push_back(event);
      if (n > 12) eventData.emplace_back(b + 12, b + n);
      return 0;
    };
    p.hooks.objectChanged = [this](uint32_t id) { display.objectChanged(id); };
    p.hooks.variableChanged = [this](uint32_t id) { display.variableChanged(id); };
    host.state = &p.state;

    WireWriter menu;
    menu.u16(ObjectType::Menu).u16(8).u24(0xFF1000).u24(1).u24(0x50).u24(0x51);
    for (int i = 0; i < 8; ++i) menu.u8(0).u8(0x0D).u24(1).u24(0x60 + i).u24(8);
    store(0, menu.take());
    store(1, test::wire({u16(ObjectType::Screen), u16(3), u24(0), u24(2), u16(0), u16(0), u16(100), u16(100), u24(3),
                         u16(0), u16(0), u16(100), u16(100), u24(10), u16(0), u16(0), u16(9), u16(9)}));
    store(3, WireWriter().u16(ObjectType::Canvas).u8(0x22).u16(0).u16(0).u16(1).u16(1).u24(4).u8(0).take());
    store(5, promptBody(0x08, "1234", 0x70, 0x71, 0x72, 0x73, 8, 1));
    store(6, promptBody(0x00, "", 0x80, 0x81, 0x82, 0x83, 8, 1));
    store(7, test::wire({u16(ObjectType::Popup), u24(2), u24(3), u24(0xFF1001), u8(2), u24(4), u24(0x90), u24(8),
                         u24(5), u24(0xFFFFFF), u24(0xFFFFFF)}));
    store(8, WireWriter().u16(ObjectType::Screen).u16(0).u24(0x102030).take());
    store(10, WireWriter().u16(ObjectType::Screen).u16(1).u24(0).u24(9).u16(0).u16(0).u16(1).u16(1).take());
    store(9, test::wire({u16(ObjectType::TextBox), u16(0), u8(0), u16(0), u16(20), u24(0), u24(0), u24(0),
                         u24(0xFFFFFF), u24(3)}));
    test::decode(p, test::textMessage(2, "Popup title"));
    p.state.displayReady = 1;
    p.state.currentScreen = 8;
    host.clear();
    events.clear();
  }
  static std::vector<uint8_t> promptBody(uint16_t options, const std::string& password, uint32_t submit,
                                         uint32_t cancel, uint32_t ok, uint32_t error, uint32_t next,
                                         uint32_t errorScreen) {
    return encodeObjectBody(ObjectType::PasswordPrompt,
                            PasswordPromptBody{options, 0xF8, 0, 0xFFFFFF, 0xFFFFFF, submit, cancel, ok, error, next,
                                               errorScreen, static_cast<uint8_t>(password.size()), password});
  }
  void store(uint32_t id, const std::vector<uint8_t>& body) {
    ASSERT_EQ(test::decode(p, test::objectMessage(id, body)), 0);
  }

  Protocol p;
  test::ScriptedHost host;
  Display display{p, host, host};
  std::vector<uint32_t> events;
  std::vector<std::vector<uint8_t>> eventData;
};

TEST_F(DisplayFlows, MenuPagesFollowItsItemCount) {
  struct Case {
    uint16_t items;
    uint32_t lastPage;
  };
  for (Case c : {Case{6, 0}, Case{7, 1}, Case{12, 1}, Case{13, 2}, Case{0, 0}}) {
    WireWriter menu;
    menu.u16(ObjectType::Menu).u16(c.items).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF);
    for (int i = 0; i < c.items; ++i) menu.u8(1);
    store(20 + c.items, menu.take());
    display.goToScreen(20 + c.items);
    EXPECT_EQ(p.state.menuPageCount, c.lastPage) << c.items;
    for (int i = 0; i < 5; ++i) display.nextMenuPage();
    EXPECT_EQ(p.state.menuPage, c.lastPage) << c.items;
  }
}

TEST_F(DisplayFlows, GoingToAMenuEntersItOnPageZero) {
  display.goToScreen(0);
  display.nextMenuPage();
  EXPECT_EQ(p.state.menuPage, 1u);
  display.nextMenuPage();  // already the last page
  display.goToScreen(0);
  EXPECT_EQ(p.state.menuPage, 0u);
  EXPECT_EQ(events, (std::vector<uint32_t>{0x50, 0x50}));
  EXPECT_EQ(host.calls(), (Calls{"menu 0 page 0", "menu 0 page 1", "menu 0 page 0"}));
  display.previousMenuPage();  // page 0: nothing
  EXPECT_EQ(host.calls().size(), 3u);
}

TEST_F(DisplayFlows, PagingFollowsAMenuWhoseBodyWasReplaced) {
  display.goToScreen(0);
  display.nextMenuPage();
  WireWriter shorter;
  shorter.u16(ObjectType::Menu).u16(3).u24(0xFFFFFF).u24(1).u24(0x50).u24(0x51).u8(1).u8(1).u8(1);
  store(0, shorter.take());  // the redraw clamps the page
  EXPECT_EQ(p.state.menuPage, 0u);
  EXPECT_EQ(p.state.menuPageCount, 0u);
  display.nextMenuPage();
  EXPECT_EQ(p.state.menuPage, 0u);
}

TEST_F(DisplayFlows, HomeMenuMadeCurrentDirectlyStillPages) {
  p.state.currentScreen = 0;  // as the connect sequence does, without entering it
  p.state.menuPageCount = 0;
  display.nextMenuPage();
  EXPECT_EQ(p.state.menuPage, 1u);
  EXPECT_TRUE(events.empty());  // no enter event for the home screen
}

TEST_F(DisplayFlows, ArrivalsRedrawOnlyWhatIsShown) {
  p.state.currentScreen = 1;
  store(2, WireWriter().u16(ObjectType::Polyline).u24(0).u8(0).u8(1).u8(0).take());  // placed on screen 1
  EXPECT_EQ(host.calls(), (Calls{"screen 1"}));
  store(4, WireWriter().u16(ObjectType::Polyline).u24(0).u8(0).u8(1).u8(0).take());  // only inside the canvas
  EXPECT_EQ(host.calls().size(), 1u);
  store(8, WireWriter().u16(ObjectType::Screen).u16(0).u24(1).take());  // another display
  EXPECT_EQ(host.calls().size(), 1u);
  test::decode(p, test::textMessage(3, "texts alone never redraw"));
  EXPECT_EQ(host.calls().size(), 1u);
}

TEST_F(DisplayFlows, AVariableShownTwoLevelsDownRedraws) {
  p.state.currentScreen = 1;  // 1 places screen 10, which places text box 9 showing variable 3
  test::decode(p, test::variableMessage(3, test::variableBody(VariableType::U8, {1})));
  test::decode(p, test::variableMessage(4, test::variableBody(VariableType::U8, {1})));
  EXPECT_EQ(host.calls(), (Calls{"screen 1"}));
}

struct PasswordCase {
  const char* name;
  uint32_t prompt;
  test::ScriptedHost::Answer answer;
  std::vector<uint32_t> events;
  uint32_t screenAfter;
  const char* lastLine;
};

TEST_F(DisplayFlows, PasswordPromptFlows) {
  const PasswordCase cases[] = {
      {"local match", 5, {kDialogOk, "1234", -1}, {0x72}, 8, "REDO PASSWD: PASSWORD OK"},
      {"local mismatch", 5, {kDialogOk, "12", -1}, {0x73}, 1, "REDO PASSWD: PASSWORD ERROR"},
      {"remote submit", 6, {kDialogOk, "secret", -1}, {0x80}, 8, "REDO PASSWD: Password accepted for processing"},
      {"cancel returns (entering the menu again)",
       5,
       {kDialogCancel, "", -1},
       {0x71, 0x50},
       0,
       "REDO PASSWD: Password cancelled"},
  };
  for (const PasswordCase& c : cases) {
    events.clear();
    eventData.clear();
    p.state.currentScreen = 8;
    p.state.backDepth = 0;
    pushBack(p.state, 0);
    host.answer(c.answer);
    test::LogCapture log;
    display.goToScreen(c.prompt);
    EXPECT_EQ(events, c.events) << c.name;
    EXPECT_EQ(p.state.currentScreen, c.screenAfter) << c.name;
    EXPECT_EQ(log.lines().back(), c.lastLine) << c.name;
  }
}

TEST_F(DisplayFlows, SubmittedPasswordCarriesItsZeroAndTooLongSendsNothing) {
  host.answer({kDialogOk, "abc", -1});
  display.goToScreen(6);
  ASSERT_EQ(eventData.size(), 1u);
  EXPECT_EQ(eventData[0], (std::vector<uint8_t>{'a', 'b', 'c', 0}));
  host.answer({kDialogOk, std::string(138, 'x'), -1});
  events.clear();
  display.goToScreen(6);
  EXPECT_TRUE(events.empty());           // 139 bytes with the zero: not sent
  EXPECT_EQ(p.state.currentScreen, 8u);  // the prompt still moves on
}

TEST_F(DisplayFlows, CancelledPromptWithEmptyBackStackStays) {
  p.state.backDepth = 0;
  display.goToScreen(5);
  EXPECT_EQ(p.state.currentScreen, 5u);
  EXPECT_EQ(host.calls(), (Calls{"password 5 \"\""}));
}

TEST_F(DisplayFlows, PopupFlows) {
  // A button with an event and a target.
  pushBack(p.state, 1);
  host.answer({kDialogOk, "", 0});
  display.goToScreen(7);
  EXPECT_EQ(events, (std::vector<uint32_t>{0x90}));
  EXPECT_EQ(p.state.currentScreen, 8u);
  EXPECT_EQ(host.calls().front(), "popup 7 \"Popup title\" 2");
  // A button with neither returns to the display pushed before.
  events.clear();
  host.answer({kDialogOk, "", 1});
  display.goToScreen(7);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(p.state.currentScreen, 1u);
  EXPECT_EQ(p.state.backDepth, 0u);
  // Cancelled, or Enter without a button, with an empty back stack: nothing changes.
  for (auto answer :
       {test::ScriptedHost::Answer{kDialogCancel, "", -1}, test::ScriptedHost::Answer{kDialogOk, "", -1}}) {
    host.answer(answer);
    test::LogCapture log;
    display.goToScreen(7);
    EXPECT_EQ(p.state.currentScreen, 7u);
    EXPECT_EQ(log.lines().back(), "REDO POPUP: Dialog cancelled");
  }
  // A button index beyond the buttons is no button.
  host.answer({kDialogOk, "", 5});
  display.goToScreen(7);
  EXPECT_TRUE(events.empty());
}

TEST_F(DisplayFlows, PopupsLeadingToThemselvesStopNesting) {
  // Button 0 of pop-up 7 targets screen 8; make a pop-up whose button leads back to itself.
  store(11, test::wire({u16(ObjectType::Popup), u24(0xFFFFFF), u24(0xFFFFFF), u24(0xFFFFFF), u8(1), u24(0xFFFFFF),
                        u24(0xFFFFFF), u24(11)}));
  for (int i = 0; i < 100; ++i) host.answer({kDialogOk, "", 0});
  display.goToScreen(11);
  EXPECT_EQ(host.count("popup 11 \"\" 1"), 32u);
}

TEST(BackStack, HoldsAHundredAndTwentyEightAndDropsMore) {
  ClientState s;
  for (uint32_t i = 0; i < 130; ++i) pushBack(s, i);
  EXPECT_EQ(s.backDepth, 128u);
  EXPECT_EQ(popBack(s), 127u);
  s.backDepth = 0;
  EXPECT_EQ(popBack(s), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace okt
