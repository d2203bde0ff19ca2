#pragma once

#include <string>

namespace okt::platform {

// Ends every process of this user whose executable is named `name`, never
// this process. Returns how many were ended (0 where the system offers no
// way to find them).
int endProcessesNamed(const std::string& name);

}  // namespace okt::platform
