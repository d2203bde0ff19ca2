#pragma once

#include <cstdint>
#include <functional>

#include "platform/tick.h"

namespace okt::test {

// Polls `condition` until it holds; false if it still does not after
// `timeoutMs`.
inline bool waitUntil(const std::function<bool()>& condition, uint32_t timeoutMs = 5000) {
  for (uint32_t start = platform::tickCount(); !condition();) {
    if (platform::tickCount() - start > timeoutMs) return false;
    platform::sleepMs(2);
  }
  return true;
}

}  // namespace okt::test
