// A Bluetooth LE library with the client's Warble C API over QtBluetooth.
// Every Qt object lives on one event loop of the library's (see
// EventLoopThread); the functions callers use on their own threads either
// read what the handles mirror under their mutex or post work to the loop.
#include <QByteArray>
#include <algorithm>
#include <cctype>
#include <mutex>
#include <set>
#include <string>

#include "ble/warble_api.h"
#include "warble/qt/event_loop_thread.h"
#include "warble/qt/gatt_session.h"
#include "warble/qt/scanner.h"

#define OKT_EXPORT __attribute__((visibility("default")))

namespace {

using okt::warble_qt::GattSession;
using okt::warble_qt::Scanner;

std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

struct Library {
  okt::warble_qt::EventLoopThread loop;
  std::mutex mutex;
  Scanner* scanner = nullptr;  // made on the loop on first use
  std::set<WarbleGatt*> live;  // connections not yet deleted

  Scanner& theScanner() {
    // Loop thread only.
    if (!scanner) scanner = new Scanner(loop);
    return *scanner;
  }

  // Deletes, on the loop, every Qt object the library still holds.
  void releaseAll() {
    std::lock_guard<std::mutex> lock(mutex);
    for (WarbleGatt* g : live) {
      delete g->session;
      g->session = nullptr;
    }
    delete scanner;
    scanner = nullptr;
  }

  Library() {
    loop.setLastTask([this] { releaseAll(); });
  }
  ~Library() { loop.stop(); }
};

Library& lib() {
  static Library l;
  return l;
}

// Runs `task` for a session on the loop, unless the connection was deleted
// in the meantime. `part` names what the task uses of Qt (see
// EventLoopThread::endBeforeGlobalsOf).
template <typename F>
void onSession(WarbleGatt* g, const char* part, F task) {
  lib().loop.post([g, part, task] {
    {
      std::lock_guard<std::mutex> lock(lib().mutex);
      if (!lib().live.count(g) || !g->session) return;
    }
    task(*g->session);
    lib().loop.endBeforeGlobalsOf(part);
  });
}

}  // namespace

extern "C" {

OKT_EXPORT const char* warble_lib_version() { return "1.2.0-okt-qt"; }

OKT_EXPORT void warble_lib_init(int32_t, const WarbleOption*) {}

OKT_EXPORT void warble_lib_config(int32_t, const WarbleOption*) {}

OKT_EXPORT void warble_scanner_set_handler(void* context, WarbleScanHandler handler) {
  lib().loop.runAndWait([&] { lib().theScanner().setHandler(context, handler); });
}

OKT_EXPORT void warble_scanner_set_error_handler(void* context, WarbleScanErrorHandler handler) {
  lib().loop.runAndWait([&] { lib().theScanner().setErrorHandler(context, handler); });
}

OKT_EXPORT void warble_scanner_start(int32_t, const WarbleOption*) {
  lib().loop.runAndWait([] { lib().theScanner().start(); });
}

OKT_EXPORT void warble_scanner_stop() {
  lib().loop.runAndWait([] { lib().theScanner().stop(); });
}

OKT_EXPORT WarbleGatt* warble_gatt_create(const char* mac) {
  auto* g = new WarbleGatt;  // the caller's until warble_gatt_delete
  g->mac = mac ? mac : "";
  lib().loop.runAndWait([g] { g->session = new GattSession(g); });
  std::lock_guard<std::mutex> lock(lib().mutex);
  lib().live.insert(g);
  return g;
}

OKT_EXPORT WarbleGatt* warble_gatt_create_with_options(int32_t nopts, const WarbleOption* opts) {
  for (int32_t i = 0; i < nopts; ++i)
    if (opts[i].key && std::string(opts[i].key) == "mac") return warble_gatt_create(opts[i].value);
  return nullptr;
}

OKT_EXPORT void warble_gatt_delete(WarbleGatt* g) {
  if (!g) return;
  {
    std::lock_guard<std::mutex> lock(lib().mutex);
    if (!lib().live.count(g)) return;
  }
  {
    std::lock_guard<std::mutex> lock(g->mutex);
    g->disconnectHandler = nullptr;
  }
  // Freed on the loop, after the session that used it: nothing the loop did
  // with the connection can come after. Callers on other threads touch it
  // only under its mutex, which the loop takes last. It stays live until
  // then, so a loop that ends first releases its session.
  auto forget = [g] {
    std::lock_guard<std::mutex> lock(lib().mutex);
    lib().live.erase(g);
  };
  bool freed = false;
  lib().loop.runAndWait([g, &freed, &forget] {
    forget();
    delete g->session;
    { std::lock_guard<std::mutex> lock(g->mutex); }
    delete g;
    freed = true;
  });
  if (freed) return;
  forget();  // the loop has ended and released every live session
  delete g;
}

OKT_EXPORT int32_t warble_gatt_is_connected(WarbleGatt* g) {
  if (!g) return 0;
  std::lock_guard<std::mutex> lock(g->mutex);
  return g->connected ? 1 : 0;
}

OKT_EXPORT void warble_gatt_connect_async(WarbleGatt* g, void* context, WarbleGattHandler handler) {
  onSession(g, "connect", [context, handler](GattSession& s) { s.connectToDevice(context, handler); });
}

OKT_EXPORT void warble_gatt_disconnect(WarbleGatt* g) {
  onSession(g, "disconnect", [](GattSession& s) { s.disconnectFromDevice(); });
}

OKT_EXPORT void warble_gatt_on_disconnect(WarbleGatt* g, void* context, WarbleDisconnectHandler handler) {
  if (!g) return;
  std::lock_guard<std::mutex> lock(g->mutex);
  g->disconnectContext = context;
  g->disconnectHandler = handler;
}

OKT_EXPORT WarbleGattChar* warble_gatt_find_characteristic(WarbleGatt* g, const char* uuid) {
  if (!g || !uuid) return nullptr;
  std::string wanted = lower(uuid);
  std::lock_guard<std::mutex> lock(g->mutex);
  if (!g->connected) return nullptr;
  for (auto& c : g->chars)
    if (c->uuid == wanted) return c.get();
  return nullptr;
}

OKT_EXPORT int32_t warble_gatt_has_service(WarbleGatt* g, const char* uuid) {
  if (!g || !uuid) return 0;
  std::string wanted = lower(uuid);
  std::lock_guard<std::mutex> lock(g->mutex);
  return g->connected && std::count(g->serviceUuids.begin(), g->serviceUuids.end(), wanted) ? 1 : 0;
}

OKT_EXPORT const char* warble_gattchar_get_uuid(WarbleGattChar* c) { return c ? c->uuid.c_str() : ""; }

OKT_EXPORT WarbleGatt* warble_gattchar_get_gatt(WarbleGattChar* c) { return c ? c->gatt : nullptr; }

OKT_EXPORT void warble_gattchar_read_async(WarbleGattChar* c, void* context, WarbleReadHandler handler) {
  if (!c) return;
  onSession(c->gatt, "read", [c, context, handler](GattSession& s) { s.read(c, context, handler); });
}

OKT_EXPORT void warble_gattchar_write_async(WarbleGattChar* c, const uint8_t* value, uint8_t length, void* context,
                                            WarbleCharHandler handler) {
  if (!c) return;
  QByteArray bytes(reinterpret_cast<const char*>(value), length);
  onSession(c->gatt, "write",
            [c, bytes, context, handler](GattSession& s) { s.write(c, bytes, true, context, handler); });
}

OKT_EXPORT void warble_gattchar_write_without_resp_async(WarbleGattChar* c, const uint8_t* value, uint8_t length,
                                                         void* context, WarbleCharHandler handler) {
  if (!c) return;
  QByteArray bytes(reinterpret_cast<const char*>(value), length);
  onSession(c->gatt, "write",
            [c, bytes, context, handler](GattSession& s) { s.write(c, bytes, false, context, handler); });
}

OKT_EXPORT void warble_gattchar_enable_notifications_async(WarbleGattChar* c, void* context,
                                                           WarbleCharHandler handler) {
  if (!c) return;
  onSession(c->gatt, "notifications",
            [c, context, handler](GattSession& s) { s.setNotifications(c, true, context, handler); });
}

OKT_EXPORT void warble_gattchar_disable_notifications_async(WarbleGattChar* c, void* context,
                                                            WarbleCharHandler handler) {
  if (!c) return;
  onSession(c->gatt, "notifications",
            [c, context, handler](GattSession& s) { s.setNotifications(c, false, context, handler); });
}

OKT_EXPORT void warble_gattchar_on_notification_received(WarbleGattChar* c, void* context,
                                                         WarbleNotifyHandler handler) {
  if (!c) return;
  std::lock_guard<std::mutex> lock(c->gatt->mutex);
  c->notifyContext = context;
  c->notifyHandler = handler;
}

OKT_EXPORT const WarbleScanMftData* warble_scan_result_get_manufacturer_data(const WarbleScanResult*, uint16_t) {
  return nullptr;
}

OKT_EXPORT int32_t warble_scan_result_has_service_uuid(const WarbleScanResult* r, const char* uuid) {
  if (!r || !r->privateData || !uuid) return 0;
  const QBluetoothUuid wanted(QString::fromLatin1(uuid));
  return static_cast<const okt::warble_qt::Advertisement*>(r->privateData)->serviceUuids.contains(wanted) ? 1 : 0;
}

}  // extern "C"
