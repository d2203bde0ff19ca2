#pragma once

#include <QCheckBox>
#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

namespace okt {

// The display area: shows the last frame the client presented; a left
// click inside it (its last column and row aside) is reported in pixels.
class DisplayArea : public QLabel {
 public:
  explicit DisplayArea(QWidget* parent);
  void showFrame(const QImage& frame);
  std::function<void(int x, int y)> onClick;

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

// "Operator Kiosk Transport (OKT) Bluetooth Client - V1.01": the display
// area, "<<", ">>", the page box, "BACK", "&Connect", "&Disconnect", the
// device information panel and a status line, laid out in dialog units.
class MainWindow : public QDialog {
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
  QCheckBox* reconnectBox() { return reconnect_; }

  // What the page box shows for a page number; 0xFFFFFFFF (a screen) shows nothing.
  void showPageNumber(uint32_t n);
  void disableNavigation();
  // The worker's text for work in progress ("Scanning BT"); empty when done.
  void setStatusText(const QString& text);
  // The connection's state, shown whenever no work in progress is.
  void setConnectionText(const QString& text);

 private:
  QPushButton* button(const QString& text, int x, int y, int w, int h);

  DisplayArea* display_;
  QPushButton* prev_;
  QPushButton* next_;
  QLineEdit* pageBox_;
  QPushButton* back_;
  QPushButton* connect_;
  QPushButton* disconnect_;
  QLabel* information_;
  QLabel* status_;
  QCheckBox* reconnect_;
  QString work_;
  QString connection_;
};

// Ends every process of this user whose executable is named `name`, never
// this process. Returns how many were ended.
int killProcessesNamed(const std::string& name);

}  // namespace okt
