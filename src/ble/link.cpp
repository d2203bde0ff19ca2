#include "ble/link.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>

#include "capture/capture_writer.h"
#include "platform/log.h"
#include "platform/tick.h"

namespace okt {
namespace {

// Tokens handed to the library as handler contexts, and the link each
// belongs to while it is live. A token that was withdrawn (a timed-out
// operation, a closed connection) makes a late handler do nothing.
std::mutex& registryMutex() {
  static std::mutex m;
  return m;
}
std::map<uint64_t, Link*>& registry() {
  static std::map<uint64_t, Link*> r;
  return r;
}
std::atomic<uint64_t> nextToken{1};

uint64_t registerToken(Link* link) {
  uint64_t token = nextToken++;
  std::lock_guard<std::mutex> lock(registryMutex());
  registry()[token] = link;
  return token;
}

void withdraw(uint64_t token) {
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().erase(token);
}

// Runs a handler on the link its token belongs to. The registry's lock is
// not held while the handler runs (a notification may wait for room in the
// receive queue, and every send needs the lock); the link counts the
// handler in, and a close waits until it is out.
template <typename F>
void withLink(void* context, F&& f) {
  uint64_t token = reinterpret_cast<uintptr_t>(context);
  Link* link = nullptr;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = registry().find(token);
    if (it == registry().end()) return;
    link = it->second;
    link->handlerEnters();
  }
  f(link, token);
  link->handlerLeaves();
}

void readHandler(void* context, WarbleGattChar*, const uint8_t* value, uint8_t length, const char* error) {
  if (error) platform::logf("Error: %s\n", error);
  withLink(context, [&](Link* l, uint64_t t) { l->completeRead(t, value, length, error); });
}

void writeHandler(void* context, WarbleGattChar*, const char* error) {
  if (error) platform::logf("Error: %s\n", error);
  withLink(context, [&](Link* l, uint64_t t) { l->completeWrite(t, error); });
}

void connectHandler(void* context, WarbleGatt*, const char* error) {
  if (error) platform::logf("Error: %s\n", error);
  withLink(context, [&](Link* l, uint64_t t) { l->completeConnect(t, error); });
}

void notificationHandler(void* context, WarbleGattChar* characteristic, const uint8_t* value, uint8_t length) {
  withLink(context, [&](Link* l, uint64_t) { l->notification(characteristic, value, length); });
}

void peerGoneHandler(void* context, WarbleGatt*, int32_t status) {
  withLink(context, [&](Link* l, uint64_t) { l->peerGone(status); });
}

void closingHandler(void*, WarbleGatt*, int32_t status) { platform::logf("Disconnect status: %i\n", status); }

// The descriptor that switches a characteristic's notifications on.
constexpr const char* kClientConfigUuid = "00002902-0000-1000-8000-00805f9b34fb";

void* asContext(uint64_t token) { return reinterpret_cast<void*>(static_cast<uintptr_t>(token)); }

}  // namespace

Link::Link(const WarbleBinding& warble, Protocol& protocol) : w_(warble), p_(protocol) {}

Link::~Link() {
  closeDelayMs = 0;
  if (connection_) linkClose();
  waitForHandlers();  // completions of operations that gave up on them
}

void Link::waitForHandlers() {
  while (handlersIn_.load() != 0) platform::sleepMs(1);
}

void Link::linkSetAddress(const std::string& address) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  address_ = address.substr(0, 79);
  peerName_.clear();
}

void Link::setPeerName(const std::string& name) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  peerName_ = name;
}

void Link::setRecorder(std::shared_ptr<capture::CaptureWriter> recorder) {
  // Started mid-session, the file still says which device it is.
  if (recorder && ready_) {
    std::string address, name;
    {
      std::lock_guard<std::mutex> lock(stateMutex_);
      address = address_, name = peerName_;
    }
    recorder->peerSeen(address, name);
    recorder->connected(address);
  }
  std::lock_guard<std::mutex> lock(recorderMutex_);
  recorder_ = std::move(recorder);
}

std::shared_ptr<capture::CaptureWriter> Link::recorder() const {
  std::lock_guard<std::mutex> lock(recorderMutex_);
  return recorder_;
}

std::string Link::address() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return address_;
}

int Link::linkIsReady() const { return ready_.load(); }

std::string Link::deviceSummary() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return summary_;
}

void Link::report(int value, const std::string& text) {
  if (reportProgress) reportProgress(value, text);
}

void Link::interrupt() {
  interrupted_ = true;
  { std::lock_guard<std::mutex> lock(stateMutex_); }
  done_.notify_all();
}

void Link::abort() {
  aborted_ = true;
  { std::lock_guard<std::mutex> lock(stateMutex_); }
  done_.notify_all();
}

void Link::lost(const char* reason) {
  dead_ = true;
  if (ready_.exchange(0) && onLinkLost) onLinkLost(number_.load(), reason);
}

uint64_t Link::begin() {
  uint64_t token = registerToken(this);
  std::lock_guard<std::mutex> lock(stateMutex_);
  pendingToken_ = token;
  status_ = 0;
  readValue_.clear();
  return token;
}

// 0 success, 1 failure (or the wait was ended), 2 time-out: the link is dead.
int Link::wait(uint64_t) {
  bool answered;
  {
    std::unique_lock<std::mutex> lock(stateMutex_);
    answered = done_.wait_for(lock, std::chrono::milliseconds(waitMs), [&] { return status_ != 0 || stopping(); });
    if (answered && status_ != 0) return status_ == 1 ? 0 : 1;
  }
  if (answered) return 1;  // interrupted, aborted or closing
  lost(kNoAnswer);
  return 2;
}

void Link::end(uint64_t token) {
  withdraw(token);
  std::lock_guard<std::mutex> lock(stateMutex_);
  pendingToken_ = 0;
}

void Link::completeRead(uint64_t token, const uint8_t* value, uint8_t length, const char* error) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (token != pendingToken_) return;
  status_ = error ? 2 : 1;
  if (!error && value) readValue_.assign(reinterpret_cast<const char*>(value), length);
  done_.notify_all();
}

void Link::completeWrite(uint64_t token, const char* error) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  if (token != pendingToken_) return;
  status_ = error ? 2 : 1;
  done_.notify_all();
}

void Link::completeConnect(uint64_t token, const char* error) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  connectResult_ = error ? 2 : 1;
  if (token == pendingToken_) status_ = connectResult_;
  done_.notify_all();
}

int Link::gattConnect() {
  std::lock_guard<std::mutex> op(operationMutex_);
  if (!connection_ || dead_ || stopping()) return 1;
  uint64_t token = begin();
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    connectResult_ = 0;
  }
  w_.warble_gatt_connect_async(connection_, asContext(token), connectHandler);
  int r = wait(token);
  end(token);
  if (r == 2) return 2;
  if (r == 0 && !w_.warble_gatt_is_connected(connection_)) return 1;
  return r;
}

// Looks the characteristic up for an operation that has begun; when it is
// missing the operation ends as a failure.
WarbleGattChar* Link::lookUp(uint64_t token, const char* uuid) {
  WarbleGattChar* c = w_.warble_gatt_find_characteristic(connection_, uuid);
  if (!c) {
    platform::logText("Characteristic not found\n");
    end(token);
  }
  return c;
}

int Link::gattRead(const char* uuid, uint8_t* buffer, size_t max) {
  std::lock_guard<std::mutex> op(operationMutex_);
  if (!connection_ || dead_ || stopping()) return -1;
  uint64_t token = begin();
  WarbleGattChar* c = lookUp(token, uuid);
  if (!c) return -1;
  std::shared_ptr<capture::CaptureWriter> rec = recorder();
  if (rec) rec->readRequest(uuid);
  w_.warble_gattchar_read_async(c, asContext(token), readHandler);
  int r = wait(token);
  std::string value;
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    value = readValue_;
  }
  end(token);
  // An operation that got no answer has no response to show.
  if (rec && r != 2) rec->readResponse(uuid, reinterpret_cast<const uint8_t*>(value.data()), value.size(), r == 0);
  if (r != 0) return -1;
  size_t n = std::min(value.size(), max);
  std::memcpy(buffer, value.data(), n);
  return static_cast<int>(value.size());
}

int Link::gattWrite(const char* uuid, const uint8_t* bytes, size_t size) {
  std::lock_guard<std::mutex> op(operationMutex_);
  // A connection closed, or dead, since the caller looked takes nothing more.
  if (!connection_ || dead_ || stopping()) return 1;
  uint64_t token = begin();
  WarbleGattChar* c = lookUp(token, uuid);
  if (!c) return 1;
  std::shared_ptr<capture::CaptureWriter> rec = recorder();
  if (rec) rec->writeRequest(uuid, bytes, size);
  w_.warble_gattchar_write_async(c, bytes, static_cast<uint8_t>(size), asContext(token), writeHandler);
  int r = wait(token);
  end(token);
  if (rec && r != 2) rec->writeResponse(uuid, r == 0);
  return r;
}

int Link::gattSubscribe(const char* uuid) {
  std::lock_guard<std::mutex> op(operationMutex_);
  if (!connection_ || dead_ || stopping()) return 1;
  uint64_t token = begin();
  WarbleGattChar* c = lookUp(token, uuid);
  if (!c) return 1;
  std::shared_ptr<capture::CaptureWriter> rec = recorder();
  if (rec) rec->subscribeRequest();
  w_.warble_gattchar_enable_notifications_async(c, asContext(token), writeHandler);
  int r = wait(token);
  end(token);
  if (rec && r != 2) rec->writeResponse(kClientConfigUuid, r == 0);
  if (r == 0) w_.warble_gattchar_on_notification_received(c, asContext(connectionToken_), notificationHandler);
  return r;
}

int Link::linkConnect() {
  // A connection left open (a link that was lost, say) goes first: each
  // connect makes a new one.
  if (connection_) linkClose();
  interrupted_ = false;
  dead_ = false;
  const std::string address = this->address();
  platform::logf("Connecting to %s\n", address.c_str());
  report(100, "Establishing");
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    summary_.clear();
  }
  auto failed = [&] {
    if (dead_) platform::logf("%s\n", kNoAnswer);
    linkClose();
    report(1000, "Cannot connect!!");
    return 1;
  };
  if (aborted_) return failed();
  WarbleGatt* gatt = w_.warble_gatt_create(address.c_str());
  if (!gatt) {
    platform::logText("ERROR gatt\n");
    return failed();
  }
  {
    std::lock_guard<std::mutex> op(operationMutex_);
    connection_ = gatt;
    connectionToken_ = registerToken(this);
  }
  ready_ = 0;
  report(200, "Opening GATT");
  if (auto rec = recorder()) {
    std::lock_guard<std::mutex> lock(stateMutex_);
    rec->peerSeen(address, peerName_);
  }
  if (gattConnect() != 0) {
    platform::logText("ERROR Cannot connect\n");
    return failed();
  }
  if (auto rec = recorder()) rec->connected(address);
  report(300, "Connected OK");
  uint8_t buffer[255];
  if (gattRead(kOktDataUuid, buffer, 254) < 0) {
    platform::logText("OKT (Operator Kiosk Transport) service not found\n");
    return failed();
  }
  report(400, "OKT service found");
  if (gattSubscribe(kOktDataUuid) != 0) {
    platform::logText("Cannot subscribe to Data char\n");
    return failed();
  }
  struct Info {
    const char* uuid;
    int progress;
    const char* format;
    std::string value;
  } info[] = {{"00002a26-0000-1000-8000-00805f9b34fb", 500, "Firmware Revision: %s", {}},
              {"00002a24-0000-1000-8000-00805f9b34fb", 600, "Model Number: %s", {}},
              {"00002a27-0000-1000-8000-00805f9b34fb", 700, "Hardware revision: %s", {}},
              {"00002a29-0000-1000-8000-00805f9b34fb", 800, "Manufacturer: %s", {}},
              {"00002a25-0000-1000-8000-00805f9b34fb", 900, "Serial number: %s", {}}};
  for (Info& i : info) {
    std::memset(buffer, 0, sizeof buffer);
    gattRead(i.uuid, buffer, 254);  // a failed read shows as an empty text
    // One that got no answer at all is a dead link, not a missing value.
    if (dead_ || stopping()) return failed();
    i.value = reinterpret_cast<const char*>(buffer);
    char text[300];
    std::snprintf(text, sizeof text, i.format, i.value.c_str());
    report(i.progress, text);
  }
  {
    std::lock_guard<std::mutex> lock(stateMutex_);
    summary_ = "MAC: " + address + "\nFwVer: " + info[0].value + "\nModel: " + info[1].value +
               "  -  HW Rev ID: " + info[2].value + "  -  Manufacturer: " + info[3].value +
               "\nSerial Number: " + info[4].value + "\n";
  }
  // A peer that goes away is noticed, not written to as if it were there.
  w_.warble_gatt_on_disconnect(connection_, asContext(connectionToken_), peerGoneHandler);
  ++number_;
  ready_ = 1;
  // Gone before we listened, or before a loss could be reported: not ready after all.
  if (dead_ || stopping() || !w_.warble_gatt_is_connected(connection_)) {
    ready_ = 0;
    return failed();
  }
  platform::logText("OKT service FOUND\n");
  report(1000, "System READY");
  return 0;
}

int Link::linkClose() { return linkClose(closeDelayMs); }

int Link::linkClose(uint32_t pauseMs) {
  ready_ = 0;
  dead_ = true;
  // A send waiting on this connection gives up now instead of holding the close.
  closing_ = true;
  { std::lock_guard<std::mutex> lock(stateMutex_); }
  done_.notify_all();
  bool closed = false;
  {
    std::lock_guard<std::mutex> op(operationMutex_);
    if (connection_) {
      uint64_t token = connectionToken_;
      connectionToken_ = 0;
      withdraw(token);  // no notification or disconnect report reaches us any more
      if (w_.warble_gatt_is_connected(connection_)) {
        w_.warble_gatt_on_disconnect(connection_, nullptr, closingHandler);
        w_.warble_gatt_disconnect(connection_);
      }
      w_.warble_gatt_delete(connection_);
      connection_ = nullptr;
      closed = true;
      if (auto rec = recorder()) rec->disconnected(0x16);  // ended by us
    }
  }
  closing_ = false;
  waitForHandlers();  // a notification or a loss report still on its way in
  if (closed && pauseMs) {
    // The stack likes a moment after a disconnect; the end of the program does not wait for it.
    std::unique_lock<std::mutex> lock(stateMutex_);
    done_.wait_for(lock, std::chrono::milliseconds(pauseMs), [&] { return aborted_.load(); });
  }
  platform::logText(">>DEVICE CLOSED !!\n");
  return 0;
}

int Link::linkSend(const uint8_t* bytes, size_t size) {
  if (!ready_ || dead_ || stopping()) return 1;
  std::string line = "[LNK] Sending request with " + std::to_string(size) + " bytes - ";
  char hex[3];
  for (size_t i = 0; i < size; ++i) {
    std::snprintf(hex, sizeof hex, "%02X", bytes[i]);
    line += hex;
  }
  platform::logText(line + "\n");
  return gattWrite(kOktRequestUuid, bytes, size) == 0 ? 0 : 1;
}

void Link::notification(WarbleGattChar* characteristic, const uint8_t* value, uint8_t length) {
  const char* uuid = w_.warble_gattchar_get_uuid(characteristic);
  if (auto rec = recorder()) rec->notification(uuid, value, length);
  std::string line = std::string("NOTIF Char UUID ") + uuid + " NR: Length " + std::to_string(length) + " [";
  char hex[4];
  for (uint8_t i = 0; i < length; ++i) {
    std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", value[i]);
    line += hex;
  }
  platform::logText(line + "]\n");
  queueNotification(p_, value, length);
}

void Link::peerGone(int32_t status) {
  platform::logf("Disconnect status: %i\n", status);
  if (auto rec = recorder()) rec->disconnected(0x13);  // ended by the device
  lost(kPeerLeft);
}

}  // namespace okt
