// The binding and the link over the emulator's Bluetooth library, loaded
// through the real dlopen path.
#include <gtest/gtest.h>

#include <thread>

#include "ble/binding.h"
#include "ble/connect_flow.h"
#include "ble/link.h"
#include "platform/tick.h"
#include "support/log_capture.h"

namespace okt {
namespace {

class Ble : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(bindWarble(OKT_WARBLE_EMULATOR, w, error)) << error;
    config({{"reset", ""}});
    initQueue(p.queue);
    link = std::make_unique<Link>(w, p);
    link->closeDelayMs = 0;
    link->linkSetAddress("0c:0c:0c:00:00:01");  // the demo, letter case aside
  }
  void TearDown() override {
    link.reset();
    config({{"reset", ""}});
    unbindWarble(w);
  }
  void config(std::vector<std::pair<const char*, const char*>> options) {
    std::vector<WarbleOption> o;
    for (auto& [k, v] : options) o.push_back({k, v});
    w.warble_lib_config(static_cast<int32_t>(o.size()), o.data());
  }

  WarbleBinding w;
  std::string error;
  Protocol p;
  std::unique_ptr<Link> link;
};

// A library by path, or by a bare name found where the programs find their
// own; a refusal names what was missing, the loader's own reason after it.
TEST(Binding, FindsLibrariesAndNamesWhatWasMissing) {
  struct Case {
    const char* name;
    bool bound;
    const char* error;  // after "not found", the loader's reason
  } cases[] = {
      {"okt-warble-emulator", true, ""},
      {"okt-no-such-warble", false, "Bluetooth DLL library not found (okt-no-such-warble): libokt-no-such-warble.so"},
      {"libno-such-warble.so", false,
       "Bluetooth DLL library not found (libno-such-warble.so): libno-such-warble.so: cannot open"},
      {"libm.so.6", false, "ERROR: Warble unknown function warble_lib_version"},  // a library without the API
  };
  for (const Case& c : cases) {
    WarbleBinding w;
    std::string error;
    EXPECT_EQ(bindWarble(c.name, w, error), c.bound) << c.name << ": " << error;
    if (std::string(c.error).find("not found") == std::string::npos) {
      EXPECT_EQ(error, c.error);
    } else {
      EXPECT_EQ(error.rfind(c.error, 0), 0u) << error;
    }
    EXPECT_EQ(w.library != nullptr, c.bound) << c.name;
    if (c.bound) unbindWarble(w);
  }
}

TEST(Binding, TheLibraryIsChosenByArgumentThenEnvironment) {
  setenv("OKT_BLE_LIBRARY", "from-env.so", 1);
  EXPECT_EQ(chooseBleLibrary("from-arg.so"), "from-arg.so");
  EXPECT_EQ(chooseBleLibrary(""), "from-env.so");
  unsetenv("OKT_BLE_LIBRARY");
  EXPECT_EQ(chooseBleLibrary(""), kDefaultBleLibrary);
}

// The steps' progress is QtBle's; here, the device information the
// emulator's library serves, and the log lines of a request and its answer.
TEST_F(Ble, TheConnectSequenceReadsDeviceInformation) {
  test::LogCapture log;
  ASSERT_EQ(link->linkConnect(), 0);
  EXPECT_EQ(link->linkIsReady(), 1);
  EXPECT_EQ(link->deviceSummary(),
            "MAC: 0c:0c:0c:00:00:01\nFwVer: 1.01\nModel: OKT-DEMO  -  HW Rev ID: B  -  Manufacturer: OKT Desktop "
            "Client project\nSerial Number: DEMO-0001\n");
  // A request goes out, its answer comes back as a notification into the queue.
  const uint8_t getInfo[] = {0x00, 0x01, 0x00, 0x00, 0x00, 0x01};
  EXPECT_EQ(link->linkSend(getInfo, sizeof getInfo), 0);
  for (int i = 0; i < 200 && queueIsEmpty(p.queue); ++i) platform::sleepMs(5);
  EXPECT_FALSE(queueIsEmpty(p.queue));
  auto text = log.text();
  EXPECT_NE(text.find("[LNK] Sending request with 6 bytes - 000100000001\n"), std::string::npos);
  EXPECT_NE(text.find("NOTIF Char UUID dadae006-8d09-4dbf-9b75-9e58b9b66b91 NR: Length 21 [00 01"), std::string::npos);
  link->linkClose();
  EXPECT_EQ(link->linkIsReady(), 0);
}

// Before any connection a send fails without a word; an unknown device
// cannot be connected.
TEST_F(Ble, NothingIsSentWithoutAConnectionAndAnUnknownDeviceGetsNone) {
  test::LogCapture log;
  const uint8_t b[] = {0, 1, 0, 0, 0, 1};
  EXPECT_EQ(link->linkSend(b, sizeof b), 1);
  EXPECT_EQ(log.text(), "");
  link->linkSetAddress("AA:BB:CC:DD:EE:FF");
  EXPECT_EQ(link->linkConnect(), 1);
  EXPECT_NE(log.text().find("Error: Device not found"), std::string::npos);
  EXPECT_NE(log.text().find("ERROR Cannot connect"), std::string::npos);
}

// A call the stack never answers: the link is dead from then on. It says so
// once, and nothing more is handed to the library on that connection (the
// stack would carry it out behind the hung call, long after).
TEST_F(Ble, AnUnansweredCallIsADeadLink) {
  std::vector<std::pair<uint64_t, std::string>> lost;
  link->onLinkLost = [&](uint64_t n, const std::string& why) { lost.emplace_back(n, why); };
  ASSERT_EQ(link->linkConnect(), 0);
  config({{"handler-delay-ms", "300"}});
  link->waitMs = 30;
  const uint8_t b[] = {0, 1, 0, 0, 0, 1};
  EXPECT_EQ(link->linkSend(b, sizeof b), 1);  // timed out
  ASSERT_EQ(lost.size(), 1u);
  EXPECT_EQ(lost[0], (std::pair<uint64_t, std::string>{link->connectionNumber(), Link::kNoAnswer}));
  EXPECT_EQ(link->linkIsReady(), 0);
  test::LogCapture log;
  EXPECT_EQ(link->linkSend(b, sizeof b), 1);
  EXPECT_EQ(log.text(), "");
  // Closed while the unanswered completion is still on its way: it arrives
  // for a connection that no longer exists, and finds nothing.
  link->linkClose();
  config({{"handler-delay-ms", "0"}});
  platform::sleepMs(400);
  EXPECT_EQ(lost.size(), 1u);
}

// Every connect makes a connection of its own; one left open (a lost link
// nobody closed) is freed by the next connect. LeakSanitizer watches.
TEST_F(Ble, RepeatedConnectsReleaseWhatTheyMade) {
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(link->linkConnect(), 0);
    EXPECT_EQ(link->connectionNumber(), static_cast<uint64_t>(i + 1));
    if (i % 2) link->linkClose();
  }
}

// A connect that waits on a stack that does not answer ends at once when
// interrupted (the user's Disconnect) or aborted (the program ends); after
// an abort nothing starts again.
TEST_F(Ble, WaitsEndAtOnceWhenInterruptedOrAborted) {
  config({{"handler-delay-ms", "5000"}});
  for (bool abort : {false, true}) {
    std::thread stopper([&] {
      platform::sleepMs(50);
      abort ? link->abort() : link->interrupt();
    });
    uint32_t start = platform::tickCount();
    EXPECT_EQ(link->linkConnect(), 1);
    EXPECT_LT(platform::tickCount() - start, 4000u) << abort;
    stopper.join();
  }
  config({{"handler-delay-ms", "0"}});
  EXPECT_EQ(link->linkConnect(), 1);  // aborted for good
}

}  // namespace
}  // namespace okt
