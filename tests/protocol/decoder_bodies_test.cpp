#include <gtest/gtest.h>

#include "support/messages.h"

namespace okt {
namespace {

using test::decode;

class Bodies : public ::testing::Test {
 protected:
  void SetUp() override { test::openTables(p, 64, 8, 8); }
  template <typename T>
  const T* store(uint32_t id, const std::vector<uint8_t>& body) {
    EXPECT_EQ(decode(p, test::objectMessage(id, body)), 0);
    return bodyOf<T>(p.state, id);
  }
  Protocol p;
};

TEST_F(Bodies, Screen) {
  WireWriter w;
  w.u16(ObjectType::Screen).u16(2).u24(0x112233);
  w.u24(5).u16(1).u16(2).u16(3).u16(4);
  w.u24(6).u16(0xFFFF).u16(0).u16(0x8000).u16(9);
  auto* b = store<ScreenBody>(1, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b, (ScreenBody{0x112233, 2, {{5, 1, 2, 3, 4}, {6, 0xFFFF, 0, 0x8000, 9}}}));
  auto* empty = store<ScreenBody>(2, WireWriter().u16(ObjectType::Screen).u16(0).u24(7).take());
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(*empty, (ScreenBody{7, 0, {}}));
}

TEST_F(Bodies, Button) {
  WireWriter w;
  w.u16(ObjectType::Button).u16(2).u8(0xAA).u16(0xBBBB).u16(24);
  for (uint32_t c = 1; c <= 6; ++c) w.u24(c * 0x010101);
  w.u24(10).u24(0xFF1000).u24(0x123456).u24(3);
  auto* b = store<ButtonBody>(3, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b,
            (ButtonBody{2, 24, 0x010101, 0x020202, 0x030303, 0x040404, 0x050505, 0x060606, 10, 0xFF1000, 0x123456, 3}));
}

TEST_F(Bodies, MenuItemsByKindAndFlags) {
  std::string longLabel(300, 'L');
  WireWriter w;
  w.u16(ObjectType::Menu).u16(4).u24(0xFF1400).u24(1).u24(2).u24(3);
  w.u8(1);                                    // empty row
  w.u8(0).u8(0x21).u24(7).text("Own label");  // text id, then label
  w.u8(0).u8(0x1E).u24(0xFF1001).u24(11).u24(12).u24(13);
  w.u8(0).u8(0x20).text(longLabel);
  auto* b = store<MenuBody>(4, w.take());
  ASSERT_NE(b, nullptr);
  // Fields a row's flags leave out keep "none".
  const std::vector<MenuItem> items = {
      {.kind = 1, .label = ""},
      {.flags = 0x21, .textId = 7, .label = "Own label"},
      {.flags = 0x1E, .iconId = 0xFF1001, .event = 11, .targetScreen = 12, .variableId = 13, .label = ""},
      {.flags = 0x20, .label = std::string(253, 'L')}};
  EXPECT_EQ(*b, (MenuBody{4, 0xFF1400, 1, 2, 3, items}));
}

TEST_F(Bodies, LongMenuLabelIsCutAndTheNextItemStartsAfter254Bytes) {
  // The 254 bytes after the flags are taken as the label; what follows is read as the next item.
  std::string label(254, 'A');
  WireWriter w;
  w.u16(ObjectType::Menu).u16(2).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF);
  w.u8(0).u8(0x20).bytes(reinterpret_cast<const uint8_t*>(label.data()), label.size());
  w.u8(1);  // next item: an empty row
  auto* b = store<MenuBody>(5, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->items[0].label.size(), 253u);
  EXPECT_EQ(b->items[1].kind, 1);
}

TEST_F(Bodies, Polyline) {
  WireWriter w;
  w.u16(ObjectType::Polyline).u24(0xFF0000).u8(2);
  w.u8(3).u8(2).u16(1).u16(2).u16(3).u16(4);
  w.u8(1).u16(5).u16(6);
  w.u8(0);
  auto* b = store<PolylineBody>(6, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b, (PolylineBody{0xFF0000, 2, 3, {2, 1, 2, 3, 4, 1, 5, 6, 0}}));
}

TEST_F(Bodies, TextBox) {
  auto* b = store<TextBoxBody>(
      7, WireWriter().u16(ObjectType::TextBox).u16(1).u8(9).u16(9).u16(22).u24(1).u24(2).u24(3).u24(4).u24(5).take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b, (TextBoxBody{1, 22, 1, 2, 3, 4, 5}));
}

TEST_F(Bodies, BlobTypesKeepPayloadAndTwoZeros) {
  for (uint32_t type :
       {ObjectType::SvgPicture, ObjectType::GifPicture, ObjectType::DataBlock, ObjectType::JpegPicture}) {
    auto* b = store<BlobBody>(8 + type, WireWriter().u16(type).u16(3).u8('<').u8('s').u8('>').take());
    ASSERT_NE(b, nullptr) << type;
    EXPECT_EQ(b->size, 3u);
    EXPECT_EQ(b->data, (std::vector<uint8_t>{'<', 's', '>', 0, 0}));
    EXPECT_EQ(objectType(p.state, 8 + type), static_cast<int32_t>(type));
  }
}

TEST_F(Bodies, Gauge) {
  WireWriter w;
  w.u16(ObjectType::Gauge).u8(0xEE).u8(0x38).u8(2);
  for (uint32_t v = 1; v <= 8; ++v) w.u16(v * 100);
  for (uint32_t c = 1; c <= 5; ++c) w.u24(c);
  w.u16(3000).u16(33000).u16(10).u16(200).u24(6).u24(0x77);
  auto* b = store<GaugeBody>(30, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b,
            (GaugeBody{0x38, 2, 100, 200, 300, 400, 500, 600, 700, 800, 1, 2, 3, 4, 5, 3000, 33000, 10, 200, 6, 0x77}));
}

TEST_F(Bodies, PasswordPrompt) {
  WireWriter w;
  w.u16(ObjectType::PasswordPrompt).u16(0x58).u16(0xE0).u8(0).u8(4).u8(0);
  for (uint32_t v = 1; v <= 8; ++v) w.u24(v);
  w.u8(4).u8('1').u8('2').u8('3').u8('4');
  auto* b = store<PasswordPromptBody>(31, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b, (PasswordPromptBody{0x58, 0xE0, 4, 1, 2, 3, 4, 5, 6, 7, 8, 4, "1234"}));
}

TEST_F(Bodies, Popup) {
  WireWriter w;
  w.u16(ObjectType::Popup).u24(1).u24(2).u24(0xFF1002).u8(2);
  w.u24(3).u24(4).u24(5);
  w.u24(6).u24(0xFFFFFF).u24(0xFFFFFF);
  auto* b = store<PopupBody>(32, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b, (PopupBody{1, 2, 0xFF1002, 2, {{3, 4, 5}, {6, 0xFFFFFF, 0xFFFFFF}}}));
}

TEST_F(Bodies, LockObject) {
  WireWriter w;
  w.u16(ObjectType::LockObject).u16(2).u16(0x80).u16(30);
  for (uint32_t v = 1; v <= 9; ++v) w.u24(v);
  auto* b = store<LockObjectBody>(33, w.take());
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(*b, (LockObjectBody{2, 0x80, 30, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST_F(Bodies, CanvasProgramIsCopiedUpToItsEnd) {
  WireWriter w;
  w.u8(0x01).u16(1).u8(0x02).u16(24).u8(0x03).u24(1).u8(0x04).u24(2).u8(0x05).u24(3);
  w.u8(0x06).u8(2).u8(0x07).u8(1);
  w.u8(0x20).u16(1).u16(2).u24(3);
  w.u8(0x21).u16(1).u16(2).text("Hi");
  w.u8(0x22).u16(1).u16(2).u16(3).u16(4).u24(5);
  w.u8(0x23).u8(2).u16(0).u16(0).u16(100).u16(100);
  w.u8(0x00);
  auto program = w.take();
  auto body = WireWriter().u16(ObjectType::Canvas).bytes(program).u8(0xEE).u8(0xEE).take();  // trailing bytes ignored
  auto* b = store<CanvasBody>(34, body);
  ASSERT_NE(b, nullptr);
  std::vector<uint8_t> expected = program;
  expected.push_back(0);
  expected.push_back(0);
  EXPECT_EQ(b->program, expected);
  auto* small = store<CanvasBody>(35, WireWriter().u16(ObjectType::Canvas).u8(0x06).u8(2).u8(0).take());
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(small->program, (std::vector<uint8_t>{0x06, 0x02, 0x00, 0, 0}));
}

TEST_F(Bodies, InvalidBodiesAreRefusedAndKeepWhatWasStored) {
  // A valid menu first; then bodies that must not replace or damage it.
  auto good = WireWriter().u16(ObjectType::Menu).u16(1).u24(0xFFFFFF).u24(1).u24(0xFFFFFF).u24(0xFFFFFF).u8(1).take();
  ASSERT_EQ(decode(p, test::objectMessage(40, good)), 0);
  WireWriter w;
  w.u16(ObjectType::Menu).u16(3).u24(0xFFFFFF).u24(9).u24(0xFFFFFF).u24(0xFFFFFF);
  w.u8(0).u8(0x01).u24(2);
  w.u8(2).u8(1);
  auto badKind = w.take();
  EXPECT_EQ(decode(p, test::objectMessage(40, badKind)), 1);
  const auto* menu = bodyOf<MenuBody>(p.state, 40);
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->titleText, 1u);
  EXPECT_EQ(objectType(p.state, 40), static_cast<int32_t>(ObjectType::Menu));

  struct Case {
    const char* name;
    std::vector<uint8_t> body;
  };
  const Case refused[] = {
      {"type 4", WireWriter().u16(4).u8(0).take()},
      {"type 14", WireWriter().u16(14).u8(0).take()},
      {"type 17", WireWriter().u16(17).u8(0).take()},
      {"canvas only end", WireWriter().u16(ObjectType::Canvas).u8(0).take()},
      {"canvas unknown op", WireWriter().u16(ObjectType::Canvas).u8(0x06).u8(1).u8(0x08).u8(0).take()},
      {"canvas without end", WireWriter().u16(ObjectType::Canvas).u8(0x06).u8(1).take()},
      {"canvas text without zero", WireWriter().u16(ObjectType::Canvas).u8(0x21).u16(1).u16(1).u8('a').take()},
      {"polyline without end", WireWriter().u16(ObjectType::Polyline).u24(0).u8(0).u8(1).u8(1).u16(1).u16(1).take()},
  };
  for (const Case& c : refused) {
    EXPECT_EQ(decode(p, test::objectMessage(41, c.body)), 1) << c.name;
    const ObjectEntry* e = p.state.pObjList.find(41);
    EXPECT_EQ(e->type, 0u) << c.name;
    EXPECT_EQ(e->body, nullptr) << c.name;
  }
}

}  // namespace
}  // namespace okt
