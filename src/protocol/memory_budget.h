#pragma once

#include <cstddef>

namespace okt {

// Bytes the peripheral has made us store (table pages, bodies, texts, values,
// part buffers). Whatever it claims, we never hold more than the limit:
// an element that would pass it is refused.
class MemoryBudget {
 public:
  static constexpr size_t kDefaultLimit = size_t{128} << 20;

  MemoryBudget() = default;
  explicit MemoryBudget(size_t limit) : limit_(limit) {}

  bool take(size_t bytes) {
    if (bytes > limit_ - used_) return false;
    used_ += bytes;
    return true;
  }
  void give(size_t bytes) { used_ = bytes > used_ ? 0 : used_ - bytes; }
  // Exchanges a holding of `oldBytes` for one of `newBytes`, or refuses.
  bool change(size_t oldBytes, size_t newBytes) {
    if (newBytes > oldBytes) return take(newBytes - oldBytes);
    give(oldBytes - newBytes);
    return true;
  }
  void reset() { used_ = 0; }

  size_t used() const { return used_; }
  size_t limit() const { return limit_; }
  void setLimit(size_t limit) { limit_ = limit; }

 private:
  size_t limit_ = kDefaultLimit;
  size_t used_ = 0;
};

}  // namespace okt
