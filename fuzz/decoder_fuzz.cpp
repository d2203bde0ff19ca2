// Feeds a session of notifications through the receive queue and the decoder.
// Input: a sequence of [length byte][message bytes]; the first message is
// decoded directly and, if it is an INFO, sizes the tables as a connect would.
#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/decoder.h"
#include "protocol/protocol.h"
#include "protocol/wire.h"
#include "support/quiet_logs.h"

using namespace okt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::quietLogs();  // error reports are logged
  Protocol p;
  initQueue(p.queue);
  p.hooks.sleep = [](uint32_t) {};
  // Exercise the lookups a redraw makes on every change.
  p.hooks.objectChanged = [&p](uint32_t id) {
    objectOnScreen(p.state, id, p.state.currentScreen);
    objectType(p.state, id);
  };
  p.hooks.variableChanged = [&p](uint32_t id) {
    std::string text;
    formatVariable(p.state, id, text);
    variableOnScreen(p.state, id, p.state.currentScreen, 0);
    variableFraction(p.state, id);
  };
  p.hooks.leaveLock = [](uint32_t, int) { return 1; };

  WireReader r(data, size);
  bool first = true;
  while (r.remaining() > 0) {
    uint8_t len = 0;
    const uint8_t* msg = nullptr;
    r.u8(len);
    if (!r.bytes(len, msg)) {
      msg = r.position();
      len = static_cast<uint8_t>(r.remaining());
      r.skip(len);
    }
    if (first) {
      first = false;
      decodeMessage(p, msg, len);
      if (p.state.infoReceived) {
        allocateObjectTable(p.state, p.state.objectCount);
        if (p.state.textCount) allocateTextTable(p.state, p.state.textCount);
        if (p.state.variableCount) allocateVariableTable(p.state, p.state.variableCount);
        p.state.currentScreen = p.state.homeScreen;
        p.state.displayReady = 1;
      }
      continue;
    }
    if (queueIsFull(p.queue)) drainReceiveQueue(p);
    queueNotification(p, msg, len);
  }
  drainReceiveQueue(p);
  releaseTables(p.state);
  return 0;
}
