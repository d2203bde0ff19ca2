// Captures: what the writer puts in a btsnoop file is what the reader gets
// back; hostile files are refused naming the file and the record; a capture
// replays as a device.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <thread>

#include "capture/capture_writer.h"
#include "emulator/device_description.h"
#include "emulator/emulator.h"
#include "emulator/replay.h"
#include "protocol/wire.h"
#include "support/log_capture.h"

namespace okt::capture {
namespace {

namespace fs = std::filesystem;

constexpr const char* kData = "dadae006-8d09-4dbf-9b75-9e58b9b66b91";
constexpr const char* kRequest = "dadae002-8d09-4dbf-9b75-9e58b9b66b91";

std::vector<uint8_t> bytes(std::initializer_list<int> b) { return std::vector<uint8_t>(b.begin(), b.end()); }

class CaptureFile : public ::testing::Test {
 protected:
  void SetUp() override {
    path = (fs::temp_directory_path() / ("okt-capture-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".btsnoop"))
               .string();
  }
  void TearDown() override { fs::remove(path); }
  std::string path;
};

TEST_F(CaptureFile, WhatTheLinkSawComesBackInOrderWithItsDirection) {
  std::string error;
  {
    auto w = CaptureWriter::create(path, error, {64, false});
    ASSERT_TRUE(w) << error;
    std::vector<uint8_t> info = bytes({0, 1, 0, 0, 0, 1, 1, 0, 0});
    std::vector<uint8_t> getInfo = bytes({0, 1, 0, 0, 0, 1});
    w->peerSeen("0C:0C:0C:00:00:2A", "OKT Demo");
    w->connected("0C:0C:0C:00:00:2A");
    w->subscribeRequest();
    w->writeResponse("00002902-0000-1000-8000-00805f9b34fb", true);
    w->writeRequest(kRequest, getInfo.data(), getInfo.size());
    w->writeResponse(kRequest, true);
    w->notification(kData, info.data(), info.size());
    w->writeCommand(kRequest, getInfo.data(), getInfo.size());
    w->readRequest("0000ffff-0000-1000-8000-00805f9b34fb");  // none of ours: not recorded
    w->disconnected(0x16);
  }
  Capture c;
  ASSERT_TRUE(readCapture(path, c, error)) << error;
  EXPECT_EQ(c.name, "OKT Demo");
  EXPECT_EQ(c.address, "0C:0C:0C:00:00:2A");
  struct Expected {
    uint8_t opcode;
    uint16_t handle;
    bool received;
    std::vector<uint8_t> value;
  };
  std::vector<Expected> expected = {
      {ATT_WRITE_REQUEST, kHandleDataConfig, false, bytes({1, 0})},
      {ATT_WRITE_RESPONSE, 0, true, {}},
      {ATT_WRITE_REQUEST, kHandleRequest, false, bytes({0, 1, 0, 0, 0, 1})},
      {ATT_WRITE_RESPONSE, 0, true, {}},
      {ATT_NOTIFICATION, kHandleData, true, bytes({0, 1, 0, 0, 0, 1, 1, 0, 0})},
      {ATT_WRITE_COMMAND, kHandleRequest, false, bytes({0, 1, 0, 0, 0, 1})},
  };
  ASSERT_EQ(c.events.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(c.events[i].opcode, expected[i].opcode);
    EXPECT_EQ(c.events[i].handle, expected[i].handle);
    EXPECT_EQ(c.events[i].received, expected[i].received);
    EXPECT_EQ(c.events[i].value, expected[i].value);
    if (i) {
      EXPECT_GE(c.events[i].timeUs, c.events[i - 1].timeUs);
    }
  }
  EXPECT_GT(c.events[0].timeUs, kUnixEpochUs);  // stamped with the time of day
  // Before the subscription: two advertising reports, the connection and its MTU exchange.
  EXPECT_EQ(c.events[0].record, 6u);
}

TEST_F(CaptureFile, AFullQueueDropsAndCountsInsteadOfWaiting) {
  std::string error;
  auto w = CaptureWriter::create(path, error, {4, false});
  ASSERT_TRUE(w) << error;
  uint64_t told = 0;
  w->onDropped = [&](uint64_t n) { told = n; };
  uint8_t message[8] = {0, 9, 0, 0, 0, 1, 0xFF, 0xFF};
  for (int i = 0; i < 10; ++i) w->notification(kData, message, sizeof message);
  EXPECT_EQ(w->dropped(), 6u);
  w->flush();
  EXPECT_EQ(w->written(), 4u);
  EXPECT_EQ(told, 6u);
  w->notification(kData, message, sizeof message);  // room again
  w->flush();
  EXPECT_EQ(w->written(), 5u);
  EXPECT_EQ(w->dropped(), 6u);
}

TEST_F(CaptureFile, TheBackgroundWriterPutsRecordsInTheFileWithinASecond) {
  std::string error;
  auto w = CaptureWriter::create(path, error);
  ASSERT_TRUE(w) << error;
  uint8_t message[7] = {0, 9, 0, 0, 0, 1, 0};
  w->notification(kData, message, sizeof message);
  for (int i = 0; i < 300 && w->written() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(w->written(), 1u);
  Capture c;
  ASSERT_TRUE(readCapture(path, c, error)) << error;  // readable while still being written
  EXPECT_EQ(c.events.size(), 1u);
}

TEST_F(CaptureFile, AFileThatCannotBeMadeIsReported) {
  std::string error;
  EXPECT_FALSE(CaptureWriter::create("/nonexistent-dir/x.btsnoop", error));
  EXPECT_NE(error.find("/nonexistent-dir/x.btsnoop: cannot be written"), std::string::npos) << error;
}

// A small valid capture, record by record, to be spoilt by each case below.
std::vector<Record> validRecords() {
  std::vector<Record> r;
  for (auto& p : advertisingPackets("0C:0C:0C:00:00:01", "Dev", -40)) r.push_back({kUnixEpochUs, 3, p});
  r.push_back({kUnixEpochUs + 10, 0, attPacket(bytes({ATT_WRITE_REQUEST, 0x25, 0x00, 0, 1, 0, 0, 0, 1}))});
  r.push_back({kUnixEpochUs + 20, 1, attPacket(bytes({ATT_NOTIFICATION, 0x22, 0x00, 0, 1, 0, 0, 0, 1, 1, 0, 0}))});
  return r;
}

std::vector<uint8_t> fileOf(const std::vector<Record>& records) {
  std::vector<uint8_t> out = fileHeader();
  for (const Record& r : records) {
    std::vector<uint8_t> b = encodeRecord(r);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

TEST(CaptureReader, HostileFilesAreRefusedNamingFileAndRecord) {
  const size_t header = 16, recordHeader = 24;
  // Offset of record n's (from 1) header in the valid file.
  auto at = [&](const std::vector<uint8_t>& f, int n) {
    size_t pos = header;
    for (int i = 1; i < n; ++i) {
      uint32_t len = 0;
      getU32(f.data() + pos + 4, &len);
      pos += recordHeader + len;
    }
    return pos;
  };
  struct Case {
    const char* what;
    std::function<void(std::vector<uint8_t>&)> spoil;
    const char* error;
  };
  std::vector<Case> cases = {
      {"empty", [](auto& f) { f.clear(); }, "x.btsnoop: not a btsnoop capture"},
      {"another format", [](auto& f) { f[0] = 'B'; }, "x.btsnoop: not a btsnoop capture"},
      {"header cut", [](auto& f) { f.resize(12); }, "x.btsnoop: the btsnoop header is cut short"},
      {"version 2", [](auto& f) { f[11] = 2; }, "version 2, only version 1"},
      {"another datalink", [](auto& f) { f[15] = 0xE9; }, "datalink 1001, only HCI UART"},
      {"record header cut", [](auto& f) { f.resize(f.size() + 10, 0); },
       "x.btsnoop: record 5: cut short: its header needs 24 bytes, 10 are left"},
      {"last record cut", [](auto& f) { f.resize(f.size() - 3); },
       "x.btsnoop: record 4: cut short: it says 21 bytes, 18 are left"},
      {"huge length",
       [&](auto& f) {
         putU32(f.data() + at(f, 3) + 4, 0xFFFFFFF0);
         putU32(f.data() + at(f, 3), 0xFFFFFFF0);
       },
       "x.btsnoop: record 3: its length, 4294967280 bytes, is more than any HCI packet"},
      {"snapped packet", [&](auto& f) { putU32(f.data() + at(f, 3), 40); },
       "x.btsnoop: record 3: the packet was cut when captured (18 of 40 bytes)"},
      {"ACL length", [&](auto& f) { f[at(f, 3) + recordHeader + 3] = 99; },
       "x.btsnoop: record 3: the ACL packet says 99 bytes, the record holds 13"},
      {"L2CAP length", [&](auto& f) { f[at(f, 3) + recordHeader + 5] = 2; },
       "x.btsnoop: record 3: the L2CAP frame says 2 bytes, the packet holds 9"},
      {"unknown handle", [&](auto& f) { f[at(f, 4) + recordHeader + 10] = 0x99; },
       "x.btsnoop: record 4: ATT handle 0x0099 is not one of an OKT capture's"},
      {"a notification sent by us", [&](auto& f) { f[at(f, 4) + 11] = 0; },
       "x.btsnoop: record 4: a notification sent by the client"},
      {"unknown packet type", [&](auto& f) { f[at(f, 3) + recordHeader] = 7; },
       "x.btsnoop: record 3: unknown HCI packet type 0x07"},
      {"event length", [&](auto& f) { f[at(f, 1) + recordHeader + 2] = 200; },
       "x.btsnoop: record 1: the HCI event says 200 bytes"},
      {"empty record",
       [&](auto& f) {
         f.resize(at(f, 4));
         f.resize(f.size() + recordHeader, 0);
       },
       "x.btsnoop: record 4: an empty record"},
  };
  const std::vector<uint8_t> valid = fileOf(validRecords());
  Capture c;
  std::string error;
  ASSERT_TRUE(parseCapture(valid.data(), valid.size(), "x.btsnoop", c, error)) << error;
  ASSERT_EQ(c.events.size(), 2u);
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<uint8_t> f = valid;
    k.spoil(f);
    Capture out;
    out.name = "untouched";
    error.clear();
    EXPECT_FALSE(parseCapture(f.data(), f.size(), "x.btsnoop", out, error));
    EXPECT_NE(error.find(k.error), std::string::npos) << error;
    EXPECT_EQ(out.name, "untouched");  // nothing of a refused file is kept
  }
}

TEST(CaptureReader, OtherTrafficIsPassedOver) {
  std::vector<Record> r = validRecords();
  r.push_back({kUnixEpochUs, 0, bytes({0x01, 0x03, 0x0C, 0x00})});       // an HCI command
  r.push_back({kUnixEpochUs, 0, attPacket(bytes({0x02, 0x17, 0x00}))});  // MTU exchange
  std::vector<uint8_t> signalling = attPacket(bytes({0x12, 0x01, 0x04, 0x00}));
  signalling[7] = 0x05;  // the L2CAP signalling channel
  r.push_back({kUnixEpochUs, 0, signalling});
  std::vector<uint8_t> f = fileOf(r);
  Capture c;
  std::string error;
  ASSERT_TRUE(parseCapture(f.data(), f.size(), "x.btsnoop", c, error)) << error;
  EXPECT_EQ(c.events.size(), 2u);
  EXPECT_EQ(c.name, "Dev");
}

}  // namespace
}  // namespace okt::capture

namespace okt::emu {
namespace {

using capture::AttEvent;
using capture::Capture;

std::vector<uint8_t> bytes(std::initializer_list<int> b) { return std::vector<uint8_t>(b.begin(), b.end()); }

AttEvent request(uint64_t ms, std::vector<uint8_t> value) {
  return {0, ms * 1000, false, capture::ATT_WRITE_REQUEST, capture::kHandleRequest, std::move(value)};
}
AttEvent note(uint64_t ms, std::vector<uint8_t> value, uint32_t record = 0) {
  return {record, ms * 1000, true, capture::ATT_NOTIFICATION, capture::kHandleData, std::move(value)};
}

const std::vector<uint8_t> kGetInfo = bytes({0, 1, 0, 0, 0, 1});
const std::vector<uint8_t> kInfo = bytes({0, 1, 0, 0, 0, 1, 1, 0, 0, 0, 0, 2, 0, 0, 1, 0, 0, 0, 0, 0, 0});
std::vector<uint8_t> event(uint8_t counter) { return bytes({0, 12, 0, 0, 0, counter, 0, 1, 0, 0, 0, 3}); }
std::vector<uint8_t> presses(uint8_t n) { return bytes({0, 4, 0, 0, 0, 9, 0, 0, 2, 0, 0, 3, n}); }

Capture session() {
  Capture c;
  c.name = "Field unit";
  c.address = "AA:BB:CC:00:11:22";
  c.events = {
      {0, 1000, false, capture::ATT_READ_REQUEST, capture::kHandleFirmwareRevision, {}},
      {0, 2000, true, capture::ATT_READ_RESPONSE, capture::kHandleFirmwareRevision, bytes({'2', '.', '1'})},
      note(3, presses(0)),  // before any request: nobody asked for it
      request(10, kGetInfo),
      note(12, kInfo),
      request(100, event(2)),
      note(101, presses(1)),
      note(160, presses(2)),
      request(300, event(3)),
      note(305, presses(3)),
  };
  return c;
}

TEST(Replay, RequestsAreAnsweredAsInTheCaptureWhateverTheirCounter) {
  DeviceDescription d;
  std::string error;
  ASSERT_TRUE(captureToDevice(session(), "field.btsnoop", d, error)) << error;
  Emulator e(d);
  test::LogCapture log;
  std::vector<uint8_t> getInfo = kGetInfo;
  getInfo[5] = 77;  // another counter
  e.handleRequest(getInfo.data(), getInfo.size(), 1000);
  e.advance(1001);
  EXPECT_TRUE(e.takeNotifications().empty());
  e.advance(1002);
  EXPECT_EQ(e.takeNotifications(), std::vector<std::vector<uint8_t>>{kInfo});  // 2 ms after its request

  // The first time the event comes its first answer; the 59 ms gap is kept.
  std::vector<uint8_t> first = event(80);
  e.handleRequest(first.data(), first.size(), 2000);
  e.advance(2001);
  EXPECT_EQ(e.takeNotifications(), std::vector<std::vector<uint8_t>>{presses(1)});
  EXPECT_EQ(e.msUntilDue(2001), 59u);
  // The next request comes first: what was still due goes out before its answers.
  std::vector<uint8_t> second = event(81);
  e.handleRequest(second.data(), second.size(), 2010);
  e.advance(2015);
  EXPECT_EQ(e.takeNotifications(), (std::vector<std::vector<uint8_t>>{presses(2), presses(3)}));
  // Past what the capture saw, the last answer again.
  e.handleRequest(second.data(), second.size(), 2100);
  e.advance(2200);
  EXPECT_EQ(e.takeNotifications(), std::vector<std::vector<uint8_t>>{presses(3)});
  EXPECT_EQ(log.text().find("Replay:"), std::string::npos);

  std::vector<uint8_t> unknown = bytes({0, 8, 0, 0, 0, 5, 0, 0, 7, 0, 0, 0, 1, 9});
  e.handleRequest(unknown.data(), unknown.size(), 3000);
  e.advance(4000);
  EXPECT_TRUE(e.takeNotifications().empty());
  EXPECT_NE(
      log.text().find("Replay: the capture never saw this request, nothing answers it: 0008000000050000070000000109"),
      std::string::npos)
      << log.text();
}

TEST(Replay, CapturesThatCannotBePlayedAreRefused) {
  DeviceDescription d;
  d.name = "untouched";
  std::string error;
  Capture quiet = session();
  quiet.events.resize(3);  // reads and a stray notification, no request
  EXPECT_FALSE(captureToDevice(quiet, "quiet.btsnoop", d, error));
  EXPECT_EQ(error, "quiet.btsnoop: no request of an OKT client in it: nothing to replay");
  Capture large = session();
  large.events.push_back(note(400, std::vector<uint8_t>(300, 1), 42));
  EXPECT_FALSE(captureToDevice(large, "large.btsnoop", d, error));
  EXPECT_EQ(error, "large.btsnoop: record 42: a notification of 300 bytes, more than the link carries");
  EXPECT_EQ(d.name, "untouched");
}

TEST(Replay, ADeviceFileThatIsACaptureLoadsAsOne) {
  std::string path =
      (std::filesystem::temp_directory_path() / ("okt-replay-" + std::to_string(::getpid()) + ".dev")).string();
  {
    std::string error;
    auto w = capture::CaptureWriter::create(path, error);
    ASSERT_TRUE(w) << error;
    w->peerSeen("0C:0C:0C:00:00:07", "Recorded");
    w->writeRequest("dadae002-8d09-4dbf-9b75-9e58b9b66b91", kGetInfo.data(), kGetInfo.size());
    w->notification("dadae006-8d09-4dbf-9b75-9e58b9b66b91", kInfo.data(), kInfo.size());
  }
  DeviceDescription d;
  std::string error;
  EXPECT_TRUE(loadDeviceDescription(path, d, error)) << error;  // known by its first bytes, not its name
  EXPECT_EQ(d.name, "Recorded");                                // named as the scan saw it
  EXPECT_EQ(d.address, "0C:0C:0C:00:00:07");
  EXPECT_TRUE(d.replay);
  Capture unnamed = session();  // a device that never said its name: the file's
  unnamed.name.clear();
  ASSERT_TRUE(captureToDevice(unnamed, "/tmp/field.btsnoop", d, error));
  EXPECT_EQ(d.name, "field");
  std::filesystem::remove(path);
  EXPECT_FALSE(loadDeviceDescription(path + ".btsnoop", d, error));
}

}  // namespace
}  // namespace okt::emu
