#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "ble/binding.h"
#include "protocol/protocol.h"

namespace okt {

namespace capture {
class CaptureWriter;
}

constexpr const char* kOktDataUuid = "dadae006-8d09-4dbf-9b75-9e58b9b66b91";
constexpr const char* kOktRequestUuid = "dadae002-8d09-4dbf-9b75-9e58b9b66b91";
// The service holding both, as an OKT device advertises it.
constexpr const char* kOktServiceUuid = "dadae001-8d09-4dbf-9b75-9e58b9b66b91";

// The program's connection to one OKT peripheral through the bound
// Bluetooth library. GATT operations are made synchronous, one at a time,
// each waiting at most `waitMs` for its completion.
//
// A wait that runs out means a dead link: the stack queues every later call
// behind the one it never answered, and would carry them out long after we
// gave up on them. So nothing more is sent on that connection, and the link
// is reported lost. Connections are opened and closed on one thread (the
// application worker); sends from other threads never meet a deleted one.
class Link {
 public:
  Link(const WarbleBinding& warble, Protocol& protocol);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // The device to connect to; its name is forgotten until setPeerName.
  void linkSetAddress(const std::string& address);
  std::string address() const;
  // The device's name as the scan showed it (a capture names the device with it).
  void setPeerName(const std::string& name);
  // Every GATT exchange from now on also goes to this capture; null stops.
  void setRecorder(std::shared_ptr<capture::CaptureWriter> recorder);
  // The connect sequence; 0 when ready, 1 when it failed (the link is closed).
  // A connection still open is closed first.
  int linkConnect();
  // Closes and frees the connection, then pauses closeDelayMs (or pauseMs).
  int linkClose();
  int linkClose(uint32_t pauseMs);
  int linkIsReady() const;
  // Writes one request; 0 when written.
  int linkSend(const uint8_t* bytes, size_t size);
  // The running connect sequence fails now (its waits end at once); the next
  // linkConnect starts afresh.
  void interrupt();
  // For good: every wait ends now and every operation from now on fails at
  // once, so that no thread is held by the link while the program ends.
  void abort();
  // Numbers each successful connection, from 1.
  uint64_t connectionNumber() const { return number_.load(); }

  // Progress of the connect sequence (0 to 1000, a text).
  std::function<void(int value, const std::string& text)> reportProgress;
  // The link went down while ready: the peer left ("The device
  // disconnected"), or a GATT call went unanswered ("The device stopped
  // answering"). Once per connection, on a library thread or the waiting one.
  std::function<void(uint64_t connection, const std::string& reason)> onLinkLost;
  std::string deviceSummary() const;

  uint32_t waitMs = 10000;
  uint32_t closeDelayMs = 1000;

  // Library handlers reach the link through these (tokens, not pointers to
  // a caller's frame, so a late completion finds nothing to write into).
  void completeRead(uint64_t token, const uint8_t* value, uint8_t length, const char* error);
  void completeWrite(uint64_t token, const char* error);
  void completeConnect(uint64_t token, const char* error);
  void notification(WarbleGattChar* characteristic, const uint8_t* value, uint8_t length);
  void peerGone(int32_t status);
  void handlerEnters() { ++handlersIn_; }
  void handlerLeaves() { --handlersIn_; }

  static constexpr const char* kPeerLeft = "The device disconnected";
  static constexpr const char* kNoAnswer = "The device stopped answering";

 private:
  struct Operation;
  int gattConnect();
  int gattRead(const char* uuid, uint8_t* buffer, size_t max);
  int gattWrite(const char* uuid, const uint8_t* bytes, size_t size);
  int gattSubscribe(const char* uuid);
  uint64_t begin();
  WarbleGattChar* lookUp(uint64_t token, const char* uuid);
  int wait(uint64_t token);
  void end(uint64_t token);
  void report(int value, const std::string& text);
  // The link is down: nothing more goes out on it; reported once if it was ready.
  void lost(const char* reason);
  void waitForHandlers();
  std::shared_ptr<capture::CaptureWriter> recorder() const;
  bool stopping() const { return interrupted_.load() || aborted_.load() || closing_.load(); }

  const WarbleBinding& w_;
  Protocol& p_;
  std::string address_;
  WarbleGatt* connection_ = nullptr;  // changed under operationMutex_, on the connecting thread
  std::atomic<int> ready_{0};
  std::atomic<bool> dead_{false};
  std::atomic<bool> interrupted_{false};
  std::atomic<bool> aborted_{false};
  std::atomic<bool> closing_{false};
  std::atomic<uint64_t> number_{0};
  std::atomic<int> handlersIn_{0};  // library handlers running on this link
  std::mutex operationMutex_;       // one GATT operation at a time
  mutable std::mutex stateMutex_;
  std::condition_variable done_;
  uint64_t pendingToken_ = 0;  // the operation waiting, 0 none
  int status_ = 0;             // 0 none, 1 success, 2 error
  std::string readValue_;
  int connectResult_ = 0;
  uint64_t connectionToken_ = 0;  // notifications and the disconnect handler
  std::string summary_;
  std::string peerName_;
  mutable std::mutex recorderMutex_;
  std::shared_ptr<capture::CaptureWriter> recorder_;
};

}  // namespace okt
