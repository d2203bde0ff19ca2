#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tick.h"
#include "presentation/ui_host.h"

namespace okt::test {

// Stands in for the window system and the drawing: records every call as a
// line of text and answers dialogs from a script.
class ScriptedHost : public UiHost, public DisplayRenderer {
 public:
  struct Answer {
    int result = kDialogCancel;
    std::string entry;       // password dialogs
    int32_t button = -1;     // pop-ups
  };

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
  void errorBox(const std::string& text) override { record("error: " + text); }
  void allowDialogs(bool allowed) override { allowed_ = allowed; }
  void closeDialogs() override { allowed_ = false; }

  int passwordDialog(const PasswordRequest& r, std::string& entry) override {
    std::string call = "password " + std::to_string(r.promptId) + " \"" + r.title + "\"";
    if (!allowed_) {
      record("refused " + call);
      return kDialogCancel;
    }
    record(call);
    Answer a = next();
    entry = a.entry;
    return a.result;
  }
  int popupDialog(const PopupRequest& r, int32_t& selectedButton) override {
    std::string call = "popup " + std::to_string(r.popupId) + " \"" + r.title + "\" " + std::to_string(r.buttonLabels.size());
    if (!allowed_) {
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
  Answer next() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (answers_.empty()) return {};
    Answer a = answers_.front();
    answers_.pop_front();
    return a;
  }
  void record(std::string call) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      calls_.push_back(std::move(call));
    }
    cv_.notify_all();
  }

  std::atomic<bool> allowed_{true};
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<std::string> calls_;
  std::deque<Answer> answers_;
};

}  // namespace okt::test
