#include "ble/binding.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/log.h"

namespace okt {

namespace {

std::string loaderError() {
  const char* text = dlerror();
  return text ? text : "unknown reason";
}

template <typename F>
bool resolve(WarbleBinding& b, const char* name, F& slot, std::string& error) {
  void* symbol = dlsym(b.library, name);
  if (!symbol) {
    error = std::string("ERROR: Warble unknown function ") + name;
    return false;
  }
  slot = reinterpret_cast<F>(symbol);
  return true;
}

}  // namespace

bool bindWarble(const std::string& library, WarbleBinding& out, std::string& error) {
  WarbleBinding b;
  b.library = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::string reason = b.library ? "" : loaderError();
#ifdef OKT_BLE_LIBRARY_DIR
  // A bare name is also looked for where this build puts its libraries. Its
  // reason replaces the first only when the file is there (it failed to load).
  std::string built = std::string(OKT_BLE_LIBRARY_DIR) + "/" + library;
  if (!b.library && library.find('/') == std::string::npos) {
    b.library = dlopen(built.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!b.library && access(built.c_str(), F_OK) == 0) reason = loaderError();
  }
#endif
  if (!b.library) {
    error = "Bluetooth DLL library not found (" + library + "): " + reason;
    return false;
  }
#define OKT_RESOLVE(name)                        \
  if (!resolve(b, #name, b.name, error)) {       \
    dlclose(b.library);                          \
    return false;                                \
  }
  OKT_RESOLVE(warble_lib_version)
  OKT_RESOLVE(warble_scanner_set_handler)
  OKT_RESOLVE(warble_scanner_start)
  OKT_RESOLVE(warble_scanner_stop)
  OKT_RESOLVE(warble_gatt_create)
  OKT_RESOLVE(warble_gatt_create_with_options)
  OKT_RESOLVE(warble_gatt_is_connected)
  OKT_RESOLVE(warble_gatt_connect_async)
  OKT_RESOLVE(warble_gatt_disconnect)
  OKT_RESOLVE(warble_gatt_on_disconnect)
  OKT_RESOLVE(warble_gattchar_get_uuid)
  OKT_RESOLVE(warble_gatt_find_characteristic)
  OKT_RESOLVE(warble_gattchar_read_async)
  OKT_RESOLVE(warble_gattchar_write_without_resp_async)
  OKT_RESOLVE(warble_gattchar_write_async)
  OKT_RESOLVE(warble_gattchar_enable_notifications_async)
  OKT_RESOLVE(warble_scan_result_get_manufacturer_data)
  OKT_RESOLVE(warble_scan_result_has_service_uuid)
  OKT_RESOLVE(warble_gatt_delete)
  OKT_RESOLVE(warble_gatt_has_service)
  OKT_RESOLVE(warble_gattchar_disable_notifications_async)
  OKT_RESOLVE(warble_gattchar_get_gatt)
  OKT_RESOLVE(warble_lib_init)
  OKT_RESOLVE(warble_lib_config)
  OKT_RESOLVE(warble_gattchar_on_notification_received)
#undef OKT_RESOLVE
  // Older libraries lack these; they bind all the same.
  b.warble_scanner_set_error_handler =
      reinterpret_cast<warble_scanner_set_error_handler_fn>(dlsym(b.library, "warble_scanner_set_error_handler"));
  platform::logf("WARBLE %s!\n", b.warble_lib_version());
  out = b;
  return true;
}

void unbindWarble(WarbleBinding& binding) {
  if (binding.library) dlclose(binding.library);
  binding = WarbleBinding{};
}

std::string chooseBleLibrary(const std::string& argument) {
  if (!argument.empty()) return argument;
  const char* env = std::getenv("OKT_BLE_LIBRARY");
  if (env && *env) return env;
  return kDefaultBleLibrary;
}

}  // namespace okt
