#include "protocol/decoder.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/log.h"
#include "protocol/wire.h"

namespace okt {
namespace {

constexpr uint32_t kAbsent = 0xFFFFFFFF;
constexpr size_t kMaxTextSize = 65535;

bool parseScreen(WireReader& r, ScreenBody& b) {
  uint16_t count = 0;
  if (!r.u16(count) || !r.u24(b.background)) return false;
  // Check the bytes are there before reserving anything for them.
  if (r.remaining() < size_t{count} * 11) return false;
  b.childCount = count;
  b.children.resize(count);
  for (Placement& p : b.children) r.u24(p.objectId) && r.u16(p.x) && r.u16(p.y) && r.u16(p.width) && r.u16(p.height);
  return r.ok();
}

bool parseButton(WireReader& r, ButtonBody& b) {
  return r.u16(b.style) && r.skip(3) && r.u16(b.fontHeight) && r.u24(b.fillColour) && r.u24(b.textColour) &&
         r.u24(b.frameColour) && r.u24(b.pressedFillColour) && r.u24(b.pressedTextColour) &&
         r.u24(b.pressedFrameColour) && r.u24(b.textId) && r.u24(b.iconId) && r.u24(b.pressEvent) &&
         r.u24(b.targetScreen);
}

bool parseMenuItem(WireReader& r, MenuItem& item) {
  if (!r.u8(item.kind)) return false;
  if (item.kind == 1) return true;
  if (item.kind != 0 || !r.u8(item.flags)) return false;
  if ((item.flags & MenuItemFlag::Text) && !r.u24(item.textId)) return false;
  if ((item.flags & MenuItemFlag::Icon) && !r.u24(item.iconId)) return false;
  if ((item.flags & MenuItemFlag::Event) && !r.u24(item.event)) return false;
  if ((item.flags & MenuItemFlag::Target) && !r.u24(item.targetScreen)) return false;
  if ((item.flags & MenuItemFlag::Variable) && !r.u24(item.variableId)) return false;
  if (item.flags & MenuItemFlag::Label) {
    if (r.remaining() == 0) return false;
    // At most 254 bytes are taken, the zero included; a longer label is cut
    // there and the next item starts right after.
    item.label = r.text(kMenuLabelBytes - 1);
    if (item.label.size() > kMenuLabelMaxChars) item.label.resize(kMenuLabelMaxChars);
  }
  return true;
}

bool parseMenu(WireReader& r, MenuBody& b) {
  if (!(r.u16(b.itemCount) && r.u24(b.iconId) && r.u24(b.titleText) && r.u24(b.enterEvent) && r.u24(b.leaveEvent)))
    return false;
  if (r.remaining() < b.itemCount) return false;  // every item takes at least its kind byte
  b.items.resize(b.itemCount);
  for (MenuItem& item : b.items)
    if (!parseMenuItem(r, item)) return false;
  return true;
}

bool parsePolyline(WireReader& r, PolylineBody& b) {
  if (!(r.u24(b.colour) && r.u8(b.lineStyle) && r.u8(b.lineWidth))) return false;
  // First walk the groups to size the list, then read it.
  WireReader walk = r;
  size_t values = 1;
  for (;;) {
    uint8_t n = 0;
    if (!walk.u8(n)) return false;
    if (n == 0) break;
    if (!walk.skip(size_t{n} * 4)) return false;
    values += 2 * size_t{n} + 1;
  }
  b.points.reserve(values);
  for (;;) {
    uint8_t n = 0;
    r.u8(n);
    b.points.push_back(n);
    if (n == 0) break;
    for (unsigned i = 0; i < n; ++i) {
      uint16_t x = 0, y = 0;
      r.u16(x) && r.u16(y);
      b.points.push_back(x);
      b.points.push_back(y);
    }
  }
  return r.ok();
}

bool parseTextBox(WireReader& r, TextBoxBody& b) {
  return r.u16(b.frameless) && r.skip(3) && r.u16(b.fontHeight) && r.u24(b.fillColour) && r.u24(b.textColour) &&
         r.u24(b.frameColour) && r.u24(b.textId) && r.u24(b.variableId);
}

bool parseBlob(WireReader& r, BlobBody& b) {
  uint16_t size = 0;
  const uint8_t* data = nullptr;
  if (!r.u16(size) || !r.bytes(size, data)) return false;
  b.size = size;
  b.data.assign(data, data + size);
  b.data.push_back(0);
  b.data.push_back(0);
  return true;
}

bool parseGauge(WireReader& r, GaugeBody& b) {
  return r.skip(1) && r.u8(b.flags) && r.u8(b.needleStyle) && r.u16(b.bandStart) && r.u16(b.bandEnd) &&
         r.u16(b.bandOuterRadius) && r.u16(b.bandInnerRadius) && r.u16(b.needleLength) && r.u16(b.needleHalfWidth) &&
         r.u16(b.tickOuterRadius) && r.u16(b.tickInnerRadius) && r.u24(b.faceColour) && r.u24(b.bandColour) &&
         r.u24(b.valueColour) && r.u24(b.needleColour) && r.u24(b.tickColour) && r.u16(b.tickStart) &&
         r.u16(b.tickEnd) && r.u16(b.tickCount) && r.u16(b.tickWidth) && r.u24(b.variableId) && r.u24(b.pressEvent);
}

bool parsePasswordPrompt(WireReader& r, PasswordPromptBody& b) {
  const uint8_t* password = nullptr;
  if (!(r.u16(b.options) && r.u16(b.allowedChars) && r.skip(1) && r.u8(b.maxLength) && r.skip(1) &&
        r.u24(b.titleText) && r.u24(b.labelText) && r.u24(b.submitEvent) && r.u24(b.cancelEvent) && r.u24(b.okEvent) &&
        r.u24(b.errorEvent) && r.u24(b.nextScreen) && r.u24(b.errorScreen) && r.u8(b.passwordLength) &&
        r.bytes(b.passwordLength, password)))
    return false;
  b.password.assign(reinterpret_cast<const char*>(password), b.passwordLength);
  return true;
}

bool parsePopup(WireReader& r, PopupBody& b) {
  if (!(r.u24(b.titleText) && r.u24(b.messageText) && r.u24(b.iconId) && r.u8(b.buttonCount))) return false;
  if (r.remaining() < size_t{b.buttonCount} * 9) return false;
  b.buttons.resize(b.buttonCount);
  for (PopupButton& button : b.buttons) r.u24(button.labelText) && r.u24(button.event) && r.u24(button.targetScreen);
  return r.ok();
}

bool parseLock(WireReader& r, LockObjectBody& b) {
  return r.u16(b.animation) && r.u16(b.lockFlags) && r.u16(b.timeoutSeconds) && r.u24(b.messageText) &&
         r.u24(b.unlockText) && r.u24(b.unlockEvent) && r.u24(b.unlockScreen) && r.u24(b.timeoutEvent) &&
         r.u24(b.timeoutScreen) && r.u24(b.releaseEvent) && r.u24(b.releaseScreen) && r.u24(b.enterEvent);
}

// Length of the canvas operation at `pos` (op byte included), 0 for an op
// the program may not hold or one that runs past the end.
size_t canvasOpLength(const uint8_t* pos, size_t avail) {
  size_t len = 0;
  switch (pos[0]) {
    case 0x00: len = 1; break;
    case 0x01:
    case 0x02: len = 3; break;
    case 0x03:
    case 0x04:
    case 0x05: len = 4; break;
    case 0x06:
    case 0x07: len = 2; break;
    case 0x20: len = 8; break;
    case 0x21: {
      if (avail <= 5) return 0;
      const void* zero = std::memchr(pos + 5, 0, avail - 5);
      if (!zero) return 0;
      len = static_cast<size_t>(static_cast<const uint8_t*>(zero) - pos) + 1;
      break;
    }
    case 0x22: len = 12; break;
    case 0x23:
      if (avail < 2) return 0;
      len = 2 + 4 * size_t{pos[1]};
      break;
    default: return 0;
  }
  return len <= avail ? len : 0;
}

bool parseCanvas(const uint8_t* bytes, size_t size, CanvasBody& b) {
  if (size == 0 || bytes[0] == 0x00) return false;
  size_t at = 0;
  for (;;) {
    if (at >= size) return false;
    size_t len = canvasOpLength(bytes + at, size - at);
    if (len == 0) return false;
    bool end = bytes[at] == 0x00;
    at += len;
    if (end) break;
  }
  b.program.assign(bytes, bytes + at);
  b.program.push_back(0);
  b.program.push_back(0);
  return true;
}

void arrived(Protocol& p, bool first = true) {
  if (p.hooks.elementProgress) p.hooks.elementProgress(first);
}

void logErrorReport(Protocol& p, uint32_t code, uint8_t elementType, uint32_t elementId) {
  platform::logf("%s ; Element type %u: %s ID = %u\n", errorCodeName(code), elementType, elementTypeName(elementType),
                 elementId);
  if (p.hooks.errorReported) p.hooks.errorReported(code, elementType, elementId);
}

// Grows a part buffer to hold [offset, offset + n) and copies the bytes in.
// The size never shrinks. False when the budget refuses the growth.
bool storePart(std::vector<uint8_t>& buffer, int32_t& partSize, MemoryBudget& budget, size_t offset,
               const uint8_t* bytes, size_t n) {
  size_t end = offset + n;
  if (partSize < 0 || static_cast<size_t>(partSize) < end) {
    size_t oldBytes = buffer.size();
    if (!budget.change(oldBytes, end + 1)) return false;
    buffer.resize(end + 1, 0);
    partSize = static_cast<int32_t>(end);
  }
  if (n > 0) std::memcpy(buffer.data() + offset, bytes, n);
  return true;
}

void dropPart(std::vector<uint8_t>& buffer, int32_t& partSize, MemoryBudget& budget) {
  budget.give(buffer.size());
  buffer.clear();
  buffer.shrink_to_fit();
  partSize = -1;
}

// A part of an object or variable body. The last part decodes whatever has
// been assembled; the buffer goes then, whatever the result.
template <typename Table, typename Decode>
int storeElementPart(Protocol& p, Table& table, uint32_t id, size_t offset, const uint8_t* bytes, size_t n, bool last,
                     Decode decode) {
  ClientState& s = p.state;
  auto* e = table.contains(id) ? table.edit(id, s.budget) : nullptr;
  if (!e) return 1;
  bool stored = storePart(e->partBuffer, e->partSize, s.budget, offset, bytes, n);
  if (!last) return stored ? 0 : 1;
  if (!stored) {
    dropPart(e->partBuffer, e->partSize, s.budget);
    return 1;
  }
  std::vector<uint8_t> whole = std::move(e->partBuffer);
  size_t size = static_cast<size_t>(e->partSize);
  s.budget.give(whole.size());
  e->partBuffer.clear();
  e->partSize = -1;
  return decode(p, id, whole.data(), size);
}

int decodeText(Protocol& p, WireReader& r) {
  ClientState& s = p.state;
  uint32_t id = 0;
  if (!r.u24(id) || !s.pStrList.contains(id)) return 1;
  std::string text = r.text();
  TextEntry* e = s.pStrList.edit(id, s.budget);
  if (!e) return 1;
  size_t oldBytes = e->text ? e->text->size() + 1 : 0;
  if (!s.budget.change(oldBytes, text.size() + 1)) return 1;
  e->length = static_cast<uint16_t>(text.size());
  if (!e->text) arrived(p);
  e->text = std::move(text);
  return 0;
}

int decodePart(Protocol& p, uint16_t type, WireReader& r) {
  ClientState& s = p.state;
  uint32_t id = 0;
  uint16_t offset = 0;
  uint8_t n = 0;
  const uint8_t* bytes = nullptr;
  if (!(r.u24(id) && r.u16(offset) && r.u8(n) && r.bytes(n, bytes))) return 1;
  size_t end = size_t{offset} + n;
  arrived(p, false);

  if (type == MessageType::TEXT_PART) {
    if (!s.pStrList.contains(id) || end > kMaxTextSize) return 1;
    TextEntry* e = s.pStrList.edit(id, s.budget);
    if (!e) return 1;
    if (!e->text || e->text->size() < end) {
      size_t oldBytes = e->text ? e->text->size() + 1 : 0;
      if (!s.budget.change(oldBytes, end + 1)) return 1;
      if (!e->text) {
        e->text.emplace();
        arrived(p);
      }
      e->text->resize(end, '\0');
      e->length = static_cast<uint16_t>(end);
    }
    if (n > 0) std::memcpy(e->text->data() + offset, bytes, n);
    return 0;
  }

  if (type == MessageType::OBJECT_PART || type == MessageType::OBJECT_LAST_PART)
    return storeElementPart(p, s.pObjList, id, offset, bytes, n, type == MessageType::OBJECT_LAST_PART,
                            decodeObjectBody);
  return storeElementPart(p, s.pVarList, id, offset, bytes, n, type == MessageType::VARIABLE_LAST_PART,
                          decodeVariableBody);
}

}  // namespace

const char* errorCodeName(uint32_t code) {
  switch (code) {
    case 0: return "NONE";
    case 2: return "INVALID STRING ID";
    case 3: return "INVALID OBJECT ID";
    case 4: return "INVALID VARIABLE ID";
    case 5: return "VAR CONTENTS OVERFLOW";
    case 6: return "VAR READ ONLY";
    case 7: return "VAR OUT OF LIMITS";
    case 8: return "INVALID LANGUAGE";
    default: return "UNKNOWN";
  }
}

const char* elementTypeName(uint32_t type) {
  switch (type) {
    case 0: return "UNDEFINED";
    case 1: return "OBJECT";
    case 2: return "TEXT";
    case 3: return "VARIABLE";
    case 4: return "EVENT";
    case 5: return "LANGUAGE";
    default: return "UNKNOWN";
  }
}

bool parseObjectBody(uint32_t type, const uint8_t* bytes, size_t size, ObjectBody& out) {
  if (!makeBody(type, out)) return false;
  WireReader r(bytes, size);
  switch (type) {
    case ObjectType::Screen: return parseScreen(r, std::get<ScreenBody>(out));
    case ObjectType::Button: return parseButton(r, std::get<ButtonBody>(out));
    case ObjectType::Menu: return parseMenu(r, std::get<MenuBody>(out));
    case ObjectType::Polyline: return parsePolyline(r, std::get<PolylineBody>(out));
    case ObjectType::TextBox: return parseTextBox(r, std::get<TextBoxBody>(out));
    case ObjectType::SvgPicture:
    case ObjectType::GifPicture:
    case ObjectType::DataBlock:
    case ObjectType::JpegPicture: return parseBlob(r, std::get<BlobBody>(out));
    case ObjectType::Gauge: return parseGauge(r, std::get<GaugeBody>(out));
    case ObjectType::PasswordPrompt: return parsePasswordPrompt(r, std::get<PasswordPromptBody>(out));
    case ObjectType::Popup: return parsePopup(r, std::get<PopupBody>(out));
    case ObjectType::LockObject: return parseLock(r, std::get<LockObjectBody>(out));
    case ObjectType::Canvas: return parseCanvas(bytes, size, std::get<CanvasBody>(out));
    default: return false;
  }
}

int decodeObjectBody(Protocol& p, uint32_t id, const uint8_t* bytes, size_t size) {
  ClientState& s = p.state;
  const ObjectEntry* current = s.pObjList.find(id);
  if (!current) return 1;
  WireReader r(bytes, size);
  uint16_t type = 0;
  if (!r.u16(type)) return 1;
  if (current->type != 0 && current->type != type) return 1;  // an object keeps its type

  // The new body is built aside and stored only when it is whole, so a
  // refused body never replaces or damages the one already held.
  ObjectBody body;
  if (!parseObjectBody(type, r.position(), r.remaining(), body)) return 1;

  ObjectEntry* e = s.pObjList.edit(id, s.budget);
  if (!e) return 1;
  size_t oldBytes = e->body ? bodyFootprint(*e->body) : 0;
  if (!s.budget.change(oldBytes, bodyFootprint(body))) return 1;
  e->body = std::make_unique<ObjectBody>(std::move(body));
  e->bodyVersion = ++s.bodyVersions;
  e->type = type;
  if (!e->loaded) arrived(p);
  e->loaded = 1;
  if (s.displayReady == 1 && p.hooks.objectChanged) p.hooks.objectChanged(id);
  return 0;
}

int decodeVariableBody(Protocol& p, uint32_t id, const uint8_t* bytes, size_t size) {
  ClientState& s = p.state;
  const VariableEntry* current = s.pVarList.find(id);
  if (!current) return 1;
  WireReader r(bytes, size);
  uint16_t type = 0;
  if (!r.u16(type)) return 1;
  if (current->type != 0 && current->type != type) return 1;
  VariableEntry fields;
  const uint8_t* value = nullptr;
  if (!(r.u8(fields.access) && r.u24(fields.unitText) && r.u32(fields.minimum) && r.u32(fields.maximum) &&
        r.u32(fields.extra) && r.u16(fields.length) && r.bytes(fields.length, value)))
    return 1;

  VariableEntry* e = s.pVarList.edit(id, s.budget);
  if (!e) return 1;
  size_t newBytes = size_t{fields.length} + 1;
  if (!s.budget.change(e->value.size(), newBytes)) return 1;
  e->type = type;
  e->access = fields.access;
  e->unitText = fields.unitText;
  e->minimum = fields.minimum;
  e->maximum = fields.maximum;
  e->extra = fields.extra;
  e->length = fields.length;
  if (e->value.empty()) arrived(p);
  e->value.assign(value, value + fields.length);
  e->value.push_back(0);
  if (s.displayReady == 1 && p.hooks.variableChanged) p.hooks.variableChanged(id);
  return 0;
}

int decodeMessage(Protocol& p, const uint8_t* bytes, size_t length) {
  ClientState& s = p.state;
  WireReader r(bytes, length);
  uint16_t type = 0;
  uint32_t sequence = 0;
  if (!r.u16(type) || !r.u32(sequence)) return 1;

  switch (type) {
    case MessageType::INFO: {
      uint8_t info[3];
      uint32_t objects = 0, texts = 0, variables = 0, home = 0;
      if (!(r.u8(info[0]) && r.u8(info[1]) && r.u8(info[2]) && r.u24(objects) && r.u24(texts) && r.u24(variables) &&
            r.u24(home)))
        return 1;
      std::memcpy(s.infoBytes, info, 3);
      // The tables keep the sizes they were allocated with; lookups go by those.
      s.objectCount = objects;
      s.textCount = texts;
      s.variableCount = variables;
      s.homeScreen = home;
      // Read by the control thread while it waits for this reply.
      std::atomic_ref<uint8_t>(s.infoReceived).store(1);
      return 0;
    }
    case MessageType::TEXT: return decodeText(p, r);
    case MessageType::OBJECT:
    case MessageType::VARIABLE: {
      uint32_t id = 0;
      if (!r.u24(id) || !r.skip(1)) return 1;
      if (type == MessageType::OBJECT) {
        if (!s.pObjList.contains(id)) return 1;
        return decodeObjectBody(p, id, r.position(), r.remaining());
      }
      if (!s.pVarList.contains(id)) return 1;
      return decodeVariableBody(p, id, r.position(), r.remaining());
    }
    case MessageType::ERROR_REPORT: {
      uint32_t code = 0, elementId = 0;
      uint8_t elementType = 0;
      if (!(r.u32(code) && r.u8(elementType) && r.u32(elementId))) return 1;
      logErrorReport(p, code, elementType, elementId);
      return 0;
    }
    case MessageType::EVENT: {
      uint32_t target = 0;
      if (!r.u24(target)) return 1;
      if (p.hooks.leaveLock) p.hooks.leaveLock(target, 0);
      return 0;
    }
    case MessageType::TEXT_PART:
    case MessageType::OBJECT_PART:
    case MessageType::OBJECT_LAST_PART:
    case MessageType::VARIABLE_PART:
    case MessageType::VARIABLE_LAST_PART: return decodePart(p, type, r);
    default: return 0;
  }
}

}  // namespace okt
