// Median redraw times with QtSurface at the main window's display size:
// a screen of 20 buttons and text boxes, a menu page with six icons and
// values, a screen with an 800 x 600 JPEG scaled to the view (drawn first
// and again), a lock frame;
// and screens of hostile canvases that place themselves over and over (the
// most a redraw may cost), beside a legitimate canvas eight levels deep.
#include <benchmark/benchmark.h>

#include "../tests/images/picture_makers.h"
#include "../tests/support/messages.h"
#include "../tests/support/scripted_host.h"
#include "images/svg_render.h"
#include "platform/qt/qt_surface.h"
#include "presentation/renderer.h"

using namespace okt;

namespace {

using namespace okt::test::fields;

struct Fixture {
  Protocol p;
  test::ScriptedHost host;
  Renderer renderer{p, host, [](int w, int h) { return std::make_unique<QtSurface>(w, h); }};
  Display display{p, renderer, host};

  Fixture() {
    test::openTables(p, 256, 16, 16);
    p.state.viewRect = {0, 0, 450, 552};
    p.state.activeLock = kNoLock;
    renderer.renderSvg = [](const char* t, uint32_t w) { return renderSvg(t, w); };
    renderer.renderIcon = [](uint32_t id, uint32_t w) { return renderIcon(id, w); };
    renderer.setDisplay(&display);
    test::decode(p, test::textMessage(1, "Settings"));
    test::decode(p, test::textMessage(2, "km/h"));
    test::decode(p, test::variableMessage(1, test::variableBody(VariableType::U16, {0, 88}, 2)));
    // Screen 0: 10 buttons and 10 text boxes.
    WireWriter screen;
    screen.u16(ObjectType::Screen).u16(20).u24(0x203040);
    for (uint32_t i = 0; i < 20; ++i)
      screen.u24(10 + i).u16((i % 4) * 16000).u16((i / 4) * 13000).u16(15000).u16(12000);
    store(0, screen.take());
    for (uint32_t i = 0; i < 10; ++i) {
      WireWriter b;
      b.u16(ObjectType::Button).u16(i % 3).u8(0).u16(0).u16(18);
      for (int k = 0; k < 6; ++k) b.u24(0x336699);
      store(10 + i, b.u24(1).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF).take());
      store(20 + i, test::wire({u16(ObjectType::TextBox), u16(0), u8(0), u16(0), u16(18), u24(0xFFFFFF), u24(0),
                                u24(0x888888), u24(0xFFFFFF), u24(1)}));
    }
    // Menu 1: six rows with icons and values.
    WireWriter menu;
    menu.u16(ObjectType::Menu).u16(6).u24(0xFF1000).u24(1).u24(0xFFFFFF).u24(0xFFFFFF);
    for (uint32_t i = 0; i < 6; ++i) menu.u8(0).u8(0x13).u24(1).u24(0xFF1400 + 2 * i).u24(1);
    store(1, menu.take());
    // Screen 2: an 800 x 600 JPEG scaled to the view.
    test::JpegOptions o;
    o.width = 800, o.height = 600, o.quality = 60;  // a picture body holds at most 64 KB
    auto jpeg = test::makeJpeg(o);
    if (jpeg.size() > 65535) std::fprintf(stderr, "the benchmark picture is too large: %zu bytes\n", jpeg.size());
    WireWriter picture;
    picture.u16(ObjectType::JpegPicture).u16(static_cast<uint32_t>(jpeg.size())).bytes(jpeg);
    decodeObjectBody(p, 3, picture.data().data(), picture.size());
    store(2, WireWriter().u16(ObjectType::Screen).u16(1).u24(0).u24(3).u16(0).u16(0).u16(65535).u16(65535).take());
    // Lock 4: spinner, countdown, message, unlock button.
    WireWriter lock;
    lock.u16(ObjectType::LockObject).u16(2).u16(0x80).u16(600).u24(1).u24(1);
    for (int k = 0; k < 7; ++k) lock.u24(0xFFFFFF);
    store(4, lock.take());
    // Canvases, each on a screen of its own (screen = canvas + 100), filling it.
    auto place = [](WireWriter& w, uint32_t id) { w.u8(0x22).u16(0).u16(0).u16(65535).u16(65535).u24(id); };
    WireWriter fan;  // 12 placements of itself: 148 bytes
    fan.u16(ObjectType::Canvas);
    for (int i = 0; i < 12; ++i) place(fan, 6);
    store(6, fan.u8(0).take());
    WireWriter texts;  // two of itself and 20 labels
    texts.u16(ObjectType::Canvas);
    place(texts, 7), place(texts, 7);
    for (int i = 0; i < 20; ++i) texts.u8(0x21).u16(1000 + 2000 * i).u16(3000 * i).text("x");
    store(7, texts.u8(0).take());
    WireWriter lines;  // two of itself and wide zigzags of 16 points across the display
    lines.u16(ObjectType::Canvas).u8(0x06).u8(12);
    place(lines, 8), place(lines, 8);
    for (int k = 0; k < 8; ++k) {
      lines.u8(0x23).u8(16);
      for (int i = 0; i < 16; ++i) lines.u16(i * 4369).u16(i % 2 ? 65535 : 0);
    }
    store(8, lines.u8(0).take());
    WireWriter pictures;  // two of itself and the JPEG
    pictures.u16(ObjectType::Canvas);
    place(pictures, 9), place(pictures, 9), place(pictures, 3);
    store(9, pictures.u8(0).take());
    for (uint32_t level = 0; level < 8; ++level) {  // 10 .. 17: a chain, each level some text and a line
      WireWriter w;
      w.u16(ObjectType::Canvas).u8(0x21).u16(2000).u16(2000).text("level");
      w.u8(0x23).u8(3).u16(0).u16(0).u16(65535).u16(32768).u16(0).u16(65535);
      if (level < 7) w.u8(0x22).u16(4000).u16(4000).u16(57535).u16(57535).u24(41 + level);
      store(40 + level, w.u8(0).take());
    }
    for (uint32_t id : {6u, 7u, 8u, 9u, 40u})
      store(100 + id,
            WireWriter().u16(ObjectType::Screen).u16(1).u24(0).u24(id).u16(0).u16(0).u16(65535).u16(65535).take());
  }
  void store(uint32_t id, const std::vector<uint8_t>& body) { test::decode(p, test::objectMessage(id, body)); }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_RedrawScreen20Objects(benchmark::State& state) {
  for (auto _ : state) fixture().renderer.redrawScreen(0);
}
void BM_RedrawMenuPage(benchmark::State& state) {
  for (auto _ : state) fixture().renderer.redrawMenu(1);
}
// A redraw finds the picture decoded and scaled; a first draw does it all.
void BM_RedrawJpegScreen(benchmark::State& state) {
  if (objectType(fixture().p.state, 3) != static_cast<int32_t>(ObjectType::JpegPicture))
    state.SkipWithError("no picture");
  for (auto _ : state) fixture().renderer.redrawScreen(2);
}
void BM_FirstDrawJpegScreen(benchmark::State& state) {
  if (objectType(fixture().p.state, 3) != static_cast<int32_t>(ObjectType::JpegPicture))
    state.SkipWithError("no picture");
  for (auto _ : state) {
    fixture().renderer.forgetPictures();
    fixture().renderer.redrawScreen(2);
  }
}
void BM_LockFrame(benchmark::State& state) {
  Fixture& f = fixture();
  if (f.p.state.activeLock == kNoLock) f.renderer.enterLock(4);
  for (auto _ : state) f.renderer.drawLock(4);
}

void BM_HostileCanvas(benchmark::State& state) {
  for (auto _ : state) fixture().renderer.redrawScreen(static_cast<uint32_t>(100 + state.range(0)));
}

// One polyline of 254 segments zigzagging across the display, at a width.
void BM_ZigzagLine(benchmark::State& state) {
  Fixture& f = fixture();
  WireWriter w;
  w.u16(ObjectType::Polyline).u24(0x123456).u8(0).u8(static_cast<uint32_t>(state.range(0))).u8(255);
  for (int i = 0; i < 255; ++i) w.u16(i * 257).u16(i % 2 ? 65535 : 0);
  f.store(60, w.u8(0).take());
  f.store(160, WireWriter().u16(ObjectType::Screen).u16(1).u24(0).u24(60).u16(0).u16(0).u16(65535).u16(65535).take());
  for (auto _ : state) f.renderer.redrawScreen(160);
}
BENCHMARK(BM_ZigzagLine)
    ->ArgName("width")
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(12)
    ->Arg(40)
    ->Arg(255)
    ->Unit(benchmark::kMillisecond);

BENCHMARK(BM_HostileCanvas)
    ->ArgName("canvas")
    ->Arg(6)
    ->Arg(7)
    ->Arg(8)
    ->Arg(9)
    ->Arg(40)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RedrawScreen20Objects)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RedrawMenuPage)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RedrawJpegScreen)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_FirstDrawJpegScreen)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LockFrame)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
