#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/bodies.h"
#include "protocol/encoder.h"

namespace okt::emu {

struct ReplayScript;

struct TextDef {
  uint32_t id = 0;
  std::string name;
  std::string text;
};

struct VariableDef {
  uint32_t id = 0;
  std::string name;
  VariableDescription desc;
};

struct ObjectDef {
  uint32_t id = 0;
  std::string name;
  uint32_t type = 0;
  ObjectBody body;
};

// Something the device does in answer to an event, a variable write or a timer.
struct Action {
  enum class Kind {
    SetVariable,      // id, value: store and send the variable
    SweepVariable,    // id, step: move the value towards a limit, turn at the limits, send it
    SendVariable,     // id
    SendObject,       // id
    ReplaceObject,    // id, replacement: store and send
    SendText,         // id
    SetText,          // id, text: store and send
    SendEvent,        // id: EVENT with this target (0xFFFFFF none)
    SendErrorReport,  // errorCode, elementType, elementId
    After,            // delayMs, actions: run later
    DropLink,         // the device ends the connection from its side
  };
  Kind kind = Kind::SendObject;
  uint32_t id = 0;
  std::vector<uint8_t> value;
  int32_t step = 0;
  std::shared_ptr<ObjectDef> replacement;
  std::string text;
  uint32_t errorCode = 0;
  uint8_t elementType = 0;
  uint32_t elementId = 0;
  uint32_t delayMs = 0;
  std::vector<Action> actions;
};

// Actions run when an event arrives; when a text is given, only if the
// event's data, read as a zero-terminated text, equals it (or differs from it).
struct EventReaction {
  bool matchData = false;
  bool negate = false;
  std::string dataText;
  std::vector<Action> actions;
};

struct TimerDef {
  uint32_t periodMs = 0;
  std::vector<Action> actions;
};

struct DeviceDescription {
  std::string name = "OKT device";
  std::string address = "0C:0C:0C:00:00:01";
  int32_t rssi = -50;
  uint8_t infoBytes[3] = {1, 0, 0};
  uint32_t objectCount = 0;
  uint32_t textCount = 0;
  uint32_t variableCount = 0;
  uint32_t homeScreen = 0;
  std::vector<TextDef> texts;
  std::vector<VariableDef> variables;
  std::vector<ObjectDef> objects;
  std::multimap<uint32_t, EventReaction> eventReactions;           // by event id
  std::multimap<uint32_t, std::vector<Action>> variableReactions;  // by variable id, after a write
  std::vector<TimerDef> timers;
  std::map<std::string, uint32_t> eventNames;  // named events and the numbers given to them
  // Device Information characteristics.
  std::string firmwareRevision = "1.0";
  std::string modelNumber = "OKT-EMU";
  std::string hardwareRevision = "A";
  std::string manufacturer = "OKT emulator";
  std::string serialNumber = "0001";
  // A recorded session to play instead of the elements above (replay.h).
  std::shared_ptr<const ReplayScript> replay;
};

// Reads a file named relative to the description; false when it cannot.
using FileSource = std::function<bool(const std::string& relativePath, std::vector<uint8_t>& out)>;

// Parses and checks a description. A description with any fault is refused:
// false, and every fault found, each naming the file, the element and the
// field (at most about a hundred); nothing of it is kept. The error is the
// faults one a line.
bool parseDeviceDescription(const std::string& jsonText, const std::string& fileName, const FileSource& files,
                            DeviceDescription& out, std::vector<std::string>& faults);
bool parseDeviceDescription(const std::string& jsonText, const std::string& fileName, const FileSource& files,
                            DeviceDescription& out, std::string& error);
// Loads a description file; pictures are read relative to its folder. A
// capture (a .btsnoop file) is loaded as a device that replays it.
bool loadDeviceDescription(const std::string& path, DeviceDescription& out, std::vector<std::string>& faults);
bool loadDeviceDescription(const std::string& path, DeviceDescription& out, std::string& error);
// The built-in demo device (compiled into the program).
bool loadDemoDevice(DeviceDescription& out, std::string& error);

}  // namespace okt::emu
