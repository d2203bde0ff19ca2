#include "ble/binding.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "platform/log.h"
#include "platform/paths.h"
#include "platform/shared_library.h"

namespace okt {

namespace {

template <typename F>
bool resolve(WarbleBinding& b, const char* name, F& slot, std::string& error) {
  void* symbol = platform::sharedLibrarySymbol(b.library, name);
  if (!symbol) {
    error = std::string("ERROR: Warble unknown function ") + name;
    return false;
  }
  slot = reinterpret_cast<F>(symbol);
  return true;
}

bool isBareName(const std::string& library) { return library.find_first_of("/\\") == std::string::npos; }

// A bare name without a suffix ("okt-warble-emulator") stands for the
// system's file name of that library.
std::string libraryFileName(const std::string& library) {
  if (!isBareName(library) || library.find('.') != std::string::npos) return library;
  return platform::sharedLibraryName(library);
}

}  // namespace

bool bindWarble(const std::string& library, WarbleBinding& out, std::string& error) {
  WarbleBinding b;
  std::string file = libraryFileName(library);
  std::string reason;
  b.library = platform::openSharedLibrary(file, reason);
  // A bare name is also looked for in the program's own library folder, where
  // an installed program keeps its Bluetooth libraries, then where this build
  // puts them. A folder's reason replaces the first only when the file is
  // there (it failed to load).
  std::vector<std::string> folders;
  if (isBareName(file)) folders = {platform::ownLibraryDirectory(), OKT_BLE_LIBRARY_DIR};
  for (const std::string& folder : folders) {
    if (b.library || folder.empty()) continue;
    std::string beside = folder + "/" + file, folderReason;
    b.library = platform::openSharedLibrary(beside, folderReason);
    std::error_code ec;
    if (!b.library && std::filesystem::exists(beside, ec)) reason = folderReason;
  }
  if (!b.library) {
    error = "Bluetooth DLL library not found (" + library + "): " + reason;
    return false;
  }
#define OKT_RESOLVE(name)                    \
  if (!resolve(b, #name, b.name, error)) {   \
    platform::closeSharedLibrary(b.library); \
    return false;                            \
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
  b.warble_scanner_set_error_handler = reinterpret_cast<warble_scanner_set_error_handler_fn>(
      platform::sharedLibrarySymbol(b.library, "warble_scanner_set_error_handler"));
  platform::logf("WARBLE %s!\n", b.warble_lib_version());
  out = b;
  return true;
}

void unbindWarble(WarbleBinding& binding) {
  platform::closeSharedLibrary(binding.library);
  binding = WarbleBinding{};
}

std::string chooseBleLibrary(const std::string& argument) {
  if (!argument.empty()) return argument;
  const char* env = std::getenv("OKT_BLE_LIBRARY");
  if (env && *env) return env;
  return kDefaultBleLibrary;
}

}  // namespace okt
