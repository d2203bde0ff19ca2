#include "emulator/emulator.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "emulator/replay.h"
#include "platform/log.h"
#include "protocol/client_state.h"
#include "protocol/decoder.h"
#include "protocol/requests.h"
#include "protocol/wire.h"

namespace okt::emu {
namespace {

bool isSignedType(uint16_t type) {
  return type == VariableType::S8 || type == VariableType::S16 || type == VariableType::S32;
}

// The number held in a fixed-width value, sign-extended for signed types.
int64_t numberOf(uint16_t type, const std::vector<uint8_t>& value) {
  size_t width = variableValueWidth(type);
  uint64_t n = 0;
  for (size_t i = 0; i < width && i < value.size(); ++i) n = (n << 8) | value[i];
  if (isSignedType(type) && width > 0 && (n >> (8 * width - 1)) & 1)
    return static_cast<int64_t>(n) - (int64_t{1} << (8 * width));
  return static_cast<int64_t>(n);
}

int64_t limitOf(uint16_t type, uint32_t bits) {
  return isSignedType(type) ? static_cast<int64_t>(static_cast<int32_t>(bits)) : static_cast<int64_t>(bits);
}

std::vector<uint8_t> bytesOf(uint16_t type, int64_t n) {
  size_t width = variableValueWidth(type);
  std::vector<uint8_t> out(width);
  for (size_t i = 0; i < width; ++i) out[i] = static_cast<uint8_t>(static_cast<uint64_t>(n) >> (8 * (width - 1 - i)));
  return out;
}

constexpr uint32_t kErrorInvalidVariable = 4;
constexpr uint32_t kErrorOverflow = 5;
constexpr uint32_t kErrorReadOnly = 6;
constexpr uint32_t kErrorOutOfLimits = 7;
constexpr uint8_t kElementVariable = 3;

}  // namespace

size_t writableBytes(const VariableDescription& v) {
  switch (v.type) {
    case VariableType::STRING: return size_t{v.maximum ? v.maximum : 255} + 1;
    case VariableType::LIST: return 2;
    default: return variableValueWidth(v.type);
  }
}

Emulator::Emulator(DeviceDescription description, Options options)
    : d_(std::move(description)), options_(options), random_(options.seed) {}

TextDef* Emulator::text(uint32_t id) {
  for (TextDef& t : d_.texts)
    if (t.id == id) return &t;
  return nullptr;
}

VariableDef* Emulator::variable(uint32_t id) {
  for (VariableDef& v : d_.variables)
    if (v.id == id) return &v;
  return nullptr;
}

ObjectDef* Emulator::object(uint32_t id) {
  for (ObjectDef& o : d_.objects)
    if (o.id == id) return &o;
  return nullptr;
}

std::vector<uint8_t> Emulator::variableValue(uint32_t id) const {
  for (const VariableDef& v : d_.variables)
    if (v.id == id) return v.desc.value;
  return {};
}

void Emulator::queue(std::vector<std::vector<uint8_t>> messages) {
  if (options_.shuffleParts && messages.size() > 2) std::shuffle(messages.begin(), messages.end() - 1, random_);
  for (auto& m : messages) {
    setSequence(m, ++sequence_);
    outbox_.push_back(std::move(m));
  }
}

std::vector<std::vector<uint8_t>> Emulator::takeNotifications() {
  std::vector<std::vector<uint8_t>> out(std::make_move_iterator(outbox_.begin()),
                                        std::make_move_iterator(outbox_.end()));
  outbox_.clear();
  return out;
}

void Emulator::sendInfo() {
  WireWriter w;
  w.u16(MessageType::INFO).u32(0).u8(d_.infoBytes[0]).u8(d_.infoBytes[1]).u8(d_.infoBytes[2]);
  w.u24(d_.objectCount).u24(d_.textCount).u24(d_.variableCount).u24(d_.homeScreen);
  queue({w.take()});
}

void Emulator::sendText(const TextDef& t) { queue(textMessages(t.id, t.text)); }
void Emulator::sendVariable(const VariableDef& v) { queue(variableMessages(v.id, encodeVariableBody(v.desc))); }
void Emulator::sendObject(const ObjectDef& o) { queue(objectMessages(o.id, encodeObjectBody(o.type, o.body))); }

void Emulator::sendErrorReport(uint32_t code, uint8_t elementType, uint32_t elementId) {
  queue({WireWriter().u16(MessageType::ERROR_REPORT).u32(0).u32(code).u8(elementType).u32(elementId).take()});
}

void Emulator::handleRequest(const uint8_t* bytes, size_t size, uint32_t nowMs) {
  now_ = nowMs;
  if (d_.replay) return replay(bytes, size);
  WireReader r(bytes, size);
  uint16_t type = 0;
  uint32_t counter = 0;
  if (!r.u16(type) || !r.u32(counter)) return;
  const uint8_t* body = r.position();
  size_t bodySize = r.remaining();

  uint32_t firstId = 0;
  switch (type) {
    case RequestType::GET_INFO:
      sendInfo();
      if (!timersRunning_) {
        timersRunning_ = true;
        timerDue_.clear();
        for (const TimerDef& t : d_.timers) timerDue_.push_back(nowMs + t.periodMs);
      }
      return;
    case RequestType::GET_TEXTS:
      // The count carries only 16 bits of the table size: every element from
      // firstId on is sent whatever it says.
      if (!r.u24(firstId)) return;
      for (const TextDef& t : d_.texts)
        if (t.id >= firstId) sendText(t);
      return;
    case RequestType::GET_VARIABLES:
      if (!r.u24(firstId)) return;
      for (const VariableDef& v : d_.variables)
        if (v.id >= firstId) sendVariable(v);
      return;
    case RequestType::GET_OBJECTS:
      if (!r.u24(firstId)) return;
      for (const ObjectDef& o : d_.objects)
        if (o.id >= firstId) sendObject(o);
      return;
    case RequestType::WRITE_VARIABLE: handleWrite(body, bodySize); return;
    case RequestType::SEND_EVENT: handleEvent(body, bodySize); return;
    default: return;
  }
}

void Emulator::replay(const uint8_t* bytes, size_t size) {
  // What is still to come of the last answer goes first: the capture's order holds.
  for (Replayed& r : replayed_) outbox_.push_back(std::move(r.message));
  replayed_.clear();
  std::vector<uint8_t> key = requestKey(bytes, size);
  const ReplayScript::Answers* answers = d_.replay->answersFor(key, replays_[key]++);
  if (!answers) {
    std::string hex;
    char digits[3];
    for (size_t i = 0; i < size; ++i) {
      std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
      hex += digits;
    }
    platform::logText("Replay: the capture never saw this request, nothing answers it: " + hex + "\n");
    return;
  }
  for (const ReplayScript::Answer& a : *answers) replayed_.push_back({now_ + a.delayMs, a.message});
  advance(now_);
}

void Emulator::handleWrite(const uint8_t* body, size_t size) {
  WireReader r(body, size);
  uint32_t id = 0;
  uint16_t offset = 0, n = 0;
  const uint8_t* bytes = nullptr;
  if (!(r.u24(id) && r.u16(offset) && r.u16(n) && r.bytes(n, bytes))) return;
  VariableDef* v = id < d_.variableCount ? variable(id) : nullptr;
  if (!v) return sendErrorReport(kErrorInvalidVariable, kElementVariable, id);
  if (!(v->desc.access & 2)) return sendErrorReport(kErrorReadOnly, kElementVariable, id);
  size_t capacity = writableBytes(v->desc);
  size_t end = size_t{offset} + n;
  if (n == 0 || end > capacity) {
    staging_.erase(id);
    return sendErrorReport(kErrorOverflow, kElementVariable, id);
  }

  // Chunks are assembled over a copy of the value; the value changes when
  // the write is complete and within the variable's limits.
  auto it = staging_.find(id);
  if (it == staging_.end() || offset == 0) {
    std::vector<uint8_t> start = v->desc.value;
    start.resize(capacity, 0);
    it = staging_.insert_or_assign(id, std::move(start)).first;
  }
  std::vector<uint8_t>& staged = it->second;
  std::memcpy(staged.data() + offset, bytes, n);

  uint16_t type = v->desc.type;
  bool complete = false;
  if (type == VariableType::STRING)
    complete = std::find(staged.begin(), staged.begin() + static_cast<long>(end), 0) !=
               staged.begin() + static_cast<long>(end);
  else
    complete = end == capacity;
  if (!complete) return;

  std::vector<uint8_t> value = std::move(staged);
  staging_.erase(it);
  if (type == VariableType::STRING) {
    value.resize(static_cast<size_t>(std::find(value.begin(), value.end(), 0) - value.begin()) + 1);
  } else if (type == VariableType::LIST) {
    uint32_t index = (uint32_t{value[0]} << 8) | value[1];
    std::vector<uint8_t> list = v->desc.value;
    if (list.size() < 2) list.resize(2);
    if (index >= v->desc.maximum) {
      sendErrorReport(kErrorOutOfLimits, kElementVariable, id);
      return sendVariable(*v);  // the client shows its own guess until told otherwise
    }
    list[0] = value[0], list[1] = value[1];
    value = std::move(list);
  } else {
    value.resize(capacity);
    bool limited = type >= VariableType::U8 && type <= VariableType::S32 && v->desc.minimum != v->desc.maximum;
    int64_t n64 = numberOf(type, value);
    if (limited && (n64 < limitOf(type, v->desc.minimum) || n64 > limitOf(type, v->desc.maximum))) {
      sendErrorReport(kErrorOutOfLimits, kElementVariable, id);
      return sendVariable(*v);
    }
  }
  v->desc.value = std::move(value);
  sendVariable(*v);
  auto range = d_.variableReactions.equal_range(id);
  std::vector<std::vector<Action>> toRun;
  for (auto r2 = range.first; r2 != range.second; ++r2) toRun.push_back(r2->second);
  for (const auto& acts : toRun) run(acts);
}

void Emulator::handleEvent(const uint8_t* body, size_t size) {
  WireReader r(body, size);
  ReceivedEvent e;
  if (!r.u24(e.event) || !r.u24(e.source)) return;
  e.data.assign(r.position(), r.position() + r.remaining());
  events_.push_back(e);
  std::string dataText(e.data.begin(), std::find(e.data.begin(), e.data.end(), 0));
  auto range = d_.eventReactions.equal_range(e.event);
  std::vector<std::vector<Action>> toRun;
  for (auto it = range.first; it != range.second; ++it) {
    const EventReaction& r = it->second;
    if (r.matchData && (r.dataText == dataText) == r.negate) continue;
    toRun.push_back(r.actions);
  }
  for (const auto& acts : toRun) run(acts);
}

void Emulator::run(const std::vector<Action>& actions) {
  for (const Action& a : actions) run(a);
}

void Emulator::sweep(VariableDef& v, int32_t step) {
  uint16_t type = v.desc.type;
  int64_t lo = limitOf(type, v.desc.minimum), hi = limitOf(type, v.desc.maximum);
  if (lo > hi) std::swap(lo, hi);
  int& dir = sweepDirection_.try_emplace(v.id, 1).first->second;
  int64_t n = numberOf(type, v.desc.value) + int64_t{step} * dir;
  if (n >= hi) n = hi, dir = -1;
  if (n <= lo) n = lo, dir = 1;
  v.desc.value = bytesOf(type, n);
}

void Emulator::run(const Action& a) {
  switch (a.kind) {
    case Action::Kind::SetVariable:
      if (VariableDef* v = variable(a.id)) {
        v->desc.value = a.value;
        sendVariable(*v);
      }
      break;
    case Action::Kind::SweepVariable:
      if (VariableDef* v = variable(a.id)) {
        sweep(*v, a.step);
        sendVariable(*v);
      }
      break;
    case Action::Kind::SendVariable:
      if (VariableDef* v = variable(a.id)) sendVariable(*v);
      break;
    case Action::Kind::SendObject:
      if (ObjectDef* o = object(a.id)) sendObject(*o);
      break;
    case Action::Kind::ReplaceObject:
      if (ObjectDef* o = object(a.id)) {
        std::string name = o->name;
        *o = *a.replacement;
        o->name = name;
        sendObject(*o);
      }
      break;
    case Action::Kind::SendText:
      if (TextDef* t = text(a.id)) sendText(*t);
      break;
    case Action::Kind::SetText:
      if (TextDef* t = text(a.id)) {
        t->text = a.text;
        sendText(*t);
      }
      break;
    case Action::Kind::SendEvent: queue({WireWriter().u16(MessageType::EVENT).u32(0).u24(a.id).take()}); break;
    case Action::Kind::SendErrorReport: sendErrorReport(a.errorCode, a.elementType, a.elementId); break;
    case Action::Kind::After: pending_.push_back({now_ + a.delayMs, a.actions}); break;
    case Action::Kind::DropLink: dropRequested_ = true; break;
  }
}

void Emulator::advance(uint32_t nowMs) {
  now_ = nowMs;
  if (timersRunning_) {
    for (size_t i = 0; i < d_.timers.size(); ++i) {
      const TimerDef& t = d_.timers[i];
      // Far behind (the link was idle for long): start again from now.
      if (static_cast<int32_t>(nowMs - timerDue_[i]) > static_cast<int32_t>(10 * t.periodMs)) timerDue_[i] = nowMs;
      while (static_cast<int32_t>(nowMs - timerDue_[i]) >= 0) {
        run(t.actions);
        timerDue_[i] += t.periodMs;
      }
    }
  }
  // Delayed actions may schedule further ones; take the due ones out first.
  std::vector<Pending> due;
  auto split = std::stable_partition(pending_.begin(), pending_.end(),
                                     [&](const Pending& p) { return static_cast<int32_t>(nowMs - p.dueMs) < 0; });
  due.assign(std::make_move_iterator(split), std::make_move_iterator(pending_.end()));
  pending_.erase(split, pending_.end());
  for (const Pending& p : due) run(p.actions);
  while (!replayed_.empty() && static_cast<int32_t>(nowMs - replayed_.front().dueMs) >= 0) {
    outbox_.push_back(std::move(replayed_.front().message));
    replayed_.pop_front();
  }
}

uint32_t Emulator::msUntilDue(uint32_t nowMs) const {
  uint32_t best = UINT32_MAX;
  auto consider = [&](uint32_t due) {
    int32_t d = static_cast<int32_t>(due - nowMs);
    best = std::min<uint32_t>(best, d <= 0 ? 0 : static_cast<uint32_t>(d));
  };
  if (timersRunning_)
    for (uint32_t due : timerDue_) consider(due);
  for (const Pending& p : pending_) consider(p.dueMs);
  if (!replayed_.empty()) consider(replayed_.front().dueMs);
  return best;
}

}  // namespace okt::emu
