#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <vector>

#include "shell/display_view.h"

namespace okt {

// The display area: shows the last frame the client presented, in the box
// the scale mode gives (the device's shape, or the whole area), drawn at
// the screen's pixel ratio. It follows its size (the new view goes out once
// the size has settled), turns left clicks into view pixels, and lets the
// keyboard walk and press what the display offers. While there is no live
// connection the frame is dimmed under a panel that says why.
class DisplayArea : public QWidget {
 public:
  explicit DisplayArea(QWidget* parent = nullptr);

  void showFrame(const QImage& frame);
  QImage frame() const { return frame_; }
  void setScaleMode(ScaleMode mode);
  ScaleMode scaleMode() const { return mode_; }
  // Where the display sits, and the view drawn for it (in the area's own
  // pixels; frames come at the screen's pixel ratio, ratio() times as many).
  Box box() const;
  ViewRect view() const;
  // The view the client was last told of (what clicks are mapped to until a
  // resize has settled and the client has it).
  ViewRect drawnView() const { return sentView_.right > 0 ? sentView_ : view(); }
  double ratio() const;
  QSize minimumSizeHint() const override;

  void setTargets(const std::vector<DisplayTarget>& targets);
  const std::vector<DisplayTarget>& targets() const { return targets_; }
  int focusedTarget() const { return focused_; }
  // Presses the focused target (a click at its centre).
  void pressFocused();

  // Empty: the connection is live. Otherwise the panel's text; a countdown
  // ("in n s") runs down from `seconds` when it is not 0.
  void setOffline(const QString& text, bool canCancel, bool canReconnect, uint32_t seconds = 0);
  bool isOffline() const { return offline_; }
  QLabel* offlineText() { return offlineText_; }
  QPushButton* cancelButton() { return cancel_; }
  QPushButton* reconnectButton() { return reconnect_; }

  std::function<void(int x, int y)> onClick;                // view pixels
  std::function<void(uint32_t x, uint32_t y)> onPress;      // view units (the keyboard)
  std::function<void(const ViewRect& view)> onViewChanged;  // once a resize has settled
  // Milliseconds a size must hold before the view follows it.
  static constexpr int kSettleMs = 120;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool event(QEvent* event) override;

 private:
  void setFocused(int index);
  void updateCountdown();
  void fitPanel();

  QImage frame_;
  ScaleMode mode_ = ScaleMode::Fit;
  std::vector<DisplayTarget> targets_;
  int focused_ = -1;
  // The ring shows once the keyboard has been used on the display, not for a click.
  bool keyboard_ = false;
  QTimer settle_;
  ViewRect sentView_;
  double sentRatio_ = 1.0;
  bool offline_ = true;
  QWidget* panel_;
  QLabel* offlineText_;
  QPushButton* cancel_;
  QPushButton* reconnect_;
  QString offlineCaption_;
  QTimer countdown_;
  QElapsedTimer countdownClock_;
  uint32_t countdownSeconds_ = 0;
};

// Makes the display area's targets visible to assistive technology, as
// buttons and menu items named by the device's texts. Once per program.
void installDisplayAccessibility();

}  // namespace okt
