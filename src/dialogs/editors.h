#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dialogs/templates.h"
#include "protocol/protocol.h"

namespace okt {

enum class EditorKind { None, Slider, Number, Text, Date, Time, HourMinute, List, Weekday };

constexpr size_t kListTextsMax = 67;
constexpr size_t kEditorTextBytes = 258;

// What one edit works on; the dialog's controls are filled from it and, on
// OK, stored back into it.
struct EditorRecord {
  uint16_t type = 0;
  uint32_t value = 0;
  uint32_t minimum = 0;
  uint32_t maximum = 0;
  std::string text;  // STRING values, at most 257 bytes
  uint8_t applied = 0;
  std::vector<uint32_t> listTexts;  // LIST choices, at most 67
  // What the LIST editor shows, looked up on the client thread: the dialog
  // never reads the tables.
  std::vector<std::string> choices;
};

// Runs an editor dialog on the GUI thread while the caller waits.
class EditorHost {
 public:
  virtual ~EditorHost() = default;
  // kIdOk (1) after the controls were stored into the record (and applied set), else 2.
  virtual int runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& record) = 0;
};

EditorKind editorFor(uint16_t type, uint32_t minimum, uint32_t maximum);

// The whole edit of a variable the user pressed: BOOL is toggled without a
// dialog; other types open their editor; an applied value is written.
void editVariable(Protocol& p, EditorHost& host, uint32_t variableId, uint32_t titleTextId);

// What the editors' controls make of what was typed or chosen.
uint32_t numberFromText(const std::string& text);  // base 0: 0x1F, 017, 12abc, abc
inline uint32_t packHourMinute(uint32_t hours, uint32_t minutes) { return (hours << 8) | (minutes & 0xFF); }
inline uint32_t packThree(uint32_t a, uint32_t b, uint32_t c) { return (((a << 8) | (b & 0xFF)) << 8) | (c & 0xFF); }
uint32_t weekdayBits(const std::array<bool, 7>& checked);

struct SliderSetup {
  int minimum, maximum, tickFrequency, position;
};
SliderSetup sliderSetup(const EditorRecord& r);

// The LIST editor's entries: choices with a valid text id, in order, with
// their texts ("" when not arrived). Skipped ids leave no gap.
std::vector<std::string> listEntries(const ClientState& s, const EditorRecord& r);
// The list box index chosen, as written (none: 0xFFFF).
inline uint32_t listChoice(int selectedRow) { return selectedRow < 0 ? 0xFFFF : static_cast<uint32_t>(selectedRow); }

}  // namespace okt
