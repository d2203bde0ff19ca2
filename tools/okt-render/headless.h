// The client as okt-render runs it: without a window. Frames are kept,
// dialogs are answered from a list of answers, in the order they open.
#pragma once

#include <QImage>
#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/editors.h"
#include "engine/engine.h"
#include "platform/log.h"
#include "presentation/renderer.h"
#include "protocol/protocol.h"

namespace okt::render {

QImage toImage(const PixelBuffer& frame);

// A dialog that opened with no answer waiting for it, and was cancelled.
struct UnansweredDialog {
  enum class Kind { Popup, Password, Edit };
  Kind kind = Kind::Popup;
  uint32_t id = 0;  // the pop-up's or prompt's object; for an editor, none
  std::string title;
  std::string message;               // a pop-up's message, a prompt's label, what an editor edits
  std::vector<std::string> buttons;  // a pop-up's button labels
};

class HeadlessHost : public NullUiHost {
 public:
  HeadlessHost(int w, int h, QString everyFrameDir)
      : NullUiHost({0, 0, w, h}), everyFrameDir_(std::move(everyFrameDir)) {}

  void presentFrame(const PixelBuffer& frame) override;
  void showTargets(const std::vector<DisplayTarget>& targets) override;
  void errorBox(const std::string& text) override { platform::logf("ERROR box: %s\n", text.c_str()); }
  // Dialogs that cannot be answered any more (the connection ended) are
  // cancelled and leave the answers for the next ones.
  void allowDialogs(bool allowed) override { allowed_ = allowed; }
  void closeDialogs() override { allowed_ = false; }

  int passwordDialog(const PasswordRequest& request, std::string& entry) override;
  int popupDialog(const PopupRequest& request, int32_t& selected) override;
  // title: the editor's caption; what: what it edits ("a number").
  bool nextEdit(const std::string& title, const std::string& what, std::string& value);

  // kind: "popup", "password" or "edit".
  void answer(const std::string& kind, const std::string& value);
  PixelBuffer frame();
  std::vector<DisplayTarget> targets();
  std::vector<UnansweredDialog> unanswered();

 private:
  bool next(const std::string& kind, std::string& value, UnansweredDialog seen);

  static constexpr size_t kMaxUnanswered = 16;  // a display that keeps opening one is still bounded

  std::atomic<bool> allowed_{true};
  QString everyFrameDir_;
  std::mutex mutex_;
  PixelBuffer frame_;
  uint64_t frames_ = 0;
  std::vector<DisplayTarget> targets_;
  std::deque<std::pair<std::string, std::string>> answers_;
  std::vector<UnansweredDialog> unanswered_;
};

// The editors as okt-render plays them: the next "edit" answer is typed into
// the editor the variable's type opens.
class HeadlessEditor : public EditorHost {
 public:
  explicit HeadlessEditor(HeadlessHost& host) : host_(host) {}
  int runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& r) override;

 private:
  HeadlessHost& host_;
};

// The whole client without a window, wired as every program with a display
// is; the device is connected by its owner (Protocol::hooks.sendRequest).
struct HeadlessClient {
  HeadlessClient(int w, int h, const QString& everyFrameDir = {});
  Protocol p;
  HeadlessHost host;
  Renderer renderer;
  Engine engine;
  HeadlessEditor editor;

  // Waits until the client has handled every action (a press has led to its
  // target or editor) and the device has nothing more to send.
  void settle(uint32_t atLeastMs, const std::function<bool()>& deviceQuiet);
};

}  // namespace okt::render
