#include "engine/engine.h"

#include <chrono>
#include <condition_variable>
#include <new>
#include <vector>

#include "platform/log.h"
#include "platform/tick.h"
#include "protocol/requests.h"
#include "protocol/wire.h"

namespace okt {
namespace {

constexpr uint32_t kFirstRowTop = 6144;
constexpr uint32_t kRowPitch = 9728;
constexpr uint32_t kRowHeight = 8192;
constexpr uint32_t kNone = 0xFFFFFFFF;

// The engine whose client thread this is (work handed to the client thread
// from the client thread itself runs at once).
thread_local const Engine* clientOf = nullptr;

// Connections opened without a number (postControl) get one from here, far
// above the link's own numbers.
std::atomic<uint64_t> unnumbered{uint64_t{1} << 40};

}  // namespace

Engine::Engine(Protocol& protocol, DisplayRenderer& renderer, UiHost& ui)
    : p_(protocol), ui_(ui), renderer_(renderer), display_(protocol, renderer, ui) {
  p_.hooks.postData = [this] { postClient(ClientFlag::DATA); };
  // What arrives in one pass is shown once, when the pass has decoded it all:
  // a device that sends faster than the display draws is not drawn behind.
  p_.hooks.objectChanged = [this](uint32_t id) { redrawDue_ = redrawDue_ || display_.objectShown(id); };
  p_.hooks.variableChanged = [this](uint32_t id) { redrawDue_ = redrawDue_ || display_.variableShown(id); };
  p_.hooks.elementProgress = [this](bool first) {
    received_ += first;
    lastArrivalTick_ = platform::tickCount();
  };
  p_.hooks.cancelled = [this] { return cancelled(); };
}

Engine::~Engine() { shutdown(); }

int Engine::startControlThread() {
  std::lock_guard<std::mutex> lock(startMutex_);
  if (controlRunning_) return 0;
  controlRunning_ = true;
  controlThread_ = std::thread([this] { controlLoop(); });
  return 0;
}

int Engine::startClientThread() {
  std::lock_guard<std::mutex> lock(startMutex_);
  if (clientRunning_) return 0;
  releaseTables();
  p_.state = ClientState{};
  p_.state.activeLock = kNoLock;
  p_.state.infoReceived = 0;
  clientRunning_ = true;
  clientThread_ = std::thread([this] { clientLoop(); });
  return 0;
}

void Engine::shutdown() {
  std::lock_guard<std::mutex> lock(startMutex_);
  quitting_ = true;
  ui_.closeDialogs();
  if (controlThread_.joinable()) {
    controlFlags_.post(ControlFlag::QUIT);
    controlThread_.join();
  }
  if (clientThread_.joinable()) {
    clientFlags_.post(ClientFlag::STOP);
    clientThread_.join();
  }
}

bool Engine::cancelled() const { return quitting_.load() || connectionCommands_.load() > 0; }

void Engine::queueCommand(Command c, bool user) {
  bool connection = c.kind == Command::Kind::Connect || c.kind == Command::Kind::Disconnect;
  if (!connection) {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    // User actions beyond this many are dropped.
    if (controlCommands_.size() >= kMaxQueuedActions) return;
    if (user) ++actionsQueued_;
    controlCommands_.push_back(std::move(c));
    return;
  }
  // Connection requests are never dropped. Whatever dialog the current
  // connection has open can no longer be answered.
  std::lock_guard<std::mutex> dialogs(dialogsMutex_);
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    ++connectionCommands_;
    controlCommands_.push_back(std::move(c));
  }
  ui_.allowDialogs(false);
}

void Engine::allowDialogsIfCurrent(uint64_t number) {
  std::lock_guard<std::mutex> dialogs(dialogsMutex_);
  if (!cancelled() && number == latestConnect_.load() && number > endedThrough_.load()) ui_.allowDialogs(true);
}

void Engine::pushClientWork(ClientWork work) {
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    clientWork_.push_back(std::move(work));
  }
  postClient(ClientFlag::TASKS);
}

bool Engine::anyPressed() const {
  bool pressed = false;
  p_.state.pObjList.forEachStored([&](uint32_t, const ObjectEntry& e) { pressed = pressed || e.pressed; });
  return pressed;
}

bool Engine::settled() const { return actionsDone_.load() == actionsQueued_.load() && !anyPressed_.load(); }

int Engine::postControl(uint32_t flags) {
  if (!controlRunning_) return 0;
  if (flags & ControlFlag::CONNECT) postConnect({});
  if (flags & ControlFlag::DISCONNECT) postDisconnect(false);
  if (flags & ControlFlag::PREV_PAGE) queueCommand(Command(Command::Kind::PrevPage), true);
  if (flags & ControlFlag::NEXT_PAGE) queueCommand(Command(Command::Kind::NextPage), true);
  if (flags & ControlFlag::BACK) queueCommand(Command(Command::Kind::Back), true);
  controlFlags_.post(flags);
  return 0;
}

void Engine::postConnect(const ConnectRequest& request) {
  if (!controlRunning_) return;
  if (request.number != 0 && request.number <= endedThrough_.load()) return;  // its link has gone already
  Command c{Command::Kind::Connect};
  c.connect = request;
  if (c.connect.number == 0) c.connect.number = ++unnumbered;
  latestConnect_ = c.connect.number;
  // The state says so at once: a connection asked for is being downloaded.
  status_.beginDownload(c.connect.number);
  queueCommand(std::move(c), true);
  controlFlags_.post(ControlFlag::CONNECT);
}

void Engine::postDisconnect(bool lost, uint64_t number) {
  if (!controlRunning_) return;
  for (uint64_t ended = endedThrough_.load(); number > ended && !endedThrough_.compare_exchange_weak(ended, number);) {
  }
  Command c{Command::Kind::Disconnect};
  c.lost = lost;
  queueCommand(std::move(c), true);
  controlFlags_.post(ControlFlag::DISCONNECT);
}

int Engine::postClick(uint32_t x, uint32_t y) {
  uint32_t right = static_cast<uint32_t>(viewRight_.load());
  uint32_t bottom = static_cast<uint32_t>(viewBottom_.load());
  if (!controlRunning_ || right == 0 || bottom == 0) return 0;
  Command c{Command::Kind::Click};
  c.x = x * 65535u / right;
  c.y = y * 65535u / bottom;
  queueCommand(c, true);
  controlFlags_.post(ControlFlag::CLICK);
  return 0;
}

void Engine::postResize(const ViewRect& rect) {
  if (rect.right <= rect.left || rect.bottom <= rect.top) return;
  pushClientWork({std::nullopt, [this, rect] {
                    ClientState& s = p_.state;
                    // The surface kept for the next frame may be of the old size or pixel ratio.
                    renderer_.forgetPictures();
                    // Between connections the next connect takes the area's size itself.
                    if (!s.pObjList.exists()) return;
                    s.viewRect = rect;
                    viewRight_ = rect.right;
                    viewBottom_ = rect.bottom;
                    if (s.displayReady && objectBody(s, s.currentScreen)) display_.redrawCurrent();
                  }});
}

int Engine::postClient(uint32_t flags) {
  if (!clientRunning_) return 0;
  clientFlags_.post(flags);
  return 0;
}

void Engine::setClick(uint32_t x, uint32_t y) {
  Command c{Command::Kind::Click};
  c.x = x;
  c.y = y;
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    if (clientWork_.size() >= kMaxQueuedActions) return;
    ++actionsQueued_;
    clientWork_.push_back({c, nullptr});
  }
  postClient(ClientFlag::ACTIONS);
}

void Engine::controlLoop() {
  platform::logText("REDO Ctrl: task started\n");
  for (;;) {
    uint32_t f = controlFlags_.waitAndTake(platform::WakeEvent::kInfinite);
    if (f == 0) continue;
    platform::logText("REDO Ctrl: event ocurred\n");
    std::deque<Command> commands;
    {
      std::lock_guard<std::mutex> lock(commandsMutex_);
      commands.swap(controlCommands_);
    }
    // In the order they were posted: a connect, then a disconnect posted
    // after it, ends disconnected; clicks and paging reach the client
    // thread in the same queue as the connection's work, so they act on the
    // connection they were made on.
    bool forwarded = false;
    for (Command& c : commands) {
      switch (c.kind) {
        case Command::Kind::Connect:
          --connectionCommands_;
          if (!quitting_ && c.connect.number > endedThrough_.load()) openConnection(c.connect);
          break;
        case Command::Kind::Disconnect:
          --connectionCommands_;
          closeConnection(c.lost);
          break;
        default: {
          std::lock_guard<std::mutex> lock(commandsMutex_);
          clientWork_.push_back({c, nullptr});
          forwarded = true;
        }
      }
    }
    if (forwarded) postClient(ClientFlag::ACTIONS);
    if (f & ControlFlag::QUIT) break;
  }
  postClient(ClientFlag::STOP);
  platform::logText("REDO Ctrl: task finished\n");
  controlRunning_ = false;
}

bool Engine::runOnClient(const std::function<void()>& f) {
  if (!clientRunning_ || clientOf == this) {
    f();
    return true;
  }
  struct Handover {
    std::mutex m;
    std::condition_variable cv;
    enum { Waiting, Running, Done, Abandoned } state = Waiting;
  };
  auto h = std::make_shared<Handover>();
  pushClientWork({std::nullopt, [h, &f] {
                    {
                      std::lock_guard<std::mutex> lock(h->m);
                      if (h->state == Handover::Abandoned) return;  // the caller has gone: f is gone with it
                      h->state = Handover::Running;
                    }
                    f();
                    std::lock_guard<std::mutex> lock(h->m);
                    h->state = Handover::Done;
                    h->cv.notify_all();
                  }});
  std::unique_lock<std::mutex> lock(h->m);
  for (;;) {
    if (h->cv.wait_for(lock, std::chrono::milliseconds(20), [&] { return h->state == Handover::Done; })) return true;
    // Ending: work not yet started is abandoned; work under way is short.
    if (quitting_ && h->state == Handover::Waiting) {
      h->state = Handover::Abandoned;
      return false;
    }
  }
}

uint64_t Engine::runClientWork() {
  std::deque<ClientWork> work;
  {
    std::lock_guard<std::mutex> lock(commandsMutex_);
    work.swap(clientWork_);
  }
  uint64_t done = 0;
  for (ClientWork& w : work) {
    if (w.task) {
      w.task();
      continue;
    }
    switch (w.action->kind) {
      case Command::Kind::Click:
        p_.state.clickX = w.action->x;
        p_.state.clickY = w.action->y;
        handleClick();
        break;
      case Command::Kind::PrevPage: display_.previousMenuPage(); break;
      case Command::Kind::NextPage: display_.nextMenuPage(); break;
      case Command::Kind::Back: goBack(); break;
      default: break;
    }
    ++done;
  }
  return done;
}

void Engine::openConnection(const ConnectRequest& request) {
  ViewRect rect = ui_.displayRect();
  if (rect.right == rect.left) {
    if (onConnectFailed) onConnectFailed(request.number, "The display area has no width");
    return;
  }
  {
    std::lock_guard<std::mutex> dialogs(dialogsMutex_);
    ui_.allowDialogs(false);
  }
  if (!runOnClient([&] { beginConnection(rect, request); })) return;
  viewRight_ = rect.right;
  viewBottom_ = rect.bottom;
  platform::logText("REDO Ctrl: REDO Control: Connect to OKT Server\n");

  // The client thread decodes the INFO reply while this thread waits.
  Allocation tables;
  if (requestInfo(p_) != 0)
    tables.failure = "Cannot connect to the OKT service";
  else if (!runOnClient([&] { tables = allocateConnectionTables(); }))
    return;
  if (tables.failure) {
    // A newer request, the end, or a link that went: not this connection's fault.
    if (cancelled() || request.number <= endedThrough_.load()) return;
    status_.set({ConnectionPhase::Idle, tables.failure});
    if (onConnectFailed) onConnectFailed(request.number, tables.failure);
    // Reconnecting runs without the user: no box for each attempt.
    if (!request.resume) ui_.errorBox(tables.failure);
    return;
  }
  // The requests go out from this thread: a write may wait on the link while
  // the client thread goes on decoding.
  if (tables.textCount) requestTable(p_, RequestType::GET_TEXTS, tables.textCount);
  if (tables.variableCount) requestTable(p_, RequestType::GET_VARIABLES, tables.variableCount);
  requestTable(p_, RequestType::GET_OBJECTS, tables.objectCount);
  pushClientWork({std::nullopt, [this, number = request.number] { connectionReady(number); }});
}

void Engine::closeConnection(bool lost) {
  platform::logText("REDO Ctrl: Disconnect from OKT Server\n");
  {
    std::lock_guard<std::mutex> dialogs(dialogsMutex_);
    ui_.allowDialogs(false);
  }
  pushClientWork({std::nullopt, [this, lost] { releaseConnection(lost); }});
}

void Engine::beginConnection(const ViewRect& rect, const ConnectRequest& request) {
  ClientState& s = p_.state;
  // A connect over an earlier one's tables releases them first.
  if (s.pObjList.exists()) releaseTables();
  s.viewRect = rect;
  s.displayReady = 0;
  // Another device: its displays have nothing to do with the ones we went through.
  if (request.device != device_) {
    s.backDepth = 0;
    device_ = request.device;
    saved_ = {};
  }
  // Only a reconnection returns to a display; a connect of the user's starts afresh.
  if (!request.resume) saved_ = {};
  resume_ = saved_;
  downloading_ = 0;
}

// Sizes the three tables from the INFO reply and makes the home display (or
// the one to resume) current.
Engine::Allocation Engine::allocateConnectionTables() {
  ClientState& s = p_.state;
  Allocation a{nullptr, s.textCount, s.variableCount, s.objectCount};
  if (s.objectCount == 0) {
    a.failure = "Cannot connect to the OKT service";
    return a;
  }
  a.failure = "Cannot reserve memory pObjList";
  try {
    allocateObjectTable(s, s.objectCount);
    if (s.textCount) {
      a.failure = "Cannot reserve memory pStrList";
      allocateTextTable(s, s.textCount);
    }
    if (s.variableCount) {
      a.failure = "Cannot reserve memory pVarList";
      allocateVariableTable(s, s.variableCount);
    }
  } catch (const std::bad_alloc&) {
    return a;
  }
  a.failure = nullptr;
  s.currentScreen = s.homeScreen;
  s.menuPage = 0;
  if (resume_.screen < s.objectCount) {
    s.currentScreen = resume_.screen;
    s.menuPage = resume_.menuPage;
  } else {
    resume_ = {};
  }
  announced_ = s.objectCount + s.textCount + s.variableCount;
  received_ = 0;
  return a;
}

void Engine::connectionReady(uint64_t number) {
  ClientState& s = p_.state;
  if (!s.pObjList.exists()) return;  // released meanwhile
  s.displayReady = 1;
  downloading_ = number;
  lastArrivalTick_ = platform::tickCount();
  allowDialogsIfCurrent(number);
  // What of the current display arrived before the display was ready is
  // shown now; what arrives from now on shows itself (once each).
  if (objectBody(s, s.currentScreen)) display_.redrawCurrent();
}

void Engine::releaseConnection(bool lost) {
  ClientState& s = p_.state;
  if (!lost) saved_ = {};
  if (lost && s.pObjList.exists()) {
    // Screens and menus can be returned to; prompts, pop-ups and locks are
    // the device's to show again. A display not back yet (a resumed
    // connection lost again early) leaves the one to return to as it was.
    int32_t type = objectType(s, s.currentScreen);
    if (type == static_cast<int32_t>(ObjectType::Screen) || type == static_cast<int32_t>(ObjectType::Menu))
      saved_ = {s.currentScreen, type, s.menuPage};
  }
  downloading_ = 0;
  releaseTables();
}

void Engine::releaseTables() {
  okt::releaseTables(p_.state);
  // Pictures are kept by object and body version, which start again with the next tables.
  renderer_.forgetPictures();
  // A lock screen cannot outlive the tables that describe it.
  p_.state.activeLock = kNoLock;
  p_.state.lockImage.reset();
}

void Engine::trackDownload() {
  if (!downloading_) return;
  ClientState& s = p_.state;
  bool complete = received_ >= announced_ || platform::tickCount() - lastArrivalTick_ >= kDownloadQuietMs;
  status_.download(downloading_, received_, announced_, complete);
  if (!complete) return;
  downloading_ = 0;
  // The display to return to did not come back as what it was: home instead.
  if (isValidId(resume_.screen) && s.currentScreen == resume_.screen && objectType(s, resume_.screen) != resume_.type) {
    s.currentScreen = s.homeScreen;
    s.menuPage = 0;
    display_.redrawCurrent();
  }
  // Returned to, or not: from here on the display to return to is the one
  // the user is on when the link next goes.
  if (isValidId(resume_.screen)) saved_ = {};
  resume_ = {};
}

void Engine::clientLoop() {
  clientOf = this;
  for (;;) {
    pressTimers();
    // Messages left from the last pass are decoded without waiting.
    uint32_t wait = queueIsEmpty(p_.queue) ? waitTime() : 0;
    anyPressed_ = anyPressed();
    uint32_t f = clientFlags_.waitAndTake(wait);
    // Ending: what is left to decode or draw is of no use to anyone now.
    if ((f & ClientFlag::STOP) || quitting_) break;
    // At most a queue's worth a pass: a device that never stops sending
    // must not keep the user's clicks waiting.
    if ((f & ClientFlag::DATA) || !queueIsEmpty(p_.queue)) drainReceiveQueue(p_, kQueueCapacity);
    if (redrawDue_) {
      redrawDue_ = false;
      display_.redrawCurrent();
    }
    uint64_t done = runClientWork();
    refreshLock();
    trackDownload();
    // An action counts as handled once the press it made is visible.
    anyPressed_ = anyPressed();
    actionsDone_ += done;
  }
  clientOf = nullptr;
  clientRunning_ = false;
}

uint32_t Engine::waitTime() {
  const ClientState& s = p_.state;
  if (!infoArrived(s) || s.objectCount == 0 || !s.pObjList.exists()) return platform::WakeEvent::kInfinite;
  if (anyPressed()) return 10;
  return s.activeLock == kNoLock ? 100 : 50;
}

void Engine::pressTimers() {
  ClientState& s = p_.state;
  if (!infoArrived(s) || s.objectCount == 0 || !s.pObjList.exists()) return;
  std::vector<uint32_t> pressed;
  s.pObjList.forEachStored([&](uint32_t id, const ObjectEntry& e) {
    if (e.pressed) pressed.push_back(id);
  });
  if (pressed.empty()) return;  // the usual pass: nothing to time, nothing to ask the device
  uint32_t now = platform::tickCount();
  // The device's answer to the press (its event) comes before the press ends.
  bool answered = !deviceQuiet || (queueIsEmpty(p_.queue) && deviceQuiet());
  for (uint32_t id : pressed) {
    ObjectEntry* e = s.pObjList.existing(id);
    if (!e || !e->pressed) continue;
    uint32_t held = now - e->pressTick;
    if (held <= pressMs || (!answered && held <= kPressMs)) continue;
    e->pressed = 0;
    e->pressTick = 0;

    const MenuItem* item = nullptr;
    if (const auto* menu = e->body ? std::get_if<MenuBody>(e->body.get()) : nullptr) {
      if (e->selectedItem >= 0 && static_cast<size_t>(e->selectedItem) < menu->items.size())
        item = &menu->items[static_cast<size_t>(e->selectedItem)];
    }
    uint32_t target = kNone;
    if (const auto* button = e->body ? std::get_if<ButtonBody>(e->body.get()) : nullptr) target = button->targetScreen;
    if (item) target = item->targetScreen;
    if (isValidId(target)) {
      pushBack(s, s.currentScreen);
      display_.goToScreen(target);
      return;
    }

    uint32_t variable = kNone, title = kNone;
    if (item) variable = item->variableId, title = item->textId;
    if (const auto* box = e->body ? std::get_if<TextBoxBody>(e->body.get()) : nullptr)
      variable = box->variableId, title = box->textId;
    if (isValidId(variable)) {
      if (editVariable) editVariable(variable, title);
      if (ObjectEntry* current = s.pObjList.existing(s.currentScreen)) current->selectedItem = -1;
      display_.redrawCurrent();
      return;
    }
    // Released without a redraw: it keeps its pressed look until the next one.
  }
}

void Engine::handleClick() {
  ClientState& s = p_.state;
  if (s.currentScreen == kNone || !infoArrived(s) || s.objectCount == 0 || !s.pObjList.contains(s.currentScreen))
    return;
  int32_t pressed = -1;
  switch (objectType(s, s.currentScreen)) {
    case ObjectType::Menu: pressed = menuClick(s.currentScreen); break;
    case ObjectType::LockObject: pressed = lockButtonHit(s.currentScreen); break;
    case ObjectType::Screen: pressed = screenClick(s.currentScreen); break;
    default: return;
  }
  if (pressed < 0) return;
  ObjectEntry* e = s.pObjList.edit(static_cast<uint32_t>(pressed), s.budget);
  if (!e) return;
  e->pressTick = platform::tickCount();
  e->pressed = 1;
  display_.redrawCurrent();
}

int32_t Engine::screenClick(uint32_t screenId) {
  ClientState& s = p_.state;
  const ScreenBody* screen = bodyOf<ScreenBody>(s, screenId);
  if (!screen || screen->children.empty()) return -1;
  uint32_t x = s.clickX, y = s.clickY;
  for (const Placement& p : screen->children) {
    if (!(p.x <= x && x < uint32_t{p.x} + p.width && p.y <= y && y < uint32_t{p.y} + p.height)) continue;
    uint32_t event = kNone;
    if (const auto* button = bodyOf<ButtonBody>(s, p.objectId)) event = button->pressEvent;
    if (const auto* gauge = bodyOf<GaugeBody>(s, p.objectId)) event = gauge->pressEvent;
    if (isValidId(event)) sendEvent(p_, event, p.objectId, nullptr, 0);
    // A placement naming an id outside the table cannot hold a press state.
    return s.pObjList.contains(p.objectId) ? static_cast<int32_t>(p.objectId) : -1;
  }
  return -1;
}

int32_t Engine::menuClick(uint32_t menuId) {
  ClientState& s = p_.state;
  const MenuBody* menu = bodyOf<MenuBody>(s, menuId);
  uint32_t x = s.clickX, y = s.clickY;
  if (!menu || y < kFirstRowTop) return -1;
  uint32_t row = (y - kFirstRowTop) / kRowPitch;
  if ((y - kFirstRowTop) - row * kRowPitch > kRowHeight) return -1;  // the gap below a row
  if (row >= kMenuRowsPerPage) return -1;                            // below the last row of the page
  uint32_t index = row + s.menuPage * kMenuRowsPerPage;
  if (index >= menu->items.size()) return -1;
  ObjectEntry* e = s.pObjList.edit(menuId, s.budget);
  if (!e) return -1;
  e->selectedItem = static_cast<int32_t>(index);
  const MenuItem& item = menu->items[index];
  if (isValidId(item.event)) {
    uint8_t data[2];
    putU16(data, x);
    sendEvent(p_, item.event, menuId, data, 2);
  }
  return static_cast<int32_t>(menuId);
}

void Engine::goBack() {
  ClientState& s = p_.state;
  // A lock screen holds the user until the device, its time-out or its
  // unlock button ends it.
  if (s.activeLock != kNoLock) return;
  uint32_t id = popBack(s);
  if (id == kNone) return;
  if (const MenuBody* menu = s.pObjList.contains(s.currentScreen) ? bodyOf<MenuBody>(s, s.currentScreen) : nullptr)
    if (isValidId(menu->leaveEvent)) sendEvent(p_, menu->leaveEvent, s.currentScreen, nullptr, 0);
  display_.goToScreen(id);
}

}  // namespace okt
