// The dialogs offscreen: controls filled from the data, OK storing them back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <functional>
#include <thread>

#include "dialogs/qt/dialogs.h"
#include "dialogs/qt/qt_ui_host.h"
#include "dialogs/variable_writes.h"
#include "platform/tick.h"
#include "support/log_capture.h"
#include "support/messages.h"

namespace okt {
namespace {

using Bytes = test::VariableWrites::Bytes;
using VT = VariableType;

DialogTemplate frame() {
  ClientState s;
  return buildEditorTemplate(s, 0xFFFFFF);
}

// A variable table and the writes that leave it, with the real editor
// dialogs played by `user`.
class EditThroughTheDialog : public ::testing::Test, public test::VariableWrites, public EditorHost {
 protected:
  int runEditor(EditorKind kind, const DialogTemplate& f, EditorRecord& record) override {
    EditorDialog d(kind, f, record);
    d.show();
    if (!QTest::qWaitForWindowExposed(&d)) return kIdCancel;
    if (user) user(d);
    if (d.isVisible()) d.reject();
    return d.result() == QDialog::Accepted ? kIdOk : kIdCancel;
  }
  // Edits a new variable that holds `stored` and returns what was written.
  std::vector<Bytes> edit(uint16_t type, const Bytes& stored, uint32_t min, uint32_t max) {
    writes.clear();
    variable(++last, type, stored, min, max);
    editVariable(p, *this, last, 0xFFFFFF);
    return writes;
  }

  uint32_t last = 0;
  std::function<void(EditorDialog&)> user;
};

// Each number opens as its type reads it, and what is typed is written in the
// variable's width and shows again when the editor reopens.
TEST_F(EditThroughTheDialog, NumbersShowAndWriteTheirTypesReading) {
  struct Case {
    const char* name;
    uint16_t type;
    Bytes stored;
    const char* shown;
    const char* typed;  // nullptr: OK on what is shown
    Bytes written;
    const char* reopens;
  };
  const uint32_t lo = 0x80000000, hi = 0x7FFFFFFF;  // wide limits: the number editor for every type
  const Case cases[] = {
      {"S8 0", VT::S8, {0x00}, "0", "-128", {0x80}, "-128"},
      {"S8 127", VT::S8, {0x7F}, "127", "-1", {0xFF}, "-1"},
      {"S16 min", VT::S16, {0x80, 0x00}, "-32768", "32767", {0x7F, 0xFF}, "32767"},
      {"S16 max", VT::S16, {0x7F, 0xFF}, "32767", "-32768", {0x80, 0x00}, "-32768"},
      {"S32 min", VT::S32, {0x80, 0, 0, 0}, "-2147483648", "2147483647", {0x7F, 0xFF, 0xFF, 0xFF}, "2147483647"},
      {"S32 max", VT::S32, {0x7F, 0xFF, 0xFF, 0xFF}, "2147483647", "-2147483648", {0x80, 0, 0, 0}, "-2147483648"},
      {"S32 -250", VT::S32, {0xFF, 0xFF, 0xFF, 0x06}, "-250", nullptr, {0xFF, 0xFF, 0xFF, 0x06}, "-250"},
      {"U32 max, hex", VT::U32, {0xFF, 0xFF, 0xFF, 0xFF}, "4294967295", "0x1F", {0, 0, 0, 0x1F}, "31"},
      {"U16 octal", VT::U16, {0, 88}, "88", "017", {0, 15}, "15"},
  };
  for (const Case& c : cases) {
    QString shown;
    user = [&](EditorDialog& d) {
      shown = d.field(0)->text();
      if (c.typed) d.field(0)->setText(c.typed);
      d.okButton()->click();
    };
    EXPECT_EQ(edit(c.type, c.stored, lo, hi), std::vector<Bytes>{c.written}) << c.name;
    EXPECT_EQ(shown.toStdString(), c.shown) << c.name;
    user = [&](EditorDialog& d) { shown = d.field(0)->text(); };  // then Cancel
    editVariable(p, *this, last, 0xFFFFFF);
    EXPECT_EQ(shown.toStdString(), c.reopens) << c.name;
  }
}

TEST_F(EditThroughTheDialog, SlidersRunOverSignedAndHighRanges) {
  struct Case {
    const char* name;
    uint16_t type;
    Bytes stored;
    uint32_t min, max;
    const char* label;
    std::optional<Qt::Key> key;  // Home: to the minimum, End: to the maximum
    Bytes written;
  };
  const Qt::Key home = Qt::Key_Home, end = Qt::Key_End;
  const Case cases[] = {
      {"S8 -5 kept", VT::S8, {0xFB}, 0xFFFFFFF6, 10, "Value: -5", {}, {0xFB}},
      {"S8 to min", VT::S8, {0xFB}, 0xFFFFFFF6, 10, "Value: -10", home, {0xF6}},
      {"S8 to max", VT::S8, {0xFB}, 0xFFFFFFF6, 10, "Value: 10", end, {0x0A}},
      {"S16 all negative", VT::S16, {0xFF, 0x9C}, 0xFFFFFF88, 0xFFFFFFE2, "Value: -30", end, {0xFF, 0xE2}},
      {"S32 lowest", VT::S32, {0x80, 0, 0, 5}, 0x80000000, 0x80000032, "Value: -2147483648", home, {0x80, 0, 0, 0}},
      {"U32 highest",
       VT::U32,
       {0xFF, 0xFF, 0xFF, 0xF0},
       0xFFFFFFA0,
       0xFFFFFFFF,
       "Value: 4294967295",
       end,
       {0xFF, 0xFF, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    QString label;
    user = [&](EditorDialog& d) {
      ASSERT_NE(d.slider(), nullptr) << c.name;
      if (c.key) QTest::keyClick(d.slider(), *c.key);
      label = d.sliderLabel()->text();
      d.okButton()->click();
    };
    EXPECT_EQ(edit(c.type, c.stored, c.min, c.max), std::vector<Bytes>{c.written}) << c.name;
    EXPECT_EQ(label.toStdString(), c.label) << c.name;
  }
}

// What is not a number, or a number the variable cannot hold, keeps the
// dialog open with a word about it and writes nothing; put right, it is written.
TEST_F(EditThroughTheDialog, TextThatIsNoNumberIsRefused) {
  struct Case {
    const char* name;
    uint16_t type;
    Bytes stored;
    int field;
    const char* wrong;
    const char* right;
    Bytes written;
  };
  const Case cases[] = {
      {"number", VT::U16, {0, 1}, 0, "abc", "0x1F", {0, 31}},
      {"number, trailing letters", VT::S16, {0, 1}, 0, "12abc", "-12", {0xFF, 0xF4}},
      {"number, empty", VT::U8, {1}, 0, "", "2", {2}},
      {"number beyond S8", VT::S8, {0}, 0, "-210", "-128", {0x80}},  // not -210 cut to 46
      {"number beyond U16", VT::U16, {0, 1}, 0, "65600", "65535", {0xFF, 0xFF}},
      {"time, seconds", VT::TIME, {1, 2, 3}, 2, "x", "4", {1, 2, 4}},
      {"date, day", VT::DATE, {1, 2, 3}, 0, "first", "9", {9, 2, 3}},
      {"hour and minute, minutes", VT::HOUR_MINUTE, {7, 30}, 1, "half", "15", {7, 15}},
  };
  for (const Case& c : cases) {
    for (bool putRight : {false, true}) {
      user = [&](EditorDialog& d) {
        QLineEdit* f = d.field(c.field);
        f->setText(c.wrong);
        d.okButton()->click();
        EXPECT_TRUE(d.isVisible()) << c.name;
        EXPECT_TRUE(d.problem()->isVisible()) << c.name;
        EXPECT_EQ(QApplication::focusWidget(), f) << c.name;  // back to the field, to be typed over
        EXPECT_EQ(f->selectedText().toStdString(), f->text().toStdString()) << c.name;
        if (!putRight) return;  // then Cancel
        f->setText(c.right);
        d.okButton()->click();
      };
      EXPECT_EQ(edit(c.type, c.stored, 0, 1000), putRight ? std::vector<Bytes>{c.written} : std::vector<Bytes>{})
          << c.name << (putRight ? ", put right" : "");
    }
  }
}

// An editor opens with its value ready to be typed over; nothing typed is
// lost to the buttons.
TEST(EditorDialog, TypingGoesToTheValue) {
  struct Case {
    EditorKind kind;
    uint32_t value;
    const char* typed;
    std::function<QWidget*(EditorDialog&)> focus;
  };
  auto field0 = [](EditorDialog& d) -> QWidget* { return d.field(0); };
  const Case cases[] = {
      {EditorKind::Number, 88, "42", field0},
      {EditorKind::Text, 0, "42", field0},
      {EditorKind::HourMinute, packHourMinute(7, 30), "42", field0},
      {EditorKind::Time, packThree(1, 2, 3), "42", field0},
      {EditorKind::Date, packThree(1, 2, 3), "42", field0},
      {EditorKind::Slider, 3, nullptr, [](EditorDialog& d) -> QWidget* { return d.slider(); }},
      {EditorKind::List, 0, nullptr, [](EditorDialog& d) -> QWidget* { return d.list(); }},
      {EditorKind::Weekday, 0, nullptr, [](EditorDialog& d) -> QWidget* { return d.day(0); }},
  };
  for (const Case& c : cases) {
    EditorRecord r;
    r.type = VariableType::U16;
    r.maximum = 10;
    r.value = c.value;
    r.text = "name";
    r.choices = {"Eco", "Boost"};
    EditorDialog d(c.kind, frame(), r);
    d.show();
    d.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&d));
    QWidget* expected = c.focus(d);
    EXPECT_EQ(QApplication::focusWidget(), expected) << static_cast<int>(c.kind);
    if (!c.typed) continue;
    auto* f = static_cast<QLineEdit*>(expected);
    EXPECT_FALSE(f->text().isEmpty());
    EXPECT_EQ(f->selectedText().toStdString(), f->text().toStdString()) << static_cast<int>(c.kind);
    QTest::keyClicks(QApplication::focusWidget(), c.typed);
    EXPECT_EQ(f->text().toStdString(), c.typed) << static_cast<int>(c.kind);
  }
}

// (Times and dates: through the editor, above.)
TEST(EditorDialog, HoursListsAndWeekdays) {
  EditorRecord hm;
  hm.value = packHourMinute(7, 30);
  EditorDialog a(EditorKind::HourMinute, frame(), hm);
  EXPECT_EQ(a.field(0)->text(), "7");
  a.field(0)->setText("300");
  a.field(1)->setText("5");
  a.okButton()->click();
  EXPECT_EQ(hm.value & 0xFFFF, 0x2C05u);  // written as its low 16 bits

  EditorRecord list;
  list.maximum = 3;
  list.choices = {"Eco", "Boost"};
  EditorDialog c(EditorKind::List, frame(), list);
  ASSERT_EQ(c.list()->count(), 2);
  EXPECT_EQ(c.list()->item(1)->text(), "Boost");
  c.list()->setCurrentRow(1);
  c.okButton()->click();
  EXPECT_EQ(list.value, 1u);

  EditorRecord days;
  EditorDialog e(EditorKind::Weekday, frame(), days);
  e.day(0)->setChecked(true);
  e.day(6)->setChecked(true);
  e.okButton()->click();
  EXPECT_EQ(days.value, 0x41u);
}

PasswordRequest request(uint16_t options, uint16_t allowed, uint8_t maxLength = 0) {
  PasswordRequest r;
  r.label = "Code";
  r.options = options;
  r.allowedChars = allowed;
  r.maxLength = maxLength;
  return r;
}

TEST(PasswordDialog, DisallowedChangesAreUndone) {
  ClientState s;
  PasswordDialog d(buildPasswordTemplate(s, 0xFFFFFF), request(0x10, 0xE0));
  test::LogCapture log;
  d.entryField()->setText("ab1");
  d.entryField()->setText("ab1-");  // a symbol: refused
  EXPECT_EQ(d.entryField()->text(), "ab1");
  EXPECT_EQ(d.entry(), "ab1");
  auto lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "STR: ab1");
  EXPECT_EQ(d.windowTitle(), "Password");
  EXPECT_EQ(d.label()->text(), "Code");
}

TEST(PasswordDialog, OptionsSetTheField) {
  ClientState s;
  PasswordDialog masked(buildPasswordTemplate(s, 0xFFFFFF), request(0x00, 0x20, 4));
  EXPECT_EQ(masked.entryField()->echoMode(), QLineEdit::Password);
  EXPECT_TRUE(masked.cancelButton()->isHidden());  // no Cancel without 0x10
  EXPECT_EQ(masked.entryField()->maxLength(), 4);
  masked.show();
  QTest::keyClicks(masked.entryField(), "12a345");
  EXPECT_EQ(masked.entryField()->text(), "1234");  // digits only, four at most
  PasswordDialog shown(buildPasswordTemplate(s, 0xFFFFFF), request(0x50, 0x40));
  EXPECT_EQ(shown.entryField()->echoMode(), QLineEdit::Normal);
  EXPECT_FALSE(shown.cancelButton()->isHidden());
  shown.show();
  QTest::keyClicks(shown.entryField(), "AbC");
  EXPECT_EQ(shown.entryField()->text(), "abc");  // lower case only
  EXPECT_EQ(shown.entry(), "abc");
  PasswordDialog empty(buildPasswordTemplate(s, 0xFFFFFF), request(0x10, 0xF8));
  EXPECT_EQ(empty.entry(), "");  // an empty entry is a valid answer
}

// Only the first eight buttons answer; the close box cancels.
TEST(PopupDialog, ButtonsAnswerAndTheCloseBoxCancels) {
  PopupRequest r;
  for (int i = 0; i < 10; ++i) r.buttonLabels.push_back(i == 2 ? "Help & more" : std::to_string(i));
  PopupDialog d(r, nullptr);
  EXPECT_EQ(d.windowTitle(), "Pop-up");
  ASSERT_EQ(d.buttons().size(), 10);
  EXPECT_TRUE(d.buttons()[2]->shortcut().isEmpty());  // "Help & more" has no Alt shortcut
  d.show();
  QTest::mouseClick(d.buttons()[8], Qt::LeftButton);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.selectedButton(), -1);
  QTest::mouseClick(d.buttons()[1], Qt::LeftButton);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.selectedButton(), 1);

  PopupDialog closed(r, nullptr);
  closed.show();
  closed.reject();  // the close box or Escape
  EXPECT_EQ(closed.result(), QDialog::Rejected);
  EXPECT_EQ(closed.selectedButton(), -1);
}

}  // namespace
}  // namespace okt

namespace okt {
namespace {

// Answers the next modal dialog that opens by clicking one of its buttons.
void answerNextDialog(const QString& buttonText) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, buttonText] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    for (QPushButton* b : modal->findChildren<QPushButton*>())
      if (b->text() == buttonText) {
        timer->stop();
        timer->deleteLater();
        b->click();
        return;
      }
  });
  timer->start(5);
}

TEST(QtUiHost, ACoreThreadWaitsForTheDialogTheGuiRuns) {
  QWidget owner;
  QtUiHost host(&owner);
  PopupRequest r;
  r.title = "Question";
  r.buttonLabels = {"Yes", "No"};
  std::atomic<int> result{0};
  std::atomic<int32_t> selected{-5};
  std::atomic<bool> done{false};
  answerNextDialog("No");
  std::thread client([&] {
    int32_t s = -1;
    result = host.popupDialog(r, s);
    selected = s;
    done = true;
  });
  while (!done) QApplication::processEvents(QEventLoop::AllEvents, 10);
  client.join();
  EXPECT_EQ(result.load(), kDialogOk);
  EXPECT_EQ(selected.load(), 1);
}

// Dialogs of a connection that has ended are closed as cancelled, and
// refused until allowed again; at the end even an error box lets its caller
// go, with the GUI thread not running its loop (it is ending the threads).
TEST(QtUiHost, ClosedDialogsLetTheirCallersGoAtOnce) {
  QWidget owner;
  QtUiHost host(&owner);
  PopupRequest r;
  r.buttonLabels = {"Yes"};
  std::atomic<int> result{-1};
  std::atomic<bool> done{false};
  auto ask = [&] {
    done = false;
    return std::thread([&] {
      int32_t s = -1;
      result = host.popupDialog(r, s);
      done = true;
    });
  };
  std::thread client = ask();
  // Once the pop-up is on screen (inside its own event loop) the connection ends.
  QTimer poll;
  bool closedWhileOpen = false;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (!dynamic_cast<PopupDialog*>(QApplication::activeModalWidget())) return;
    host.allowDialogs(false);
    client.join();  // let go without waiting for the dialog's loop
    closedWhileOpen = true;
    poll.stop();
  });
  poll.start(10);
  while (!closedWhileOpen) QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(result.load(), kDialogCancel);
  for (int i = 0; i < 20 && QApplication::activeModalWidget(); ++i)
    QApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);  // and the dialog has gone from the screen

  client = ask();  // refused while not allowed: nothing shows
  client.join();
  EXPECT_EQ(result.load(), kDialogCancel);

  std::atomic<bool> boxDone{false};
  std::thread box([&] {
    host.errorBox("Cannot connect to the OKT service");
    boxDone = true;
  });
  platform::sleepMs(50);
  EXPECT_FALSE(boxDone.load());  // error boxes are not a connection's: they wait
  host.closeDialogs();
  box.join();
  QApplication::processEvents();
}

TEST(QtUiHost, FramesAndButtonsArriveOnTheGuiThread) {
  QWidget owner;
  QtUiHost host(&owner);
  QImage got;
  std::vector<std::pair<int, bool>> buttons;
  host.onFrame = [&](const QImage& f) { got = f; };
  host.onButton = [&](QtUiHost::Button b, bool on) { buttons.emplace_back(static_cast<int>(b), on); };
  std::thread client([&] {
    PixelBuffer frame;
    frame.width = 2;
    frame.height = 1;
    frame.pixels = {0, 0, 255, 255, 255, 0, 0, 255};  // red, blue
    host.presentFrame(frame);
    host.disableNavigation();
  });
  client.join();
  QApplication::processEvents();
  ASSERT_EQ(got.size(), QSize(2, 1));
  EXPECT_EQ(got.pixel(0, 0), qRgb(255, 0, 0));
  EXPECT_EQ(buttons.size(), 4u);
}

}  // namespace
}  // namespace okt
