// End to end: a demo session recorded by okt-render through the Bluetooth
// library, opened in tshark with our dissector, and replayed as a device
// to the same pictures; hostile captures refused and marked.
#include <gtest/gtest.h>

#include <QImage>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include "capture/capture_writer.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
  std::ifstream in(p);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs a command; its output (both streams) goes to `log`.
int run(const std::string& command, const fs::path& log) {
  return std::system((command + " > " + log.string() + " 2>&1").c_str());
}

bool haveTshark() { return std::system("command -v tshark > /dev/null 2>&1") == 0; }

std::string tshark(const fs::path& capture, const std::string& options, const fs::path& out) {
  run("tshark -n -r " + capture.string() + " -X lua_script:" + OKT_DISSECTOR + " " + options, out);
  return readFile(out);
}

// What the demo session does: screens, a button press, pictures sent in
// parts, a pop-up answered. Every screen snapped shows nothing that
// changes by itself (the home menu's level row sweeps all the time).
constexpr const char* kScript =
    "click 300 100\nsnap buttons\nclick 150 120\nsnap pressed\nback\n"
    "click 300 380\nsnap pictures\nback\n"
    "next\nsnap page2\nclick 300 100\nanswer popup 0\nclick 300 200\nsnap accepted\n";
constexpr const char* kSnaps[] = {"buttons", "pressed", "pictures", "page2", "accepted"};

class RecordedSession : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir = fs::temp_directory_path() / ("okt-session-test-" + std::to_string(::getpid()));
    fs::create_directories(dir / "live");
    std::ofstream(dir / "script.txt") << kScript;
    liveStatus = run(render("--record " + (dir / "demo.btsnoop").string() + " --out " + (dir / "live").string()),
                     dir / "live.log");
  }
  static void TearDownTestSuite() { fs::remove_all(dir); }
  static std::string render(const std::string& options) {
    return std::string(OKT_RENDER) + " --ble-library " + OKT_WARBLE_EMULATOR + " --size 600x680 " + options + " " +
           (dir / "script.txt").string();
  }
  static inline fs::path dir;
  static inline int liveStatus = -1;
};

TEST_F(RecordedSession, ReplaysToTheSameDisplaysPixelForPixel) {
  ASSERT_EQ(liveStatus, 0) << readFile(dir / "live.log");
  fs::create_directories(dir / "replay");
  ASSERT_EQ(run(render("--replay " + (dir / "demo.btsnoop").string() + " --out " + (dir / "replay").string()),
                dir / "replay.log"),
            0)
      << readFile(dir / "replay.log");
  std::string log = readFile(dir / "replay.log");
  EXPECT_EQ(log.find("the capture never saw"), std::string::npos) << log;
  EXPECT_NE(log.find("Firmware Revision: 1.01"), std::string::npos) << log;  // read back from the capture
  for (const char* snap : kSnaps) {
    SCOPED_TRACE(snap);
    QImage live(QString::fromStdString((dir / "live" / (std::string(snap) + ".png")).string()));
    QImage replayed(QString::fromStdString((dir / "replay" / (std::string(snap) + ".png")).string()));
    ASSERT_FALSE(live.isNull());
    EXPECT_TRUE(live == replayed);
  }
}

TEST_F(RecordedSession, TsharkDecodesEveryMessageTheClientReceived) {
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): dissector not tested";
  ASSERT_EQ(liveStatus, 0) << readFile(dir / "live.log");
  // The client's own count, by message type, from its notification log lines.
  std::map<int, int> logged;
  std::istringstream lines(readFile(dir / "live.log"));
  std::regex notification(R"(^NOTIF Char UUID \S+ NR: Length \d+ \[([0-9A-F]{2}) ([0-9A-F]{2}))");
  std::smatch m;
  for (std::string line; std::getline(lines, line);)
    if (std::regex_search(line, m, notification)) ++logged[std::stoi(m[1].str() + m[2].str(), nullptr, 16)];
  ASSERT_GT(logged[1], 0);   // INFO
  ASSERT_GT(logged[12], 0);  // OBJECT_LAST_PART: pictures came in parts

  std::map<int, int> decoded;
  std::istringstream types(
      tshark(dir / "demo.btsnoop", "-Y okt.messageType -T fields -e okt.messageType", dir / "types.txt"));
  for (std::string line; std::getline(types, line);)
    if (!line.empty() && std::isdigit(static_cast<unsigned char>(line[0]))) ++decoded[std::stoi(line)];
  EXPECT_EQ(decoded, logged);

  std::string all = tshark(dir / "demo.btsnoop", "-V", dir / "verbose.txt");
  EXPECT_EQ(all.find("Lua Error"), std::string::npos);
  EXPECT_EQ(all.find("Expert Info"), std::string::npos);  // nothing malformed, nothing odd
  EXPECT_EQ(all.find("Malformed"), std::string::npos);
  EXPECT_NE(all.find("object body, from its parts"), std::string::npos);
  EXPECT_NE(all.find("requestType: SEND_EVENT (12)"), std::string::npos);
  EXPECT_NE(all.find("type: GifPicture (8)"), std::string::npos);
}

TEST(HostileCapture, TheDissectorMarksMalformedMessagesWithoutLuaErrors) {
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup installs it): dissector not tested";
  QTemporaryDir temporary;
  ASSERT_TRUE(temporary.isValid());
  fs::path dir = temporary.path().toStdString();
  using Bytes = std::vector<uint8_t>;
  const Bytes faulty[] = {
      {0, 1, 0, 0, 0, 1, 1, 0},  // INFO cut short
      {0, 3, 0, 0, 0, 2, 0, 0, 1, 0, 0, 3, 0, 1, 0xFF, 0x10, 0x00, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 2},
      {0, 3, 0, 0, 0, 3, 0, 0, 2, 0, 0, 16, 0x99, 0},           // canvas op 0x99
      {0, 3, 0, 0, 0, 4, 0, 0, 3, 0, 0, 4},                     // object type 4 has no layout
      {0, 7, 0, 0, 0, 5},                                       // a type the client ignores
      {0, 12, 0, 0, 0, 6, 0, 0, 9, 0xFF, 0xFF, 0x88, 1, 2, 3},  // last part at offset 65535, fewer bytes than n
      {0, 4, 0, 0, 0, 7, 0, 0, 1, 0, 0, 8, 2, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0xFF},
      {0},                                                        // not even a type
      {0, 2, 0, 0, 0, 8, 0, 0, 1, 'n', 'o', ' ', 'e', 'n', 'd'},  // a text without its zero
  };
  std::string error;
  fs::path path = dir / "faulty.btsnoop";
  {
    auto w = okt::capture::CaptureWriter::create(path.string(), error);
    ASSERT_TRUE(w) << error;
    w->connected("0C:0C:0C:00:00:09");
    for (const Bytes& b : faulty) w->notification("dadae006-8d09-4dbf-9b75-9e58b9b66b91", b.data(), b.size());
    const Bytes request = {0, 12, 0, 0, 0};  // a request cut short
    w->writeRequest("dadae002-8d09-4dbf-9b75-9e58b9b66b91", request.data(), request.size());
  }
  std::string all = tshark(path, "-V", dir / "verbose.txt");
  EXPECT_EQ(all.find("Lua Error"), std::string::npos) << all;
  EXPECT_EQ(all.find("could not read"), std::string::npos) << all;
  size_t marks = 0;
  for (size_t at = 0; (at = all.find("[Expert Info (", at)) != std::string::npos; ++at) ++marks;
  // Every message is marked but the text (it may end with the data), and the request too.
  EXPECT_EQ(marks, std::size(faulty)) << all;
  EXPECT_NE(all.find("infoBytes needs 3 bytes at offset 6, 2 are left"), std::string::npos) << all;
  EXPECT_NE(all.find("requestCounter needs 4 bytes at offset 2, 3 are left"), std::string::npos);
  EXPECT_NE(all.find("menu item kind 2: the whole menu is refused"), std::string::npos);
  EXPECT_NE(all.find("canvas op 0x99: the program is refused"), std::string::npos);
  EXPECT_NE(all.find("object type 4 has no body layout"), std::string::npos);
  EXPECT_NE(all.find("message type 7 is ignored by the client"), std::string::npos);
}

}  // namespace
