#include "engine/engine.h"

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

}  // namespace

Engine::Engine(Protocol& protocol, DisplayRenderer& renderer, UiHost& ui)
    : p_(protocol), ui_(ui), display_(protocol, renderer, ui) {
  p_.hooks.postData = [this] { postClient(ClientFlag::DATA); };
  p_.hooks.objectChanged = [this](uint32_t id) { display_.objectChanged(id); };
  p_.hooks.variableChanged = [this](uint32_t id) { display_.variableChanged(id); };
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
  {
    std::lock_guard<std::mutex> tables(tablesMutex_);
    releaseTablesLocked();
    p_.state = ClientState{};
    p_.state.activeLock = kNoLock;
    p_.state.infoReceived = 0;
  }
  clientRunning_ = true;
  clientThread_ = std::thread([this] { clientLoop(); });
  return 0;
}

void Engine::shutdown() {
  std::lock_guard<std::mutex> lock(startMutex_);
  if (controlThread_.joinable()) {
    controlFlags_.post(ControlFlag::QUIT);
    controlThread_.join();
  }
  if (clientThread_.joinable()) {
    clientFlags_.post(ClientFlag::STOP);
    clientThread_.join();
  }
}

void Engine::queueAction(std::mutex& m, std::deque<Action>& q, Action a, bool newAction) {
  std::lock_guard<std::mutex> lock(m);
  if (q.size() >= kMaxQueuedActions) return;
  if (newAction) ++actionsQueued_;  // forwarding an action does not count it again
  q.push_back(a);
}

bool Engine::settled() {
  if (actionsDone_.load() != actionsQueued_.load()) return false;
  return withTables([](ClientState& s) {
    bool pressed = false;
    s.pObjList.forEachStored([&](uint32_t, const ObjectEntry& e) { pressed = pressed || e.pressed; });
    return !pressed;
  });
}

std::deque<Engine::Action> Engine::takeActions(std::mutex& m, std::deque<Action>& q) {
  std::lock_guard<std::mutex> lock(m);
  std::deque<Action> out;
  out.swap(q);
  return out;
}

int Engine::postControl(uint32_t flags) {
  if (!controlRunning_) return 0;
  for (uint32_t f : {uint32_t{ControlFlag::PREV_PAGE}, uint32_t{ControlFlag::NEXT_PAGE}, uint32_t{ControlFlag::BACK}})
    if (flags & f) queueAction(actionsMutex_, controlActions_, {f, 0, 0}, true);
  // Posts combine, so remember which of CONNECT and DISCONNECT came last:
  // the connection must end up as the user left it.
  uint32_t connection = flags & (ControlFlag::CONNECT | ControlFlag::DISCONNECT);
  if (connection == ControlFlag::CONNECT || connection == ControlFlag::DISCONNECT) lastConnectionFlag_ = connection;
  controlFlags_.post(flags);
  return 0;
}

int Engine::postClick(uint32_t x, uint32_t y) {
  uint32_t right = static_cast<uint32_t>(viewRight_.load());
  uint32_t bottom = static_cast<uint32_t>(viewBottom_.load());
  if (!controlRunning_ || right == 0 || bottom == 0) return 0;
  uint32_t vx = x * 65535u / right;
  uint32_t vy = y * 65535u / bottom;
  queueAction(actionsMutex_, controlActions_, {ControlFlag::CLICK, vx, vy}, true);
  return postControl(ControlFlag::CLICK);
}

int Engine::postClient(uint32_t flags) {
  if (!clientRunning_) return 0;
  clientFlags_.post(flags);
  return 0;
}

void Engine::setClick(uint32_t x, uint32_t y) {
  queueAction(actionsMutex_, clientActions_, {ClientFlag::CLICK, x, y}, true);
  postClient(ClientFlag::ACTIONS);
}

void Engine::controlLoop() {
  platform::logText("REDO Ctrl: task started\n");
  for (;;) {
    uint32_t f = controlFlags_.waitAndTake(platform::WakeEvent::kInfinite);
    if (f == 0) continue;
    platform::logText("REDO Ctrl: event ocurred\n");
    bool both = (f & ControlFlag::CONNECT) && (f & ControlFlag::DISCONNECT);
    if (both && lastConnectionFlag_ == ControlFlag::CONNECT) {
      closeConnection();
      openConnection();
    } else {
      if (f & ControlFlag::CONNECT) openConnection();
      if (f & ControlFlag::DISCONNECT) closeConnection();
    }
    // Clicks, paging and BACK go on to the client thread in the order they came.
    if (f & (ControlFlag::CLICK | ControlFlag::PREV_PAGE | ControlFlag::NEXT_PAGE | ControlFlag::BACK)) {
      for (const Action& a : takeActions(actionsMutex_, controlActions_)) {
        uint32_t flag = a.flag == ControlFlag::CLICK ? uint32_t{ClientFlag::CLICK} : a.flag;
        queueAction(actionsMutex_, clientActions_, {flag, a.x, a.y}, false);
      }
      postClient(ClientFlag::ACTIONS);
    }
    if (f & ControlFlag::QUIT) break;
  }
  postClient(ClientFlag::STOP);
  platform::logText("REDO Ctrl: task finished\n");
  controlRunning_ = false;
}

void Engine::releaseTablesLocked() {
  releaseTables(p_.state);
  // A lock screen cannot outlive the tables that describe it.
  p_.state.activeLock = kNoLock;
  p_.state.lockImage.reset();
}

void Engine::openConnection() {
  ViewRect rect = ui_.displayRect();
  if (rect.right == rect.left) return;
  {
    std::lock_guard<std::mutex> lock(tablesMutex_);
    p_.state.viewRect = rect;
    p_.state.displayReady = 0;
    // A connect over an earlier one's tables releases them first.
    if (p_.state.pObjList.exists()) releaseTablesLocked();
  }
  viewRight_ = rect.right;
  viewBottom_ = rect.bottom;
  platform::logText("REDO Ctrl: REDO Control: Connect to OKT Server\n");

  // The client thread decodes the INFO reply while this thread waits.
  const char* failure = requestInfo(p_) != 0 ? "Cannot connect to the OKT service" : nullptr;
  bool texts = false, variables = false;
  if (!failure) {
    std::lock_guard<std::mutex> lock(tablesMutex_);
    failure = allocateConnectionTables(texts, variables);
  }
  if (failure) {
    ui_.errorBox(failure);
    return;
  }
  // The requests go out without the tables mutex: a write may wait on the link.
  if (texts) requestTexts(p_);
  if (variables) requestVariables(p_);
  requestObjects(p_);
  {
    std::lock_guard<std::mutex> lock(tablesMutex_);
    p_.state.displayReady = 1;
  }
  // Whatever of the home screen arrived before the display was ready is shown now.
  postClient(ClientFlag::REDRAW);
}

// Sizes the three tables from the INFO reply; the failure text, or null.
const char* Engine::allocateConnectionTables(bool& texts, bool& variables) {
  ClientState& s = p_.state;
  if (s.objectCount == 0) return "Cannot connect to the OKT service";
  const char* failure = "Cannot reserve memory pObjList";
  try {
    allocateObjectTable(s, s.objectCount);
    if (s.textCount) {
      failure = "Cannot reserve memory pStrList";
      allocateTextTable(s, s.textCount);
      texts = true;
    }
    if (s.variableCount) {
      failure = "Cannot reserve memory pVarList";
      allocateVariableTable(s, s.variableCount);
      variables = true;
    }
  } catch (const std::bad_alloc&) {
    return failure;
  }
  s.currentScreen = s.homeScreen;
  s.menuPage = 0;
  return nullptr;
}

void Engine::closeConnection() {
  platform::logText("REDO Ctrl: Disconnect from OKT Server\n");
  std::lock_guard<std::mutex> lock(tablesMutex_);
  releaseTablesLocked();
}

void Engine::clientLoop() {
  for (;;) {
    uint32_t wait;
    {
      std::lock_guard<std::mutex> lock(tablesMutex_);
      pressTimers();
      wait = waitTime();
    }
    uint32_t f = clientFlags_.waitAndTake(wait);
    {
      std::lock_guard<std::mutex> lock(tablesMutex_);
      if ((f & ClientFlag::DATA) || !queueIsEmpty(p_.queue)) drainReceiveQueue(p_);
      if (f & ClientFlag::REDRAW) display_.redrawCurrent();
      if (f & ClientFlag::ACTIONS) {
        for (const Action& a : takeActions(actionsMutex_, clientActions_)) {
          switch (a.flag) {
            case ClientFlag::CLICK:
              std::atomic_ref<uint32_t>(p_.state.clickX).store(a.x);
              std::atomic_ref<uint32_t>(p_.state.clickY).store(a.y);
              handleClick();
              break;
            case ClientFlag::PREV_PAGE: display_.previousMenuPage(); break;
            case ClientFlag::NEXT_PAGE: display_.nextMenuPage(); break;
            case ClientFlag::BACK: goBack(); break;
            default: break;
          }
          ++actionsDone_;
        }
      }
      refreshLock();
    }
    if (f & ClientFlag::STOP) break;
  }
  clientRunning_ = false;
}

uint32_t Engine::waitTime() {
  const ClientState& s = p_.state;
  if (!infoArrived(s) || s.objectCount == 0 || !s.pObjList.exists()) return platform::WakeEvent::kInfinite;
  bool anyPressed = false;
  s.pObjList.forEachStored([&](uint32_t, const ObjectEntry& e) { anyPressed = anyPressed || e.pressed; });
  if (anyPressed) return 10;
  return s.activeLock == kNoLock ? 100 : 50;
}

void Engine::pressTimers() {
  ClientState& s = p_.state;
  if (!infoArrived(s) || s.objectCount == 0 || !s.pObjList.exists()) return;
  std::vector<uint32_t> pressed;
  s.pObjList.forEachStored([&](uint32_t id, const ObjectEntry& e) {
    if (e.pressed) pressed.push_back(id);
  });
  uint32_t now = platform::tickCount();
  for (uint32_t id : pressed) {
    ObjectEntry* e = s.pObjList.existing(id);
    if (!e || !e->pressed || now - e->pressTick <= kPressMs) continue;
    e->pressed = 0;
    e->pressTick = 0;

    const MenuItem* item = nullptr;
    if (const auto* menu = e->body ? std::get_if<MenuBody>(e->body.get()) : nullptr) {
      if (e->selectedItem >= 0 && static_cast<size_t>(e->selectedItem) < menu->items.size())
        item = &menu->items[static_cast<size_t>(e->selectedItem)];
    }
    uint32_t target = 0xFFFFFFFF;
    if (const auto* button = e->body ? std::get_if<ButtonBody>(e->body.get()) : nullptr) target = button->targetScreen;
    if (item) target = item->targetScreen;
    if (isValidId(target)) {
      pushBack(s, s.currentScreen);
      display_.goToScreen(target);
      return;
    }

    uint32_t variable = 0xFFFFFFFF, title = 0xFFFFFFFF;
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
  if (s.currentScreen == 0xFFFFFFFF || !infoArrived(s) || s.objectCount == 0 || !s.pObjList.contains(s.currentScreen))
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
  uint32_t x = std::atomic_ref<uint32_t>(s.clickX).load(), y = std::atomic_ref<uint32_t>(s.clickY).load();
  for (const Placement& p : screen->children) {
    if (!(p.x <= x && x < uint32_t{p.x} + p.width && p.y <= y && y < uint32_t{p.y} + p.height)) continue;
    uint32_t event = 0xFFFFFFFF;
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
  uint32_t x = std::atomic_ref<uint32_t>(s.clickX).load(), y = std::atomic_ref<uint32_t>(s.clickY).load();
  if (!menu || y < kFirstRowTop) return -1;
  uint32_t row = (y - kFirstRowTop) / kRowPitch;
  if ((y - kFirstRowTop) - row * kRowPitch > kRowHeight) return -1;  // the gap below a row
  if (row >= kMenuRowsPerPage) return -1;                             // below the last row of the page
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
  if (id == 0xFFFFFFFF) return;
  if (const MenuBody* menu = s.pObjList.contains(s.currentScreen) ? bodyOf<MenuBody>(s, s.currentScreen) : nullptr)
    if (isValidId(menu->leaveEvent)) sendEvent(p_, menu->leaveEvent, s.currentScreen, nullptr, 0);
  display_.goToScreen(id);
}

}  // namespace okt
