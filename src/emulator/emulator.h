#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <utility>
#include <vector>

#include "emulator/device_description.h"

namespace okt::emu {

// An OKT peripheral in software. It answers the client's requests from a
// device description and sends notifications as a real device would: one
// message each, at most 148 bytes, numbered, large elements in parts.
// Not thread-safe: the link that owns it serialises calls.
class Emulator {
 public:
  struct Options {
    bool shuffleParts = false;  // send the parts of an element out of order (the last part stays last)
    uint32_t seed = 1;
  };
  struct ReceivedEvent {
    uint32_t event = 0;
    uint32_t source = 0;
    std::vector<uint8_t> data;
  };

  explicit Emulator(DeviceDescription description) : Emulator(std::move(description), Options()) {}
  Emulator(DeviceDescription description, Options options);

  void handleRequest(const uint8_t* bytes, size_t size, uint32_t nowMs);
  // Runs the timers and delayed actions that are due.
  void advance(uint32_t nowMs);
  // Milliseconds until the next timer or delayed action (UINT32_MAX: none).
  uint32_t msUntilDue(uint32_t nowMs) const;

  std::vector<std::vector<uint8_t>> takeNotifications();
  bool hasNotifications() const { return !outbox_.empty(); }
  // True once after an action asked to end the connection.
  bool takeLinkDrop() { return std::exchange(dropRequested_, false); }

  const DeviceDescription& description() const { return d_; }
  const std::vector<ReceivedEvent>& receivedEvents() const { return events_; }
  // The variable's stored value bytes (empty when not described).
  std::vector<uint8_t> variableValue(uint32_t id) const;

 private:
  // A device made from a capture answers as the capture says.
  void replay(const uint8_t* bytes, size_t size);
  void handleWrite(const uint8_t* body, size_t size);
  void handleEvent(const uint8_t* body, size_t size);
  void run(const std::vector<Action>& actions);
  void run(const Action& a);
  void sweep(VariableDef& v, int32_t step);

  void sendInfo();
  void sendText(const TextDef& t);
  void sendVariable(const VariableDef& v);
  void sendObject(const ObjectDef& o);
  void sendErrorReport(uint32_t code, uint8_t elementType, uint32_t elementId);
  void queue(std::vector<std::vector<uint8_t>> messages);

  TextDef* text(uint32_t id);
  VariableDef* variable(uint32_t id);
  ObjectDef* object(uint32_t id);

  DeviceDescription d_;
  Options options_;
  std::mt19937 random_;
  std::deque<std::vector<uint8_t>> outbox_;
  uint32_t sequence_ = 0;
  uint32_t now_ = 0;
  bool timersRunning_ = false;
  std::vector<uint32_t> timerDue_;
  struct Pending {
    uint32_t dueMs;
    std::vector<Action> actions;
  };
  std::vector<Pending> pending_;
  std::map<uint32_t, std::vector<uint8_t>> staging_;  // writes being assembled, by variable
  std::map<uint32_t, int> sweepDirection_;
  std::vector<ReceivedEvent> events_;
  bool dropRequested_ = false;
  struct Replayed {
    uint32_t dueMs;
    std::vector<uint8_t> message;
  };
  std::deque<Replayed> replayed_;                   // answers not yet due, in order
  std::map<std::vector<uint8_t>, size_t> replays_;  // times each request came
};

// Bytes a write may cover for a variable of this description (0: none).
size_t writableBytes(const VariableDescription& v);

}  // namespace okt::emu
