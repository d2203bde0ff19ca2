#include "protocol/wire.h"

#include <cstring>

namespace okt {

uint8_t* putU16(uint8_t* pos, uint32_t value) {
  pos[0] = static_cast<uint8_t>(value >> 8);
  pos[1] = static_cast<uint8_t>(value);
  return pos + 2;
}

uint8_t* putU24(uint8_t* pos, uint32_t value) {
  pos[0] = static_cast<uint8_t>(value >> 16);
  pos[1] = static_cast<uint8_t>(value >> 8);
  pos[2] = static_cast<uint8_t>(value);
  return pos + 3;
}

uint8_t* putU32(uint8_t* pos, uint32_t value) {
  pos[0] = static_cast<uint8_t>(value >> 24);
  pos[1] = static_cast<uint8_t>(value >> 16);
  pos[2] = static_cast<uint8_t>(value >> 8);
  pos[3] = static_cast<uint8_t>(value);
  return pos + 4;
}

const uint8_t* getU16(const uint8_t* pos, uint16_t* out) {
  if (out) *out = static_cast<uint16_t>((pos[0] << 8) | pos[1]);
  return pos + 2;
}

const uint8_t* getU24(const uint8_t* pos, uint32_t* out) {
  if (out) *out = (uint32_t{pos[0]} << 16) | (uint32_t{pos[1]} << 8) | pos[2];
  return pos + 3;
}

const uint8_t* getU32(const uint8_t* pos, uint32_t* out) {
  if (out) *out = (uint32_t{pos[0]} << 24) | (uint32_t{pos[1]} << 16) | (uint32_t{pos[2]} << 8) | pos[3];
  return pos + 4;
}

bool WireReader::need(size_t n) {
  if (failed_ || static_cast<size_t>(end_ - pos_) < n) {
    failed_ = true;
    return false;
  }
  return true;
}

bool WireReader::u8(uint8_t& out) {
  if (!need(1)) return false;
  out = *pos_++;
  return true;
}

bool WireReader::u16(uint16_t& out) {
  if (!need(2)) return false;
  pos_ = getU16(pos_, &out);
  return true;
}

bool WireReader::u24(uint32_t& out) {
  if (!need(3)) return false;
  pos_ = getU24(pos_, &out);
  return true;
}

bool WireReader::u32(uint32_t& out) {
  if (!need(4)) return false;
  pos_ = getU32(pos_, &out);
  return true;
}

bool WireReader::skip(size_t n) {
  if (!need(n)) return false;
  pos_ += n;
  return true;
}

bool WireReader::bytes(size_t n, const uint8_t*& out) {
  if (!need(n)) return false;
  out = pos_;
  pos_ += n;
  return true;
}

std::string WireReader::text(size_t maxBytes) {
  if (failed_) return {};
  size_t avail = static_cast<size_t>(end_ - pos_);
  size_t limit = avail < maxBytes ? avail : maxBytes;
  const void* zero = std::memchr(pos_, 0, limit);
  size_t len = zero ? static_cast<size_t>(static_cast<const uint8_t*>(zero) - pos_) : limit;
  std::string result(reinterpret_cast<const char*>(pos_), len);
  pos_ += zero ? len + 1 : len;
  return result;
}

}  // namespace okt
