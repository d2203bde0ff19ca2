// Scans through the flow over two builds of the emulator's library: the
// current one, which says why a scan fails, and one from before, which
// could not.
#include <gtest/gtest.h>

#include <mutex>

#include "ble/connect_flow.h"
#include "support/log_capture.h"

namespace okt {
namespace {

struct ScanCase {
  const char* name;
  bool olderLibrary;
  bool adapterOff;
  int result;
  std::vector<std::string> problems;
  bool found;
};

class ScanFlow : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanFlow, FailuresAndQuietScansAreReported) {
  const ScanCase& c = GetParam();
  WarbleBinding w;
  std::string error;
  ASSERT_TRUE(bindWarble(c.olderLibrary ? OKT_WARBLE_EMULATOR_SILENT : OKT_WARBLE_EMULATOR, w, error)) << error;
  WarbleOption adapter{"adapter-off", c.adapterOff ? "1" : "0"};
  w.warble_lib_config(1, &adapter);
  Protocol p;
  initQueue(p.queue);
  Link link(w, p);
  AppQueue queue;  // no worker: the test runs the scan itself
  ConnectFlow flow(w, link, queue);
  flow.scanSteps = 10;
  flow.quietSteps = 3;
  std::mutex mutex;
  std::vector<std::string> problems;
  flow.onScanFailure = [&](const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex);
    problems.push_back(text);
  };
  test::LogCapture log;
  flow.requestScan();
  EXPECT_TRUE(flow.scanning());
  EXPECT_EQ(flow.scanForDevices(), c.result);
  EXPECT_FALSE(flow.scanning());
  EXPECT_EQ(problems, c.problems);
  EXPECT_EQ(flow.scanList().size() > 0, c.found);
  if (!c.problems.empty()) {
    EXPECT_NE(log.text().find(c.problems.front()), std::string::npos) << log.text();
  }
  WarbleOption reset{"reset", ""};
  w.warble_lib_config(1, &reset);
  unbindWarble(w);
}

INSTANTIATE_TEST_SUITE_P(Libraries, ScanFlow,
                         ::testing::Values(ScanCase{"DevicesFound", false, false, 0, {}, true},
                                           // The failure ends the scan.
                                           ScanCase{"AdapterOff", false, true, 1, {"Bluetooth is turned off"}, false},
                                           ScanCase{"OlderLibraryDevicesFound", true, false, 0, {}, true},
                                           // The older library is silent: after a quiet while we say what may be wrong.
                                           ScanCase{"OlderLibraryAdapterOff", true, true, 0, {kNoDevicesFound}, false}),
                         [](const ::testing::TestParamInfo<ScanCase>& info) { return info.param.name; });

}  // namespace
}  // namespace okt
