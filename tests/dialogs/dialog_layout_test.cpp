// Every dialog, at the normal font and at twice its size, is checked for what
// makes it hard to read: controls on top of each other, controls that stick
// out of their parent, text cut by its control, a caption the frame cannot
// show. (A Qt scale factor would not do for the large case: it multiplies
// device pixels under an unchanged layout, while a larger font is what
// changes the layout.)
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QApplication>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionFrame>
#include <QTest>
#include <functional>
#include <memory>

#include "dialogs/qt/dialogs.h"

namespace okt {
namespace {

QString describe(const QWidget* w) {
  QString text;
  if (auto* l = qobject_cast<const QLabel*>(w)) text = l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) text = b->text();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) text = e->text();
  return QString("%1 \"%2\"").arg(w->metaObject()->className(), text.left(20));
}

// The room a control gives its text, or an empty rectangle for a control
// without text of its own.
QRect textRoom(const QWidget* w) {
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

QString shownText(const QWidget* w) {
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return QString(b->text()).replace("&&", "&");
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->displayText();
  return {};
}

bool isControl(const QWidget* w) {
  return qobject_cast<const QAbstractButton*>(w) || qobject_cast<const QLabel*>(w) || qobject_cast<const QLineEdit*>(w) ||
         qobject_cast<const QAbstractSlider*>(w) || qobject_cast<const QAbstractScrollArea*>(w);
}

void checkText(const QWidget* w, QStringList& faults) {
  QRect room = textRoom(w);
  if (room.isNull()) return;
  QFontMetrics fm(w->font());
  QStringList lines = shownText(w).split('\n');
  for (const QString& line : lines)
    if (fm.horizontalAdvance(line) > room.width())
      faults << QString("%1: text %2 wide in %3").arg(describe(w)).arg(fm.horizontalAdvance(line)).arg(room.width());
  int height = static_cast<int>(lines.size()) * fm.lineSpacing() - fm.leading();
  if (height > room.height()) faults << QString("%1: text %2 high in %3").arg(describe(w)).arg(height).arg(room.height());
}

void checkChildren(const QWidget* parent, QStringList& faults) {
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
      if (w->geometry().intersects(shown[k]->geometry())) faults << QString("%1 overlaps %2").arg(describe(w), describe(shown[k]));
    checkText(w, faults);
    if (!isControl(w)) checkChildren(w, faults);
  }
}

QStringList layoutFaults(const QDialog& d) {
  QStringList faults;
  checkChildren(&d, faults);
  // The title bar shows the caption beside at least the window's icon and close box.
  QFontMetrics fm(d.font());
  if (d.width() < fm.horizontalAdvance(d.windowTitle()) + 2 * fm.height())
    faults << QString("caption \"%1\" cut at %2").arg(d.windowTitle()).arg(d.width());
  return faults;
}

using Maker = std::function<std::unique_ptr<QDialog>()>;

struct Kind {
  const char* name;
  Maker make;
};

std::vector<Kind> everyKind() {
  static EditorRecord record;  // the editors keep a reference; OK is never pressed on them here
  auto editor = [](EditorKind kind, uint16_t type, uint32_t value, std::function<void(EditorRecord&)> more = {}) {
    return [=]() -> std::unique_ptr<QDialog> {
      ClientState s;
      DialogTemplate frame = buildEditorTemplate(s, 0xFFFFFF);
      frame.caption = u"Modify: Maximum speed of the left-hand conveyor belt (U8)";
      record = EditorRecord{};
      record.type = type, record.value = value;
      if (more) more(record);
      return std::make_unique<EditorDialog>(kind, frame, record);
    };
  };
  auto password = [](uint16_t options, uint8_t maxLength) {
    return [=]() -> std::unique_ptr<QDialog> {
      ClientState s;
      PasswordRequest r;
      r.label = "Enter the service code printed under the battery cover";
      r.options = options, r.allowedChars = 0xF8, r.maxLength = maxLength;
      auto d = std::make_unique<PasswordDialog>(buildPasswordTemplate(s, 0xFFFFFF), r);
      d->entryField()->setText("1234");
      return d;
    };
  };
  auto popup = [](int buttons, bool icon) {
    return [=]() -> std::unique_ptr<QDialog> {
      PopupRequest r;
      r.title = "Filter change due";
      r.message = "The filter has run 2000 hours.\nChange it within a week\nto keep the warranty.";
      if (icon) r.iconId = 0xFF1000;
      for (int i = 0; i < buttons; ++i) r.buttonLabels.push_back("Option & " + std::to_string(i + 1));
      auto square = [](uint32_t, uint32_t width) {
        PixelBuffer p;
        p.width = p.height = width;
        p.pixels.assign(size_t{width} * width * 4, 0x80);
        return std::optional<PixelBuffer>(p);
      };
      return std::make_unique<PopupDialog>(r, square);
    };
  };
  return {
      {"number S32", editor(EditorKind::Number, VariableType::S32, 0x80000000)},
      {"number refusing", [n = editor(EditorKind::Number, VariableType::U16, 1)] {
         auto d = n();
         auto* e = static_cast<EditorDialog*>(d.get());
         e->field(0)->setText("abc");
         e->okButton()->click();  // the word about it shows under the field
         return d;
       }},
      {"text", editor(EditorKind::Text, VariableType::STRING, 0, [](EditorRecord& r) { r.text = "Kitchen, north wall"; })},
      {"slider S32", editor(EditorKind::Slider, VariableType::S32, 0x80000000,
                            [](EditorRecord& r) { r.minimum = 0x80000000, r.maximum = 0x80000050; })},
      {"hour and minute", editor(EditorKind::HourMinute, VariableType::HOUR_MINUTE, packHourMinute(23, 59))},
      {"time", editor(EditorKind::Time, VariableType::TIME, packThree(23, 59, 59))},
      {"date", editor(EditorKind::Date, VariableType::DATE, packThree(31, 12, 99))},
      {"list", editor(EditorKind::List, VariableType::LIST, 1, [](EditorRecord& r) {
         r.choices = {"Eco", "Comfort", "Boost for the first hour after a cold start", "Off", "Holiday", "Frost guard",
                      "Manual", "Night"};
       })},
      {"weekdays", editor(EditorKind::Weekday, VariableType::WEEKDAYS, 0x41)},
      {"password", password(0x00, 0)},
      {"password with Cancel", password(0x10, 0)},
      {"password shown, limited", password(0x50, 6)},
      {"pop-up, no buttons", popup(0, false)},
      {"pop-up, 1 button", popup(1, true)},
      {"pop-up, 3 buttons", popup(3, false)},
      {"pop-up, 8 buttons", popup(8, true)},
  };
}

QFont scaled(const QFont& normal, int scale) {
  QFont f = normal;
  if (f.pointSizeF() > 0) f.setPointSizeF(f.pointSizeF() * scale);
  else f.setPixelSize(f.pixelSize() * scale);
  return f;
}

class Layout : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { QApplication::setFont(scaled(normal_, GetParam())); }
  void TearDown() override { QApplication::setFont(normal_); }
  QFont normal_ = QApplication::font();
};

TEST_P(Layout, NothingOverlapsOrIsCut) {
  for (const Kind& k : everyKind()) {
    std::unique_ptr<QDialog> d = k.make();
    d->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get())) << k.name;
    QStringList faults = layoutFaults(*d);
    EXPECT_TRUE(faults.isEmpty()) << k.name << " at " << GetParam() * 100 << " %:\n  "
                                  << faults.join("\n  ").toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(Scales, Layout, ::testing::Values(1, 2), [](const auto& info) {
  return std::to_string(info.param * 100) + "percent";
});

// The large case is really larger: every dialog widens with its font, and
// all but the pop-up without buttons (its message has a pixel size) grow taller.
TEST(Layout, DialogsGrowWithTheirFont) {
  const QFont normal = QApplication::font();
  for (const Kind& k : everyKind()) {
    QSize sizes[2];
    for (int scale : {1, 2}) {
      QApplication::setFont(scaled(normal, scale));
      std::unique_ptr<QDialog> d = k.make();
      d->show();
      ASSERT_TRUE(QTest::qWaitForWindowExposed(d.get())) << k.name;
      sizes[scale - 1] = d->size();
    }
    EXPECT_GT(sizes[1].width(), sizes[0].width()) << k.name;
    EXPECT_GE(sizes[1].height(), sizes[0].height()) << k.name;
  }
  QApplication::setFont(normal);
}

}  // namespace
}  // namespace okt
