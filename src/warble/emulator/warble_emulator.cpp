// A Bluetooth LE library, with the client's Warble C API, whose scan lists
// emulated OKT peripherals: the built-in demo, or the device descriptions
// named (separated by ':') in OKT_EMULATED_DEVICES. Each offers the OKT data
// and request characteristics and the five Device Information ones; GATT
// operations reach the emulator through a loopback link. Completion
// handlers run on the library's own thread, notifications on the link's.
//
// warble_lib_config options: "omit-characteristic" = UUID leaves it out of
// the next connections; "link" = "1M", "2M" or "unlimited" (the default);
// "drop-link-after" = N ends the next connections after N notifications;
// "handler-delay-ms" = N holds every completion back that long (and every
// later one behind it); "refuse-connections" = 1 makes connects fail as for
// a device out of range; "ignore-requests" = 1 takes writes without the
// device ever seeing them (a device that does not answer); "drop-link" ends
// every connection now, from the device's side; "adapter-off" = 1 makes
// scans find nothing, as with the radio switched off, and report "Bluetooth
// is turned off" to the scan's error handler; "reset" forgets the options
// and the completions still held back.
//
// Every emulated device advertises the OKT service. Built with
// OKT_WARBLE_NO_SCAN_ERRORS, the library is one from before scan errors
// were reported: it has no warble_scanner_set_error_handler.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ble/warble_api.h"
#include "emulator/emulator.h"
#include "emulator/loopback_link.h"
#include "platform/tick.h"

struct GattCore;

namespace {

using okt::emu::DeviceDescription;

constexpr const char* kDataUuid = "dadae006-8d09-4dbf-9b75-9e58b9b66b91";
constexpr const char* kRequestUuid = "dadae002-8d09-4dbf-9b75-9e58b9b66b91";
constexpr const char* kServiceUuid = "dadae001-8d09-4dbf-9b75-9e58b9b66b91";

// Runs completion handlers one after another on a thread of the library's,
// each no earlier than its due time. They keep their order: a completion held
// back holds back every later one, as a Bluetooth stack queues its calls
// behind a hung one. Ending the executor drops what has not run.
class Executor {
 public:
  using Clock = std::chrono::steady_clock;
  ~Executor() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  // Drops what has not run yet.
  void clear() {
    {
      std::lock_guard<std::mutex> lock(m_);
      tasks_.clear();
    }
    cv_.notify_all();
  }
  void post(std::function<void()> task, uint32_t delayMs = 0) {
    std::lock_guard<std::mutex> lock(m_);
    if (stop_) return;
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    tasks_.push_back({Clock::now() + std::chrono::milliseconds(delayMs), std::move(task)});
    cv_.notify_all();
  }

 private:
  struct Task {
    Clock::time_point due;
    std::function<void()> run;
  };
  void run() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
      if (stop_) return;
      // The queue may change while we wait (a reset empties it): look again after every wait.
      Clock::time_point due = tasks_.front().due;
      if (Clock::now() < due) {
        cv_.wait_until(lock, due);
        continue;
      }
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task.run();
      task.run = nullptr;  // what it holds goes before the next wait
      lock.lock();
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<Task> tasks_;
  bool stop_ = false;
  std::thread thread_;
};

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct Library {
  std::mutex mutex;
  bool loaded = false;
  std::vector<DeviceDescription> devices;
  std::set<std::string> omitted;
  okt::emu::LinkModel model;
  okt::emu::LinkFaults faults;
  uint32_t handlerDelayMs = 0;
  bool refuseConnections = false;
  bool ignoreRequests = false;
  bool adapterOff = false;
  std::vector<std::weak_ptr<GattCore>> connections;
  // Scanning.
  void* scanContext = nullptr;
  WarbleScanHandler scanHandler = nullptr;
  void* scanErrorContext = nullptr;
  WarbleScanErrorHandler scanErrorHandler = nullptr;
  std::atomic<bool> scanning{false};
  std::thread scanThread;
  // Last, so that it ends first: its tasks may still reach everything above.
  Executor executor;

  void load() {
    if (loaded) return;
    loaded = true;
    const char* names = std::getenv("OKT_EMULATED_DEVICES");
    std::string error;
    if (names && *names) {
      std::string all = names;
      size_t start = 0;
      while (start <= all.size()) {
        size_t end = all.find(':', start);
        std::string path = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
        DeviceDescription d;
        if (!path.empty()) {
          if (okt::emu::loadDeviceDescription(path, d, error))
            devices.push_back(std::move(d));
          else
            std::fprintf(stderr, "emulated devices: %s\n", error.c_str());
        }
        if (end == std::string::npos) break;
        start = end + 1;
      }
    } else {
      DeviceDescription d;
      if (okt::emu::loadDemoDevice(d, error)) devices.push_back(std::move(d));
    }
  }
};

Library& lib() {
  static Library l;
  return l;
}

uint32_t delay() {
  std::lock_guard<std::mutex> lock(lib().mutex);
  return lib().handlerDelayMs;
}

// The emulated device and the link to it, for one connection. Shared by the
// connection and every write in flight, so neither outlives the other's use.
struct Peripheral {
  explicit Peripheral(const DeviceDescription& d) : emulator(d) {}
  okt::emu::Emulator emulator;
  std::unique_ptr<okt::emu::LoopbackLink> link;
  bool ignoreRequests = false;
};

}  // namespace

struct WarbleGattChar {
  GattCore* core;
  WarbleGatt* gatt;
  std::string uuid;
  void* notifyContext = nullptr;
  WarbleNotifyHandler notifyHandler = nullptr;
  bool notifying = false;
};

// What a connection handle stands for. Completions in flight hold it, so a
// completion that comes after the caller deleted the handle (a caller that
// gave up waiting) finds it still there, and calls no handler.
struct GattCore : std::enable_shared_from_this<GattCore> {
  WarbleGatt* handle = nullptr;
  std::string mac;
  const DeviceDescription* device = nullptr;
  std::mutex mutex;
  bool connected = false;
  bool deleted = false;
  std::shared_ptr<Peripheral> peripheral;
  std::vector<std::unique_ptr<WarbleGattChar>> chars;
  void* disconnectContext = nullptr;
  WarbleDisconnectHandler disconnectHandler = nullptr;

  WarbleGattChar* find(const std::string& uuid) {
    for (auto& c : chars)
      if (c->uuid == uuid) return c.get();
    return nullptr;
  }
  bool live() {
    std::lock_guard<std::mutex> lock(mutex);
    return !deleted;
  }
  std::string readValue(const std::string& uuid) const {
    if (uuid == kDataUuid) return "OKT";
    if (uuid == "00002a26-0000-1000-8000-00805f9b34fb") return device->firmwareRevision;
    if (uuid == "00002a24-0000-1000-8000-00805f9b34fb") return device->modelNumber;
    if (uuid == "00002a27-0000-1000-8000-00805f9b34fb") return device->hardwareRevision;
    if (uuid == "00002a29-0000-1000-8000-00805f9b34fb") return device->manufacturer;
    if (uuid == "00002a25-0000-1000-8000-00805f9b34fb") return device->serialNumber;
    return "";
  }
  // The link goes down: 0 when this side asked for it, 1 when the device or
  // the radio ended it.
  void drop(int32_t status) {
    std::shared_ptr<Peripheral> gone;
    WarbleDisconnectHandler handler;
    void* context;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!connected) return;
      connected = false;
      gone = std::move(peripheral);
      handler = deleted ? nullptr : disconnectHandler;
      context = disconnectContext;
    }
    if (gone) gone->link->stop();
    if (handler) handler(context, handle, status);
  }
};

struct WarbleGatt {
  std::shared_ptr<GattCore> core;
};

namespace {

void dropAll(int32_t status) {
  std::vector<std::shared_ptr<GattCore>> live;
  {
    std::lock_guard<std::mutex> lock(lib().mutex);
    for (auto& weak : lib().connections)
      if (auto core = weak.lock()) live.push_back(core);
  }
  for (auto& core : live) lib().executor.post([core, status] { core->drop(status); });
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const char* warble_lib_version() { return "1.2.0-okt-emulator"; }

__attribute__((visibility("default"))) void warble_lib_init(int32_t, const WarbleOption*) {}

__attribute__((visibility("default"))) void warble_lib_config(int32_t nopts, const WarbleOption* opts) {
  Library& l = lib();
  bool drop = false;
  {
    std::lock_guard<std::mutex> lock(l.mutex);
    for (int32_t i = 0; i < nopts; ++i) {
      std::string key = opts[i].key ? opts[i].key : "", value = opts[i].value ? opts[i].value : "";
      bool on = value == "1" || value == "true";
      if (key == "omit-characteristic") l.omitted.insert(lower(value));
      if (key == "link")
        l.model = value == "1M"   ? okt::emu::LinkModel::phy1M()
                  : value == "2M" ? okt::emu::LinkModel::phy2M()
                                  : okt::emu::LinkModel::unlimited();
      if (key == "drop-link-after") l.faults.dropLinkAfter = std::atoll(value.c_str());
      if (key == "handler-delay-ms") l.handlerDelayMs = static_cast<uint32_t>(std::atoi(value.c_str()));
      if (key == "refuse-connections") l.refuseConnections = on;
      if (key == "ignore-requests") l.ignoreRequests = on;
      if (key == "adapter-off") l.adapterOff = on;
      if (key == "drop-link") drop = true;
      if (key == "reset") {
        l.omitted.clear(), l.model = {}, l.faults = {}, l.handlerDelayMs = 0;
        l.refuseConnections = false, l.ignoreRequests = false, l.adapterOff = false;
        l.executor.clear();
      }
    }
  }
  if (drop) dropAll(1);
}

__attribute__((visibility("default"))) void warble_scanner_set_handler(void* context, WarbleScanHandler handler) {
  Library& l = lib();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.scanContext = context;
  l.scanHandler = handler;
}

#ifndef OKT_WARBLE_NO_SCAN_ERRORS
__attribute__((visibility("default"))) void warble_scanner_set_error_handler(void* context,
                                                                             WarbleScanErrorHandler handler) {
  Library& l = lib();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.scanErrorContext = context;
  l.scanErrorHandler = handler;
}
#endif

__attribute__((visibility("default"))) void warble_scanner_stop() {
  Library& l = lib();
  l.scanning = false;
  if (l.scanThread.joinable() && l.scanThread.get_id() != std::this_thread::get_id()) l.scanThread.join();
}

__attribute__((visibility("default"))) void warble_scanner_start(int32_t, const WarbleOption*) {
  Library& l = lib();
  warble_scanner_stop();
  {
    std::lock_guard<std::mutex> lock(l.mutex);
    l.load();
  }
  l.scanning = true;
  // Every emulated device advertises every 200 ms, its signal wavering a little.
  l.scanThread = std::thread([&l] {
    {
      // The handler is called under the mutex: once it is replaced, the old one is not called again.
      std::lock_guard<std::mutex> lock(l.mutex);
      if (l.adapterOff) {
        if (l.scanErrorHandler) l.scanErrorHandler(l.scanErrorContext, "Bluetooth is turned off");
        return;
      }
    }
    for (int round = 0; l.scanning; ++round) {
      for (const DeviceDescription& d : l.devices) {
        WarbleScanResult r{d.address.c_str(), d.name.c_str(), d.rssi - (round % 3), nullptr};
        WarbleScanHandler handler;
        void* context;
        {
          std::lock_guard<std::mutex> lock(l.mutex);
          handler = l.scanHandler;
          context = l.scanContext;
        }
        if (handler && l.scanning) handler(context, &r);
      }
      for (int i = 0; i < 20 && l.scanning; ++i) okt::platform::sleepMs(10);
    }
  });
}

__attribute__((visibility("default"))) WarbleGatt* warble_gatt_create(const char* mac) {
  Library& l = lib();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.load();
  auto* g = new WarbleGatt;  // owned by the caller until warble_gatt_delete
  g->core = std::make_shared<GattCore>();
  g->core->handle = g;
  g->core->mac = mac ? mac : "";
  for (const DeviceDescription& d : l.devices)
    if (lower(d.address) == lower(g->core->mac)) g->core->device = &d;
  std::erase_if(l.connections, [](const std::weak_ptr<GattCore>& c) { return c.expired(); });
  l.connections.push_back(g->core);
  return g;
}

__attribute__((visibility("default"))) WarbleGatt* warble_gatt_create_with_options(int32_t nopts,
                                                                                   const WarbleOption* opts) {
  for (int32_t i = 0; i < nopts; ++i)
    if (opts[i].key && std::string(opts[i].key) == "mac") return warble_gatt_create(opts[i].value);
  return nullptr;
}

__attribute__((visibility("default"))) int32_t warble_gatt_is_connected(WarbleGatt* g) {
  if (!g) return 0;
  std::lock_guard<std::mutex> lock(g->core->mutex);
  return g->core->connected ? 1 : 0;
}

__attribute__((visibility("default"))) void warble_gatt_connect_async(WarbleGatt* g, void* context,
                                                                      WarbleGattHandler handler) {
  Library& l = lib();
  std::shared_ptr<GattCore> core = g->core;
  l.executor.post(
      [core, context, handler, &l] {
        bool refused;
        std::set<std::string> omitted;
        okt::emu::LinkModel model;
        okt::emu::LinkFaults faults;
        bool ignore;
        {
          std::lock_guard<std::mutex> lock(l.mutex);
          refused = l.refuseConnections;
          omitted = l.omitted;
          model = l.model;
          faults = l.faults;
          ignore = l.ignoreRequests;
        }
        if (!core->device || refused) {
          if (handler && core->live()) handler(context, core->handle, "Device not found");
          return;
        }
        {
          std::lock_guard<std::mutex> lock(core->mutex);
          if (core->deleted) return;
          if (!core->connected) {
            core->chars.clear();
            for (const char* uuid : {kDataUuid, kRequestUuid, "00002a26-0000-1000-8000-00805f9b34fb",
                                     "00002a24-0000-1000-8000-00805f9b34fb", "00002a27-0000-1000-8000-00805f9b34fb",
                                     "00002a29-0000-1000-8000-00805f9b34fb", "00002a25-0000-1000-8000-00805f9b34fb"})
              if (!omitted.count(uuid))
                core->chars.push_back(std::make_unique<WarbleGattChar>(WarbleGattChar{core.get(), core->handle, uuid}));
            auto peripheral = std::make_shared<Peripheral>(*core->device);
            peripheral->ignoreRequests = ignore;
            GattCore* raw = core.get();  // the link ends (drop) before the core does
            peripheral->link = std::make_unique<okt::emu::LoopbackLink>(
                peripheral->emulator,
                [raw](const uint8_t* bytes, size_t n) {
                  void* context = nullptr;
                  WarbleNotifyHandler notify = nullptr;
                  WarbleGattChar* data;
                  {
                    std::lock_guard<std::mutex> lock(raw->mutex);
                    data = raw->deleted ? nullptr : raw->find(kDataUuid);
                    if (data && data->notifying) context = data->notifyContext, notify = data->notifyHandler;
                  }
                  if (notify) notify(context, data, bytes, static_cast<uint8_t>(n));
                },
                model, faults);
            std::weak_ptr<GattCore> weak = core;
            peripheral->link->onDisconnect([weak] {
              if (auto c = weak.lock()) lib().executor.post([c] { c->drop(1); });
            });
            peripheral->link->start();
            core->peripheral = std::move(peripheral);
            core->connected = true;
          }
        }
        if (handler) handler(context, core->handle, nullptr);
      },
      delay());
}

__attribute__((visibility("default"))) void warble_gatt_disconnect(WarbleGatt* g) {
  if (g) g->core->drop(0);
}

__attribute__((visibility("default"))) void warble_gatt_on_disconnect(WarbleGatt* g, void* context,
                                                                      WarbleDisconnectHandler handler) {
  if (!g) return;
  std::lock_guard<std::mutex> lock(g->core->mutex);
  g->core->disconnectContext = context;
  g->core->disconnectHandler = handler;
}

__attribute__((visibility("default"))) void warble_gatt_delete(WarbleGatt* g) {
  if (!g) return;
  {
    std::lock_guard<std::mutex> lock(g->core->mutex);
    g->core->deleted = true;
  }
  g->core->drop(0);
  delete g;
}

__attribute__((visibility("default"))) WarbleGattChar* warble_gatt_find_characteristic(WarbleGatt* g,
                                                                                       const char* uuid) {
  if (!g || !uuid) return nullptr;
  std::lock_guard<std::mutex> lock(g->core->mutex);
  return g->core->connected ? g->core->find(lower(uuid)) : nullptr;
}

__attribute__((visibility("default"))) int32_t warble_gatt_has_service(WarbleGatt* g, const char*) {
  return g && warble_gatt_is_connected(g) ? 1 : 0;
}

__attribute__((visibility("default"))) const char* warble_gattchar_get_uuid(WarbleGattChar* c) {
  return c ? c->uuid.c_str() : "";
}

__attribute__((visibility("default"))) WarbleGatt* warble_gattchar_get_gatt(WarbleGattChar* c) {
  return c ? c->gatt : nullptr;
}

__attribute__((visibility("default"))) void warble_gattchar_read_async(WarbleGattChar* c, void* context,
                                                                       WarbleReadHandler handler) {
  std::shared_ptr<GattCore> core = c->core->shared_from_this();
  lib().executor.post(
      [core, c, context, handler] {
        std::string value;
        bool up;
        {
          std::lock_guard<std::mutex> lock(core->mutex);
          if (core->deleted) return;
          up = core->connected;
        }
        if (up) value = core->readValue(c->uuid);
        if (handler)
          handler(context, c, reinterpret_cast<const uint8_t*>(value.data()),
                  static_cast<uint8_t>(std::min<size_t>(value.size(), 255)), up ? nullptr : "Not connected");
      },
      delay());
}

static void writeCharacteristic(WarbleGattChar* c, const uint8_t* value, uint8_t length, void* context,
                                WarbleCharHandler handler) {
  std::vector<uint8_t> bytes(value, value + length);
  std::shared_ptr<GattCore> core = c->core->shared_from_this();
  lib().executor.post(
      [core, c, bytes, context, handler] {
        const char* error = nullptr;
        std::shared_ptr<Peripheral> peripheral;
        {
          std::lock_guard<std::mutex> lock(core->mutex);
          if (core->deleted) return;
          if (core->connected) peripheral = core->peripheral;
        }
        if (c->uuid != kRequestUuid)
          error = "Writing is not permitted";
        else if (!peripheral ||
                 (!peripheral->ignoreRequests && peripheral->link->write(bytes.data(), bytes.size()) != 0))
          error = "Not connected";
        if (handler) handler(context, c, error);
      },
      delay());
}

__attribute__((visibility("default"))) void warble_gattchar_write_async(WarbleGattChar* c, const uint8_t* value,
                                                                        uint8_t length, void* context,
                                                                        WarbleCharHandler handler) {
  writeCharacteristic(c, value, length, context, handler);
}

__attribute__((visibility("default"))) void warble_gattchar_write_without_resp_async(WarbleGattChar* c,
                                                                                     const uint8_t* value,
                                                                                     uint8_t length, void* context,
                                                                                     WarbleCharHandler handler) {
  writeCharacteristic(c, value, length, context, handler);
}

static void setNotifications(WarbleGattChar* c, bool on, void* context, WarbleCharHandler handler) {
  std::shared_ptr<GattCore> core = c->core->shared_from_this();
  lib().executor.post(
      [core, c, on, context, handler] {
        bool ok;
        {
          std::lock_guard<std::mutex> lock(core->mutex);
          if (core->deleted) return;
          ok = !on || (c->uuid == kDataUuid && core->connected);
          if (ok) c->notifying = on;
        }
        if (handler) handler(context, c, ok ? nullptr : "Notifications are not supported");
      },
      delay());
}

__attribute__((visibility("default"))) void warble_gattchar_enable_notifications_async(WarbleGattChar* c, void* context,
                                                                                       WarbleCharHandler handler) {
  setNotifications(c, true, context, handler);
}

__attribute__((visibility("default"))) void warble_gattchar_disable_notifications_async(WarbleGattChar* c,
                                                                                        void* context,
                                                                                        WarbleCharHandler handler) {
  setNotifications(c, false, context, handler);
}

__attribute__((visibility("default"))) void warble_gattchar_on_notification_received(WarbleGattChar* c, void* context,
                                                                                     WarbleNotifyHandler handler) {
  if (!c) return;
  std::lock_guard<std::mutex> lock(c->core->mutex);
  c->notifyContext = context;
  c->notifyHandler = handler;
}

__attribute__((visibility("default"))) const WarbleScanMftData* warble_scan_result_get_manufacturer_data(
    const WarbleScanResult*, uint16_t) {
  return nullptr;
}

__attribute__((visibility("default"))) int32_t warble_scan_result_has_service_uuid(const WarbleScanResult*,
                                                                                   const char* uuid) {
  return uuid && lower(uuid) == kServiceUuid ? 1 : 0;
}

}  // extern "C"
