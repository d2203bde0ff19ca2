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
  bool okt = flow->w_.warble_scan_result_has_service_uuid(r, kOktServiceUuid) != 0;
  if (flow->list_.addScanResult(mac, name, r->rssi, okt) == 0 && flow->dialogs_) flow->dialogs_->scanListChanged();
  platform::logf("mac: %s - name \"%s\" - RSSI: %i dBm\n", mac.c_str(), name.c_str(), r->rssi);
}

void ConnectFlow::onScanError(void* context, const char* message) {
  auto* flow = static_cast<ConnectFlow*>(context);
  std::lock_guard<std::mutex> lock(flow->failureMutex_);
  // A late word about a scan already stopped is not this scan's failure.
  if (flow->scanRunning_ && flow->failure_.empty())
    flow->failure_ = message && *message ? message : "Bluetooth scan failed";
}

void ConnectFlow::reportScanProblem(const std::string& text) {
  if (dialogs_) dialogs_->scanProblem(text);
  if (onScanFailure) onScanFailure(text);
}

int ConnectFlow::scanForDevices() {
  uint64_t mine = ++scansStarted_;
  auto aborted = [&] { return closed_.load() || abortedThrough_.load() >= mine; };
  auto failure = [&] {
    std::lock_guard<std::mutex> lock(failureMutex_);
    return failure_;
  };
  {
    std::lock_guard<std::mutex> lock(failureMutex_);
    failure_.clear();
    scanRunning_ = true;
  }
  platform::logText("Scan started\n");
  if (dialogs_) dialogs_->scanStateChanged();
  if (!aborted()) {
    w_.warble_scanner_set_handler(this, onScanResult);
    if (w_.warble_scanner_set_error_handler) w_.warble_scanner_set_error_handler(this, onScanError);
    w_.warble_scanner_start(0, nullptr);
    for (uint32_t i = 0; i < scanSteps && !aborted() && failure().empty(); ++i) {
      platform::sleepMs(100);
      // A library that cannot say why it finds nothing gets a hint from us instead.
      if (i + 1 == quietSteps && !w_.warble_scanner_set_error_handler && list_.size() == 0 && !aborted()) {
        platform::logf("%s\n", kNoDevicesFound);
        reportScanProblem(kNoDevicesFound);
      }
    }
    w_.warble_scanner_stop();
    if (w_.warble_scanner_set_error_handler) w_.warble_scanner_set_error_handler(nullptr, nullptr);
  }
  std::string failed;
  {
    std::lock_guard<std::mutex> lock(failureMutex_);
    scanRunning_ = false;
    failed = failure_;
  }
  if (endedThrough_ < mine) endedThrough_ = mine;  // the worker alone writes it
  int result = 1;
  if (!failed.empty()) {
    platform::logText("Scan failed: " + failed + "\n");
    reportScanProblem(failed);
  } else if (aborted()) {
    platform::logText("Abort requested\n");
  } else {
    platform::logText("Scan finished\n");
    result = 0;
  }
  if (dialogs_) dialogs_->scanStateChanged();
  return result;
}

bool ConnectFlow::scanning() const {
  uint64_t asked = scansAsked_.load();
  return !closed_ && asked > abortedThrough_.load() && asked > endedThrough_.load();
}

std::string ConnectFlow::lastScanFailure() const {
  std::lock_guard<std::mutex> lock(failureMutex_);
  return failure_;
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
  for (const ScanList::Row& row : list_.rows())
    if (row.address == address) link_.setPeerName(row.name);
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
