#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace okt {

// Where the connection to the device stands, as every front end shows it.
enum class ConnectionPhase : uint8_t {
  Idle,           // no device (reason: why the last connection ended, if it did)
  Scanning,       // looking for devices
  Connecting,     // the Bluetooth connect sequence (reason: the step)
  Downloading,    // texts, variables and objects arriving (received / announced)
  Connected,      // everything announced has arrived, or the device went quiet
  Lost,           // the link went down unexpectedly (reason: why)
  Reconnecting,   // waiting for the next attempt (attempt, next try in s)
  Disconnecting,  // the user's Disconnect is closing the link
};

struct ConnectionState {
  ConnectionState() = default;
  ConnectionState(ConnectionPhase p, std::string why = {}) : phase(p), reason(std::move(why)) {}

  ConnectionPhase phase = ConnectionPhase::Idle;
  std::string reason;
  uint32_t received = 0;
  uint32_t announced = 0;
  uint32_t attempt = 0;
  uint32_t nextTrySeconds = 0;

  bool operator==(const ConnectionState&) const = default;
};

const char* phaseName(ConnectionPhase phase);
// "Downloading (120/340)", "Reconnecting (attempt 2, next try in 4 s)",
// "Lost (the device stopped answering)", "Connected".
std::string describeConnection(const ConnectionState& state);
// Seconds before reconnection attempt n (from 1): 1, 2, 4, 8, 15, 30, then 30.
uint32_t reconnectDelaySeconds(uint32_t attempt);

// The one current connection state. Any thread may change it; each change is
// logged ("Connection: ...") and handed to `publish`, in order. Download
// progress is reported by connection number, so a late report of a
// connection that has since ended changes nothing.
class ConnectionStatus {
 public:
  // Called with every change, under the status's lock: it must not wait and
  // must not call back.
  using Publish = std::function<void(const ConnectionState&)>;
  explicit ConnectionStatus(Publish publish = nullptr) : publish_(std::move(publish)) {}

  void setPublish(Publish publish);
  ConnectionState current() const;
  void set(const ConnectionState& state);
  // Connection `number` starts downloading.
  void beginDownload(uint64_t number);
  // Progress of connection `number`; `complete` makes it Connected. Progress
  // alone is passed on at most every kProgressMs.
  void download(uint64_t number, uint32_t received, uint32_t announced, bool complete);
  // Waits until the phase is `phase` (for scripts and tests); false on timeout.
  bool waitFor(ConnectionPhase phase, uint32_t timeoutMs);

  static constexpr uint32_t kProgressMs = 250;

 private:
  void changeLocked(const ConnectionState& state);

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Publish publish_;
  ConnectionState state_;
  uint64_t downloading_ = 0;  // the connection number being downloaded, 0 none
  uint32_t lastProgressTick_ = 0;
};

}  // namespace okt
