#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace okt {

// Object type codes (u16 on the wire, u32 in the entry).
struct ObjectType {
  enum : uint32_t {
    Screen = 1,
    Button = 2,
    Menu = 3,
    Polyline = 5,
    TextBox = 6,
    SvgPicture = 7,
    GifPicture = 8,
    DataBlock = 9,
    Gauge = 10,
    PasswordPrompt = 11,
    Popup = 12,
    LockObject = 13,
    JpegPicture = 15,
    Canvas = 16,
  };
};

bool objectTypeHasBody(uint32_t type);

struct Placement {
  uint32_t objectId = 0;
  uint16_t x = 0;
  uint16_t y = 0;
  uint16_t width = 0;
  uint16_t height = 0;

  bool operator==(const Placement&) const = default;
};

struct ScreenBody {
  uint32_t background = 0;
  uint32_t childCount = 0;
  std::vector<Placement> children;

  bool operator==(const ScreenBody&) const = default;
};

struct ButtonBody {
  uint16_t style = 0;
  uint16_t fontHeight = 0;
  uint32_t fillColour = 0;
  uint32_t textColour = 0;
  uint32_t frameColour = 0;
  uint32_t pressedFillColour = 0;
  uint32_t pressedTextColour = 0;
  uint32_t pressedFrameColour = 0;
  uint32_t textId = 0;
  uint32_t iconId = 0;
  uint32_t pressEvent = 0;
  uint32_t targetScreen = 0;

  bool operator==(const ButtonBody&) const = default;
};

// Menu item flag bits: which optional fields follow on the wire.
struct MenuItemFlag {
  enum : uint8_t { Text = 1, Icon = 2, Event = 4, Target = 8, Variable = 16, Label = 32 };
};

constexpr size_t kMenuLabelBytes = 255;  // the record's label field
constexpr size_t kMenuLabelMaxChars = 253;

struct MenuItem {
  uint8_t kind = 0;  // 0 entry, 1 empty row
  uint8_t flags = 0;
  uint32_t iconId = 0xFFFFFFFF;
  uint32_t textId = 0xFFFFFFFF;
  uint32_t event = 0xFFFFFFFF;
  uint32_t targetScreen = 0xFFFFFFFF;
  uint32_t variableId = 0xFFFFFFFF;
  std::string label;  // at most 253 bytes; empty when absent

  bool operator==(const MenuItem&) const = default;
};

struct MenuBody {
  uint16_t itemCount = 0;
  uint32_t iconId = 0;
  uint32_t titleText = 0;
  uint32_t enterEvent = 0;
  uint32_t leaveEvent = 0;
  std::vector<MenuItem> items;

  bool operator==(const MenuBody&) const = default;
};

struct PolylineBody {
  uint32_t colour = 0;
  uint8_t lineStyle = 0;
  uint8_t lineWidth = 0;
  // For each group n, then x and y of each point; ended by a 0.
  std::vector<uint16_t> points;

  bool operator==(const PolylineBody&) const = default;
};

struct TextBoxBody {
  uint16_t frameless = 0;
  uint16_t fontHeight = 0;
  uint32_t fillColour = 0;
  uint32_t textColour = 0;
  uint32_t frameColour = 0;
  uint32_t textId = 0;
  uint32_t variableId = 0;

  bool operator==(const TextBoxBody&) const = default;
};

// SVG, GIF and JPEG pictures and data blocks: the payload followed by two
// zero bytes, so SVG text can be read as a terminated string.
struct BlobBody {
  uint32_t size = 0;
  std::vector<uint8_t> data;

  bool operator==(const BlobBody&) const = default;
};

struct GaugeBody {
  uint8_t flags = 0;
  uint8_t needleStyle = 0;
  uint16_t bandStart = 0;
  uint16_t bandEnd = 0;
  uint16_t bandOuterRadius = 0;
  uint16_t bandInnerRadius = 0;
  uint16_t needleLength = 0;
  uint16_t needleHalfWidth = 0;
  uint16_t tickOuterRadius = 0;
  uint16_t tickInnerRadius = 0;
  uint32_t faceColour = 0;
  uint32_t bandColour = 0;
  uint32_t valueColour = 0;
  uint32_t needleColour = 0;
  uint32_t tickColour = 0;
  uint16_t tickStart = 0;
  uint16_t tickEnd = 0;
  uint16_t tickCount = 0;
  uint16_t tickWidth = 0;
  uint32_t variableId = 0;
  uint32_t pressEvent = 0;

  bool operator==(const GaugeBody&) const = default;
};

struct PasswordPromptBody {
  uint16_t options = 0;
  uint16_t allowedChars = 0;
  uint8_t maxLength = 0;
  uint32_t titleText = 0;
  uint32_t labelText = 0;
  uint32_t submitEvent = 0;
  uint32_t cancelEvent = 0;
  uint32_t okEvent = 0;
  uint32_t errorEvent = 0;
  uint32_t nextScreen = 0;
  uint32_t errorScreen = 0;
  uint8_t passwordLength = 0;
  std::string password;  // compared up to its first zero byte

  bool operator==(const PasswordPromptBody&) const = default;
};

struct PopupButton {
  uint32_t labelText = 0;
  uint32_t event = 0;
  uint32_t targetScreen = 0;

  bool operator==(const PopupButton&) const = default;
};

struct PopupBody {
  uint32_t titleText = 0;
  uint32_t messageText = 0;
  uint32_t iconId = 0;
  uint8_t buttonCount = 0;
  std::vector<PopupButton> buttons;

  bool operator==(const PopupBody&) const = default;
};

struct LockObjectBody {
  uint16_t animation = 0;
  uint16_t lockFlags = 0;
  uint16_t timeoutSeconds = 0;
  uint32_t messageText = 0;
  uint32_t unlockText = 0;
  uint32_t unlockEvent = 0;
  uint32_t unlockScreen = 0;
  uint32_t timeoutEvent = 0;
  uint32_t timeoutScreen = 0;
  uint32_t releaseEvent = 0;
  uint32_t releaseScreen = 0;
  uint32_t enterEvent = 0;

  bool operator==(const LockObjectBody&) const = default;
};

struct CanvasBody {
  // The operations up to and including the final 0x00, then two zero bytes.
  std::vector<uint8_t> program;

  bool operator==(const CanvasBody&) const = default;
};

using ObjectBody = std::variant<ScreenBody, ButtonBody, MenuBody, PolylineBody, TextBoxBody, BlobBody, GaugeBody,
                                PasswordPromptBody, PopupBody, LockObjectBody, CanvasBody>;

// A zero-filled body of the type; false for a type without a body record.
bool makeBody(uint32_t type, ObjectBody& out);

// Bytes a body holds, as charged to the memory budget.
size_t bodyFootprint(const ObjectBody& body);

}  // namespace okt
