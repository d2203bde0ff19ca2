#include "platform/paths.h"

#include <filesystem>
#include <system_error>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__APPLE__)
#include <mach-o/dyld.h>

#include <vector>
#endif

#ifndef OKT_OWN_LIBRARY_DIR
#define OKT_OWN_LIBRARY_DIR "."
#endif

namespace okt::platform {

namespace fs = std::filesystem;

namespace {

fs::path executablePath() {
#if defined(_WIN32)
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) return fs::path(buffer.substr(0, n));
    buffer.resize(buffer.size() * 2);
  }
#elif defined(__APPLE__)
  uint32_t size = 0;
  _NSGetExecutablePath(nullptr, &size);
  std::vector<char> buffer(size + 1);
  if (_NSGetExecutablePath(buffer.data(), &size) != 0) return {};
  std::error_code ec;
  fs::path resolved = fs::canonical(buffer.data(), ec);
  return ec ? fs::path(buffer.data()) : resolved;
#else
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  return ec ? fs::path() : exe;
#endif
}

std::string utf8(const fs::path& p) {
  std::u8string text = p.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace

std::string executableDirectory() {
  fs::path exe = executablePath();
  return exe.empty() ? std::string() : utf8(exe.parent_path());
}

std::string ownLibraryDirectory() {
  fs::path exe = executablePath();
  return exe.empty() ? std::string() : utf8((exe.parent_path() / OKT_OWN_LIBRARY_DIR).lexically_normal());
}

}  // namespace okt::platform
