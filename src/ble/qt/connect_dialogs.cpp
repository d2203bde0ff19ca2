#include "ble/qt/connect_dialogs.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMetaObject>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace okt {

QSize dialogUnits(const QWidget* widget, int x, int y) {
  QFontMetrics m(widget->font());
  int baseX = m.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
  int baseY = m.height();
  return {x * baseX / 4, y * baseY / 8};
}

namespace {

// Four rising bars, the first `bars` of them filled.
QIcon signalIcon(int bars, const QColor& color) {
  QPixmap pixmap(16, 12);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  QColor faint = color;
  faint.setAlpha(60);
  for (int i = 0; i < 4; ++i) painter.fillRect(QRect(i * 4, 9 - i * 3, 3, 3 + i * 3), i < bars ? color : faint);
  return QIcon(pixmap);
}

}  // namespace

ScanDialog::ScanDialog(ConnectFlow& flow, AppQueue& queue, QWidget* parent)
    : QDialog(parent), flow_(flow), queue_(queue) {
  setWindowTitle("Select BT Device");
  resize(dialogUnits(this, 268, 200));
  filter_ = new QLineEdit(this);
  filter_->setPlaceholderText("Filter by name or address");
  filter_->setClearButtonEnabled(true);
  oktOnly_ = new QCheckBox("OKT devices only", this);
  list_ = new QTreeWidget(this);
  list_->setColumnCount(3);
  list_->setHeaderLabels({"Mac", "Name", "RSSI"});
  list_->setColumnWidth(0, 120);
  list_->setColumnWidth(1, 160);
  list_->setColumnWidth(2, 90);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  for (int bars = 0; bars < 5; ++bars) bars_[bars] = signalIcon(bars, palette().color(QPalette::Text));
  problem_ = new QLabel(this);
  problem_->setWordWrap(true);
  problem_->hide();
  busy_ = new QProgressBar(this);
  busy_->setRange(0, 0);  // no end known: a busy indicator
  busy_->setTextVisible(false);
  busy_->setMaximumWidth(dialogUnits(this, 50, 0).width());
  QSizePolicy keepPlace = busy_->sizePolicy();
  keepPlace.setRetainSizeWhenHidden(true);
  busy_->setSizePolicy(keepPlace);
  scan_ = new QPushButton("&Scan", this);
  stop_ = new QPushButton("&Stop", this);
  connect_ = new QPushButton("&Connect", this);
  connect_->setDefault(true);  // Enter takes the selected row
  connect_->setEnabled(false);
  auto* filters = new QHBoxLayout;
  filters->addWidget(filter_, 1);
  filters->addWidget(oktOnly_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(scan_);
  buttons->addWidget(stop_);
  buttons->addWidget(connect_);
  buttons->addStretch();
  buttons->addWidget(busy_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(filters);
  layout->addWidget(list_);
  layout->addWidget(problem_);
  layout->addLayout(buttons);
  showScanState();

  QObject::connect(scan_, &QPushButton::clicked, this, [this] { startScan(); });
  QObject::connect(stop_, &QPushButton::clicked, this, [this] {
    flow_.abortScan();
    showScanState();
  });
  QObject::connect(connect_, &QPushButton::clicked, this, [this] { take(); });
  QObject::connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { take(); });
  QObject::connect(list_, &QTreeWidget::itemSelectionChanged, this,
                   [this] { connect_->setEnabled(!list_->selectedItems().isEmpty()); });
  QObject::connect(filter_, &QLineEdit::textChanged, this, [this] { refresh(); });
  QObject::connect(oktOnly_, &QCheckBox::toggled, this, [this] { refresh(); });
  ageing_.setInterval(1000);
  QObject::connect(&ageing_, &QTimer::timeout, this, [this] { refresh(); });
  filter_->installEventFilter(this);
  list_->installEventFilter(this);
}

bool ScanDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == filter_ && event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(event)->key() == Qt::Key_Down && list_->topLevelItemCount() > 0) {
    list_->setFocus(Qt::TabFocusReason);
    return true;
  }
  if (watched == list_ && event->type() == QEvent::FocusIn && list_->selectedItems().isEmpty() &&
      list_->topLevelItemCount() > 0) {
    QTreeWidgetItem* row = list_->currentItem() ? list_->currentItem() : list_->topLevelItem(0);
    list_->setCurrentItem(row);
    row->setSelected(true);
  }
  return QDialog::eventFilter(watched, event);
}

ScanDialog::~ScanDialog() {
  if (opened_) flow_.abortScan();
}

void ScanDialog::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (opened_) return;
  opened_ = true;
  ageing_.start();
  startScan();
}

void ScanDialog::startScan() {
  // A new scan starts from an empty list.
  list_->clear();
  showProblem({});
  flow_.requestScan();
  showScanState();
}

void ScanDialog::showScanState() {
  bool on = flow_.scanning();
  busy_->setVisible(on);
  scan_->setVisible(!on);
  stop_->setVisible(on);
}

void ScanDialog::showProblem(const QString& text) {
  problem_->setText(text);
  problem_->setVisible(!text.isEmpty());
}

QString ScanDialog::selectedAddress() const {
  QList<QTreeWidgetItem*> chosen = list_->selectedItems();
  return chosen.isEmpty() ? QString() : chosen.front()->text(0);
}

void ScanDialog::take() {
  QString address = selectedAddress();
  if (address.isEmpty()) return;  // nothing chosen: stay open, scanning on
  flow_.abortScan();
  if (!flow_.takeSelection(address.toStdString())) return;
  flow_.scanDialogOpen = false;
  accept();
}

void ScanDialog::reject() {
  flow_.abortScan();
  flow_.scanDialogOpen = false;
  QDialog::reject();
}

void ScanDialog::refresh() {
  const QString chosen = selectedAddress();
  auto shown = flow_.scanList().view({filter_->text().toStdString(), oktOnly_->isChecked()});
  const int count = static_cast<int>(shown.size());
  while (list_->topLevelItemCount() > count) delete list_->takeTopLevelItem(list_->topLevelItemCount() - 1);
  const QVariant grey = palette().brush(QPalette::Disabled, QPalette::Text);
  QTreeWidgetItem* reselect = nullptr;
  for (int i = 0; i < count; ++i) {
    const ScanList::Shown& s = shown[static_cast<size_t>(i)];
    QTreeWidgetItem* item = i < list_->topLevelItemCount() ? list_->topLevelItem(i) : new QTreeWidgetItem(list_);
    item->setText(0, QString::fromStdString(s.row.address));
    item->setText(1, QString::fromStdString(s.row.name));
    item->setText(2, QString::fromStdString(s.row.rssiText));
    item->setIcon(2, bars_[std::clamp(s.bars, 0, 4)]);
    for (int column = 0; column < 3; ++column) item->setData(column, Qt::ForegroundRole, s.stale ? grey : QVariant());
    item->setToolTip(1, s.stale ? QString("Not heard for %1 s").arg(ScanList::kStaleAfterMs / 1000) : QString());
    if (!chosen.isEmpty() && item->text(0) == chosen) reselect = item;
  }
  // The selection stays with the device wherever it moved; it goes when the device is filtered out.
  if (reselect) {
    if (!reselect->isSelected()) list_->setCurrentItem(reselect);
  } else {
    list_->clearSelection();
  }
  if (count > 0 && problem_->text() == QString::fromUtf8(kNoDevicesFound)) showProblem({});
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
  if (refreshPosted_.exchange(true)) return;  // the refresh on its way shows this row too
  QMetaObject::invokeMethod(
      this,
      [this] {
        refreshPosted_ = false;
        if (scan_) scan_->refresh();
      },
      Qt::QueuedConnection);
}

void QtConnectDialogs::scanStateChanged() {
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (scan_) scan_->showScanState();
      },
      Qt::QueuedConnection);
}

void QtConnectDialogs::scanProblem(const std::string& text) {
  QString t = QString::fromStdString(text);
  QMetaObject::invokeMethod(
      this,
      [this, t] {
        if (scan_) scan_->showProblem(t);
      },
      Qt::QueuedConnection);
}

bool QtConnectDialogs::showProgress(int value, const std::string& text) {
  if (!connectingOpen_) return false;
  QString t = QString::fromStdString(text);
  QMetaObject::invokeMethod(
      this,
      [this, value, t] {
        if (!connecting_) return;
        connecting_->show(value, t);
        // The final report closes the dialog a moment later.
        if (value >= 1000) QTimer::singleShot(800, connecting_, [d = connecting_] { d->accept(); });
      },
      Qt::QueuedConnection);
  return true;
}

}  // namespace okt
