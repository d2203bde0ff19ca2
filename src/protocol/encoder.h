#pragma once

#include <cstdint>
#include <vector>

#include "protocol/bodies.h"
#include "protocol/client_state.h"

namespace okt {

// The peripheral's side of the wire: bodies and messages as a device sends
// them. Used by the emulator and by tests.

// An object body as it follows the reserved byte of OBJECT: u16 type, then
// the type's layout. Menu item flags are taken from the item as given.
std::vector<uint8_t> encodeObjectBody(uint32_t type, const ObjectBody& body);

// A variable body: type, access, unit, limits, extra, length and the value.
struct VariableDescription {
  uint16_t type = 0;
  uint8_t access = 0;
  uint32_t unitText = 0xFFFFFF;
  uint32_t minimum = 0;
  uint32_t maximum = 0;
  uint32_t extra = 0;
  std::vector<uint8_t> value;
};
std::vector<uint8_t> encodeVariableBody(const VariableDescription& v);

// Whole messages (header included), at most 148 bytes each. An element that
// does not fit one message goes out as a series of parts of at most 136
// bytes, the last one as *_LAST_PART (texts: TEXT_PART only).
std::vector<std::vector<uint8_t>> textMessages(uint32_t id, const std::string& text);
std::vector<std::vector<uint8_t>> objectMessages(uint32_t id, const std::vector<uint8_t>& body);
std::vector<std::vector<uint8_t>> variableMessages(uint32_t id, const std::vector<uint8_t>& body);

// Sets the sequence field of a whole message.
void setSequence(std::vector<uint8_t>& message, uint32_t sequence);

constexpr size_t kMaxMessageBytes = 148;
constexpr size_t kMaxPartBytes = 136;

}  // namespace okt
