#pragma once

#include <QBluetoothDeviceDiscoveryAgent>
#include <QObject>
#include <mutex>

#include "ble/warble_api.h"

namespace okt::warble_qt {

// Scans for Bluetooth LE devices until stopped, reporting every device seen
// and every change of its name or signal strength. Lives on the loop.
class Scanner : public QObject {
 public:
  void setHandler(void* context, WarbleScanHandler handler);
  void start();
  void stop();

 private:
  void report(const QBluetoothDeviceInfo& info);

  QBluetoothDeviceDiscoveryAgent* agent_ = nullptr;
  bool wanted_ = false;
  std::mutex mutex_;
  void* context_ = nullptr;
  WarbleScanHandler handler_ = nullptr;
};

}  // namespace okt::warble_qt
