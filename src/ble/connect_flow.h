#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "ble/binding.h"
#include "ble/link.h"
#include "ble/scan_list.h"
#include "shell/app_queue.h"

namespace okt {

// What the scan and connect dialogs need from a window system.
class ConnectDialogs {
 public:
  virtual ~ConnectDialogs() = default;
  // A row was added or changed (called on the library's scan thread).
  virtual void scanListChanged() = 0;
  // Shows a progress step in the connecting dialog, if it is open; closes it
  // at 1000 and more. False when the dialog is not open.
  virtual bool showProgress(int value, const std::string& text) = 0;
};

// The work behind "&Connect": scanning on the application worker, the
// chosen device's address handed to the link, and the progress of the
// connect sequence shown while it runs.
class ConnectFlow {
 public:
  ConnectFlow(const WarbleBinding& warble, Link& link, AppQueue& queue);

  void setDialogs(ConnectDialogs* dialogs) { dialogs_ = dialogs; }
  ScanList& scanList() { return list_; }

  // The application worker's handlers (SCAN runs at most 30 s, or until aborted).
  int scanForDevices();
  bool handleAppMessage(const AppMessage& m);
  // Copies the chosen address to the link and posts CONNECT.
  bool takeSelection(const std::string& address);
  void abortScan() { abort_ = true; }
  // Reports of the connect sequence: shown and printed while the connecting dialog is open.
  void reportProgress(int value, const std::string& text);

  std::function<void(const std::string& text)> setStatusText;
  std::function<void(const std::string& text)> errorBox;
  uint32_t scanSteps = 300;  // of 100 ms
  uint32_t closeDelayMs = 800;

  std::atomic<bool> connectRequested{false};
  std::atomic<bool> scanDialogOpen{false};

 private:
  static void onScanResult(void* context, const WarbleScanResult* result);

  const WarbleBinding& w_;
  Link& link_;
  AppQueue& queue_;
  ScanList list_;
  ConnectDialogs* dialogs_ = nullptr;
  std::atomic<bool> abort_{false};
};

}  // namespace okt
