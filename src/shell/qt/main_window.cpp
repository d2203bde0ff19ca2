#include "shell/qt/main_window.h"

#include <QMouseEvent>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "dialogs/qt/dialogs.h"

namespace okt {

DisplayArea::DisplayArea(QWidget* parent) : QLabel(parent) {
  setAlignment(Qt::AlignCenter);
  setStyleSheet("background: black");
}

void DisplayArea::showFrame(const QImage& frame) { setPixmap(QPixmap::fromImage(frame)); }

void DisplayArea::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  QPoint p = event->position().toPoint();
  // The last column and row are outside, as the window's own rectangle test had it.
  if (p.x() < 0 || p.y() < 0 || p.x() >= width() - 1 || p.y() >= height() - 1) return;
  if (onClick) onClick(p.x(), p.y());
}

QPushButton* MainWindow::button(const QString& text, int x, int y, int w, int h) {
  auto* b = new QPushButton(text, this);
  b->setGeometry(dialogX(this, x), dialogY(this, y), dialogX(this, w), dialogY(this, h));
  return b;
}

MainWindow::MainWindow() {
  setWindowTitle("Operator Kiosk Transport (OKT) Bluetooth Client - V1.01");
  setFixedSize(dialogX(this, 320), dialogY(this, 450) + 24);
  display_ = new DisplayArea(this);
  display_->setGeometry(dialogX(this, 10), dialogY(this, 10), dialogX(this, 300), dialogY(this, 340));
  prev_ = button("<<", 20, 355, 40, 14);
  next_ = button(">>", 260, 355, 40, 14);
  pageBox_ = new QLineEdit(this);
  pageBox_->setReadOnly(true);
  pageBox_->setAlignment(Qt::AlignCenter);
  pageBox_->setGeometry(dialogX(this, 120), dialogY(this, 355), dialogX(this, 40), dialogY(this, 14));
  back_ = button("BACK", 160, 355, 40, 14);
  connect_ = button("&Connect", 15, 375, 80, 14);
  connect_->setDefault(true);
  disconnect_ = button("&Disconnect", 125, 375, 80, 14);
  reconnect_ = new QCheckBox("&Reconnect", this);
  reconnect_->setToolTip("Reconnect by itself when the link is lost");
  reconnect_->setChecked(true);
  reconnect_->setGeometry(dialogX(this, 215), dialogY(this, 376), dialogX(this, 95), dialogY(this, 12));
  information_ = new QLabel("Device\nInformation", this);
  information_->setFrameShape(QFrame::StyledPanel);
  information_->setFrameShadow(QFrame::Sunken);
  information_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  information_->setGeometry(dialogX(this, 10), dialogY(this, 395), dialogX(this, 300), dialogY(this, 45));
  status_ = new QLabel(this);
  status_->setGeometry(dialogX(this, 10), dialogY(this, 450) - 2, dialogX(this, 300), 24);
  disableNavigation();
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

int killProcessesNamed(const std::string& name) {
  namespace fs = std::filesystem;
  int killed = 0;
  const pid_t self = getpid();
  const uid_t me = getuid();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    std::string pidText = entry.path().filename().string();
    if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = static_cast<pid_t>(std::stol(pidText));
    if (pid == self) continue;
    // Only this user's processes, matched on the executable's own name.
    std::ifstream status(entry.path() / "status");
    std::string line, comm;
    uid_t uid = static_cast<uid_t>(-1);
    while (std::getline(status, line)) {
      if (line.rfind("Name:", 0) == 0) comm = line.substr(line.find_first_not_of(" \t", 5));
      if (line.rfind("Uid:", 0) == 0) uid = static_cast<uid_t>(std::stoul(line.substr(4)));
    }
    std::error_code linkError;
    fs::path exe = fs::read_symlink(entry.path() / "exe", linkError);
    std::string exeName = linkError ? comm : exe.filename().string();
    if (uid != me || exeName != name) continue;
    if (kill(pid, SIGKILL) == 0) ++killed;
  }
  return killed;
}

}  // namespace okt
