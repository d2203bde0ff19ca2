#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/wake_event.h"

namespace okt {

struct AppMessageType {
  enum : uint8_t {
    STOP = 0,
    SCAN = 1,
    CONNECT = 2,
    DISCONNECT = 3,
    LINK_LOST = 4,       // payload: the link connection's number (u32)
    CONNECT_FAILED = 5,  // the protocol connection over it failed; payload as LINK_LOST
    RECONNECT_NOW = 6,   // the user does not want to wait for the next attempt
  };
};

struct AppMessage {
  uint8_t type = 0;
  uint8_t length = 0;
  uint8_t payload[62] = {};
};

// Short messages from the window to the application worker, which runs the
// slow Bluetooth work (scans, connects, closing the link) one at a time.
// Messages are stored as type, length and payload in a 512-byte ring.
class AppQueue {
 public:
  static constexpr uint16_t kRingBytes = 512;
  static constexpr uint8_t kMaxPayload = 62;

  ~AppQueue();

  // 0 when queued, 1 when there is no room.
  int postAppMessage(uint8_t type, const uint8_t* payload = nullptr, uint8_t length = 0);
  // Takes the oldest message; false when there is none or it is malformed.
  bool readMessage(AppMessage& out);
  uint8_t messageCount() const;
  uint16_t used() const;

  // The worker: waits for messages (or 400 ms), runs the handler of each in
  // order, ends at STOP. A handler that fails ends its drain with the line
  // "Message %d failed". After each wake-up it runs the idle hook, which
  // says how long the worker may wait next (at most the 400 ms).
  void startWorker(std::function<bool(const AppMessage&)> handler, std::function<uint32_t()> idle = nullptr);
  // Posts STOP and waits for the worker.
  void stopWorker();

 private:
  bool readByte(uint8_t& out);
  bool drain();

  mutable std::mutex mutex_;
  uint8_t ring_[kRingBytes] = {};
  uint16_t writePos_ = 0, readPos_ = 0, used_ = 0;
  uint8_t count_ = 0;
  platform::WakeEvent wake_;
  std::function<bool(const AppMessage&)> handler_;
  std::function<uint32_t()> idle_;
  std::thread worker_;
};

}  // namespace okt
