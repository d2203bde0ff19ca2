#include "shell/qt/main_window.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

#include "okt_version.h"

namespace okt {

QList<QPair<QString, QString>> keyboardShortcuts() {
  return {
      {"Tab, Shift+Tab", "Move among the display's buttons and menu rows, and the window's controls"},
      {"Up, Down", "Move among the display's buttons and menu rows"},
      {"Enter, Space", "Press the button or open the menu row that has the focus ring"},
      {"Page Up", "Previous menu page (\"<<\")"},
      {"Page Down", "Next menu page (\">>\")"},
      {"Backspace, Alt+Left", "Back (\"BACK\")"},
      {"Ctrl+O", "Connect to a device"},
      {"Ctrl+D", "Disconnect"},
      {"Ctrl+S", "Save a screenshot of the display"},
      {"Ctrl+L", "Show or hide the log"},
      {"F11", "Full screen"},
      {"F1", "This list"},
      {"Ctrl+Q", "Quit"},
  };
}

namespace {

// A status bar text that gives way when the window is narrow: shortened
// with "…", the whole of it in the tooltip.
class ElidingLabel : public QLabel {
 public:
  explicit ElidingLabel(QWidget* parent) : QLabel(parent) {
    setProperty("elides", true);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }
  QSize minimumSizeHint() const override {
    return {fontMetrics().horizontalAdvance("…") * 4, QLabel::minimumSizeHint().height()};
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QRect room = contentsRect();
    QString shown = fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
    setToolTip(shown == text() ? QString() : text());
    p.drawText(room, static_cast<int>(alignment()), shown);
  }
};

}  // namespace

MainWindow::MainWindow() {
  setWindowTitle("Operator Kiosk Transport (OKT) Bluetooth Client - V1.01");
  setObjectName("mainWindow");
  auto* central = new QWidget(this);
  display_ = new DisplayArea(central);

  prev_ = new QPushButton("<<", central);
  next_ = new QPushButton(">>", central);
  back_ = new QPushButton("BACK", central);
  prev_->setToolTip("Previous menu page (Page Up)");
  next_->setToolTip("Next menu page (Page Down)");
  back_->setToolTip("Back (Backspace)");
  pageBox_ = new QLineEdit(central);
  pageBox_->setReadOnly(true);
  pageBox_->setAlignment(Qt::AlignCenter);
  pageBox_->setFocusPolicy(Qt::NoFocus);
  pageBox_->setMaximumWidth(pageBox_->fontMetrics().horizontalAdvance("0000000000") + 12);
  pageBox_->setAccessibleName("Menu page");
  auto* navigation = new QHBoxLayout;
  navigation->addWidget(prev_);
  navigation->addStretch();
  navigation->addWidget(pageBox_);
  navigation->addWidget(back_);
  navigation->addStretch();
  navigation->addWidget(next_);

  connect_ = new QPushButton("&Connect", central);
  connect_->setToolTip("Scan for devices and connect to one (Ctrl+O)");
  disconnect_ = new QPushButton("&Disconnect", central);
  disconnect_->setToolTip("Close the link; no reconnection follows (Ctrl+D)");
  reconnect_ = new QCheckBox("&Reconnect", central);
  reconnect_->setToolTip("Reconnect by itself when the link is lost");
  reconnect_->setChecked(true);
  auto* connection = new QHBoxLayout;
  connection->addWidget(connect_);
  connection->addWidget(disconnect_);
  connection->addWidget(reconnect_);
  connection->addStretch();

  information_ = new QLabel("Device\nInformation", central);
  information_->setFrameShape(QFrame::StyledPanel);
  information_->setFrameShadow(QFrame::Sunken);
  information_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  information_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  information_->setWordWrap(true);
  // Room for the device summary's four lines from the start: the display does not jump when it arrives.
  information_->setMinimumHeight(information_->fontMetrics().lineSpacing() * 4 + 2 * information_->frameWidth() + 4);
  information_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

  auto* layout = new QVBoxLayout(central);
  layout->addWidget(display_, 1);
  layout->addLayout(navigation);
  layout->addLayout(connection);
  layout->addWidget(information_);
  setCentralWidget(central);

  status_ = new ElidingLabel(this);
  status_->setObjectName("connectionState");
  device_ = new ElidingLabel(this);
  counters_ = new ElidingLabel(this);
  counters_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  // The address and the counters get the room their text needs; the state
  // takes the rest.
  status_->setMinimumWidth(status_->minimumSizeHint().width());  // never squeezed out of sight
  device_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  counters_->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
  statusBar()->addWidget(status_, 1);
  statusBar()->addWidget(device_);
  statusBar()->addWidget(counters_);

  log_ = new LogDock(this);
  addDockWidget(Qt::BottomDockWidgetArea, log_);
  log_->hide();

  buildMenus();
  setTabOrder(display_, prev_);
  setTabOrder(prev_, back_);
  setTabOrder(back_, next_);
  setTabOrder(next_, connect_);
  setTabOrder(connect_, disconnect_);
  setTabOrder(disconnect_, reconnect_);
  disableNavigation();

  // The device's shape at a size that fits a small screen with room to spare.
  QSize preferred(520, 760);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QSize room = screen->availableSize() * 0.9;
    preferred = preferred.boundedTo(room);
  }
  resize(preferred);
}

void MainWindow::buildMenus() {
  QMenu* file = menuBar()->addMenu("&File");
  connectAction_ = file->addAction("&Connect…", connect_, [this] { connect_->click(); });
  connectAction_->setShortcut(QKeySequence("Ctrl+O"));
  disconnectAction_ = file->addAction("&Disconnect", disconnect_, [this] { disconnect_->click(); });
  disconnectAction_->setShortcut(QKeySequence("Ctrl+D"));
  recent_ = file->addMenu("&Recent devices");
  recent_->setEnabled(false);
  connectAtStart_ = file->addAction("Connect to the &last device at start");
  connectAtStart_->setCheckable(true);
  file->addSeparator();
  screenshotAction_ = file->addAction("&Save screenshot…");
  screenshotAction_->setShortcut(QKeySequence::Save);
  recordAction_ = file->addAction("&Record session…");
  stopRecordingAction_ = file->addAction("S&top recording");
  stopRecordingAction_->setEnabled(false);
  file->addSeparator();
  QAction* quit = file->addAction("&Quit", this, [this] { close(); });
  quit->setShortcut(QKeySequence("Ctrl+Q"));

  QMenu* view = menuBar()->addMenu("&View");
  fullScreen_ = view->addAction("&Full screen");
  fullScreen_->setCheckable(true);
  fullScreen_->setShortcut(QKeySequence(Qt::Key_F11));
  QObject::connect(fullScreen_, &QAction::toggled, this, [this](bool on) {
    if (on)
      showFullScreen();
    else
      showNormal();
  });
  view->addSeparator();
  auto* scale = new QActionGroup(this);
  fit_ = view->addAction("Keep the device's &shape");
  fill_ = view->addAction("F&ill the window");
  for (QAction* a : {fit_, fill_}) {
    a->setCheckable(true);
    scale->addAction(a);
  }
  fit_->setChecked(true);
  QObject::connect(fit_, &QAction::triggered, this, [this] { display_->setScaleMode(ScaleMode::Fit); });
  QObject::connect(fill_, &QAction::triggered, this, [this] { display_->setScaleMode(ScaleMode::Fill); });
  view->addSeparator();
  QAction* logAction = log_->toggleViewAction();
  logAction->setText("&Log");
  logAction->setShortcut(QKeySequence("Ctrl+L"));
  view->addAction(logAction);

  // The device's navigation from the keyboard; each key does what its button does, when it is enabled.
  QMenu* go = menuBar()->addMenu("&Go");
  auto bind = [this, go](const QString& text, QPushButton* button, const QList<QKeySequence>& keys) {
    QAction* a = go->addAction(text, button, [button] {
      if (button->isEnabled()) button->click();
    });
    a->setShortcuts(keys);
    a->setShortcutContext(Qt::WindowShortcut);
  };
  bind("&Previous page", prev_, {QKeySequence(Qt::Key_PageUp)});
  bind("&Next page", next_, {QKeySequence(Qt::Key_PageDown)});
  bind("&Back", back_, {QKeySequence(Qt::Key_Backspace), QKeySequence(Qt::ALT | Qt::Key_Left)});

  QMenu* help = menuBar()->addMenu("&Help");
  QAction* keys = help->addAction("&Keyboard shortcuts", this, [this] { showShortcuts(); });
  keys->setShortcut(QKeySequence(Qt::Key_F1));
  help->addAction("&About", this, [this] { showAbout(); });
}

void MainWindow::showShortcuts() {
  auto* dialog = new QDialog(this);
  dialog->setAttribute(Qt::WA_DeleteOnClose);
  dialog->setWindowTitle("Keyboard shortcuts");
  auto shortcuts = keyboardShortcuts();
  auto* table = new QTableWidget(static_cast<int>(shortcuts.size()), 2, dialog);
  table->setHorizontalHeaderLabels({"Key", "Action"});
  table->verticalHeader()->hide();
  table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  for (int i = 0; i < shortcuts.size(); ++i) {
    table->setItem(i, 0, new QTableWidgetItem(shortcuts[i].first));
    table->setItem(i, 1, new QTableWidgetItem(shortcuts[i].second));
  }
  table->resizeColumnsToContents();
  table->horizontalHeader()->setStretchLastSection(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close, dialog);
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  auto* layout = new QVBoxLayout(dialog);
  layout->addWidget(table);
  layout->addWidget(buttons);
  int width = table->horizontalHeader()->length() + table->frameWidth() * 2 + 40;
  dialog->resize(width, table->verticalHeader()->length() + 120);
  dialog->show();
}

void MainWindow::showAbout() {
  QMessageBox::about(this, "About the OKT client",
                     QString("<b>OKT Desktop Client %1</b><p>The desktop client for Operator Kiosk Transport "
                             "devices: it shows the device's screens and menus and sends what you do back to "
                             "it over Bluetooth Low Energy.</p>"
                             "<p>Licences: this program's licence is set by its authors (see the README). "
                             "Built with Qt %2, under the GNU LGPL version 3. The built-in icons are drawn "
                             "from Material Design Icons (@mdi/svg), under the Apache License 2.0.</p>")
                         .arg(kVersion, qVersion()));
}

void MainWindow::showPageNumber(uint32_t n) { pageBox_->setText(n == 0xFFFFFFFF ? QString() : QString::number(n)); }

void MainWindow::disableNavigation() {
  back_->setEnabled(false);
  prev_->setEnabled(false);
  next_->setEnabled(false);
  pageBox_->setEnabled(false);
}

void MainWindow::setStatusText(const QString& text) {
  work_ = text;
  QString shown = work_.isEmpty() ? connection_ : work_;
  if (status_->text() != shown) status_->setText(shown);
}

void MainWindow::setConnectionText(const QString& text) {
  connection_ = text;
  setStatusText(work_);
}

void MainWindow::showMessage(const QString& title, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::Warning, title, text, QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

bool MainWindow::saveScreenshot(const QString& path, QString& error) const {
  QImage frame = display_->frame();
  if (frame.isNull()) {
    error = "There is nothing on the display to save yet.";
    return false;
  }
  frame.setDevicePixelRatio(1);
  if (!frame.save(path, "PNG")) {
    error = QString("Cannot write %1.").arg(path);
    return false;
  }
  return true;
}

void MainWindow::setRecentDevices(const QStringList& addresses) {
  recent_->clear();
  for (const QString& address : addresses)
    recent_->addAction(address, this, [this, address] {
      if (onRecentDevice) onRecentDevice(address);
    });
  recent_->setEnabled(!addresses.isEmpty());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  QMainWindow::closeEvent(event);
  if (event->isAccepted() && onClose) onClose();
}

}  // namespace okt
