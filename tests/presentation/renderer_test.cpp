#include <gtest/gtest.h>

#include <functional>

#include "presentation/renderer.h"
#include "protocol/decoder.h"
#include "support/messages.h"
#include "support/recording_surface.h"
#include "support/scripted_host.h"

namespace okt {
namespace {

using namespace okt::test::fields;

using test::RecordingSurface;

// Screens, menus and lock screens composed on recording surfaces.
class Composition : public ::testing::Test {
 protected:
  void SetUp() override {
    test::openTables(p, 64, 16, 8);
    p.state.viewRect = {0, 0, 600, 400};
    p.state.homeScreen = 0;
    p.state.activeLock = kNoLock;
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) {
      uint32_t e = 0;
      getU24(b + 6, &e);
      events.push_back(e);
      return 0;
    };
    renderer.renderIcon = [](uint32_t id, uint32_t w) -> std::optional<PixelBuffer> {
      if (id != 0xFF1000) return std::nullopt;
      PixelBuffer b;
      b.width = b.height = w;
      b.pixels.assign(size_t{w} * w * 4, 0);
      return b;
    };
    renderer.tick = [this] { return now; };
    renderer.setDisplay(&display);
    display.enterLock = [this](uint32_t id) { return renderer.enterLock(id); };
    test::decode(p, test::textMessage(1, "Item"));
  }
  void store(uint32_t id, const std::vector<uint8_t>& body) {
    ASSERT_EQ(test::decode(p, test::objectMessage(id, body)), 0);
  }
  RecordingSurface& last() { return surfaces.back(); }

  Protocol p;
  test::ScriptedHost host;
  std::vector<RecordingSurface> surfaces;  // every frame composed, in order
  Renderer renderer{p, host, [this](int w, int h) { return std::make_unique<RecordingSurface>(w, h, &surfaces); }};
  Display display{p, renderer, host};
  std::vector<uint32_t> events;
  uint32_t now = 1000;
};

// A screen's placements draw until their work is spent: placements of a unit
// each draw up to the limit and not one past it; long texts in huge glyphs
// stop after a few.
TEST_F(Composition, AScreenDrawsItsPlacementsWithinItsWork) {
  store(5, test::wire({u16(ObjectType::Button), u16(1), u8(0), u16(0), u16(20), u24(1), u24(2), u24(3), u24(4), u24(5),
                       u24(6), u24(0xFFFFFF), u24(0xFFFFFF), u24(0xFFFFFF), u24(0xFFFFFF)}));
  const struct {
    uint32_t placements;
    size_t drawn;
  } cases[] = {{kMaxScreenWork, kMaxScreenWork}, {kMaxScreenWork + 1, kMaxScreenWork}};
  for (const auto& c : cases) {
    WireWriter screen;
    screen.u16(ObjectType::Screen).u16(c.placements).u24(0);
    for (uint32_t i = 0; i < c.placements; ++i) screen.u24(5).u16(i % 60000).u16(0).u16(100).u16(100);
    ASSERT_EQ(decodeObjectBody(p, 6, screen.data().data(), screen.size()), 0);
    renderer.redrawScreen(6);
    EXPECT_EQ(last().of("rectangle").size(), 1 + c.drawn) << c.placements;  // the background and the buttons
  }

  test::decode(p, test::textMessage(2, std::string(1023, 'W')));
  store(7, test::wire({u16(ObjectType::TextBox), u16(1), u8(0), u16(0), u16(2000), u24(0), u24(0xFFFFFF), u24(0),
                       u24(2), u24(0xFFFFFF)}));
  WireWriter texts;
  texts.u16(ObjectType::Screen).u16(500).u24(0);
  for (uint32_t i = 0; i < 500; ++i) texts.u24(7).u16(i * 100).u16(0).u16(8000).u16(8000);
  ASSERT_EQ(decodeObjectBody(p, 8, texts.data().data(), texts.size()), 0);
  renderer.redrawScreen(8);
  EXPECT_GE(last().of("text").size(), 1u);
  EXPECT_LE(last().of("text").size(), kMaxScreenWork / 1000);
}

// A picture is decoded once and drawn the same from then on, until its body,
// its place, the view or the surface changes; an icon is rendered once.
TEST_F(Composition, PicturesAreDecodedOnceAndDrawnTheSameUntilSomethingChanges) {
  int renders = 0;
  renderer.renderSvg = [&renders](const char*, uint32_t w) -> std::optional<PixelBuffer> {
    ++renders;
    PixelBuffer b;
    b.width = w, b.height = w / 2;
    b.pixels.resize(size_t{w} * (w / 2) * 4);
    for (size_t i = 0; i < b.pixels.size(); ++i) b.pixels[i] = static_cast<uint8_t>(i * 7 + renders);
    return b;
  };
  auto svg = [this](const std::string& text) {
    store(20, WireWriter().u16(ObjectType::SvgPicture).u16(static_cast<uint32_t>(text.size())).text(text).take());
  };
  auto place = [this](uint16_t x) {
    store(21, WireWriter().u16(ObjectType::Screen).u16(1).u24(0).u24(20).u16(x).u16(0).u16(30000).u16(30000).take());
  };
  svg("<svg/>");
  place(1000);
  renderer.redrawScreen(21);
  ASSERT_EQ(renders, 1);
  const auto first = last().of("blend");
  ASSERT_EQ(first.size(), 1u);

  renderer.redrawScreen(21);
  EXPECT_EQ(renders, 1);  // kept
  auto again = last().of("blend");
  ASSERT_EQ(again.size(), 1u);
  EXPECT_EQ(again[0].points, first[0].points);
  EXPECT_EQ(again[0].picture.pixels, first[0].picture.pixels);

  const struct {
    const char* change;
    std::function<void()> apply;
  } changes[] = {
      {"a new body, even the same bytes", [&] { svg("<svg/>"); }},
      {"another place", [&] { place(2000); }},
      {"another view",
       [&] {
         p.state.viewRect = {0, 0, 500, 400};
       }},
  };
  for (const auto& c : changes) {
    int before = renders;
    c.apply();
    renderer.redrawScreen(21);
    EXPECT_EQ(renders, before + 1) << c.change;
    renderer.redrawScreen(21);
    EXPECT_EQ(renders, before + 1) << c.change << ", drawn again";
  }

  int icons = 0;
  renderer.renderIcon = [&icons](uint32_t, uint32_t w) -> std::optional<PixelBuffer> {
    ++icons;
    PixelBuffer b;
    b.width = b.height = w;
    b.pixels.assign(size_t{w} * w * 4, 9);
    return b;
  };
  store(22, test::wire({u16(ObjectType::Menu), u16(2), u24(0xFF1000), u24(1), u24(0xFFFFFF), u24(0xFFFFFF), u8(0),
                        u8(0x13), u24(1), u24(0xFF1400), u24(1), u8(0), u8(0x13), u24(1), u24(0xFF1400), u24(1)}));
  renderer.redrawMenu(22);
  renderer.redrawMenu(22);
  EXPECT_EQ(icons, 2);  // the menu's own and the rows' one, each once
  EXPECT_EQ(last().of("blend").size(), 3u);
}

// The cache holds at most its capacity and lets the least recently drawn go.
TEST(PictureCache, KeepsWithinItsCapacityDroppingTheLeastRecentlyUsed) {
  auto picture = [](uint32_t side) {
    KeptPicture k;
    k.scaled.pixels.width = k.scaled.pixels.height = side;
    k.scaled.pixels.pixels.resize(size_t{side} * side * 4);
    return k;
  };
  auto key = [](uint32_t id) {
    PictureKey k;
    k.id = id;
    return k;
  };
  PictureCache cache(3 * (100 * 100 * 4 + 1024));
  for (uint32_t id = 1; id <= 3; ++id) cache.keep(key(id), picture(100));
  EXPECT_EQ(cache.size(), 3u);
  ASSERT_NE(cache.find(key(1)), nullptr);  // 1 is now the most recent: 2 goes first
  cache.keep(key(4), picture(100));
  EXPECT_EQ(cache.find(key(2)), nullptr);
  EXPECT_NE(cache.find(key(1)), nullptr);
  EXPECT_NE(cache.find(key(4)), nullptr);
  EXPECT_LE(cache.bytes(), 3u * (100 * 100 * 4 + 1024));
  cache.keep(key(4), picture(10));  // kept again: replaced, not twice
  EXPECT_EQ(cache.size(), 3u);
  cache.keep(key(5), picture(1000));  // larger than the whole cache: not kept, nothing lost
  EXPECT_EQ(cache.find(key(5)), nullptr);
  EXPECT_EQ(cache.size(), 3u);
}

TEST_F(Composition, AnEmptyScreenIsItsBackgroundAndSetsTheButtons) {
  store(3, WireWriter().u16(ObjectType::Screen).u16(0).u24(0x102030).take());
  renderer.redrawScreen(3);
  ASSERT_EQ(last().calls.size(), 1u);
  EXPECT_EQ(last().calls[0].points, (std::vector<Point>{{0, 0}, {601, 401}}));
  EXPECT_FALSE(last().calls[0].pen.visible);
  EXPECT_EQ(last().calls[0].brush.colour, toColorRef(0x102030));
  EXPECT_EQ(host.calls(),
            (std::vector<std::string>{"frame", "prev off", "next off", "pagebox off", "page 4294967295", "back on"}));
  host.clear();
  store(0, WireWriter().u16(ObjectType::Screen).u16(0).u24(0).take());
  renderer.redrawScreen(0);
  EXPECT_EQ(host.calls().back(), "back off");  // the home screen
}

std::vector<uint8_t> menu(int items, bool icons) {
  WireWriter w;
  w.u16(ObjectType::Menu).u16(static_cast<uint32_t>(items)).u24(0xFF1000).u24(1).u24(0xFFFFFF).u24(0xFFFFFF);
  for (int i = 0; i < items; ++i) {
    if (icons)
      w.u8(0).u8(0x03).u24(1).u24(i == 0 ? 0xFF1000 : 0xFF1036);
    else
      w.u8(0).u8(0x01).u24(1);
  }
  return w.take();
}

TEST_F(Composition, MenuPagesRowsIconsAndHighlight) {
  store(0, menu(8, true));
  display.goToScreen(0);
  RecordingSurface page0 = last();
  auto rows = page0.of("rectangle");
  ASSERT_EQ(rows.size(), 7u);                     // background and six rows
  EXPECT_EQ(rows[1].points[0], (Point{0, 37}));   // 6144 of 400
  EXPECT_EQ(rows[6].points[0], (Point{0, 334}));  // 54784
  auto texts = page0.of("text");
  ASSERT_EQ(texts.size(), 7u);              // the title and six labels
  EXPECT_EQ(texts[1].points[0].x, 75);      // 8192: the first item's icon was drawn
  EXPECT_EQ(texts[2].points[0].x, 75);      // an icon number with no icon still moves the label
  EXPECT_EQ(page0.of("blend").size(), 2u);  // the menu's icon and item 0's
  auto calls = host.calls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 4, calls.end()),
            (std::vector<std::string>{"prev off", "next on", "pagebox on", "page 0"}));

  host.clear();
  p.state.pObjList.edit(0, p.state.budget)->selectedItem = 7;
  display.nextMenuPage();
  RecordingSurface page1 = last();
  auto rows1 = page1.of("rectangle");
  ASSERT_EQ(rows1.size(), 3u);                                      // background and items 6 and 7
  EXPECT_EQ(rows1[2].brush.colour, toColorRef(MenuLayout::kDark));  // item 7 highlighted
  EXPECT_EQ(page1.of("text").back().colour, toColorRef(0xFFFFFF));
  calls = host.calls();
  EXPECT_EQ(std::vector<std::string>(calls.end() - 4, calls.end()),
            (std::vector<std::string>{"prev on", "next off", "pagebox on", "page 1"}));
}

std::vector<uint8_t> lock(uint16_t flags, uint16_t timeout, uint32_t unlockText, uint32_t timeoutScreen = 0xFFFFFF) {
  WireWriter w;
  w.u16(ObjectType::LockObject).u16(1).u16(flags).u16(timeout).u24(1).u24(unlockText).u24(0x40).u24(0xFFFFFF);
  w.u24(0x41).u24(timeoutScreen).u24(0x42).u24(0xFFFFFF).u24(0x43);
  return w.take();
}

TEST_F(Composition, LockCountdownRoundsAndStopsAtZero) {
  store(5, lock(0x80, 10, 1));
  store(6, WireWriter().u16(ObjectType::Screen).u16(0).u24(0).take());
  display.goToScreen(5);
  EXPECT_EQ(events, (std::vector<uint32_t>{0x43}));  // the enter event
  auto countdown = [&] {
    for (const auto& c : last().of("text"))
      if (c.text.find("secs") != std::string::npos) return c.text;
    return std::string("none");
  };
  EXPECT_EQ(countdown(), "10 secs");
  now = 1000 + 1499;
  renderer.drawLock(5);
  EXPECT_EQ(countdown(), "9 secs");
  now = 1000 + 9600;
  renderer.drawLock(5);
  EXPECT_EQ(countdown(), "0 secs");
  now = 1000 + 30000;  // long after the time ran out
  renderer.drawLock(5);
  EXPECT_EQ(countdown(), "0 secs");
}

TEST_F(Composition, TimeOutWithoutTargetGoesBackOrHome) {
  store(0, WireWriter().u16(ObjectType::Screen).u16(0).u24(0).take());
  store(5, lock(0, 0, 0xFFFFFF));
  display.goToScreen(5);
  renderer.refreshLock();  // timeoutSeconds 0: ends at the first refresh
  EXPECT_EQ(p.state.activeLock, kNoLock);
  EXPECT_EQ(p.state.currentScreen, 0u);  // empty back stack: home
  EXPECT_EQ(events.back(), 0x41u);
  EXPECT_EQ(p.state.lockImage, nullptr);
}

TEST_F(Composition, UnlockButtonEdges) {
  store(5, lock(0, 60, 1));
  display.goToScreen(5);
  // cx = 300, cy = 200: the button covers x 200..399, y 275..324.
  struct Case {
    int px, py;
    bool hit;
  };
  for (Case c : {Case{200, 275, true}, Case{399, 324, true}, Case{400, 300, false}, Case{300, 325, false},
                 Case{199, 300, false}}) {
    p.state.activeLock = kNoLock;
    p.state.lockImage.reset();
    display.goToScreen(5);
    // The click in view units that lands on pixel (px, py).
    p.state.clickX = static_cast<uint32_t>((c.px * 65535 + 599) / 600);
    p.state.clickY = static_cast<uint32_t>((c.py * 65535 + 399) / 400);
    EXPECT_EQ(renderer.lockButtonHit(5), -1);
    EXPECT_EQ(p.state.activeLock == kNoLock, c.hit) << c.px << "," << c.py;
  }
}

TEST_F(Composition, TheServersEventEndsTheLockTowardsItsTarget) {
  store(5, lock(0, 60, 0xFFFFFF));
  store(7, WireWriter().u16(ObjectType::Screen).u16(0).u24(0).take());
  display.goToScreen(5);
  EXPECT_EQ(renderer.leaveLock(7, 0), 0);
  EXPECT_EQ(p.state.currentScreen, 7u);
  EXPECT_EQ(renderer.leaveLock(7, 0), 1);  // no lock any more
  // Without a target and without a release screen nothing new is shown.
  display.goToScreen(5);
  EXPECT_EQ(renderer.leaveLock(0xFFFFFF, 0), 0);
  EXPECT_EQ(p.state.currentScreen, 5u);
}

}  // namespace
}  // namespace okt
