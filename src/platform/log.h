#pragma once

#include <functional>
#include <string>

namespace okt::platform {

// Where finished log text goes. The default writes to standard output.
using LogSink = std::function<void(const std::string&)>;

// printf-style logging. The text is formatted first and handed to the sink in
// one piece under a lock, so lines from different threads never interleave.
void logf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Logs text as it stands (no formatting).
void logText(const std::string& text);

// Replaces the sink; returns the previous one. An empty sink restores stdout.
LogSink setLogSink(LogSink sink);

}  // namespace okt::platform
