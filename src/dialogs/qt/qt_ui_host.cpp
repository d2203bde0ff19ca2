#include "dialogs/qt/qt_ui_host.h"

#include <QMessageBox>
#include <QMetaObject>
#include <QThread>

namespace okt {

QtUiHost::QtUiHost(QWidget* owner, const ClientState* state) : owner_(owner), state_(state) {}

void QtUiHost::setDisplayRect(const ViewRect& rect) {
  std::lock_guard<std::mutex> lock(rectMutex_);
  rect_ = rect;
}

ViewRect QtUiHost::displayRect() {
  std::lock_guard<std::mutex> lock(rectMutex_);
  return rect_;
}

void QtUiHost::onGui(const std::function<void()>& f) {
  if (QThread::currentThread() == thread()) {
    f();
    return;
  }
  QMetaObject::invokeMethod(this, f, Qt::BlockingQueuedConnection);
}

void QtUiHost::presentFrame(const PixelBuffer& frame) {
  if (frame.empty()) return;
  QImage image = QImage(frame.pixels.data(), static_cast<int>(frame.width), static_cast<int>(frame.height),
                        static_cast<qsizetype>(frame.width) * 4, QImage::Format_ARGB32)
                     .copy();
  QMetaObject::invokeMethod(this, [this, image] {
    if (onFrame) onFrame(image);
  }, Qt::QueuedConnection);
}

void QtUiHost::button(Button b, bool on) {
  QMetaObject::invokeMethod(this, [this, b, on] {
    if (onButton) onButton(b, on);
  }, Qt::QueuedConnection);
}

void QtUiHost::showPageNumber(uint32_t n) {
  QMetaObject::invokeMethod(this, [this, n] {
    if (onPageNumber) onPageNumber(n);
  }, Qt::QueuedConnection);
}

void QtUiHost::disableNavigation() {
  for (Button b : {Button::Back, Button::Prev, Button::Next, Button::PageBox}) button(b, false);
}

void QtUiHost::errorBox(const std::string& text) {
  onGui([&] { QMessageBox::critical(nullptr, "ERROR", QString::fromUtf8(text.c_str())); });
}

int QtUiHost::passwordDialog(const PasswordRequest& request, std::string& entry) {
  int result = kDialogCancel;
  onGui([&] {
    ClientState none;
    DialogTemplate frame = buildPasswordTemplate(none, 0xFFFFFF);
    if (!request.title.empty()) frame.caption = toUtf16(request.title, kCaptionUnits);
    PasswordDialog dialog(frame, request, owner_);
    result = dialog.exec() == QDialog::Accepted ? kDialogOk : kDialogCancel;
    entry = dialog.entry();
  });
  return result;
}

int QtUiHost::popupDialog(const PopupRequest& request, int32_t& selectedButton) {
  int result = kDialogCancel;
  onGui([&] {
    PopupDialog dialog(request, icons, owner_);
    result = dialog.exec() == QDialog::Accepted ? kDialogOk : kDialogCancel;
    selectedButton = dialog.selectedButton();
  });
  return result;
}

int QtUiHost::runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& record) {
  int result = kIdCancel;
  // The client thread waits in this call, so the tables hold still while
  // the list editor reads its texts.
  onGui([&] {
    EditorDialog dialog(kind, frame, record, state_, owner_);
    result = dialog.exec() == QDialog::Accepted ? kIdOk : kIdCancel;
  });
  return result;
}

}  // namespace okt
