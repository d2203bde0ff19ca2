#include "dialogs/qt/qt_ui_host.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <condition_variable>

namespace okt {

struct QtUiHost::Modal {
  bool errorBox = false;
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;     // the dialog ended by itself
  bool cancelled = false;    // it was closed (or refused) first
  QPointer<QDialog> dialog;  // GUI thread only
};

QtUiHost::QtUiHost(QWidget* owner) : owner_(owner) {}

QtUiHost::~QtUiHost() { closeDialogs(); }

void QtUiHost::setDisplayRect(const ViewRect& rect) {
  std::lock_guard<std::mutex> lock(rectMutex_);
  rect_ = rect;
}

ViewRect QtUiHost::displayRect() {
  std::lock_guard<std::mutex> lock(rectMutex_);
  return rect_;
}

void QtUiHost::presentFrame(const PixelBuffer& frame) {
  if (frame.empty()) return;
  QImage image = QImage(frame.pixels.data(), static_cast<int>(frame.width), static_cast<int>(frame.height),
                        static_cast<qsizetype>(frame.width) * 4, QImage::Format_ARGB32)
                     .copy();
  QMetaObject::invokeMethod(
      this,
      [this, image] {
        if (onFrame) onFrame(image);
      },
      Qt::QueuedConnection);
}

void QtUiHost::button(Button b, bool on) {
  QMetaObject::invokeMethod(
      this,
      [this, b, on] {
        if (onButton) onButton(b, on);
      },
      Qt::QueuedConnection);
}

void QtUiHost::showTargets(const std::vector<DisplayTarget>& targets) {
  QMetaObject::invokeMethod(
      this,
      [this, targets] {
        if (onTargets) onTargets(targets);
      },
      Qt::QueuedConnection);
}

void QtUiHost::showPageNumber(uint32_t n) {
  QMetaObject::invokeMethod(
      this,
      [this, n] {
        if (onPageNumber) onPageNumber(n);
      },
      Qt::QueuedConnection);
}

void QtUiHost::disableNavigation() {
  for (Button b : {Button::Back, Button::Prev, Button::Next, Button::PageBox}) button(b, false);
}

bool QtUiHost::runModal(bool errorBox, std::function<void(Modal&)> show) {
  auto modal = std::make_shared<Modal>();
  modal->errorBox = errorBox;
  {
    std::lock_guard<std::mutex> lock(modalMutex_);
    if (closed_ || (!errorBox && !allowed_)) return false;
    open_.push_back(modal);
  }
  auto work = [modal, show = std::move(show)] {
    {
      std::lock_guard<std::mutex> lock(modal->m);
      if (modal->cancelled) return;
    }
    show(*modal);
    {
      std::lock_guard<std::mutex> lock(modal->m);
      modal->finished = true;
    }
    modal->cv.notify_all();
  };
  if (QThread::currentThread() == thread())
    work();
  else
    QMetaObject::invokeMethod(this, work, Qt::QueuedConnection);
  bool finished;
  {
    std::unique_lock<std::mutex> lock(modal->m);
    modal->cv.wait(lock, [&] { return modal->finished || modal->cancelled; });
    finished = modal->finished;
  }
  std::lock_guard<std::mutex> lock(modalMutex_);
  open_.erase(std::find(open_.begin(), open_.end(), modal));
  return finished;
}

void QtUiHost::cancel(bool errorBoxesToo) {
  std::vector<std::shared_ptr<Modal>> ended;
  {
    std::lock_guard<std::mutex> lock(modalMutex_);
    for (auto& m : open_)
      if (errorBoxesToo || !m->errorBox) ended.push_back(m);
  }
  if (ended.empty()) return;
  for (auto& m : ended) {
    {
      std::lock_guard<std::mutex> lock(m->m);
      m->cancelled = true;
    }
    m->cv.notify_all();
  }
  // The dialogs on screen close as cancelled; their callers have already gone on.
  QMetaObject::invokeMethod(
      this,
      [ended] {
        for (auto& m : ended)
          if (m->dialog) m->dialog->reject();
      },
      Qt::QueuedConnection);
}

void QtUiHost::allowDialogs(bool allowed) {
  {
    std::lock_guard<std::mutex> lock(modalMutex_);
    allowed_ = allowed;
  }
  if (!allowed) cancel(false);
}

void QtUiHost::closeDialogs() {
  {
    std::lock_guard<std::mutex> lock(modalMutex_);
    closed_ = true;
  }
  cancel(true);
}

void QtUiHost::errorBox(const std::string& text) {
  QString t = QString::fromUtf8(text.c_str());
  runModal(true, [t](Modal& m) {
    QMessageBox box(QMessageBox::Critical, "ERROR", t, QMessageBox::Ok);
    m.dialog = &box;
    box.exec();
  });
}

int QtUiHost::passwordDialog(const PasswordRequest& request, std::string& entry) {
  struct Answer {
    int result = kDialogCancel;
    std::string entry;
  };
  auto answer = std::make_shared<Answer>();
  bool ended = runModal(false, [answer, request, owner = QPointer<QWidget>(owner_)](Modal& m) {
    ClientState none;
    DialogTemplate frame = buildPasswordTemplate(none, 0xFFFFFF);
    if (!request.title.empty()) frame.caption = toUtf16(request.title, kCaptionUnits);
    PasswordDialog dialog(frame, request, owner);
    m.dialog = &dialog;
    answer->result = dialog.exec() == QDialog::Accepted ? kDialogOk : kDialogCancel;
    answer->entry = dialog.entry();
  });
  if (!ended) return kDialogCancel;
  entry = answer->entry;
  return answer->result;
}

int QtUiHost::popupDialog(const PopupRequest& request, int32_t& selectedButton) {
  struct Answer {
    int result = kDialogCancel;
    int32_t selected = -1;
  };
  auto answer = std::make_shared<Answer>();
  bool ended = runModal(false, [answer, request, icons = icons, owner = QPointer<QWidget>(owner_)](Modal& m) {
    PopupDialog dialog(request, icons, owner);
    m.dialog = &dialog;
    answer->result = dialog.exec() == QDialog::Accepted ? kDialogOk : kDialogCancel;
    answer->selected = dialog.selectedButton();
  });
  if (!ended) return kDialogCancel;
  selectedButton = answer->selected;
  return answer->result;
}

int QtUiHost::runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& record) {
  struct Answer {
    int result = kIdCancel;
    EditorRecord record;
  };
  auto answer = std::make_shared<Answer>();
  answer->record = record;
  bool ended = runModal(false, [answer, kind, frame, owner = QPointer<QWidget>(owner_)](Modal& m) {
    EditorDialog dialog(kind, frame, answer->record, owner);
    m.dialog = &dialog;
    answer->result = dialog.exec() == QDialog::Accepted ? kIdOk : kIdCancel;
  });
  if (!ended || answer->result != kIdOk) return kIdCancel;
  record = answer->record;
  return kIdOk;
}

}  // namespace okt
