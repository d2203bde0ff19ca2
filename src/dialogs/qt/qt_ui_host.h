#pragma once

#include <QImage>
#include <QObject>
#include <QWidget>
#include <functional>
#include <mutex>

#include "dialogs/editors.h"
#include "dialogs/qt/dialogs.h"
#include "presentation/ui_host.h"

namespace okt {

// The window system's side of the client, living on the GUI thread. The
// core threads call it: frames, button states and texts are handed over
// asynchronously; a modal dialog (error box, editor, password prompt,
// pop-up) runs on the GUI thread while the calling thread waits for its
// answer. It never waits for a core thread itself.
class QtUiHost : public QObject, public UiHost, public EditorHost {
 public:
  enum class Button { Prev, Next, Back, PageBox };

  QtUiHost(QWidget* owner, const ClientState* state);

  void setDisplayRect(const ViewRect& rect);
  // Called on the GUI thread.
  std::function<void(const QImage& frame)> onFrame;
  std::function<void(Button button, bool enabled)> onButton;
  std::function<void(uint32_t page)> onPageNumber;
  PopupDialog::IconRenderer icons;

  ViewRect displayRect() override;
  void presentFrame(const PixelBuffer& frame) override;
  void enablePrevPage(bool on) override { button(Button::Prev, on); }
  void enableNextPage(bool on) override { button(Button::Next, on); }
  void enableBack(bool on) override { button(Button::Back, on); }
  void enablePageBox(bool on) override { button(Button::PageBox, on); }
  void showPageNumber(uint32_t n) override;
  void disableNavigation() override;
  void errorBox(const std::string& text) override;
  int passwordDialog(const PasswordRequest& request, std::string& entry) override;
  int popupDialog(const PopupRequest& request, int32_t& selectedButton) override;
  int runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& record) override;

 private:
  void button(Button b, bool on);
  // Runs f on the GUI thread and waits for it (at once when already there).
  void onGui(const std::function<void()>& f);

  QWidget* owner_;
  const ClientState* state_;
  std::mutex rectMutex_;
  ViewRect rect_;
};

}  // namespace okt
