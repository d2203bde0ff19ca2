// The connection's life in wall time, through the connection manager and the
// emulator's Bluetooth library at the 2M link model: from the demo dropping
// its link to the client Connected again on the same display (the real
// backoff: the first attempt comes 1 s after the loss), and how long the
// client takes to end in the slowest state the tests found: a write the
// stack never answers, with the client thread waiting on it.
#include <benchmark/benchmark.h>

#include <chrono>

#include "../tests/support/scripted_host.h"
#include "ble/binding.h"
#include "platform/log.h"
#include "shell/connection_manager.h"

using namespace okt;
using Clock = std::chrono::steady_clock;

namespace {

struct Client {
  WarbleBinding w;
  Protocol p;
  AppQueue queue;
  test::ScriptedHost host;
  std::unique_ptr<Link> link;
  std::unique_ptr<ConnectFlow> flow;
  std::unique_ptr<Engine> engine;
  std::unique_ptr<ConnectionManager> manager;

  explicit Client(const char* model) {
    std::string error;
    if (!bindWarble(OKT_WARBLE_EMULATOR, w, error)) return;
    config("reset", "");
    config("link", model);
    initQueue(p.queue);
    link = std::make_unique<Link>(w, p);
    link->linkSetAddress("0C:0C:0C:00:00:01");
    flow = std::make_unique<ConnectFlow>(w, *link, queue);
    engine = std::make_unique<Engine>(p, host, host);
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) { return link->linkSend(b, n); };
    manager = std::make_unique<ConnectionManager>(*link, *flow, queue, *engine);
    manager->startWorker();
    engine->startControlThread();
    engine->startClientThread();
  }
  ~Client() {
    quit();
    manager.reset();
    engine.reset();
    flow.reset();
    link.reset();
    unbindWarble(w);
  }
  void config(const char* key, const char* value) {
    WarbleOption o{key, value};
    w.warble_lib_config(1, &o);
  }
  double quit() {
    if (!link) return 0;
    auto start = Clock::now();
    host.closeDialogs();
    manager->shutdown();
    engine->shutdown();
    queue.stopWorker();
    link->closeDelayMs = 0;
    link->linkClose();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  bool connected(uint32_t ms) { return engine->connection().waitFor(ConnectionPhase::Connected, ms); }
};

double msSince(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

void BM_ReconnectAfterADrop(benchmark::State& state) {
  platform::LogSink previous = platform::setLogSink([](const std::string&) {});
  Client c("2M");
  c.queue.postAppMessage(AppMessageType::CONNECT);
  if (!c.connected(20000)) state.SkipWithError("no connection");
  double total = 0, shown = 0;
  for (auto _ : state) {
    c.host.clear();
    auto start = Clock::now();
    c.config("drop-link", "");
    c.engine->connection().waitFor(ConnectionPhase::Reconnecting, 5000);
    c.host.waitFor("menu 0", 20000);
    shown += msSince(start);
    if (!c.connected(20000)) state.SkipWithError("did not come back");
    total += msSince(start);
  }
  state.counters["display_back_ms"] = shown / static_cast<double>(state.iterations());
  state.counters["connected_ms"] = total / static_cast<double>(state.iterations());
  platform::setLogSink(previous);
}
BENCHMARK(BM_ReconnectAfterADrop)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_QuitInTheWorstState(benchmark::State& state) {
  platform::LogSink previous = platform::setLogSink([](const std::string&) {});
  double total = 0;
  for (auto _ : state) {
    Client c("2M");
    c.queue.postAppMessage(AppMessageType::CONNECT);
    c.connected(20000);
    // The second page's last row sends an event: its write is never answered.
    c.engine->postControl(ControlFlag::NEXT_PAGE);
    platform::sleepMs(100);
    c.config("handler-delay-ms", "60000");
    c.engine->setClick(1000, 6144 + 5 * 9728 + 1000);
    platform::sleepMs(100);
    total += c.quit();
  }
  state.counters["quit_ms"] = total / static_cast<double>(state.iterations());
  platform::setLogSink(previous);
}
BENCHMARK(BM_QuitInTheWorstState)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
