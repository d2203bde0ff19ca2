#include "shell/qt/client_app.h"

#include <QMessageBox>
#include <QMetaObject>
#include <csignal>
#include <cstring>
#include <unistd.h>

#include "ble/qt/connect_dialogs.h"
#include "dialogs/qt/qt_ui_host.h"
#include "engine/engine.h"
#include "shell/connection_manager.h"
#include "engine/wiring.h"
#include "images/svg_render.h"
#include "platform/log.h"
#include "platform/qt/qt_surface.h"
#include "presentation/renderer.h"
#include "shell/qt/main_window.h"

namespace okt {

namespace {

extern "C" void onSignal(int sig) {
  const char* line = "Caught SIGTERM: a termination request was sent to the program\n";
  switch (sig) {
    case SIGINT: line = "Caught SIGINT: interactive attention signal, probably a ctrl+c\n"; break;
    case SIGILL: line = "Caught SIGILL: illegal instruction\n"; break;
    case SIGFPE: line = "Caught SIGFPE: arithmetic exception, such as divide by zero\n"; break;
    case SIGSEGV: line = "Caught SIGSEGV: segfault\n"; break;
    case SIGABRT: line = "Caught SIGABRT: usually caused by an abort() or assert()\n"; break;
    default: break;
  }
  ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
  (void)ignored;
  _exit(1);
}

}  // namespace

void installSignalHandlers() {
  for (int sig : {SIGABRT, SIGFPE, SIGILL, SIGINT, SIGSEGV, SIGTERM}) std::signal(sig, onSignal);
}

int runClient(QApplication& app, const ClientOptions& options) {
  platform::logText("Killing all previous Videder consoles\n");
  killProcessesNamed("Videder.exe");
  char cwd[261];
  if (getcwd(cwd, sizeof cwd)) platform::logf("Current execution directory: %s\n", cwd);
  platform::logText("VORNA Configurator  Application\n");
  installSignalHandlers();

  WarbleBinding warble;
  std::string error;
  if (!bindWarble(chooseBleLibrary(options.bleLibrary), warble, error)) {
    platform::logText(error + "\n");
    QMessageBox::critical(nullptr, "ERROR", QString::fromStdString(error));
    return 1;
  }

  AppQueue queue;
  Protocol p;
  initQueue(p.queue);
  Link link(warble, p);
  ConnectFlow flow(warble, link, queue);

  MainWindow window;
  QtUiHost host(&window);
  host.setDisplayRect({0, 0, window.display()->width(), window.display()->height()});
  host.onFrame = [&](const QImage& frame) { window.display()->showFrame(frame); };
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

  Renderer renderer(p, host, [](int w, int h) { return std::make_unique<QtSurface>(w, h); });
  renderer.renderSvg = [](const char* t, uint32_t w) { return renderSvg(t, w); };
  renderer.renderIcon = [](uint32_t id, uint32_t w) { return renderIcon(id, w); };
  Engine engine(p, renderer, host);
  wireClient(p, engine, renderer, host);
  p.hooks.sendRequest = [&](const uint8_t* b, uint16_t n) { return link.linkSend(b, n); };

  ConnectionManager manager(link, flow, queue, engine);
  manager.setAutoReconnect(options.reconnect);
  window.reconnectBox()->setChecked(options.reconnect);
  QObject::connect(window.reconnectBox(), &QCheckBox::toggled, &window, [&](bool on) { manager.setAutoReconnect(on); });
  manager.setStatusText = [&](const std::string& text) {
    QString t = QString::fromStdString(text);
    QMetaObject::invokeMethod(&window, [&window, t] { window.setStatusText(t); }, Qt::QueuedConnection);
  };
  manager.errorBox = [&](const std::string& text) {
    QString t = QString::fromStdString(text);
    QMetaObject::invokeMethod(&window, [&window, t] { QMessageBox::warning(&window, "Error", t); }, Qt::QueuedConnection);
  };
  engine.connection().setPublish([&window](const ConnectionState& s) {
    QString text = QString::fromStdString(describeConnection(s));
    bool live = s.phase == ConnectionPhase::Downloading || s.phase == ConnectionPhase::Connected;
    QMetaObject::invokeMethod(&window, [&window, text, live] {
      window.setConnectionText(text);
      // Without a connection the buttons would do nothing: the drawing enables them again.
      if (!live) window.disableNavigation();
    }, Qt::QueuedConnection);
  });
  manager.startWorker();
  engine.startControlThread();
  engine.startClientThread();

  QtConnectDialogs dialogs(flow, queue);
  QObject::connect(window.connectButton(), &QPushButton::clicked, &window, [&] {
    // Choosing a device ends the reconnection to the last one, and the link to it.
    manager.stopReconnecting();
    if (link.linkIsReady()) manager.disconnect();
    dialogs.showConnectDialogs();
    if (link.linkIsReady())
      window.information()->setText(QString::fromStdString(link.deviceSummary()));
    else
      window.disableNavigation();
  });
  QObject::connect(window.disconnectButton(), &QPushButton::clicked, &window, [&] {
    ConnectionPhase phase = engine.connection().current().phase;
    if (link.linkIsReady())
      manager.disconnect();
    else if (phase == ConnectionPhase::Reconnecting || phase == ConnectionPhase::Lost ||
             phase == ConnectionPhase::Connecting)
      manager.stopReconnecting();
  });
  QObject::connect(window.prevButton(), &QPushButton::clicked, &window, [&] { engine.postControl(ControlFlag::PREV_PAGE); });
  QObject::connect(window.nextButton(), &QPushButton::clicked, &window, [&] { engine.postControl(ControlFlag::NEXT_PAGE); });
  QObject::connect(window.backButton(), &QPushButton::clicked, &window, [&] { engine.postControl(ControlFlag::BACK); });
  window.display()->onClick = [&](int x, int y) { engine.postClick(static_cast<uint32_t>(x), static_cast<uint32_t>(y)); };
  QObject::connect(&window, &QDialog::finished, &app, [&] { app.quit(); });

  window.show();
  app.exec();

  // Ending. Nothing waits for the user or the device from here on: the
  // dialogs close as cancelled, the link's waits end, then the threads.
  if (options.onQuit) options.onQuit();
  host.closeDialogs();
  manager.shutdown();
  engine.shutdown();
  queue.stopWorker();
  link.closeDelayMs = 0;
  link.linkClose();
  unbindWarble(warble);
  return 0;
}

}  // namespace okt
