// A stand-in for bluetoothd, for tests: owns org.bluez on the bus it is
// given and offers just enough of BlueZ's D-Bus interface (ObjectManager,
// Properties, Adapter1, Device1, GattService1, GattCharacteristic1,
// GattDescriptor1) to look like one adapter near one OKT peripheral. The
// peripheral is the device emulator: writes to the request characteristic
// reach it, and what it sends comes back as changes of the data
// characteristic's Value while notifications are on.
//
//   fake-bluez [--omit UUID]... [--fail MEMBER[:UUID]]...
//              [--hang MEMBER[:UUID]]... [--no-cccd] [--known] [--log FILE]
//              [--powered-off | --no-adapter]
//   fake-bluez --version   (prints a BlueZ version, as bluetoothd does)
//
// The device, the demo, appears once discovery starts (unless --known), advertising the
// OKT service. --powered-off and --no-adapter are the radio switched off and
// a computer without one. --fail makes a
// method (optionally only on the characteristic with that UUID) answer with
// an error; --hang makes it never answer at all, as a stack stuck on a call. The method DropLink of org.okt.FakeBluez
// at /org/okt/fake ends the connection from the peripheral's side; HangReads makes every ReadValue from then on go
// unanswered.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QTimer>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "emulator/device_description.h"
#include "emulator/emulator.h"
#include "emulator/loopback_link.h"

using InterfaceList = QMap<QString, QVariantMap>;
using ManagedObjectList = QMap<QDBusObjectPath, InterfaceList>;
Q_DECLARE_METATYPE(InterfaceList)
Q_DECLARE_METATYPE(ManagedObjectList)

namespace {

const QString kProperties = "org.freedesktop.DBus.Properties";
const QString kObjectManager = "org.freedesktop.DBus.ObjectManager";
const QString kAdapter = "/org/bluez/hci0";
const QString kDataUuid = "dadae006-8d09-4dbf-9b75-9e58b9b66b91";
const QString kRequestUuid = "dadae002-8d09-4dbf-9b75-9e58b9b66b91";
const QString kServiceUuid = "dadae001-8d09-4dbf-9b75-9e58b9b66b91";

struct Options {
  QStringList omitted;
  QStringList failures;
  QStringList hangs;
  bool noCccd = false;
  bool known = false;
  bool poweredOff = false;
  bool noAdapter = false;
  QString logPath;
};

class FakeBluez : public QDBusVirtualObject {
 public:
  FakeBluez(QDBusConnection bus, Options options, okt::emu::DeviceDescription device)
      : bus_(bus), o_(std::move(options)), device_(std::move(device)) {
    QString mac = QString::fromStdString(device_.address).toUpper();
    devicePath_ = kAdapter + "/dev_" + QString(mac).replace(':', '_');
    if (!o_.noAdapter)
      objects_[kAdapter]["org.bluez.Adapter1"] = {
          {"Address", "00:1A:7D:DA:71:13"}, {"Name", "fake"},        {"Alias", "fake"},  {"Powered", !o_.poweredOff},
          {"Discovering", false},           {"Discoverable", false}, {"Pairable", true}, {"UUIDs", QStringList()}};
    rssiTimer_.setInterval(300);
    QObject::connect(&rssiTimer_, &QTimer::timeout, [this] { waver(); });
    if (o_.known) addDevice();
  }

  QString introspect(const QString&) const override { return {}; }

  bool handleMessage(const QDBusMessage& m, const QDBusConnection&) override {
    const QString iface = m.interface(), member = m.member(), path = m.path();
    const QList<QVariant> args = m.arguments();
    log(member + " " + path + (member == "WriteValue" ? " " + args.value(0).toByteArray().toHex() : QString()));
    if (matches(o_.hangs, member, path)) return true;  // taken, never answered
    if (matches(o_.failures, member, path))
      return reply(m.createErrorReply("org.bluez.Error.Failed", "Operation failed"));
    if (iface == kObjectManager && member == "GetManagedObjects") {
      ManagedObjectList all;
      for (auto& [p, ifaces] : objects_) all[QDBusObjectPath(p)] = ifaces;
      return reply(m.createReply(QVariant::fromValue(all)));
    }
    if (iface == kProperties) return properties(m, path, member, args);
    if (member == "StartDiscovery") {
      set(kAdapter, "org.bluez.Adapter1", "Discovering", true);
      if (!objects_.count(devicePath_)) addDevice();
      rssiTimer_.start();
      return reply(m.createReply());
    }
    if (member == "StopDiscovery") {
      set(kAdapter, "org.bluez.Adapter1", "Discovering", false);
      rssiTimer_.stop();
      return reply(m.createReply());
    }
    if (member == "SetDiscoveryFilter") return reply(m.createReply());
    if (member == "RemoveDevice") {
      if (args.value(0).value<QDBusObjectPath>().path() == devicePath_ && !connected_) removeObject(devicePath_);
      return reply(m.createReply());
    }
    if (path == devicePath_ && member == "Connect") {
      reply(m.createReply());
      connectPeripheral();
      return true;
    }
    if (path == devicePath_ && member == "Disconnect") {
      reply(m.createReply());
      disconnectPeripheral();
      return true;
    }
    if (member == "ReadValue" && objects_.count(path)) {
      QByteArray value = valueOf(path);
      // As BlueZ does, a read also changes the characteristic's Value.
      if (objects_[path].contains("org.bluez.GattCharacteristic1"))
        set(path, "org.bluez.GattCharacteristic1", "Value", value);
      return reply(m.createReply(QVariant(value)));
    }
    if (member == "WriteValue" && objects_.count(path)) {
      if (uuidOf(path) != kRequestUuid || !link_)
        return reply(m.createErrorReply("org.bluez.Error.NotPermitted", "Write not permitted"));
      QByteArray bytes = args.value(0).toByteArray();
      link_->write(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()));
      return reply(m.createReply());
    }
    if ((member == "StartNotify" || member == "StopNotify") && objects_.count(path)) {
      set(path, "org.bluez.GattCharacteristic1", "Notifying", member == "StartNotify");
      return reply(m.createReply());
    }
    if (path == "/org/okt/fake" && member == "DropLink") {
      reply(m.createReply());
      disconnectPeripheral();
      return true;
    }
    if (path == "/org/okt/fake" && member == "HangReads") {
      o_.hangs << "ReadValue";
      return reply(m.createReply());
    }
    return reply(m.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", member));
  }

 private:
  bool reply(const QDBusMessage& r) {
    bus_.send(r);
    return true;
  }

  void log(const QString& line) {
    if (o_.logPath.isEmpty()) return;
    if (FILE* f = std::fopen(o_.logPath.toLocal8Bit().constData(), "a")) {
      std::fprintf(f, "%s\n", line.toLocal8Bit().constData());
      std::fclose(f);
    }
  }

  bool matches(const QStringList& list, const QString& member, const QString& path) const {
    for (const QString& f : list) {
      QString name = f.section(':', 0, 0), uuid = f.section(':', 1);
      if (name == member && (uuid.isEmpty() || uuidOf(path).startsWith(uuid))) return true;
    }
    return false;
  }

  bool properties(const QDBusMessage& m, const QString& path, const QString& member, const QList<QVariant>& args) {
    auto object = objects_.find(path);
    const QString iface = args.value(0).toString();
    if (object == objects_.end() || !object->second.contains(iface))
      return reply(m.createErrorReply("org.freedesktop.DBus.Error.UnknownObject", path));
    QVariantMap& props = object->second[iface];
    if (member == "GetAll") return reply(m.createReply(props));
    const QString name = args.value(1).toString();
    if (member == "Get") {
      if (!props.contains(name)) return reply(m.createErrorReply("org.freedesktop.DBus.Error.InvalidArgs", name));
      return reply(m.createReply(QVariant::fromValue(QDBusVariant(props[name]))));
    }
    if (member == "Set") {
      set(path, iface, name, args.value(2).value<QDBusVariant>().variant());
      return reply(m.createReply());
    }
    return reply(m.createErrorReply("org.freedesktop.DBus.Error.UnknownMethod", member));
  }

  void set(const QString& path, const QString& iface, const QString& name, const QVariant& value) {
    objects_[path][iface][name] = value;
    QDBusMessage s = QDBusMessage::createSignal(path, kProperties, "PropertiesChanged");
    s << iface << QVariantMap{{name, value}} << QStringList();
    bus_.send(s);
  }

  void addObject(const QString& path, const InterfaceList& ifaces) {
    objects_[path] = ifaces;
    QDBusMessage s = QDBusMessage::createSignal("/", kObjectManager, "InterfacesAdded");
    s << QVariant::fromValue(QDBusObjectPath(path)) << QVariant::fromValue(ifaces);
    bus_.send(s);
  }

  void removeObject(const QString& path) {
    auto it = objects_.find(path);
    if (it == objects_.end()) return;
    QStringList names = it->second.keys();
    objects_.erase(it);
    QDBusMessage s = QDBusMessage::createSignal("/", kObjectManager, "InterfacesRemoved");
    s << QVariant::fromValue(QDBusObjectPath(path)) << names;
    bus_.send(s);
  }

  void addDevice() {
    addObject(devicePath_, {{"org.bluez.Device1",
                             {{"Address", QString::fromStdString(device_.address).toUpper()},
                              {"AddressType", "public"},
                              {"Name", QString::fromStdString(device_.name)},
                              {"Alias", QString::fromStdString(device_.name)},
                              {"RSSI", QVariant::fromValue<qint16>(static_cast<qint16>(device_.rssi))},
                              {"Adapter", QVariant::fromValue(QDBusObjectPath(kAdapter))},
                              {"Connected", false},
                              {"ServicesResolved", false},
                              {"Paired", false},
                              {"Trusted", false},
                              {"Blocked", false},
                              {"LegacyPairing", false},
                              {"UUIDs", QStringList{kServiceUuid}}}}});
  }

  // The signal strength wavers while discovery runs.
  void waver() {
    if (!objects_.count(devicePath_)) return;
    qint16 rssi = static_cast<qint16>(device_.rssi - (++round_ % 3));
    set(devicePath_, "org.bluez.Device1", "RSSI", QVariant::fromValue(rssi));
  }

  void addService(const QString& path, const QString& uuid) {
    addObject(path,
              {{"org.bluez.GattService1",
                {{"UUID", uuid}, {"Primary", true}, {"Device", QVariant::fromValue(QDBusObjectPath(devicePath_))}}}});
    gatt_.push_back(path);
  }

  void addCharacteristic(const QString& service, int handle, const QString& uuid, const QStringList& flags) {
    if (o_.omitted.contains(uuid, Qt::CaseInsensitive)) return;
    QString path = service + QString("/char%1").arg(handle, 4, 16, QChar('0'));
    addObject(path, {{"org.bluez.GattCharacteristic1",
                      {{"UUID", uuid},
                       {"Service", QVariant::fromValue(QDBusObjectPath(service))},
                       {"Flags", flags},
                       {"Value", QByteArray()},
                       {"Notifying", false}}}});
    gatt_.push_back(path);
    if (flags.contains("notify") && !o_.noCccd) {
      QString descriptor = path + QString("/desc%1").arg(handle + 2, 4, 16, QChar('0'));
      addObject(descriptor, {{"org.bluez.GattDescriptor1",
                              {{"UUID", "00002902-0000-1000-8000-00805f9b34fb"},
                               {"Characteristic", QVariant::fromValue(QDBusObjectPath(path))},
                               {"Value", QByteArray()}}}});
      gatt_.push_back(descriptor);
    }
  }

  void connectPeripheral() {
    if (connected_) return;
    connected_ = true;
    set(devicePath_, "org.bluez.Device1", "Connected", true);
    QString okt = devicePath_ + "/service0001", info = devicePath_ + "/service0010";
    addService(okt, kServiceUuid);
    addCharacteristic(okt, 0x2, kDataUuid, {"read", "notify"});
    addCharacteristic(okt, 0x5, kRequestUuid, {"write"});
    addService(info, "0000180a-0000-1000-8000-00805f9b34fb");
    int handle = 0x11;
    for (const char* uuid : {"00002a24", "00002a25", "00002a26", "00002a27", "00002a29"})
      addCharacteristic(info, handle++ * 2, QString(uuid) + "-0000-1000-8000-00805f9b34fb", {"read"});
    emulator_ = std::make_unique<okt::emu::Emulator>(device_);
    link_ = std::make_unique<okt::emu::LoopbackLink>(*emulator_, [this](const uint8_t* bytes, size_t size) {
      QByteArray value(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
      QMetaObject::invokeMethod(
          qApp, [this, value] { notify(value); }, Qt::QueuedConnection);
    });
    link_->start();
    set(devicePath_, "org.bluez.Device1", "ServicesResolved", true);
  }

  void disconnectPeripheral() {
    if (!connected_) return;
    connected_ = false;
    link_.reset();
    emulator_.reset();
    set(devicePath_, "org.bluez.Device1", "ServicesResolved", false);
    for (auto it = gatt_.rbegin(); it != gatt_.rend(); ++it) removeObject(*it);
    gatt_.clear();
    set(devicePath_, "org.bluez.Device1", "Connected", false);
  }

  void notify(const QByteArray& value) {
    for (const QString& path : gatt_)
      if (uuidOf(path) == kDataUuid && objects_[path]["org.bluez.GattCharacteristic1"]["Notifying"].toBool())
        set(path, "org.bluez.GattCharacteristic1", "Value", value);
  }

  QString uuidOf(const QString& path) const {
    auto it = objects_.find(path);
    if (it == objects_.end()) return {};
    for (const QVariantMap& props : it->second)
      if (props.contains("UUID")) return props["UUID"].toString();
    return {};
  }

  QByteArray valueOf(const QString& path) const {
    const QString uuid = uuidOf(path);
    auto text = [](const std::string& s) { return QByteArray::fromStdString(s); };
    if (uuid == kDataUuid) return "OKT";
    if (uuid.startsWith("00002a24")) return text(device_.modelNumber);
    if (uuid.startsWith("00002a25")) return text(device_.serialNumber);
    if (uuid.startsWith("00002a26")) return text(device_.firmwareRevision);
    if (uuid.startsWith("00002a27")) return text(device_.hardwareRevision);
    if (uuid.startsWith("00002a29")) return text(device_.manufacturer);
    return {};
  }

  QDBusConnection bus_;
  Options o_;
  okt::emu::DeviceDescription device_;
  QString devicePath_;
  std::map<QString, InterfaceList> objects_;
  std::vector<QString> gatt_;
  bool connected_ = false;
  int round_ = 0;
  QTimer rssiTimer_;
  std::unique_ptr<okt::emu::Emulator> emulator_;
  std::unique_ptr<okt::emu::LoopbackLink> link_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && QByteArray(argv[1]) == "--version") {
    std::puts("5.66");
    return 0;
  }
  QCoreApplication app(argc, argv);
  qDBusRegisterMetaType<InterfaceList>();
  qDBusRegisterMetaType<ManagedObjectList>();
  Options o;
  QStringList a = app.arguments();
  for (int i = 1; i < a.size(); ++i) {
    QString next = i + 1 < a.size() ? a[i + 1] : QString();
    if (a[i] == "--omit")
      o.omitted << next, ++i;
    else if (a[i] == "--fail")
      o.failures << next, ++i;
    else if (a[i] == "--hang")
      o.hangs << next, ++i;
    else if (a[i] == "--log")
      o.logPath = next, ++i;
    else if (a[i] == "--no-cccd")
      o.noCccd = true;
    else if (a[i] == "--known")
      o.known = true;
    else if (a[i] == "--powered-off")
      o.poweredOff = true;
    else if (a[i] == "--no-adapter")
      o.noAdapter = true;
    else {
      std::fprintf(stderr, "fake-bluez: unknown option %s\n", a[i].toLocal8Bit().constData());
      return 2;
    }
  }
  okt::emu::DeviceDescription device;
  std::string error;
  if (!okt::emu::loadDemoDevice(device, error)) {
    std::fprintf(stderr, "fake-bluez: %s\n", error.c_str());
    return 2;
  }
  QDBusConnection bus = QDBusConnection::systemBus();
  FakeBluez fake(bus, o, std::move(device));
  if (!bus.isConnected() || !bus.registerVirtualObject("/", &fake, QDBusConnection::SubPath) ||
      !bus.registerService("org.bluez")) {
    std::fprintf(stderr, "fake-bluez: cannot own org.bluez on the bus\n");
    return 2;
  }
  std::puts("ready");
  std::fflush(stdout);
  return app.exec();
}
