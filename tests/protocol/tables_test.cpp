#include <gtest/gtest.h>

#include "support/messages.h"

namespace okt {
namespace {

using test::decode;
using test::variableBody;
using test::variableMessage;

struct FormatCase {
  const char* name;
  uint16_t type;
  std::vector<uint8_t> value;
  const char* shown;
  uint32_t unit = 0xFFFFFF;
};

class VariableTables : public ::testing::Test {
 protected:
  void SetUp() override {
    test::openTables(p, 10, 10, 64);
    decode(p, test::textMessage(1, "rpm"));
    decode(p, test::textMessage(2, "Low"));
    decode(p, test::textMessage(3, "High"));
  }
  void setVariable(uint32_t id, uint16_t type, const std::vector<uint8_t>& value, uint32_t unit = 0xFFFFFF,
                   uint32_t minimum = 0, uint32_t maximum = 0) {
    ASSERT_EQ(decode(p, variableMessage(id, variableBody(type, value, unit, minimum, maximum))), 0);
  }
  std::string shown(uint32_t id) {
    std::string out = "untouched";
    return formatVariable(p.state, id, out) == 0 ? out : "<fail:" + out + ">";
  }
  Protocol p;
};

TEST_F(VariableTables, DisplayTextOfEveryType) {
  const FormatCase cases[] = {
      {"bool off", VariableType::BOOL, {0}, "OFF"},
      {"bool on", VariableType::BOOL, {1}, "ON"},
      {"bool 255", VariableType::BOOL, {255}, "ON"},
      {"bool ignores unit", VariableType::BOOL, {1}, "ON", 1},
      {"u8", VariableType::U8, {200}, "200"},
      {"s8", VariableType::S8, {0xFE}, "-2"},
      {"u16", VariableType::U16, {0x03, 0xE8}, "1000"},
      {"u16 with unit", VariableType::U16, {0x03, 0xE8}, "1000 rpm", 1},
      {"u16 unit not arrived", VariableType::U16, {0x03, 0xE8}, "1000", 7},
      {"s16", VariableType::S16, {0xFF, 0xFB}, "-5"},
      {"u32", VariableType::U32, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295"},
      {"s32", VariableType::S32, {0xFF, 0xFF, 0xFF, 0xFF}, "-1"},
      {"string", VariableType::STRING, {'a', 'b', 'c', 0}, "abc"},
      {"date", VariableType::DATE, {0x05, 0x0C, 0x18}, "05/12/2024"},
      {"time", VariableType::TIME, {0x09, 0x05, 0x00}, "09:05:00"},
      {"hour minute", VariableType::HOUR_MINUTE, {0x11, 0x1E}, "17:30"},
      {"time with unit", VariableType::TIME, {1, 2, 3}, "01:02:03 rpm", 1},
      {"list second", VariableType::LIST, {0, 1, 0, 0, 2, 0, 0, 3}, "High"},
      {"list none id", VariableType::LIST, {0, 0, 0xFF, 0xFF, 0xFF}, "ERR"},
      {"list too short", VariableType::LIST, {0, 2, 0, 0, 2, 0, 0, 3}, "ERR"},
      {"list text missing", VariableType::LIST, {0, 0, 0, 0, 9}, "ERR"},
      {"weekdays 0x15", VariableType::WEEKDAYS, {0x15}, "1-3-5--"},
      {"weekdays mon+sun", VariableType::WEEKDAYS, {0x41}, "1-----7"},
      {"weekdays ignore unit", VariableType::WEEKDAYS, {0}, "-------", 1},
      {"u32 too short to read", VariableType::U32, {1, 2}, "<fail:untouched>"},
  };
  uint32_t id = 20;  // a variable keeps its type, so each case gets its own id
  for (const FormatCase& c : cases) {
    setVariable(id, c.type, c.value, c.unit);
    EXPECT_EQ(shown(id), c.shown) << c.name;
    ++id;
  }
}

TEST_F(VariableTables, NoneNeedsNoValueButOtherTypesDo) {
  EXPECT_EQ(shown(0), "None");               // type 0 without any body
  EXPECT_EQ(shown(64), "<fail:untouched>");  // outside the table
  setVariable(4, 20, {1});
  EXPECT_EQ(shown(4), "<fail:untouched>");  // type above 13
}

TEST_F(VariableTables, NumericReadingIsUnsignedAndFailsForTextTypes) {
  setVariable(0, VariableType::S16, {0xFF, 0xFB});
  setVariable(1, VariableType::DATE, {0x05, 0x0C, 0x18});
  setVariable(2, VariableType::STRING, {'x', 0});
  setVariable(3, VariableType::LIST, {0, 0, 0, 0, 2});
  uint32_t n = 0;
  EXPECT_EQ(variableNumber(p.state, 0, &n), 0);
  EXPECT_EQ(n, 65531u);
  EXPECT_EQ(variableNumber(p.state, 1, &n), 0);
  EXPECT_EQ(n, 0x050C18u);
  EXPECT_EQ(variableNumber(p.state, 1, nullptr), 0);
  EXPECT_EQ(variableNumber(p.state, 2, &n), 1);
  EXPECT_EQ(variableNumber(p.state, 3, &n), 1);
  EXPECT_EQ(variableNumber(p.state, 5, &n), 1);   // no value yet
  EXPECT_EQ(variableNumber(p.state, 99, &n), 1);  // out of range
  EXPECT_TRUE(variableIsNumeric(p.state, 0));
  EXPECT_TRUE(variableIsNumeric(p.state, 1));
  EXPECT_FALSE(variableIsNumeric(p.state, 2));
  EXPECT_FALSE(variableIsNumeric(p.state, 3));
  EXPECT_FALSE(variableIsNumeric(p.state, 5));
  EXPECT_FALSE(variableIsNumeric(p.state, 99));
}

TEST_F(VariableTables, FractionBetweenLimits) {
  setVariable(0, VariableType::U8, {75}, 0xFFFFFF, 50, 150);
  setVariable(1, VariableType::U8, {75}, 0xFFFFFF, 50, 50);
  setVariable(2, VariableType::U8, {25}, 0xFFFFFF, 50, 150);
  EXPECT_DOUBLE_EQ(variableFraction(p.state, 0), 0.25);
  EXPECT_DOUBLE_EQ(variableFraction(p.state, 1), 0.0);
  EXPECT_DOUBLE_EQ(variableFraction(p.state, 2), -0.25);  // not clamped
  EXPECT_DOUBLE_EQ(variableFraction(p.state, 3), 0.0);    // no value
  EXPECT_DOUBLE_EQ(variableFraction(p.state, 64), 1.0);   // out of range
  releaseTables(p.state);
  EXPECT_DOUBLE_EQ(variableFraction(p.state, 0), 0.0);  // no tables
}

TEST(ObjectTables, LookupsWithoutTablesFindNothing) {
  Protocol p;
  EXPECT_EQ(objectType(p.state, 0), -1);
  EXPECT_EQ(objectBody(p.state, 0), nullptr);
  EXPECT_EQ(textOf(p.state, 0), nullptr);
  EXPECT_EQ(variableEntry(p.state, 0), nullptr);
  EXPECT_EQ(createBody(p.state, 0, ObjectType::Button), nullptr);
  EXPECT_FALSE(objectOnScreen(p.state, 1, 0));
}

TEST(ObjectTables, CreateBodyReplacesAndTypesTheEntry) {
  Protocol p;
  test::openTables(p, 4, 0, 0);
  ObjectBody* b = createBody(p.state, 2, ObjectType::TextBox);
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(std::holds_alternative<TextBoxBody>(*b));
  EXPECT_EQ(p.state.pObjList.find(2)->type, ObjectType::TextBox);
  // The body exists but the object is not loaded until a body is decoded.
  EXPECT_EQ(objectType(p.state, 2), -1);
  EXPECT_EQ(createBody(p.state, 2, 4), nullptr);  // no body record for type 4
  EXPECT_EQ(createBody(p.state, 4, ObjectType::Button), nullptr);
}

}  // namespace
}  // namespace okt
