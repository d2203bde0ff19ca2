#pragma once

// The C API a Bluetooth LE library offers the client: opaque handles,
// completion handlers called with their context first on the library's own
// threads, a null error text meaning success. The client binds these names
// at start; any library that exports them can stand behind the client.
#include <cstdint>

extern "C" {

struct WarbleGatt;
struct WarbleGattChar;
struct WarbleOption {
  const char* key;
  const char* value;
};
struct WarbleScanResult {
  const char* mac;
  const char* name;
  int32_t rssi;
  void* privateData;
};
struct WarbleScanMftData {
  const uint8_t* value;
  uint32_t valueSize;
};

typedef void (*WarbleScanHandler)(void* context, const WarbleScanResult* result);
// Why a scan cannot run or stopped early ("Bluetooth is turned off", ...);
// called on a library thread, the text valid for the call only.
typedef void (*WarbleScanErrorHandler)(void* context, const char* message);
typedef void (*WarbleGattHandler)(void* context, WarbleGatt* gatt, const char* error);
typedef void (*WarbleDisconnectHandler)(void* context, WarbleGatt* gatt, int32_t status);
typedef void (*WarbleCharHandler)(void* context, WarbleGattChar* characteristic, const char* error);
typedef void (*WarbleReadHandler)(void* context, WarbleGattChar* characteristic, const uint8_t* value, uint8_t length,
                                  const char* error);
typedef void (*WarbleNotifyHandler)(void* context, WarbleGattChar* characteristic, const uint8_t* value,
                                    uint8_t length);

typedef const char* (*warble_lib_version_fn)();
typedef void (*warble_scanner_set_handler_fn)(void* context, WarbleScanHandler handler);
// Optional: a library may leave it out, and is then silent about failures.
typedef void (*warble_scanner_set_error_handler_fn)(void* context, WarbleScanErrorHandler handler);
typedef void (*warble_scanner_start_fn)(int32_t nopts, const WarbleOption* opts);
typedef void (*warble_scanner_stop_fn)();
typedef WarbleGatt* (*warble_gatt_create_fn)(const char* mac);
typedef WarbleGatt* (*warble_gatt_create_with_options_fn)(int32_t nopts, const WarbleOption* opts);
typedef int32_t (*warble_gatt_is_connected_fn)(WarbleGatt* gatt);
typedef void (*warble_gatt_connect_async_fn)(WarbleGatt* gatt, void* context, WarbleGattHandler handler);
typedef void (*warble_gatt_disconnect_fn)(WarbleGatt* gatt);
typedef void (*warble_gatt_on_disconnect_fn)(WarbleGatt* gatt, void* context, WarbleDisconnectHandler handler);
typedef const char* (*warble_gattchar_get_uuid_fn)(WarbleGattChar* characteristic);
typedef WarbleGattChar* (*warble_gatt_find_characteristic_fn)(WarbleGatt* gatt, const char* uuid);
typedef void (*warble_gattchar_read_async_fn)(WarbleGattChar* characteristic, void* context, WarbleReadHandler handler);
typedef void (*warble_gattchar_write_fn)(WarbleGattChar* characteristic, const uint8_t* value, uint8_t length,
                                         void* context, WarbleCharHandler handler);
typedef void (*warble_gattchar_notifications_fn)(WarbleGattChar* characteristic, void* context,
                                                 WarbleCharHandler handler);
typedef const WarbleScanMftData* (*warble_scan_result_get_manufacturer_data_fn)(const WarbleScanResult* result,
                                                                                uint16_t company);
typedef int32_t (*warble_scan_result_has_service_uuid_fn)(const WarbleScanResult* result, const char* uuid);
typedef void (*warble_gatt_delete_fn)(WarbleGatt* gatt);
typedef int32_t (*warble_gatt_has_service_fn)(WarbleGatt* gatt, const char* uuid);
typedef WarbleGatt* (*warble_gattchar_get_gatt_fn)(WarbleGattChar* characteristic);
typedef void (*warble_lib_init_fn)(int32_t nopts, const WarbleOption* opts);
typedef void (*warble_lib_config_fn)(int32_t nopts, const WarbleOption* opts);
typedef void (*warble_gattchar_on_notification_received_fn)(WarbleGattChar* characteristic, void* context,
                                                            WarbleNotifyHandler handler);
}
