#include "ble/connect_flow.h"

#include "platform/log.h"
#include "platform/tick.h"

namespace okt {

ConnectFlow::ConnectFlow(const WarbleBinding& warble, Link& link, AppQueue& queue)
    : w_(warble), link_(link), queue_(queue) {
  link_.reportProgress = [this](int value, const std::string& text) { reportProgress(value, text); };
}

void ConnectFlow::onScanResult(void* context, const WarbleScanResult* r) {
  auto* flow = static_cast<ConnectFlow*>(context);
  std::string mac = r->mac ? r->mac : "", name = r->name ? r->name : "";
  if (flow->list_.addScanResult(mac, name, r->rssi) == 0 && flow->dialogs_) flow->dialogs_->scanListChanged();
  platform::logf("mac: %s - name \"%s\" - RSSI: %i dBm\n", mac.c_str(), name.c_str(), r->rssi);
}

int ConnectFlow::scanForDevices() {
  platform::logText("Scan started\n");
  abort_ = false;
  w_.warble_scanner_set_handler(this, onScanResult);
  w_.warble_scanner_start(0, nullptr);
  for (uint32_t i = 0; i < scanSteps && !abort_; ++i) platform::sleepMs(100);
  w_.warble_scanner_stop();
  if (abort_) {
    platform::logText("Abort requested\n");
    return 1;
  }
  platform::logText("Scan finished\n");
  return 0;
}

bool ConnectFlow::handleAppMessage(const AppMessage& m) {
  auto status = [&](const char* text) {
    if (setStatusText) setStatusText(text);
  };
  // The status texts name work in progress: each is cleared when its work is done.
  switch (m.type) {
    case AppMessageType::SCAN:
      status("Scanning BT");
      scanForDevices();
      status("");
      return true;
    case AppMessageType::CONNECT:
      status("Connecting BT...");
      platform::logText(">>Connecting to device\n");
      if (link_.linkConnect() != 0) platform::logText(">>Cannot connect!!\n");
      status("");
      return true;
    case AppMessageType::DISCONNECT:
      status("Disconnecting BT...");
      platform::logText(">>Closing device\n");
      link_.linkClose();
      platform::logText(">>DEVICE CLOSED !!\n");
      status("");
      return true;
    default:
      if (errorBox) errorBox("INTERNAL Message not supported");
      return false;
  }
}

bool ConnectFlow::takeSelection(const std::string& address) {
  if (address.empty()) return false;
  link_.linkSetAddress(address.substr(0, 255));
  queue_.postAppMessage(AppMessageType::CONNECT);
  connectRequested = true;
  return true;
}

void ConnectFlow::reportProgress(int value, const std::string& text) {
  if (!dialogs_ || !dialogs_->showProgress(value, text)) return;  // nobody is watching: nothing at all
  platform::logText(text + "\n");
  if (value >= 1000) {
    platform::sleepMs(closeDelayMs);
    connectRequested = false;
    scanDialogOpen = false;
  }
}

}  // namespace okt
