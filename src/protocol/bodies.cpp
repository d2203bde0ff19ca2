#include "protocol/bodies.h"

namespace okt {

bool objectTypeHasBody(uint32_t type) {
  switch (type) {
    case ObjectType::Screen:
    case ObjectType::Button:
    case ObjectType::Menu:
    case ObjectType::Polyline:
    case ObjectType::TextBox:
    case ObjectType::SvgPicture:
    case ObjectType::GifPicture:
    case ObjectType::DataBlock:
    case ObjectType::Gauge:
    case ObjectType::PasswordPrompt:
    case ObjectType::Popup:
    case ObjectType::LockObject:
    case ObjectType::JpegPicture:
    case ObjectType::Canvas: return true;
    default: return false;
  }
}

bool makeBody(uint32_t type, ObjectBody& out) {
  switch (type) {
    case ObjectType::Screen: out = ScreenBody{}; return true;
    case ObjectType::Button: out = ButtonBody{}; return true;
    case ObjectType::Menu: out = MenuBody{}; return true;
    case ObjectType::Polyline: out = PolylineBody{}; return true;
    case ObjectType::TextBox: out = TextBoxBody{}; return true;
    case ObjectType::SvgPicture:
    case ObjectType::GifPicture:
    case ObjectType::DataBlock:
    case ObjectType::JpegPicture: out = BlobBody{}; return true;
    case ObjectType::Gauge: out = GaugeBody{}; return true;
    case ObjectType::PasswordPrompt: out = PasswordPromptBody{}; return true;
    case ObjectType::Popup: out = PopupBody{}; return true;
    case ObjectType::LockObject: out = LockObjectBody{}; return true;
    case ObjectType::Canvas: out = CanvasBody{}; return true;
    default: return false;
  }
}

namespace {

struct Footprint {
  size_t operator()(const ScreenBody& b) const { return sizeof b + b.children.size() * sizeof(Placement); }
  size_t operator()(const MenuBody& b) const {
    size_t n = sizeof b + b.items.size() * sizeof(MenuItem);
    for (const auto& item : b.items) n += item.label.size();
    return n;
  }
  size_t operator()(const PolylineBody& b) const { return sizeof b + b.points.size() * sizeof(uint16_t); }
  size_t operator()(const BlobBody& b) const { return sizeof b + b.data.size(); }
  size_t operator()(const PasswordPromptBody& b) const { return sizeof b + b.password.size(); }
  size_t operator()(const PopupBody& b) const { return sizeof b + b.buttons.size() * sizeof(PopupButton); }
  size_t operator()(const CanvasBody& b) const { return sizeof b + b.program.size(); }
  template <typename T>
  size_t operator()(const T& b) const {
    return sizeof b;
  }
};

}  // namespace

size_t bodyFootprint(const ObjectBody& body) { return std::visit(Footprint{}, body); }

}  // namespace okt
