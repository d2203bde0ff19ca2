#pragma once

#include <string>

namespace okt::platform {

// The file name the system gives the shared library `base`:
// libBASE.so, libBASE.dylib or BASE.dll.
std::string sharedLibraryName(const std::string& base);

// Opens a shared library by path, or by a bare name searched the system's
// way. Returns null on failure, with the loader's own words in `reason`.
void* openSharedLibrary(const std::string& nameOrPath, std::string& reason);

// The address of the exported `symbol`, or null.
void* sharedLibrarySymbol(void* library, const char* symbol);

void closeSharedLibrary(void* library);

}  // namespace okt::platform
