#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "capture/btsnoop.h"

namespace okt::emu {

struct DeviceDescription;

// A recorded session played as a device: each request is answered with the
// notifications that followed the same request in the capture, at the same
// pace. Requests are told apart by type and content; the message counter
// is not compared.
struct ReplayScript {
  struct Answer {
    uint32_t delayMs = 0;  // after the request; never less than the answer before
    std::vector<uint8_t> message;
  };
  using Answers = std::vector<Answer>;

  // The answers for the n-th time (from 0) a request comes. Past the times
  // the capture saw it, the last answer is given again; null for a request
  // the capture never saw.
  const Answers* answersFor(const std::vector<uint8_t>& key, size_t nth) const;

  // By request key: every time the capture saw the request, in order.
  std::map<std::vector<uint8_t>, std::vector<Answers>> exchanges;
};

// The request as it is matched: its counter (bytes 2 to 5) zeroed.
std::vector<uint8_t> requestKey(const uint8_t* bytes, size_t size);

// A device from a capture: the name and address it was seen with, its
// Device Information, and what it answered. On a fault returns false and
// an error naming the file (and the record); nothing of it is kept.
bool captureToDevice(const capture::Capture& capture, const std::string& fileName, DeviceDescription& out,
                     std::string& error);
bool loadCaptureDevice(const std::string& path, DeviceDescription& out, std::string& error);

// A notification longer than this never crossed the link.
constexpr size_t kMaxNotificationBytes = 255;
// Answers come at most this long after their request.
constexpr uint32_t kMaxAnswerDelayMs = 600000;

}  // namespace okt::emu
