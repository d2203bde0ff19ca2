// The editors' and the password prompt's logic, without a window system,
// fed hostile variable bodies and hostile typing. What the user confirms is
// what the client then shows and what it sends; numbers typed the usual ways
// read back as themselves; nothing of a value or an entry is read past its end.
//
// Input: u8 n, a variable body of n bytes (variable 0, as VARIABLE carries
// it); u8 n, the editor's title text; u8 k, then k texts [u8 n][n bytes]
// (texts 1..k, the choices a LIST names); u16 options, u16 allowedChars,
// u8 maxLength of a password prompt; u64 a number; then what the user
// types, entries separated by newlines: the editor's entry, the list row or
// weekday bits, the prompt's password, the prompt's entry.
#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dialogs/editors.h"
#include "dialogs/password_rules.h"
#include "dialogs/templates.h"
#include "presentation/display.h"
#include "protocol/decoder.h"
#include "protocol/requests.h"
#include "protocol/wire.h"
#include "support/fuzz_host.h"
#include "support/quiet_logs.h"

using namespace okt;

namespace {

constexpr uint32_t kTexts = 8;
constexpr uint32_t kPrompt = 1;

std::string line(const std::vector<std::string>& lines, size_t i) { return i < lines.size() ? lines[i] : ""; }

// Typing a number the usual ways gives that number back.
void checkNumberReading(uint64_t bits) {
  const int64_t n = static_cast<int64_t>(bits);
  char text[64];
  std::snprintf(text, sizeof text, "  %" PRId64 "\t", n);
  if (parseNumber(text) != n) fuzz::fault("a decimal number does not read back");
  std::snprintf(text, sizeof text, "0x%" PRIx64, bits >> 1);
  if (parseNumber(text) != static_cast<int64_t>(bits >> 1)) fuzz::fault("a hexadecimal number does not read back");
  std::snprintf(text, sizeof text, "0%" PRIo64, bits >> 2);
  if (parseNumber(text) != static_cast<int64_t>(bits >> 2)) fuzz::fault("an octal number does not read back");
  std::snprintf(text, sizeof text, "%" PRId64 "x", n);
  if (parseNumber(text)) fuzz::fault("a number followed by a letter was taken");
}

// A number of a type's range survives the trip through the type's bits.
void checkNumberBits(uint16_t type, int64_t n) {
  NumberRange range = typeRange(type);
  if (range.minimum > 0 || range.maximum < 0) fuzz::fault("a type whose range misses 0");
  uint32_t bits = numberBits(type, n);
  size_t width = variableValueWidth(type);
  if (width > 0 && width < 4 && (bits >> (8 * width)) != 0) fuzz::fault("bits beyond the type's width");
  if (n >= range.minimum && n <= range.maximum && numberShown(type, bits) != n)
    fuzz::fault("a number of the type's range changed on its way to bits and back");
  int64_t limit = limitShown(type, static_cast<uint32_t>(n));
  if (limit < range.minimum || limit > range.maximum) fuzz::fault("a limit outside the type's range");
}

// Whatever the text, its caption is well-formed UTF-16 within its units.
void checkCaption(const std::string& text) {
  std::u16string units = toUtf16(text, kCaptionUnits);
  if (units.size() > kCaptionUnits) fuzz::fault("a caption past its units");
  for (size_t i = 0; i < units.size(); ++i) {
    bool high = units[i] >= 0xD800 && units[i] < 0xDC00, low = units[i] >= 0xDC00 && units[i] < 0xE000;
    if (low || (high && (i + 1 == units.size() || units[i + 1] < 0xDC00 || units[i + 1] >= 0xE000)))
      fuzz::fault("a caption with a lone surrogate");
    if (high) ++i;
  }
}

void checkPasswordRules(uint16_t allowed, const std::string& text) {
  bool all = passwordCharsAllowed(allowed, text);
  bool each = true;
  for (char c : text) each = each && passwordCharsAllowed(allowed, std::string(1, c));
  if (all != each) fuzz::fault("a text judged otherwise than its characters");
  if (!passwordCharsAllowed(0xF8, text)) fuzz::fault("every class allowed, yet a character refused");
  if (!passwordCharsAllowed(allowed, "")) fuzz::fault("an empty entry refused");
  passwordField(allowed, allowed, static_cast<uint8_t>(allowed));
}

// Answers the editor as its dialog does when the user confirms what is
// typed, and the password prompt with the entry typed into it.
class TypingHost : public fuzz::FuzzHost {
 public:
  TypingHost() : FuzzHost(ViewRect{0, 0, 600, 400}) {}
  std::string typed, entry;
  int32_t row = -1;
  uint32_t days = 0;
  bool opened = false;

  int passwordDialog(const PasswordRequest& request, std::string& answer) override {
    if (request.title.size() > 65535 || request.label.size() > 65535) fuzz::fault("a prompt text past a text's size");
    answer = entry;
    return kDialogOk;
  }

  int runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& r) override {
    opened = true;
    if (kind != editorFor(r.type, r.minimum, r.maximum)) fuzz::fault("an editor for another type");
    if (frame.bytes().size() != 2048) fuzz::fault("a dialog template of another size");
    if (r.listTexts.size() > kListTextsMax || r.choices.size() > r.listTexts.size())
      fuzz::fault("a list editor with more choices than its record holds");
    if (r.text.size() > kEditorTextBytes - 1) fuzz::fault("an editor text longer than its record holds");
    uint32_t value = r.value;
    switch (kind) {
      case EditorKind::Number:
      case EditorKind::HourMinute:
      case EditorKind::Time:
      case EditorKind::Date: {
        // Fields in order, separated as the dialog shows them.
        std::vector<int64_t> fields;
        size_t from = 0;
        for (;;) {
          size_t to = typed.find_first_of(":/", from);
          auto n = parseNumber(typed.substr(from, to == std::string::npos ? std::string::npos : to - from));
          if (!n) return kIdCancel;  // the dialog stays open; the user gives up
          fields.push_back(*n);
          if (to == std::string::npos) break;
          from = to + 1;
        }
        fields.resize(3, 0);
        auto u = [&](size_t i) { return static_cast<uint32_t>(fields[i]); };
        if (kind == EditorKind::Number)
          value = numberBits(r.type, fields[0]);
        else if (kind == EditorKind::HourMinute)
          value = packHourMinute(u(0), u(1));
        else
          value = packThree(u(0), u(1), u(2));
        break;
      }
      case EditorKind::Slider: {
        SliderSetup s = sliderSetup(r);
        if (!(s.minimum <= s.position && s.position <= s.maximum)) fuzz::fault("a slider outside its range");
        if (s.tickFrequency != 1 && s.tickFrequency != 10) fuzz::fault("a slider's ticks neither 1 nor 10");
        auto n = parseNumber(typed);
        int64_t at = n ? std::clamp(*n, s.minimum, s.maximum) : s.position;
        value = numberBits(r.type, at);
        break;
      }
      case EditorKind::Text: r.text = typed.substr(0, kEditorTextBytes - 3); break;
      case EditorKind::List:
        if (row >= static_cast<int32_t>(r.choices.size())) row = -1;
        value = listChoice(row);
        break;
      case EditorKind::Weekday: {
        std::array<bool, 7> checked{};
        for (size_t i = 0; i < 7; ++i) checked[i] = (days >> i) & 1;
        value = weekdayBits(checked);
        break;
      }
      case EditorKind::None: fuzz::fault("an editor of no kind opened");
    }
    r.value = value;
    r.applied = 1;
    return kIdOk;
  }
};

// The bytes the client wrote for variable 0, at their positions.
struct Written {
  std::vector<uint8_t> bytes;
  bool any = false;
  int onWrite(const uint8_t* b, uint16_t n) {
    fuzz::checkRequest(b, n);
    WireReader r(b, n);
    uint16_t type = 0, position = 0, length = 0;
    uint32_t sequence = 0, id = 0;
    const uint8_t* chunk = nullptr;
    r.u16(type) && r.u32(sequence);
    if (type != RequestType::WRITE_VARIABLE) return 0;
    if (!(r.u24(id) && r.u16(position) && r.u16(length) && r.bytes(length, chunk)) || r.remaining() != 0 || id != 0 ||
        length > kWriteChunkBytes)
      fuzz::fault("a malformed variable write");
    if (bytes.size() < size_t{position} + length) bytes.resize(size_t{position} + length);
    std::memcpy(bytes.data() + position, chunk, length);
    any = true;
    return 0;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::quietLogs();

  WireReader r(data, size);
  uint8_t n = 0;
  const uint8_t* variable = nullptr;
  const uint8_t* title = nullptr;
  if (!(r.u8(n) && r.bytes(n, variable))) return 0;
  uint8_t titleLength = 0;
  if (!(r.u8(titleLength) && r.bytes(titleLength, title))) return 0;

  TypingHost host;
  Written written;
  Protocol p;
  initQueue(p.queue);
  p.hooks.sendRequest = [&](const uint8_t* b, uint16_t len) { return written.onWrite(b, len); };
  p.hooks.sleep = [](uint32_t) {};
  ClientState& s = p.state;
  s.activeLock = kNoLock;
  allocateObjectTable(s, 4);
  allocateTextTable(s, kTexts);
  allocateVariableTable(s, 1);
  s.pStrList.edit(0, s.budget)->text = std::string(reinterpret_cast<const char*>(title), titleLength);
  uint8_t k = 0;
  r.u8(k);
  for (uint32_t i = 1; i <= k && i < kTexts; ++i) {
    uint8_t len = 0;
    const uint8_t* t = nullptr;
    if (!(r.u8(len) && r.bytes(len, t))) break;
    s.pStrList.edit(i, s.budget)->text = std::string(reinterpret_cast<const char*>(t), len);
  }
  uint16_t options = 0, allowed = 0;
  uint8_t maxLength = 0;
  uint64_t number = 0;
  uint32_t hi = 0, lo = 0;
  r.u16(options) && r.u16(allowed) && r.u8(maxLength) && r.u32(hi) && r.u32(lo);
  number = (uint64_t{hi} << 32) | lo;
  std::vector<std::string> lines;
  {
    const uint8_t* rest = r.position();
    std::string all(reinterpret_cast<const char*>(rest), r.remaining());
    size_t from = 0;
    while (from <= all.size() && lines.size() < 4) {
      size_t to = all.find('\n', from);
      lines.push_back(all.substr(from, to == std::string::npos ? std::string::npos : to - from));
      if (to == std::string::npos) break;
      from = to + 1;
    }
  }

  // The pure rules.
  checkNumberReading(number);
  decodeVariableBody(p, 0, variable, n);
  const VariableEntry* v = variableEntry(s, 0);
  checkNumberBits(v->type, static_cast<int64_t>(number));
  if (auto typed = parseNumber(line(lines, 0))) checkNumberBits(v->type, *typed);
  checkCaption(line(lines, 0));
  checkCaption(std::string(reinterpret_cast<const char*>(title), titleLength));
  checkPasswordRules(allowed, line(lines, 3));

  // The edit, as a press on the value starts it.
  const uint16_t type = v->type;
  uint32_t before = 0;
  bool numeric = variableNumber(s, 0, &before) == 0;
  host.typed = line(lines, 0);
  host.row = static_cast<int32_t>(std::strtol(line(lines, 1).c_str(), nullptr, 10));
  host.days = static_cast<uint32_t>(number);
  editVariable(p, host, 0, 0);
  if (host.opened && editorFor(type, v->minimum, v->maximum) == EditorKind::None) fuzz::fault("an editor for no type");
  if (written.any) {
    // What was sent is what the client now holds.
    if (v->value.size() < written.bytes.size() ||
        std::memcmp(v->value.data(), written.bytes.data(), written.bytes.size()) != 0)
      fuzz::fault("the value sent differs from the value kept");
    size_t width = variableValueWidth(type);
    if (width && written.bytes.size() != width) fuzz::fault("a number written in another width than its type's");
    if (type == VariableType::STRING && (written.bytes.empty() || written.bytes.back() != 0))
      fuzz::fault("a text written without its end");
    if (type == VariableType::BOOL && numeric && written.bytes[0] != (before == 0 ? 1 : 0))
      fuzz::fault("a switch not flipped");
    std::string shown;
    formatVariable(s, 0, shown);
    if (shown.size() > kFormatMaxChars) fuzz::fault("a value shown past its length");
  }

  // The password prompt, answered with what was typed.
  ObjectBody promptBody;
  makeBody(ObjectType::PasswordPrompt, promptBody);
  auto& prompt = std::get<PasswordPromptBody>(promptBody);
  prompt.options = options;
  prompt.allowedChars = allowed;
  prompt.maxLength = maxLength;
  prompt.titleText = 0;
  prompt.labelText = k ? 1 : kNoId;
  prompt.submitEvent = prompt.okEvent = prompt.errorEvent = prompt.cancelEvent = 7;
  prompt.nextScreen = prompt.errorScreen = kNoId;
  prompt.password = line(lines, 2);
  prompt.passwordLength = static_cast<uint8_t>(std::min<size_t>(prompt.password.size(), 255));
  ObjectEntry* e = s.pObjList.edit(kPrompt, s.budget);
  e->type = ObjectType::PasswordPrompt;
  e->loaded = 1;
  e->body = std::make_unique<ObjectBody>(std::move(promptBody));
  struct NoDrawing : DisplayRenderer {
    void redrawScreen(uint32_t) override {}
    void redrawMenu(uint32_t) override {}
    void drawLock(uint32_t) override {}
  } renderer;
  host.entry = line(lines, 3);
  Display promptDisplay(p, renderer, host);
  promptDisplay.runPasswordPrompt(kPrompt);

  releaseTables(s);
  return 0;
}
