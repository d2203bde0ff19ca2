#pragma once

#include <cstdint>

namespace okt::platform {

// The last resort of a program that is ending: if the process still exists
// `ms` from now (a library call that never returns, a thread that cannot be
// stopped), it ends then with `code`, after one line on standard error.
// The program's own ending is orderly; this only bounds it. Not for code that
// goes on running afterwards (tests): it cannot be called off.
void endProcessAfter(uint32_t ms, int code);

}  // namespace okt::platform
