#pragma once

#include <string>

namespace okt::platform {

// The folder of the running program's executable, symbolic links resolved;
// empty if the system does not say.
std::string executableDirectory();

// Where an installed program keeps its own shared libraries (the Bluetooth
// ones): a folder found from the executable's, so an installed tree works
// wherever it is unpacked.
std::string ownLibraryDirectory();

}  // namespace okt::platform
