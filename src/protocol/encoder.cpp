#include "protocol/encoder.h"

#include "protocol/decoder.h"
#include "protocol/wire.h"

namespace okt {
namespace {

struct BodyWriter {
  WireWriter& w;

  void operator()(const ScreenBody& b) {
    w.u16(static_cast<uint32_t>(b.children.size())).u24(b.background);
    for (const Placement& p : b.children) w.u24(p.objectId).u16(p.x).u16(p.y).u16(p.width).u16(p.height);
  }
  void operator()(const ButtonBody& b) {
    w.u16(b.style).u8(0).u16(0).u16(b.fontHeight).u24(b.fillColour).u24(b.textColour).u24(b.frameColour);
    w.u24(b.pressedFillColour).u24(b.pressedTextColour).u24(b.pressedFrameColour);
    w.u24(b.textId).u24(b.iconId).u24(b.pressEvent).u24(b.targetScreen);
  }
  void operator()(const MenuBody& b) {
    w.u16(static_cast<uint32_t>(b.items.size())).u24(b.iconId).u24(b.titleText).u24(b.enterEvent).u24(b.leaveEvent);
    for (const MenuItem& item : b.items) {
      w.u8(item.kind);
      if (item.kind != 0) continue;
      w.u8(item.flags);
      if (item.flags & MenuItemFlag::Text) w.u24(item.textId);
      if (item.flags & MenuItemFlag::Icon) w.u24(item.iconId);
      if (item.flags & MenuItemFlag::Event) w.u24(item.event);
      if (item.flags & MenuItemFlag::Target) w.u24(item.targetScreen);
      if (item.flags & MenuItemFlag::Variable) w.u24(item.variableId);
      if (item.flags & MenuItemFlag::Label) w.text(item.label);
    }
  }
  void operator()(const PolylineBody& b) {
    w.u24(b.colour).u8(b.lineStyle).u8(b.lineWidth);
    // The list holds n, then n pairs, for each group, ended by 0.
    size_t i = 0;
    while (i < b.points.size()) {
      uint16_t n = b.points[i++];
      w.u8(n);
      if (n == 0) return;
      for (uint16_t k = 0; k < 2 * n && i < b.points.size(); ++k) w.u16(b.points[i++]);
    }
    w.u8(0);
  }
  void operator()(const TextBoxBody& b) {
    w.u16(b.frameless).u8(0).u16(0).u16(b.fontHeight).u24(b.fillColour).u24(b.textColour).u24(b.frameColour);
    w.u24(b.textId).u24(b.variableId);
  }
  void operator()(const BlobBody& b) {
    size_t n = b.data.size() >= 2 ? b.data.size() - 2 : 0;
    w.u16(static_cast<uint32_t>(n)).bytes(b.data.data(), n);
  }
  void operator()(const GaugeBody& b) {
    w.u8(0).u8(b.flags).u8(b.needleStyle).u16(b.bandStart).u16(b.bandEnd).u16(b.bandOuterRadius);
    w.u16(b.bandInnerRadius).u16(b.needleLength).u16(b.needleHalfWidth).u16(b.tickOuterRadius).u16(b.tickInnerRadius);
    w.u24(b.faceColour).u24(b.bandColour).u24(b.valueColour).u24(b.needleColour).u24(b.tickColour);
    w.u16(b.tickStart).u16(b.tickEnd).u16(b.tickCount).u16(b.tickWidth).u24(b.variableId).u24(b.pressEvent);
  }
  void operator()(const PasswordPromptBody& b) {
    w.u16(b.options).u16(b.allowedChars).u8(0).u8(b.maxLength).u8(0);
    w.u24(b.titleText).u24(b.labelText).u24(b.submitEvent).u24(b.cancelEvent).u24(b.okEvent).u24(b.errorEvent);
    w.u24(b.nextScreen).u24(b.errorScreen);
    w.u8(static_cast<uint32_t>(b.password.size()))
        .bytes(reinterpret_cast<const uint8_t*>(b.password.data()), b.password.size());
  }
  void operator()(const PopupBody& b) {
    w.u24(b.titleText).u24(b.messageText).u24(b.iconId).u8(static_cast<uint32_t>(b.buttons.size()));
    for (const PopupButton& button : b.buttons) w.u24(button.labelText).u24(button.event).u24(button.targetScreen);
  }
  void operator()(const LockObjectBody& b) {
    w.u16(b.animation).u16(b.lockFlags).u16(b.timeoutSeconds).u24(b.messageText).u24(b.unlockText);
    w.u24(b.unlockEvent).u24(b.unlockScreen).u24(b.timeoutEvent).u24(b.timeoutScreen);
    w.u24(b.releaseEvent).u24(b.releaseScreen).u24(b.enterEvent);
  }
  void operator()(const CanvasBody& b) {
    // The stored program carries two zero bytes after its end op.
    size_t n = b.program.size() >= 2 ? b.program.size() - 2 : b.program.size();
    w.bytes(b.program.data(), n);
  }
};

std::vector<uint8_t> header(uint16_t type) { return WireWriter().u16(type).u32(0).take(); }

std::vector<std::vector<uint8_t>> inParts(uint16_t partType, uint16_t lastType, uint32_t id,
                                          const std::vector<uint8_t>& whole) {
  std::vector<std::vector<uint8_t>> out;
  for (size_t offset = 0; offset < whole.size(); offset += kMaxPartBytes) {
    size_t n = std::min(kMaxPartBytes, whole.size() - offset);
    bool last = offset + n == whole.size();
    WireWriter w;
    w.u16(last ? lastType : partType).u32(0).u24(id).u16(static_cast<uint32_t>(offset)).u8(static_cast<uint32_t>(n));
    w.bytes(whole.data() + offset, n);
    out.push_back(w.take());
  }
  return out;
}

}  // namespace

std::vector<uint8_t> encodeObjectBody(uint32_t type, const ObjectBody& body) {
  WireWriter w;
  w.u16(type);
  std::visit(BodyWriter{w}, body);
  return w.take();
}

std::vector<uint8_t> encodeVariableBody(const VariableDescription& v) {
  return WireWriter()
      .u16(v.type)
      .u8(v.access)
      .u24(v.unitText)
      .u32(v.minimum)
      .u32(v.maximum)
      .u32(v.extra)
      .u16(static_cast<uint32_t>(v.value.size()))
      .bytes(v.value)
      .take();
}

std::vector<std::vector<uint8_t>> textMessages(uint32_t id, const std::string& text) {
  if (kMessageHeaderBytes + 3 + text.size() + 1 <= kMaxMessageBytes) {
    WireWriter w;
    w.bytes(header(MessageType::TEXT)).u24(id).text(text);
    return {w.take()};
  }
  std::vector<uint8_t> bytes(text.begin(), text.end());
  return inParts(MessageType::TEXT_PART, MessageType::TEXT_PART, id, bytes);
}

std::vector<std::vector<uint8_t>> objectMessages(uint32_t id, const std::vector<uint8_t>& body) {
  if (kMessageHeaderBytes + 4 + body.size() <= kMaxMessageBytes) {
    WireWriter w;
    w.bytes(header(MessageType::OBJECT)).u24(id).u8(0).bytes(body);
    return {w.take()};
  }
  return inParts(MessageType::OBJECT_PART, MessageType::OBJECT_LAST_PART, id, body);
}

std::vector<std::vector<uint8_t>> variableMessages(uint32_t id, const std::vector<uint8_t>& body) {
  if (kMessageHeaderBytes + 4 + body.size() <= kMaxMessageBytes) {
    WireWriter w;
    w.bytes(header(MessageType::VARIABLE)).u24(id).u8(0).bytes(body);
    return {w.take()};
  }
  return inParts(MessageType::VARIABLE_PART, MessageType::VARIABLE_LAST_PART, id, body);
}

void setSequence(std::vector<uint8_t>& message, uint32_t sequence) {
  if (message.size() >= kMessageHeaderBytes) putU32(message.data() + 2, sequence);
}

}  // namespace okt
