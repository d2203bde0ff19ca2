#pragma once

#include <cstdint>

namespace okt::platform {

// Milliseconds from a steady clock, truncated to 32 bits: it wraps after
// about 49.7 days, and every user compares ticks with unsigned differences.
uint32_t tickCount();

void sleepMs(uint32_t milliseconds);

}  // namespace okt::platform
