#include "protocol/requests.h"

#include <atomic>
#include <cstring>

#include "platform/tick.h"
#include "protocol/wire.h"

namespace okt {
namespace {

uint8_t* putHeader(uint8_t* buf, ClientState& s, uint16_t type) {
  uint8_t* p = putU16(buf, type);
  return putU32(p, nextRequestCounter(s));
}

int sendBuilt(Protocol& p, const uint8_t* start, const uint8_t* end) {
  return sendRequest(p, start, static_cast<uint16_t>(end - start));
}

void pause(Protocol& p, uint32_t ms) {
  if (p.hooks.sleep)
    p.hooks.sleep(ms);
  else
    platform::sleepMs(ms);
}

}  // namespace

int requestTable(Protocol& p, uint16_t type, uint32_t count) {
  uint8_t buf[16];
  uint8_t* at = putHeader(buf, p.state, type);
  at = putU24(at, 0);
  at = putU16(at, count);  // the low 16 bits of the table size
  at = putU24(at, 0xFFFFFF);
  at = putU16(at, 0);
  return sendBuilt(p, buf, at);
}

uint32_t nextRequestCounter(ClientState& s) { return std::atomic_ref<uint32_t>(s.requestCounter).fetch_add(1) + 1; }

int requestInfo(Protocol& p) {
  std::atomic_ref<uint8_t> received(p.state.infoReceived);
  received.store(0);
  uint8_t buf[kRequestHeaderBytes];
  uint8_t* at = putHeader(buf, p.state, RequestType::GET_INFO);
  if (sendBuilt(p, buf, at) != 0) return 1;
  for (int i = 0; i < 102; ++i) {
    if (received.load() != 0) return 0;
    if (p.hooks.cancelled && p.hooks.cancelled()) return 1;
    pause(p, 10);
  }
  return 1;
}

int requestTexts(Protocol& p) { return requestTable(p, RequestType::GET_TEXTS, p.state.textCount); }
int requestObjects(Protocol& p) { return requestTable(p, RequestType::GET_OBJECTS, p.state.objectCount); }
int requestVariables(Protocol& p) { return requestTable(p, RequestType::GET_VARIABLES, p.state.variableCount); }

int sendEvent(Protocol& p, uint32_t eventId, uint32_t sourceObjectId, const uint8_t* data, size_t length) {
  if (length > kMaxEventData) return 1;
  uint8_t buf[kMaxRequestBytes];
  uint8_t* at = putHeader(buf, p.state, RequestType::SEND_EVENT);
  at = putU24(at, eventId);
  at = putU24(at, sourceObjectId);
  if (data && length > 0) {
    std::memcpy(at, data, length);
    at += length;
  }
  return sendBuilt(p, buf, at);
}

int writeVariableBytes(Protocol& p, uint32_t variableId, size_t length, const uint8_t* bytes) {
  size_t position = 0;
  while (position < length) {
    size_t n = std::min(length - position, kWriteChunkBytes);
    uint8_t buf[kRequestHeaderBytes + 7 + kWriteChunkBytes];
    uint8_t* at = putHeader(buf, p.state, RequestType::WRITE_VARIABLE);
    at = putU24(at, variableId);
    at = putU16(at, static_cast<uint32_t>(position));
    at = putU16(at, static_cast<uint32_t>(n));
    std::memcpy(at, bytes + position, n);
    at += n;
    if (sendBuilt(p, buf, at) != 0) return 1;
    position += n;
  }
  return 0;
}

int writeVariable(Protocol& p, uint32_t variableId, const VariableValue* newValue) {
  ClientState& s = p.state;
  if (!newValue || !s.pVarList.contains(variableId)) return 1;
  const VariableEntry* current = variableEntry(s, variableId);
  if (!current || current->value.empty() || newValue->type == 0 || newValue->type > VariableType::WEEKDAYS) return 1;

  size_t encoded = 0;
  switch (newValue->type) {
    case VariableType::STRING: encoded = newValue->text.size() + 1; break;
    case VariableType::LIST: encoded = 2; break;
    default: encoded = variableValueWidth(newValue->type); break;
  }
  VariableEntry* e = editVariableEntry(s, variableId);
  if (!e) return 1;
  // The value block is enlarged when the new value needs more room; it always
  // keeps a zero byte after the value.
  if (e->value.size() < encoded + 1) {
    if (!s.budget.change(e->value.size(), encoded + 1)) return 1;
    e->value.resize(encoded + 1, 0);
  }
  uint8_t* v = e->value.data();
  switch (newValue->type) {
    case VariableType::STRING:
      std::memcpy(v, newValue->text.data(), newValue->text.size());
      v[newValue->text.size()] = 0;
      break;
    case VariableType::LIST: putU16(v, newValue->value); break;
    default:
      for (size_t i = 0; i < encoded; ++i) v[i] = static_cast<uint8_t>(newValue->value >> (8 * (encoded - 1 - i)));
      break;
  }
  return writeVariableBytes(p, variableId, encoded, v);
}

}  // namespace okt
