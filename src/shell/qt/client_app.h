#pragma once

#include <QApplication>
#include <functional>
#include <string>

namespace okt {

struct ClientOptions {
  std::string bleLibrary;       // the --ble-library argument, or empty
  bool reconnect = true;        // after a lost link, reconnect by itself (--no-reconnect: off)
  bool reconnectGiven = false;  // --no-reconnect was given: it wins over the setting
  std::string connectAddress;   // --connect ADDRESS: connect at start, without a scan
  std::string recordFile;       // --record FILE: the session as a btsnoop capture
  // Where the settings live (last device, recent devices, geometry, choices);
  // empty: the user's own settings. Tests give a file of their own.
  std::string settingsFile;
  // Called once when the window has closed, before the client ends its
  // threads and the link (okt-client bounds the rest of its life there).
  std::function<void()> onQuit;
};

// The desktop client: binds the Bluetooth library, starts the application
// worker and the protocol client's threads, shows the main window and runs
// until it is closed. Then nothing waits for the user or the device any
// more: open dialogs close as cancelled, pending Bluetooth waits end, and
// every thread is ended. Returns the process's exit code.
int runClient(QApplication& app, const ClientOptions& options);

}  // namespace okt
