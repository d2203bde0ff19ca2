#pragma once
// What makes a window hard to read, found by walking its widgets: controls on
// top of each other, controls that stick out of their parent, text cut by
// its control, a caption the frame cannot show.
#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QFont>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QWidget>

namespace okt::test {

inline QString describe(const QWidget* w) {
  QString text;
  if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) text = e->text();
  return QString("%1 \"%2\"").arg(w->metaObject()->className(), text.left(20));
}

// The room a control gives its text, or an empty rectangle for a control
// without text of its own.
inline QRect textRoom(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) {
    if (l->text().isEmpty()) return {};
    return l->contentsRect().marginsRemoved(QMargins(l->margin(), l->margin(), l->margin(), l->margin()));
  }
  if (auto* b = qobject_cast<const QPushButton*>(w)) {
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    return b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
  }
  if (auto* c = qobject_cast<const QCheckBox*>(w)) {
    if (c->text().isEmpty()) return {};
    QStyleOptionButton opt;
    opt.initFrom(c);
    opt.text = c->text();
    return c->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, c);
  }
  if (auto* e = qobject_cast<const QLineEdit*>(w)) {
    QStyleOptionFrame opt;
    opt.initFrom(e);
    opt.rect = e->contentsRect();
    opt.lineWidth = e->hasFrame() ? e->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, e) : 0;
    QRect r = e->style()->subElementRect(QStyle::SE_LineEditContents, &opt, e);
    return r.marginsRemoved(e->textMargins()).adjusted(2, 1, -2, -1);  // the line edit's own inner margins
  }
  return {};
}

inline QString shownText(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) {
    // "&x" underlines x and is not drawn; "&&" draws one "&".
    QString t = b->text();
    QString shown;
    for (qsizetype i = 0; i < t.size(); ++i) {
      if (t[i] == '&' && i + 1 < t.size()) ++i;
      shown += t[i];
    }
    return shown;
  }
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->displayText();
  return {};
}

inline bool isControl(const QWidget* w) {
  return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLabel*>(w) ||
         qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSlider*>(w) ||
         qobject_cast<const QAbstractScrollArea*>(w);
}

inline void checkText(const QWidget* w, QStringList& faults) {
  QRect room = textRoom(w);
  if (room.isNull()) return;
  QFontMetrics fm(w->font());
  // A label that shortens its text with "…" by design is never cut.
  if (w->property("elides").toBool()) return;
  if (auto* l = qobject_cast<const QLabel*>(w); l && l->wordWrap()) {
    QRect needed = fm.boundingRect(room, Qt::TextWordWrap | static_cast<int>(l->alignment()), l->text());
    if (needed.width() > room.width() || needed.height() > room.height())
      faults << QString("%1: wrapped text %2x%3 in %4x%5")
                    .arg(describe(w))
                    .arg(needed.width())
                    .arg(needed.height())
                    .arg(room.width())
                    .arg(room.height());
    return;
  }
  QStringList lines = shownText(w).split('\n');
  for (const QString& line : lines)
    if (fm.horizontalAdvance(line) > room.width())
      faults << QString("%1: text %2 wide in %3").arg(describe(w)).arg(fm.horizontalAdvance(line)).arg(room.width());
  int height = static_cast<int>(lines.size()) * fm.lineSpacing() - fm.leading();
  if (height > room.height())
    faults << QString("%1: text %2 high in %3").arg(describe(w)).arg(height).arg(room.height());
}

inline void checkChildren(const QWidget* parent, QStringList& faults) {
  QList<const QWidget*> shown;
  for (const QObject* o : parent->children()) {
    auto* w = qobject_cast<const QWidget*>(o);
    if (w && !w->isWindow() && w->isVisible()) shown << w;
  }
  for (int i = 0; i < shown.size(); ++i) {
    const QWidget* w = shown[i];
    if (!parent->rect().contains(w->geometry()))
      faults << QString("%1 sticks out of %2").arg(describe(w), describe(parent));
    for (int k = i + 1; k < shown.size(); ++k)
      if (w->geometry().intersects(shown[k]->geometry()))
        faults << QString("%1 overlaps %2").arg(describe(w), describe(shown[k]));
    checkText(w, faults);
    if (!isControl(w)) checkChildren(w, faults);
  }
}

// checkCaption: a dialog is as wide as its caption. (A main window the user
// sizes is not: its window manager shortens the caption.)
inline QStringList layoutFaults(const QWidget& d, bool checkCaption = true) {
  QStringList faults;
  checkChildren(&d, faults);
  // The title bar shows the caption beside at least the window's icon and close box.
  QFontMetrics fm(d.font());
  if (checkCaption && d.width() < fm.horizontalAdvance(d.windowTitle()) + 2 * fm.height())
    faults << QString("caption \"%1\" cut at %2").arg(d.windowTitle()).arg(d.width());
  return faults;
}

// The application font `scale` times as large: what a larger screen scale
// does to a layout.
inline QFont scaled(const QFont& normal, int scale) {
  QFont f = normal;
  if (f.pointSizeF() > 0)
    f.setPointSizeF(f.pointSizeF() * scale);
  else
    f.setPixelSize(f.pixelSize() * scale);
  return f;
}

}  // namespace okt::test
