#include "engine/connection_state.h"

#include <chrono>

#include "platform/log.h"
#include "platform/tick.h"

namespace okt {

const char* phaseName(ConnectionPhase phase) {
  switch (phase) {
    case ConnectionPhase::Idle: return "Idle";
    case ConnectionPhase::Scanning: return "Scanning";
    case ConnectionPhase::Connecting: return "Connecting";
    case ConnectionPhase::Downloading: return "Downloading";
    case ConnectionPhase::Connected: return "Connected";
    case ConnectionPhase::Lost: return "Lost";
    case ConnectionPhase::Reconnecting: return "Reconnecting";
    case ConnectionPhase::Disconnecting: return "Disconnecting";
  }
  return "?";
}

std::string describeConnection(const ConnectionState& s) {
  std::string text = phaseName(s.phase);
  switch (s.phase) {
    case ConnectionPhase::Downloading:
      return text + " (" + std::to_string(s.received) + "/" + std::to_string(s.announced) + ")";
    case ConnectionPhase::Reconnecting:
      return text + " (attempt " + std::to_string(s.attempt) + ", next try in " + std::to_string(s.nextTrySeconds) +
             " s)";
    default: return s.reason.empty() ? text : text + " (" + s.reason + ")";
  }
}

uint32_t reconnectDelaySeconds(uint32_t attempt) {
  static constexpr uint32_t kDelays[] = {1, 2, 4, 8, 15, 30};
  if (attempt == 0) return kDelays[0];
  return attempt <= std::size(kDelays) ? kDelays[attempt - 1] : 30;
}

void ConnectionStatus::setPublish(Publish publish) {
  std::lock_guard<std::mutex> lock(mutex_);
  publish_ = std::move(publish);
}

ConnectionState ConnectionStatus::current() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void ConnectionStatus::changeLocked(const ConnectionState& state) {
  if (state == state_) return;
  state_ = state;
  platform::logText("Connection: " + describeConnection(state_) + "\n");
  if (publish_) publish_(state_);
  changed_.notify_all();
}

void ConnectionStatus::set(const ConnectionState& state) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state.phase != ConnectionPhase::Downloading) downloading_ = 0;
  changeLocked(state);
}

void ConnectionStatus::beginDownload(uint64_t number) {
  std::lock_guard<std::mutex> lock(mutex_);
  downloading_ = number;
  lastProgressTick_ = platform::tickCount();
  changeLocked({ConnectionPhase::Downloading});
}

void ConnectionStatus::download(uint64_t number, uint32_t received, uint32_t announced, bool complete) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (number == 0 || number != downloading_ || state_.phase != ConnectionPhase::Downloading) return;
  if (complete) {
    downloading_ = 0;
    ConnectionState connected(ConnectionPhase::Connected);
    connected.received = received;
    connected.announced = announced;
    changeLocked(connected);
    return;
  }
  uint32_t now = platform::tickCount();
  if (now - lastProgressTick_ < kProgressMs) return;
  lastProgressTick_ = now;
  ConnectionState next = state_;
  next.received = received;
  next.announced = announced;
  changeLocked(next);
}

bool ConnectionStatus::waitFor(ConnectionPhase phase, uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return state_.phase == phase; });
}

}  // namespace okt
