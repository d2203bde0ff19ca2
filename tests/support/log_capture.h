#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"

namespace okt::test {

// Collects log output for the lifetime of the object.
class LogCapture {
 public:
  LogCapture() {
    previous_ = platform::setLogSink([this](const std::string& text) {
      std::lock_guard<std::mutex> lock(mutex_);
      text_ += text;
    });
  }
  ~LogCapture() { platform::setLogSink(std::move(previous_)); }

  std::string text() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return text_;
  }
  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::string all = text();
    size_t start = 0;
    for (size_t nl; (nl = all.find('\n', start)) != std::string::npos; start = nl + 1)
      out.push_back(all.substr(start, nl - start));
    if (start < all.size()) out.push_back(all.substr(start));
    return out;
  }

 private:
  mutable std::mutex mutex_;
  std::string text_;
  platform::LogSink previous_;
};

}  // namespace okt::test
