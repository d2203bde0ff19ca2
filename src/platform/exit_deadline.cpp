#include "platform/exit_deadline.h"

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/tick.h"

namespace okt::platform {

void endProcessAfter(uint32_t ms, int code) {
  std::thread([ms, code] {
    sleepMs(ms);
    std::fputs("The program took too long to end: ending it now\n", stderr);
    std::fflush(stdout);
    std::_Exit(code);
  }).detach();
}

}  // namespace okt::platform
