#include "shell/qt/log_dock.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

namespace okt {

namespace {
// What waits for the next tick is bounded too: a flood keeps its newest part.
constexpr size_t kMaxPending = 256 * 1024;
}  // namespace

LogDock::LogDock(QWidget* parent) : QDockWidget("Log", parent) {
  setObjectName("logDock");
  auto* body = new QWidget(this);
  text_ = new QPlainTextEdit(body);
  text_->setReadOnly(true);
  text_->setMaximumBlockCount(kMaxLines);
  text_->setLineWrapMode(QPlainTextEdit::NoWrap);
  text_->setFont(QFont("monospace"));
  save_ = new QPushButton("&Save…", body);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(save_);
  auto* layout = new QVBoxLayout(body);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(text_);
  layout->addLayout(buttons);
  setWidget(body);

  QObject::connect(save_, &QPushButton::clicked, this, [this] {
    QString path = QFileDialog::getSaveFileName(this, "Save log", "okt-client.log", "Log files (*.log *.txt)");
    if (path.isEmpty()) return;
    QString error;
    if (!saveTo(path, error)) QMessageBox::warning(this, "Save log", error);
  });
  tick_.setInterval(200);
  QObject::connect(&tick_, &QTimer::timeout, this, [this] { flush(); });
  tick_.start();
}

void LogDock::addText(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  pending_ += text;
  if (pending_.size() > kMaxPending) {
    size_t cut = pending_.find('\n', pending_.size() - kMaxPending);
    pending_.erase(0, cut == std::string::npos ? pending_.size() - kMaxPending : cut + 1);
  }
}

void LogDock::flush() {
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    text.swap(pending_);
  }
  if (text.empty()) return;
  if (text.back() == '\n') text.pop_back();
  // New lines keep the view where the reader left it: following the end
  // if it was there, and never scrolled sideways to the last line's end.
  QScrollBar* bar = text_->verticalScrollBar();
  bool atEnd = bar->value() == bar->maximum();
  int across = text_->horizontalScrollBar()->value();
  text_->appendPlainText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  if (atEnd) {
    // The cursor at the start of the last line: showing it never scrolls sideways.
    QTextCursor cursor = text_->textCursor();
    cursor.movePosition(QTextCursor::End);
    cursor.movePosition(QTextCursor::StartOfBlock);
    text_->setTextCursor(cursor);
    bar->setValue(bar->maximum());
  }
  text_->horizontalScrollBar()->setValue(across);
}

bool LogDock::saveTo(const QString& path, QString& error) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
    error = QString("Cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  QByteArray bytes = text_->toPlainText().toUtf8();
  bytes.append('\n');
  if (file.write(bytes) != bytes.size() || !file.flush()) {
    error = QString("Cannot write %1: %2").arg(path, file.errorString());
    return false;
  }
  return true;
}

}  // namespace okt
