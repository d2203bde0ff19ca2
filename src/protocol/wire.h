#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace okt {

// Big-endian field writers: store the value at pos, return the position after it.
uint8_t* putU16(uint8_t* pos, uint32_t value);
uint8_t* putU24(uint8_t* pos, uint32_t value);
uint8_t* putU32(uint8_t* pos, uint32_t value);

// Big-endian field readers: store the value in *out when out is given, return
// the position after the field. They do not check bounds; WireReader does.
const uint8_t* getU16(const uint8_t* pos, uint16_t* out);
const uint8_t* getU24(const uint8_t* pos, uint32_t* out);
const uint8_t* getU32(const uint8_t* pos, uint32_t* out);

constexpr uint32_t kNoId = 0xFFFFFF;
constexpr uint32_t kMaxValidId = 0xFFFFFE;
inline bool isValidId(uint32_t id) { return id <= kMaxValidId; }

// The one way received bytes are read: every read is checked against the end
// of what was received. A read past the end fails, leaves the output alone and
// marks the reader as failed; later reads fail too.
class WireReader {
 public:
  WireReader(const uint8_t* data, size_t size) : pos_(data), end_(data + size) {}

  bool u8(uint8_t& out);
  bool u16(uint16_t& out);
  bool u24(uint32_t& out);
  bool u32(uint32_t& out);
  bool skip(size_t n);
  // Points `out` at the next n bytes and moves past them.
  bool bytes(size_t n, const uint8_t*& out);
  // A zero-terminated text of at most maxBytes bytes, the zero included. The
  // text ends at its zero byte, after maxBytes bytes, or at the end of the data.
  // Returns the text without its zero.
  std::string text(size_t maxBytes = SIZE_MAX);

  size_t remaining() const { return failed_ ? 0 : static_cast<size_t>(end_ - pos_); }
  const uint8_t* position() const { return pos_; }
  bool failed() const { return failed_; }
  bool ok() const { return !failed_; }

 private:
  bool need(size_t n);

  const uint8_t* pos_;
  const uint8_t* end_;
  bool failed_ = false;
};

// Builds wire bytes (big-endian) into a growing buffer.
class WireWriter {
 public:
  WireWriter& u8(uint32_t v) {
    out_.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  WireWriter& u16(uint32_t v) { return u8(v >> 8).u8(v); }
  WireWriter& u24(uint32_t v) { return u8(v >> 16).u8(v >> 8).u8(v); }
  WireWriter& u32(uint32_t v) { return u8(v >> 24).u8(v >> 16).u8(v >> 8).u8(v); }
  WireWriter& bytes(const uint8_t* data, size_t n) {
    out_.insert(out_.end(), data, data + n);
    return *this;
  }
  WireWriter& bytes(const std::vector<uint8_t>& data) { return bytes(data.data(), data.size()); }
  // The text and its zero byte.
  WireWriter& text(std::string_view s) {
    out_.insert(out_.end(), s.begin(), s.end());
    return u8(0);
  }

  const std::vector<uint8_t>& data() const { return out_; }
  std::vector<uint8_t> take() { return std::move(out_); }
  size_t size() const { return out_.size(); }

 private:
  std::vector<uint8_t> out_;
};

}  // namespace okt
