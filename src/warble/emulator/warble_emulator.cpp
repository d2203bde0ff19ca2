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
// "handler-delay-ms" = N holds every completion back that long; "reset"
// forgets the options.
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

namespace {

using okt::emu::DeviceDescription;

constexpr const char* kDataUuid = "dadae006-8d09-4dbf-9b75-9e58b9b66b91";
constexpr const char* kRequestUuid = "dadae002-8d09-4dbf-9b75-9e58b9b66b91";

// Runs completion handlers one after another on a thread of the library's.
class Executor {
 public:
  ~Executor() {
    {
      std::lock_guard<std::mutex> lock(m_);
      stop_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  void post(std::function<void()> task, uint32_t delayMs = 0) {
    if (delayMs) task = [task, delayMs] {
      okt::platform::sleepMs(delayMs);
      task();
    };
    std::lock_guard<std::mutex> lock(m_);
    if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
    tasks_.push_back(std::move(task));
    cv_.notify_all();
  }

 private:
  void run() {
    std::unique_lock<std::mutex> lock(m_);
    for (;;) {
      cv_.wait(lock, [&] { return stop_ || !tasks_.empty(); });
      if (tasks_.empty()) return;
      auto task = std::move(tasks_.front());
      tasks_.pop_front();
      lock.unlock();
      task();
      lock.lock();
    }
  }
  std::mutex m_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> tasks_;
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
  // Scanning.
  void* scanContext = nullptr;
  WarbleScanHandler scanHandler = nullptr;
  std::atomic<bool> scanning{false};
  std::thread scanThread;
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

}  // namespace

struct WarbleGattChar {
  WarbleGatt* gatt;
  std::string uuid;
  void* notifyContext = nullptr;
  WarbleNotifyHandler notifyHandler = nullptr;
  bool notifying = false;
};

struct WarbleGatt {
  std::string mac;
  const DeviceDescription* device = nullptr;
  std::mutex mutex;
  bool connected = false;
  std::unique_ptr<okt::emu::Emulator> emulator;
  std::unique_ptr<okt::emu::LoopbackLink> link;
  std::vector<std::unique_ptr<WarbleGattChar>> chars;
  void* disconnectContext = nullptr;
  WarbleDisconnectHandler disconnectHandler = nullptr;

  WarbleGattChar* find(const std::string& uuid) {
    for (auto& c : chars)
      if (c->uuid == uuid) return c.get();
    return nullptr;
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
  void drop(int32_t status) {
    std::unique_ptr<okt::emu::LoopbackLink> l;
    {
      std::lock_guard<std::mutex> lock(mutex);
      if (!connected) return;
      connected = false;
      l = std::move(link);
    }
    if (l) l->stop();
    if (disconnectHandler) disconnectHandler(disconnectContext, this, status);
  }
};

extern "C" {

__attribute__((visibility("default"))) const char* warble_lib_version() { return "1.2.0-okt-emulator"; }

__attribute__((visibility("default"))) void warble_lib_init(int32_t, const WarbleOption*) {}

__attribute__((visibility("default"))) void warble_lib_config(int32_t nopts, const WarbleOption* opts) {
  Library& l = lib();
  std::lock_guard<std::mutex> lock(l.mutex);
  for (int32_t i = 0; i < nopts; ++i) {
    std::string key = opts[i].key ? opts[i].key : "", value = opts[i].value ? opts[i].value : "";
    if (key == "omit-characteristic") l.omitted.insert(lower(value));
    if (key == "link") l.model = value == "1M" ? okt::emu::LinkModel::phy1M()
                                 : value == "2M" ? okt::emu::LinkModel::phy2M()
                                                 : okt::emu::LinkModel::unlimited();
    if (key == "drop-link-after") l.faults.dropLinkAfter = std::atoll(value.c_str());
    if (key == "handler-delay-ms") l.handlerDelayMs = static_cast<uint32_t>(std::atoi(value.c_str()));
    if (key == "reset") l.omitted.clear(), l.model = {}, l.faults = {}, l.handlerDelayMs = 0;
  }
}

__attribute__((visibility("default"))) void warble_scanner_set_handler(void* context, WarbleScanHandler handler) {
  Library& l = lib();
  std::lock_guard<std::mutex> lock(l.mutex);
  l.scanContext = context;
  l.scanHandler = handler;
}

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
  g->mac = mac ? mac : "";
  for (const DeviceDescription& d : l.devices)
    if (lower(d.address) == lower(g->mac)) g->device = &d;
  return g;
}

__attribute__((visibility("default"))) WarbleGatt* warble_gatt_create_with_options(int32_t nopts, const WarbleOption* opts) {
  for (int32_t i = 0; i < nopts; ++i)
    if (opts[i].key && std::string(opts[i].key) == "mac") return warble_gatt_create(opts[i].value);
  return nullptr;
}

__attribute__((visibility("default"))) int32_t warble_gatt_is_connected(WarbleGatt* g) {
  if (!g) return 0;
  std::lock_guard<std::mutex> lock(g->mutex);
  return g->connected ? 1 : 0;
}

__attribute__((visibility("default"))) void warble_gatt_connect_async(WarbleGatt* g, void* context, WarbleGattHandler handler) {
  Library& l = lib();
  l.executor.post([g, context, handler, &l] {
    if (!g->device) {
      if (handler) handler(context, g, "Device not found");
      return;
    }
    std::set<std::string> omitted;
    okt::emu::LinkModel model;
    okt::emu::LinkFaults faults;
    {
      std::lock_guard<std::mutex> lock(l.mutex);
      omitted = l.omitted;
      model = l.model;
      faults = l.faults;
    }
    {
      std::lock_guard<std::mutex> lock(g->mutex);
      if (!g->connected) {
        g->chars.clear();
        for (const char* uuid : {kDataUuid, kRequestUuid, "00002a26-0000-1000-8000-00805f9b34fb",
                                 "00002a24-0000-1000-8000-00805f9b34fb", "00002a27-0000-1000-8000-00805f9b34fb",
                                 "00002a29-0000-1000-8000-00805f9b34fb", "00002a25-0000-1000-8000-00805f9b34fb"})
          if (!omitted.count(uuid)) g->chars.push_back(std::make_unique<WarbleGattChar>(WarbleGattChar{g, uuid}));
        g->emulator = std::make_unique<okt::emu::Emulator>(*g->device);
        g->link = std::make_unique<okt::emu::LoopbackLink>(
            *g->emulator,
            [g](const uint8_t* bytes, size_t n) {
              WarbleGattChar* data = g->find(kDataUuid);
              if (data && data->notifying && data->notifyHandler)
                data->notifyHandler(data->notifyContext, data, bytes, static_cast<uint8_t>(n));
            },
            model, faults);
        g->link->onDisconnect([g] { lib().executor.post([g] { g->drop(1); }); });
        g->link->start();
        g->connected = true;
      }
    }
    if (handler) handler(context, g, nullptr);
  });
}

__attribute__((visibility("default"))) void warble_gatt_disconnect(WarbleGatt* g) {
  if (g) g->drop(0);
}

__attribute__((visibility("default"))) void warble_gatt_on_disconnect(WarbleGatt* g, void* context, WarbleDisconnectHandler handler) {
  if (!g) return;
  std::lock_guard<std::mutex> lock(g->mutex);
  g->disconnectContext = context;
  g->disconnectHandler = handler;
}

__attribute__((visibility("default"))) void warble_gatt_delete(WarbleGatt* g) {
  if (!g) return;
  g->disconnectHandler = nullptr;
  g->drop(0);
  delete g;
}

__attribute__((visibility("default"))) WarbleGattChar* warble_gatt_find_characteristic(WarbleGatt* g, const char* uuid) {
  if (!g || !uuid) return nullptr;
  std::lock_guard<std::mutex> lock(g->mutex);
  return g->connected ? g->find(lower(uuid)) : nullptr;
}

__attribute__((visibility("default"))) int32_t warble_gatt_has_service(WarbleGatt* g, const char*) {
  return g && warble_gatt_is_connected(g) ? 1 : 0;
}

__attribute__((visibility("default"))) const char* warble_gattchar_get_uuid(WarbleGattChar* c) { return c ? c->uuid.c_str() : ""; }

__attribute__((visibility("default"))) WarbleGatt* warble_gattchar_get_gatt(WarbleGattChar* c) { return c ? c->gatt : nullptr; }

__attribute__((visibility("default"))) void warble_gattchar_read_async(WarbleGattChar* c, void* context, WarbleReadHandler handler) {
  lib().executor.post([c, context, handler] {
    bool up = warble_gatt_is_connected(c->gatt);
    std::string value = up ? c->gatt->readValue(c->uuid) : "";
    if (handler)
      handler(context, c, reinterpret_cast<const uint8_t*>(value.data()), static_cast<uint8_t>(std::min<size_t>(value.size(), 255)),
              up ? nullptr : "Not connected");
  }, delay());
}

static void writeCharacteristic(WarbleGattChar* c, const uint8_t* value, uint8_t length, void* context, WarbleCharHandler handler) {
  std::vector<uint8_t> bytes(value, value + length);
  lib().executor.post([c, bytes, context, handler] {
    const char* error = nullptr;
    if (c->uuid != kRequestUuid) {
      error = "Writing is not permitted";
    } else {
      okt::emu::LoopbackLink* link = nullptr;
      {
        std::lock_guard<std::mutex> lock(c->gatt->mutex);
        if (c->gatt->connected) link = c->gatt->link.get();
      }
      if (!link || link->write(bytes.data(), bytes.size()) != 0) error = "Not connected";
    }
    if (handler) handler(context, c, error);
  }, delay());
}

__attribute__((visibility("default"))) void warble_gattchar_write_async(WarbleGattChar* c, const uint8_t* value, uint8_t length,
                                                                       void* context, WarbleCharHandler handler) {
  writeCharacteristic(c, value, length, context, handler);
}

__attribute__((visibility("default"))) void warble_gattchar_write_without_resp_async(WarbleGattChar* c, const uint8_t* value,
                                                                                    uint8_t length, void* context,
                                                                                    WarbleCharHandler handler) {
  writeCharacteristic(c, value, length, context, handler);
}

__attribute__((visibility("default"))) void warble_gattchar_enable_notifications_async(WarbleGattChar* c, void* context,
                                                                                      WarbleCharHandler handler) {
  lib().executor.post([c, context, handler] {
    bool ok = c->uuid == kDataUuid && warble_gatt_is_connected(c->gatt);
    if (ok) c->notifying = true;
    if (handler) handler(context, c, ok ? nullptr : "Notifications are not supported");
  });
}

__attribute__((visibility("default"))) void warble_gattchar_disable_notifications_async(WarbleGattChar* c, void* context,
                                                                                       WarbleCharHandler handler) {
  lib().executor.post([c, context, handler] {
    c->notifying = false;
    if (handler) handler(context, c, nullptr);
  });
}

__attribute__((visibility("default"))) void warble_gattchar_on_notification_received(WarbleGattChar* c, void* context,
                                                                                    WarbleNotifyHandler handler) {
  if (!c) return;
  std::lock_guard<std::mutex> lock(c->gatt->mutex);
  c->notifyContext = context;
  c->notifyHandler = handler;
}

__attribute__((visibility("default"))) const WarbleScanMftData* warble_scan_result_get_manufacturer_data(const WarbleScanResult*,
                                                                                                        uint16_t) {
  return nullptr;
}

__attribute__((visibility("default"))) int32_t warble_scan_result_has_service_uuid(const WarbleScanResult*, const char* uuid) {
  return uuid && lower(uuid) == kDataUuid ? 1 : 0;
}

}  // extern "C"
