// Median redraw times with QtSurface at the main window's display size:
// a screen of 20 buttons and text boxes, a menu page with six icons and
// values, a screen with an 800 x 600 JPEG scaled to the view, a lock frame.
#include <benchmark/benchmark.h>

#include "../tests/images/picture_makers.h"
#include "../tests/support/messages.h"
#include "../tests/support/scripted_host.h"
#include "images/svg_render.h"
#include "platform/qt/qt_surface.h"
#include "presentation/renderer.h"

using namespace okt;

namespace {

struct Fixture {
  Protocol p;
  test::ScriptedHost host;
  Renderer renderer{p, host, [](int w, int h) { return std::make_unique<QtSurface>(w, h); }};
  Display display{p, renderer, host};

  Fixture() {
    test::openTables(p, 64, 16, 16);
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
    for (uint32_t i = 0; i < 20; ++i) screen.u24(10 + i).u16((i % 4) * 16000).u16((i / 4) * 13000).u16(15000).u16(12000);
    store(0, screen.take());
    for (uint32_t i = 0; i < 10; ++i) {
      WireWriter b;
      b.u16(ObjectType::Button).u16(i % 3).u8(0).u16(0).u16(18);
      for (int k = 0; k < 6; ++k) b.u24(0x336699);
      store(10 + i, b.u24(1).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF).take());
      store(20 + i, WireWriter().u16(ObjectType::TextBox).u16(0).u8(0).u16(0).u16(18).u24(0xFFFFFF).u24(0).u24(0x888888).u24(0xFFFFFF).u24(1).take());
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
void BM_RedrawJpegScreen(benchmark::State& state) {
  if (objectType(fixture().p.state, 3) != static_cast<int32_t>(ObjectType::JpegPicture)) state.SkipWithError("no picture");
  for (auto _ : state) fixture().renderer.redrawScreen(2);
}
void BM_LockFrame(benchmark::State& state) {
  Fixture& f = fixture();
  if (f.p.state.activeLock == kNoLock) f.renderer.enterLock(4);
  for (auto _ : state) f.renderer.drawLock(4);
}

BENCHMARK(BM_RedrawScreen20Objects)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RedrawMenuPage)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_RedrawJpegScreen)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_LockFrame)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace
