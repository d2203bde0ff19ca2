#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Sessions as Wireshark's Bluetooth log format (btsnoop, HCI UART framing):
// every GATT exchange with an OKT device becomes an ATT PDU inside L2CAP
// (channel 4) inside an HCI ACL packet, on fixed attribute handles
// (docs/capture-format.md). The same module reads such files back, checking
// every length against what the file holds.
namespace okt::capture {

constexpr uint32_t kDatalinkH4 = 1002;
// btsnoop counts microseconds from midnight, 1 January of year 0.
constexpr uint64_t kUnixEpochUs = 0x00dcddb30f2f8000ULL;
constexpr uint16_t kConnectionHandle = 0x0040;
constexpr uint16_t kAttCid = 0x0004;
// The ATT MTU a capture shows (the largest LE allows, as BlueZ asks for it).
constexpr uint16_t kAttMtu = 517;

// Record flags: bit 0 set for what the controller sent us, bit 1 for HCI
// commands and events (clear for ACL data).
constexpr uint32_t kFlagReceived = 1;
constexpr uint32_t kFlagCommandOrEvent = 2;

// ATT opcodes we write and read.
enum AttOpcode : uint8_t {
  ATT_ERROR_RESPONSE = 0x01,
  ATT_EXCHANGE_MTU_REQUEST = 0x02,
  ATT_EXCHANGE_MTU_RESPONSE = 0x03,
  ATT_READ_REQUEST = 0x0A,
  ATT_READ_RESPONSE = 0x0B,
  ATT_WRITE_REQUEST = 0x12,
  ATT_WRITE_RESPONSE = 0x13,
  ATT_NOTIFICATION = 0x1B,
  ATT_WRITE_COMMAND = 0x52,
};

// The attribute handles of a capture: the Device Information service, then
// the OKT service.
enum AttHandle : uint16_t {
  kHandleManufacturer = 0x0012,
  kHandleModelNumber = 0x0014,
  kHandleSerialNumber = 0x0016,
  kHandleHardwareRevision = 0x0018,
  kHandleFirmwareRevision = 0x001A,
  kHandleData = 0x0022,
  kHandleDataConfig = 0x0023,  // the data characteristic's client configuration
  kHandleRequest = 0x0025,
};

// The handle of a characteristic (by its 128-bit UUID text, any letter
// case); 0 for one a capture has no handle for.
uint16_t handleOf(const std::string& uuid);
// The characteristic a handle stands for ("" for none of ours).
std::string uuidOf(uint16_t handle);

// HCI, L2CAP and ATT fields are little-endian (btsnoop's own are big-endian).
void putLe16(std::vector<uint8_t>& out, uint16_t value);

// One btsnoop record as it is stored.
struct Record {
  uint64_t timeUs = 0;  // from year 0, as stored
  uint32_t flags = 0;
  std::vector<uint8_t> packet;  // the H4 packet type byte first
};

// Packets (H4 framing).
std::vector<uint8_t> attPacket(const std::vector<uint8_t>& pdu);
// LE Advertising Reports: an advertisement with the OKT service, then a scan
// response with the device's name (cut to what one report carries).
std::vector<std::vector<uint8_t>> advertisingPackets(const std::string& address, const std::string& name, int8_t rssi);
std::vector<uint8_t> connectionCompletePacket(const std::string& address);
std::vector<uint8_t> disconnectionCompletePacket(uint8_t reason);

std::vector<uint8_t> fileHeader();
std::vector<uint8_t> encodeRecord(const Record& r);
// Microseconds from year 0, now.
uint64_t nowUs();

// A capture read back: the device it saw and its ATT exchanges in order.
struct AttEvent {
  uint32_t record = 0;  // 1 for the first record of the file
  uint64_t timeUs = 0;
  bool received = false;
  uint8_t opcode = 0;
  uint16_t handle = 0;  // a read response carries the handle of its request
  std::vector<uint8_t> value;
};
struct Capture {
  std::string name;
  std::string address;
  std::vector<AttEvent> events;
};

// Files larger than this are refused: a capture is read whole.
constexpr size_t kMaxCaptureBytes = size_t{256} << 20;
// The longest packet a record may hold (an HCI ACL packet at its largest).
constexpr uint32_t kMaxPacketBytes = 65535 + 5;

// Reads a capture. On a fault returns false and a message naming the file
// and the record ("dev.btsnoop: record 12: ..."); nothing of it is kept.
bool parseCapture(const uint8_t* data, size_t size, const std::string& fileName, Capture& out, std::string& error);
bool readCapture(const std::string& path, Capture& out, std::string& error);

// Whether the bytes start like a btsnoop file.
bool looksLikeCapture(const uint8_t* data, size_t size);

}  // namespace okt::capture
