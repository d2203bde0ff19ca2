#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "protocol/client_state.h"
#include "protocol/receive_queue.h"

namespace okt {

// Calls out of the protocol layer, filled in by whoever wires the client
// together (the engine, the link, or a test).
struct ProtocolHooks {
  // A complete object or variable arrived while the display is ready.
  std::function<void(uint32_t id)> objectChanged;
  std::function<void(uint32_t id)> variableChanged;
  // The peripheral's EVENT: ends an active lock object (reason 0).
  std::function<int(uint32_t target, int reason)> leaveLock;
  // Writes one request to the peripheral; 0 when sent.
  std::function<int(const uint8_t* bytes, uint16_t length)> sendRequest;
  // Tells the client thread that data arrived (the DATA flag).
  std::function<void()> postData;
  // Waits used by the receive path; tests may shorten them.
  std::function<void(uint32_t ms)> sleep;
  // A download went on: an object, text or variable was stored for the
  // first time since its table was made (first), or a part of one arrived.
  std::function<void(bool first)> elementProgress;
  // The device reported an error (after the line is logged).
  std::function<void(uint32_t code, uint8_t elementType, uint32_t elementId)> errorReported;
  // True when the wait for INFO is to end early (a newer request, the end).
  std::function<bool()> cancelled;
};

// The protocol side of one client: its state, its receive queue and its hooks.
struct Protocol {
  ClientState state;
  ReceiveQueue queue;
  ProtocolHooks hooks;
  // Notifications queued since the start (any thread reads it: a rate to show).
  std::atomic<uint64_t> messagesReceived{0};
};

// Entry point of the BLE notification callback: waits up to 21 x 10 ms for
// room, queues the bytes and posts DATA. 0 when queued, 1 when dropped.
int queueNotification(Protocol& p, const uint8_t* bytes, size_t length);
// Client thread: pops every queued message into a 148-byte buffer and decodes
// it. 0 when the queue ran empty, 1 when a pop failed. With a limit, at most
// that many (a device that never stops sending must not starve the rest).
int drainReceiveQueue(Protocol& p, uint32_t limit = UINT32_MAX);
// Hands a complete request to the link. Non-zero when it was not sent.
int sendRequest(Protocol& p, const uint8_t* bytes, uint16_t length);

}  // namespace okt
