#pragma once

// A private D-Bus bus standing in for the system bus, and the fake BlueZ on
// it. The bus is started once per test program, before anything in the
// program talks D-Bus (Qt takes the system bus address once); the fake can
// be started again with other options for each test.
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace okt::test {

class FakeBluezBus {
 public:
  // Starts dbus-daemon and points DBUS_SYSTEM_BUS_ADDRESS at it.
  bool startBus(std::string& error) {
    std::string line;
    if (!spawn({"dbus-daemon", "--session", "--nofork", "--print-address=1", "--address=unix:tmpdir=/tmp"}, busPid_,
               line, error))
      return false;
    address_ = line;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", address_.c_str(), 1);
    return true;
  }

  // (Re)starts the fake with these options; it has taken org.bluez when this returns true.
  bool startPeripheral(const std::string& program, std::vector<std::string> options, std::string& error) {
    stopPeripheral();
    logPath_ = "/tmp/okt-fake-bluez-" + std::to_string(getpid()) + ".log";
    std::remove(logPath_.c_str());
    std::vector<std::string> argv{program, "--log", logPath_};
    argv.insert(argv.end(), options.begin(), options.end());
    std::string line;
    if (!spawn(argv, peripheralPid_, line, error)) return false;
    if (line != "ready") {
      error = "fake-bluez said: " + line;
      return false;
    }
    return true;
  }

  void stopPeripheral() { stop(peripheralPid_); }

  // Calls a method of the fake's control object; true when it answered.
  bool control(const std::string& method) {
    std::string command = "dbus-send --bus='" + address_ +
                          "' --print-reply --dest=org.bluez /org/okt/fake org.okt.FakeBluez." + method + " >/dev/null";
    return std::system(command.c_str()) == 0;
  }

  // Every method the fake was asked for, a line each ("Member path [hex]").
  std::string calls() const {
    std::ifstream in(logPath_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  ~FakeBluezBus() {
    stopPeripheral();
    stop(busPid_);
    if (!logPath_.empty()) std::remove(logPath_.c_str());
  }

 private:
  // Starts a program and reads the first line it prints (within 10 s).
  static bool spawn(const std::vector<std::string>& args, pid_t& pid, std::string& firstLine, std::string& error) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t parent = getpid();
    pid = fork();
    if (pid == 0) {
      // The program ends with the test, however the test ends (a sanitizer
      // stops it, a timeout kills it). Left behind, it would keep the
      // test's output pipe open and whoever reads it waiting for ever.
      prctl(PR_SET_PDEATHSIG, SIGKILL);
      if (getppid() != parent) _exit(127);
      dup2(fds[1], 1);
      close_range(3, ~0U, 0);  // nothing else the test holds goes with it
      execvp(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
      close(fds[0]);
      error = "cannot start " + args[0];
      pid = 0;
      return false;
    }
    firstLine.clear();
    char c;
    pollfd p{fds[0], POLLIN, 0};
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') firstLine += c;
    close(fds[0]);  // both programs print nothing more on their output
    if (firstLine.empty()) {
      error = args[0] + " did not start";
      stop(pid);
      return false;
    }
    return true;
  }

  static void stop(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = 0;
  }

  pid_t busPid_ = 0;
  pid_t peripheralPid_ = 0;
  std::string address_;
  std::string logPath_;
};

}  // namespace okt::test
