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

// Rows put in by hand, while the scan the dialog started finds nothing.
class ChosenRow : public ConnectDialogsTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ConnectDialogsTest::SetUp();
    configure("adapter-off", "1");
  }
  void TearDown() override {
    configure("reset", "");
    ConnectDialogsTest::TearDown();
  }
  void configure(const char* key, const char* value) {
    WarbleOption o{key, value};
    w.warble_lib_config(1, &o);
  }
  QTreeWidgetItem* row(ScanDialog& dialog, const QString& address) {
    for (int i = 0; i < dialog.list()->topLevelItemCount(); ++i)
      if (dialog.list()->topLevelItem(i)->text(0) == address) return dialog.list()->topLevelItem(i);
    return nullptr;
  }
  QPoint at(ScanDialog& dialog, QTreeWidgetItem* item) { return dialog.list()->visualItemRect(item).center(); }
};

TEST_P(ChosenRow, ConnectTakesTheSelectedRowAndNothingElse) {
  const std::string how = GetParam();
  ScanDialog dialog(*flow, queue);
  dialog.show();
  ScanList& list = flow->scanList();
  list.addScanResult("aa:00:00:00:00:01", "first", -40);
  list.addScanResult("AA:00:00:00:00:02", "second", -60);
  list.addScanResult("AA:00:00:00:00:03", "third", -80);
  dialog.refresh();
  QTreeWidget* tree = dialog.list();
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  // A current row is not a chosen one.
  tree->setCurrentItem(tree->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
  EXPECT_FALSE(dialog.connectButton()->isEnabled());
  QTest::keyClick(tree, Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_FALSE(flow->connectRequested);

  QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, at(dialog, row(dialog, "AA:00:00:00:00:02")));
  EXPECT_TRUE(dialog.connectButton()->isEnabled());
  // A stronger device comes in above: the choice moves with its device.
  list.addScanResult("AA:00:00:00:00:04", "fourth", -30);
  dialog.refresh();
  ASSERT_EQ(tree->selectedItems().size(), 1);
  ASSERT_EQ(tree->selectedItems().front()->text(0), "AA:00:00:00:00:02");

  if (how == "Button") QTest::mouseClick(dialog.connectButton(), Qt::LeftButton);
  if (how == "Enter") QTest::keyClick(tree, Qt::Key_Return);
  if (how == "DoubleClick") {  // the first click of it, then the second
    QPoint where = at(dialog, tree->selectedItems().front());
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, where);
    QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, where);
  }
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_TRUE(flow->connectRequested);
  EXPECT_EQ(link->address(), "AA:00:00:00:00:02");
}

// From the filter, Down reaches the list with a row chosen, and Enter takes it.
TEST_F(ChosenRow, TheKeyboardAloneChoosesARow) {
  ScanDialog dialog(*flow, queue);
  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  flow->scanList().addScanResult("AA:00:00:00:00:01", "first", -40);
  flow->scanList().addScanResult("AA:00:00:00:00:02", "second", -60);
  dialog.refresh();
  dialog.filterEdit()->setFocus();
  QTest::keyClick(dialog.filterEdit(), Qt::Key_Down);
  QTreeWidget* tree = dialog.list();
  EXPECT_EQ(QApplication::focusWidget(), tree);
  ASSERT_EQ(tree->selectedItems().size(), 1);
  EXPECT_TRUE(dialog.connectButton()->isEnabled());
  QTest::keyClick(tree, Qt::Key_Down);
  QTest::keyClick(tree, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(link->address(), "AA:00:00:00:00:02");
}

INSTANTIATE_TEST_SUITE_P(Ways, ChosenRow, ::testing::Values("Button", "Enter", "DoubleClick"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

TEST_F(ChosenRow, TheFilterNarrowsTheListAndAChoiceFilteredOutIsDropped) {
  ScanDialog dialog(*flow, queue);
  dialog.show();
  flow->scanList().addScanResult("0C:0C:0C:00:00:01", "OKT Demo", -50, true);
  flow->scanList().addScanResult("11:22:33:44:55:66", "Kitchen scale", -40);
  dialog.refresh();
  QTreeWidget* tree = dialog.list();
  tree->setCurrentItem(row(dialog, "11:22:33:44:55:66"));
  QTest::keyClicks(dialog.filterEdit(), "KITCH");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_TRUE(dialog.connectButton()->isEnabled());
  dialog.filterEdit()->clear();
  dialog.oktOnlyBox()->setChecked(true);
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  EXPECT_EQ(tree->topLevelItem(0)->text(1), "OKT Demo");
  EXPECT_TRUE(tree->selectedItems().isEmpty());
  EXPECT_FALSE(dialog.connectButton()->isEnabled());
}

// What the library says about a failed scan reaches the open dialog, and the
// scan is over.
TEST_F(ChosenRow, AScanFailureIsShownInTheDialog) {
  QString shown;
  bool stopped = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    ScanDialog* dialog = dialogs->scanDialog();
    if (!dialog || dialog->problem()->isHidden() || !dialog->scanButton()->isVisible()) return;
    shown = dialog->problem()->text();
    stopped = !dialog->busyIndicator()->isVisible();
    dialog->reject();
  });
  poll.start(10);
  QTimer::singleShot(5000, [&] {
    if (dialogs->scanDialog()) dialogs->scanDialog()->reject();
  });
  dialogs->showConnectDialogs();
  EXPECT_EQ(shown, "Bluetooth is turned off");
  EXPECT_TRUE(stopped);
}

// Opening starts a scan that Stop ends, keeping what it found; then "&Scan"
// twice, pick, "&Connect": the second scan took over from the first, and
// the connect does not wait behind a 30 s scan.
TEST_F(ConnectDialogsTest, ScanStopScanPickAndConnectThroughTheWorker) {
  ScanDialog dialog(*flow, queue);
  dialogs->scanListChanged();  // nothing yet
  test::LogCapture log;
  EXPECT_FALSE(flow->scanning());
  dialog.show();
  EXPECT_TRUE(flow->scanning());
  EXPECT_TRUE(dialog.busyIndicator()->isVisible());
  EXPECT_TRUE(dialog.stopButton()->isVisible());
  EXPECT_FALSE(dialog.scanButton()->isVisible());
  // The worker scans the emulated devices; the list fills on the GUI thread.
  auto listed = [&] {
    return processUntil([&] {
      dialog.refresh();
      return dialog.list()->topLevelItemCount() > 0;
    });
  };
  ASSERT_TRUE(listed());
  EXPECT_EQ(dialog.list()->topLevelItem(0)->text(0), "0C:0C:0C:00:00:01");
  EXPECT_EQ(dialog.list()->topLevelItem(0)->text(1), "OKT Demo");
  EXPECT_TRUE(dialog.list()->topLevelItem(0)->text(2).endsWith(" dBm"));
  QTest::mouseClick(dialog.stopButton(), Qt::LeftButton);
  EXPECT_FALSE(flow->scanning());
  EXPECT_FALSE(dialog.busyIndicator()->isVisible());
  EXPECT_TRUE(dialog.scanButton()->isVisible());
  EXPECT_EQ(dialog.list()->topLevelItemCount(), 1);  // stopping keeps what was found
  QTest::mouseClick(dialog.scanButton(), Qt::LeftButton);
  QTest::mouseClick(dialog.scanButton(), Qt::LeftButton);
  ASSERT_TRUE(listed());
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

// Reports while no connecting dialog is open are not shown, nor printed.
TEST_F(ConnectDialogsTest, ReportsWithoutAConnectingDialogAreDropped) {
  test::LogCapture log;
  flow->reportProgress(500, "Firmware Revision: 1");
  EXPECT_EQ(log.text(), "");
}

}  // namespace
}  // namespace okt
