#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocol/decoder.h"
#include "protocol/protocol.h"
#include "protocol/wire.h"

namespace okt::test {

// A body written out field by field, in a list the layout keeps compact:
//   wire({u16(ObjectType::Screen), u16(1), u24(0x203040), u24(10), u16(0), u16(0), u16(100), u16(100)})
namespace fields {
struct Field {
  uint8_t width;  // bytes; 0 for a text and its zero byte
  uint32_t value;
  std::string text;
};
inline Field u8(uint32_t v) { return {1, v, {}}; }
inline Field u16(uint32_t v) { return {2, v, {}}; }
inline Field u24(uint32_t v) { return {3, v, {}}; }
inline Field u32(uint32_t v) { return {4, v, {}}; }
inline Field text(std::string s) { return {0, 0, std::move(s)}; }
}  // namespace fields

inline std::vector<uint8_t> wire(std::initializer_list<fields::Field> list) {
  WireWriter w;
  for (const fields::Field& f : list) {
    if (f.width == 0) w.text(f.text);
    // A value too wide for its field is a mistake in the test, not a cut.
    if (f.width > 0 && f.width < 4 && f.value >> (8 * f.width)) throw std::invalid_argument("wider than its field");
    for (int shift = 8 * (f.width - 1); shift >= 0; shift -= 8) w.u8(f.value >> shift);
  }
  return w.take();
}

inline std::vector<uint8_t> message(uint16_t type, const std::vector<uint8_t>& body, uint32_t sequence = 7) {
  WireWriter w;
  w.u16(type).u32(sequence).bytes(body);
  return w.take();
}

inline int decode(Protocol& p, const std::vector<uint8_t>& bytes) {
  return decodeMessage(p, bytes.data(), bytes.size());
}

inline std::vector<uint8_t> infoMessage(uint32_t objects, uint32_t texts, uint32_t variables, uint32_t home = 0) {
  return message(MessageType::INFO,
                 WireWriter().u8(1).u8(0).u8(2).u24(objects).u24(texts).u24(variables).u24(home).take());
}

// Decodes an INFO and allocates the tables as the connect sequence does.
inline void openTables(Protocol& p, uint32_t objects, uint32_t texts, uint32_t variables, uint32_t home = 0) {
  decode(p, infoMessage(objects, texts, variables, home));
  allocateObjectTable(p.state, objects);
  if (texts) allocateTextTable(p.state, texts);
  if (variables) allocateVariableTable(p.state, variables);
}

inline std::vector<uint8_t> textMessage(uint32_t id, const std::string& text) {
  return message(MessageType::TEXT, WireWriter().u24(id).text(text).take());
}

inline std::vector<uint8_t> objectMessage(uint32_t id, const std::vector<uint8_t>& body) {
  return message(MessageType::OBJECT, WireWriter().u24(id).u8(0).bytes(body).take());
}

inline std::vector<uint8_t> variableBody(uint16_t type, const std::vector<uint8_t>& value, uint32_t unit = 0xFFFFFF,
                                         uint32_t minimum = 0, uint32_t maximum = 0, uint8_t access = 2) {
  return WireWriter()
      .u16(type)
      .u8(access)
      .u24(unit)
      .u32(minimum)
      .u32(maximum)
      .u32(0)
      .u16(static_cast<uint32_t>(value.size()))
      .bytes(value)
      .take();
}

inline std::vector<uint8_t> variableMessage(uint32_t id, const std::vector<uint8_t>& body) {
  return message(MessageType::VARIABLE, WireWriter().u24(id).u8(0).bytes(body).take());
}

inline std::vector<uint8_t> partMessage(uint16_t type, uint32_t id, uint16_t offset,
                                        const std::vector<uint8_t>& bytes) {
  return message(type, WireWriter().u24(id).u16(offset).u8(static_cast<uint32_t>(bytes.size())).bytes(bytes).take());
}

}  // namespace okt::test
