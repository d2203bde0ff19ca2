#include "shell/connection_manager.h"

#include "platform/log.h"
#include "platform/tick.h"
#include "protocol/wire.h"

namespace okt {

ConnectionManager::ConnectionManager(Link& link, ConnectFlow& flow, AppQueue& queue, Engine& engine)
    : link_(link), flow_(flow), queue_(queue), engine_(engine) {
  link_.reportProgress = [this](int value, const std::string& text) {
    if (value < 1000) {
      step_ = text;
      status().set({ConnectionPhase::Connecting, text});
    }
    flow_.reportProgress(value, text);
  };
  link_.onLinkLost = [this](uint64_t number, const std::string& reason) {
    // Said and acted on at once, on whichever thread noticed: the protocol
    // connection ends (its dialogs close; a connect under way gives up
    // without an error box of its own), the display is kept for the return.
    status().set({ConnectionPhase::Lost, reason});
    engine_.postDisconnect(true, number);
    post(AppMessageType::LINK_LOST, number, reason == Link::kNoAnswer ? NoAnswer : PeerLeft);
  };
  engine_.onConnectFailed = [this](uint64_t number, const std::string&) {
    post(AppMessageType::CONNECT_FAILED, number);
  };
}

void ConnectionManager::startWorker() {
  queue_.startWorker([this](const AppMessage& m) { return handleAppMessage(m); }, [this] { return idle(); });
}

void ConnectionManager::post(uint8_t type, uint64_t number, uint8_t reason) {
  uint8_t payload[5];
  putU32(payload, static_cast<uint32_t>(number));
  payload[4] = reason;
  queue_.postAppMessage(type, payload, sizeof payload);
}

void ConnectionManager::disconnect() {
  stopReconnecting();
  queue_.postAppMessage(AppMessageType::DISCONNECT);
}

void ConnectionManager::connectTo(const std::string& address) {
  if (address.empty()) return;
  stopReconnecting();
  link_.linkSetAddress(address.substr(0, 255));
  queue_.postAppMessage(AppMessageType::CONNECT);
}

void ConnectionManager::reconnectNow() { queue_.postAppMessage(AppMessageType::RECONNECT_NOW); }

void ConnectionManager::stopReconnecting() {
  ++stops_;
  // An attempt under way gives up now. (A connect of the user's own, if it is
  // what runs, starts its sequence afresh and is not touched.)
  if (!link_.linkIsReady()) link_.interrupt();
}

void ConnectionManager::setAutoReconnect(bool on) {
  autoReconnect_ = on;
  if (!on) stopReconnecting();
}

void ConnectionManager::shutdown() {
  ++stops_;
  flow_.stop();
  link_.abort();
}

bool ConnectionManager::stopAsked() {
  uint64_t stops = stops_.load();
  bool asked = stops != stopsSeen_;
  stopsSeen_ = stops;
  return asked;
}

void ConnectionManager::statusText(const char* text) {
  if (setStatusText) setStatusText(text);
}

bool ConnectionManager::openLink(bool resume) {
  step_.clear();
  status().set({ConnectionPhase::Connecting, "Establishing"});
  if (link_.linkConnect() != 0) return false;
  linkUp_ = true;
  number_ = link_.connectionNumber();
  resumed_ = resume;
  engine_.postConnect({link_.address(), resume, number_});
  return true;
}

void ConnectionManager::closeLink(bool keepDisplay) {
  if (linkUp_) engine_.postDisconnect(keepDisplay, number_);
  linkUp_ = false;
  link_.linkClose();
}

void ConnectionManager::scheduleAttempt(uint32_t attempt, uint32_t fromTick) {
  uint32_t seconds = reconnectDelaySeconds(attempt);
  reconnecting_ = true;
  attempt_ = attempt;
  dueTick_ = fromTick + seconds * backoffUnitMs;
  ConnectionState waiting(ConnectionPhase::Reconnecting);
  waiting.attempt = attempt;
  waiting.nextTrySeconds = seconds;
  status().set(waiting);
}

void ConnectionManager::linkLost(const char* reason) {
  status().set({ConnectionPhase::Lost, reason});  // the engine was told when it happened
  linkUp_ = false;
  // No pause after closing a link that is gone already: the first try comes a
  // backoff step after the loss, which gives the stack the same moment.
  uint32_t lostTick = platform::tickCount();
  link_.linkClose(0);
  if (autoReconnect_ && !stopAsked()) scheduleAttempt(1, lostTick);
}

bool ConnectionManager::handleAppMessage(const AppMessage& m) {
  // The status texts name work in progress: each is cleared when its work is done.
  uint32_t number = 0;
  if (m.length >= 4) getU32(m.payload, &number);
  switch (m.type) {
    case AppMessageType::SCAN:
      statusText("Scanning BT");
      status().set({ConnectionPhase::Scanning});
      flow_.scanForDevices();
      // A scan that failed says why (no adapter, Bluetooth off, no BlueZ).
      if (status().current().phase == ConnectionPhase::Scanning)
        status().set({ConnectionPhase::Idle, flow_.lastScanFailure()});
      statusText("");
      return true;
    case AppMessageType::CONNECT:
      stopAsked();
      reconnecting_ = false;
      statusText("Connecting BT...");
      platform::logText(">>Connecting to device\n");
      if (linkUp_) closeLink(false);  // a reconnection that made it meanwhile gives way
      if (!openLink(false)) {
        platform::logText(">>Cannot connect!!\n");
        status().set({ConnectionPhase::Idle, "Cannot connect" + (step_.empty() ? "" : ": " + step_)});
      }
      statusText("");
      return true;
    case AppMessageType::DISCONNECT:
      stopAsked();
      reconnecting_ = false;
      statusText("Disconnecting BT...");
      status().set({ConnectionPhase::Disconnecting});
      platform::logText(">>Closing device\n");
      closeLink(false);
      platform::logText(">>DEVICE CLOSED !!\n");
      status().set({ConnectionPhase::Idle});
      statusText("");
      return true;
    case AppMessageType::LINK_LOST:
      // Only the open connection's loss counts; an older one's report is late.
      if (linkUp_ && number == static_cast<uint32_t>(number_))
        linkLost(m.length > 4 && m.payload[4] == NoAnswer ? Link::kNoAnswer : Link::kPeerLeft);
      return true;
    case AppMessageType::CONNECT_FAILED:
      if (!linkUp_ || number != static_cast<uint32_t>(number_)) return true;
      // A reconnection that failed keeps the display to return to for the next.
      closeLink(resumed_);
      // An attempt that reached the device but not its interface is an
      // attempt like any other; a connect of the user's ends there.
      if (resumed_ && autoReconnect_ && !stopAsked()) scheduleAttempt(attempt_ + 1, platform::tickCount());
      return true;
    case AppMessageType::RECONNECT_NOW:
      if (reconnecting_) dueTick_ = platform::tickCount();  // the idle hook runs it next
      return true;
    default:
      if (errorBox) errorBox("INTERNAL Message not supported");
      return false;
  }
}

uint32_t ConnectionManager::idle() {
  if (!reconnecting_) return 400;
  if (stopAsked() || !autoReconnect_) {
    reconnecting_ = false;
    status().set({ConnectionPhase::Idle, "Reconnection cancelled"});
    return 400;
  }
  int32_t left = static_cast<int32_t>(dueTick_ - platform::tickCount());
  if (left > 0) return static_cast<uint32_t>(left);
  reconnecting_ = false;
  platform::logf(">>Reconnecting to device (attempt %u)\n", attempt_);
  if (openLink(true)) return 400;
  if (stopAsked() || !autoReconnect_) {
    status().set({ConnectionPhase::Idle, "Reconnection cancelled"});
    return 400;
  }
  scheduleAttempt(attempt_ + 1, platform::tickCount());
  return reconnectDelaySeconds(attempt_) * backoffUnitMs;
}

}  // namespace okt
