#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "ble/binding.h"
#include "protocol/protocol.h"

namespace okt {

constexpr const char* kOktDataUuid = "dadae006-8d09-4dbf-9b75-9e58b9b66b91";
constexpr const char* kOktRequestUuid = "dadae002-8d09-4dbf-9b75-9e58b9b66b91";

// The program's connection to one OKT peripheral through the bound
// Bluetooth library. GATT operations are made synchronous, one at a time,
// each waiting at most `waitMs` for its completion.
class Link {
 public:
  Link(const WarbleBinding& warble, Protocol& protocol);
  ~Link();
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  void linkSetAddress(const std::string& address);
  // The connect sequence; 0 when ready, 1 when it failed (the link is closed).
  int linkConnect();
  int linkClose();
  int linkIsReady() const;
  // Writes one request; 0 when written.
  int linkSend(const uint8_t* bytes, size_t size);

  // Progress of the connect sequence (0 to 1000, a text).
  std::function<void(int value, const std::string& text)> reportProgress;
  // The peer went away while the link was ready (called on a library thread).
  std::function<void()> onPeerGone;
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

  const WarbleBinding& w_;
  Protocol& p_;
  std::string address_;
  WarbleGatt* connection_ = nullptr;
  std::atomic<int> ready_{0};
  std::mutex operationMutex_;  // one GATT operation at a time
  mutable std::mutex stateMutex_;
  std::condition_variable done_;
  uint64_t pendingToken_ = 0;  // the operation waiting, 0 none
  int status_ = 0;             // 0 none, 1 success, 2 error
  std::string readValue_;
  int connectResult_ = 0;
  uint64_t connectionToken_ = 0;  // notifications and the disconnect handler
  std::string summary_;
};

}  // namespace okt
