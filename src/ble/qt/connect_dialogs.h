#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <atomic>

#include "ble/connect_flow.h"

namespace okt {

// "Select BT Device": the devices a scan finds, the strongest first, those
// not heard lately greyed. A scan starts when the dialog opens; "&Scan"
// starts a new one from an empty list, "&Stop" (in its place while a scan
// runs) ends it. "&Connect", Enter or a double click takes the selected row.
class ScanDialog : public QDialog {
 public:
  ScanDialog(ConnectFlow& flow, AppQueue& queue, QWidget* parent = nullptr);
  // Its scan ends with it.
  ~ScanDialog() override;
  QTreeWidget* list() { return list_; }
  QPushButton* scanButton() { return scan_; }
  QPushButton* stopButton() { return stop_; }
  QPushButton* connectButton() { return connect_; }
  QLineEdit* filterEdit() { return filter_; }
  QCheckBox* oktOnlyBox() { return oktOnly_; }
  QProgressBar* busyIndicator() { return busy_; }
  QLabel* problem() { return problem_; }
  // Shows the scan list as it is now.
  void refresh();
  // Follows the flow's scan: busy indicator, Scan or Stop.
  void showScanState();
  // Why the scan finds nothing, until the next scan.
  void showProblem(const QString& text);
  // Closed without a choice: the scan stops.
  void reject() override;

 protected:
  void showEvent(QShowEvent* event) override;
  // Down in the filter goes to the list; the list reached from the keyboard
  // selects a row, so that Enter connects.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void startScan();
  void take();
  QString selectedAddress() const;

  ConnectFlow& flow_;
  AppQueue& queue_;
  QLineEdit* filter_;
  QCheckBox* oktOnly_;
  QTreeWidget* list_;
  QLabel* problem_;
  QProgressBar* busy_;
  QPushButton* scan_;
  QPushButton* stop_;
  QPushButton* connect_;
  QIcon bars_[5];  // signal strength, none to four bars
  QTimer ageing_;  // stale rows grey out without new results
  bool opened_ = false;
};

// "Connecting to device...": the connect sequence's text and progress.
class ConnectingDialog : public QDialog {
 public:
  explicit ConnectingDialog(QWidget* parent = nullptr);
  void show(int value, const QString& text);
  QLabel* text() { return text_; }
  QProgressBar* bar() { return bar_; }

 private:
  QLabel* text_;
  QProgressBar* bar_;
};

// Runs the two dialogs for "&Connect" on the GUI thread; the worker's
// reports reach them through queued calls.
class QtConnectDialogs : public QObject, public ConnectDialogs {
 public:
  QtConnectDialogs(ConnectFlow& flow, AppQueue& queue);
  ~QtConnectDialogs() override;
  // Returns when both dialogs are closed; the caller then asks the link
  // whether it is ready.
  void showConnectDialogs();

  void scanListChanged() override;
  bool showProgress(int value, const std::string& text) override;
  void scanStateChanged() override;
  void scanProblem(const std::string& text) override;

  ScanDialog* scanDialog() { return scan_; }
  ConnectingDialog* connectingDialog() { return connecting_; }

 private:
  ConnectFlow& flow_;
  AppQueue& queue_;
  ScanDialog* scan_ = nullptr;
  ConnectingDialog* connecting_ = nullptr;
  std::atomic<bool> connectingOpen_{false};
  std::atomic<bool> refreshPosted_{false};  // one refresh at a time, however fast results come
};

// Dialog units to pixels with the dialog font's base units.
QSize dialogUnits(const QWidget* widget, int x, int y);

}  // namespace okt
