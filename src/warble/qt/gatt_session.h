#pragma once

// A connection to one peripheral through QLowEnergyController, behind the
// Warble handles. The handles hold what callers on any thread may ask for at
// once (connected or not, the characteristics found, the handlers); the Qt
// objects live on the library's event loop and are only touched there.
#include <QBluetoothDeviceDiscoveryAgent>
#include <QBluetoothDeviceInfo>
#include <QLowEnergyController>
#include <QLowEnergyService>
#include <QObject>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ble/warble_api.h"

namespace okt::warble_qt {
class GattSession;
}

struct WarbleGattChar {
  WarbleGatt* gatt = nullptr;
  std::string uuid;  // lower case, without braces
  // Loop thread only:
  QLowEnergyService* service = nullptr;
  QLowEnergyCharacteristic characteristic;
  bool notifying = false;
  // Set from any thread, under the connection's mutex.
  void* notifyContext = nullptr;
  WarbleNotifyHandler notifyHandler = nullptr;
};

struct WarbleGatt {
  std::string mac;
  std::mutex mutex;
  bool connected = false;
  std::vector<std::unique_ptr<WarbleGattChar>> chars;     // of this connection
  std::vector<std::unique_ptr<WarbleGattChar>> released;  // of earlier ones, kept until deleted
  std::vector<std::string> serviceUuids;
  void* disconnectContext = nullptr;
  WarbleDisconnectHandler disconnectHandler = nullptr;
  okt::warble_qt::GattSession* session = nullptr;  // lives on the loop
};

namespace okt::warble_qt {

std::string uuidText(const QBluetoothUuid& uuid);

class GattSession : public QObject {
 public:
  explicit GattSession(WarbleGatt* gatt) : gatt_(gatt) {}
  ~GattSession() override;

  // Each runs on the loop thread; each handler is called exactly once,
  // unless the session is deleted first.
  void connectToDevice(void* context, WarbleGattHandler handler);
  void disconnectFromDevice();
  void read(WarbleGattChar* c, void* context, WarbleReadHandler handler);
  void write(WarbleGattChar* c, const QByteArray& value, bool withResponse, void* context, WarbleCharHandler handler);
  void setNotifications(WarbleGattChar* c, bool enable, void* context, WarbleCharHandler handler);

 private:
  enum class Kind { Read, Write, Descriptor };
  struct Pending {
    Kind kind;
    WarbleGattChar* characteristic;
    void* context;
    WarbleReadHandler readHandler;
    WarbleCharHandler charHandler;
    bool enable;
  };

  void startController();
  void findDeviceThenConnect();
  void servicesFound();
  void serviceReady();
  void connectFinished(const char* error);
  void lost();
  void dropController();
  void retire(QLowEnergyController* controller);
  void complete(Pending p, const char* error, const QByteArray& value = {});
  bool takePending(QLowEnergyService* service, Kind kind, WarbleGattChar* c, Pending& out);
  void failAll(const char* error);
  WarbleGattChar* charFor(QLowEnergyService* service, const QLowEnergyCharacteristic& ch);
  void watch(QLowEnergyService* service);

  WarbleGatt* gatt_;
  QLowEnergyController* controller_ = nullptr;
  std::vector<QLowEnergyService*> services_;
  size_t servicesWaiting_ = 0;
  bool connecting_ = false;
  bool searched_ = false;  // the device was looked for by a scan already
  bool disconnectRequested_ = false;
  void* connectContext_ = nullptr;
  WarbleGattHandler connectHandler_ = nullptr;
  std::deque<Pending> pending_;
};

}  // namespace okt::warble_qt
