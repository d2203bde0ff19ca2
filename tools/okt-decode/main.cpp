// okt-decode: shows what the client holds after it has downloaded a device.
//
//   okt-decode [FILE|-]                 play a recorded session
//   okt-decode --device demo|FILE.json  connect to an emulated device
//
// A recorded session holds one notification per line in hexadecimal (spaces
// allowed); '#' starts a comment. The first INFO sizes the tables as a
// connect would.
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "emulator/in_process_client.h"
#include "okt_version.h"
#include "platform/log.h"
#include "protocol/decoder.h"
#include "protocol/protocol.h"

using namespace okt;

namespace {

constexpr const char* kUsage =
    "usage: okt-decode [FILE|-]\n"
    "       okt-decode --device demo|FILE.json\n"
    "Shows the client's tables (texts, variables, objects) after a download: from a\n"
    "recorded session, one notification a line in hexadecimal ('#' starts a comment;\n"
    "standard input when FILE is - or missing), or from an emulated device.\n"
    "\n"
    "  --device demo|FILE.json  connect to an emulated device (demo: the built-in one)\n"
    "  --help                   show this text and exit\n"
    "  --version                show the version and exit\n";

bool parseHexLine(const std::string& line, std::vector<uint8_t>& out, std::string& error) {
  out.clear();
  int high = -1;
  for (char c : line) {
    if (c == '#') break;
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) {
      error = std::string("not a hex digit: '") + c + "'";
      return false;
    }
    int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10);
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) {
    error = "odd number of hex digits";
    return false;
  }
  return true;
}

const char* typeName(uint32_t type) {
  switch (type) {
    case ObjectType::Screen: return "Screen";
    case ObjectType::Button: return "Button";
    case ObjectType::Menu: return "Menu";
    case ObjectType::Polyline: return "Polyline";
    case ObjectType::TextBox: return "TextBox";
    case ObjectType::SvgPicture: return "SvgPicture";
    case ObjectType::GifPicture: return "GifPicture";
    case ObjectType::DataBlock: return "DataBlock";
    case ObjectType::Gauge: return "Gauge";
    case ObjectType::PasswordPrompt: return "PasswordPrompt";
    case ObjectType::Popup: return "Popup";
    case ObjectType::LockObject: return "LockObject";
    case ObjectType::JpegPicture: return "JpegPicture";
    case ObjectType::Canvas: return "Canvas";
    default: return "?";
  }
}

void printTables(const ClientState& s) {
  std::printf("INFO: %u objects, %u texts, %u variables, home screen %u\n", s.objectCount, s.textCount, s.variableCount,
              s.homeScreen);
  std::printf("\nTexts:\n");
  s.pStrList.forEachStored([](uint32_t id, const TextEntry& e) {
    if (e.text) std::printf("  %6u  \"%s\"\n", id, e.text->c_str());
  });
  std::printf("\nVariables:\n");
  s.pVarList.forEachStored([&s](uint32_t id, const VariableEntry& e) {
    std::string shown;
    if (e.value.empty() || formatVariable(s, id, shown) != 0) return;
    std::printf("  %6u  type %2u  access %u  limits %u..%u  shows \"%s\"\n", id, e.type, e.access, e.minimum, e.maximum,
                shown.c_str());
  });
  std::printf("\nObjects:\n");
  s.pObjList.forEachStored([&s](uint32_t id, const ObjectEntry& e) {
    if (!e.loaded) return;
    std::printf("  %6u  %s", id, typeName(e.type));
    if (const auto* screen = bodyOf<ScreenBody>(s, id)) std::printf(", %u placements", screen->childCount);
    if (const auto* menu = bodyOf<MenuBody>(s, id)) std::printf(", %u items", menu->itemCount);
    if (const auto* blob = bodyOf<BlobBody>(s, id)) std::printf(", %u bytes", blob->size);
    std::printf("\n");
  });
  std::printf("\nStored: %zu bytes\n", s.budget.used());
}

}  // namespace

int fromDevice(const std::string& which) {
  emu::DeviceDescription d;
  std::string error;
  bool loaded = which == "demo" ? emu::loadDemoDevice(d, error) : emu::loadDeviceDescription(which, d, error);
  if (!loaded) {
    std::fprintf(stderr, "okt-decode: %s\n", error.c_str());
    return 2;
  }
  std::printf("Connected to the emulated device \"%s\" (%s)\n\n", d.name.c_str(), d.address.c_str());
  emu::InProcessClient client(std::move(d));
  if (!client.connect()) {
    std::fprintf(stderr, "okt-decode: the device did not answer GET_INFO\n");
    return 1;
  }
  std::printf("%zu requests sent\n\n", client.sent.size());
  printTables(client.p.state);
  return 0;
}

int main(int argc, char** argv) {
  std::string first = argc > 1 ? argv[1] : "-";
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (first == "--version") {
    std::printf("okt-decode %s\n", kVersion);
    return 0;
  }
  if (first == "--device" && argc == 3) return fromDevice(argv[2]);
  if (argc > 2 || (first.size() > 1 && first[0] == '-')) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::string path = first;
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    file.open(path);
    if (!file) {
      std::fprintf(stderr, "okt-decode: cannot open %s\n", path.c_str());
      return 2;
    }
    in = &file;
  }

  Protocol p;
  initQueue(p.queue);
  p.hooks.sleep = [](uint32_t) {};
  std::string line;
  std::vector<uint8_t> bytes;
  int lineNo = 0, messages = 0, refused = 0;
  while (std::getline(*in, line)) {
    ++lineNo;
    std::string error;
    if (!parseHexLine(line, bytes, error)) {
      std::fprintf(stderr, "okt-decode: %s:%d: %s\n", path.c_str(), lineNo, error.c_str());
      return 2;
    }
    if (bytes.empty()) continue;
    ++messages;
    if (!p.state.pObjList.exists()) {
      refused += decodeMessage(p, bytes.data(), bytes.size());
      if (p.state.infoReceived) {
        allocateObjectTable(p.state, p.state.objectCount);
        if (p.state.textCount) allocateTextTable(p.state, p.state.textCount);
        if (p.state.variableCount) allocateVariableTable(p.state, p.state.variableCount);
      }
      continue;
    }
    if (queueIsFull(p.queue)) drainReceiveQueue(p);
    queueNotification(p, bytes.data(), bytes.size());
    // Decode now so refusals can be counted per message.
    uint8_t buffer[kReceiveBufferBytes];
    int n = popMessage(p.queue, buffer, sizeof buffer);
    if (n >= 0) refused += decodeMessage(p, buffer, static_cast<size_t>(n));
  }
  std::printf("%d messages, %d refused\n\n", messages, refused);
  printTables(p.state);
  return 0;
}
