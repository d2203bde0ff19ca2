#pragma once

#include <string>

#include "ble/warble_api.h"
#include "platform/shared_library.h"

namespace okt {

// The Bluetooth library's functions, resolved by name at start.
struct WarbleBinding {
  void* library = nullptr;
  warble_lib_version_fn warble_lib_version = nullptr;
  warble_scanner_set_handler_fn warble_scanner_set_handler = nullptr;
  warble_scanner_start_fn warble_scanner_start = nullptr;
  warble_scanner_stop_fn warble_scanner_stop = nullptr;
  warble_gatt_create_fn warble_gatt_create = nullptr;
  warble_gatt_create_with_options_fn warble_gatt_create_with_options = nullptr;
  warble_gatt_is_connected_fn warble_gatt_is_connected = nullptr;
  warble_gatt_connect_async_fn warble_gatt_connect_async = nullptr;
  warble_gatt_disconnect_fn warble_gatt_disconnect = nullptr;
  warble_gatt_on_disconnect_fn warble_gatt_on_disconnect = nullptr;
  warble_gattchar_get_uuid_fn warble_gattchar_get_uuid = nullptr;
  warble_gatt_find_characteristic_fn warble_gatt_find_characteristic = nullptr;
  warble_gattchar_read_async_fn warble_gattchar_read_async = nullptr;
  warble_gattchar_write_fn warble_gattchar_write_without_resp_async = nullptr;
  warble_gattchar_write_fn warble_gattchar_write_async = nullptr;
  warble_gattchar_notifications_fn warble_gattchar_enable_notifications_async = nullptr;
  warble_scan_result_get_manufacturer_data_fn warble_scan_result_get_manufacturer_data = nullptr;
  warble_scan_result_has_service_uuid_fn warble_scan_result_has_service_uuid = nullptr;
  warble_gatt_delete_fn warble_gatt_delete = nullptr;
  warble_gatt_has_service_fn warble_gatt_has_service = nullptr;
  warble_gattchar_notifications_fn warble_gattchar_disable_notifications_async = nullptr;
  warble_gattchar_get_gatt_fn warble_gattchar_get_gatt = nullptr;
  warble_lib_init_fn warble_lib_init = nullptr;
  warble_lib_config_fn warble_lib_config = nullptr;
  warble_gattchar_on_notification_received_fn warble_gattchar_on_notification_received = nullptr;
  // Optional: null when the library does not report scan failures.
  warble_scanner_set_error_handler_fn warble_scanner_set_error_handler = nullptr;
};

// Where the library is found when nothing else is said.
inline const std::string kDefaultBleLibrary = platform::sharedLibraryName("okt-warble-qt");

// Loads the library and resolves every function in a fixed order, then the
// optional ones. `library` is a path, or a file name searched the system's
// way and then in the program's own library folder; a name without a suffix
// ("okt-warble-emulator") is that library's file name here. On failure the
// text says what went wrong ("Bluetooth DLL library not found (NAME): the
// loader's reason" or "ERROR: Warble unknown function NAME") and the binding
// is left empty. On success prints "WARBLE <version>!".
bool bindWarble(const std::string& library, WarbleBinding& out, std::string& error);
void unbindWarble(WarbleBinding& binding);

// The library to load: the --ble-library argument, else OKT_BLE_LIBRARY,
// else the default.
std::string chooseBleLibrary(const std::string& argument);

}  // namespace okt
