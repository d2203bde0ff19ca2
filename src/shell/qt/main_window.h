#pragma once

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <functional>

#include "shell/qt/display_area.h"
#include "shell/qt/log_dock.h"

namespace okt {

// "Operator Kiosk Transport (OKT) Bluetooth Client - V1.01": the display
// area, "<<", the page box, "BACK", ">>", "Connect", "Disconnect", the
// device information panel, a status bar (connection state, device,
// counters), the menu bar and the Log dock. Resizable; the display area
// takes the room.
class MainWindow : public QMainWindow {
 public:
  MainWindow();

  DisplayArea* display() { return display_; }
  QPushButton* prevButton() { return prev_; }
  QPushButton* nextButton() { return next_; }
  QPushButton* backButton() { return back_; }
  QPushButton* connectButton() { return connect_; }
  QPushButton* disconnectButton() { return disconnect_; }
  QLineEdit* pageBox() { return pageBox_; }
  QLabel* information() { return information_; }
  QLabel* status() { return status_; }
  QLabel* deviceLabel() { return device_; }
  QLabel* counters() { return counters_; }
  QCheckBox* reconnectBox() { return reconnect_; }
  LogDock* logDock() { return log_; }

  QAction* connectAction() { return connectAction_; }
  QAction* disconnectAction() { return disconnectAction_; }
  QAction* screenshotAction() { return screenshotAction_; }
  // File → Record session… and Stop recording: the session as a btsnoop capture.
  QAction* recordAction() { return recordAction_; }
  QAction* stopRecordingAction() { return stopRecordingAction_; }
  QAction* fullScreenAction() { return fullScreen_; }
  QAction* fillAction() { return fill_; }
  QAction* fitAction() { return fit_; }
  QAction* connectAtStartAction() { return connectAtStart_; }
  QMenu* recentMenu() { return recent_; }

  // What the page box shows for a page number; 0xFFFFFFFF (a screen) shows nothing.
  void showPageNumber(uint32_t n);
  void disableNavigation();
  // The worker's text for work in progress ("Scanning BT"); empty when done.
  void setStatusText(const QString& text);
  // The connection's state, shown whenever no work in progress is.
  void setConnectionText(const QString& text);
  // A message that does not stop the user (a failure, the device's error report).
  void showMessage(const QString& title, const QString& text);
  // Saves the display as a PNG; false (with the reason) when it cannot.
  bool saveScreenshot(const QString& path, QString& error) const;

  // Recent devices, newest first: File → Recent devices lists them.
  void setRecentDevices(const QStringList& addresses);
  std::function<void(const QString& address)> onRecentDevice;
  // The window is closing (the close box, File → Quit, Ctrl+Q).
  std::function<void()> onClose;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildMenus();
  void showShortcuts();
  void showAbout();

  DisplayArea* display_;
  QPushButton* prev_;
  QPushButton* next_;
  QLineEdit* pageBox_;
  QPushButton* back_;
  QPushButton* connect_;
  QPushButton* disconnect_;
  QCheckBox* reconnect_;
  QLabel* information_;
  QLabel* status_;
  QLabel* device_;
  QLabel* counters_;
  LogDock* log_;
  QAction* connectAction_ = nullptr;
  QAction* disconnectAction_ = nullptr;
  QAction* screenshotAction_ = nullptr;
  QAction* recordAction_ = nullptr;
  QAction* stopRecordingAction_ = nullptr;
  QAction* fullScreen_ = nullptr;
  QAction* fit_ = nullptr;
  QAction* fill_ = nullptr;
  QAction* connectAtStart_ = nullptr;
  QMenu* recent_ = nullptr;
  QString work_;
  QString connection_;
};

// The keyboard's keys, as Help → Keyboard shortcuts lists them: key, what it does.
QList<QPair<QString, QString>> keyboardShortcuts();

}  // namespace okt
