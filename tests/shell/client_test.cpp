// The whole desktop client offscreen, driven as a user would, with the
// emulator's Bluetooth library.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest/QTest>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include <QMessageBox>

#include "ble/binding.h"
#include "ble/qt/connect_dialogs.h"
#include "capture/btsnoop.h"
#include "dialogs/qt/dialogs.h"
#include "platform/tick.h"
#include "shell/qt/client_app.h"
#include "shell/qt/main_window.h"
#include "support/layout_faults.h"
#include "support/log_capture.h"
#include "support/quit_bound.h"

namespace okt {
namespace {

// Steps run one after another, each when its condition holds.
class Driver {
 public:
  struct Step {
    std::function<bool()> ready;
    std::function<void()> act;
  };
  void add(std::function<bool()> ready, std::function<void()> act) { steps_.push_back({ready, act}); }
  void start() {
    timer_.setInterval(20);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (next_ >= steps_.size()) return;
      if (!steps_[next_].ready()) return;
      // From a single shot of its own: an action may open a modal dialog, and a
      // timer does not fire again while its handler is still running.
      QTimer::singleShot(0, steps_[next_++].act);
    });
    timer_.start();
  }
  size_t done() const { return next_; }

 private:
  std::vector<Step> steps_;
  size_t next_ = 0;
  QTimer timer_;
};

MainWindow* mainWindow() {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (auto* m = dynamic_cast<MainWindow*>(w); m && m->isVisible()) return m;
  return nullptr;
}

template <typename T>
T* modal() {
  return dynamic_cast<T*>(QApplication::activeModalWidget());
}
template <typename T>
bool modalIs() {
  return modal<T>() != nullptr;
}
ScanDialog* scanDialog() { return modal<ScanDialog>(); }

// The emulator library's options, as the client has it loaded.
void configureEmulator(std::vector<std::pair<const char*, const char*>> options) {
  static WarbleBinding w;
  static bool bound = [] {
    std::string error;
    return bindWarble(OKT_WARBLE_EMULATOR, w, error);
  }();
  ASSERT_TRUE(bound);
  std::vector<WarbleOption> o;
  for (auto& [k, v] : options) o.push_back({k, v});
  w.warble_lib_config(static_cast<int32_t>(o.size()), o.data());
}

// "&Connect", "&Scan": the scan dialog scanning.
void startScanning(Driver& d) {
  d.add([] { return mainWindow() != nullptr; }, [] { mainWindow()->connectButton()->click(); });
  d.add([] { return scanDialog() != nullptr; }, [] { scanDialog()->scanButton()->click(); });
}

// Then the demo chosen, "&Connect": the steps up to the connecting dialog.
// `found` runs once the scan lists the demo.
void chooseTheDemo(
    Driver& d, std::function<void()> found = [] {}) {
  startScanning(d);
  d.add(
      [] {
        scanDialog()->refresh();
        return scanDialog()->list()->topLevelItemCount() > 0;
      },
      [found] {
        found();
        ScanDialog* s = scanDialog();
        s->list()->setCurrentItem(s->list()->topLevelItem(0));
        s->connectButton()->click();
      });
}

// A click at a point of the view, in view units, as the mouse would make it.
void clickAt(uint32_t ux, uint32_t uy) {
  DisplayArea* a = mainWindow()->display();
  ViewRect v = a->drawnView();
  a->onClick(static_cast<int>(uint64_t{ux} * static_cast<uint32_t>(v.right) / 65536),
             static_cast<int>(uint64_t{uy} * static_cast<uint32_t>(v.bottom) / 65536));
}
// The middle of menu row k of the page shown.
void clickRow(int k) { clickAt(32768, 6144 + 9728 * k + 4000); }

// On page 2 of the home menu: row `menuRow`, then row `itemRow` of the menu
// it leads to.
void openFromPage2(Driver& d, int menuRow, int itemRow) {
  d.add([] { return mainWindow()->pageBox()->text() == "1"; }, [=] { clickRow(menuRow); });
  d.add([] { return mainWindow()->pageBox()->text() == "0"; }, [=] { clickRow(itemRow); });
}

bool showsConnected() {
  return mainWindow() && mainWindow()->status()->text() == "Connected" && !QApplication::activeModalWidget();
}

// Runs the client with the driver's steps; fails instead of hanging.
int runDriven(Driver& d, test::LogCapture& log, ClientOptions options = {}) {
  d.start();
  QTimer watchdog;
  watchdog.setSingleShot(true);
  QObject::connect(&watchdog, &QTimer::timeout, [&] {
    ADD_FAILURE() << "stuck after step " << d.done();
    for (const std::string& line : log.lines())
      if (line.rfind("NOTIF", 0) != 0) std::fprintf(stderr, "%s\n", line.c_str());
    if (QWidget* modal = QApplication::activeModalWidget()) modal->close();
    if (MainWindow* w = mainWindow()) w->close();
  });
  watchdog.start(90000);
  options.bleLibrary = OKT_WARBLE_EMULATOR;
  // Settings of its own: nothing remembered from another run (or the user's).
  QTemporaryDir settings;
  if (options.settingsFile.empty()) options.settingsFile = settings.filePath("okt-client.ini").toStdString();
  return runClient(*qApp, options);
}

// Each walk starts from the emulator's demo as it was loaded, with the
// console's lines captured and the driver's steps still to be added.
class OktClient : public ::testing::Test {
 protected:
  void SetUp() override { configureEmulator({{"reset", ""}}); }
  test::LogCapture log;
  Driver d;
};

// The demo connected, a screen and back, a value edited, Disconnect, quit.
// With --record: the session goes to a capture from the start, named as the
// scan showed the device; File → Stop recording ends it, and the menu offers
// Record session… again.
TEST_F(OktClient, ConnectRecordClickGoBackEditAValueDisconnectAndQuit) {
  QTemporaryDir dir;
  std::string path = dir.filePath("session.btsnoop").toStdString();
  d.add([] { return mainWindow() != nullptr; },
        [] {
          EXPECT_TRUE(mainWindow()->counters()->text().contains("recording"));
          EXPECT_FALSE(mainWindow()->recordAction()->isEnabled());
        });
  chooseTheDemo(d);
  // The connecting dialog closes itself after "System READY"; the home menu is drawn.
  d.add([] { return showsConnected() && !mainWindow()->display()->frame().isNull(); },
        [] {
          MainWindow* w = mainWindow();
          EXPECT_TRUE(w->information()->text().startsWith("MAC: 0C:0C:0C:00:00:01"));
          clickRow(0);  // Buttons
        });
  d.add(
      [&] {
        return log.text().find("REDO Draw: Redrawing Screen 1") != std::string::npos &&
               mainWindow()->backButton()->isEnabled();
      },
      [] {
        mainWindow()->stopRecordingAction()->trigger();
        EXPECT_TRUE(mainWindow()->recordAction()->isEnabled());
        EXPECT_FALSE(mainWindow()->stopRecordingAction()->isEnabled());
        EXPECT_FALSE(mainWindow()->counters()->text().contains("recording"));
        mainWindow()->backButton()->click();
      });
  // A value edit: page 2, "Settings", the speed row opens its number editor.
  d.add(
      [&] {
        return log.text().rfind("REDO Draw: Redrawing Menu 0") > log.text().find("Redrawing Screen 1") &&
               mainWindow()->nextButton()->isEnabled();
      },
      [] { mainWindow()->nextButton()->click(); });
  openFromPage2(d, 3, 3);
  d.add(modalIs<EditorDialog>, [] {
    modal<EditorDialog>()->field(0)->setText("123");
    modal<EditorDialog>()->okButton()->click();
  });
  d.add([&] { return log.text().find("[LNK] Sending request with 15 bytes - 0008") != std::string::npos; },
        [] { mainWindow()->disconnectButton()->click(); });
  d.add(
      [&] {
        return log.text().find("REDO Ctrl: Disconnect from OKT Server") != std::string::npos &&
               mainWindow()->status()->text().startsWith("Idle");
      },
      [] {
        // Disconnected looks disconnected: the frame dimmed under a panel, nothing to press.
        MainWindow* w = mainWindow();
        EXPECT_TRUE(w->display()->isOffline());
        EXPECT_TRUE(w->display()->offlineText()->text().startsWith("Disconnected"));
        EXPECT_FALSE(w->prevButton()->isEnabled() || w->nextButton()->isEnabled() || w->backButton()->isEnabled());
        EXPECT_TRUE(w->display()->targets().empty());
        // The console's lines are in the Log dock too, and Save writes them.
        w->logDock()->flush();
        EXPECT_TRUE(w->logDock()->text()->toPlainText().contains("System READY"));
        QTemporaryDir dir;
        QString error;
        ASSERT_TRUE(w->logDock()->saveTo(dir.filePath("okt.log"), error)) << error.toStdString();
        QFile saved(dir.filePath("okt.log"));
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        EXPECT_TRUE(saved.readAll().contains(">>Closing device"));
        EXPECT_FALSE(w->logDock()->saveTo(dir.filePath("no/such/dir/okt.log"), error));
        EXPECT_TRUE(error.startsWith("Cannot write")) << error.toStdString();
        w->close();  // the close box: quit
      });
  ClientOptions options;
  options.recordFile = path;
  EXPECT_EQ(runDriven(d, log, options), 0);
  EXPECT_EQ(d.done(), 12u);  // every step ran
  std::string text = log.text();
  EXPECT_NE(text.find("VORNA Configurator  Application"), std::string::npos);
  EXPECT_NE(text.find("WARBLE 1.2.0-okt-emulator!"), std::string::npos);
  EXPECT_NE(text.find("System READY"), std::string::npos);
  EXPECT_NE(text.find("REDO Ctrl: task finished"), std::string::npos);
  EXPECT_EQ(text.find("Connection: Reconnecting"), std::string::npos);  // the user's Disconnect is final
  EXPECT_NE(text.find("Recording to " + path), std::string::npos);
  EXPECT_NE(text.find("Recording stopped: " + path), std::string::npos);
  capture::Capture c;
  std::string error;
  ASSERT_TRUE(capture::readCapture(path, c, error)) << error;
  EXPECT_EQ(c.name, "OKT Demo");
  size_t writes = 0, notifications = 0;
  for (const capture::AttEvent& e : c.events) {
    writes += e.opcode == capture::ATT_WRITE_REQUEST && e.handle == capture::kHandleRequest;
    notifications += e.opcode == capture::ATT_NOTIFICATION;
  }
  EXPECT_GE(writes, 4u);  // GET_INFO and the three GETs at least
  EXPECT_GT(notifications, 100u);
}

// A picture of a window as the user sees it: on an X server (Xvfb) what the
// server shows, frame included; else the window drawn off screen.
void snapshot(QWidget* w, const QString& file) {
  QElapsedTimer settle;
  settle.start();
  while (settle.elapsed() < 600) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  QRect r = w->frameGeometry();
  QPixmap picture = QGuiApplication::platformName() == "xcb"
                        ? w->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height())
                        : w->grab();
  EXPECT_TRUE(picture.save(file)) << file.toStdString();
}

// OKT_SCREENSHOTS=DIR: the pictures the README shows (scripts/screenshot):
// the scan dialog while it scans, the main window at two sizes, an editor,
// the log dock.
TEST_F(OktClient, Screenshots) {
  const char* dir = std::getenv("OKT_SCREENSHOTS");
  if (!dir) GTEST_SKIP() << "OKT_SCREENSHOTS is not set";
  QString out = QString::fromUtf8(dir) + "/";
  chooseTheDemo(d, [out] { snapshot(scanDialog(), out + "scan-dialog.png"); });
  d.add(showsConnected, [out] {
    snapshot(mainWindow(), out + "main-window.png");
    mainWindow()->resize(1000, 720);
  });
  d.add(
      [] {
        QImage f = mainWindow()->display()->frame();
        ViewRect v = mainWindow()->display()->view();
        return mainWindow()->width() >= 1000 && f.width() == v.right && f.height() == v.bottom;
      },
      [out] {
        snapshot(mainWindow(), out + "main-window-wide.png");
        mainWindow()->resize(520, 760);
        mainWindow()->nextButton()->click();
      });
  openFromPage2(d, 3, 3);  // Settings, the speed's editor
  d.add(modalIs<EditorDialog>, [out] {
    snapshot(modal<EditorDialog>(), out + "editor.png");
    modal<EditorDialog>()->reject();
  });
  d.add([] { return QApplication::activeModalWidget() == nullptr; },
        [out] {
          mainWindow()->logDock()->show();
          mainWindow()->resize(760, 900);
          snapshot(mainWindow(), out + "log-dock.png");
          mainWindow()->close();
        });
  EXPECT_EQ(runDriven(d, log), 0);
  EXPECT_EQ(d.done(), 9u);
}

// The demo's "Drop the link" row: the device goes away; the window says so,
// reconnects by itself and comes back on the same menu page.
TEST_F(OktClient, TheDemoDropsItsLinkAndTheClientComesBack) {
  chooseTheDemo(d);
  d.add(showsConnected, [] { mainWindow()->nextButton()->click(); });
  d.add([] { return mainWindow()->pageBox()->text() == "1"; }, [] { clickRow(4); });  // "Drop the link"
  // The status line says what is going on, and the buttons wait for the device.
  d.add([] { return mainWindow()->status()->text() == "Reconnecting (attempt 1, next try in 1 s)"; },
        [] {
          EXPECT_FALSE(mainWindow()->nextButton()->isEnabled());
          DisplayArea* a = mainWindow()->display();
          EXPECT_TRUE(a->isOffline());
          EXPECT_TRUE(a->offlineText()->text().startsWith("Reconnecting in "))
              << a->offlineText()->text().toStdString();
          EXPECT_TRUE(a->cancelButton()->isVisible());
        });
  d.add([&] { return showsConnected() && mainWindow()->pageBox()->text() == "1"; }, [] { mainWindow()->close(); });
  EXPECT_EQ(runDriven(d, log), 0);
  EXPECT_EQ(d.done(), 7u);  // the order of the connection's phases: the lifecycle tests
}

// The SEND_EVENT requests the client wrote since `from`: event and source
// (the request counter left out).
std::vector<std::string> eventsWritten(test::LogCapture& log, size_t from) {
  std::vector<std::string> out;
  const std::string marker = "[LNK] Sending request with ";
  std::vector<std::string> lines = log.lines();
  for (size_t i = from; i < lines.size(); ++i) {
    size_t at = lines[i].find(" bytes - 000C");
    if (lines[i].rfind(marker, 0) == 0 && at != std::string::npos) out.push_back(lines[i].substr(at + 9 + 12, 12));
  }
  return out;
}

// The window grows, the view follows it; then the demo is walked with the
// keyboard alone, and a key press sends what the mouse's click sends.
TEST_F(OktClient, TheViewFollowsTheWindowAndTheKeyboardDoesWhatTheMouseDoes) {
  ViewRect first;
  size_t mark = 0;
  auto area = [] { return mainWindow()->display(); };
  auto frameFits = [area] {
    QImage f = area()->frame();
    ViewRect v = area()->view();
    return !f.isNull() && f.width() == v.right && f.height() == v.bottom;
  };
  auto key = [](QWidget* to, Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) { QTest::keyClick(to, k, m); };
  d.add([frameFits] { return showsConnected() && frameFits(); },
        [&] {
          first = area()->view();
          mainWindow()->resize(mainWindow()->width() + 300, mainWindow()->height() + 200);
        });
  // One redraw at the new size once it has settled; the device's shape is kept.
  d.add([&] { return frameFits() && area()->view().bottom > first.bottom; },
        [&] {
          Box b = area()->box();
          EXPECT_NEAR(static_cast<double>(b.width) / b.height, 450.0 / 553, 0.01);
          EXPECT_GT(b.x, 0);  // bars beside it
          mainWindow()->fillAction()->trigger();
        });
  d.add([&] { return frameFits() && area()->box().width == area()->width(); },
        [&] {
          // Escape does not quit; the keyboard walks the home menu's rows.
          mainWindow()->activateWindow();
          EXPECT_TRUE(QTest::qWaitForWindowActive(mainWindow(), 2000));
          key(mainWindow(), Qt::Key_Escape);
          EXPECT_TRUE(mainWindow()->isVisible());
          area()->setFocus(Qt::TabFocusReason);  // enters at the first row
          key(area(), Qt::Key_Down);
          key(area(), Qt::Key_Up);
          key(area(), Qt::Key_Return);  // "Buttons"
        });
  d.add(
      [&] {
        return log.text().find("REDO Draw: Redrawing Screen 1") != std::string::npos && frameFits() &&
               area()->targets().size() == 6 && area()->targets()[0].kind == DisplayTarget::Kind::Button;
      },
      [&] {
        // The screen's buttons, named by their texts, for assistive technology too.
        QAccessibleInterface* display = QAccessible::queryAccessibleInterface(area());
        std::vector<std::string> names;
        for (int i = 0; i < display->childCount(); ++i)
          if (display->child(i)->role() == QAccessible::Button && display->child(i)->object() == nullptr)
            names.push_back(display->child(i)->text(QAccessible::Name).toStdString());
        EXPECT_EQ(names,
                  (std::vector<std::string>{"Style 0: plain", "Style 1: count", "Style 2: rename", "Send a fault",
                                            "Recolour", "0 times"}));  // the presses box, named by its value
        mark = log.lines().size();
        key(area(), Qt::Key_Tab);  // "Style 1: count"
        EXPECT_EQ(area()->focusedTarget(), 1);
        key(area(), Qt::Key_Space);
      });
  d.add([&] { return eventsWritten(log, mark).size() == 1; },
        [&] {
          Box b = targetBox(area()->box(), area()->targets()[1]);
          QTest::mouseClick(area(), Qt::LeftButton, {}, QPoint(b.x + b.width / 2, b.y + b.height / 2));
        });
  d.add([&] { return eventsWritten(log, mark).size() == 2; },
        [&] {
          auto sent = eventsWritten(log, mark);
          EXPECT_EQ(sent[0], sent[1]);
          key(mainWindow(), Qt::Key_Backspace);  // BACK
        });
  d.add([&] { return mainWindow()->pageBox()->text() == "0" && mainWindow()->nextButton()->isEnabled(); },
        [&] { key(mainWindow(), Qt::Key_PageDown); });
  d.add([] { return mainWindow()->pageBox()->text() == "1"; },
        [&] { key(mainWindow(), Qt::Key_Q, Qt::ControlModifier); });
  ClientOptions options;
  options.connectAddress = "0C:0C:0C:00:00:01";
  EXPECT_EQ(runDriven(d, log, options), 0);
  EXPECT_EQ(d.done(), 8u);
}

// The main window and the scan dialog at the normal font and at twice its
// size: nothing overlaps or is cut, with the longest texts they show.
class WindowLayout : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { QApplication::setFont(test::scaled(normal_, GetParam())); }
  void TearDown() override { QApplication::setFont(normal_); }
  QFont normal_ = QApplication::font();
};

TEST_P(WindowLayout, NothingOverlapsOrIsCut) {
  MainWindow w;
  w.setConnectionText("Reconnecting (attempt 12, next try in 30 s)");
  w.deviceLabel()->setText("0C:0C:0C:00:00:01");
  w.counters()->setText("1234/1234 elements · 88 msg/s");
  w.information()->setText(
      "MAC: 0C:0C:0C:00:00:01\nFwVer: 1.01\nModel: OKT-DEMO  -  HW Rev ID: B\nSerial Number: DEMO-0001");
  w.display()->setOffline("Lost: The device stopped answering", true, true);
  w.logDock()->show();
  // The window as large as the font: twice the font is what a 200 % screen
  // does to text, and it does the same to the window.
  w.resize(520 * GetParam(), 760 * GetParam());
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  QTest::qWait(50);  // the panel's text wraps to its width, then the layout follows
  QStringList faults = test::layoutFaults(w, false);
  EXPECT_TRUE(faults.isEmpty()) << "main window at " << GetParam() * 100 << " %:\n  "
                                << faults.join("\n  ").toStdString();

  WarbleBinding warble;
  std::string error;
  ASSERT_TRUE(bindWarble(OKT_WARBLE_EMULATOR, warble, error)) << error;
  AppQueue queue;
  Protocol p;
  Link link(warble, p);
  ConnectFlow flow(warble, link, queue);
  ScanDialog scan(flow, queue);
  scan.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&scan));
  faults = test::layoutFaults(scan);
  EXPECT_TRUE(faults.isEmpty()) << "scan dialog at " << GetParam() * 100 << " %:\n  "
                                << faults.join("\n  ").toStdString();
  scan.reject();
  unbindWarble(warble);
}

INSTANTIATE_TEST_SUITE_P(Scales, WindowLayout, ::testing::Values(1, 2),
                         [](const auto& info) { return std::to_string(info.param * 100) + "percent"; });

// Closing the window ends the client at once, idle or with any of its
// dialogs open: they close as cancelled and nothing waits for the device.
// (Quitting in the connection's own states, a write pending or a
// reconnection among them, is the lifecycle tests'.)
struct QuitCase {
  const char* name;
  std::function<void(Driver&, test::LogCapture&)> reach;
};

class QuitTheClient : public OktClient, public ::testing::WithParamInterface<QuitCase> {};

TEST_P(QuitTheClient, EndsAtOnce) {
  GetParam().reach(d, log);
  QElapsedTimer sinceClose;
  d.add([] { return true; },
        [&] {
          platform::sleepMs(50);  // well inside whatever the state waits for
          sinceClose.start();
          mainWindow()->close();
        });
  EXPECT_EQ(runDriven(d, log), 0);
  EXPECT_TRUE(sinceClose.isValid()) << "the state was never reached";
  EXPECT_LT(sinceClose.elapsed(), test::kQuitBoundMs) << GetParam().name;
  std::printf("%s: ended %lld ms after the window closed\n", GetParam().name,
              static_cast<long long>(sinceClose.elapsed()));
}

// Opens a dialog from the demo: page 2 of the home menu, row `menuRow`, then
// row `itemRow` of the menu it leads to.
void openFromTheDemo(Driver& d, int menuRow, int itemRow, std::function<bool()> open) {
  chooseTheDemo(d);
  d.add(showsConnected, [] { mainWindow()->nextButton()->click(); });
  openFromPage2(d, menuRow, itemRow);
  d.add(open, [] {});
}

INSTANTIATE_TEST_SUITE_P(
    States, QuitTheClient,
    ::testing::Values(QuitCase{"Idle", [](Driver&, test::LogCapture&) {}},
                      QuitCase{"Scanning", [](Driver& d, test::LogCapture&) { startScanning(d); }},
                      QuitCase{"ConnectingWithAnUnansweredCall",
                               [](Driver& d, test::LogCapture& log) {
                                 configureEmulator({{"handler-delay-ms", "60000"}});
                                 chooseTheDemo(d);
                                 d.add([&] { return log.text().find("Opening GATT") != std::string::npos; }, [] {});
                               }},
                      QuitCase{"ShowingTheErrorBoxOfADeviceThatNeverAnswers",
                               [](Driver& d, test::LogCapture&) {
                                 configureEmulator({{"ignore-requests", "1"}});
                                 chooseTheDemo(d);
                                 d.add(modalIs<QMessageBox>, [] {});
                               }},
                      QuitCase{"WithAPopupOpen",
                               [](Driver& d, test::LogCapture&) { openFromTheDemo(d, 0, 1, modalIs<PopupDialog>); }},
                      QuitCase{"WithAPasswordPromptOpen",
                               [](Driver& d, test::LogCapture&) { openFromTheDemo(d, 1, 0, modalIs<PasswordDialog>); }},
                      QuitCase{"WithAnEditorOpen",
                               [](Driver& d, test::LogCapture&) { openFromTheDemo(d, 3, 1, modalIs<EditorDialog>); }}),
    [](const ::testing::TestParamInfo<QuitCase>& info) { return info.param.name; });

}  // namespace
}  // namespace okt
