#pragma once

#include <QBluetoothDeviceDiscoveryAgent>
#include <QObject>
#include <mutex>

#include "ble/warble_api.h"
#include "warble/qt/event_loop_thread.h"

namespace okt::warble_qt {

// What a scan result's private data points to, for the duration of the
// handler's call.
struct Advertisement {
  QList<QBluetoothUuid> serviceUuids;
};

// Scans for Bluetooth LE devices until stopped, reporting every device seen
// and every change of its name or signal strength, and why a scan could not
// run. Lives on the loop.
class Scanner : public QObject {
 public:
  explicit Scanner(EventLoopThread& loop) : loop_(loop) {}
  void setHandler(void* context, WarbleScanHandler handler);
  void setErrorHandler(void* context, WarbleScanErrorHandler handler);
  void start();
  void stop();

 private:
  void report(const QBluetoothDeviceInfo& info);
  void fail(QBluetoothDeviceDiscoveryAgent::Error error);

  EventLoopThread& loop_;
  QBluetoothDeviceDiscoveryAgent* agent_ = nullptr;
  bool wanted_ = false;
  std::mutex mutex_;
  void* context_ = nullptr;
  WarbleScanHandler handler_ = nullptr;
  void* errorContext_ = nullptr;
  WarbleScanErrorHandler errorHandler_ = nullptr;
};

}  // namespace okt::warble_qt
