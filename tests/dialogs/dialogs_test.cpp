#include <gtest/gtest.h>

#include <climits>
#include <optional>

#include "dialogs/editors.h"
#include "dialogs/password_rules.h"
#include "dialogs/templates.h"
#include "dialogs/variable_writes.h"
#include "support/messages.h"

namespace okt {
namespace {

using Bytes = std::vector<uint8_t>;

class Dialogs : public ::testing::Test, public test::VariableWrites {};

// An editor host that plays the user: it checks the editor chosen and
// answers by setting the record as OK would.
struct ScriptedEditor : EditorHost {
  EditorKind expected = EditorKind::None;
  int result = kIdOk;
  std::function<void(EditorRecord&)> answer;
  int runs = 0;
  std::u16string caption;
  int runEditor(EditorKind kind, const DialogTemplate& frame, EditorRecord& r) override {
    ++runs;
    caption = frame.caption;
    EXPECT_EQ(kind, expected);
    if (result == kIdOk && answer) {
      answer(r);
      r.applied = 1;
    }
    return result;
  }
};

TEST_F(Dialogs, EditorCaptionsAndFallbacks) {
  test::decode(p, test::textMessage(1, "Speed"));
  test::decode(p, test::textMessage(2, "Température"));
  test::decode(p, test::textMessage(3, std::string(200, 'x')));
  EXPECT_EQ(buildEditorTemplate(p.state, 1).caption, u"Modify: Speed");
  EXPECT_EQ(buildEditorTemplate(p.state, 2).caption, u"Modify: Température");
  EXPECT_EQ(buildEditorTemplate(p.state, 0xFFFFFF).caption, u"Modify variable");
  EXPECT_EQ(buildEditorTemplate(p.state, 9).caption, u"Modify variable");    // not arrived
  EXPECT_EQ(buildEditorTemplate(p.state, 3).caption.size(), kCaptionUnits);  // cut
  EXPECT_EQ(buildPasswordTemplate(p.state, 0xFFFFFF).caption, u"Password");
  EXPECT_EQ(buildPasswordTemplate(p.state, 1).caption, u"Speed");
}

// Captions come from the device's texts: a malformed sequence shows as
// U+FFFD, and the caption is always well-formed UTF-16, cut or not.
TEST(Utf16, MalformedSequencesShowAsReplacements) {
  const struct {
    const char* utf8;
    std::u16string units;
  } cases[] = {
      {"\xF0\x9F\x98\x80", u"\U0001F600"},                               // a pair
      {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},                               // the last character
      {"\xEF\xBF\xBF", u"\uFFFF"},         {"\xED\xA0\x80", u"\uFFFD"},  // a surrogate written as a character
      {"\xED\xBF\xBF", u"\uFFFD"},         {"\xC0\xAF", u"\uFFFD"},      // '/' overlong
      {"\xE0\x80\xAF", u"\uFFFD"},         {"\xF0\x80\x80\xAF", u"\uFFFD"},
      {"\xF4\x90\x80\x80", u"\uFFFD"},                                     // past U+10FFFF
      {"\xF7\xBF\xBF\xBF", u"\uFFFD"},     {"\xE2\x82", u"\uFFFD\uFFFD"},  // cut short
  };
  for (const auto& c : cases) EXPECT_EQ(toUtf16(c.utf8, kCaptionUnits), c.units) << c.utf8;
  EXPECT_EQ(toUtf16("a\xF0\x9F\x98\x80", 2), u"a");  // never cut inside a pair
}

TEST_F(Dialogs, TemplateBytesAlignEachItem) {
  test::decode(p, test::textMessage(1, "0123456789"));
  DialogTemplate t = buildPasswordTemplate(p.state, 1);  // a 10-character caption
  Bytes b = t.bytes();
  ASSERT_EQ(b.size(), 2048u);
  // Header 18 bytes, menu and class 4, the caption 20 and its zero 2: 44, already aligned.
  EXPECT_EQ(b[0], 0x80);
  EXPECT_EQ(b[8], 2);  // two items
  size_t item = 44;
  EXPECT_EQ(b[item], 0x01);  // OK: BS_DEFPUSHBUTTON
  EXPECT_EQ(b[item + 3], 0x50);
  EXPECT_EQ(b[item + 8], 190);
  EXPECT_EQ(b[item + 16], 1);                          // id
  test::decode(p, test::textMessage(2, "012345678"));  // 9 characters: the OK item moves to the next boundary
  Bytes c = buildPasswordTemplate(p.state, 2).bytes();
  EXPECT_EQ(c[40], 0);  // padding
  EXPECT_EQ(c[41], 0);
  EXPECT_EQ(c[44], 0x01);
}

TEST_F(Dialogs, EditorsByTypeAndRange) {
  struct Case {
    uint16_t type;
    uint32_t min, max;
    EditorKind kind;
  };
  for (Case c :
       {Case{VariableType::U8, 0, 10, EditorKind::Slider}, Case{VariableType::U8, 0, 99, EditorKind::Slider},
        Case{VariableType::U8, 0, 100, EditorKind::Number}, Case{VariableType::S16, 0xFFFFFFF6, 10, EditorKind::Slider},
        Case{VariableType::STRING, 0, 0, EditorKind::Text}, Case{VariableType::DATE, 0, 0, EditorKind::Date},
        Case{VariableType::LIST, 0, 3, EditorKind::List}, Case{VariableType::NONE, 0, 0, EditorKind::None}})
    EXPECT_EQ(editorFor(c.type, c.min, c.max), c.kind) << c.type;
  struct Slider {
    uint16_t type;
    uint32_t min, max, value;
    SliderSetup setup;
  };
  const Slider sliders[] = {
      {VariableType::U8, 0, 10, 3, {0, 10, 1, 3}},
      {VariableType::U8, 0, 60, 3, {0, 60, 10, 3}},
      {VariableType::S8, 0xFFFFFFF6, 10, 0xFB, {-10, 10, 1, -5}},
      {VariableType::S16, static_cast<uint32_t>(-120), static_cast<uint32_t>(-30), 0xFF9C, {-120, -30, 10, -100}},
      {VariableType::U32, 4294967200u, 4294967295u, 5, {4294967200, 4294967295, 10, 4294967200}},  // kept in range
  };
  for (const Slider& c : sliders) {
    EditorRecord r;
    r.type = c.type, r.minimum = c.min, r.maximum = c.max, r.value = c.value;
    SliderSetup s = sliderSetup(r);
    EXPECT_EQ(s.minimum, c.setup.minimum) << c.type;
    EXPECT_EQ(s.maximum, c.setup.maximum) << c.type;
    EXPECT_EQ(s.tickFrequency, c.setup.tickFrequency) << c.type;
    EXPECT_EQ(s.position, c.setup.position) << c.type;
  }
}

TEST(Numbers, WholeNumbersOnlyInAnyOfTheAcceptedForms) {
  struct Case {
    const char* text;
    std::optional<int64_t> n;
  };
  const Case cases[] = {
      {"0x1F", 31},  {"017", 15}, {"-5", -5}, {" 42 ", 42}, {"-0x80", -128}, {"+7", 7},   {"abc", {}},
      {"12abc", {}}, {"", {}},    {"  ", {}}, {"0x", {}},   {"089", {}},     {"1 2", {}}, {"99999999999999999999", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(parseNumber(c.text), c.n) << '"' << c.text << '"';
}

// A signed value is the two's complement of its width, whatever the width of
// the number the device sent for its limits.
TEST(Numbers, SignedTypesReadAndWriteTheirWidth) {
  struct Case {
    uint16_t type;
    uint32_t bits;
    int64_t shown;
  };
  const Case cases[] = {
      {VariableType::S8, 0x80, -128},        {VariableType::S8, 0xFF, -1},
      {VariableType::S8, 0x00, 0},           {VariableType::S8, 0x7F, 127},
      {VariableType::S8, 0xFB, -5},          {VariableType::S16, 0x8000, -32768},
      {VariableType::S16, 0x7FFF, 32767},    {VariableType::S32, 0x80000000, INT32_MIN},
      {VariableType::S32, 0xFFFFFF06, -250}, {VariableType::S32, 0x7FFFFFFF, INT32_MAX},
      {VariableType::U8, 0xFF, 255},         {VariableType::U32, 0xFFFFFFFF, 4294967295},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(numberShown(c.type, c.bits), c.shown) << c.type << " " << c.bits;
    EXPECT_EQ(numberBits(c.type, c.shown), c.bits) << c.type << " " << c.shown;
  }
  EXPECT_EQ(numberBits(VariableType::U16, 70000), 4464u);  // beyond the width: its low bits, as before
  // Limits come as 32-bit numbers; signed types' are signed, and none lies beyond the type.
  EXPECT_EQ(limitShown(VariableType::S8, 0xFFFFFFF6), -10);
  EXPECT_EQ(limitShown(VariableType::S8, 0x7FFFFFFF), 127);
  EXPECT_EQ(limitShown(VariableType::U8, 300), 255);
  EXPECT_EQ(limitShown(VariableType::U32, 4000000000u), 4000000000);
}

// What each editor's answer (the number it stores, or the text typed) is
// written as.
TEST_F(Dialogs, WrittenBytesOfEachEditor) {
  using VT = VariableType;
  struct Case {
    const char* name;
    uint16_t type;
    Bytes initial;
    uint32_t min, max;
    EditorKind kind;
    uint32_t value;
    const char* text;
    Bytes written;
  };
  const uint32_t mondayAndSunday = weekdayBits({true, false, false, false, false, false, true});
  const Case cases[] = {
      {"U16 70000", VT::U16, {0, 0}, 0, 60000, EditorKind::Number, numberBits(VT::U16, 70000), nullptr, {0x11, 0x70}},
      {"TIME", VT::TIME, {0, 0, 0}, 0, 0, EditorKind::Time, packThree(12, 34, 56), nullptr, {12, 34, 56}},
      {"HH:MM", VT::HOUR_MINUTE, {0, 0}, 0, 0, EditorKind::HourMinute, packHourMinute(300, 5), nullptr, {0x2C, 5}},
      {"WEEKDAYS", VT::WEEKDAYS, {0}, 0, 0, EditorKind::Weekday, mondayAndSunday, nullptr, {0x41}},
      {"STRING", VT::STRING, {'x', 0}, 0, 0, EditorKind::Text, 0, "abc", {'a', 'b', 'c', 0}},
      {"slider", VT::U8, {3}, 0, 10, EditorKind::Slider, 7, nullptr, {7}},
  };
  uint32_t id = 0;
  for (const Case& c : cases) {
    variable(id, c.type, c.initial, c.min, c.max);
    ScriptedEditor editor;
    editor.expected = c.kind;
    editor.answer = [&c](EditorRecord& r) {
      if (c.text)
        r.text = c.text;
      else
        r.value = c.value;
    };
    writes.clear();
    editVariable(p, editor, id, 0xFFFFFF);
    EXPECT_EQ(editor.runs, 1) << c.name;
    ASSERT_EQ(writes.size(), 1u) << c.name;
    EXPECT_EQ(writes[0], c.written) << c.name;
    ++id;
  }
}

TEST_F(Dialogs, BoolNeedsNoDialogAndCancelWritesNothing) {
  variable(0, VariableType::BOOL, {5});
  variable(1, VariableType::BOOL, {0});
  ScriptedEditor editor;
  editVariable(p, editor, 0, 0xFFFFFF);
  editVariable(p, editor, 1, 0xFFFFFF);
  EXPECT_EQ(editor.runs, 0);
  EXPECT_EQ(writes, (std::vector<Bytes>{{0}, {1}}));
  variable(2, VariableType::U8, {1}, 0, 200);
  editor.expected = EditorKind::Number;
  editor.result = kIdCancel;
  writes.clear();
  editVariable(p, editor, 2, 0xFFFFFF);
  EXPECT_TRUE(writes.empty());
  variable(3, VariableType::U8, {1}, 0, 200, 0);  // read only
  editVariable(p, editor, 3, 0xFFFFFF);
  EXPECT_EQ(editor.runs, 1);
}

TEST_F(Dialogs, ListsSkipChoicesWithoutTextIdsAndWriteTheListIndex) {
  test::decode(p, test::textMessage(5, "Eco"));
  test::decode(p, test::textMessage(7, "Boost"));
  variable(0, VariableType::LIST, {0, 0, 0, 0, 5, 0xFF, 0xFF, 0xFF, 0, 0, 7, 0, 0, 9}, 0, 4);
  ScriptedEditor editor;
  editor.expected = EditorKind::List;
  std::vector<std::string> shown;
  editor.answer = [&](EditorRecord& r) {
    shown = r.choices;
    r.value = listChoice(1);  // the third choice, shown second
  };
  editVariable(p, editor, 0, 0xFFFFFF);
  EXPECT_EQ(shown, (std::vector<std::string>{"Eco", "Boost", ""}));  // a text not arrived shows empty
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0], (Bytes{0, 1}));
  EXPECT_EQ(listChoice(-1), 0xFFFFu);
}

TEST(PasswordRules, AllowedCharacterClasses) {
  struct Case {
    uint16_t allowed;
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {0x20, "1234", true}, {0x20, "12a4", false}, {0xE0, "aB3", true},      {0xE0, "a-b", false},
      {0x18, "#@", true},   {0x18, " !", true},    {0x18, "\xC3\xA9", true}, {0x10, " ", false},
      {0x08, "#", false},   {0x00, "", true},      {0x40, "abc", true},      {0x80, "ABC", true},
  };
  for (const Case& c : cases) EXPECT_EQ(passwordCharsAllowed(c.allowed, c.text), c.ok) << c.allowed << " " << c.text;
}

}  // namespace
}  // namespace okt
