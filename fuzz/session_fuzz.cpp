// The whole path from notification to pixels, as the client thread takes it:
// notifications are queued and decoded into a fresh client state, what they
// change on the current display is drawn again once a pass, user actions move
// between displays, and at the end every display the tables describe is
// drawn: each screen, each menu page, each lock screen at a few moments.
//
// Input: records [n][n bytes]. n > 0: a notification of n bytes as the link
// hands it over. n = 0: a user action [kind][u24 argument] (see act()).
// A first notification that is an INFO sizes the tables as a connect does;
// otherwise a fixed INFO comes first (64 objects, 64 texts, 32 variables,
// home screen 0). Every frame is drawn on a surface that faults when the
// frame would take over a second on screen.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "dialogs/editors.h"
#include "presentation/display.h"
#include "presentation/renderer.h"
#include "protocol/decoder.h"
#include "protocol/protocol.h"
#include "protocol/wire.h"
#include "support/fuzz_host.h"
#include "support/pictures.h"
#include "support/quiet_logs.h"
#include "support/raster_surface.h"

using namespace okt;

namespace {

constexpr ViewRect kView{0, 0, 200, 150};
// A user acts at human speed and each action draws at most a display or two:
// more of them in one input would only add up costs that are each bounded.
constexpr int kMaxActions = 16;
// Screens and lock screens drawn at the end, and menu pages.
constexpr int kMaxSweepDisplays = 12;
constexpr uint32_t kMaxSweepPages = 64;

class Session {
 public:
  Session() : host_(kView), renderer_(p_, host_, surfaces()), display_(p_, renderer_, host_) {
    initQueue(p_.queue);
    p_.state.activeLock = kNoLock;
    renderer_.setDisplay(&display_);
    renderer_.tick = [this] { return clock_; };
    renderer_.renderSvg = fuzz::fakeSvg;
    renderer_.renderIcon = fuzz::fakeIcon;
    display_.enterLock = [this](uint32_t id) { return renderer_.enterLock(id); };
    // As the engine: what arrives in one pass is drawn once, after the pass.
    p_.hooks.objectChanged = [this](uint32_t id) { redrawDue_ = redrawDue_ || display_.objectShown(id); };
    p_.hooks.variableChanged = [this](uint32_t id) { redrawDue_ = redrawDue_ || display_.variableShown(id); };
    p_.hooks.leaveLock = [this](uint32_t target, int reason) { return renderer_.leaveLock(target, reason); };
    p_.hooks.sendRequest = fuzz::checkRequest;
    p_.hooks.sleep = [](uint32_t) {};
  }
  // Made once: the renderer keeps its JPEG decoder's half a megabyte between
  // pictures, as the client's does between connections. Each input starts
  // from fresh tables, and from the same last frame (a lock screen shows it).
  void reset() {
    releaseTables(p_.state);
    p_.state = ClientState{};
    p_.state.activeLock = kNoLock;
    initQueue(p_.queue);
    host_.answers = {};
    clock_ = 1000;
    redrawDue_ = false;
    actions_ = 0;
    ClientState& s = p_.state;
    s.viewRect = kView;
    allocateObjectTable(s, 1);
    ObjectBody blank;
    makeBody(ObjectType::Screen, blank);
    ObjectEntry* e = s.pObjList.edit(0, s.budget);
    e->type = ObjectType::Screen;
    e->loaded = 1;
    e->body = std::make_unique<ObjectBody>(std::move(blank));
    renderer_.redrawScreen(0);
    finish();
  }
  // Nothing of an input outlives it (libFuzzer counts what is not freed).
  void finish() {
    releaseTables(p_.state);
    p_.state.lockImage.reset();
    p_.state.budget.reset();
  }

  void connect(const uint8_t* info, size_t length) {
    ClientState& s = p_.state;
    decodeMessage(p_, info, length);
    if (!s.infoReceived) return;
    allocateObjectTable(s, s.objectCount);
    if (s.textCount) allocateTextTable(s, s.textCount);
    if (s.variableCount) allocateVariableTable(s, s.variableCount);
    s.viewRect = kView;
    s.currentScreen = s.homeScreen;
    s.displayReady = 1;
  }

  void notify(const uint8_t* bytes, size_t length) {
    if (queueIsFull(p_.queue)) pass();
    queueNotification(p_, bytes, length);
  }

  // One pass of the client thread: decode what is queued, draw what changed,
  // refresh a lock screen.
  void pass() {
    drainReceiveQueue(p_, kQueueCapacity);
    if (redrawDue_) {
      redrawDue_ = false;
      display_.redrawCurrent();
    }
    renderer_.refreshLock();
    check();
  }

  void act(uint8_t kind, uint32_t arg) {
    pass();
    if (++actions_ > kMaxActions) return;
    ClientState& s = p_.state;
    switch (kind % 8) {
      case 0:  // a pressed target leads to a display
        pushBack(s, s.currentScreen);
        display_.goToScreen(arg);
        break;
      case 1: display_.nextMenuPage(); break;
      case 2: display_.previousMenuPage(); break;
      case 3: {  // BACK, which a lock screen ignores
        if (s.activeLock != kNoLock) break;
        uint32_t id = popBack(s);
        if (id != kNoLock) display_.goToScreen(id);
        break;
      }
      case 4:  // time passes
        clock_ += arg;
        renderer_.refreshLock();
        break;
      case 5:  // a click on a lock screen
        s.clickX = (arg >> 12) * 16;
        s.clickY = (arg & 0xFFF) * 16;
        if (objectType(s, s.currentScreen) == static_cast<int32_t>(ObjectType::LockObject))
          renderer_.lockButtonHit(s.currentScreen);
        break;
      case 6:  // a pressed value opens its editor
        editVariable(p_, host_, arg, kNoId);
        display_.redrawCurrent();
        break;
      default: host_.answers.bits = arg; break;
    }
    check();
  }

  // Every display the tables hold, as a user could bring each up.
  void sweep() {
    pass();
    ClientState& s = p_.state;
    std::vector<std::pair<uint32_t, uint32_t>> displays;
    s.pObjList.forEachStored([&](uint32_t id, const ObjectEntry& e) {
      if (e.loaded && e.body) displays.emplace_back(id, e.type);
    });
    int drawn = 0;
    uint32_t pages = 0;
    for (auto [id, type] : displays) {
      if (type == ObjectType::Menu && pages < kMaxSweepPages) {
        uint32_t last = lastMenuPage(std::get<MenuBody>(*objectBody(s, id)).itemCount);
        for (uint32_t page = 0; page <= last && pages < kMaxSweepPages; ++page, ++pages) {
          s.menuPage = page;
          s.menuPageCount = last;
          renderer_.redrawMenu(id);
        }
      } else if (type == ObjectType::Screen && drawn < kMaxSweepDisplays) {
        ++drawn;
        renderer_.redrawScreen(id);
      } else if (type == ObjectType::LockObject && drawn < kMaxSweepDisplays) {
        ++drawn;
        for (uint32_t t : {0u, 400u, 800u, 1200u}) {
          clock_ += t;
          renderer_.drawLock(id);
        }
      }
    }
    check();
  }

 private:
  fuzz::FuzzHost host_;
  Protocol p_;
  Renderer renderer_;
  Display display_;
  uint32_t clock_ = 1000;
  bool redrawDue_ = false;
  int actions_ = 0;

  SurfaceFactory surfaces() {
    return [](int w, int h) -> std::unique_ptr<Surface> {
      if (w != kView.right || h != kView.bottom) fuzz::fault("a surface of another size than the view");
      return std::make_unique<fuzz::RasterSurface>(w, h);
    };
  }

  void check() {
    const ClientState& s = p_.state;
    if (s.budget.used() > s.budget.limit()) fuzz::fault("more stored than the memory budget allows");
    if (s.backDepth > kBackStackSize) fuzz::fault("the back stack overflowed");
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::quietLogs();

  static Session session;
  session.reset();
  WireReader r(data, size);
  bool first = true;
  while (r.remaining() > 0) {
    uint8_t n = 0;
    const uint8_t* bytes = nullptr;
    r.u8(n);
    if (n == 0) {
      uint8_t kind = 0;
      uint32_t arg = 0;
      if (!(r.u8(kind) && r.u24(arg))) break;
      session.act(kind, arg);
      continue;
    }
    if (!r.bytes(n, bytes)) {
      bytes = r.position();
      n = static_cast<uint8_t>(r.remaining());
      r.skip(n);
    }
    if (first) {
      first = false;
      if (n >= 2 && bytes[0] == 0 && bytes[1] == MessageType::INFO) {
        session.connect(bytes, n);
        continue;
      }
      const uint8_t info[] = {0, 1, 0, 0, 0, 1, 1, 0, 2, 0, 0, 64, 0, 0, 64, 0, 0, 32, 0, 0, 0};
      session.connect(info, sizeof info);
    }
    session.notify(bytes, n);
  }
  session.sweep();
  session.finish();
  return 0;
}
