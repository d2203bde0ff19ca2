#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "engine/connection_state.h"
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
    TASKS = 0x100,    // work handed over by the control thread
    ACTIONS = 0x200,  // user actions are queued
    STOP = 0x8000,
  };
};

constexpr uint32_t kPressMs = 200;
// A download is complete when everything INFO announced has arrived, or when
// nothing new has arrived for this long: devices may leave ids unused, and a
// device that keeps sending the values it has (a sweeping gauge) is not
// sending anything new.
constexpr uint32_t kDownloadQuietMs = 1000;

// A protocol connection to open over a link that is up.
struct ConnectRequest {
  std::string device;   // the device's address; the back stack is cleared when it changes
  bool resume = false;  // after a lost link: back to the display the user was on
  uint64_t number = 0;  // the link connection's number, for the reports below
};

// The protocol client on its two threads. The control thread opens and
// closes connections and forwards navigation; the client thread decodes,
// handles clicks and press timers, and owns the display.
//
// The client thread alone reads and writes the tables and the rest of the
// client state. The control thread hands it work and gets values back; no
// lock is held while a dialog waits for the user. Posting never waits: user
// actions and connection requests travel in order through queues, and flags
// only wake the threads.
class Engine {
 public:
  Engine(Protocol& protocol, DisplayRenderer& renderer, UiHost& ui);
  ~Engine();
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  // Both start once; 0 on success.
  int startControlThread();
  int startClientThread();
  // Closes every dialog as cancelled, ends both threads and waits for them.
  // Whatever they were waiting for (INFO, a dialog, each other) ends at once;
  // a write to the device ends with the link (abort it first).
  void shutdown();

  int postControl(uint32_t flags);
  // A request for a link connection that has already ended (see
  // postDisconnect's number) is dropped.
  void postConnect(const ConnectRequest& request);
  // lost: the connection ended by itself (the link was lost, or an attempt
  // to reconnect failed), and a resumed connection returns to the display
  // the user was on. number: the link connection that ended (0 unknown);
  // whatever the engine still had to do for it or an older one is dropped.
  void postDisconnect(bool lost, uint64_t number = 0);
  // The display area has a new size: the view follows it, and the current
  // display is drawn again at the new size (once; callers debounce).
  void postResize(const ViewRect& rect);
  // A click at pixel (x, y) of the display area.
  int postClick(uint32_t x, uint32_t y);
  int postClient(uint32_t flags);
  void setClick(uint32_t x, uint32_t y);

  Display& display() { return display_; }
  ConnectionStatus& connection() { return status_; }
  // True once every click, page step and BACK posted so far has been
  // handled and no object is still pressed (its target not yet followed).
  bool settled() const;
  // Opens variable editors (filled in by the dialogs).
  std::function<void(uint32_t variableId, uint32_t titleTextId)> editVariable;
  // The lock screen's periodic refresh and click test (filled in by the lock logic).
  std::function<void()> refreshLock = [] {};
  std::function<int32_t(uint32_t id)> lockButtonHit = [](uint32_t) { return -1; };
  // A protocol connection could not be opened (no INFO, no objects, no
  // memory); called on the control thread with the reason.
  std::function<void(uint64_t number, const std::string& reason)> onConnectFailed;
  // How long a press shows before its target or editor follows. Tools that
  // never show the press shorten it and set `deviceQuiet`: a press then also
  // waits, up to kPressMs in all, until that says the device has sent all it
  // will for now and everything it sent is decoded. Set both before the
  // client thread starts.
  uint32_t pressMs = kPressMs;
  std::function<bool()> deviceQuiet;

  // Runs f on the client thread and returns its result (at once on the
  // caller's thread when the client thread is not running). For tests and
  // tools that look at the tables.
  template <typename F>
  auto withTables(F&& f) {
    using R = decltype(f(p_.state));
    if constexpr (std::is_void_v<R>) {
      runOnClient([&] { f(p_.state); });
    } else {
      R result{};
      runOnClient([&] { result = f(p_.state); });
      return result;
    }
  }

 private:
  struct Command {
    enum class Kind { Connect, Disconnect, Click, PrevPage, NextPage, Back };
    explicit Command(Kind k) : kind(k) {}
    Kind kind;
    uint32_t x = 0, y = 0;
    ConnectRequest connect;
    bool lost = false;
  };
  // What a resumed connection returns to.
  struct Resume {
    uint32_t screen = 0xFFFFFFFF;
    int32_t type = -1;
    uint32_t menuPage = 0;
  };
  // The tables as allocated, handed back to the control thread.
  struct Allocation {
    const char* failure = nullptr;
    uint32_t textCount = 0, variableCount = 0, objectCount = 0;
  };

  void controlLoop();
  void clientLoop();
  void openConnection(const ConnectRequest& request);
  void closeConnection(bool lost);
  void queueCommand(Command c, bool user);
  bool cancelled() const;

  // Work for the client thread, in the order it was handed over: a user
  // action, or a task from the control thread.
  struct ClientWork {
    std::optional<Command> action;
    std::function<void()> task;
  };
  void pushClientWork(ClientWork work);
  void allowDialogsIfCurrent(uint64_t number);

  // Client thread.
  void beginConnection(const ViewRect& rect, const ConnectRequest& request);
  Allocation allocateConnectionTables();
  void connectionReady(uint64_t number);
  void releaseConnection(bool lost);
  void releaseTables();
  void trackDownload();
  // Runs the work handed over, in order; the number of user actions done.
  uint64_t runClientWork();
  // Runs f on the client thread and waits; false when the engine is ending.
  bool runOnClient(const std::function<void()>& f);

  uint32_t waitTime();
  void pressTimers();
  void handleClick();
  int32_t screenClick(uint32_t s);
  int32_t menuClick(uint32_t m);
  void goBack();
  bool anyPressed() const;

  static constexpr size_t kMaxQueuedActions = 256;

  Protocol& p_;
  UiHost& ui_;
  DisplayRenderer& renderer_;
  Display display_;
  ConnectionStatus status_;

  std::mutex commandsMutex_;
  std::deque<Command> controlCommands_;
  std::deque<ClientWork> clientWork_;
  // Dialogs are allowed and refused in the order connections come and go.
  std::mutex dialogsMutex_;
  std::atomic<uint64_t> latestConnect_{0};  // the newest connection asked for
  std::atomic<uint64_t> endedThrough_{0};   // link connections known to have ended
  std::atomic<uint64_t> actionsQueued_{0};
  std::atomic<uint64_t> actionsDone_{0};
  std::atomic<int> connectionCommands_{0};  // Connect and Disconnect not yet taken by the control thread
  std::atomic<bool> anyPressed_{false};
  std::atomic<bool> quitting_{false};

  platform::WakeEvent controlEvent_;
  platform::WakeEvent clientEvent_;
  platform::FlagWord controlFlags_{controlEvent_};
  platform::FlagWord clientFlags_{clientEvent_};
  std::mutex startMutex_;
  std::thread controlThread_;
  std::thread clientThread_;
  std::atomic<bool> controlRunning_{false};
  std::atomic<bool> clientRunning_{false};
  std::thread::id clientThreadId_;

  std::atomic<int32_t> viewRight_{0};
  std::atomic<int32_t> viewBottom_{0};

  // Client thread only.
  std::string device_;
  Resume saved_;
  Resume resume_;
  uint64_t downloading_ = 0;  // the connection whose download is tracked, 0 none
  uint32_t received_ = 0;
  uint32_t announced_ = 0;
  uint32_t lastArrivalTick_ = 0;  // the last new element, or part of one
  bool redrawDue_ = false;        // something the current display shows arrived
};

}  // namespace okt
