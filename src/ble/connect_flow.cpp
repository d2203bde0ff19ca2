#include "ble/connect_flow.h"

#include <algorithm>

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
  uint64_t mine = ++scansStarted_;
  auto aborted = [&] { return closed_.load() || abortedThrough_.load() >= mine; };
  platform::logText("Scan started\n");
  if (!aborted()) {
    w_.warble_scanner_set_handler(this, onScanResult);
    w_.warble_scanner_start(0, nullptr);
    for (uint32_t i = 0; i < scanSteps && !aborted(); ++i) platform::sleepMs(100);
    w_.warble_scanner_stop();
  }
  if (aborted()) {
    platform::logText("Abort requested\n");
    return 1;
  }
  platform::logText("Scan finished\n");
  return 0;
}

void ConnectFlow::requestScan() {
  // The scan running now (and any still queued) gives way to this one.
  abortScan();
  ++scansAsked_;
  list_.clear();
  queue_.postAppMessage(AppMessageType::SCAN);
}

void ConnectFlow::abortScan() { abortedThrough_ = std::max(scansAsked_.load(), scansStarted_.load()); }

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
    // The dialog shows the last step a moment; an ending program does not wait for it.
    for (uint32_t waited = 0; waited < closeDelayMs && !closed_; waited += 10) platform::sleepMs(10);
    connectRequested = false;
    scanDialogOpen = false;
  }
}

}  // namespace okt
