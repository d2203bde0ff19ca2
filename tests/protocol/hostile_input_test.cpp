#include <gtest/gtest.h>

#include "protocol/encoder.h"
#include "support/messages.h"

namespace okt {
namespace {

using namespace okt::test::fields;

using test::decode;

// Two different valid bodies of every type: the first is stored, then every
// cut-short form of the second must be refused without touching the first.
// Menus and canvases are written out: what they hold decides their length.
std::vector<std::pair<std::vector<uint8_t>, std::vector<uint8_t>>> bodyPairs() {
  auto screen = [](uint32_t bg) {
    return test::wire({u16(ObjectType::Screen), u16(2), u24(bg), u24(1), u16(1), u16(2), u16(3), u16(4), u24(2), u16(5),
                       u16(6), u16(7), u16(8)});
  };
  auto button = [](uint32_t t) {
    return encodeObjectBody(ObjectType::Button, ButtonBody{1, 18, t, t + 1, t + 2, t + 3, t + 4, t + 5, t, t, t, t});
  };
  auto menu = [](uint32_t t) {
    return test::wire({u16(ObjectType::Menu), u16(3), u24(t), u24(t), u24(t), u24(t), u8(1), u8(0), u8(0x3F), u24(1),
                       u24(2), u24(3), u24(4), u24(5), text("lbl"), u8(0), u8(0x01), u24(t)});
  };
  auto polyline = [](uint32_t c) {
    return WireWriter().u16(ObjectType::Polyline).u24(c).u8(1).u8(1).u8(2).u16(0).u16(0).u16(9).u16(9).u8(0).take();
  };
  auto textbox = [](uint32_t t) {
    return WireWriter().u16(ObjectType::TextBox).u16(0).u8(0).u16(0).u16(12).u24(t).u24(t).u24(t).u24(t).u24(t).take();
  };
  auto blob = [](uint8_t v) { return WireWriter().u16(ObjectType::JpegPicture).u16(4).u8(v).u8(v).u8(v).u8(v).take(); };
  auto gauge = [](uint16_t v) {
    return encodeObjectBody(ObjectType::Gauge,
                            GaugeBody{0x38, 1, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v, v});
  };
  auto password = [](uint8_t c) {
    return encodeObjectBody(ObjectType::PasswordPrompt,
                            PasswordPromptBody{8, 0x20, 4, c, c, c, c, c, c, c, c, 3, std::string(3, char(c))});
  };
  auto popup = [](uint32_t t) {
    return test::wire(
        {u16(ObjectType::Popup), u24(t), u24(t), u24(t), u8(2), u24(1), u24(2), u24(3), u24(4), u24(5), u24(6)});
  };
  auto lock = [](uint16_t a) {
    return encodeObjectBody(ObjectType::LockObject, LockObjectBody{a, 0, 5, a, a, a, a, a, a, a, a, a});
  };
  auto canvas = [](uint8_t width) {
    return test::wire({u16(ObjectType::Canvas), u8(0x06), u8(width), u8(0x21), u16(1), u16(1), text("ab"), u8(0x23),
                       u8(1), u16(0), u16(0), u8(0)});
  };
  return {{screen(1), screen(2)},   {button(1), button(2)}, {menu(1), menu(2)},    {polyline(1), polyline(2)},
          {textbox(1), textbox(2)}, {blob(1), blob(2)},     {gauge(1), gauge(2)},  {password('a'), password('b')},
          {popup(1), popup(2)},     {lock(1), lock(2)},     {canvas(1), canvas(2)}};
}

TEST(HostileInput, EveryCutShortObjectIsRefusedAndKeepsTheStoredBody) {
  Protocol p;
  test::openTables(p, 64, 4, 4);
  uint32_t id = 0;
  for (const auto& [first, second] : bodyPairs()) {
    ASSERT_EQ(decode(p, test::objectMessage(id, first)), 0) << "object " << id;
    ObjectBody kept = *objectBody(p.state, id);
    auto full = test::objectMessage(id, second);
    for (size_t len = 0; len < full.size(); ++len) {
      if (decodeMessage(p, full.data(), len) == 0) {
        // Only a menu label or canvas text may legitimately end at the message end... but neither
        // sample ends with one, so every proper prefix must be refused.
        ADD_FAILURE() << "object " << id << " accepted a prefix of " << len << " bytes";
      }
      ASSERT_EQ(*objectBody(p.state, id), kept) << "object " << id << " changed by a prefix of " << len;
    }
    EXPECT_EQ(decode(p, full), 0);
    EXPECT_NE(*objectBody(p.state, id), kept);
    ++id;
  }
}

TEST(HostileInput, CutShortVariablesAndHeadersAreRefused) {
  Protocol p;
  test::openTables(p, 4, 4, 4);
  decode(p, test::variableMessage(1, test::variableBody(VariableType::U16, {1, 2})));
  auto full = test::variableMessage(1, test::variableBody(VariableType::U16, {3, 4}));
  for (size_t len = 0; len < full.size(); ++len) {
    EXPECT_EQ(decodeMessage(p, full.data(), len), 1) << len;
    EXPECT_EQ(variableEntry(p.state, 1)->value, (std::vector<uint8_t>{1, 2, 0}));
  }
  auto info = test::infoMessage(9, 9, 9);
  for (size_t len = 0; len < info.size(); ++len) EXPECT_EQ(decodeMessage(p, info.data(), len), 1);
  EXPECT_EQ(p.state.objectCount, 4u);
  auto part = test::partMessage(MessageType::OBJECT_PART, 1, 0, {1, 2, 3});
  for (size_t len = 0; len < part.size(); ++len) EXPECT_EQ(decodeMessage(p, part.data(), len), 1);
  EXPECT_EQ(p.state.pObjList.find(1)->partSize, -1);
}

TEST(HostileInput, HugeClaimedTablesCostOnlyWhatIsSent) {
  Protocol p;
  test::openTables(p, 0xFFFFFF, 0xFFFFFF, 0xFFFFFF);
  EXPECT_EQ(p.state.budget.used(), 0u);
  auto button = bodyPairs()[1].first;
  EXPECT_EQ(decode(p, test::objectMessage(0xFFFFFE, button)), 0);
  EXPECT_EQ(decode(p, test::textMessage(0xFFFFFE, "far")), 0);
  EXPECT_EQ(decode(p, test::variableMessage(0xFFFFFE, test::variableBody(VariableType::U8, {1}))), 0);
  EXPECT_EQ(p.state.pObjList.pageCount(), 1u);
  EXPECT_EQ(p.state.pStrList.pageCount(), 1u);
  EXPECT_EQ(p.state.pVarList.pageCount(), 1u);
  EXPECT_LT(p.state.budget.used(), size_t{1} << 20);
  EXPECT_EQ(decode(p, test::objectMessage(0xFFFFFF, button)), 1);  // not an index of the table
  // Untouched ids read as fresh entries.
  EXPECT_EQ(objectType(p.state, 12345), -1);
  EXPECT_EQ(textOf(p.state, 12345), nullptr);
}

TEST(HostileInput, StoredBytesStayWithinTheBudget) {
  Protocol p;
  test::openTables(p, 4096, 0, 0);
  p.state.budget.setLimit(1 << 20);
  // Part buffers reaching 65 KB each: the budget refuses them before memory runs away.
  int refused = 0;
  for (uint32_t id = 0; id < 4096; ++id)
    refused += decode(p, test::partMessage(MessageType::OBJECT_PART, id, 65535, {1}));
  EXPECT_GT(refused, 4000);
  EXPECT_LE(p.state.budget.used(), size_t{1} << 20);
  // What was stored before the budget ran out is still there.
  EXPECT_EQ(p.state.pObjList.find(0)->partSize, 65536);
  // Finishing a stored body gives its part buffer back.
  size_t before = p.state.budget.used();
  decode(p, test::partMessage(MessageType::OBJECT_LAST_PART, 0, 0, {0, 4}));
  EXPECT_LT(p.state.budget.used(), before);
  releaseTables(p.state);
  EXPECT_EQ(p.state.budget.used(), 0u);
}

TEST(HostileInput, InfoAfterAllocationDoesNotWidenTheTables) {
  Protocol p;
  test::openTables(p, 4, 4, 4);
  decode(p, test::infoMessage(1000, 1000, 1000));
  EXPECT_EQ(p.state.objectCount, 1000u);
  EXPECT_EQ(decode(p, test::objectMessage(500, bodyPairs()[1].first)), 1);
  EXPECT_EQ(decode(p, test::textMessage(500, "x")), 1);
  EXPECT_EQ(decode(p, test::partMessage(MessageType::TEXT_PART, 500, 0, {'x'})), 1);
  EXPECT_EQ(objectType(p.state, 500), -1);
  EXPECT_EQ(objectTypeInRange(p.state, 500), -1);
  decode(p, test::infoMessage(2, 2, 2));
  EXPECT_EQ(objectTypeInRange(p.state, 3), -1);
}

}  // namespace
}  // namespace okt
