#include "warble/qt/scanner.h"

#include <cstdio>

namespace okt::warble_qt {

void Scanner::setHandler(void* context, WarbleScanHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  context_ = context;
  handler_ = handler;
}

void Scanner::start() {
  wanted_ = true;
  if (!agent_) {
    agent_ = new QBluetoothDeviceDiscoveryAgent(this);
    agent_->setLowEnergyDiscoveryTimeout(0);  // until stopped
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this, [this](const QBluetoothDeviceInfo& info) { report(info); });
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::deviceUpdated, this,
            [this](const QBluetoothDeviceInfo& info, QBluetoothDeviceInfo::Fields) { report(info); });
    // A scan that ends by itself is started again while it is wanted.
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::finished, this, [this] {
      if (wanted_) QMetaObject::invokeMethod(this, [this] {
        if (wanted_ && !agent_->isActive()) agent_->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
      }, Qt::QueuedConnection);
    });
    connect(agent_, &QBluetoothDeviceDiscoveryAgent::errorOccurred, this, [this](QBluetoothDeviceDiscoveryAgent::Error) {
      std::fprintf(stderr, "Bluetooth scan: %s\n", agent_->errorString().toLocal8Bit().constData());
      wanted_ = false;
    });
  }
  if (!agent_->isActive()) agent_->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
}

void Scanner::stop() {
  wanted_ = false;
  if (agent_ && agent_->isActive()) agent_->stop();
}

void Scanner::report(const QBluetoothDeviceInfo& info) {
  if (!wanted_) return;
  const QByteArray mac = info.address().toString().toLatin1();
  const QByteArray name = info.name().toUtf8();
  WarbleScanResult r{mac.constData(), name.constData(), info.rssi(), nullptr};
  std::lock_guard<std::mutex> lock(mutex_);
  if (handler_) handler_(context_, &r);
}

}  // namespace okt::warble_qt
