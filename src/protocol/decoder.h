#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/protocol.h"

namespace okt {

struct MessageType {
  enum : uint16_t {
    INFO = 1,
    TEXT = 2,
    OBJECT = 3,
    VARIABLE = 4,
    ERROR_REPORT = 5,
    EVENT = 9,
    TEXT_PART = 10,
    OBJECT_PART = 11,
    OBJECT_LAST_PART = 12,
    VARIABLE_PART = 13,
    VARIABLE_LAST_PART = 14,
  };
};

constexpr size_t kMessageHeaderBytes = 6;

// Applies one message. 0 when applied or ignored, 1 when refused. Nothing is
// read beyond `length` bytes; a message shorter than its layout is refused and
// changes nothing.
int decodeMessage(Protocol& p, const uint8_t* bytes, size_t length);
// Applies an object body (type first) to object id. `size` bounds the read.
int decodeObjectBody(Protocol& p, uint32_t id, const uint8_t* bytes, size_t size);
int decodeVariableBody(Protocol& p, uint32_t id, const uint8_t* bytes, size_t size);

// Parses an object body without storing it. Used by the decoder and by tools
// that check bodies before sending them.
bool parseObjectBody(uint32_t type, const uint8_t* bytes, size_t size, ObjectBody& out);

const char* errorCodeName(uint32_t code);
const char* elementTypeName(uint32_t type);

}  // namespace okt
