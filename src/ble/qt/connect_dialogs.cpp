#include "ble/qt/connect_dialogs.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMetaObject>
#include <QTimer>
#include <QVBoxLayout>

namespace okt {

QSize dialogUnits(const QWidget* widget, int x, int y) {
  QFontMetrics m(widget->font());
  int baseX = m.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
  int baseY = m.height();
  return {x * baseX / 4, y * baseY / 8};
}

ScanDialog::ScanDialog(ConnectFlow& flow, AppQueue& queue, QWidget* parent)
    : QDialog(parent), flow_(flow), queue_(queue) {
  setWindowTitle("Select BT Device");
  resize(dialogUnits(this, 268, 180));
  list_ = new QTreeWidget(this);
  list_->setColumnCount(3);
  list_->setHeaderLabels({"Mac", "Name", "RSSI"});
  list_->setColumnWidth(0, 120);
  list_->setColumnWidth(1, 160);
  list_->setColumnWidth(2, 60);
  list_->setRootIsDecorated(false);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  scan_ = new QPushButton("&Scan", this);
  connect_ = new QPushButton("&Connect", this);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(scan_);
  buttons->addWidget(connect_);
  buttons->addStretch();
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_);
  layout->addLayout(buttons);
  QObject::connect(scan_, &QPushButton::clicked, this, [this] {
    // A new scan starts from an empty list.
    list_->clear();
    flow_.requestScan();
  });
  QObject::connect(connect_, &QPushButton::clicked, this, [this] { take(); });
  QObject::connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { take(); });
}

void ScanDialog::take() {
  flow_.abortScan();  // the running scan stops either way
  QTreeWidgetItem* item = list_->currentItem();
  if (!item || !flow_.takeSelection(item->text(0).toStdString())) return;  // nothing chosen: stay open
  flow_.scanDialogOpen = false;
  accept();
}

void ScanDialog::reject() {
  flow_.abortScan();
  flow_.scanDialogOpen = false;
  QDialog::reject();
}

void ScanDialog::refresh() {
  auto rows = flow_.scanList().rows();
  for (size_t i = 0; i < rows.size(); ++i) {
    QTreeWidgetItem* item = static_cast<int>(i) < list_->topLevelItemCount() ? list_->topLevelItem(static_cast<int>(i))
                                                                            : new QTreeWidgetItem(list_);
    item->setText(0, QString::fromStdString(rows[i].address));
    item->setText(1, QString::fromStdString(rows[i].name));
    item->setText(2, QString::fromStdString(rows[i].rssiText));
  }
}

ConnectingDialog::ConnectingDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Connecting to device...");
  resize(dialogUnits(this, 161, 50));
  text_ = new QLabel("---", this);
  text_->setAlignment(Qt::AlignCenter);
  text_->setFrameShape(QFrame::Box);
  bar_ = new QProgressBar(this);
  bar_->setRange(0, 1000);
  bar_->setTextVisible(false);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addWidget(bar_);
}

void ConnectingDialog::show(int value, const QString& text) {
  bar_->setValue(std::min(value, 1000));
  text_->setText(text);
}

QtConnectDialogs::QtConnectDialogs(ConnectFlow& flow, AppQueue& queue) : flow_(flow), queue_(queue) {
  flow_.setDialogs(this);
}

QtConnectDialogs::~QtConnectDialogs() { flow_.setDialogs(nullptr); }

void QtConnectDialogs::showConnectDialogs() {
  if (flow_.connectRequested || flow_.scanDialogOpen) return;  // already up
  flow_.scanDialogOpen = true;
  flow_.connectRequested = false;
  ScanDialog scan(flow_, queue_);
  scan_ = &scan;
  scan.exec();
  scan_ = nullptr;
  if (flow_.connectRequested) {
    ConnectingDialog connecting;
    connecting_ = &connecting;
    connectingOpen_ = true;
    connecting.exec();
    connectingOpen_ = false;
    connecting_ = nullptr;
  }
  flow_.connectRequested = false;
  flow_.scanDialogOpen = false;
}

void QtConnectDialogs::scanListChanged() {
  QMetaObject::invokeMethod(this, [this] {
    if (scan_) scan_->refresh();
  }, Qt::QueuedConnection);
}

bool QtConnectDialogs::showProgress(int value, const std::string& text) {
  if (!connectingOpen_) return false;
  QString t = QString::fromStdString(text);
  QMetaObject::invokeMethod(this, [this, value, t] {
    if (!connecting_) return;
    connecting_->show(value, t);
    // The final report closes the dialog a moment later.
    if (value >= 1000) QTimer::singleShot(800, connecting_, [d = connecting_] { d->accept(); });
  }, Qt::QueuedConnection);
  return true;
}

}  // namespace okt
