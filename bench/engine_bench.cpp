// Latency from a notification entering queueNotification to the display
// call for the object it completes, at a BLE link's top rate (about 1000
// notifications a second), without drawing.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "emulator/loopback_link.h"
#include "engine/engine.h"
#include "platform/tick.h"
#include "protocol/wire.h"

using namespace okt;
using Clock = std::chrono::steady_clock;

namespace {

class TimingHost : public NullUiHost, public DisplayRenderer {
 public:
  TimingHost() : NullUiHost({0, 0, 600, 680}) {}
  void redrawScreen(uint32_t) override {
    auto now = Clock::now();
    std::lock_guard<std::mutex> lock(mutex);
    redraws.push_back(now);
  }
  void redrawMenu(uint32_t) override {}
  void drawLock(uint32_t) override {}

  std::mutex mutex;
  std::vector<Clock::time_point> redraws;
};

void BM_NotificationToDisplayLatency(benchmark::State& state) {
  emu::DeviceDescription d;
  std::string error;
  emu::parseDeviceDescription(R"({"objects": [
      {"type": "Screen", "children": [{"object": 1, "x": 0, "y": 0, "width": 100, "height": 100}]},
      {"type": "Button"}]})",
                              "bench.json", nullptr, d, error);
  emu::Emulator emulator(std::move(d));
  Protocol p;
  initQueue(p.queue);
  emu::LoopbackLink link(emulator, [&](const uint8_t* b, size_t n) { queueNotification(p, b, n); });
  p.hooks.sendRequest = [&](const uint8_t* b, uint16_t n) { return link.write(b, n); };
  TimingHost host;
  Engine engine(p, host, host);
  engine.startControlThread();
  engine.startClientThread();
  link.start();
  engine.postControl(ControlFlag::CONNECT);
  while (!engine.withTables([](ClientState& s) { return s.displayReady == 1 && objectType(s, 1) >= 0; }))
    platform::sleepMs(1);
  platform::sleepMs(50);
  {
    std::lock_guard<std::mutex> lock(host.mutex);
    host.redraws.clear();
  }

  // An OBJECT that completes the button placed on the current screen.
  WireWriter w;
  w.u16(3).u32(0).u24(1).u8(0).u16(ObjectType::Button).u16(1).u8(0).u16(0).u16(18);
  for (int i = 0; i < 6; ++i) w.u24(0x203040);
  std::vector<uint8_t> message = w.u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF).u24(0xFFFFFF).take();

  const int count = static_cast<int>(state.range(0));
  std::vector<Clock::time_point> sent;
  sent.reserve(static_cast<size_t>(count));
  for (auto _ : state) {
    auto next = Clock::now();
    for (int i = 0; i < count; ++i) {
      next += std::chrono::microseconds(1000);
      std::this_thread::sleep_until(next);
      sent.push_back(Clock::now());
      queueNotification(p, message.data(), message.size());
    }
    platform::sleepMs(50);
  }
  engine.shutdown();
  link.stop();

  std::vector<double> latency;
  std::lock_guard<std::mutex> lock(host.mutex);
  for (size_t i = 0; i < sent.size() && i < host.redraws.size(); ++i)
    latency.push_back(std::chrono::duration<double, std::micro>(host.redraws[i] - sent[i]).count());
  std::sort(latency.begin(), latency.end());
  auto pct = [&](double q) { return latency.empty() ? 0.0 : latency[static_cast<size_t>(q * (latency.size() - 1))]; };
  state.counters["p50_us"] = pct(0.50);
  state.counters["p99_us"] = pct(0.99);
  state.counters["max_us"] = latency.empty() ? 0.0 : latency.back();
  state.counters["redraws"] = static_cast<double>(host.redraws.size());
}
BENCHMARK(BM_NotificationToDisplayLatency)->Arg(3000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
