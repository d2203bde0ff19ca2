#include "platform/shared_library.h"

#ifdef _WIN32
#include <windows.h>

#include <filesystem>
#else
#include <dlfcn.h>
#endif

namespace okt::platform {

std::string sharedLibraryName(const std::string& base) {
#if defined(_WIN32)
  return base + ".dll";
#elif defined(__APPLE__)
  return "lib" + base + ".dylib";
#else
  return "lib" + base + ".so";
#endif
}

#ifdef _WIN32

namespace {

std::string lastErrorText() {
  DWORD code = GetLastError();
  char* text = nullptr;
  FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string reason = text ? text : "error " + std::to_string(code);
  if (text) LocalFree(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
  return reason;
}

}  // namespace

void* openSharedLibrary(const std::string& nameOrPath, std::string& reason) {
  // Paths are UTF-8 here, as everywhere in the program.
  std::filesystem::path path(std::u8string(nameOrPath.begin(), nameOrPath.end()));
  HMODULE module = LoadLibraryW(path.wstring().c_str());
  if (!module) reason = nameOrPath + ": " + lastErrorText();
  return reinterpret_cast<void*>(module);
}

void* sharedLibrarySymbol(void* library, const char* symbol) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), symbol));
}

void closeSharedLibrary(void* library) {
  if (library) FreeLibrary(static_cast<HMODULE>(library));
}

#else

void* openSharedLibrary(const std::string& nameOrPath, std::string& reason) {
  void* library = dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    const char* text = dlerror();
    reason = text ? text : "unknown reason";
  }
  return library;
}

void* sharedLibrarySymbol(void* library, const char* symbol) { return dlsym(library, symbol); }

void closeSharedLibrary(void* library) {
  if (library) dlclose(library);
}

#endif

}  // namespace okt::platform
