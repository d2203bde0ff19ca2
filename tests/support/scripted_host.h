#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "dialogs/editors.h"
#include "platform/tick.h"
#include "presentation/ui_host.h"

namespace okt::test {

// Stands in for the window system and the drawing: records every call as a
// line of text and answers dialogs from a script. A dialog answered with
// `held` stays open until dialogs are closed, as a user who walked away.
class ScriptedHost : public UiHost, public DisplayRenderer, public EditorHost {
 public:
  struct Answer {
    int result = kDialogCancel;
    std::string entry;    // password dialogs
    int32_t button = -1;  // pop-ups
    bool held = false;
  };
  static Answer held() { return {kDialogCancel, "", -1, true}; }
  // Error boxes stay open until the end (closeDialogs) while this is set.
  std::atomic<bool> holdErrorBoxes{false};

  ViewRect rect{0, 0, 600, 680};
  // When set, each redraw also records the ids of the objects then pressed.
  const ClientState* state = nullptr;

  void redrawScreen(uint32_t id) override { record("screen " + std::to_string(id) + pressedSuffix()); }
  void redrawMenu(uint32_t id) override {
    std::string page = state ? " page " + std::to_string(state->menuPage) : "";
    record("menu " + std::to_string(id) + page + pressedSuffix());
  }
  void drawLock(uint32_t id) override { record("lock " + std::to_string(id)); }

  ViewRect displayRect() override { return rect; }
  void presentFrame(const PixelBuffer&) override { record("frame"); }
  void enablePrevPage(bool on) override { record(std::string("prev ") + (on ? "on" : "off")); }
  void enableNextPage(bool on) override { record(std::string("next ") + (on ? "on" : "off")); }
  void enableBack(bool on) override { record(std::string("back ") + (on ? "on" : "off")); }
  void enablePageBox(bool on) override { record(std::string("pagebox ") + (on ? "on" : "off")); }
  void showPageNumber(uint32_t n) override { record("page " + std::to_string(n)); }
  void disableNavigation() override { record("navigation off"); }
  void errorBox(const std::string& text) override {
    record("error: " + text);
    if (holdErrorBoxes) waitUntil([&] { return closed_; });
  }
  void allowDialogs(bool allowed) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      allowed_ = allowed;
    }
    cv_.notify_all();
  }
  void closeDialogs() override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      allowed_ = false;
      closed_ = true;
    }
    cv_.notify_all();
  }
  // An answer's `button` is the value the editor stores.
  int runEditor(EditorKind kind, const DialogTemplate&, EditorRecord& r) override {
    std::string call = "editor " + std::to_string(static_cast<int>(kind));
    if (!allowed()) {
      record("refused " + call);
      return kIdCancel;
    }
    record(call);
    Answer a = next();
    if (a.result != kDialogOk) return kIdCancel;
    r.value = static_cast<uint32_t>(a.button);
    r.applied = 1;
    return kIdOk;
  }
  int passwordDialog(const PasswordRequest& r, std::string& entry) override {
    std::string call = "password " + std::to_string(r.promptId) + " \"" + r.title + "\"";
    if (!allowed()) {
      record("refused " + call);
      return kDialogCancel;
    }
    record(call);
    Answer a = next();
    entry = a.entry;
    return a.result;
  }
  int popupDialog(const PopupRequest& r, int32_t& selectedButton) override {
    std::string call =
        "popup " + std::to_string(r.popupId) + " \"" + r.title + "\" " + std::to_string(r.buttonLabels.size());
    if (!allowed()) {
      record("refused " + call);
      return kDialogCancel;
    }
    record(call);
    Answer a = next();
    selectedButton = a.button;
    return a.result;
  }

  void answer(Answer a) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.push_back(std::move(a));
  }

  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
  }
  void clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
  }
  size_t count(const std::string& call) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count(calls_.begin(), calls_.end(), call));
  }
  // Waits until a recorded call starts with `prefix`; false on timeout.
  bool waitFor(const std::string& prefix, uint32_t timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
      for (const auto& c : calls_)
        if (c.rfind(prefix, 0) == 0) return true;
      return false;
    });
  }

 private:
  std::string pressedSuffix() const {
    if (!state) return "";
    std::string out;
    state->pObjList.forEachStored([&](uint32_t id, const ObjectEntry& e) {
      if (e.pressed) out += " pressed " + std::to_string(id);
    });
    return out;
  }
  bool allowed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return allowed_;
  }
  template <typename F>
  void waitUntil(F&& condition) {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait(lock, condition);
  }
  Answer next() {
    Answer a;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (answers_.empty()) return {};
      a = answers_.front();
      answers_.pop_front();
    }
    if (a.held) waitUntil([&] { return !allowed_; });
    return a;
  }
  void record(std::string call) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(std::move(call));
    }
    cv_.notify_all();
  }

  bool allowed_ = true;
  bool closed_ = false;
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> calls_;
  std::deque<Answer> answers_;
};

}  // namespace okt::test
