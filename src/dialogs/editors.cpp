#include "dialogs/editors.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>

#include "protocol/requests.h"
#include "protocol/wire.h"

namespace okt {

EditorKind editorFor(uint16_t type, uint32_t minimum, uint32_t maximum) {
  switch (type) {
    case VariableType::U8:
    case VariableType::S8:
    case VariableType::U16:
    case VariableType::S16:
    case VariableType::U32:
    case VariableType::S32: return maximum - minimum < 100 ? EditorKind::Slider : EditorKind::Number;
    case VariableType::STRING: return EditorKind::Text;
    case VariableType::DATE: return EditorKind::Date;
    case VariableType::TIME: return EditorKind::Time;
    case VariableType::HOUR_MINUTE: return EditorKind::HourMinute;
    case VariableType::LIST: return EditorKind::List;
    case VariableType::WEEKDAYS: return EditorKind::Weekday;
    default: return EditorKind::None;
  }
}

std::optional<int64_t> parseNumber(const std::string& text) {
  size_t end = text.size();
  while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
  std::string trimmed = text.substr(0, end);
  const char* start = trimmed.c_str();
  while (std::isspace(static_cast<unsigned char>(*start))) ++start;
  if (*start == 0) return std::nullopt;
  char* stop = nullptr;
  errno = 0;
  long long n = std::strtoll(start, &stop, 0);
  if (errno == ERANGE || *stop != 0) return std::nullopt;
  return static_cast<int64_t>(n);
}

namespace {

bool isSigned(uint16_t type) {
  return type == VariableType::S8 || type == VariableType::S16 || type == VariableType::S32;
}

int widthBits(uint16_t type) {
  size_t bytes = variableValueWidth(type);
  return bytes == 0 || bytes > 4 ? 32 : static_cast<int>(8 * bytes);
}

}  // namespace

NumberRange typeRange(uint16_t type) {
  int bits = widthBits(type);
  if (isSigned(type)) return {-(int64_t{1} << (bits - 1)), (int64_t{1} << (bits - 1)) - 1};
  return {0, (int64_t{1} << bits) - 1};
}

int64_t numberShown(uint16_t type, uint32_t bits) {
  int width = widthBits(type);
  uint64_t v = bits & ((uint64_t{1} << width) - 1);
  if (isSigned(type) && (v >> (width - 1)) != 0) return static_cast<int64_t>(v) - (int64_t{1} << width);
  return static_cast<int64_t>(v);
}

uint32_t numberBits(uint16_t type, int64_t n) {
  return static_cast<uint32_t>(static_cast<uint64_t>(n) & ((uint64_t{1} << widthBits(type)) - 1));
}

int64_t limitShown(uint16_t type, uint32_t limit) {
  NumberRange r = typeRange(type);
  int64_t n = isSigned(type) ? int64_t{static_cast<int32_t>(limit)} : int64_t{limit};
  return std::clamp(n, r.minimum, r.maximum);
}

uint32_t weekdayBits(const std::array<bool, 7>& checked) {
  uint32_t bits = 0;
  for (int i = 0; i < 7; ++i)
    if (checked[static_cast<size_t>(i)]) bits |= 1u << i;
  return bits;
}

SliderSetup sliderSetup(const EditorRecord& r) {
  int64_t lo = limitShown(r.type, r.minimum);
  int64_t hi = std::max(lo, limitShown(r.type, r.maximum));
  int tick = r.maximum - r.minimum < 50 ? 1 : 10;
  return {lo, hi, tick, std::clamp(numberShown(r.type, r.value), lo, hi)};
}

std::vector<std::string> listEntries(const ClientState& s, const EditorRecord& r) {
  std::vector<std::string> out;
  for (size_t i = 0; i < r.listTexts.size() && i < r.maximum; ++i) {
    uint32_t id = r.listTexts[i];
    if (id > kMaxValidId) continue;  // no gap for a skipped choice
    const char* t = textOf(s, id);
    out.push_back(t ? t : "");
  }
  return out;
}

void editVariable(Protocol& p, EditorHost& host, uint32_t variableId, uint32_t titleTextId) {
  const VariableEntry* v = variableEntry(p.state, variableId);
  if (!v || !(v->access & 0x02)) return;
  EditorRecord r;
  r.type = v->type;
  r.minimum = v->minimum;
  r.maximum = v->maximum;
  if (variableIsNumeric(p.state, variableId)) {
    if (variableNumber(p.state, variableId, &r.value) != 0) return;
    if (r.type == VariableType::BOOL) {
      r.value = r.value == 0 ? 1 : 0;
      r.applied = 1;
    }
  } else if (r.type == VariableType::LIST) {
    if (v->value.size() < 2) return;
    r.value = (uint32_t{v->value[0]} << 8) | v->value[1];
    // The record holds 67 choices; a longer list shows its first 67.
    for (size_t i = 0; i < r.maximum && i < kListTextsMax && 2 + 3 * i + 3 <= v->value.size(); ++i) {
      uint32_t id = 0;
      getU24(v->value.data() + 2 + 3 * i, &id);
      r.listTexts.push_back(id);
    }
    r.choices = listEntries(p.state, r);
  } else if (r.type == VariableType::STRING) {
    if (v->value.empty()) return;
    r.text = reinterpret_cast<const char*>(v->value.data());
    if (r.text.size() > kEditorTextBytes - 1) r.text.resize(kEditorTextBytes - 1);  // opens cut
  } else {
    return;
  }
  if (!r.applied) {
    EditorKind kind = editorFor(r.type, r.minimum, r.maximum);
    if (kind == EditorKind::None) return;
    if (host.runEditor(kind, buildEditorTemplate(p.state, titleTextId), r) != kIdOk) return;
  }
  if (r.applied != 1) return;
  VariableValue value{r.type, r.value, r.text};
  writeVariable(p, variableId, &value);
}

}  // namespace okt
