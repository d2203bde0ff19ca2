#pragma once

namespace okt::platform {

// Interrupts, termination requests and crashes end the program at once with
// code 1, after one line on standard error that names the signal.
void installSignalHandlers();

}  // namespace okt::platform
