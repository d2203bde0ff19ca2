#include "capture/capture_writer.h"

#include <cerrno>
#include <chrono>
#include <cstring>

namespace okt::capture {
namespace {

std::vector<uint8_t> pdu(uint8_t opcode, uint16_t handle, const uint8_t* value, size_t size) {
  std::vector<uint8_t> p = {opcode};
  putLe16(p, handle);
  if (size) p.insert(p.end(), value, value + size);
  return p;
}

// The ATT error a failed operation is shown with: "Unlikely Error".
constexpr uint8_t kAttUnlikelyError = 0x0E;

std::vector<uint8_t> errorResponse(uint8_t request, uint16_t handle) {
  std::vector<uint8_t> p = {ATT_ERROR_RESPONSE, request};
  putLe16(p, handle);
  p.push_back(kAttUnlikelyError);
  return p;
}

}  // namespace

std::unique_ptr<CaptureWriter> CaptureWriter::create(const std::string& path, std::string& error) {
  return create(path, error, Options());
}

std::unique_ptr<CaptureWriter> CaptureWriter::create(const std::string& path, std::string& error, Options options) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  std::vector<uint8_t> header = fileHeader();
  if (!file || std::fwrite(header.data(), 1, header.size(), file) != header.size() || std::fflush(file) != 0) {
    error = path + ": cannot be written (" + std::strerror(errno) + ")";
    if (file) std::fclose(file);
    return nullptr;
  }
  return std::unique_ptr<CaptureWriter>(new CaptureWriter(file, path, options));
}

CaptureWriter::CaptureWriter(std::FILE* file, std::string path, Options options)
    : file_(file), path_(std::move(path)), options_(options) {
  if (options_.background) thread_ = std::thread([this] { run(); });
}

CaptureWriter::~CaptureWriter() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  flush();
  std::fclose(file_);
}

void CaptureWriter::add(uint32_t flags, std::vector<uint8_t> packet) {
  Record r{nowUs(), flags, std::move(packet)};
  bool wake = false;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.size() >= options_.capacity) {
      ++dropped_;
      return;
    }
    queue_.push_back(std::move(r));
    wake = queue_.size() == options_.capacity / 2;  // half full: write now rather than at the second
  }
  if (wake) wake_.notify_all();
}

void CaptureWriter::att(bool received, std::vector<uint8_t> p) { add(received ? kFlagReceived : 0, attPacket(p)); }

void CaptureWriter::peerSeen(const std::string& address, const std::string& name) {
  for (auto& p : advertisingPackets(address, name, -50)) add(kFlagReceived | kFlagCommandOrEvent, std::move(p));
}

void CaptureWriter::connected(const std::string& address) {
  add(kFlagReceived | kFlagCommandOrEvent, connectionCompletePacket(address));
  // The stack agrees on the MTU out of the link's sight; Wireshark is told
  // of it, or it takes notifications past 20 bytes for faults.
  std::vector<uint8_t> mtu = {ATT_EXCHANGE_MTU_REQUEST};
  putLe16(mtu, kAttMtu);
  att(false, mtu);
  mtu[0] = ATT_EXCHANGE_MTU_RESPONSE;
  att(true, mtu);
}

void CaptureWriter::disconnected(uint8_t reason) {
  add(kFlagReceived | kFlagCommandOrEvent, disconnectionCompletePacket(reason));
}

void CaptureWriter::readRequest(const std::string& uuid) {
  if (uint16_t h = handleOf(uuid)) att(false, pdu(ATT_READ_REQUEST, h, nullptr, 0));
}

void CaptureWriter::readResponse(const std::string& uuid, const uint8_t* value, size_t size, bool ok) {
  uint16_t h = handleOf(uuid);
  if (!h) return;
  if (!ok) return att(true, errorResponse(ATT_READ_REQUEST, h));
  std::vector<uint8_t> p = {ATT_READ_RESPONSE};
  if (size) p.insert(p.end(), value, value + size);
  att(true, std::move(p));
}

void CaptureWriter::writeRequest(const std::string& uuid, const uint8_t* value, size_t size) {
  if (uint16_t h = handleOf(uuid)) att(false, pdu(ATT_WRITE_REQUEST, h, value, size));
}

void CaptureWriter::writeCommand(const std::string& uuid, const uint8_t* value, size_t size) {
  if (uint16_t h = handleOf(uuid)) att(false, pdu(ATT_WRITE_COMMAND, h, value, size));
}

void CaptureWriter::writeResponse(const std::string& uuid, bool ok) {
  uint16_t h = handleOf(uuid);
  if (!h) return;
  att(true, ok ? std::vector<uint8_t>{ATT_WRITE_RESPONSE} : errorResponse(ATT_WRITE_REQUEST, h));
}

void CaptureWriter::subscribeRequest() {
  const uint8_t enable[2] = {0x01, 0x00};
  att(false, pdu(ATT_WRITE_REQUEST, kHandleDataConfig, enable, sizeof enable));
}

void CaptureWriter::notification(const std::string& uuid, const uint8_t* value, size_t size) {
  if (uint16_t h = handleOf(uuid)) att(true, pdu(ATT_NOTIFICATION, h, value, size));
}

void CaptureWriter::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    wake_.wait_for(lock, std::chrono::seconds(1), [&] { return stop_ || queue_.size() >= options_.capacity / 2; });
    std::deque<Record> batch;
    batch.swap(queue_);
    lock.unlock();
    writeOut(batch);
    lock.lock();
  }
}

void CaptureWriter::flush() {
  std::deque<Record> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(queue_);
  }
  writeOut(batch);
}

void CaptureWriter::writeOut(std::deque<Record>& records) {
  std::lock_guard<std::mutex> lock(fileMutex_);
  for (const Record& r : records) {
    std::vector<uint8_t> bytes = encodeRecord(r);
    // A disk that fails once is not written to again: the rest counts as dropped.
    if (!failed_ && std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size())
      ++written_;
    else
      failed_ = true, ++dropped_;
  }
  if (!failed_ && std::fflush(file_) != 0) failed_ = true;
  uint64_t dropped = dropped_.load();
  if (dropped > reported_) {
    reported_ = dropped;
    if (onDropped) onDropped(dropped);
  }
}

}  // namespace okt::capture
