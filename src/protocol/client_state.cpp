#include "protocol/client_state.h"

#include <cstdio>
#include <cstring>

#include "protocol/wire.h"

namespace okt {

bool allocateObjectTable(ClientState& s, uint32_t count) {
  s.budget.give(s.pObjList.release());
  s.pObjList.allocate(count);
  return true;
}

bool allocateTextTable(ClientState& s, uint32_t count) {
  s.budget.give(s.pStrList.release());
  s.pStrList.allocate(count);
  return true;
}

bool allocateVariableTable(ClientState& s, uint32_t count) {
  s.budget.give(s.pVarList.release());
  s.pVarList.allocate(count);
  return true;
}

void releaseTables(ClientState& s) {
  s.pObjList.release();
  s.pStrList.release();
  s.pVarList.release();
  s.budget.reset();
}

int32_t objectType(const ClientState& s, uint32_t id) {
  const ObjectEntry* e = s.pObjList.find(id);
  if (!e || e->loaded != 1) return -1;
  return static_cast<int32_t>(e->type);
}

int32_t objectTypeInRange(const ClientState& s, uint32_t id) {
  if (id >= s.objectCount) return -1;
  return objectType(s, id);
}

const ObjectBody* objectBody(const ClientState& s, uint32_t id) {
  const ObjectEntry* e = s.pObjList.find(id);
  return e ? e->body.get() : nullptr;
}

ObjectBody* createBody(ClientState& s, uint32_t id, uint32_t type) {
  ObjectBody fresh;
  if (!s.pObjList.contains(id) || !makeBody(type, fresh)) return nullptr;
  ObjectEntry* e = s.pObjList.edit(id, s.budget);
  if (!e) return nullptr;
  size_t oldBytes = e->body ? bodyFootprint(*e->body) : 0;
  if (!s.budget.change(oldBytes, bodyFootprint(fresh))) return nullptr;
  e->body = std::make_unique<ObjectBody>(std::move(fresh));
  e->bodyVersion = ++s.bodyVersions;
  e->type = type;
  return e->body.get();
}

const char* textOf(const ClientState& s, uint32_t id) {
  const TextEntry* e = s.pStrList.find(id);
  return e && e->text ? e->text->c_str() : nullptr;
}

const VariableEntry* variableEntry(const ClientState& s, uint32_t id) { return s.pVarList.find(id); }

VariableEntry* editVariableEntry(ClientState& s, uint32_t id) { return s.pVarList.edit(id, s.budget); }

size_t variableValueWidth(uint16_t type) {
  switch (type) {
    case VariableType::BOOL:
    case VariableType::U8:
    case VariableType::S8:
    case VariableType::WEEKDAYS: return 1;
    case VariableType::U16:
    case VariableType::S16:
    case VariableType::HOUR_MINUTE: return 2;
    case VariableType::DATE:
    case VariableType::TIME: return 3;
    case VariableType::U32:
    case VariableType::S32: return 4;
    default: return 0;
  }
}

bool variableIsNumeric(const ClientState& s, uint32_t id) {
  const VariableEntry* v = variableEntry(s, id);
  return v && variableValueWidth(v->type) != 0;
}

namespace {

// Reads the value's number; false when it has none (no value yet, a type
// without a numeric reading, or fewer bytes than the type needs).
bool readNumber(const VariableEntry& v, uint32_t& out) {
  size_t width = variableValueWidth(v.type);
  if (width == 0 || v.value.empty() || v.length < width || v.value.size() < width) return false;
  uint32_t n = 0;
  for (size_t i = 0; i < width; ++i) n = (n << 8) | v.value[i];
  out = n;
  return true;
}

}  // namespace

int variableNumber(const ClientState& s, uint32_t id, uint32_t* out) {
  const VariableEntry* v = variableEntry(s, id);
  uint32_t n = 0;
  if (!v || !readNumber(*v, n)) return 1;
  if (out) *out = n;
  return 0;
}

double variableFraction(const ClientState& s, uint32_t id) {
  if (!s.pVarList.exists()) return 0.0;
  const VariableEntry* v = variableEntry(s, id);
  if (!v) return 1.0;
  uint32_t value = 0;
  if (!readNumber(*v, value) || v->maximum == v->minimum) return 0.0;
  double range = static_cast<double>(static_cast<uint32_t>(v->maximum - v->minimum));
  return (static_cast<double>(value) - static_cast<double>(v->minimum)) / range;
}

bool objectOnScreen(const ClientState& s, uint32_t objectId, uint32_t screenId) {
  const ScreenBody* screen = bodyOf<ScreenBody>(s, screenId);
  if (!screen) return false;
  for (const Placement& p : screen->children)
    if (p.objectId == objectId) return true;
  return false;
}

bool variableOnScreen(const ClientState& s, uint32_t variableId, uint32_t objectId, int depth) {
  if (depth > 2) return false;
  const ObjectBody* body = objectBody(s, objectId);
  if (!body) return false;
  if (const auto* screen = std::get_if<ScreenBody>(body)) {
    for (const Placement& p : screen->children)
      if (variableOnScreen(s, variableId, p.objectId, depth + 1)) return true;
    return false;
  }
  if (const auto* box = std::get_if<TextBoxBody>(body)) return box->variableId == variableId;
  if (const auto* menu = std::get_if<MenuBody>(body)) {
    for (const MenuItem& item : menu->items)
      if (item.variableId == variableId) return true;
  }
  return false;
}

namespace {

std::string cString(const std::vector<uint8_t>& block, size_t from = 0) {
  if (from >= block.size()) return {};
  const uint8_t* start = block.data() + from;
  size_t avail = block.size() - from;
  const void* zero = std::memchr(start, 0, avail);
  size_t len = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - start) : avail;
  return std::string(reinterpret_cast<const char*>(start), len);
}

std::string formatNumber(uint16_t type, uint32_t n) {
  char buf[32];
  switch (type) {
    case VariableType::S8: std::snprintf(buf, sizeof buf, "%d", static_cast<int8_t>(n)); break;
    case VariableType::S16: std::snprintf(buf, sizeof buf, "%d", static_cast<int16_t>(n)); break;
    case VariableType::S32: std::snprintf(buf, sizeof buf, "%d", static_cast<int32_t>(n)); break;
    case VariableType::DATE:
      std::snprintf(buf, sizeof buf, "%02u/%02u/%02u", (n >> 16) & 0xFF, (n >> 8) & 0xFF, (n & 0xFF) + 2000);
      break;
    case VariableType::TIME:
      std::snprintf(buf, sizeof buf, "%02u:%02u:%02u", (n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF);
      break;
    case VariableType::HOUR_MINUTE: std::snprintf(buf, sizeof buf, "%02u:%02u", (n >> 8) & 0xFF, n & 0xFF); break;
    default: std::snprintf(buf, sizeof buf, "%u", n); break;
  }
  return buf;
}

}  // namespace

int formatVariable(const ClientState& s, uint32_t id, std::string& out) {
  const VariableEntry* v = variableEntry(s, id);
  if (!v || v->type > VariableType::WEEKDAYS) return 1;
  if (v->type == VariableType::NONE) {
    out = "None";
    return 0;
  }
  if (v->value.empty()) return 1;

  std::string text;
  switch (v->type) {
    case VariableType::BOOL: text = v->value[0] ? "ON" : "OFF"; break;
    case VariableType::STRING: text = cString(v->value); break;
    case VariableType::LIST: {
      text = "ERR";
      if (v->length >= 2 && v->value.size() >= 2) {
        uint32_t index = (uint32_t{v->value[0]} << 8) | v->value[1];
        size_t at = 2 + 3 * size_t{index};
        if (v->length >= at + 3 && v->value.size() >= at + 3) {
          uint32_t textId = 0;
          getU24(v->value.data() + at, &textId);
          const char* choice = isValidId(textId) ? textOf(s, textId) : nullptr;
          if (choice) text = choice;
        }
      }
      break;
    }
    case VariableType::WEEKDAYS: {
      text = "-------";
      for (int k = 0; k < 7; ++k)
        if (v->value[0] & (1u << k)) text[static_cast<size_t>(k)] = static_cast<char>('1' + k);
      break;
    }
    default: {
      uint32_t n = 0;
      if (!readNumber(*v, n)) return 1;
      text = formatNumber(v->type, n);
      const char* unit = isValidId(v->unitText) ? textOf(s, v->unitText) : nullptr;
      if (unit) {
        text += ' ';
        text += unit;
      }
      break;
    }
  }
  if (text.size() > kFormatMaxChars) text.resize(kFormatMaxChars);
  out = std::move(text);
  return 0;
}

}  // namespace okt
