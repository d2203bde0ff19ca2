#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace okt::platform {
namespace {

std::mutex& logMutex() {
  static std::mutex m;
  return m;
}

LogSink& currentSink() {
  static LogSink sink;
  return sink;
}

void writeLocked(const std::string& text) {
  LogSink& sink = currentSink();
  if (sink) {
    sink(text);
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }
}

}  // namespace

void logf(const char* format, ...) {
  char small[512];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int n = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (n < 0) {
    va_end(copy);
    return;
  }
  if (static_cast<size_t>(n) < sizeof small) {
    text.assign(small, static_cast<size_t>(n));
  } else {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, copy);
    text.assign(big.data(), static_cast<size_t>(n));
  }
  va_end(copy);
  logText(text);
}

void logText(const std::string& text) {
  std::lock_guard<std::mutex> lock(logMutex());
  writeLocked(text);
}

LogSink setLogSink(LogSink sink) {
  std::lock_guard<std::mutex> lock(logMutex());
  LogSink old = std::move(currentSink());
  currentSink() = std::move(sink);
  return old;
}

}  // namespace okt::platform
