#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "ble/connect_flow.h"
#include "ble/link.h"
#include "engine/engine.h"
#include "shell/app_queue.h"

namespace okt {

// The life of the connection: the link is opened and closed on the
// application worker only, the protocol connection follows it, and the one
// connection state (the engine's) says where things stand. After an
// unexpected loss the link is reconnected with backoff and the user brought
// back to the display they were on; after the user's Disconnect it is not.
//
// The public calls may come from any thread and never wait; the rest runs on
// the worker.
class ConnectionManager {
 public:
  ConnectionManager(Link& link, ConnectFlow& flow, AppQueue& queue, Engine& engine);
  ConnectionManager(const ConnectionManager&) = delete;
  ConnectionManager& operator=(const ConnectionManager&) = delete;

  // Starts the application worker with this manager's handlers.
  void startWorker();

  // The user's Disconnect: the link closes and stays closed.
  void disconnect();
  // Connects to a known address without a scan (a recent device, the
  // command line's). Ends any reconnection under way.
  void connectTo(const std::string& address);
  // A reconnection that waits for its next attempt makes it now.
  void reconnectNow();
  // A user action ends any reconnection under way (a Connect of their own,
  // say); a running attempt stops at once.
  void stopReconnecting();
  void setAutoReconnect(bool on);
  bool autoReconnect() const { return autoReconnect_.load(); }
  // Ends every wait the worker (or a send) could be in and keeps the link
  // from starting anything new; the worker stops soon after.
  void shutdown();

  ConnectionStatus& status() { return engine_.connection(); }
  // "Scanning BT", "Connecting BT...", "Disconnecting BT...", then "" when done.
  std::function<void(const std::string& text)> setStatusText;
  // A message box over the main window (a message the worker has no handler for).
  std::function<void(const std::string& text)> errorBox;
  // The backoff's unit (a second); tests make it shorter.
  uint32_t backoffUnitMs = 1000;

  // The worker's side (public for tests that drive the worker by hand).
  bool handleAppMessage(const AppMessage& m);
  // Runs a reconnection attempt that is due; how long until the next (ms).
  uint32_t idle();

 private:
  enum Reason : uint8_t { PeerLeft = 0, NoAnswer = 1 };
  // Opens the link to the chosen address and hands it to the engine.
  bool openLink(bool resume);
  void closeLink(bool keepDisplay);
  void linkLost(const char* reason);
  void scheduleAttempt(uint32_t attempt, uint32_t fromTick);
  bool stopAsked();
  void statusText(const char* text);
  void post(uint8_t type, uint64_t number, uint8_t reason = 0);

  Link& link_;
  ConnectFlow& flow_;
  AppQueue& queue_;
  Engine& engine_;
  std::atomic<bool> autoReconnect_{true};
  std::atomic<uint64_t> stops_{0};  // user actions that end reconnection

  // Worker only.
  uint64_t stopsSeen_ = 0;
  bool linkUp_ = false;
  uint64_t number_ = 0;   // the open link connection's number
  bool resumed_ = false;  // the open connection is a reconnection attempt
  bool reconnecting_ = false;
  uint32_t attempt_ = 0;
  uint32_t dueTick_ = 0;
  std::string step_;  // the connect sequence's last step, for a failure's reason
};

}  // namespace okt
