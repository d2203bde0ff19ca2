#include "emulator/replay.h"

#include <algorithm>
#include <memory>

#include "emulator/device_description.h"

namespace okt::emu {

const ReplayScript::Answers* ReplayScript::answersFor(const std::vector<uint8_t>& key, size_t nth) const {
  auto it = exchanges.find(key);
  if (it == exchanges.end() || it->second.empty()) return nullptr;
  return &it->second[std::min(nth, it->second.size() - 1)];
}

std::vector<uint8_t> requestKey(const uint8_t* bytes, size_t size) {
  std::vector<uint8_t> key(bytes, bytes + size);
  for (size_t i = 2; i < 6 && i < key.size(); ++i) key[i] = 0;
  return key;
}

bool captureToDevice(const capture::Capture& c, const std::string& fileName, DeviceDescription& out,
                     std::string& error) {
  using namespace capture;
  DeviceDescription d;
  std::string base = fileName.substr(fileName.find_last_of('/') + 1);
  d.name = c.name.empty() ? base.substr(0, base.rfind('.')) : c.name;
  if (!c.address.empty()) d.address = c.address;
  // What the capture did not read stays empty, as the device never said it.
  d.firmwareRevision = d.modelNumber = d.hardwareRevision = d.manufacturer = d.serialNumber = "";
  std::map<uint16_t, std::string*> information = {{kHandleFirmwareRevision, &d.firmwareRevision},
                                                  {kHandleModelNumber, &d.modelNumber},
                                                  {kHandleHardwareRevision, &d.hardwareRevision},
                                                  {kHandleManufacturer, &d.manufacturer},
                                                  {kHandleSerialNumber, &d.serialNumber}};
  std::map<uint16_t, bool> read;

  auto script = std::make_shared<ReplayScript>();
  ReplayScript::Answers* current = nullptr;
  uint64_t requestTime = 0;
  for (const AttEvent& e : c.events) {
    if (e.opcode == ATT_READ_RESPONSE && information.count(e.handle) && !read[e.handle]) {
      information[e.handle]->assign(e.value.begin(), e.value.end());
      read[e.handle] = true;
    } else if ((e.opcode == ATT_WRITE_REQUEST || e.opcode == ATT_WRITE_COMMAND) && e.handle == kHandleRequest) {
      auto& times = script->exchanges[requestKey(e.value.data(), e.value.size())];
      times.emplace_back();
      current = &times.back();
      requestTime = e.timeUs;
    } else if (e.opcode == ATT_NOTIFICATION && e.handle == kHandleData && current) {
      if (e.value.size() > kMaxNotificationBytes) {
        error = fileName + ": record " + std::to_string(e.record) + ": a notification of " +
                std::to_string(e.value.size()) + " bytes, more than the link carries";
        return false;
      }
      uint64_t us = e.timeUs > requestTime ? e.timeUs - requestTime : 0;
      uint32_t ms = static_cast<uint32_t>(std::min<uint64_t>(us / 1000, kMaxAnswerDelayMs));
      // Time that runs backwards in a file does not reorder what it holds.
      if (!current->empty()) ms = std::max(ms, current->back().delayMs);
      current->push_back({ms, e.value});
    }
  }
  if (script->exchanges.empty()) {
    error = fileName + ": no request of an OKT client in it: nothing to replay";
    return false;
  }
  d.replay = std::move(script);
  out = std::move(d);
  return true;
}

bool loadCaptureDevice(const std::string& path, DeviceDescription& out, std::string& error) {
  capture::Capture c;
  return capture::readCapture(path, c, error) && captureToDevice(c, path, out, error);
}

}  // namespace okt::emu
