// okt-client: the OKT desktop client.
//   okt-client [--ble-library NAME|PATH] [--no-reconnect] [--connect ADDRESS] [--record FILE]
#include <QApplication>
#include <cstdio>
#include <string>

#include "okt_version.h"
#include "platform/exit_deadline.h"
#include "shell/qt/client_app.h"
#include "shell/qt/main_window.h"

namespace {

constexpr const char* kUsage =
    "usage: okt-client [OPTION]...\n"
    "The desktop client for Operator Kiosk Transport devices.\n"
    "\n"
    "  --ble-library NAME|PATH  the Bluetooth library to use (default: the QtBluetooth one;\n"
    "                           okt-warble-emulator runs the emulated demo device)\n"
    "  --connect ADDRESS        connect to this device at start, without a scan\n"
    "  --no-reconnect           do not reconnect by itself when the link is lost\n"
    "  --record FILE            write every Bluetooth exchange to FILE, a btsnoop capture\n"
    "                           that Wireshark opens and okt-render can replay\n"
    "  --help                   show this text and exit\n"
    "  --version                show the version and exit\n";

}  // namespace

int main(int argc, char** argv) {
  // The command line is read before Qt is: --help and --version need no display.
  okt::ClientOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    bool hasValue = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (a == "--version") {
      std::printf("okt-client %s\n", okt::kVersion);
      return 0;
    } else if (a == "--ble-library" && hasValue) {
      options.bleLibrary = argv[++i];
    } else if (a == "--connect" && hasValue) {
      options.connectAddress = argv[++i];
    } else if (a == "--record" && hasValue) {
      options.recordFile = argv[++i];
    } else if (a == "--no-reconnect") {
      options.reconnect = false;
      options.reconnectGiven = true;
    } else {
      if (a == "--ble-library" || a == "--connect" || a == "--record")
        std::fprintf(stderr, "okt-client: %s needs a value\n", a.c_str());
      else
        std::fprintf(stderr, "okt-client: unknown option '%s'\n", a.c_str());
      std::fputs("Try 'okt-client --help'.\n", stderr);
      return 2;
    }
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("okt-client");
  QApplication::setApplicationVersion(okt::kVersion);
  // Ties the window to its desktop entry (icon and name in docks and task lists).
  QGuiApplication::setDesktopFileName("org.okt.Client");
  // Once the window has closed the process is gone within a second, whatever
  // the Bluetooth stack is doing (cut short, it ends with code 1).
  options.onQuit = [] { okt::platform::endProcessAfter(900, 1); };
  return okt::runClient(app, options);
}
