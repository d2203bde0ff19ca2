#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/templates.h"
#include "protocol/protocol.h"

namespace okt {

enum class EditorKind { None, Slider, Number, Text, Date, Time, HourMinute, List, Weekday };

constexpr size_t kListTextsMax = 67;
constexpr size_t kEditorTextBytes = 258;

// What one edit works on; the dialog's controls are filled from it and, on
// OK, stored back into it. A number's value holds its bits as the variable
// stores them (its width, read unsigned); the limits are the 32-bit numbers
// the device sent, signed types' as their two's complement.
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
// A whole number as typed: decimal, 0x hexadecimal or leading-0 octal, with
// an optional sign and blanks around it. Nothing for anything else ("abc",
// "12abc", "", a number beyond 64 bits), so that the editor can refuse it.
std::optional<int64_t> parseNumber(const std::string& text);

// Numbers as the user reads and types them: S8, S16 and S32 are signed.
struct NumberRange {
  int64_t minimum, maximum;
};
NumberRange typeRange(uint16_t type);  // what the type's width holds
// The bits of a value in the type's width, sign-extended for a signed type.
int64_t numberShown(uint16_t type, uint32_t bits);
// A number as the type's bits: its two's complement in the type's width.
uint32_t numberBits(uint16_t type, int64_t n);
// A variable's limit as a number of its type, brought within the type's range.
int64_t limitShown(uint16_t type, uint32_t limit);
inline uint32_t packHourMinute(uint32_t hours, uint32_t minutes) { return (hours << 8) | (minutes & 0xFF); }
inline uint32_t packThree(uint32_t a, uint32_t b, uint32_t c) { return (((a << 8) | (b & 0xFF)) << 8) | (c & 0xFF); }
uint32_t weekdayBits(const std::array<bool, 7>& checked);

// The slider's range and position as shown (signed types signed); the
// position is kept within the range.
struct SliderSetup {
  int64_t minimum, maximum;
  int tickFrequency;
  int64_t position;
};
SliderSetup sliderSetup(const EditorRecord& r);

// The LIST editor's entries: choices with a valid text id, in order, with
// their texts ("" when not arrived). Skipped ids leave no gap.
std::vector<std::string> listEntries(const ClientState& s, const EditorRecord& r);
// The list box index chosen, as written (none: 0xFFFF).
inline uint32_t listChoice(int selectedRow) { return selectedRow < 0 ? 0xFFFF : static_cast<uint32_t>(selectedRow); }

}  // namespace okt
