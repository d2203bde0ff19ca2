#include <gtest/gtest.h>

#include "protocol/requests.h"
#include "support/messages.h"

namespace okt {
namespace {

using Bytes = std::vector<uint8_t>;

class Requests : public ::testing::Test {
 protected:
  void SetUp() override {
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) {
      sent.emplace_back(b, b + n);
      return failFrom >= 0 && static_cast<int>(sent.size()) > failFrom ? 1 : 0;
    };
    p.hooks.sleep = [this](uint32_t) { ++sleeps; };
  }
  Protocol p;
  std::vector<Bytes> sent;
  int failFrom = -1;
  int sleeps = 0;
};

TEST_F(Requests, FirstRequestCarriesCounterOneAndGetInfoWaitsForInfo) {
  EXPECT_EQ(requestInfo(p), 1);  // nothing answers
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0], (Bytes{0x00, 0x01, 0x00, 0x00, 0x00, 0x01}));
  EXPECT_EQ(sleeps, 102);

  sleeps = 0;
  p.hooks.sleep = [this](uint32_t) {
    if (++sleeps == 3) test::decode(p, test::infoMessage(5, 0, 0));
  };
  EXPECT_EQ(requestInfo(p), 0);
  EXPECT_EQ(sleeps, 3);
  EXPECT_EQ(sent[1][5], 2);
}

TEST_F(Requests, GetInfoFailsAtOnceWhenTheSendFails) {
  failFrom = 0;
  p.state.infoReceived = 1;
  EXPECT_EQ(requestInfo(p), 1);
  EXPECT_EQ(p.state.infoReceived, 0);
  EXPECT_EQ(sleeps, 0);
}

TEST_F(Requests, GetRequestsCarryTheLow16BitsOfTheCounts) {
  p.state.textCount = 300;
  p.state.objectCount = 0x12345;
  p.state.variableCount = 7;
  requestTexts(p);
  requestObjects(p);
  requestVariables(p);
  EXPECT_EQ(sent[0], (Bytes{0x00, 0x03, 0, 0, 0, 1, 0, 0, 0, 0x01, 0x2C, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(sent[1], (Bytes{0x00, 0x05, 0, 0, 0, 2, 0, 0, 0, 0x23, 0x45, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
  EXPECT_EQ(sent[2], (Bytes{0x00, 0x07, 0, 0, 0, 3, 0, 0, 0, 0x00, 0x07, 0xFF, 0xFF, 0xFF, 0x00, 0x00}));
}

TEST_F(Requests, CounterWrapsModulo2To32) {
  p.state.requestCounter = 0xFFFFFFFF;
  sendEvent(p, 1, 2, nullptr, 0);
  EXPECT_EQ(Bytes(sent[0].begin() + 2, sent[0].begin() + 6), (Bytes{0, 0, 0, 0}));
}

TEST_F(Requests, SendEventLimitsItsData) {
  const uint8_t click[] = {0x80, 0x00};
  EXPECT_EQ(sendEvent(p, 0x123456, 0x000102, click, 2), 0);
  EXPECT_EQ(sent[0], (Bytes{0x00, 0x0C, 0, 0, 0, 1, 0x12, 0x34, 0x56, 0x00, 0x01, 0x02, 0x80, 0x00}));
  Bytes data(139, 'x');
  EXPECT_EQ(sendEvent(p, 1, 1, data.data(), 139), 1);
  EXPECT_EQ(sent.size(), 1u);
  EXPECT_EQ(sendEvent(p, 1, 1, data.data(), 138), 0);
  EXPECT_EQ(sent.back().size(), 150u);
  EXPECT_EQ(sendEvent(p, 1, 1, data.data(), 0), 0);  // no data bytes with length 0
  EXPECT_EQ(sent.back().size(), 12u);
}

TEST_F(Requests, LongWritesGoInChunksOfTwentyEachWithItsCounter) {
  Bytes value(45, 'a');
  value.back() = 0;
  EXPECT_EQ(writeVariableBytes(p, 9, value.size(), value.data()), 0);
  ASSERT_EQ(sent.size(), 3u);
  const uint16_t offsets[] = {0, 20, 40}, sizes[] = {20, 20, 5};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(sent[i][5], i + 1);
    EXPECT_EQ((sent[i][9] << 8) | sent[i][10], offsets[i]);
    EXPECT_EQ((sent[i][11] << 8) | sent[i][12], sizes[i]);
    EXPECT_EQ(sent[i].size(), 13u + sizes[i]);
  }
  EXPECT_EQ(writeVariableBytes(p, 9, 0, value.data()), 0);
  EXPECT_EQ(sent.size(), 3u);
}

TEST_F(Requests, WriteStopsAtTheFirstFailedChunk) {
  failFrom = 1;  // the second send fails
  Bytes value(60, 'b');
  EXPECT_EQ(writeVariableBytes(p, 9, value.size(), value.data()), 1);
  EXPECT_EQ(sent.size(), 2u);
}

TEST_F(Requests, WriteVariableEncodesByTypeIntoTheStoredValueFirst) {
  using VT = VariableType;
  struct Case {
    const char* name;
    uint16_t type;
    Bytes initial;
    uint32_t value;
    const char* text;
    Bytes sentBytes;
    Bytes stored;  // the value block afterwards
  };
  const Case cases[] = {
      {"bool", VT::BOOL, {1}, 0, "", {0}, {0, 0}},
      {"u8", VT::U8, {1}, 0x1FF, "", {0xFF}, {0xFF, 0}},
      {"u16 1000", VT::U16, {0, 0}, 1000, "", {0x03, 0xE8}, {0x03, 0xE8, 0}},
      {"u16 70000", VT::U16, {0, 0}, 70000, "", {0x11, 0x70}, {0x11, 0x70, 0}},
      {"s32", VT::S32, {0, 0, 0, 0}, 0xFFFFFFFE, "", {0xFF, 0xFF, 0xFF, 0xFE}, {0xFF, 0xFF, 0xFF, 0xFE, 0}},
      {"time", VT::TIME, {0, 0, 0}, 0x0C2238, "", {12, 34, 56}, {12, 34, 56, 0}},
      {"hour minute", VT::HOUR_MINUTE, {0, 0}, (300 << 8 | 5) & 0xFFFF, "", {0x2C, 0x05}, {0x2C, 0x05, 0}},
      {"date", VT::DATE, {1, 1, 0}, 0x050C18, "", {5, 12, 24}, {5, 12, 24, 0}},
      {"weekdays", VT::WEEKDAYS, {0}, 0x41, "", {0x41}, {0x41, 0}},
      {"list keeps its choices", VT::LIST, {0, 0, 0, 0, 5, 0, 0, 6}, 1, "", {0, 1}, {0, 1, 0, 0, 5, 0, 0, 6, 0}},
      {"string grows", VT::STRING, {'x', 0}, 0, "abc", {'a', 'b', 'c', 0}, {'a', 'b', 'c', 0, 0}},
      {"short value block grows", VT::U32, {7}, 0x01020304, "", {1, 2, 3, 4}, {1, 2, 3, 4, 0}},
  };
  test::openTables(p, 1, 1, 32);
  uint32_t id = 0;
  for (const Case& c : cases) {
    test::decode(p, test::variableMessage(id, test::variableBody(c.type, c.initial)));
    uint16_t lengthBefore = variableEntry(p.state, id)->length;
    sent.clear();
    VariableValue value{c.type, c.value, c.text};
    EXPECT_EQ(writeVariable(p, id, &value), 0) << c.name;
    ASSERT_EQ(sent.size(), 1u) << c.name;
    EXPECT_EQ(Bytes(sent[0].begin() + 13, sent[0].end()), c.sentBytes) << c.name;
    EXPECT_EQ(variableEntry(p.state, id)->value, c.stored) << c.name;
    EXPECT_EQ(variableEntry(p.state, id)->length, lengthBefore) << c.name;
    ++id;
  }
}

TEST_F(Requests, WriteVariableRefusesWhatItCannotEncode) {
  test::openTables(p, 1, 1, 4);
  VariableValue u8{VariableType::U8, 1, ""};
  VariableValue none{VariableType::NONE, 1, ""};
  VariableValue tooHigh{14, 1, ""};
  test::decode(p, test::variableMessage(0, test::variableBody(VariableType::U8, {1})));
  EXPECT_EQ(writeVariable(p, 0, nullptr), 1);
  EXPECT_EQ(writeVariable(p, 1, &u8), 1);  // no value yet
  EXPECT_EQ(writeVariable(p, 4, &u8), 1);  // outside the table
  EXPECT_EQ(writeVariable(p, 0, &none), 1);
  EXPECT_EQ(writeVariable(p, 0, &tooHigh), 1);
  EXPECT_TRUE(sent.empty());
}

}  // namespace
}  // namespace okt
