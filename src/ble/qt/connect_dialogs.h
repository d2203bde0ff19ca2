#pragma once

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <atomic>

#include "ble/connect_flow.h"

namespace okt {

// "Select BT Device": the devices a scan finds; "&Scan" starts a scan on the
// application worker, "&Connect" (or a double click) takes the selected one.
class ScanDialog : public QDialog {
 public:
  ScanDialog(ConnectFlow& flow, AppQueue& queue, QWidget* parent = nullptr);
  QTreeWidget* list() { return list_; }
  QPushButton* scanButton() { return scan_; }
  QPushButton* connectButton() { return connect_; }
  // Shows the scan list as it is now (the GUI thread's copy).
  void refresh();

 protected:
  void reject() override;

 private:
  void take();

  ConnectFlow& flow_;
  AppQueue& queue_;
  QTreeWidget* list_;
  QPushButton* scan_;
  QPushButton* connect_;
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

  ScanDialog* scanDialog() { return scan_; }
  ConnectingDialog* connectingDialog() { return connecting_; }

 private:
  ConnectFlow& flow_;
  AppQueue& queue_;
  ScanDialog* scan_ = nullptr;
  ConnectingDialog* connecting_ = nullptr;
  std::atomic<bool> connectingOpen_{false};
};

// Dialog units to pixels with the dialog font's base units.
QSize dialogUnits(const QWidget* widget, int x, int y);

}  // namespace okt
