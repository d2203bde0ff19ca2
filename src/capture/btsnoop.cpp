#include "capture/btsnoop.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "protocol/wire.h"

namespace okt::capture {
namespace {

constexpr uint8_t kH4Command = 0x01;
constexpr uint8_t kH4Acl = 0x02;
constexpr uint8_t kH4Sco = 0x03;
constexpr uint8_t kH4Event = 0x04;
constexpr uint8_t kEventDisconnectionComplete = 0x05;
constexpr uint8_t kEventLeMeta = 0x3E;
constexpr uint8_t kLeConnectionComplete = 0x01;
constexpr uint8_t kLeAdvertisingReport = 0x02;
constexpr uint8_t kAdCompleteName = 0x09;
constexpr uint8_t kAdShortName = 0x08;
constexpr size_t kRecordHeaderBytes = 24;
constexpr char kMagic[8] = {'b', 't', 's', 'n', 'o', 'o', 'p', '\0'};

struct Characteristic {
  uint16_t handle;
  const char* uuid;
};
constexpr Characteristic kCharacteristics[] = {
    {kHandleManufacturer, "00002a29-0000-1000-8000-00805f9b34fb"},
    {kHandleModelNumber, "00002a24-0000-1000-8000-00805f9b34fb"},
    {kHandleSerialNumber, "00002a25-0000-1000-8000-00805f9b34fb"},
    {kHandleHardwareRevision, "00002a27-0000-1000-8000-00805f9b34fb"},
    {kHandleFirmwareRevision, "00002a26-0000-1000-8000-00805f9b34fb"},
    {kHandleData, "dadae006-8d09-4dbf-9b75-9e58b9b66b91"},
    {kHandleDataConfig, "00002902-0000-1000-8000-00805f9b34fb"},
    {kHandleRequest, "dadae002-8d09-4dbf-9b75-9e58b9b66b91"},
};
// The OKT service, least significant byte first as advertisements carry it.
constexpr uint8_t kOktServiceLe[16] = {0x91, 0x6b, 0xb6, 0xb9, 0x58, 0x9e, 0x75, 0x9b,
                                       0xbf, 0x4d, 0x09, 0x8d, 0x01, 0xe0, 0xda, 0xda};

// Little-endian fields through the checked reader.
bool readLe16(WireReader& r, uint16_t& out) {
  const uint8_t* p = nullptr;
  if (!r.bytes(2, p)) return false;
  out = static_cast<uint16_t>(p[0] | (p[1] << 8));
  return true;
}

// "0C:0C:0C:00:00:01" as HCI carries it (least significant byte first); zeros when it is no such address.
void addAddress(std::vector<uint8_t>& out, const std::string& address) {
  uint8_t b[6] = {};
  unsigned v[6];
  if (address.size() == 17 &&
      std::sscanf(address.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) == 6)
    for (int i = 0; i < 6; ++i) b[i] = static_cast<uint8_t>(v[i]);
  for (int i = 5; i >= 0; --i) out.push_back(b[i]);
}

std::string addressText(const uint8_t* le) {
  char text[18];
  std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", le[5], le[4], le[3], le[2], le[1], le[0]);
  return text;
}

std::vector<uint8_t> leMeta(uint8_t subevent, const std::vector<uint8_t>& parameters) {
  std::vector<uint8_t> p = {kH4Event, kEventLeMeta, static_cast<uint8_t>(parameters.size() + 1), subevent};
  p.insert(p.end(), parameters.begin(), parameters.end());
  return p;
}

std::vector<uint8_t> advertisingReport(uint8_t eventType, const std::string& address, const std::vector<uint8_t>& data,
                                       int8_t rssi) {
  std::vector<uint8_t> p = {1, eventType, 0};
  addAddress(p, address);
  p.push_back(static_cast<uint8_t>(data.size()));
  p.insert(p.end(), data.begin(), data.end());
  p.push_back(static_cast<uint8_t>(rssi));
  return leMeta(kLeAdvertisingReport, p);
}

// Reads the device's name and address out of an LE advertising report.
void readAdvertisingReport(WireReader& r, Capture& out) {
  uint8_t reports = 0, eventType = 0, addressType = 0, dataLength = 0;
  const uint8_t *address = nullptr, *data = nullptr;
  if (!r.u8(reports) || reports != 1 || !r.u8(eventType) || !r.u8(addressType) || !r.bytes(6, address) ||
      !r.u8(dataLength) || !r.bytes(dataLength, data))
    return;
  out.address = addressText(address);
  WireReader ad(data, dataLength);
  uint8_t length = 0, type = 0;
  const uint8_t* field = nullptr;
  while (ad.u8(length) && length > 0 && ad.u8(type) && ad.bytes(length - 1u, field))
    if (type == kAdCompleteName || type == kAdShortName)
      out.name.assign(reinterpret_cast<const char*>(field), length - 1u);
}

class Parser {
 public:
  Parser(const std::string& file, Capture& out) : file_(file), out_(out) {}

  bool fail(uint32_t record, const std::string& why) {
    error = file_ + ": record " + std::to_string(record) + ": " + why;
    return false;
  }

  bool packet(uint32_t record, uint64_t timeUs, uint32_t flags, const uint8_t* data, size_t size) {
    WireReader r(data, size);
    uint8_t type = 0;
    r.u8(type);
    switch (type) {
      case kH4Acl: return acl(record, timeUs, (flags & kFlagReceived) != 0, r);
      case kH4Event: return event(record, r);
      case kH4Command:
      case kH4Sco: return true;  // nothing of ours
      default: {
        char why[64];
        std::snprintf(why, sizeof why, "unknown HCI packet type 0x%02X", type);
        return fail(record, why);
      }
    }
  }

  std::string error;

 private:
  bool event(uint32_t record, WireReader& r) {
    uint8_t code = 0, length = 0;
    if (!r.u8(code) || !r.u8(length)) return fail(record, "an HCI event cut short");
    if (length != r.remaining())
      return fail(record, "the HCI event says " + std::to_string(length) + " bytes, the record holds " +
                              std::to_string(r.remaining()));
    uint8_t subevent = 0;
    if (code == kEventLeMeta && r.u8(subevent)) {
      if (subevent == kLeAdvertisingReport) readAdvertisingReport(r, out_);
      uint8_t status = 0;
      uint16_t handle = 0;
      uint8_t role = 0, addressType = 0;
      const uint8_t* address = nullptr;
      if (subevent == kLeConnectionComplete && r.u8(status) && readLe16(r, handle) && r.u8(role) && r.u8(addressType) &&
          r.bytes(6, address) && status == 0)
        out_.address = addressText(address);
    }
    return true;
  }

  bool acl(uint32_t record, uint64_t timeUs, bool received, WireReader& r) {
    uint16_t handleAndFlags = 0, aclLength = 0, l2capLength = 0, cid = 0;
    if (!readLe16(r, handleAndFlags) || !readLe16(r, aclLength)) return fail(record, "an ACL packet cut short");
    if (aclLength != r.remaining())
      return fail(record, "the ACL packet says " + std::to_string(aclLength) + " bytes, the record holds " +
                              std::to_string(r.remaining()));
    if (((handleAndFlags >> 12) & 3) == 1) return fail(record, "a continued ACL fragment (fragments are not read)");
    if (!readLe16(r, l2capLength) || !readLe16(r, cid)) return fail(record, "an L2CAP frame cut short");
    if (l2capLength != r.remaining())
      return fail(record, "the L2CAP frame says " + std::to_string(l2capLength) + " bytes, the packet holds " +
                              std::to_string(r.remaining()));
    if (cid != kAttCid) return true;  // signalling, security: nothing of ours
    AttEvent e;
    e.record = record;
    e.timeUs = timeUs;
    e.received = received;
    if (!r.u8(e.opcode)) return fail(record, "an empty ATT PDU");
    auto withHandle = [&](bool fromDevice) {
      if (!readLe16(r, e.handle)) return fail(record, "an ATT PDU cut short");
      if (uuidOf(e.handle).empty()) {
        char why[80];
        std::snprintf(why, sizeof why, "ATT handle 0x%04X is not one of an OKT capture's", e.handle);
        return fail(record, why);
      }
      if (received != fromDevice)
        return fail(record, fromDevice ? "a notification sent by the client" : "a request sent by the device");
      return true;
    };
    switch (e.opcode) {
      case ATT_READ_REQUEST:
        if (!withHandle(false)) return false;
        lastRead_ = e.handle;
        break;
      case ATT_READ_RESPONSE:
        if (!lastRead_) return fail(record, "a read response without a read request");
        e.handle = lastRead_;
        lastRead_ = 0;
        break;
      case ATT_ERROR_RESPONSE: {
        uint8_t request = 0;
        if (!r.u8(request)) return fail(record, "an ATT error response cut short");
        if (!withHandle(true)) return false;
        if (request == ATT_READ_REQUEST) lastRead_ = 0;
        break;
      }
      case ATT_WRITE_REQUEST:
      case ATT_WRITE_COMMAND:
        if (!withHandle(false)) return false;
        break;
      case ATT_NOTIFICATION:
        if (!withHandle(true)) return false;
        break;
      case ATT_WRITE_RESPONSE: break;
      default: return true;  // MTU exchange, discovery: nothing we replay
    }
    const uint8_t* value = nullptr;
    size_t n = r.remaining();
    r.bytes(n, value);
    e.value.assign(value, value + n);
    out_.events.push_back(std::move(e));
    return true;
  }

  const std::string& file_;
  Capture& out_;
  uint16_t lastRead_ = 0;
};

}  // namespace

void putLe16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

uint16_t handleOf(const std::string& uuid) {
  std::string lower = uuid;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const Characteristic& c : kCharacteristics)
    if (lower == c.uuid) return c.handle;
  return 0;
}

std::string uuidOf(uint16_t handle) {
  for (const Characteristic& c : kCharacteristics)
    if (handle == c.handle) return c.uuid;
  return "";
}

std::vector<uint8_t> attPacket(const std::vector<uint8_t>& pdu) {
  std::vector<uint8_t> p = {kH4Acl};
  putLe16(p, kConnectionHandle | 0x2000);  // a first, automatically flushable packet
  putLe16(p, static_cast<uint16_t>(pdu.size() + 4));
  putLe16(p, static_cast<uint16_t>(pdu.size()));
  putLe16(p, kAttCid);
  p.insert(p.end(), pdu.begin(), pdu.end());
  return p;
}

std::vector<std::vector<uint8_t>> advertisingPackets(const std::string& address, const std::string& name, int8_t rssi) {
  std::vector<uint8_t> advertisement = {2, 0x01, 0x06, 17, 0x07};  // flags; the complete list of 128-bit services
  advertisement.insert(advertisement.end(), std::begin(kOktServiceLe), std::end(kOktServiceLe));
  // A report carries 31 bytes: a longer name is cut, at a character's start.
  size_t n = std::min<size_t>(name.size(), 29);
  if (n < name.size())
    while (n > 0 && (static_cast<uint8_t>(name[n]) & 0xC0) == 0x80) --n;
  std::vector<uint8_t> response = {static_cast<uint8_t>(n + 1), n < name.size() ? kAdShortName : kAdCompleteName};
  response.insert(response.end(), name.begin(), name.begin() + static_cast<long>(n));
  return {advertisingReport(0x00, address, advertisement, rssi), advertisingReport(0x04, address, response, rssi)};
}

std::vector<uint8_t> connectionCompletePacket(const std::string& address) {
  std::vector<uint8_t> p = {0x00};  // success
  putLe16(p, kConnectionHandle);
  p.push_back(0x00);  // we are the central
  p.push_back(0x00);  // a public address
  addAddress(p, address);
  putLe16(p, 0x0006);  // 7.5 ms interval
  putLe16(p, 0);       // no latency
  putLe16(p, 0x01F4);  // 5 s supervision
  p.push_back(0x00);
  return leMeta(kLeConnectionComplete, p);
}

std::vector<uint8_t> disconnectionCompletePacket(uint8_t reason) {
  std::vector<uint8_t> p = {kH4Event, kEventDisconnectionComplete, 4, 0x00};
  putLe16(p, kConnectionHandle);
  p.push_back(reason);
  return p;
}

std::vector<uint8_t> fileHeader() {
  WireWriter w;
  w.bytes(reinterpret_cast<const uint8_t*>(kMagic), sizeof kMagic).u32(1).u32(kDatalinkH4);
  return w.take();
}

std::vector<uint8_t> encodeRecord(const Record& r) {
  WireWriter w;
  uint32_t n = static_cast<uint32_t>(r.packet.size());
  w.u32(n).u32(n).u32(r.flags).u32(0).u32(static_cast<uint32_t>(r.timeUs >> 32)).u32(static_cast<uint32_t>(r.timeUs));
  w.bytes(r.packet);
  return w.take();
}

uint64_t nowUs() {
  auto since = std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochUs + static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

bool looksLikeCapture(const uint8_t* data, size_t size) {
  return size >= sizeof kMagic && std::memcmp(data, kMagic, sizeof kMagic) == 0;
}

bool parseCapture(const uint8_t* data, size_t size, const std::string& fileName, Capture& out, std::string& error) {
  WireReader r(data, size);
  const uint8_t* magic = nullptr;
  uint32_t version = 0, datalink = 0;
  if (!r.bytes(sizeof kMagic, magic) || std::memcmp(magic, kMagic, sizeof kMagic) != 0) {
    error = fileName + ": not a btsnoop capture (it does not start with \"btsnoop\")";
    return false;
  }
  if (!r.u32(version) || !r.u32(datalink)) {
    error = fileName + ": the btsnoop header is cut short";
    return false;
  }
  if (version != 1) {
    error = fileName + ": btsnoop version " + std::to_string(version) + ", only version 1 is read";
    return false;
  }
  if (datalink != kDatalinkH4) {
    error = fileName + ": datalink " + std::to_string(datalink) + ", only HCI UART (H4, 1002) is read";
    return false;
  }
  Capture capture;
  Parser parser(fileName, capture);
  for (uint32_t record = 1; r.remaining() > 0; ++record) {
    std::string why;
    uint32_t original = 0, included = 0, flags = 0, drops = 0, high = 0, low = 0;
    if (r.remaining() < kRecordHeaderBytes) {
      why = "cut short: its header needs 24 bytes, " + std::to_string(r.remaining()) + " are left";
    } else {
      r.u32(original), r.u32(included), r.u32(flags), r.u32(drops), r.u32(high), r.u32(low);
      if (included > kMaxPacketBytes)
        why = "its length, " + std::to_string(included) + " bytes, is more than any HCI packet";
      else if (included > r.remaining())
        why =
            "cut short: it says " + std::to_string(included) + " bytes, " + std::to_string(r.remaining()) + " are left";
      else if (included != original)
        why = "the packet was cut when captured (" + std::to_string(included) + " of " + std::to_string(original) +
              " bytes)";
      else if (included == 0)
        why = "an empty record";
    }
    const uint8_t* packet = nullptr;
    if (why.empty() && r.bytes(included, packet) &&
        parser.packet(record, (uint64_t{high} << 32) | low, flags, packet, included))
      continue;
    if (!why.empty()) parser.fail(record, why);
    error = parser.error;
    return false;
  }
  out = std::move(capture);
  return true;
}

bool readCapture(const std::string& path, Capture& out, std::string& error) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    error = path + ": cannot be read";
    return false;
  }
  std::streamoff size = in.tellg();
  if (size < 0 || static_cast<uint64_t>(size) > kMaxCaptureBytes) {
    error = path + ": larger than " + std::to_string(kMaxCaptureBytes >> 20) + " MiB, too large to replay";
    return false;
  }
  std::vector<uint8_t> data(static_cast<size_t>(size));
  in.seekg(0);
  if (!in.read(reinterpret_cast<char*>(data.data()), size)) {
    error = path + ": cannot be read";
    return false;
  }
  return parseCapture(data.data(), data.size(), path, out, error);
}

}  // namespace okt::capture
