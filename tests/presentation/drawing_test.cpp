#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>

#include "images/picture_makers.h"
#include "presentation/drawing.h"
#include "support/messages.h"
#include "support/recording_surface.h"

namespace okt {
namespace {

using namespace okt::test::fields;

using test::RecordingSurface;

class Drawing : public ::testing::Test {
 protected:
  void SetUp() override {
    test::openTables(p, 64, 16, 8);
    p.state.viewRect = {0, 0, 600, 400};
  }
  void store(uint32_t id, const std::vector<uint8_t>& body) {
    ASSERT_EQ(test::decode(p, test::objectMessage(id, body)), 0);
  }
  void draw(uint32_t id, Placement pl) {
    pl.objectId = id;
    drawObject(ctx, surface, pl);
  }
  Protocol p;
  std::unique_ptr<JpegContext> jpeg = std::make_unique<JpegContext>();
  DrawContext ctx{p.state, *jpeg, nullptr, nullptr, 0};
  RecordingSurface surface;
};

TEST(Raster, ColoursAndScaling) {
  EXPECT_EQ(toColorRef(0x00FF0000), 0x000000FFu);
  EXPECT_EQ(toColorRef(0xAAFF0000), 0x000000FFu);  // the top byte makes no difference
  EXPECT_EQ(toColorRef(0x14143C), 0x3C1414u);
  ViewRect v{0, 0, 600, 400};
  EXPECT_EQ(scaleX(v, 0), 0u);
  EXPECT_EQ(scaleX(v, 32768), 300u);
  EXPECT_EQ(scaleX(v, 65535), 600u);
  EXPECT_EQ(scaleX(v, boxPoint(60000, 20000, 65535)), 600u);  // past the right edge: capped
  EXPECT_EQ(boxPoint(1000, 2000, 65535), 3000u);
  EXPECT_EQ(scaleY(v, 65535), 400u);
}

TEST(Raster, BilinearSamplesWithoutHalfPixelOffset) {
  const uint8_t grey[2] = {0, 255};
  const uint8_t expected[4] = {0, 128, 255, 255};
  for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(sampleBilinear(x, 0, 4, 1, 2, 1, grey, 0, 1), expected[x]) << x;
  const uint8_t rgb[6] = {10, 20, 30, 40, 50, 60};
  for (uint32_t x = 0; x < 2; ++x)
    for (int c = 0; c < 3; ++c)
      EXPECT_EQ(sampleBilinear(x, 0, 2, 1, 2, 1, rgb, c, 3), rgb[x * 3 + c]);  // same size: exact
}

// Every layout, scaled up and down, equals sampling each channel on its own.
TEST_F(Drawing, ResamplingEqualsSamplingEachChannel) {
  struct Layout {
    int bytes;
    int channel[4];  // source channel of blue, green, red, alpha; -1: 255
    void (*resample)(Surface&, int, int, uint32_t, uint32_t, uint32_t, uint32_t, const uint8_t*);
  };
  const Layout layouts[] = {
      {4, {0, 1, 2, 3}, resampleRgba}, {3, {2, 1, 0, -1}, resampleRgb}, {1, {0, 0, 0, -1}, resampleGrey}};
  const struct { uint32_t sw, sh, ow, oh; } sizes[] = {{7, 5, 13, 9}, {13, 9, 7, 5}, {1, 1, 3, 2}, {64, 3, 17, 40}};
  for (const Layout& layout : layouts)
    for (const auto& size : sizes) {
      std::vector<uint8_t> src(size_t{size.sw} * size.sh * static_cast<size_t>(layout.bytes));
      uint32_t seed = 9;
      for (auto& v : src) v = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 24);
      surface.calls.clear();
      layout.resample(surface, 0, 0, size.ow, size.oh, size.sw, size.sh, src.data());
      const PixelBuffer out = surface.of("blend")[0].picture;
      for (uint32_t y = 0; y < size.oh; ++y)
        for (uint32_t x = 0; x < size.ow; ++x)
          for (int k = 0; k < 4; ++k) {
            int ch = layout.channel[k];
            uint8_t want =
                ch < 0 ? 255 : sampleBilinear(x, y, size.ow, size.oh, size.sw, size.sh, src.data(), ch, layout.bytes);
            ASSERT_EQ(out.pixels[(y * size.ow + x) * 4 + static_cast<uint32_t>(k)], want)
                << layout.bytes << " bytes, " << size.sw << "x" << size.sh << " to " << size.ow << "x" << size.oh;
          }
    }
}

// A picture scaled by its aspect may be far taller than the view: only the
// rows and columns on the surface are worked out, each as it would be.
TEST_F(Drawing, ResamplingWorksOutOnlyWhatLandsOnTheSurface) {
  const uint8_t src[6] = {0, 50, 100, 150, 200, 250};  // 2 x 3 grey
  resampleGrey(surface, -3, 390, 20, 100000, 2, 3, src);
  auto blends = surface.of("blend");
  ASSERT_EQ(blends.size(), 1u);
  EXPECT_EQ(blends[0].points[0], (Point{0, 390}));
  ASSERT_EQ(blends[0].w, 17u);
  ASSERT_EQ(blends[0].h, 10u);
  for (uint32_t y = 0; y < 10; ++y)
    for (uint32_t x = 0; x < 17; ++x)
      ASSERT_EQ(blends[0].picture.pixels[(y * 17 + x) * 4], sampleBilinear(x + 3, y, 20, 100000, 2, 3, src, 0, 1));
  resampleGrey(surface, 600, 0, 20, 20, 2, 3, src);  // wholly beside the surface: nothing
  resampleGrey(surface, -20, 0, 20, 20, 2, 3, src);
  resampleRgb(surface, 0, 0, 0, 5, 1, 1, src);  // no size: nothing
  EXPECT_EQ(surface.of("blend").size(), 1u);
}

std::vector<uint8_t> button(uint16_t style, uint32_t text = 0xFFFFFF) {
  WireWriter w;
  w.u16(ObjectType::Button).u16(style).u8(0).u16(0).u16(20);
  w.u24(0x112233).u24(0x445566).u24(0x778899).u24(0xAABBCC).u24(0xDDEEFF).u24(0x010203);
  return w.u24(text).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF).take();
}

TEST_F(Drawing, ButtonColoursByStyleAndPressedState) {
  test::decode(p, test::textMessage(1, "OK"));
  store(1, button(0, 1));
  store(2, button(1));
  store(3, button(2));
  struct Case {
    uint32_t id;
    bool pressed;
    const char* kind;
    Colour fill, frame;
  };
  const Case cases[] = {
      {1, false, "rectangle", 0x000000, 0x888888}, {1, true, "rectangle", 0xFFFFFF, 0x888888},
      {2, false, "rectangle", 0x112233, 0x778899}, {2, true, "rectangle", 0xAABBCC, 0x010203},
      {3, false, "roundRect", 0x112233, 0x778899}, {3, true, "roundRect", 0xAABBCC, 0x010203},
  };
  for (const Case& c : cases) {
    surface.calls.clear();
    p.state.pObjList.edit(c.id, p.state.budget)->pressed = c.pressed;
    draw(c.id, {0, 0, 0, 32768, 32768});
    ASSERT_FALSE(surface.calls.empty());
    EXPECT_EQ(surface.calls[0].kind, c.kind) << c.id;
    EXPECT_EQ(surface.calls[0].brush.colour, toColorRef(c.fill)) << c.id << c.pressed;
    EXPECT_EQ(surface.calls[0].pen.colour, toColorRef(c.frame)) << c.id << c.pressed;
    EXPECT_EQ(surface.calls[0].points[1], (Point{300, 200}));
  }
  // Style 0's label: white, black while pressed, centred on the box.
  p.state.pObjList.edit(1, p.state.budget)->pressed = 0;
  surface.calls.clear();
  draw(1, {0, 0, 0, 32768, 32768});
  auto texts = surface.of("text");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].colour, 0xFFFFFFu);
  EXPECT_EQ(texts[0].align, AlignCentre);
  EXPECT_EQ(texts[0].points[0], (Point{150, 100 - 10}));  // y is the middle of the line
}

TEST_F(Drawing, TextBoxes) {
  auto box = [](uint16_t frameless, uint32_t text, uint32_t variable) {
    return test::wire({u16(ObjectType::TextBox), u16(frameless), u8(0), u16(0), u16(20), u24(0xFFFFFF), u24(0), u24(0),
                       u24(text), u24(variable)});
  };
  store(4, box(1, 0xFFFFFF, 0xFFFFFF));
  draw(4, {0, 1000, 1000, 30000, 30000});
  EXPECT_TRUE(surface.calls.empty());  // frameless, no text: nothing
  test::decode(p, test::variableMessage(2, test::variableBody(VariableType::U8, {42})));
  store(5, box(0, 0xFFFFFF, 2));
  draw(5, {0, 0, 32768, 32768, 32768});
  auto texts = surface.of("text");
  ASSERT_EQ(texts.size(), 1u);
  EXPECT_EQ(texts[0].text, "42");
  EXPECT_EQ(texts[0].points[0], (Point{150, 200 - 10}));  // centred on the box's top edge
  surface.calls.clear();
  store(6, box(0, 9, 2));  // a fixed text that has not arrived: the variable does not stand in
  draw(6, {0, 0, 0, 100, 100});
  EXPECT_EQ(surface.of("text").size(), 0u);
}

TEST_F(Drawing, PolylineGroupsOfOnePointDrawNothing) {
  // Groups of two points, one point and three points.
  WireWriter w;
  w.u16(ObjectType::Polyline).u24(0xFF0000).u8(1).u8(1);
  w.u8(2).u16(0).u16(0).u16(65535).u16(65535).u8(1).u16(5).u16(5);
  w.u8(3).u16(0).u16(65535).u16(32768).u16(0).u16(65535).u16(65535);
  store(7, w.u8(0).take());
  draw(7, {0, 0, 0, 65535, 65535});
  auto lines = surface.of("polyline");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].points, (std::vector<Point>{{0, 0}, {600, 400}}));
  EXPECT_EQ(lines[1].points.size(), 3u);
  EXPECT_EQ(lines[0].pen.style, LineStyle::Dash);
  EXPECT_EQ(lines[0].pen.colour, 0x0000FFu);
}

TEST_F(Drawing, PictureTargetSizeFollowsThePlacement) {
  // A 300 x 200 grey JPEG placed with width 0 and height 32768 in a 600 x 400 view.
  std::vector<uint8_t> jpeg = test::flatGreyJpeg(300, 200, 1, false);
  WireWriter w;
  w.u16(ObjectType::JpegPicture).u16(static_cast<uint32_t>(jpeg.size())).bytes(jpeg);
  ASSERT_EQ(decodeObjectBody(p, 8, w.data().data(), w.size()), 0);
  draw(8, {0, 6553, 16384, 0, 32768});
  auto blends = surface.of("blend");
  ASSERT_EQ(blends.size(), 1u);
  EXPECT_EQ(blends[0].w, 300u);
  EXPECT_EQ(blends[0].h, 200u);
  EXPECT_EQ(blends[0].points[0], (Point{59, 100}));
  surface.calls.clear();
  draw(8, {0, 0, 0, 0, 0});  // no width and no height: nothing
  EXPECT_TRUE(surface.calls.empty());
}

std::vector<uint8_t> gauge(uint8_t flags, uint16_t tickCount, uint32_t variable) {
  WireWriter w;
  w.u16(ObjectType::Gauge).u8(0).u8(flags).u8(2).u16(3000).u16(33000).u16(65535).u16(50000).u16(60000).u16(2000);
  w.u16(40000).u16(30000).u24(1).u24(2).u24(3).u24(4).u24(5).u16(3000).u16(33000).u16(tickCount).u16(200);
  return w.u24(variable).u24(0xFFFFFF).take();
}

TEST_F(Drawing, GaugeAnglesTicksAndShape) {
  p.state.viewRect = {0, 0, 400, 400};  // a square view keeps the angles
  test::decode(p, test::variableMessage(0, test::variableBody(VariableType::U8, {0}, 0xFFFFFF, 0, 100)));
  store(9, gauge(0x18, 10, 0));
  draw(9, {0, 0, 0, 65535, 65535});
  auto polys = surface.of("polygon");
  // band + 11 ticks + needle
  ASSERT_EQ(polys.size(), 13u);
  auto ellipses = surface.of("ellipse");
  ASSERT_EQ(ellipses.size(), 2u);                                           // face and hub
  EXPECT_EQ(ellipses[0].points, (std::vector<Point>{{0, 0}, {399, 399}}));  // 65535 is just short of the box edge
  // The band starts at 120 degrees (lower left) on the outer radius.
  Point first = polys[0].points[0];
  double angle = std::atan2(first.y - 200.0, first.x - 200.0) * 180 / std::numbers::pi;
  EXPECT_NEAR(angle, 120.0, 1.5);
  EXPECT_EQ(polys[0].points.size(), 102u);
  // At its minimum the needle points at 120 degrees too.
  Point tip = polys.back().points[2];
  EXPECT_NEAR(std::atan2(tip.y - 200.0, tip.x - 200.0) * 180 / std::numbers::pi, 120.0, 2.0);
  // The band ends at 420 degrees, which is 60.
  Point last = polys[0].points[50];
  EXPECT_NEAR(std::atan2(last.y - 200.0, last.x - 200.0) * 180 / std::numbers::pi, 60.0, 1.5);
}

// Ticks up to the limit are drawn; a gauge asking for more, or for no
// intervals, draws none.
TEST_F(Drawing, GaugeTicksUpToTheirLimit) {
  const struct {
    uint16_t tickCount;
    size_t ticks;
  } cases[] = {{kMaxGaugeTicks, kMaxGaugeTicks + 1u}, {kMaxGaugeTicks + 1, 0}, {65535, 0}, {0, 0}};
  for (const auto& c : cases) {
    surface.calls.clear();
    store(9, gauge(0x10, c.tickCount, 0));
    draw(9, {0, 0, 0, 65535, 65535});
    EXPECT_EQ(surface.of("polygon").size(), 1 + c.ticks + 1) << c.tickCount;  // band, ticks, needle
  }
}

TEST_F(Drawing, CanvasOpsNestingAndDepth) {
  // 0x02 font 24, 0x21 label "Hi" at (1000, 2000), 0x23 one point (nothing), 0x22 places canvas 12.
  WireWriter outer;
  outer.u16(ObjectType::Canvas).u8(0x02).u16(24).u8(0x21).u16(1000).u16(2000).text("Hi").u8(0x23).u8(1).u16(5).u16(5);
  store(11, outer.u8(0x22).u16(0).u16(0).u16(100).u16(100).u24(12).u8(0x21).u16(0).u16(0).text("after").u8(0).take());
  store(12, WireWriter().u16(ObjectType::Canvas).u8(0x21).u16(0).u16(0).text("inner").u8(0).take());
  draw(11, {0, 0, 0, 65535, 65535});
  auto texts = surface.of("text");
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0].text, "Hi");
  EXPECT_EQ(texts[0].height, 24);
  EXPECT_EQ(texts[0].colour, 0u);
  EXPECT_EQ(texts[0].align, AlignLeft);
  EXPECT_EQ(texts[1].text, "inner");
  EXPECT_EQ(texts[1].height, 20);  // its own fresh state
  EXPECT_EQ(texts[2].text, "after");
  EXPECT_EQ(texts[2].height, 24);  // the outer state is unchanged
  EXPECT_TRUE(surface.of("polyline").empty());

  surface.calls.clear();
  store(13, test::wire({u16(ObjectType::Canvas), u8(0x21), u16(0), u16(0), text("x"), u8(0x22), u16(0), u16(0), u16(1),
                        u16(1), u24(13), u8(0)}));
  draw(13, {0, 0, 0, 100, 100});
  EXPECT_EQ(surface.of("text").size(), static_cast<size_t>(kMaxCanvasDepth));
}

// A canvas that places itself twelve times would draw 12^8 times within the
// depth limit; the redraw's work limit stops it after a few thousand calls.
// A legitimate canvas eight levels deep still draws every level.
TEST_F(Drawing, CanvasWorkIsBoundedPerRedrawNotOnlyByDepth) {
  WireWriter fan;
  fan.u16(ObjectType::Canvas).u8(0x21).u16(0).u16(0).text("x");
  for (int i = 0; i < 12; ++i) fan.u8(0x22).u16(0).u16(0).u16(65535).u16(65535).u24(20);
  store(20, fan.u8(0).take());
  draw(20, {0, 0, 0, 65535, 65535});
  EXPECT_LE(surface.calls.size(), kMaxCanvasWork);
  EXPECT_GT(surface.calls.size(), 100u);  // it drew until the limit, not nothing
  EXPECT_EQ(ctx.canvasWork, kMaxCanvasWork);

  for (uint32_t level = 0; level < 8; ++level) {
    WireWriter w;
    w.u16(ObjectType::Canvas).u8(0x21).u16(100).u16(100).text("level " + std::to_string(level));
    w.u8(0x23).u8(3).u16(0).u16(0).u16(65535).u16(32768).u16(0).u16(65535);
    if (level < 7) w.u8(0x22).u16(4000).u16(4000).u16(57535).u16(57535).u24(31 + level);
    store(30 + level, w.u8(0).take());
  }
  surface.calls.clear();
  ctx.canvasWork = 0;  // a new redraw
  draw(30, {0, 0, 0, 65535, 65535});
  EXPECT_EQ(surface.of("text").size(), 8u);
  EXPECT_EQ(surface.of("polyline").size(), 8u);
  EXPECT_EQ(surface.of("text").back().text, "level 7");
}

// What a canvas places pays for what it draws: a gauge for its ticks and its
// box, a picture scaled by its aspect for as much as the whole view. A canvas
// placing them over and over stops within the redraw's work, which pays for
// at most 8 ticks or 2048 pixels a unit.
TEST_F(Drawing, CanvasPlacementsPayForTicksAndTallPictures) {
  store(21, gauge(0x18, kMaxGaugeTicks, 0));
  std::vector<uint8_t> tall = test::flatGreyJpeg(8, 640, 1, false);  // 600 x 48000 when placed 600 wide
  store(22, WireWriter().u16(ObjectType::JpegPicture).u16(static_cast<uint32_t>(tall.size())).bytes(tall).take());
  for (uint32_t placed : {21u, 22u}) {
    WireWriter fan;
    fan.u16(ObjectType::Canvas);
    for (int i = 0; i < 6; ++i) {
      fan.u8(0x22).u16(0).u16(0).u16(65535).u16(placed == 21 ? 65535 : 0).u24(placed);
      fan.u8(0x22).u16(0).u16(0).u16(65535).u16(65535).u24(23);
    }
    store(23, fan.u8(0).take());
    surface.calls.clear();
    ctx.canvasWork = 0;
    draw(23, {0, 0, 0, 65535, 65535});
    uint64_t pixels = 0;
    for (const auto& b : surface.of("blend")) pixels += uint64_t{b.w} * b.h;
    EXPECT_LE(surface.of("polygon").size(), 8u * kMaxCanvasWork) << placed;
    EXPECT_LE(pixels, 2048u * kMaxCanvasWork) << placed;
    EXPECT_FALSE(surface.calls.empty()) << placed;
  }
}

// A canvas's texts pay for their glyphs and their height: long texts in huge
// glyphs stop early (a glyph-pixel of work for every 2048 a unit), short
// labels in ordinary ones still draw by the hundred.
TEST_F(Drawing, CanvasTextsPayForTheirGlyphs) {
  test::decode(p, test::textMessage(5, std::string(1023, 'W')));
  test::decode(p, test::textMessage(6, "OK"));
  const struct {
    uint16_t height;
    uint32_t text;
    size_t atLeast;
  } cases[] = {{2000, 5, 1}, {65535, 5, 1}, {20, 5, 20}, {20, 6, 500}};
  for (const auto& c : cases) {
    WireWriter fan;
    fan.u16(ObjectType::Canvas).u8(0x02).u16(c.height);
    for (int i = 0; i < 4; ++i) fan.u8(0x20).u16(1000).u16(30000).u24(c.text);
    for (int i = 0; i < 3; ++i) fan.u8(0x22).u16(0).u16(0).u16(65535).u16(65535).u24(24);
    store(24, fan.u8(0).take());
    surface.calls.clear();
    ctx.canvasWork = 0;
    draw(24, {0, 0, 0, 65535, 65535});
    uint64_t glyphPixels = 0;
    for (const auto& t : surface.of("text")) glyphPixels += t.text.size() * std::min(t.height, 2048);
    EXPECT_LE(glyphPixels, 2048u * kMaxCanvasWork) << c.height;
    EXPECT_GE(surface.of("text").size(), c.atLeast) << c.height;
  }
}

// A few bytes of GIF may declare 4 megapixels: what a picture decodes is paid
// once it is known, so a canvas stops after the first such one.
TEST_F(Drawing, PicturesPayForThePixelsTheyDecode) {
  auto gif = [](uint16_t w, uint16_t h) {
    // A global palette of two colours, one image of the whole size whose data
    // ends after its first pixel.
    auto g = test::GifWriter().header("GIF89a", w, h, 1, true).out;
    g.insert(g.end(),
             {',', 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 0, 2, 2, 0x4C, 0x01, 0, ';'});
    return WireWriter().u16(ObjectType::GifPicture).u16(static_cast<uint32_t>(g.size())).bytes(g).take();
  };
  const struct {
    uint16_t w, h;
    size_t minDrawn, maxDrawn;
  } cases[] = {{2048, 2048, 1, 1}, {64, 64, 100, 2048}};
  for (const auto& c : cases) {
    store(25, gif(c.w, c.h));
    WireWriter fan;
    fan.u16(ObjectType::Canvas);
    for (int i = 0; i < 6; ++i) {
      fan.u8(0x22).u16(0).u16(0).u16(1000).u16(1000).u24(25);
      fan.u8(0x22).u16(0).u16(0).u16(65535).u16(65535).u24(26);
    }
    store(26, fan.u8(0).take());
    surface.calls.clear();
    ctx.canvasWork = 0;
    draw(26, {0, 0, 0, 65535, 65535});
    EXPECT_GE(surface.of("blend").size(), c.minDrawn) << c.w;
    EXPECT_LE(surface.of("blend").size(), c.maxDrawn) << c.w;
  }
}

}  // namespace
}  // namespace okt
