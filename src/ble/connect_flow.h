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
  // A scan began or ended; ConnectFlow::scanning() says which (worker thread).
  virtual void scanStateChanged() {}
  // Why the scan finds nothing: the library's failure, or the hint after a
  // quiet while (worker thread).
  virtual void scanProblem(const std::string& text) { (void)text; }
};

// Said when a scan has found nothing for a while and the library cannot tell why.
constexpr const char* kNoDevicesFound = "No devices found \u2014 is Bluetooth on?";

// The work behind "&Connect": scanning on the application worker, the
// chosen device's address handed to the link, and the progress of the
// connect sequence shown while it runs. (The worker's messages are handled
// by the connection manager, which calls in here.)
class ConnectFlow {
 public:
  ConnectFlow(const WarbleBinding& warble, Link& link, AppQueue& queue);

  void setDialogs(ConnectDialogs* dialogs) { dialogs_ = dialogs; }
  ScanList& scanList() { return list_; }

  // The application worker's SCAN: at most 30 s, or until aborted or the
  // library reports a failure. 0 when it ran its time, 1 when it was aborted,
  // failed or never started.
  int scanForDevices();
  // A scan asked for with requestScan is queued or running.
  bool scanning() const;
  // The last scan's failure, as the library said it ("" when none).
  std::string lastScanFailure() const;
  // "&Scan": a new scan, from an empty list; one still running stops.
  void requestScan();
  // Copies the chosen address to the link and posts CONNECT.
  bool takeSelection(const std::string& address);
  // Stops the running scan and every scan asked for so far.
  void abortScan();
  // The program ends: the running scan and every one after it stop, and
  // nothing here waits any more.
  void stop() { closed_ = true; }
  // Reports of the connect sequence: shown and printed while the connecting dialog is open.
  void reportProgress(int value, const std::string& text);

  uint32_t scanSteps = 300;  // of 100 ms
  // After this many steps with nothing found, a library that cannot report
  // failures gets the kNoDevicesFound hint.
  uint32_t quietSteps = 100;
  // Told of every scan failure and hint, on the worker thread; set before
  // the worker starts.
  std::function<void(const std::string& text)> onScanFailure;
  uint32_t closeDelayMs = 800;

  std::atomic<bool> connectRequested{false};
  std::atomic<bool> scanDialogOpen{false};

 private:
  static void onScanResult(void* context, const WarbleScanResult* result);
  static void onScanError(void* context, const char* message);
  void reportScanProblem(const std::string& text);

  const WarbleBinding& w_;
  Link& link_;
  AppQueue& queue_;
  ScanList list_;
  ConnectDialogs* dialogs_ = nullptr;
  // Scans are numbered as asked for; a scan runs only while no abort has
  // reached its number. An abort thus also stops the scans queued behind.
  std::atomic<uint64_t> scansAsked_{0};
  std::atomic<uint64_t> scansStarted_{0};
  std::atomic<uint64_t> abortedThrough_{0};
  std::atomic<uint64_t> endedThrough_{0};
  mutable std::mutex failureMutex_;
  bool scanRunning_ = false;  // the library's failures count only then
  std::string failure_;
  std::atomic<bool> closed_{false};
};

}  // namespace okt
