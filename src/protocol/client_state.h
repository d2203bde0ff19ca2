#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/pixel_buffer.h"
#include "protocol/bodies.h"
#include "protocol/memory_budget.h"
#include "protocol/paged_table.h"

namespace okt {

struct VariableType {
  enum : uint16_t {
    NONE = 0,
    BOOL = 1,
    U8 = 2,
    S8 = 3,
    U16 = 4,
    S16 = 5,
    U32 = 6,
    S32 = 7,
    STRING = 8,
    DATE = 9,
    TIME = 10,
    HOUR_MINUTE = 11,
    LIST = 12,
    WEEKDAYS = 13,
  };
};

constexpr uint32_t kNoLock = 0xFFFFFFFF;
constexpr uint32_t kBackStackSize = 128;
constexpr size_t kFormatMaxChars = 511;

struct ObjectEntry {
  uint8_t loaded = 0;
  uint32_t type = 0;
  uint32_t pressed = 0;
  uint32_t pressTick = 0;
  int32_t selectedItem = -1;
  std::vector<uint8_t> partBuffer;  // partSize + 1 bytes while a body arrives in parts
  int32_t partSize = -1;
  std::unique_ptr<ObjectBody> body;
  // Different for every body the entry is given, in the life of the state
  // (what was drawn from one body is not what another draws).
  uint64_t bodyVersion = 0;
};

struct TextEntry {
  std::optional<std::string> text;  // absent until the text arrives
  uint16_t length = 0;
};

struct VariableEntry {
  uint16_t type = 0;
  uint8_t access = 0;
  uint32_t unitText = 0;
  uint32_t minimum = 0;
  uint32_t maximum = 0;
  uint32_t extra = 0;
  uint16_t length = 0;
  // The value bytes as on the wire followed by at least one zero byte; empty
  // until a value arrives. It may be longer than length + 1.
  std::vector<uint8_t> value;
  std::vector<uint8_t> partBuffer;
  int32_t partSize = -1;
};

struct ViewRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;

  bool operator==(const ViewRect&) const = default;
};

struct ClientState {
  uint8_t infoReceived = 0;
  uint8_t infoBytes[3] = {};
  uint32_t objectCount = 0;
  uint32_t textCount = 0;
  uint32_t variableCount = 0;
  uint32_t homeScreen = 0;
  PagedTable<ObjectEntry> pObjList;
  PagedTable<TextEntry> pStrList;
  PagedTable<VariableEntry> pVarList;
  uint32_t requestCounter = 0;
  uint32_t currentScreen = 0;
  ViewRect viewRect;
  uint32_t clickX = 0;
  uint32_t clickY = 0;
  uint32_t backStack[kBackStackSize] = {};
  uint32_t backDepth = 0;
  uint32_t menuPage = 0;
  uint32_t menuPageCount = 0;
  uint8_t displayReady = 0;
  uint32_t activeLock = 0;
  std::unique_ptr<PixelBuffer> lockImage;
  uint32_t lockStartTick = 0;

  uint64_t bodyVersions = 0;  // bodies given so far

  // Everything the peripheral makes us store is paid for from here.
  MemoryBudget budget;
};

// infoReceived is set by the client thread's decoder and read by the control
// thread while it waits for INFO.
inline uint8_t infoArrived(const ClientState& s) {
  return std::atomic_ref<uint8_t>(const_cast<uint8_t&>(s.infoReceived)).load();
}

// Table lifetime (connect and disconnect).
bool allocateObjectTable(ClientState& s, uint32_t count);
bool allocateTextTable(ClientState& s, uint32_t count);
bool allocateVariableTable(ClientState& s, uint32_t count);
void releaseTables(ClientState& s);

// Lookups. None reads outside its table; a missing table reads as "not found".
int32_t objectType(const ClientState& s, uint32_t id);
int32_t objectTypeInRange(const ClientState& s, uint32_t id);
const ObjectBody* objectBody(const ClientState& s, uint32_t id);
template <typename T>
const T* bodyOf(const ClientState& s, uint32_t id) {
  const ObjectBody* body = objectBody(s, id);
  return body ? std::get_if<T>(body) : nullptr;
}
// Replaces the entry's body with a zero-filled one of the type. Null for an id
// outside the table, a type without a body record, or no memory.
ObjectBody* createBody(ClientState& s, uint32_t id, uint32_t type);
const char* textOf(const ClientState& s, uint32_t id);
const VariableEntry* variableEntry(const ClientState& s, uint32_t id);
VariableEntry* editVariableEntry(ClientState& s, uint32_t id);

bool variableIsNumeric(const ClientState& s, uint32_t id);
int variableNumber(const ClientState& s, uint32_t id, uint32_t* out);
double variableFraction(const ClientState& s, uint32_t id);
bool objectOnScreen(const ClientState& s, uint32_t objectId, uint32_t screenId);
bool variableOnScreen(const ClientState& s, uint32_t variableId, uint32_t objectId, int depth);
// Writes the display text of the variable into out and returns 0; returns 1
// and leaves out alone when there is nothing to show.
int formatVariable(const ClientState& s, uint32_t id, std::string& out);

// Bytes of the value for the numeric and fixed-width types; 0 for the others.
size_t variableValueWidth(uint16_t type);

}  // namespace okt
