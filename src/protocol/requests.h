#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol/protocol.h"

namespace okt {

struct RequestType {
  enum : uint16_t {
    GET_INFO = 1,
    GET_TEXTS = 3,
    GET_OBJECTS = 5,
    GET_VARIABLES = 7,
    WRITE_VARIABLE = 8,
    SEND_EVENT = 12,
  };
};

constexpr size_t kRequestHeaderBytes = 6;
constexpr size_t kMaxEventData = 138;
constexpr size_t kWriteChunkBytes = 20;
constexpr size_t kMaxRequestBytes = 150;

// A value to write, as an editor hands it over: the variable's type, a number
// (numeric types, packed date and time, weekday bits, list index) and a text.
struct VariableValue {
  uint16_t type = 0;
  uint32_t value = 0;
  std::string text;
};

// Takes the next request number (shared by every thread that sends).
uint32_t nextRequestCounter(ClientState& s);

// Clears infoReceived, sends GET_INFO and waits up to 102 x 10 ms for INFO
// (which the client thread decodes meanwhile), less when the cancelled hook
// says so. 0 when INFO arrived.
int requestInfo(Protocol& p);
int requestTexts(Protocol& p);
int requestObjects(Protocol& p);
int requestVariables(Protocol& p);
// GET_TEXTS, GET_OBJECTS or GET_VARIABLES for a table of `count` entries.
int requestTable(Protocol& p, uint16_t type, uint32_t count);
// Refuses (1, nothing sent) more than 138 data bytes.
int sendEvent(Protocol& p, uint32_t eventId, uint32_t sourceObjectId, const uint8_t* data, size_t length);
// WRITE_VARIABLE chunks of at most 20 bytes; stops at the first failed send.
int writeVariableBytes(Protocol& p, uint32_t variableId, size_t length, const uint8_t* bytes);
// Encodes the value into the variable's own value bytes, then sends them.
int writeVariable(Protocol& p, uint32_t variableId, const VariableValue* newValue);

}  // namespace okt
