#pragma once

#include <QImage>
#include <QObject>
#include <QWidget>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "dialogs/editors.h"
#include "dialogs/qt/dialogs.h"
#include "presentation/ui_host.h"

namespace okt {

// The window system's side of the client, living on the GUI thread. The
// core threads call it: frames, button states and texts are handed over
// asynchronously; a modal dialog (error box, editor, password prompt,
// pop-up) runs on the GUI thread while the calling thread waits for its
// answer. The GUI thread never waits for a core thread, and a waiting core
// thread is let go at once when dialogs are closed, whether or not the GUI
// thread still runs its event loop.
class QtUiHost : public QObject, public UiHost, public EditorHost {
 public:
  enum class Button { Prev, Next, Back, PageBox };

  explicit QtUiHost(QWidget* owner);
  ~QtUiHost() override;

  void setDisplayRect(const ViewRect& rect);
  // Called on the GUI thread.
  std::function<void(const QImage& frame)> onFrame;
  std::function<void(Button button, bool enabled)> onButton;
  std::function<void(uint32_t page)> onPageNumber;
  std::function<void(const std::vector<DisplayTarget>& targets)> onTargets;
  PopupDialog::IconRenderer icons;

  ViewRect displayRect() override;
  void presentFrame(const PixelBuffer& frame) override;
  void enablePrevPage(bool on) override { button(Button::Prev, on); }
  void enableNextPage(bool on) override { button(Button::Next, on); }
  void enableBack(bool on) override { button(Button::Back, on); }
  void enablePageBox(bool on) override { button(Button::PageBox, on); }
  void showPageNumber(uint32_t n) override;
  void disableNavigation() override;
  void showTargets(const std::vector<DisplayTarget>& targets) override;
  void errorBox(const std::string& text) override;
  void allowDialogs(bool allowed) override;
  void closeDialogs() override;
  int passwordDialog(const PasswordRequest& request, std::string& entry) override;
  int popupDialog(const PopupRequest& request, int32_t& selectedButton) override;
  int runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& record) override;

 private:
  struct Modal;
  void button(Button b, bool on);
  // Runs `show` on the GUI thread (it makes the dialog, records it in the
  // Modal and runs it) while the caller waits. False when the dialog was
  // closed, or refused, before it ended by itself. `show` may run after the
  // caller has gone: it owns everything it uses.
  bool runModal(bool errorBox, std::function<void(Modal&)> show);
  void cancel(bool errorBoxesToo);

  QWidget* owner_;
  std::mutex rectMutex_;
  ViewRect rect_;
  std::mutex modalMutex_;
  std::vector<std::shared_ptr<Modal>> open_;
  bool allowed_ = true;
  bool closed_ = false;
};

}  // namespace okt
