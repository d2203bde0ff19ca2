// okt-client: the OKT desktop client.
//   okt-client [--ble-library NAME|PATH]
#include <QApplication>
#include <cstdio>
#include <string>

#include "shell/qt/client_app.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string library;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--ble-library" && i + 1 < argc) {
      library = argv[++i];
    } else {
      std::fprintf(stderr, "usage: okt-client [--ble-library NAME|PATH]\n");
      return 2;
    }
  }
  return okt::runClient(app, library);
}
