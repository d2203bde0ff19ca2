#pragma once

#include <string>

#include "platform/log.h"

namespace okt::fuzz {

// The program's log lines are of no use while fuzzing and cost time: they go
// nowhere from the first input on.
inline void quietLogs() {
  static const bool quiet = [] {
    platform::setLogSink([](const std::string&) {});
    return true;
  }();
  (void)quiet;
}

}  // namespace okt::fuzz
