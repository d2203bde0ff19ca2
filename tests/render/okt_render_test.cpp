// End to end: okt-render runs the whole client (engine, link, emulator,
// drawing) on the demo device and the pictures it writes are checked by
// their pixels.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "emulator/device_description.h"
#include "protocol/wire.h"

namespace {

namespace fs = std::filesystem;

class OktRender : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("okt-render-test-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  int run(const std::string& script, const std::string& options = "") {
    std::ofstream(dir / "script.txt") << script;
    // Through the emulator's Bluetooth library: the binding, the link and the connect sequence run too.
    std::string cmd = std::string(OKT_RENDER) + " --ble-library " + OKT_WARBLE_EMULATOR + " --size 600x680 --out " +
                      dir.string() + " " + options + " " + (dir / "script.txt").string() + " > " +
                      (dir / "log.txt").string() + " 2>&1";
    return std::system(cmd.c_str());
  }
  // okt-render with these arguments alone; its standard output goes to the log.
  int runPlain(const std::string& arguments) {
    std::string cmd = std::string(OKT_RENDER) + " " + arguments + " > " + (dir / "log.txt").string() + " 2>" +
                      (dir / "errors.txt").string();
    return WEXITSTATUS(std::system(cmd.c_str()));
  }
  std::string file(const fs::path& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  QImage picture(const std::string& name) { return QImage(QString::fromStdString((dir / (name + ".png")).string())); }
  std::string log() { return file(dir / "log.txt"); }
  fs::path dir;
};

TEST_F(OktRender, TheHomeMenuWithItsRowsAndIcons) {
  ASSERT_EQ(run("snap home\n"), 0) << log();
  QImage home = picture("home");
  ASSERT_EQ(home.size(), QSize(600, 680));
  EXPECT_EQ(home.pixel(300, 40), qRgb(0xC8, 0xC8, 0xC8));   // menu background, above the rows
  EXPECT_EQ(home.pixel(300, 70), qRgb(0xFF, 0xFF, 0xFF));   // the first row (6144..14336 of 680)
  EXPECT_EQ(home.pixel(300, 160), qRgb(0xC8, 0xC8, 0xC8));  // the gap below it
  int dark = 0;  // the first row's icon at (scaleX(1024), scaleY(6144 + 2560))
  for (int y = 90; y < 114; ++y)
    for (int x = 9; x < 33; ++x) dark += qRed(home.pixel(x, y)) < 80;
  EXPECT_GT(dark, 40);
  EXPECT_NE(log().find("REDO Draw: Redrawing Menu 0"), std::string::npos);
  EXPECT_NE(log().find("System READY"), std::string::npos);
  EXPECT_NE(log().find("[LNK] Sending request with 6 bytes - 0001"), std::string::npos);
}

TEST_F(OktRender, AButtonScreenAPictureScreenAndBack) {
  ASSERT_EQ(run("click 300 100\nsnap buttons\nback\nclick 300 380\nsnap pictures\nback\nsnap home\n"), 0) << log();
  QImage buttons = picture("buttons");
  EXPECT_EQ(buttons.pixel(5, 5), qRgb(0x20, 0x30, 0x4A));  // the screen's background
  EXPECT_EQ(buttons.pixel(100, 120), qRgb(0, 0, 0));       // style 0 button, not pressed: black
  QImage pictures = picture("pictures");
  // The JPEG landscape is placed at y 35000 of 680 and scaled to a height of 28000: blue sky at its top.
  QRgb sky = pictures.pixel(300, 380);
  EXPECT_GT(qBlue(sky), 180);
  EXPECT_LT(qRed(sky), 120);
  EXPECT_EQ(picture("home").pixel(300, 40), qRgb(0xC8, 0xC8, 0xC8));
}

TEST_F(OktRender, PopupAnswersAndBadScriptLines) {
  // Pop-ups menu (row 7 is on page 2 of the home menu), two buttons: "Yes" leads to the green screen.
  ASSERT_EQ(run("next\nclick 300 100\nanswer popup 0\nclick 300 200\nsnap accepted\n"), 0) << log();
  EXPECT_EQ(picture("accepted").pixel(5, 5), qRgb(0x1B, 0x5E, 0x20));
  EXPECT_NE(log().find("REDO POPUP: Dialog pressed button: 0"), std::string::npos);
  EXPECT_NE(run("wait soon\n"), 0);
  EXPECT_NE(log().find("script.txt:1: wait takes milliseconds"), std::string::npos);
}

// The displays clicks can reach from home, read from the description: the
// targets of menu rows, buttons placed on screens, pop-up buttons, a
// password prompt's outcomes (a wrong one only when the client checks it)
// and a lock's unlock button.
std::set<uint32_t> reachableDisplays(const okt::emu::DeviceDescription& d) {
  using namespace okt;
  std::map<uint32_t, const ObjectBody*> bodies;
  for (const emu::ObjectDef& o : d.objects) bodies[o.id] = &o.body;
  std::set<uint32_t> seen;
  std::deque<uint32_t> todo{d.homeScreen};
  while (!todo.empty()) {
    uint32_t id = todo.front();
    todo.pop_front();
    if (!isValidId(id) || !bodies.count(id) || !seen.insert(id).second) continue;
    const ObjectBody& b = *bodies[id];
    if (auto* menu = std::get_if<MenuBody>(&b))
      for (const MenuItem& item : menu->items) todo.push_back(item.kind == 0 ? item.targetScreen : kNoId);
    if (auto* screen = std::get_if<ScreenBody>(&b))
      for (const Placement& p : screen->children)
        if (auto* button = bodies.count(p.objectId) ? std::get_if<ButtonBody>(bodies[p.objectId]) : nullptr)
          todo.push_back(p.width && p.height ? button->targetScreen : kNoId);
    if (auto* popup = std::get_if<PopupBody>(&b))
      for (const PopupButton& button : popup->buttons) todo.push_back(button.targetScreen);
    if (auto* prompt = std::get_if<PasswordPromptBody>(&b)) {
      todo.push_back(prompt->nextScreen);
      if (prompt->options & 0x08) todo.push_back(prompt->errorScreen);
    }
    if (auto* lock = std::get_if<LockObjectBody>(&b))
      if (isValidId(lock->unlockText)) todo.push_back(lock->unlockScreen);
  }
  return seen;
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST_F(OktRender, ACrawlReachesEveryDisplayOfTheDemoAndNamesThePathToEach) {
  okt::emu::DeviceDescription demo;
  std::string error;
  ASSERT_TRUE(okt::emu::loadDeviceDescription(OKT_DEMO_JSON, demo, error)) << error;
  ASSERT_EQ(runPlain("--crawl " + (dir / "sheet").string() + " --size 300x340 --device " + OKT_DEMO_JSON), 0)
      << file(dir / "errors.txt");
  std::string sheet = file(dir / "sheet" / "index.html");
  for (uint32_t id : reachableDisplays(demo))
    EXPECT_NE(sheet.find("data-object=\"" + std::to_string(id) + "\""), std::string::npos) << "display " << id;
  // Every picture is in the sheet once, every display of the sheet is a picture.
  size_t pictures = 0;
  for (const auto& f : fs::directory_iterator(dir / "sheet"))
    if (f.path().extension() == ".png") {
      ++pictures;
      EXPECT_EQ(count(sheet, "src=\"" + f.path().filename().string() + "\""), 1u) << f.path();
    }
  EXPECT_EQ(count(sheet, "<img "), pictures);
  // The home menu's first row leads to its target, and the sheet says so.
  const auto& home = std::get<okt::MenuBody>(demo.objects[demo.homeScreen].body);
  size_t figure = sheet.find("data-object=\"" + std::to_string(home.items[0].targetScreen) + "\"");
  ASSERT_NE(figure, std::string::npos);
  std::string entry = sheet.substr(figure, sheet.find("</figure>", figure) - figure);
  EXPECT_NE(entry.find("<b class=\"path\">home \u2192 row 1 '" + demo.texts[home.items[0].textId].text + "'</b>"),
            std::string::npos)
      << entry;
}

TEST_F(OktRender, ACrawlStopsAtItsLimit) {
  ASSERT_EQ(runPlain("--crawl " + dir.string() + " --limit 3 --size 300x340"), 0) << file(dir / "errors.txt");
  std::string sheet = file(dir / "index.html");
  EXPECT_EQ(count(sheet, "<figure "), 3u);
  EXPECT_NE(sheet.find("stopped at the limit of 3"), std::string::npos);
  EXPECT_EQ(runPlain("--crawl " + dir.string() + " --limit 0"), 2);
  EXPECT_EQ(runPlain("--crawl " + dir.string() + " script.txt"), 2);
}

// A press that makes the device rebuild the display it is on: what the new
// layout offers is pressed too.
TEST_F(OktRender, ACrawlPressesWhatADisplayRebuiltByTheDeviceOffers) {
  std::ofstream(dir / "rebuilt.json") << R"({"texts": ["Open", "Go"], "objects": [
    {"name": "home", "type": "Screen", "children": [{"object": "open", "x": 1000, "y": 1000, "width": 20000, "height": 8000}]},
    {"name": "open", "type": "Button", "textId": 0, "pressEvent": "open"},
    {"name": "go", "type": "Button", "textId": 1, "targetScreen": "far"},
    {"name": "far", "type": "Screen", "background": "#3050A0", "children": []}],
   "reactions": [{"event": "open", "actions": [{"replaceObject": "home", "with": {"type": "Screen",
     "children": [{"object": "go", "x": 30000, "y": 30000, "width": 20000, "height": 8000}]}}]}]})";
  ASSERT_EQ(runPlain("--crawl " + (dir / "sheet").string() + " --device " + (dir / "rebuilt.json").string()), 0)
      << file(dir / "errors.txt");
  std::string sheet = file(dir / "sheet" / "index.html");
  EXPECT_NE(sheet.find("home \u2192 button 'Open' \u2192 button 'Go'"), std::string::npos) << sheet;
  EXPECT_NE(sheet.find("data-object=\"3\""), std::string::npos) << sheet;
}

TEST_F(OktRender, CheckPrintsEveryFaultOfADescription) {
  struct Case {
    const char* json;
    int status;
    std::vector<std::string> lines;  // after "dev.json: "
  };
  const Case cases[] = {
      {R"({"$schema": "device-schema.json", "objects": [{"type": "Screen"}]})", 0, {}},
      // Faults in several elements, and in the file itself: each one, a line
      // each (what each fault says: the description tests).
      {R"({"title": "x", "variables": [{"type": "U8", "value": 300}, {"type": "U9"}],
          "objects": [{"type": "Scren"}, {"type": "Menu", "items": [{"targetScreen": 7}, {"text": 1}]}],
          "timers": [{"periodMs": 1, "actions": []}]})",
       1,
       {R"(the description: field "title": unknown field)",
        R"(variables[0]: field "value": value 300 is outside 0..255)",
        R"(variables[1]: field "type": unknown variable type "U9")",
        R"(objects[0]: field "type": unknown object type "Scren")",
        R"(objects[1]: field "items[0].targetScreen": no object has id 7)",
        R"(objects[1]: field "items[1].text": unknown field of a menu item)",
        R"(timers[0]: field "periodMs": value 1 is outside 10..3600000)"}},
  };
  for (const Case& c : cases) {
    std::ofstream(dir / "dev.json") << c.json;
    EXPECT_EQ(runPlain("--check " + (dir / "dev.json").string()), c.status) << c.json;
    std::string expected;
    for (const std::string& line : c.lines) expected += (dir / "dev.json").string() + ": " + line + "\n";
    if (c.lines.empty()) expected = (dir / "dev.json").string() + ": no faults\n";
    EXPECT_EQ(log(), expected);
  }
  EXPECT_EQ(runPlain(std::string("--check ") + OKT_DEMO_JSON), 0) << log();
  EXPECT_EQ(runPlain("--check"), 2);
}

}  // namespace
