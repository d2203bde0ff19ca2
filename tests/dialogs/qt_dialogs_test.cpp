// The dialogs offscreen: controls filled from the data, OK storing them back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "dialogs/qt/dialogs.h"
#include "dialogs/qt/qt_ui_host.h"
#include "platform/tick.h"
#include "support/log_capture.h"
#include "support/messages.h"

namespace okt {
namespace {

DialogTemplate frame() {
  ClientState s;
  return buildEditorTemplate(s, 0xFFFFFF);
}

TEST(EditorDialog, NumberFieldShowsTheValueAndReadsBaseZero) {
  EditorRecord r;
  r.type = VariableType::U16;
  r.value = 88;
  EditorDialog d(EditorKind::Number, frame(), r);
  EXPECT_EQ(d.windowTitle(), "Modify variable");
  EXPECT_EQ(d.field(0)->text(), "88");
  EXPECT_EQ(d.field(0)->height(), 24);  // heights are pixels, whatever the base units
  d.field(0)->setText("0x1F");
  d.okButton()->click();
  EXPECT_EQ(r.value, 31u);
  EXPECT_EQ(r.applied, 1);
}

TEST(EditorDialog, SliderLabelFollowsTheSlider) {
  EditorRecord r;
  r.type = VariableType::U8;
  r.maximum = 10;
  r.value = 7;
  EditorDialog d(EditorKind::Slider, frame(), r);
  EXPECT_EQ(d.sliderLabel()->text(), "Value: 7");
  EXPECT_EQ(d.slider()->tickInterval(), 1);
  d.slider()->setValue(3);
  EXPECT_EQ(d.sliderLabel()->text(), "Value: 3");
  d.okButton()->click();
  EXPECT_EQ(r.value, 3u);
}

TEST(EditorDialog, TimesDatesListsAndWeekdays) {
  EditorRecord hm;
  hm.value = packHourMinute(7, 30);
  EditorDialog a(EditorKind::HourMinute, frame(), hm);
  EXPECT_EQ(a.field(0)->text(), "7");
  a.field(0)->setText("300");
  a.field(1)->setText("5");
  a.okButton()->click();
  EXPECT_EQ(hm.value & 0xFFFF, 0x2C05u);  // written as its low 16 bits

  EditorRecord t;
  t.value = packThree(1, 2, 3);
  EditorDialog b(EditorKind::Time, frame(), t);
  EXPECT_EQ(b.field(2)->text(), "3");
  b.field(0)->setText("12"), b.field(1)->setText("34"), b.field(2)->setText("56");
  b.okButton()->click();
  EXPECT_EQ(t.value, packThree(12, 34, 56));

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

TEST(EditorDialog, CancelStoresNothing) {
  EditorRecord r;
  r.value = 5;
  EditorDialog d(EditorKind::Number, frame(), r);
  d.field(0)->setText("9");
  d.reject();
  EXPECT_EQ(r.value, 5u);
  EXPECT_EQ(r.applied, 0);
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

TEST(PopupDialog, ButtonsAnswerAndTheCloseBoxCancels) {
  PopupRequest r;
  r.buttonLabels = {"Yes", "No", "Help"};
  PopupDialog d(r, nullptr);
  EXPECT_EQ(d.windowTitle(), "Pop-up");
  ASSERT_EQ(d.buttons().size(), 3);
  EXPECT_EQ(d.buttons()[0]->x(), dialogX(&d, 22));
  EXPECT_EQ(d.buttons()[1]->x(), dialogX(&d, 88));
  EXPECT_EQ(d.buttons()[2]->width(), dialogX(&d, 56));
  EXPECT_EQ(d.buttons()[1]->height(), 30);
  d.show();
  QTest::mouseClick(d.buttons()[1], Qt::LeftButton);
  EXPECT_EQ(d.result(), QDialog::Accepted);
  EXPECT_EQ(d.selectedButton(), 1);

  PopupDialog closed(r, nullptr);
  closed.show();
  closed.reject();  // the close box or Escape
  EXPECT_EQ(closed.result(), QDialog::Rejected);
  EXPECT_EQ(closed.selectedButton(), -1);
}

TEST(PopupDialog, OnlyTheFirstEightButtonsAnswer) {
  PopupRequest r;
  r.title = "Ten";
  for (int i = 0; i < 10; ++i) r.buttonLabels.push_back(std::to_string(i));
  PopupDialog d(r, nullptr);
  ASSERT_EQ(d.buttons().size(), 10);
  EXPECT_EQ(d.buttons()[1]->x() - d.buttons()[0]->x(), dialogX(&d, 40) - dialogX(&d, 20));
  d.show();
  QTest::mouseClick(d.buttons()[8], Qt::LeftButton);
  EXPECT_TRUE(d.isVisible());
  EXPECT_EQ(d.selectedButton(), -1);
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
  for (int i = 0; i < 20 && QApplication::activeModalWidget(); ++i) QApplication::processEvents(QEventLoop::AllEvents, 10);
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
