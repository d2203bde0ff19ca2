#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture/btsnoop.h"

namespace okt::capture {

// Writes a session as a btsnoop file while it runs. The link hands over each
// GATT exchange as it sees it, stamped at that moment; a thread of the
// writer's own puts them in the file and flushes it every second, so a
// crash loses at most the last second. The link never waits for the disk:
// the queue between them is bounded, and what does not fit is dropped and
// counted.
class CaptureWriter {
 public:
  struct Options {
    size_t capacity = 8192;  // records waiting for the file
    bool background = true;  // false: nothing is written until flush() (tests)
  };

  // Creates the file and writes its header; null, with the reason, when it cannot.
  static std::unique_ptr<CaptureWriter> create(const std::string& path, std::string& error);
  static std::unique_ptr<CaptureWriter> create(const std::string& path, std::string& error, Options options);
  ~CaptureWriter();
  CaptureWriter(const CaptureWriter&) = delete;
  CaptureWriter& operator=(const CaptureWriter&) = delete;

  // The device as the scan saw it, and the connection to it.
  void peerSeen(const std::string& address, const std::string& name);
  void connected(const std::string& address);
  // 0x16: we ended it; 0x13: the device did.
  void disconnected(uint8_t reason);
  // GATT operations, by characteristic UUID (one without a handle is not recorded).
  void readRequest(const std::string& uuid);
  void readResponse(const std::string& uuid, const uint8_t* value, size_t size, bool ok);
  void writeRequest(const std::string& uuid, const uint8_t* value, size_t size);
  void writeCommand(const std::string& uuid, const uint8_t* value, size_t size);
  void writeResponse(const std::string& uuid, bool ok);
  // Switching the data characteristic's notifications on (its configuration descriptor).
  void subscribeRequest();
  void notification(const std::string& uuid, const uint8_t* value, size_t size);

  // Writes what is queued, now.
  void flush();
  const std::string& path() const { return path_; }
  uint64_t dropped() const { return dropped_.load(); }
  uint64_t written() const { return written_.load(); }
  // Told of the total dropped so far whenever it has grown, after a write
  // (on the writer's thread). Set it before the first record.
  std::function<void(uint64_t dropped)> onDropped;

 private:
  CaptureWriter(std::FILE* file, std::string path, Options options);
  void add(uint32_t flags, std::vector<uint8_t> packet);
  void att(bool received, std::vector<uint8_t> pdu);
  void run();
  void writeOut(std::deque<Record>& records);

  std::FILE* file_;
  std::string path_;
  Options options_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Record> queue_;
  bool stop_ = false;
  std::mutex fileMutex_;
  bool failed_ = false;
  uint64_t reported_ = 0;
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> written_{0};
  std::thread thread_;
};

}  // namespace okt::capture
