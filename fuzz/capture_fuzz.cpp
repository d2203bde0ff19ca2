// Capture files are untrusted: any bytes must load as a device or be refused
// with a message naming the file, never crash; a device that loads answers
// every request it is given within bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "capture/btsnoop.h"
#include "emulator/device_description.h"
#include "emulator/emulator.h"
#include "emulator/replay.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  okt::capture::Capture capture;
  std::string error;
  if (!okt::capture::parseCapture(data, size, "fuzz.btsnoop", capture, error)) {
    if (error.rfind("fuzz.btsnoop: ", 0) != 0) __builtin_trap();  // a refusal names the file
    return 0;
  }
  okt::emu::DeviceDescription device;
  if (!okt::emu::captureToDevice(capture, "fuzz.btsnoop", device, error)) return 0;
  okt::emu::Emulator emulator(device);
  // Every request the capture holds, twice, then one it never saw.
  uint32_t now = 0;
  for (int round = 0; round < 2; ++round)
    for (const okt::capture::AttEvent& e : capture.events)
      if (e.opcode == okt::capture::ATT_WRITE_REQUEST && e.handle == okt::capture::kHandleRequest) {
        emulator.handleRequest(e.value.data(), e.value.size(), now += 5);
        emulator.advance(now + okt::emu::kMaxAnswerDelayMs);
        emulator.takeNotifications();
      }
  const uint8_t unknown[] = {0xFF, 0xFF, 0, 0, 0, 1};
  emulator.handleRequest(unknown, sizeof unknown, now);
  return 0;
}
