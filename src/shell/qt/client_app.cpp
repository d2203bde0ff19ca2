#include "shell/qt/client_app.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QMetaObject>
#include <QSettings>
#include <QTimer>
#include <atomic>
#include <filesystem>
#include <memory>

#include "ble/qt/connect_dialogs.h"
#include "capture/capture_writer.h"
#include "dialogs/qt/qt_ui_host.h"
#include "engine/engine.h"
#include "engine/wiring.h"
#include "images/svg_render.h"
#include "platform/log.h"
#include "platform/processes.h"
#include "platform/qt/qt_surface.h"
#include "platform/signals.h"
#include "presentation/renderer.h"
#include "protocol/decoder.h"
#include "shell/connection_manager.h"
#include "shell/qt/main_window.h"

namespace okt {

namespace {

constexpr int kRecentDevices = 8;

std::unique_ptr<QSettings> openSettings(const ClientOptions& options) {
  if (!options.settingsFile.empty())
    return std::make_unique<QSettings>(QString::fromStdString(options.settingsFile), QSettings::IniFormat);
  return std::make_unique<QSettings>("OKT", "okt-client");
}

// What the display area says while there is no live connection; empty when there is one.
struct OfflineView {
  QString text;
  bool canCancel = false;
  bool canReconnect = false;
  uint32_t seconds = 0;
};

OfflineView offlineView(const ConnectionState& s, bool knowsDevice, bool everConnected) {
  QString reason = QString::fromStdString(s.reason);
  switch (s.phase) {
    case ConnectionPhase::Downloading:
    case ConnectionPhase::Connected: return {};
    case ConnectionPhase::Idle:
      if (!everConnected)
        return {"Not connected\n" + (reason.isEmpty() ? "Choose Connect to find a device" : reason), false,
                knowsDevice};
      return {reason.isEmpty() ? "Disconnected" : "Disconnected\n" + reason, false, knowsDevice};
    case ConnectionPhase::Scanning: return {"Scanning for devices…"};
    case ConnectionPhase::Connecting: return {reason.isEmpty() ? "Connecting…" : "Connecting: " + reason, true, false};
    case ConnectionPhase::Lost: return {"Lost: " + reason, true, true};
    case ConnectionPhase::Reconnecting:
      // The panel counts the seconds down itself (%1).
      return {"Reconnecting in %1 s…\n(attempt " + QString::number(s.attempt) + ")", true, true, s.nextTrySeconds};
    case ConnectionPhase::Disconnecting: return {"Disconnecting…"};
  }
  return {};
}

}  // namespace

int runClient(QApplication& app, const ClientOptions& options) {
  platform::logText("Killing all previous Videder consoles\n");
  platform::endProcessesNamed("Videder.exe");
  std::error_code cwdError;
  std::string cwd = std::filesystem::current_path(cwdError).string();
  if (!cwdError) platform::logf("Current execution directory: %s\n", cwd.c_str());
  platform::logText("VORNA Configurator  Application\n");
  platform::installSignalHandlers();

  WarbleBinding warble;
  std::string error;
  if (!bindWarble(chooseBleLibrary(options.bleLibrary), warble, error)) {
    platform::logText(error + "\n");
    QMessageBox::critical(nullptr, "ERROR", QString::fromStdString(error));
    return 1;
  }

  std::unique_ptr<QSettings> settings = openSettings(options);
  installDisplayAccessibility();
  MainWindow window;

  // Every console line also goes to the Log dock.
  platform::LogSink previousSink;
  previousSink = platform::setLogSink([&window, &previousSink](const std::string& text) {
    if (previousSink) {
      previousSink(text);
    } else {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fflush(stdout);
    }
    window.logDock()->addText(text);
  });

  AppQueue queue;
  Protocol p;
  initQueue(p.queue);
  Link link(warble, p);
  ConnectFlow flow(warble, link, queue);

  QtUiHost host(&window);
  DisplayArea* area = window.display();
  host.setDisplayRect(area->view());
  host.onFrame = [area](const QImage& frame) { area->showFrame(frame); };
  host.onTargets = [area](const std::vector<DisplayTarget>& targets) { area->setTargets(targets); };
  host.onButton = [&](QtUiHost::Button b, bool on) {
    switch (b) {
      case QtUiHost::Button::Prev: window.prevButton()->setEnabled(on); break;
      case QtUiHost::Button::Next: window.nextButton()->setEnabled(on); break;
      case QtUiHost::Button::Back: window.backButton()->setEnabled(on); break;
      case QtUiHost::Button::PageBox: window.pageBox()->setEnabled(on); break;
    }
  };
  host.onPageNumber = [&](uint32_t n) { window.showPageNumber(n); };
  host.icons = [](uint32_t id, uint32_t w) { return renderIcon(id, w); };

  // Frames are drawn at the screen's pixel ratio: sharp text and lines at 150 % and 200 %.
  std::atomic<double> pixelRatio{area->ratio()};
  Renderer renderer(p, host,
                    [&pixelRatio](int w, int h) { return std::make_unique<QtSurface>(w, h, pixelRatio.load()); });
  renderer.renderSvg = [](const char* t, uint32_t w) { return renderSvg(t, w); };
  renderer.renderIcon = [](uint32_t id, uint32_t w) { return renderIcon(id, w); };
  Engine engine(p, renderer, host);
  wireClient(p, engine, renderer, host);
  p.hooks.sendRequest = [&](const uint8_t* b, uint16_t n) { return link.linkSend(b, n); };
  p.hooks.errorReported = [&window](uint32_t code, uint8_t type, uint32_t id) {
    QString text = QString("The device refused a request: %1 (%2 %3).")
                       .arg(errorCodeName(code), QString(elementTypeName(type)).toLower())
                       .arg(id);
    QMetaObject::invokeMethod(
        &window, [&window, text] { window.showMessage("The device reports an error", text); }, Qt::QueuedConnection);
  };

  // The view follows the display area once its size has settled.
  area->onViewChanged = [&](const ViewRect& view) {
    pixelRatio = area->ratio();
    host.setDisplayRect(view);
    engine.postResize(view);
  };
  area->onClick = [&](int x, int y) { engine.postClick(static_cast<uint32_t>(x), static_cast<uint32_t>(y)); };
  area->onPress = [&](uint32_t x, uint32_t y) { engine.setClick(x, y); };

  ConnectionManager manager(link, flow, queue, engine);
  bool reconnect =
      options.reconnectGiven ? options.reconnect : settings->value("connection/reconnect", options.reconnect).toBool();
  manager.setAutoReconnect(reconnect);
  window.reconnectBox()->setChecked(reconnect);
  QObject::connect(window.reconnectBox(), &QCheckBox::toggled, &window, [&](bool on) {
    manager.setAutoReconnect(on);
    settings->setValue("connection/reconnect", on);
  });
  manager.setStatusText = [&](const std::string& text) {
    QString t = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        &window, [&window, t] { window.setStatusText(t); }, Qt::QueuedConnection);
  };
  manager.errorBox = [&](const std::string& text) {
    QString t = QString::fromStdString(text);
    QMetaObject::invokeMethod(
        &window, [&window, t] { window.showMessage("Error", t); }, Qt::QueuedConnection);
  };

  // Remembered: the devices connected to, the window, the view's choices.
  QStringList recent = settings->value("device/recent").toStringList();
  window.setRecentDevices(recent);
  window.connectAtStartAction()->setChecked(settings->value("connection/atStart", false).toBool());
  QObject::connect(window.connectAtStartAction(), &QAction::toggled, &window,
                   [&](bool on) { settings->setValue("connection/atStart", on); });
  if (settings->value("view/fill", false).toBool()) {
    window.fillAction()->setChecked(true);
    area->setScaleMode(ScaleMode::Fill);
  }
  QObject::connect(window.fillAction(), &QAction::toggled, &window,
                   [&](bool on) { settings->setValue("view/fill", on); });
  window.restoreGeometry(settings->value("window/geometry").toByteArray());
  window.restoreState(settings->value("window/state").toByteArray());
  auto rememberDevice = [&](const QString& address) {
    if (address.isEmpty()) return;
    recent.removeAll(address);
    recent.prepend(address);
    while (recent.size() > kRecentDevices) recent.removeLast();
    settings->setValue("device/recent", recent);
    settings->setValue("device/last", address);
    window.setRecentDevices(recent);
  };

  // The connection's state, on the GUI thread: status bar, the display's
  // panel, navigation, counters, the devices remembered, failures.
  bool everConnected = false;
  QString elements, perSecond, recording;
  auto showCounters = [&] {
    QStringList parts;
    for (const QString& part : {elements, perSecond, recording})
      if (!part.isEmpty()) parts << part;
    window.counters()->setText(parts.join(" · "));
  };
  auto knownDevice = [&] { return QString::fromStdString(link.address()); };
  auto showState = [&](const ConnectionState& s) {
    window.setConnectionText(QString::fromStdString(describeConnection(s)));
    bool live = s.phase == ConnectionPhase::Downloading || s.phase == ConnectionPhase::Connected;
    if (live) everConnected = true;
    OfflineView offline = offlineView(s, !knownDevice().isEmpty(), everConnected);
    area->setOffline(offline.text, offline.canCancel && manager.autoReconnect(), offline.canReconnect, offline.seconds);
    // Disconnect ends a connection, an attempt or a wait for the next one; at rest there is none.
    window.disconnectButton()->setEnabled(s.phase != ConnectionPhase::Idle);
    window.disconnectAction()->setEnabled(s.phase != ConnectionPhase::Idle);
    if (!live) {
      // Without a connection the buttons would do nothing: the drawing enables them again.
      window.disableNavigation();
      area->setTargets({});
    }
    if (s.phase == ConnectionPhase::Downloading && s.announced)
      elements = QString("%1/%2 elements").arg(s.received).arg(s.announced);
    if (s.phase == ConnectionPhase::Connected && s.announced) elements = QString("%1 elements").arg(s.announced);
    if (!live) elements.clear();
    showCounters();
    if (s.phase == ConnectionPhase::Connected) {
      QString address = knownDevice();
      rememberDevice(address);
      window.deviceLabel()->setText(address);
      window.information()->setText(QString::fromStdString(link.deviceSummary()));
    }
    if (s.phase == ConnectionPhase::Idle && s.reason.rfind("Cannot connect", 0) == 0)
      window.showMessage("Connect failed", QString::fromStdString(s.reason));
  };
  engine.connection().setPublish([&window, &showState](const ConnectionState& s) {
    QMetaObject::invokeMethod(
        &window, [&showState, s] { showState(s); }, Qt::QueuedConnection);
  });
  showState(engine.connection().current());

  // Messages per second, in the status bar.
  QTimer rate;
  uint64_t lastCount = 0;
  QObject::connect(&rate, &QTimer::timeout, &window, [&] {
    uint64_t count = p.messagesReceived.load(std::memory_order_relaxed);
    perSecond = QString("%1 msg/s").arg(count - lastCount);
    lastCount = count;
    showCounters();
  });
  rate.start(1000);

  manager.startWorker();
  engine.startControlThread();
  engine.startClientThread();

  QtConnectDialogs dialogs(flow, queue);
  QObject::connect(window.connectButton(), &QPushButton::clicked, &window, [&] {
    // Choosing a device ends the reconnection to the last one, and the link to it.
    manager.stopReconnecting();
    if (link.linkIsReady()) manager.disconnect();
    dialogs.showConnectDialogs();
    if (!link.linkIsReady()) window.disableNavigation();
  });
  QObject::connect(window.disconnectButton(), &QPushButton::clicked, &window, [&] {
    ConnectionPhase phase = engine.connection().current().phase;
    if (link.linkIsReady())
      manager.disconnect();
    else if (phase == ConnectionPhase::Reconnecting || phase == ConnectionPhase::Lost ||
             phase == ConnectionPhase::Connecting)
      manager.stopReconnecting();
  });
  QObject::connect(area->cancelButton(), &QPushButton::clicked, &window, [&] { manager.stopReconnecting(); });
  QObject::connect(area->reconnectButton(), &QPushButton::clicked, &window, [&] {
    ConnectionPhase phase = engine.connection().current().phase;
    if (phase == ConnectionPhase::Reconnecting || phase == ConnectionPhase::Lost)
      manager.reconnectNow();
    else
      manager.connectTo(link.address());
  });
  window.onRecentDevice = [&](const QString& address) {
    if (link.linkIsReady()) manager.disconnect();
    manager.connectTo(address.toStdString());
  };
  QObject::connect(window.screenshotAction(), &QAction::triggered, &window, [&] {
    QString path = QFileDialog::getSaveFileName(&window, "Save screenshot", "okt-display.png", "PNG images (*.png)");
    if (path.isEmpty()) return;
    QString why;
    if (!window.saveScreenshot(path, why)) window.showMessage("Save screenshot", why);
  });
  // Recording: every GATT exchange from now on, into a btsnoop capture.
  std::shared_ptr<capture::CaptureWriter> recorder;
  auto showRecording = [&](const QString& text) {
    recording = text;
    showCounters();
    window.recordAction()->setEnabled(!recorder);
    window.stopRecordingAction()->setEnabled(recorder != nullptr);
  };
  auto startRecording = [&](const std::string& path) {
    std::string why;
    std::shared_ptr<capture::CaptureWriter> writer = capture::CaptureWriter::create(path, why);
    if (!writer) {
      platform::logText(why + "\n");
      window.showMessage("Record session", QString::fromStdString(why));
      return;
    }
    writer->onDropped = [&window, &showRecording](uint64_t n) {
      platform::logf("Recording: %llu exchanges dropped, the file could not keep up\n",
                     static_cast<unsigned long long>(n));
      QString text = QString("recording, %1 dropped").arg(n);
      QMetaObject::invokeMethod(
          &window, [&showRecording, text] { showRecording(text); }, Qt::QueuedConnection);
    };
    recorder = writer;
    link.setRecorder(writer);
    platform::logf("Recording to %s\n", path.c_str());
    showRecording("recording");
  };
  auto stopRecording = [&] {
    if (!recorder) return;
    link.setRecorder(nullptr);
    std::string path = recorder->path();
    recorder.reset();  // what is queued goes to the file
    platform::logf("Recording stopped: %s\n", path.c_str());
    showRecording("");
  };
  QObject::connect(window.recordAction(), &QAction::triggered, &window, [&] {
    QString path = QFileDialog::getSaveFileName(&window, "Record session", "okt-session.btsnoop",
                                                "Bluetooth captures (*.btsnoop)");
    if (!path.isEmpty()) startRecording(path.toStdString());
  });
  QObject::connect(window.stopRecordingAction(), &QAction::triggered, &window, stopRecording);
  if (!options.recordFile.empty()) startRecording(options.recordFile);

  QObject::connect(window.prevButton(), &QPushButton::clicked, &window,
                   [&] { engine.postControl(ControlFlag::PREV_PAGE); });
  QObject::connect(window.nextButton(), &QPushButton::clicked, &window,
                   [&] { engine.postControl(ControlFlag::NEXT_PAGE); });
  QObject::connect(window.backButton(), &QPushButton::clicked, &window, [&] { engine.postControl(ControlFlag::BACK); });
  window.onClose = [&] {
    settings->setValue("window/geometry", window.saveGeometry());
    settings->setValue("window/state", window.saveState());
    app.quit();
  };

  window.show();
  area->setFocus();
  // The command line's device, else the last one when the user asked for that.
  QString last = settings->value("device/last").toString();
  if (!options.connectAddress.empty())
    manager.connectTo(options.connectAddress);
  else if (window.connectAtStartAction()->isChecked() && !last.isEmpty())
    manager.connectTo(last.toStdString());
  app.exec();

  // Ending. Nothing waits for the user or the device from here on: the
  // dialogs close as cancelled, the link's waits end, then the threads.
  if (options.onQuit) options.onQuit();
  rate.stop();
  host.closeDialogs();
  manager.shutdown();
  engine.shutdown();
  queue.stopWorker();
  link.closeDelayMs = 0;
  link.linkClose();
  link.setRecorder(nullptr);
  recorder.reset();
  platform::setLogSink(previousSink);
  settings->sync();
  unbindWarble(warble);
  return 0;
}

}  // namespace okt
