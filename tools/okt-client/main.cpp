// okt-client: the OKT desktop client.
//   okt-client [--ble-library NAME|PATH] [--no-reconnect]
#include <QApplication>
#include <cstdio>
#include <string>

#include "platform/exit_deadline.h"
#include "shell/qt/client_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  okt::ClientOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--ble-library" && i + 1 < argc) {
      options.bleLibrary = argv[++i];
    } else if (a == "--no-reconnect") {
      options.reconnect = false;
    } else {
      std::fprintf(stderr, "usage: okt-client [--ble-library NAME|PATH] [--no-reconnect]\n");
      return 2;
    }
  }
  // Once the window has closed the process is gone within a second, whatever
  // the Bluetooth stack is doing (cut short, it ends with code 1).
  options.onQuit = [] { okt::platform::endProcessAfter(900, 1); };
  return okt::runClient(app, options);
}
