#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/wake_event.h"
#include "presentation/display.h"
#include "protocol/protocol.h"

namespace okt {

// Control flags, posted by the main window.
struct ControlFlag {
  enum : uint32_t { CONNECT = 1, DISCONNECT = 2, CLICK = 4, QUIT = 8, PREV_PAGE = 16, NEXT_PAGE = 32, BACK = 64 };
};

// Client flags, posted by the receive path and the control thread.
struct ClientFlag {
  enum : uint32_t {
    DATA = 1,
    CLICK = 2,
    PREV_PAGE = 16,
    NEXT_PAGE = 32,
    BACK = 64,
    REDRAW = 0x100,   // show the current display again (after a connect)
    ACTIONS = 0x200,  // user actions are queued
    STOP = 0x8000,
  };
};

constexpr uint32_t kPressMs = 200;

// The protocol client on its two threads. The control thread opens and
// closes connections and forwards navigation; the client thread decodes,
// handles clicks and press timers, and owns the display.
//
// Posting never waits: flags are ORed into a word and the thread woken.
// The tables are touched only under the tables mutex, which the client
// thread holds for each pass and the control thread for allocation and
// release; so a release never pulls tables from under a decode or a draw.
class Engine {
 public:
  Engine(Protocol& protocol, DisplayRenderer& renderer, UiHost& ui);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Both start once; 0 on success.
  int startControlThread();
  int startClientThread();
  // Posts QUIT and waits for both threads to end.
  void shutdown();

  int postControl(uint32_t flags);
  // A click at pixel (x, y) of the display area.
  int postClick(uint32_t x, uint32_t y);
  int postClient(uint32_t flags);
  void setClick(uint32_t x, uint32_t y);

  Display& display() { return display_; }
  // True once every click, page step and BACK posted so far has been
  // handled and no object is still pressed (its target not yet followed).
  bool settled();
  // Opens variable editors (filled in by the dialogs).
  std::function<void(uint32_t variableId, uint32_t titleTextId)> editVariable;
  // The lock screen's periodic refresh and click test (filled in by the lock logic).
  std::function<void()> refreshLock = [] {};
  std::function<int32_t(uint32_t id)> lockButtonHit = [](uint32_t) { return -1; };

  // For tests: runs f under the tables mutex.
  template <typename F>
  auto withTables(F&& f) {
    std::lock_guard<std::mutex> lock(tablesMutex_);
    return f(p_.state);
  }

 private:
  void controlLoop();
  void clientLoop();
  void openConnection();
  void closeConnection();
  void releaseTablesLocked();
  const char* allocateConnectionTables(bool& texts, bool& variables);

  uint32_t waitTime();
  void pressTimers();
  void handleClick();
  int32_t screenClick(uint32_t s);
  int32_t menuClick(uint32_t m);
  void goBack();

  // User actions (clicks, paging, BACK) keep their order: they travel as a
  // queue, and the flags only wake the threads.
  struct Action {
    uint32_t flag;
    uint32_t x, y;
  };
  static constexpr size_t kMaxQueuedActions = 256;
  void queueAction(std::mutex& m, std::deque<Action>& q, Action a, bool newAction);
  std::deque<Action> takeActions(std::mutex& m, std::deque<Action>& q);

  Protocol& p_;
  UiHost& ui_;
  Display display_;
  std::mutex actionsMutex_;
  std::deque<Action> controlActions_;
  std::deque<Action> clientActions_;
  std::atomic<uint64_t> actionsQueued_{0};
  std::atomic<uint64_t> actionsDone_{0};

  platform::WakeEvent controlEvent_;
  platform::WakeEvent clientEvent_;
  platform::FlagWord controlFlags_{controlEvent_};
  platform::FlagWord clientFlags_{clientEvent_};
  std::mutex tablesMutex_;
  std::mutex startMutex_;
  std::thread controlThread_;
  std::thread clientThread_;
  std::atomic<bool> controlRunning_{false};
  std::atomic<bool> clientRunning_{false};

  std::atomic<uint32_t> lastConnectionFlag_{0};
  std::atomic<int32_t> viewRight_{0};
  std::atomic<int32_t> viewBottom_{0};
};

}  // namespace okt
