#pragma once

#include <memory>
#include <thread>

#include "emulator/emulator.h"
#include "emulator/loopback_link.h"
#include "platform/tick.h"
#include "protocol/decoder.h"
#include "protocol/protocol.h"
#include "protocol/requests.h"

namespace okt::emu {

// A client's protocol side joined to an emulated device, decoding on the
// caller's thread: for tools and tests that need the tables of a device
// without the client's threads.
class InProcessClient {
 public:
  explicit InProcessClient(DeviceDescription d, Emulator::Options options = {}, LinkModel model = {},
                           LinkFaults faults = {})
      : emulator(std::move(d), options),
        link(
            emulator, [this](const uint8_t* b, size_t n) { queueNotification(p, b, n); }, model, faults) {
    initQueue(p.queue);
    p.hooks.sendRequest = [this](const uint8_t* b, uint16_t n) {
      sent.emplace_back(b, b + n);
      return link.write(b, n);
    };
    // requestInfo waits for INFO; keep decoding meanwhile as the client
    // thread would. The same wait runs on the link's thread when the queue
    // is full: that one only waits.
    p.hooks.sleep = [this](uint32_t ms) {
      if (std::this_thread::get_id() == owner_) drainReceiveQueue(p);
      platform::sleepMs(ms);
    };
    link.start();
  }
  ~InProcessClient() { link.stop(); }

  // The connect sequence: INFO, tables, the three GET requests.
  bool connect() {
    if (requestInfo(p) != 0 || p.state.objectCount == 0) return false;
    allocateObjectTable(p.state, p.state.objectCount);
    if (p.state.textCount) {
      allocateTextTable(p.state, p.state.textCount);
      requestTexts(p);
    }
    if (p.state.variableCount) {
      allocateVariableTable(p.state, p.state.variableCount);
      requestVariables(p);
    }
    p.state.currentScreen = p.state.homeScreen;
    requestObjects(p);
    settle();
    return true;
  }

  // Decodes until the device has nothing more to send.
  void settle() {
    uint32_t start = platform::tickCount();
    for (;;) {
      drainReceiveQueue(p);
      if (link.waitIdle(1) && queueIsEmpty(p.queue)) {
        drainReceiveQueue(p);
        if (queueIsEmpty(p.queue)) return;
      }
      if (platform::tickCount() - start > 10000) return;
      platform::sleepMs(1);
    }
  }

  // Decodes until the condition holds (false after timeoutMs).
  template <typename F>
  bool pumpUntil(F&& condition, uint32_t timeoutMs = 5000) {
    uint32_t start = platform::tickCount();
    while (!condition()) {
      if (platform::tickCount() - start > timeoutMs) return false;
      drainReceiveQueue(p);
      platform::sleepMs(1);
    }
    return true;
  }

  Protocol p;
  Emulator emulator;
  LoopbackLink link;
  std::vector<std::vector<uint8_t>> sent;

 private:
  std::thread::id owner_ = std::this_thread::get_id();
};

}  // namespace okt::emu
