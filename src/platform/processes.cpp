#include "platform/processes.h"

#ifdef __linux__
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#endif

namespace okt::platform {

#ifdef __linux__

int endProcessesNamed(const std::string& name) {
  namespace fs = std::filesystem;
  int killed = 0;
  const pid_t self = getpid();
  const uid_t me = getuid();
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    std::string pidText = entry.path().filename().string();
    if (pidText.empty() || pidText.find_first_not_of("0123456789") != std::string::npos) continue;
    pid_t pid = static_cast<pid_t>(std::stol(pidText));
    if (pid == self) continue;
    // Only this user's processes, matched on the executable's own name.
    std::ifstream status(entry.path() / "status");
    std::string line, comm;
    uid_t uid = static_cast<uid_t>(-1);
    while (std::getline(status, line)) {
      if (line.rfind("Name:", 0) == 0) comm = line.substr(line.find_first_not_of(" \t", 5));
      if (line.rfind("Uid:", 0) == 0) uid = static_cast<uid_t>(std::stoul(line.substr(4)));
    }
    std::error_code linkError;
    fs::path exe = fs::read_symlink(entry.path() / "exe", linkError);
    std::string exeName = linkError ? comm : exe.filename().string();
    if (uid != me || exeName != name) continue;
    if (kill(pid, SIGKILL) == 0) ++killed;
  }
  return killed;
}

#else

int endProcessesNamed(const std::string&) { return 0; }

#endif

}  // namespace okt::platform
