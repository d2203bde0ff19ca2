#include "shell/qt/display_area.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>

namespace okt {

DisplayArea::DisplayArea(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  setAccessibleName("Device display");
  setAutoFillBackground(false);

  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  QObject::connect(&settle_, &QTimer::timeout, this, [this] {
    ViewRect v = view();
    if ((v == sentView_ && ratio() == sentRatio_) || v.right <= 0 || v.bottom <= 0) return;
    sentView_ = v;
    sentRatio_ = ratio();
    if (onViewChanged) onViewChanged(v);
  });

  panel_ = new QWidget(this);
  panel_->setObjectName("offlinePanel");
  panel_->setAutoFillBackground(true);
  offlineText_ = new QLabel(panel_);
  offlineText_->setAlignment(Qt::AlignCenter);
  offlineText_->setWordWrap(true);
  QFont big = offlineText_->font();
  big.setPointSizeF(big.pointSizeF() * 1.3);
  offlineText_->setFont(big);
  cancel_ = new QPushButton("Cancel", panel_);
  reconnect_ = new QPushButton("Reconnect", panel_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(cancel_);
  buttons->addWidget(reconnect_);
  buttons->addStretch();
  auto* inner = new QVBoxLayout(panel_);
  inner->addWidget(offlineText_);
  inner->addLayout(buttons);
  auto* outer = new QVBoxLayout(this);
  outer->addStretch();
  auto* row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(panel_);
  row->addStretch();
  outer->addLayout(row);
  outer->addStretch();

  countdown_.setInterval(250);
  QObject::connect(&countdown_, &QTimer::timeout, this, [this] { updateCountdown(); });
  setOffline("Not connected", false, false);
}

QSize DisplayArea::minimumSizeHint() const {
  // Room for the panel while it shows, and never less than a small display.
  return QWidget::minimumSizeHint().expandedTo(QSize(120, 120));
}

double DisplayArea::ratio() const { return devicePixelRatioF() > 0 ? devicePixelRatioF() : 1.0; }

Box DisplayArea::box() const { return displayBox(width(), height(), mode_); }

ViewRect DisplayArea::view() const { return viewFor(box(), 1.0); }

void DisplayArea::setScaleMode(ScaleMode mode) {
  if (mode == mode_) return;
  mode_ = mode;
  settle_.start();
  update();
}

void DisplayArea::showFrame(const QImage& frame) {
  frame_ = frame;
  // Drawn at the screen's pixel ratio: that many image pixels to a view pixel.
  ViewRect v = drawnView();
  if (v.right > 0 && frame_.width() > v.right)
    frame_.setDevicePixelRatio(static_cast<double>(frame_.width()) / v.right);
  update();
}

void DisplayArea::paintEvent(QPaintEvent*) {
  QPainter p(this);
  // Neutral bars around the display.
  p.fillRect(rect(), palette().color(QPalette::Dark));
  Box b = box();
  QRect target(b.x, b.y, b.width, b.height);
  if (frame_.isNull()) {
    p.fillRect(target, Qt::black);
  } else {
    // Until the redraw at the new size arrives the last frame is stretched.
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, frame_);
  }
  if (offline_) {
    p.fillRect(target, QColor(0, 0, 0, 150));
    return;
  }
  if (keyboard_ && focused_ >= 0 && focused_ < static_cast<int>(targets_.size()) && hasFocus()) {
    // Around the target, not over it: what it shows at its edges stays readable.
    Box t = targetBox(b, targets_[static_cast<size_t>(focused_)]);
    p.setClipRect(rect());
    p.setPen(QPen(palette().color(QPalette::Highlight), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRect(t.x - 2, t.y - 2, t.width + 3, t.height + 3));
    p.setPen(QPen(Qt::white, 1, Qt::DotLine));
    p.drawRect(QRect(t.x - 4, t.y - 4, t.width + 7, t.height + 7));
  }
}

void DisplayArea::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  fitPanel();
  settle_.start();
}

void DisplayArea::fitPanel() {
  // The panel takes most of the width, and its text the lines it wraps to:
  // a long reason is wrapped, never cut.
  int w = std::max(panel_->minimumSizeHint().width(), box().width * 9 / 10);
  panel_->setFixedWidth(w);
  QMargins m = panel_->layout()->contentsMargins();
  offlineText_->setMinimumHeight(offlineText_->heightForWidth(w - m.left() - m.right()));
}

bool DisplayArea::event(QEvent* event) {
  // Moving to a screen of another pixel ratio changes the view too.
  if (event->type() == QEvent::ScreenChangeInternal) settle_.start();
  return QWidget::event(event);
}

void DisplayArea::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || offline_) return;
  keyboard_ = false;
  setFocus(Qt::MouseFocusReason);
  QPointF at = event->position();
  auto pixel = viewPixelAt(box(), drawnView(), at.x(), at.y());
  if (pixel && onClick) onClick(static_cast<int>(pixel->first), static_cast<int>(pixel->second));
}

void DisplayArea::setTargets(const std::vector<DisplayTarget>& targets) {
  if (targets == targets_) return;
  // The same places with new names (a value shown changed) keep the ring
  // where it is; another display starts the walk again at its first target.
  auto samePlace = [](const DisplayTarget& a, const DisplayTarget& b) {
    return a.kind == b.kind && a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
  };
  bool sameDisplay = std::equal(targets.begin(), targets.end(), targets_.begin(), targets_.end(), samePlace);
  targets_ = targets;
  if (!sameDisplay) setFocused(hasFocus() && !targets_.empty() && focused_ >= 0 ? 0 : -1);
  if (QAccessible::isActive()) {
    QAccessibleEvent changed(this, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&changed);
  }
}

void DisplayArea::setFocused(int index) {
  focused_ = index;
  update();
  if (index >= 0 && QAccessible::isActive()) {
    QAccessibleEvent focus(this, QAccessible::Focus);
    focus.setChild(index);
    QAccessible::updateAccessibility(&focus);
  }
}

void DisplayArea::pressFocused() {
  if (offline_ || focused_ < 0 || focused_ >= static_cast<int>(targets_.size())) return;
  auto [x, y] = targetCentre(targets_[static_cast<size_t>(focused_)]);
  if (onPress) onPress(x, y);
}

bool DisplayArea::focusNextPrevChild(bool next) {
  keyboard_ = true;
  if (hasFocus() && !offline_) {
    int step = stepFocus(focused_, static_cast<int>(targets_.size()), !next);
    if (step >= 0) {
      setFocused(step);
      return true;
    }
  }
  focused_ = -1;
  return QWidget::focusNextPrevChild(next);
}

void DisplayArea::focusInEvent(QFocusEvent* event) {
  QWidget::focusInEvent(event);
  if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason) keyboard_ = true;
  if (targets_.empty() || offline_) return;
  if (event->reason() == Qt::BacktabFocusReason)
    setFocused(static_cast<int>(targets_.size()) - 1);
  else if (focused_ < 0)
    setFocused(0);
}

void DisplayArea::focusOutEvent(QFocusEvent* event) {
  QWidget::focusOutEvent(event);
  update();
}

void DisplayArea::keyPressEvent(QKeyEvent* event) {
  if (offline_ || event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return QWidget::keyPressEvent(event);
  int count = static_cast<int>(targets_.size());
  keyboard_ = true;
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: pressFocused(); return;
    case Qt::Key_Up:
    case Qt::Key_Down: {
      // Up and Down stay on the display: they stop at its first and last target.
      int step = stepFocus(focused_, count, event->key() == Qt::Key_Up);
      if (step >= 0) setFocused(step);
      return;
    }
    default: QWidget::keyPressEvent(event);
  }
}

void DisplayArea::setOffline(const QString& text, bool canCancel, bool canReconnect, uint32_t seconds) {
  offline_ = !text.isEmpty();
  offlineCaption_ = text;
  countdownSeconds_ = seconds;
  countdownClock_.start();
  cancel_->setVisible(canCancel);
  reconnect_->setVisible(canReconnect);
  panel_->setVisible(offline_);
  if (seconds)
    countdown_.start();
  else
    countdown_.stop();
  updateCountdown();
  fitPanel();
  if (offline_) focused_ = -1;
  update();
}

void DisplayArea::updateCountdown() {
  if (!countdownSeconds_) {
    offlineText_->setText(offlineCaption_);
    return;
  }
  qint64 left = (int64_t{countdownSeconds_} * 1000 - countdownClock_.elapsed() + 999) / 1000;
  offlineText_->setText(offlineCaption_.arg(std::max<qint64>(left, 0)));
}

// ---- Accessibility ----

namespace {

class TargetAccessible : public QAccessibleInterface {
 public:
  TargetAccessible(DisplayArea* area, int index) : area_(area), index_(index) {}

  bool isValid() const override { return area_ && index_ < static_cast<int>(area_->targets().size()); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override { return area_ ? area_->window()->windowHandle() : nullptr; }
  QList<QPair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation) const override {
    return {};
  }
  QAccessibleInterface* focusChild() const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(area_.data()); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QString text(QAccessible::Text t) const override {
    if (!isValid() || t != QAccessible::Name) return {};
    const DisplayTarget& target = area_->targets()[static_cast<size_t>(index_)];
    if (!target.name.empty()) return QString::fromStdString(target.name);
    return target.kind == DisplayTarget::Kind::MenuRow ? QString("Row %1").arg(index_ + 1)
                                                       : QString("Button %1").arg(index_ + 1);
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid()) return {};
    Box b = targetBox(area_->box(), area_->targets()[static_cast<size_t>(index_)]);
    return QRect(area_->mapToGlobal(QPoint(b.x, b.y)), QSize(b.width, b.height));
  }
  QAccessible::Role role() const override {
    if (!isValid()) return QAccessible::NoRole;
    return area_->targets()[static_cast<size_t>(index_)].kind == DisplayTarget::Kind::MenuRow ? QAccessible::MenuItem
                                                                                              : QAccessible::Button;
  }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.focusable = true;
    s.focused = isValid() && area_->hasFocus() && area_->focusedTarget() == index_;
    s.invisible = !isValid() || area_->isOffline();
    return s;
  }

 private:
  QPointer<DisplayArea> area_;
  int index_;
};

class DisplayAccessible : public QAccessibleWidget {
 public:
  explicit DisplayAccessible(DisplayArea* area) : QAccessibleWidget(area, QAccessible::Client) {}
  ~DisplayAccessible() override {
    for (QAccessible::Id id : ids_) QAccessible::deleteAccessibleInterface(id);
  }

  int childCount() const override {
    // The panel shown while offline is a child too (with its buttons).
    return static_cast<int>(area()->targets().size()) + QAccessibleWidget::childCount();
  }
  QAccessibleInterface* child(int index) const override {
    int targets = static_cast<int>(area()->targets().size());
    if (index < 0) return nullptr;
    if (index >= targets) return QAccessibleWidget::child(index - targets);
    while (static_cast<int>(ids_.size()) <= index) {
      auto* made = new TargetAccessible(area(), static_cast<int>(ids_.size()));
      ids_.push_back(QAccessible::registerAccessibleInterface(made));
    }
    return QAccessible::accessibleInterface(ids_[static_cast<size_t>(index)]);
  }
  int indexOfChild(const QAccessibleInterface* child) const override {
    for (size_t i = 0; i < ids_.size() && i < area()->targets().size(); ++i)
      if (QAccessible::accessibleInterface(ids_[i]) == child) return static_cast<int>(i);
    int other = QAccessibleWidget::indexOfChild(child);
    return other < 0 ? -1 : other + static_cast<int>(area()->targets().size());
  }
  QAccessibleInterface* focusChild() const override {
    int f = area()->focusedTarget();
    return area()->hasFocus() && f >= 0 ? child(f) : QAccessibleWidget::focusChild();
  }

 private:
  DisplayArea* area() const { return static_cast<DisplayArea*>(widget()); }
  mutable std::vector<QAccessible::Id> ids_;
};

QAccessibleInterface* displayAccessibleFactory(const QString&, QObject* object) {
  if (auto* area = dynamic_cast<DisplayArea*>(object)) return new DisplayAccessible(area);
  return nullptr;
}

}  // namespace

void installDisplayAccessibility() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  QAccessible::installFactory(displayAccessibleFactory);
}

}  // namespace okt
