// The QtBluetooth library end to end: the link and the scanner through the
// real dlopen path, against a fake BlueZ on a private bus whose peripheral
// is the device emulator.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>

#include "ble/binding.h"
#include "ble/link.h"
#include "platform/tick.h"
#include "shell/connection_manager.h"
#include "support/fake_bluez_bus.h"
#include "support/log_capture.h"
#include "support/scripted_host.h"
#include "support/wait_until.h"

namespace okt {
namespace {

test::FakeBluezBus* bus = nullptr;

class BusEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    bus = new test::FakeBluezBus;
    std::string error;
    ASSERT_TRUE(bus->startBus(error)) << error;
  }
  void TearDown() override {
    delete bus;
    bus = nullptr;
  }
};
const auto* environment = ::testing::AddGlobalTestEnvironment(new BusEnvironment);

// The library stays loaded for the whole program, as in the client: Qt
// keeps its D-Bus connection for the life of the process.
const WarbleBinding& qtWarble() {
  static WarbleBinding w;
  static bool bound = [] {
    std::string error;
    bool ok = bindWarble(OKT_WARBLE_QT, w, error);
    EXPECT_TRUE(ok) << error;
    return ok;
  }();
  (void)bound;
  return w;
}

using test::waitUntil;

class QtBle : public ::testing::Test {
 protected:
  void start(std::vector<std::string> options = {}) {
    std::string error;
    ASSERT_TRUE(bus->startPeripheral(FAKE_BLUEZ, std::move(options), error)) << error;
    initQueue(p.queue);
    link = std::make_unique<Link>(qtWarble(), p);
    link->closeDelayMs = 0;
    link->reportProgress = [this](int value, const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex);
      reports.emplace_back(value, text);
    };
    link->linkSetAddress("0C:0C:0C:00:00:01");
  }
  void TearDown() override {
    link.reset();
    bus->stopPeripheral();
  }
  // What a scan reported (the demo's results, every failure) until `enough`
  // held or the wait ended; the scan is stopped and the handlers taken back.
  struct Scanned {
    std::mutex m;
    int results = 0;
    std::vector<int> rssi;
    std::string name;
    bool okt = false, info = false;  // the services the demo advertised
    std::vector<std::string> errors;
  };
  static bool scan(Scanned& seen, const std::function<bool(const Scanned&)>& enough) {
    const WarbleBinding& w = qtWarble();
    if (!w.warble_scanner_set_error_handler) {
      ADD_FAILURE() << "the library reports no scan failures";
      return false;
    }
    w.warble_scanner_set_handler(&seen, [](void* context, const WarbleScanResult* r) {
      auto* s = static_cast<Scanned*>(context);
      std::lock_guard<std::mutex> lock(s->m);
      ++s->results;
      if (std::string(r->mac) != "0C:0C:0C:00:00:01") return;
      s->rssi.push_back(r->rssi);
      s->name = r->name;
      s->okt = qtWarble().warble_scan_result_has_service_uuid(r, "DADAE001-8D09-4DBF-9B75-9E58B9B66B91");
      s->info = qtWarble().warble_scan_result_has_service_uuid(r, "0000180a-0000-1000-8000-00805f9b34fb");
    });
    w.warble_scanner_set_error_handler(&seen, [](void* context, const char* message) {
      auto* s = static_cast<Scanned*>(context);
      std::lock_guard<std::mutex> lock(s->m);
      s->errors.push_back(message);
    });
    w.warble_scanner_start(0, nullptr);
    bool done = waitUntil([&] {
      std::lock_guard<std::mutex> lock(seen.m);
      return enough(seen);
    });
    w.warble_scanner_stop();
    w.warble_scanner_set_error_handler(nullptr, nullptr);
    w.warble_scanner_set_handler(nullptr, nullptr);
    return done;
  }
  std::vector<int> values() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<int> out;
    for (auto& r : reports) out.push_back(r.first);
    return out;
  }
  std::string report(int value) {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& r : reports)
      if (r.first == value) return r.second;
    return "";
  }

  Protocol p;
  std::unique_ptr<Link> link;
  std::mutex mutex;
  std::vector<std::pair<int, std::string>> reports;
};

TEST_F(QtBle, TheScanListsThePeripheralWithItsNameAndFollowsItsSignal) {
  start();
  Scanned seen;
  ASSERT_TRUE(scan(seen, [](const Scanned& s) { return s.rssi.size() >= 3; }));
  EXPECT_EQ(seen.name, "OKT Demo");
  EXPECT_EQ(seen.rssi.front(), -48);
  EXPECT_TRUE(seen.okt);
  EXPECT_FALSE(seen.info);
  EXPECT_TRUE(seen.errors.empty());
  EXPECT_NE(bus->calls().find("StartDiscovery"), std::string::npos);
  EXPECT_TRUE(waitUntil([] { return bus->calls().find("StopDiscovery") != std::string::npos; }));
}

// Why a scan cannot run, in the library's words: the radio off, no radio,
// no bluetoothd.
struct ScanFailure {
  const char* name;
  std::vector<std::string> options;
  bool bluez;
  std::string error;
};

class QtBleScanFailure : public QtBle, public ::testing::WithParamInterface<ScanFailure> {};

TEST_P(QtBleScanFailure, IsReportedToTheErrorHandler) {
  const ScanFailure& c = GetParam();
  if (c.bluez) start(c.options);
  Scanned seen;
  ASSERT_TRUE(scan(seen, [](const Scanned& s) { return !s.errors.empty(); }));
  EXPECT_EQ(seen.errors, std::vector<std::string>{c.error});
  EXPECT_EQ(seen.results, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, QtBleScanFailure,
    ::testing::Values(ScanFailure{"PoweredOff", {"--powered-off"}, true, "Bluetooth is turned off"},
                      ScanFailure{"NoAdapter", {"--no-adapter"}, true, "No Bluetooth adapter found"},
                      ScanFailure{"NoBlueZ", {}, false, "The Bluetooth service (BlueZ) is not running"}),
    [](const ::testing::TestParamInfo<ScanFailure>& info) { return info.param.name; });

TEST_F(QtBle, TheConnectSequenceRunsOverBlueZNotificationsCarryTheAnswersAndItRepeats) {
  start();  // the device is not known until a scan has seen it: the library looks for it
  test::LogCapture log;
  ASSERT_EQ(link->linkConnect(), 0) << log.text();
  EXPECT_EQ(values(), (std::vector<int>{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}));
  EXPECT_EQ(report(500), "Firmware Revision: 1.01");
  EXPECT_EQ(report(800), "Manufacturer: OKT Desktop Client project");
  EXPECT_EQ(report(1000), "System READY");
  // The read of the data characteristic came back as a change of its value
  // too; that is not a notification.
  EXPECT_TRUE(queueIsEmpty(p.queue));
  const uint8_t getInfo[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(link->linkSend(getInfo, sizeof getInfo), 0);
  EXPECT_TRUE(waitUntil([&] { return !queueIsEmpty(p.queue); }));
  std::string calls = bus->calls();
  EXPECT_NE(calls.find("StartNotify"), std::string::npos);
  EXPECT_NE(calls.find("WriteValue /org/bluez/hci0/dev_0C_0C_0C_00_00_01/service0001/char0005 000100000001"),
            std::string::npos);
  link->linkClose();
  EXPECT_EQ(link->linkIsReady(), 0);
  EXPECT_TRUE(waitUntil([&] { return bus->calls().find("Disconnect /org/bluez") != std::string::npos; }));
  for (int i = 0; i < 4; ++i) {  // and again, as often as the user likes
    ASSERT_EQ(link->linkConnect(), 0) << "round " << i;
    link->linkClose();
  }
}

struct Failure {
  const char* name;
  std::vector<std::string> options;
  int result;
  std::vector<int> progress;
  const char* said;  // printed, or shown as progress
};

class QtBleFailures : public QtBle, public ::testing::WithParamInterface<Failure> {};

TEST_P(QtBleFailures, EndTheSequenceWhereTheyHappen) {
  std::vector<std::string> options{"--known"};
  options.insert(options.end(), GetParam().options.begin(), GetParam().options.end());
  start(options);
  test::LogCapture log;
  EXPECT_EQ(link->linkConnect(), GetParam().result);
  EXPECT_EQ(values(), GetParam().progress);
  std::string said = log.text();
  {
    std::lock_guard<std::mutex> lock(mutex);
    for (auto& r : reports) said += r.second + "\n";
  }
  EXPECT_NE(said.find(GetParam().said), std::string::npos) << said;
  if (GetParam().result) {
    EXPECT_EQ(report(1000), "Cannot connect!!");
    EXPECT_EQ(link->linkIsReady(), 0);
  }
}

const std::vector<int> kWhole{100, 200, 300, 400, 500, 600, 700, 800, 900, 1000};
constexpr const char* kNoService = "OKT (Operator Kiosk Transport) service not found";
constexpr const char* kNoSubscription = "Cannot subscribe to Data char";

INSTANTIATE_TEST_SUITE_P(
    Injected, QtBleFailures,
    ::testing::Values(
        Failure{"ConnectRefused", {"--fail", "Connect"}, 1, {100, 200, 1000}, "ERROR Cannot connect"},
        Failure{"NoDataCharacteristic", {"--omit", kOktDataUuid}, 1, {100, 200, 300, 1000}, kNoService},
        Failure{"DataReadFails", {"--fail", "ReadValue:dadae006"}, 1, {100, 200, 300, 1000}, kNoService},
        Failure{"NoNotifications", {"--no-cccd"}, 1, {100, 200, 300, 400, 1000}, kNoSubscription},
        Failure{"SubscribeFails", {"--fail", "StartNotify"}, 1, {100, 200, 300, 400, 1000}, kNoSubscription},
        Failure{"NoModelNumber", {"--omit", "00002a24-0000-1000-8000-00805f9b34fb"}, 0, kWhole, "Model Number: \n"},
        Failure{"ManufacturerReadFails", {"--fail", "ReadValue:00002a29"}, 0, kWhole, "Manufacturer: \n"}),
    [](const ::testing::TestParamInfo<Failure>& info) { return info.param.name; });

TEST_F(QtBle, APeerThatGoesAwayIsNoticedOnceAndNotWrittenTo) {
  start({"--known"});
  std::atomic<int> gone{0};
  std::string why;
  link->onLinkLost = [&](uint64_t, const std::string& reason) {
    why = reason;
    ++gone;
  };
  ASSERT_EQ(link->linkConnect(), 0);
  ASSERT_TRUE(bus->control("DropLink"));
  EXPECT_TRUE(waitUntil([&] { return gone.load() == 1; }));
  EXPECT_EQ(why, Link::kPeerLeft);
  EXPECT_EQ(link->linkIsReady(), 0);
  test::LogCapture log;
  const uint8_t getInfo[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(link->linkSend(getInfo, sizeof getInfo), 1);
  EXPECT_EQ(log.text(), "");
  EXPECT_EQ(gone.load(), 1);
}

TEST_F(QtBle, AFailedWriteIsReported) {
  start({"--known", "--fail", "WriteValue"});
  ASSERT_EQ(link->linkConnect(), 0);
  const uint8_t getInfo[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(link->linkSend(getInfo, sizeof getInfo), 1);
}

// A call the stack never answers (bluetoothd stuck on it) ends the link at
// the end of its wait: nothing more is handed to the stack, the connection
// is closed, and a reconnection follows. A write while connected; a read in
// the connect sequence of a reconnection, after the device dropped its link.
class QtBleHung : public QtBle, public ::testing::WithParamInterface<bool> {};

TEST_P(QtBleHung, CallsEndTheLinkAndTheClientReconnects) {
  bool write = GetParam();
  start(write ? std::vector<std::string>{"--known", "--hang", "WriteValue"} : std::vector<std::string>{"--known"});
  link->waitMs = 1000;
  AppQueue queue;
  ConnectFlow flow(qtWarble(), *link, queue);
  test::ScriptedHost host;
  Engine engine(p, host, host);
  p.hooks.sendRequest = [&](const uint8_t* b, uint16_t n) { return link->linkSend(b, n); };
  ConnectionManager manager(*link, flow, queue, engine);
  manager.backoffUnitMs = 50;
  manager.startWorker();
  engine.startControlThread();
  engine.startClientThread();
  queue.postAppMessage(AppMessageType::CONNECT);
  const std::string connect = "Connect /org/bluez/hci0/dev_0C_0C_0C_00_00_01\n";
  auto connects = [&] {
    std::string calls = bus->calls();
    size_t n = 0;
    for (size_t at = calls.find(connect); at != std::string::npos; at = calls.find(connect, at + 1)) ++n;
    return n;
  };
  if (write) {
    EXPECT_TRUE(engine.connection().waitFor(ConnectionPhase::Lost, 15000));
    EXPECT_EQ(engine.connection().current().reason, Link::kNoAnswer);
  } else {
    ASSERT_TRUE(engine.connection().waitFor(ConnectionPhase::Connected, 15000));
    ASSERT_TRUE(bus->control("HangReads"));
    ASSERT_TRUE(bus->control("DropLink"));
  }
  // The attempt after the hung call: a new connection.
  EXPECT_TRUE(waitUntil([&] { return connects() >= (write ? 2u : 3u); }, 15000)) << bus->calls();
  host.closeDialogs();
  manager.shutdown();
  engine.shutdown();
  queue.stopWorker();
  link->linkClose();
  // After the unanswered call the stack was told to disconnect; nothing else went to it.
  std::string calls = bus->calls();
  size_t hung =
      write ? calls.find("WriteValue") : calls.find("ReadValue", calls.find(connect, calls.find(connect) + 1));
  ASSERT_NE(hung, std::string::npos) << calls;
  size_t end = calls.find("\n", hung);
  size_t disconnect = calls.find("Disconnect /org/bluez", hung);
  ASSERT_NE(disconnect, std::string::npos) << calls;
  EXPECT_EQ(calls.substr(end, disconnect - end).find("Value"), std::string::npos) << calls;
}

INSTANTIATE_TEST_SUITE_P(UnansweredCalls, QtBleHung, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Write" : "Read"; });

// The windowless client, with its default Bluetooth library found by name,
// draws the demo's home menu after the whole connect sequence over BlueZ.
TEST_F(QtBle, TheWindowlessClientDrawsTheHomeMenuOverBlueZ) {
  start({"--known"});
  std::string out = "/tmp/okt-qt-render-" + std::to_string(getpid());
  std::string command = std::string("QT_QPA_PLATFORM=offscreen ") + OKT_RENDER +
                        " --ble-library libokt-warble-qt.so --out " + out + " > " + out + ".log 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0) << std::ifstream(out + ".log").rdbuf();
  std::ifstream picture(out + "/home.png");
  EXPECT_TRUE(picture.good());
  std::stringstream log;
  log << std::ifstream(out + ".log").rdbuf();
  EXPECT_NE(log.str().find("System READY"), std::string::npos) << log.str();
  std::system(("rm -rf " + out + " " + out + ".log").c_str());
}

}  // namespace
}  // namespace okt
