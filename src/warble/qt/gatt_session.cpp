#include "warble/qt/gatt_session.h"

#include <QBluetoothAddress>
#include <QTimer>
#include <algorithm>

namespace okt::warble_qt {

std::string uuidText(const QBluetoothUuid& uuid) { return uuid.toString(QUuid::WithoutBraces).toLower().toStdString(); }

namespace {
// Runs `f` from the event loop later, so that a signal's sender is never
// deleted inside its own emission.
template <typename F>
void later(QObject* context, F&& f) {
  QMetaObject::invokeMethod(context, std::forward<F>(f), Qt::QueuedConnection);
}
}  // namespace

GattSession::~GattSession() {
  // Nothing is answered any more: the caller has let go of the connection.
  pending_.clear();
  connectHandler_ = nullptr;
  if (controller_) retire(controller_);
}

// A controller is let go of once it has disconnected (or at most 5 s
// later), so that BlueZ is told and Qt does not find it deleted while
// connected.
void GattSession::retire(QLowEnergyController* controller) {
  controller->disconnect(this);
  controller->setParent(nullptr);
  if (controller->state() == QLowEnergyController::UnconnectedState) {
    controller->deleteLater();
    return;
  }
  connect(controller, &QLowEnergyController::disconnected, controller, &QObject::deleteLater);
  QTimer::singleShot(5000, controller, &QObject::deleteLater);
  controller->disconnectFromDevice();
}

void GattSession::connectToDevice(void* context, WarbleGattHandler handler) {
  {
    std::lock_guard<std::mutex> lock(gatt_->mutex);
    if (gatt_->connected) {
      if (handler) handler(context, gatt_, nullptr);
      return;
    }
  }
  if (connecting_) {
    if (handler) handler(context, gatt_, "A connection is already being made");
    return;
  }
  connecting_ = true;
  searched_ = false;
  disconnectRequested_ = false;
  connectContext_ = context;
  connectHandler_ = handler;
  startController();
}

void GattSession::startController() {
  dropController();
  QBluetoothDeviceInfo info(QBluetoothAddress(QString::fromStdString(gatt_->mac)), QString(), 0);
  info.setCoreConfigurations(QBluetoothDeviceInfo::LowEnergyCoreConfiguration);
  controller_ = QLowEnergyController::createCentral(info, this);
  QLowEnergyController* controller = controller_;
  connect(controller, &QLowEnergyController::connected, this, [controller] { controller->discoverServices(); });
  connect(controller, &QLowEnergyController::discoveryFinished, this,
          [this] { later(this, [this] { servicesFound(); }); });
  connect(controller, &QLowEnergyController::errorOccurred, this, [this, controller](QLowEnergyController::Error e) {
    QString text = controller->errorString();
    later(this, [this, controller, e, text] {
      if (controller != controller_ || !connecting_) return;
      if (e == QLowEnergyController::UnknownRemoteDeviceError && !searched_) {
        findDeviceThenConnect();
        return;
      }
      std::string message = text.isEmpty() ? "Cannot connect" : text.toStdString();
      connectFinished(message.c_str());
    });
  });
  connect(controller, &QLowEnergyController::disconnected, this, [this, controller] {
    later(this, [this, controller] {
      if (controller != controller_) return;
      if (connecting_)
        connectFinished("The device went away while connecting");
      else
        lost();
    });
  });
  controller->connectToDevice();
}

// BlueZ connects only to devices it has seen: a device not seen since it
// started is looked for first, for a few seconds.
void GattSession::findDeviceThenConnect() {
  searched_ = true;
  dropController();
  auto* finder = new QBluetoothDeviceDiscoveryAgent(this);
  finder->setLowEnergyDiscoveryTimeout(8000);
  const QBluetoothAddress wanted(QString::fromStdString(gatt_->mac));
  auto done = [this, finder](bool found) {
    finder->disconnect(this);
    finder->deleteLater();
    if (!connecting_) return;
    if (found)
      startController();
    else
      connectFinished("Device not found");
  };
  connect(finder, &QBluetoothDeviceDiscoveryAgent::deviceDiscovered, this,
          [this, finder, wanted, done](const QBluetoothDeviceInfo& info) {
            if (info.address() != wanted) return;
            finder->stop();
            later(this, [done] { done(true); });
          });
  connect(finder, &QBluetoothDeviceDiscoveryAgent::finished, this,
          [this, done] { later(this, [done] { done(false); }); });
  connect(finder, &QBluetoothDeviceDiscoveryAgent::errorOccurred, this,
          [this, done] { later(this, [done] { done(false); }); });
  finder->start(QBluetoothDeviceDiscoveryAgent::LowEnergyMethod);
}

void GattSession::servicesFound() {
  if (!controller_ || !connecting_) return;
  for (const QBluetoothUuid& uuid : controller_->services()) {
    QLowEnergyService* s = controller_->createServiceObject(uuid, this);
    if (s) services_.push_back(s);
  }
  servicesWaiting_ = services_.size();
  if (servicesWaiting_ == 0) {
    serviceReady();
    return;
  }
  for (QLowEnergyService* s : std::vector<QLowEnergyService*>(services_)) {
    watch(s);
    s->discoverDetails(QLowEnergyService::SkipValueDiscovery);
  }
}

void GattSession::watch(QLowEnergyService* s) {
  auto counted = std::make_shared<bool>(false);
  connect(s, &QLowEnergyService::stateChanged, this, [this, s, counted](QLowEnergyService::ServiceState state) {
    if (*counted || state == QLowEnergyService::RemoteServiceDiscovering) return;
    *counted = true;  // discovered, or given up on: either way it is done
    if (servicesWaiting_ && --servicesWaiting_ == 0) later(this, [this] { serviceReady(); });
  });
  connect(s, &QLowEnergyService::characteristicRead, this,
          [this, s](const QLowEnergyCharacteristic& ch, const QByteArray& value) {
            Pending p;
            if (takePending(s, Kind::Read, charFor(s, ch), p)) complete(p, nullptr, value);
          });
  connect(s, &QLowEnergyService::characteristicWritten, this,
          [this, s](const QLowEnergyCharacteristic& ch, const QByteArray&) {
            Pending p;
            if (takePending(s, Kind::Write, charFor(s, ch), p)) complete(p, nullptr);
          });
  connect(s, &QLowEnergyService::descriptorWritten, this, [this, s](const QLowEnergyDescriptor&, const QByteArray&) {
    Pending p;
    if (takePending(s, Kind::Descriptor, nullptr, p)) complete(p, nullptr);
  });
  connect(s, &QLowEnergyService::errorOccurred, this, [this, s](QLowEnergyService::ServiceError e) {
    Pending p;
    bool found = false;
    switch (e) {
      case QLowEnergyService::CharacteristicReadError: found = takePending(s, Kind::Read, nullptr, p); break;
      case QLowEnergyService::CharacteristicWriteError: found = takePending(s, Kind::Write, nullptr, p); break;
      case QLowEnergyService::DescriptorWriteError: found = takePending(s, Kind::Descriptor, nullptr, p); break;
      default:
        for (Kind k : {Kind::Read, Kind::Write, Kind::Descriptor})
          if (!found) found = takePending(s, k, nullptr, p);
    }
    if (found) complete(p, "The GATT operation failed");
  });
  // After a read BlueZ also reports the characteristic's new value as a
  // change: only changes while notifications are on and no read is waiting
  // on the characteristic are notifications.
  connect(s, &QLowEnergyService::characteristicChanged, this,
          [this, s](const QLowEnergyCharacteristic& ch, const QByteArray& value) {
            WarbleGattChar* c = charFor(s, ch);
            if (!c || !c->notifying) return;
            for (const Pending& p : pending_)
              if (p.kind == Kind::Read && p.characteristic == c) return;
            void* context;
            WarbleNotifyHandler handler;
            {
              std::lock_guard<std::mutex> lock(gatt_->mutex);
              context = c->notifyContext;
              handler = c->notifyHandler;
            }
            if (handler)
              handler(context, c, reinterpret_cast<const uint8_t*>(value.constData()),
                      static_cast<uint8_t>(std::min<qsizetype>(value.size(), 255)));
          });
}

void GattSession::serviceReady() {
  if (!connecting_) return;
  {
    std::lock_guard<std::mutex> lock(gatt_->mutex);
    for (auto& c : gatt_->chars) gatt_->released.push_back(std::move(c));
    gatt_->chars.clear();
    gatt_->serviceUuids.clear();
    for (QLowEnergyService* s : services_) {
      gatt_->serviceUuids.push_back(uuidText(s->serviceUuid()));
      for (const QLowEnergyCharacteristic& ch : s->characteristics()) {
        auto c = std::make_unique<WarbleGattChar>();
        c->gatt = gatt_;
        c->uuid = uuidText(ch.uuid());
        c->service = s;
        c->characteristic = ch;
        gatt_->chars.push_back(std::move(c));
      }
    }
    gatt_->connected = true;
  }
  connectFinished(nullptr);
}

void GattSession::connectFinished(const char* error) {
  connecting_ = false;
  if (error) dropController();
  WarbleGattHandler handler = connectHandler_;
  connectHandler_ = nullptr;
  if (handler) handler(connectContext_, gatt_, error);
}

void GattSession::disconnectFromDevice() {
  disconnectRequested_ = true;
  if (connecting_) {
    connectFinished("The connection was cancelled");
    return;
  }
  if (controller_ && controller_->state() != QLowEnergyController::UnconnectedState)
    controller_->disconnectFromDevice();
  else
    lost();
}

void GattSession::lost() {
  WarbleDisconnectHandler handler = nullptr;
  void* context = nullptr;
  {
    std::lock_guard<std::mutex> lock(gatt_->mutex);
    if (!gatt_->connected) return;
    gatt_->connected = false;
    handler = gatt_->disconnectHandler;
    context = gatt_->disconnectContext;
  }
  dropController();  // fails what is still waiting
  // 0 when this side asked for it, 1 when the peer or the stack ended it.
  if (handler) handler(context, gatt_, disconnectRequested_ ? 0 : 1);
}

void GattSession::dropController() {
  failAll("Disconnected");
  for (auto& c : gatt_->chars) {
    c->service = nullptr;
    c->notifying = false;
  }
  for (QLowEnergyService* s : services_) {
    s->disconnect(this);
    s->deleteLater();
  }
  services_.clear();
  servicesWaiting_ = 0;
  if (controller_) {
    retire(controller_);
    controller_ = nullptr;
  }
}

void GattSession::read(WarbleGattChar* c, void* context, WarbleReadHandler handler) {
  if (!c->service) {
    if (handler) handler(context, c, nullptr, 0, "Not connected");
    return;
  }
  pending_.push_back({Kind::Read, c, context, handler, nullptr, false});
  c->service->readCharacteristic(c->characteristic);
}

void GattSession::write(WarbleGattChar* c, const QByteArray& value, bool withResponse, void* context,
                        WarbleCharHandler handler) {
  if (!c->service) {
    if (handler) handler(context, c, "Not connected");
    return;
  }
  if (!withResponse) {
    c->service->writeCharacteristic(c->characteristic, value, QLowEnergyService::WriteWithoutResponse);
    if (handler) handler(context, c, nullptr);
    return;
  }
  pending_.push_back({Kind::Write, c, context, nullptr, handler, false});
  c->service->writeCharacteristic(c->characteristic, value, QLowEnergyService::WriteWithResponse);
}

void GattSession::setNotifications(WarbleGattChar* c, bool enable, void* context, WarbleCharHandler handler) {
  QLowEnergyDescriptor cccd;
  if (c->service)
    cccd = c->characteristic.descriptor(QBluetoothUuid::DescriptorType::ClientCharacteristicConfiguration);
  if (!cccd.isValid()) {
    if (handler) handler(context, c, c->service ? "Notifications are not supported" : "Not connected");
    return;
  }
  pending_.push_back({Kind::Descriptor, c, context, nullptr, handler, enable});
  c->service->writeDescriptor(
      cccd, enable ? QLowEnergyCharacteristic::CCCDEnableNotification : QLowEnergyCharacteristic::CCCDDisable);
}

bool GattSession::takePending(QLowEnergyService* s, Kind kind, WarbleGattChar* c, Pending& out) {
  auto it = std::find_if(pending_.begin(), pending_.end(), [&](const Pending& p) {
    return p.kind == kind && p.characteristic->service == s && (!c || p.characteristic == c);
  });
  if (it == pending_.end()) return false;
  out = *it;
  pending_.erase(it);
  return true;
}

void GattSession::complete(Pending p, const char* error, const QByteArray& value) {
  if (p.kind == Kind::Read) {
    if (p.readHandler)
      p.readHandler(p.context, p.characteristic, reinterpret_cast<const uint8_t*>(value.constData()),
                    static_cast<uint8_t>(std::min<qsizetype>(value.size(), 255)), error);
    return;
  }
  if (p.kind == Kind::Descriptor && !error) p.characteristic->notifying = p.enable;
  if (p.charHandler) p.charHandler(p.context, p.characteristic, error);
}

void GattSession::failAll(const char* error) {
  std::deque<Pending> all;
  all.swap(pending_);
  for (Pending& p : all) complete(p, error);
}

WarbleGattChar* GattSession::charFor(QLowEnergyService* s, const QLowEnergyCharacteristic& ch) {
  for (auto& c : gatt_->chars)
    if (c->service == s && c->characteristic == ch) return c.get();
  return nullptr;
}

}  // namespace okt::warble_qt
