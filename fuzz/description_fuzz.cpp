// Device description files are untrusted: any text must load or be refused
// with a message, never crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "emulator/device_description.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  okt::emu::FileSource files = [](const std::string& path, std::vector<uint8_t>& out) {
    out.assign(path.begin(), path.end());
    return path.size() < 40;
  };
  okt::emu::DeviceDescription d;
  std::string error;
  bool ok = okt::emu::parseDeviceDescription(text, "fuzz.json", files, d, error);
  if (!ok && error.empty()) __builtin_trap();  // a refusal always says why
  return 0;
}
