// The scan and connect dialogs offscreen, with the emulator's Bluetooth
// library behind the application worker.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>

#include "ble/qt/connect_dialogs.h"
#include "platform/tick.h"
#include "support/log_capture.h"

namespace okt {
namespace {

class ConnectDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bindWarble(OKT_WARBLE_EMULATOR, w, error)) << error;
    initQueue(p.queue);
    link = std::make_unique<Link>(w, p);
    link->closeDelayMs = 0;
    flow = std::make_unique<ConnectFlow>(w, *link, queue);
    flow->closeDelayMs = 0;
    dialogs = std::make_unique<QtConnectDialogs>(*flow, queue);
    // The worker's scan and connect, as the connection manager runs them.
    queue.startWorker([this](const AppMessage& m) {
      if (m.type == AppMessageType::SCAN) flow->scanForDevices();
      if (m.type == AppMessageType::CONNECT) link->linkConnect();
      return true;
    });
  }
  void TearDown() override {
    queue.stopWorker();
    dialogs.reset();
    flow.reset();
    link.reset();
    unbindWarble(w);
  }
  bool processUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    uint32_t start = platform::tickCount();
    while (!condition()) {
      if (platform::tickCount() - start > static_cast<uint32_t>(timeoutMs)) return false;
      QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
  }

  WarbleBinding w;
  std::string error;
  Protocol p;
  AppQueue queue;
  std::unique_ptr<Link> link;
  std::unique_ptr<ConnectFlow> flow;
  std::unique_ptr<QtConnectDialogs> dialogs;
};

TEST_F(ConnectDialogsTest, RowsAreAddedAndUpdatedByAddress) {
  ScanDialog dialog(*flow, queue);
  flow->scanList().addScanResult("AA:00:00:00:00:01", "first", -40);
  flow->scanList().addScanResult("aa:00:00:00:00:01", "renamed", -41);
  flow->scanList().addScanResult("AA:00:00:00:00:02", "second", -70);
  dialog.refresh();
  ASSERT_EQ(dialog.list()->topLevelItemCount(), 2);
  EXPECT_EQ(dialog.list()->topLevelItem(0)->text(1), "renamed");
  EXPECT_EQ(dialog.list()->topLevelItem(0)->text(2), "-41 dBm");
  EXPECT_EQ(dialog.list()->headerItem()->text(0), "Mac");
}

TEST_F(ConnectDialogsTest, ConnectWithoutASelectionKeepsTheDialogOpen) {
  ScanDialog dialog(*flow, queue);
  dialog.show();
  QTest::mouseClick(dialog.connectButton(), Qt::LeftButton);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(flow->connectRequested);
}

// "&Scan" twice, pick, "&Connect": the second scan took over from the first,
// and the connect does not wait behind a 30 s scan.
TEST_F(ConnectDialogsTest, ScanPickAndConnectThroughTheWorker) {
  ScanDialog dialog(*flow, queue);
  dialogs->scanListChanged();  // nothing yet
  dialog.show();
  test::LogCapture log;
  // The worker scans the emulated devices; the list fills on the GUI thread.
  QTest::mouseClick(dialog.scanButton(), Qt::LeftButton);
  QTest::mouseClick(dialog.scanButton(), Qt::LeftButton);
  ASSERT_TRUE(processUntil([&] {
    dialog.refresh();
    return dialog.list()->topLevelItemCount() > 0;
  }));
  EXPECT_EQ(dialog.list()->topLevelItem(0)->text(1), "OKT Demo");
  dialog.list()->setCurrentItem(dialog.list()->topLevelItem(0));
  QTest::mouseClick(dialog.connectButton(), Qt::LeftButton);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(flow->connectRequested);
  ASSERT_TRUE(processUntil([&] { return link->linkIsReady() == 1; }));
  auto text = log.text();
  EXPECT_NE(text.find("Scan started"), std::string::npos);
  EXPECT_NE(text.find("Abort requested"), std::string::npos);
  EXPECT_NE(text.find("mac: 0C:0C:0C:00:00:01 - name \"OKT Demo\" - RSSI: -4"), std::string::npos);
}

TEST_F(ConnectDialogsTest, TheConnectingDialogShowsEachReport) {
  ConnectingDialog connecting;
  connecting.show(400, "OKT service found");
  EXPECT_EQ(connecting.text()->text(), "OKT service found");
  EXPECT_EQ(connecting.bar()->value(), 400);
  EXPECT_EQ(connecting.bar()->maximum(), 1000);
  // Reports while no connecting dialog is open are not shown, nor printed.
  test::LogCapture log;
  flow->reportProgress(500, "Firmware Revision: 1");
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace okt
