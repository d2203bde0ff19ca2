#include <gtest/gtest.h>

#include "protocol/encoder.h"
#include "support/log_capture.h"
#include "support/messages.h"

namespace okt {
namespace {

using namespace okt::test::fields;

using test::decode;
using test::message;
using test::partMessage;

std::vector<uint8_t> buttonBody() {
  return encodeObjectBody(ObjectType::Button, ButtonBody{1, 18, 1, 2, 3, 4, 5, 6, 0xFFFFFF, 0xFFFFFF, 40, 0xFFFFFF});
}

std::vector<uint8_t> textBoxBody(uint32_t variableId) {
  return test::wire({u16(ObjectType::TextBox), u16(0), u8(0), u16(0), u16(20), u24(1), u24(2), u24(3), u24(0xFFFFFF),
                     u24(variableId)});
}

class Decoder : public ::testing::Test {
 protected:
  void SetUp() override {
    test::openTables(p, 32, 256, 16);
    p.hooks.objectChanged = [this](uint32_t id) { objectsChanged.push_back(id); };
    p.hooks.variableChanged = [this](uint32_t id) { variablesChanged.push_back(id); };
    p.hooks.leaveLock = [this](uint32_t target, int reason) {
      locksLeft.push_back({target, static_cast<uint32_t>(reason)});
      return 1;
    };
  }
  std::string text(uint32_t id) {
    const char* t = textOf(p.state, id);
    return t ? t : "<none>";
  }
  Protocol p;
  std::vector<uint32_t> objectsChanged, variablesChanged;
  std::vector<std::pair<uint32_t, uint32_t>> locksLeft;
};

TEST_F(Decoder, InfoStoresSizesAndHomeScreen) {
  Protocol fresh;
  const std::vector<uint8_t> info = {0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x01, 0x00, 0x02, 0x00, 0x00,
                                     0x20, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00};
  EXPECT_EQ(decode(fresh, info), 0);
  EXPECT_EQ(fresh.state.infoReceived, 1);
  EXPECT_EQ(fresh.state.infoBytes[0], 1);
  EXPECT_EQ(fresh.state.infoBytes[1], 0);
  EXPECT_EQ(fresh.state.infoBytes[2], 2);
  EXPECT_EQ(fresh.state.objectCount, 32u);
  EXPECT_EQ(fresh.state.textCount, 256u);
  EXPECT_EQ(fresh.state.variableCount, 16u);
  EXPECT_EQ(fresh.state.homeScreen, 0u);
}

TEST_F(Decoder, TextIsStoredAndReplacedWhole) {
  const std::vector<uint8_t> hi = {0x00, 0x02, 1, 2, 3, 4, 0x00, 0x00, 0x05, 'H', 'i', 0};
  EXPECT_EQ(decode(p, hi), 0);
  EXPECT_EQ(text(5), "Hi");
  EXPECT_EQ(p.state.pStrList.find(5)->length, 2);
  decode(p, test::textMessage(6, "Hello"));
  decode(p, test::textMessage(6, "Yo"));
  EXPECT_EQ(text(6), "Yo");
  EXPECT_EQ(p.state.pStrList.find(6)->text->size(), 2u);
  EXPECT_EQ(decode(p, test::textMessage(256, "out")), 1);
  EXPECT_EQ(text(255), "<none>");
}

TEST_F(Decoder, TextWithoutZeroEndsAtTheMessageEnd) {
  auto m = message(MessageType::TEXT, WireWriter().u24(3).u8('a').u8('b').take());
  EXPECT_EQ(decode(p, m), 0);
  EXPECT_EQ(text(3), "ab");
}

TEST_F(Decoder, TextPartsGrowTheTextInAnyOrder) {
  decode(p, partMessage(MessageType::TEXT_PART, 9, 3, {'d', 'e', 'f'}));
  EXPECT_EQ(text(9), "");  // usable as it grows; the start is still zero
  EXPECT_EQ(p.state.pStrList.find(9)->length, 6);
  decode(p, partMessage(MessageType::TEXT_PART, 9, 0, {'a', 'b', 'c'}));
  EXPECT_EQ(text(9), "abcdef");
  decode(p, partMessage(MessageType::TEXT_PART, 9, 1, {'X'}));  // overlap: last write wins
  EXPECT_EQ(text(9), "aXcdef");
  EXPECT_EQ(p.state.pStrList.find(9)->length, 6);                                 // never shrinks
  EXPECT_EQ(decode(p, partMessage(MessageType::TEXT_PART, 9, 65535, {'z'})), 1);  // beyond a u16 size
}

TEST_F(Decoder, ObjectPartsAssembleAndOnlyTheLastDecodes) {
  WireWriter blob;
  blob.u16(ObjectType::DataBlock).u16(132);
  for (int i = 0; i < 132; ++i) blob.u8(i);
  auto body = blob.take();  // 136 bytes
  std::vector<uint8_t> tail(body.begin() + 100, body.end());
  std::vector<uint8_t> head(body.begin(), body.begin() + 100);

  EXPECT_EQ(decode(p, partMessage(MessageType::OBJECT_PART, 4, 100, tail)), 0);
  const ObjectEntry* e = p.state.pObjList.find(4);
  EXPECT_EQ(e->partSize, 136);
  EXPECT_EQ(e->partBuffer.size(), 137u);
  EXPECT_EQ(e->partBuffer[0], 0);
  EXPECT_EQ(objectType(p.state, 4), -1);

  EXPECT_EQ(decode(p, partMessage(MessageType::OBJECT_LAST_PART, 4, 0, head)), 0);
  EXPECT_EQ(objectType(p.state, 4), static_cast<int32_t>(ObjectType::DataBlock));
  EXPECT_EQ(e->partSize, -1);
  EXPECT_TRUE(e->partBuffer.empty());
  const auto* blobBody = bodyOf<BlobBody>(p.state, 4);
  ASSERT_NE(blobBody, nullptr);
  EXPECT_EQ(blobBody->size, 132u);
  EXPECT_EQ(blobBody->data.size(), 134u);
  EXPECT_EQ(blobBody->data[131], 131);
  EXPECT_EQ(blobBody->data[133], 0);
}

TEST_F(Decoder, RefusedLastPartStillReleasesTheBuffer) {
  decode(p, partMessage(MessageType::OBJECT_PART, 4, 0, {0x00, 0x04}));  // type 4 has no body
  EXPECT_EQ(decode(p, partMessage(MessageType::OBJECT_LAST_PART, 4, 2, {1, 2})), 1);
  EXPECT_EQ(p.state.pObjList.find(4)->partSize, -1);
  decode(p, partMessage(MessageType::VARIABLE_PART, 2, 0, {0, 2}));
  EXPECT_EQ(decode(p, partMessage(MessageType::VARIABLE_LAST_PART, 2, 2, {0})), 1);  // too short
  EXPECT_EQ(p.state.pVarList.find(2)->partSize, -1);
  EXPECT_EQ(p.state.budget.used(), p.state.pObjList.kPageBytes + p.state.pVarList.kPageBytes);
}

TEST_F(Decoder, VariableInPartsAndItsRedraw) {
  p.state.displayReady = 1;
  auto body = test::variableBody(VariableType::STRING, std::vector<uint8_t>(150, 'x'));
  body.back() = 0;
  std::vector<uint8_t> a(body.begin(), body.begin() + 100), b(body.begin() + 100, body.end());
  decode(p, partMessage(MessageType::VARIABLE_PART, 3, 0, a));
  EXPECT_TRUE(variablesChanged.empty());
  EXPECT_EQ(decode(p, partMessage(MessageType::VARIABLE_LAST_PART, 3, 100, b)), 0);
  EXPECT_EQ(variablesChanged, std::vector<uint32_t>{3});
  std::string shown;
  formatVariable(p.state, 3, shown);
  EXPECT_EQ(shown, std::string(149, 'x'));
}

TEST_F(Decoder, ChangesAreReportedOnlyOnceTheDisplayIsReady) {
  decode(p, test::objectMessage(1, buttonBody()));
  decode(p, test::variableMessage(1, test::variableBody(VariableType::U8, {3})));
  EXPECT_TRUE(objectsChanged.empty());
  EXPECT_TRUE(variablesChanged.empty());
  p.state.displayReady = 1;
  decode(p, test::objectMessage(1, buttonBody()));
  decode(p, test::variableMessage(1, test::variableBody(VariableType::U8, {4})));
  EXPECT_EQ(objectsChanged, std::vector<uint32_t>{1});
  EXPECT_EQ(variablesChanged, std::vector<uint32_t>{1});
}

TEST_F(Decoder, AnObjectKeepsItsFirstType) {
  decode(p, test::objectMessage(7, textBoxBody(2)));
  EXPECT_EQ(decode(p, test::objectMessage(7, buttonBody())), 1);
  EXPECT_EQ(objectType(p.state, 7), static_cast<int32_t>(ObjectType::TextBox));
  ASSERT_NE(bodyOf<TextBoxBody>(p.state, 7), nullptr);
  EXPECT_EQ(bodyOf<TextBoxBody>(p.state, 7)->variableId, 2u);
  decode(p, test::variableMessage(2, test::variableBody(VariableType::U8, {1})));
  EXPECT_EQ(decode(p, test::variableMessage(2, test::variableBody(VariableType::U16, {1, 2}))), 1);
  EXPECT_EQ(variableEntry(p.state, 2)->type, VariableType::U8);
}

TEST_F(Decoder, RefusesIdsOutsideTheTables) {
  EXPECT_EQ(decode(p, test::objectMessage(32, buttonBody())), 1);
  EXPECT_EQ(decode(p, test::variableMessage(16, test::variableBody(VariableType::U8, {1}))), 1);
  EXPECT_EQ(decode(p, partMessage(MessageType::OBJECT_PART, 32, 0, {1})), 1);
  EXPECT_EQ(decode(p, partMessage(MessageType::VARIABLE_PART, 16, 0, {1})), 1);
}

TEST_F(Decoder, ErrorReportLinesNameCodeAndElement) {
  struct Case {
    uint32_t code;
    uint8_t type;
    uint32_t id;
    const char* line;
  };
  const Case cases[] = {
      {3, 1, 57, "INVALID OBJECT ID ; Element type 1: OBJECT ID = 57"},
      {1, 2, 0, "UNKNOWN ; Element type 2: TEXT ID = 0"},
      {0, 0, 1, "NONE ; Element type 0: UNDEFINED ID = 1"},
      {7, 3, 9, "VAR OUT OF LIMITS ; Element type 3: VARIABLE ID = 9"},
      {8, 5, 2, "INVALID LANGUAGE ; Element type 5: LANGUAGE ID = 2"},
      {99, 6, 4000000000u, "UNKNOWN ; Element type 6: UNKNOWN ID = 4000000000"},
  };
  for (const Case& c : cases) {
    test::LogCapture log;
    EXPECT_EQ(decode(p, message(MessageType::ERROR_REPORT, WireWriter().u32(c.code).u8(c.type).u32(c.id).take())), 0);
    EXPECT_EQ(log.text(), std::string(c.line) + "\n");
  }
}

TEST_F(Decoder, EventEndsTheLockTowardsItsTarget) {
  const std::vector<uint8_t> event = {0x00, 0x09, 0, 0, 0, 1, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(decode(p, event), 0);
  ASSERT_EQ(locksLeft.size(), 1u);
  EXPECT_EQ(locksLeft[0].first, 0xFFFFFFu);
  EXPECT_EQ(locksLeft[0].second, 0u);
}

TEST_F(Decoder, UnknownMessageTypesAreIgnored) {
  for (uint16_t type : {0, 6, 7, 8, 15, 0xFFFF}) EXPECT_EQ(decode(p, message(type, {1, 2, 3})), 0) << type;
}

TEST_F(Decoder, DrainDecodesEverythingQueuedInOrder) {
  int posts = 0;
  p.hooks.postData = [&] { ++posts; };
  auto first = test::textMessage(1, "first");
  auto second = test::textMessage(1, "second");
  queueNotification(p, first.data(), first.size());
  queueNotification(p, second.data(), second.size());
  EXPECT_EQ(posts, 2);
  EXPECT_EQ(drainReceiveQueue(p), 0);
  EXPECT_EQ(text(1), "second");
  EXPECT_TRUE(queueIsEmpty(p.queue));
}

TEST_F(Decoder, OnlyTheFirst148BytesOfANotificationAreDecoded) {
  std::string long_text(190, 'y');
  auto m = test::textMessage(2, long_text);  // 6 + 3 + 191 = 200 bytes
  queueNotification(p, m.data(), m.size());
  drainReceiveQueue(p);
  EXPECT_EQ(text(2), std::string(148 - 9, 'y'));
}

}  // namespace
}  // namespace okt
