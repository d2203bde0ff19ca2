#include "platform/signals.h"

#include <csignal>
#include <cstring>
#include <initializer_list>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

namespace okt::platform {

namespace {

// Only calls that are safe in a signal handler.
void writeAndEnd(const char* line) {
#ifdef _WIN32
  int ignored = _write(2, line, static_cast<unsigned>(std::strlen(line)));
#else
  ssize_t ignored = write(STDERR_FILENO, line, std::strlen(line));
#endif
  (void)ignored;
  _exit(1);
}

extern "C" void onSignal(int sig) {
  const char* line = "Caught SIGTERM: a termination request was sent to the program\n";
  switch (sig) {
    case SIGINT: line = "Caught SIGINT: interactive attention signal, probably a ctrl+c\n"; break;
    case SIGILL: line = "Caught SIGILL: illegal instruction\n"; break;
    case SIGFPE: line = "Caught SIGFPE: arithmetic exception, such as divide by zero\n"; break;
    case SIGSEGV: line = "Caught SIGSEGV: segfault\n"; break;
    case SIGABRT: line = "Caught SIGABRT: usually caused by an abort() or assert()\n"; break;
    default: break;
  }
  writeAndEnd(line);
}

}  // namespace

void installSignalHandlers() {
  for (int sig : {SIGABRT, SIGFPE, SIGILL, SIGINT, SIGSEGV, SIGTERM}) std::signal(sig, onSignal);
}

}  // namespace okt::platform
