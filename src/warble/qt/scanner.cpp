#include "warble/qt/scanner.h"

#include <QBluetoothLocalDevice>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <cstdio>

namespace okt::warble_qt {

void Scanner::setHandler(void* context, WarbleScanHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  context_ = context;
  handler_ = handler;
}

void Scanner::setErrorHandler(void* context, WarbleScanErrorHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  errorContext_ = context;
  errorHandler_ = handler;
}

namespace {

// Qt cannot tell a missing adapter from a missing bluetoothd, nor always a
// missing adapter from other failures: it finds no adapter and says so in
// words. We ask again.
bool bluezRunning() {
#ifdef Q_OS_LINUX
  QDBusConnection bus = QDBusConnection::systemBus();
  return bus.isConnected() && bus.interface() && bus.interface()->isServiceRegistered("org.bluez").value();
#else
  return true;
#endif
}

// Our words for a failed scan; the agent's own text when we have none.
QString scanErrorText(QBluetoothDeviceDiscoveryAgent::Error error, const QString& agentText) {
  if (error == QBluetoothDeviceDiscoveryAgent::PoweredOffError) return "Bluetooth is turned off";
  if (error == QBluetoothDeviceDiscoveryAgent::MissingPermissionsError) return "No permission to use Bluetooth";
  if (!bluezRunning()) return "The Bluetooth service (BlueZ) is not running";
  if (error == QBluetoothDeviceDiscoveryAgent::InvalidBluetoothAdapterError ||
      QBluetoothLocalDevice::allDevices().isEmpty())
    return "No Bluetooth adapter found";
  return "Bluetooth scan failed: " + agentText;
}

}  // namespace

void Scanner::fail(QBluetoothDeviceDiscoveryAgent::Error error) {
  const QByteArray text = scanErrorText(error, agent_->errorString()).toUtf8();
  std::fprintf(stderr, "Bluetooth scan: %s\n", agent_->errorString().toLocal8Bit().constData());
  loop_.endBeforeGlobalsOf("scan error");
  std::lock_guard<std::mutex> lock(mutex_);
  if (errorHandler_) errorHandler_(errorContext_, text.constData());
}

void Scanner::start() {
  wanted_ = true;
  if (!agent_) {
    agent_ = new QBluetoothDeviceDiscoveryAgent(this);
    agent_->setLowEnergyDiscoveryTimeout(0);  // until stopped
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this,
            [this](const QBluetoothDeviceInfo& info) { report(info); });
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
            [this](const QBluetoothDeviceInfo& info, QBluetoothDeviceInfo::Fields) { report(info); });
    // A scan that ends by itself is started again while it is wanted.
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::finished, this, [this] {
      if (wanted_)
        QMetaObject::invokeMethod(
            this,
            [this] {
              if (wanted_ && !agent_->isActive()) agent_->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
            },
            Qt::QueuedConnection);
    });
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::errorOccurred, this,
            [this](QBluetoothDeviceDiscoveryAgent::Error e) {
              wanted_ = false;
              fail(e);
            });
  }
  if (!agent_->isActive()) agent_->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
  loop_.endBeforeGlobalsOf("scan");
}

void Scanner::stop() {
  wanted_ = false;
  if (agent_ && agent_->isActive()) agent_->stop();
}

void Scanner::report(const QBluetoothDeviceInfo& info) {
  if (!wanted_) return;
  const QByteArray mac = info.address().toString().toLatin1();
  const QByteArray name = info.name().toUtf8();
  Advertisement advertised{info.serviceUuids()};
  WarbleScanResult r{mac.constData(), name.constData(), info.rssi(), &advertised};
  std::lock_guard<std::mutex> lock(mutex_);
  if (handler_) handler_(context_, &r);
}

}  // namespace okt::warble_qt
