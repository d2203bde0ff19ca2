#include <gtest/gtest.h>

#include <algorithm>

#include "emulator/device_description.h"

namespace okt::emu {
namespace {

bool parse(const std::string& json, DeviceDescription& d, std::string& error) {
  FileSource files = [](const std::string& path, std::vector<uint8_t>& out) {
    if (path != "pictures/tiny.gif") return false;
    out = {'G', 'I', 'F', '8', '9', 'a'};
    return true;
  };
  return parseDeviceDescription(json, "dev.json", files, d, error);
}

TEST(DeviceDescription, TheDemoDeviceLoadsWithEveryTypeInIt) {
  DeviceDescription d;
  std::string error;
  ASSERT_TRUE(loadDemoDevice(d, error)) << error;
  std::set<uint32_t> objectTypes;
  for (const ObjectDef& o : d.objects) objectTypes.insert(o.type);
  for (uint32_t t : {1u, 2u, 3u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 15u, 16u})
    EXPECT_TRUE(objectTypes.count(t)) << t;
  std::set<uint16_t> variableTypes;
  for (const VariableDef& v : d.variables) variableTypes.insert(v.desc.type);
  for (uint16_t t = 1; t <= 13; ++t) EXPECT_TRUE(variableTypes.count(t)) << t;
  EXPECT_EQ(d.objects[d.homeScreen].name, "home");
  EXPECT_FALSE(d.timers.empty());
}

TEST(DeviceDescription, NamesIdsAndDefaultsResolve) {
  DeviceDescription d;
  std::string error;
  ASSERT_TRUE(parse(R"({
    "texts": ["zero", {"name": "hello", "text": "Hello"}, {"id": 10, "text": "ten"}],
    "variables": [{"name": "v", "type": "LIST", "value": {"selected": 1, "choices": ["hello", 10]}}],
    "objects": [
      {"name": "s", "type": "Screen", "background": "#102030", "children": [{"object": "b", "x": 1, "y": 2, "width": 3, "height": 4}]},
      {"id": 5, "name": "b", "type": "Button", "textId": "hello", "pressEvent": "go", "targetScreen": 0, "iconId": "0xFF1000"},
      {"type": "GifPicture", "file": "pictures/tiny.gif"}
    ],
    "reactions": [{"event": "go", "actions": [{"set": "v", "value": {"selected": 0, "choices": ["hello"]}}]}]
  })",
                    d, error))
      << error;
  EXPECT_EQ(d.texts[2].id, 10u);
  EXPECT_EQ(d.textCount, 11u);
  EXPECT_EQ(d.objects[2].id, 6u);  // ids go on from the last one given
  EXPECT_EQ(d.objectCount, 7u);
  const auto& screen = std::get<ScreenBody>(d.objects[0].body);
  EXPECT_EQ(screen.background, 0x102030u);
  EXPECT_EQ(screen.children[0].objectId, 5u);
  const auto& button = std::get<ButtonBody>(d.objects[1].body);
  EXPECT_EQ(button.textId, 1u);
  EXPECT_EQ(button.iconId, 0xFF1000u);
  EXPECT_EQ(button.pressEvent, d.eventNames.at("go"));
  EXPECT_EQ(button.frameColour, 0u);
  EXPECT_EQ(d.variables[0].desc.value, (std::vector<uint8_t>{0, 1, 0, 0, 1, 0, 0, 10}));
  EXPECT_EQ(d.variables[0].desc.maximum, 2u);
  EXPECT_EQ(std::get<BlobBody>(d.objects[2].body).size, 6u);
  EXPECT_EQ(d.homeScreen, 0u);
}

TEST(DeviceDescription, BrokenFilesAreRefusedNamingFileElementAndField) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {R"({"objects": [)", "dev.json: not valid JSON"},
      {R"({"objects": []})", "dev.json: the description: field \"objects\": a device needs at least one object"},
      {R"({"objects": [{"type": "Scren"}]})", "dev.json: objects[0]: field \"type\": unknown object type \"Scren\""},
      {R"({"objects": [{"name": "b", "type": "Button", "textId": "missing"}]})",
       "dev.json: objects[0] \"b\": field \"textId\": no text is named \"missing\""},
      {R"({"objects": [{"type": "Button", "colour": 1}]})",
       "dev.json: objects[0]: field \"colour\": not a field of a Button"},
      {R"({"objects": [{"type": "Screen", "children": [{"object": 9, "x": 0, "y": 0, "width": 1, "height": 1}]}]})",
       "dev.json: objects[0]: field \"children.object\": no object has id 9"},
      {R"({"objects": [{"type": "TextBox", "fontHeight": 70000}]})",
       "dev.json: objects[0]: field \"fontHeight\": value 70000 is outside 0..65535"},
      {R"({"objects": [{"type": "Screen", "background": "#12"}]})",
       "dev.json: objects[0]: field \"background\": expected a colour \"#RRGGBB\", got \"#12\""},
      {R"({"objects": [{"type": "JpegPicture", "file": "pictures/none.jpg"}]})",
       "dev.json: objects[0]: field \"file\": cannot read \"pictures/none.jpg\""},
      {R"({"variables": [{"type": "U8", "value": 300}], "objects": [{"type": "Screen"}]})",
       "dev.json: variables[0]: field \"value\": value 300 is outside 0..255"},
      {R"({"variables": [{"type": "DATE", "value": "2024-12-05"}], "objects": [{"type": "Screen"}]})",
       "dev.json: variables[0]: field \"value\": expected \"DD/MM/YYYY\""},
      {R"({"variables": [{"type": "U9", "value": 1}], "objects": [{"type": "Screen"}]})",
       "dev.json: variables[0]: field \"type\": unknown variable type \"U9\""},
      {R"({"texts": [{"id": 1, "text": "a"}, {"id": 1, "text": "b"}], "objects": [{"type": "Screen"}]})",
       "dev.json: texts[1]: field \"id\": id 1 is used twice"},
      {R"({"objects": [{"type": "Canvas", "program": [{"op": "circle"}]}]})",
       "dev.json: objects[0]: field \"program[0].op\": unknown operation \"circle\""},
      {R"({"objects": [{"type": "Menu", "items": [{"text": 1}]}]})",
       "dev.json: objects[0]: field \"items[0].text\": unknown field of a menu item"},
      {R"({"objects": [{"type": "Screen"}], "homeScreen": 3})",
       "dev.json: the description: field \"homeScreen\": no object has id 3"},
      {R"({"objects": [{"type": "Screen"}], "reactions": [{"event": 1, "actions": [{"jump": 1}]}]})",
       "dev.json: reactions[0]: field \"actions[0]\": unknown action"},
      {R"({"objects": [{"type": "Screen"}], "timers": [{"periodMs": 1, "actions": []}]})",
       "dev.json: timers[0]: field \"periodMs\": value 1 is outside 10..3600000"},
      {R"({"objects": [{"type": "Screen"}], "objectCount": 0})",
       "dev.json: the description: field \"objectCount\": must be at least 1"},
      {R"({"objects": [{"type": "Screen", "id": "0xFFFFFE"}, {"type": "Screen"}]})",
       "dev.json: objects[1]: field \"id\": the id after the previous element's is past 0xFFFFFE"},
      {R"({"objects": [{"type": "Screen", "background": "#-00001"}]})",
       "dev.json: objects[0]: field \"background\": expected a colour \"#RRGGBB\", got \"#-00001\""},
      {R"({"objects": [{"type": "TextBox", "fontHeight": " 5"}]})",
       "dev.json: objects[0]: field \"fontHeight\": expected a number, got \" 5\""},
      {R"({"objects": [{"type": "TextBox", "fontHeight": "+5"}]})",
       "dev.json: objects[0]: field \"fontHeight\": expected a number, got \"+5\""},
      {R"({"texts": [5], "objects": [{"type": "Screen"}]})", "dev.json: texts[0]: expected an object"},
      {R"({"objects": [{"type": "GifPicture", "svg": "<svg/>"}]})",
       "dev.json: objects[0]: field \"svg\": not a field of a GifPicture"},
      {R"({"objects": [{"type": "Popup", "buttons": [{"target": 0}]}]})",
       "dev.json: objects[0]: field \"buttons[0].target\": unknown field of a pop-up button"},
      {R"({"objects": [{"type": "Canvas", "program": [{"op": "word", "value": 1, "x": 2}]}]})",
       "dev.json: objects[0]: field \"program[0].x\": not an operand of \"word\""},
      {R"({"variables": [{"type": "BOOL", "value": 2}], "objects": [{"type": "Screen"}]})",
       "dev.json: variables[0]: field \"value\": value 2 is outside 0..1"},
  };
  for (const Case& c : cases) {
    DeviceDescription d;
    d.name = "untouched";
    std::string error;
    EXPECT_FALSE(parse(c.json, d, error)) << c.json;
    EXPECT_EQ(error.rfind(c.message, 0), 0u) << "got: " << error << "\nwanted: " << c.message;
    EXPECT_EQ(d.name, "untouched");  // nothing of a refused file is kept
  }
}

// Every fault once, none made up by another: a bad id does not hide the
// element's name, and a list that is not one does not stop the rest.
TEST(DeviceDescription, EveryFaultIsListedOnceAndNoneIsInvented) {
  DeviceDescription d;
  std::string error;
  EXPECT_FALSE(parse(R"({
    "texts": [{"text": "a"}, 7],
    "variables": {},
    "objects": [{"id": "x", "name": "home", "type": "Screen"}, {"type": "Button", "targetScreen": "home", "fontHeight": "010"}],
    "homeScreen": "home"
  })",
                     d, error));
  EXPECT_EQ(error,
            "dev.json: texts[1]: expected an object\n"
            "dev.json: the description: field \"variables\": expected an array\n"
            "dev.json: objects[0] \"home\": field \"id\": expected a number, got \"x\"");

  std::string many = R"({"objects": [{"type": "Screen"}], "texts": [)";
  for (int i = 0; i < 500; ++i)
    many += std::string(i ? "," : "") + R"({"text": 1, "name": ")" + std::string(1000, 'n') + R"("})";
  EXPECT_FALSE(parse(many + "]}", d, error));
  EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 100);
  EXPECT_LT(error.size(), 100u * 400);  // names cut short
  EXPECT_TRUE(error.ends_with("more faults are not listed")) << error.substr(error.size() - 200);
}

TEST(DeviceDescription, MissingFileNamesThePath) {
  DeviceDescription d;
  std::string error;
  EXPECT_FALSE(loadDeviceDescription("/nonexistent/dev.json", d, error));
  EXPECT_EQ(error, "/nonexistent/dev.json: cannot open the file");
}

}  // namespace
}  // namespace okt::emu
