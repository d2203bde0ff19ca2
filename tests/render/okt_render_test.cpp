// End to end: okt-render runs the whole client (engine, link, emulator,
// drawing) on the demo device and the pictures it writes are checked by
// their pixels.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

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
  QImage picture(const std::string& name) { return QImage(QString::fromStdString((dir / (name + ".png")).string())); }
  std::string log() {
    std::ifstream in(dir / "log.txt");
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
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

}  // namespace
