// okt-render: the OKT client without a window. It connects to an emulated
// peripheral, plays a script of user actions and dialog answers, and writes
// the display area as PNG pictures.
//
//   okt-render [--device demo|FILE.json|FILE.btsnoop] [--replay FILE.btsnoop] [--record FILE.btsnoop]
//              [--size WxH] [--out DIR] [--every-frame]
//              [--ble-library NAME|PATH [--address ADDR] [--no-reconnect]] [SCRIPT|-]
//     click X Y | prev | next | back | wait MS | snap NAME
//     answer popup N|cancel | answer password TEXT|cancel | answer edit VALUE...|cancel
//     drop | disconnect | await STATE [MS]     (through a Bluetooth library)
//   okt-render --crawl OUTDIR [--limit N] [--device ...] [--size WxH]
//   okt-render --check FILE.json
//   okt-render picture FILE OUT.png
#include <QDir>
#include <QFile>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QSvgRenderer>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "ble/binding.h"
#include "ble/connect_flow.h"
#include "ble/link.h"
#include "capture/capture_writer.h"
#include "crawl.h"
#include "emulator/loopback_link.h"
#include "engine/engine.h"
#include "headless.h"
#include "images/gif_decoder.h"
#include "images/jpeg_decoder.h"
#include "images/svg_render.h"
#include "okt_version.h"
#include "platform/log.h"
#include "platform/tick.h"
#include "protocol/requests.h"
#include "shell/connection_manager.h"

using namespace okt;

namespace {

constexpr const char* kUsage =
    "usage: okt-render [OPTION]... [SCRIPT|-]\n"
    "       okt-render --crawl OUTDIR [--limit N] [--device demo|FILE.json] [--size WxH]\n"
    "       okt-render --check FILE.json\n"
    "       okt-render picture FILE OUT.png\n"
    "The OKT client without a window: connects to an emulated device, plays a script\n"
    "of user actions and dialog answers, and writes the display as PNG pictures.\n"
    "\n"
    "  --device demo|FILE.json  the emulated device (default: the built-in demo)\n"
    "  --size WxH               the display area in pixels (default: the window's at 100 %)\n"
    "  --out DIR                where the pictures go (default: the current folder)\n"
    "  --every-frame            also write every frame the client presents\n"
    "  --record FILE            write every Bluetooth exchange to FILE, a btsnoop capture\n"
    "  --replay FILE            the device is a capture: it answers as the recorded one did\n"
    "  --ble-library NAME|PATH  connect through this Bluetooth library instead of in-process\n"
    "  --address ADDRESS        the device to connect to through the library\n"
    "  --no-reconnect           do not reconnect when the library's link is lost\n"
    "  --crawl OUTDIR           press everything from home on, breadth first; write each distinct\n"
    "                           display as a PNG and OUTDIR/index.html, the path to each\n"
    "  --limit N                with --crawl: at most N displays and dialogs (default 200)\n"
    "  --check FILE.json        check a device description and print every fault in it\n"
    "  --help                   show this text and exit\n"
    "  --version                show the version and exit\n"
    "\n"
    "Script lines (without a script: snap home):\n"
    "  click X Y | prev | next | back | wait MS | snap NAME\n"
    "  answer popup N|cancel | answer password TEXT|cancel | answer edit VALUE|cancel\n"
    "  drop | disconnect | await STATE [MS]   (with --ble-library)\n"
    "\n"
    "Exit status: 0 success; 1 a device, script or picture could not be read or written,\n"
    "the connection failed, or the description checked has faults; 2 a wrong command line\n"
    "or script line.\n";

int fail(const std::string& message, int code = 2) {
  std::fprintf(stderr, "okt-render: %s\n", message.c_str());
  return code;
}

// The display area of the main window: 300 x 340 dialog units.
QSize defaultDisplaySize() {
  QFontMetrics m(QGuiApplication::font());
  int baseX = m.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz") / 52;
  int baseY = m.height();
  return {300 * baseX / 4, 340 * baseY / 8};
}

int renderPicture(const std::string& file, const std::string& out) {
  QFile f(QString::fromStdString(file));
  if (!f.open(QIODevice::ReadOnly)) return fail("cannot read " + file, 1);
  QByteArray data = f.readAll();
  const auto* bytes = reinterpret_cast<const uint8_t*>(data.constData());
  QImage image;
  if (data.startsWith("\xFF\xD8")) {
    auto ctx = std::make_unique<JpegContext>();
    jpegInit(*ctx);
    if (jpegDecode(*ctx, bytes, static_cast<uint32_t>(data.size())) != Ok)
      return fail(file + ": JPG: Error decoding the input file.", 1);
    int w = jpegWidth(*ctx), h = jpegHeight(*ctx);
    image = QImage(w, h, QImage::Format_RGB888);
    const uint8_t* p = jpegPixels(*ctx);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const uint8_t* px = jpegIsColour(*ctx) ? p + (size_t(y) * w + x) * 3 : nullptr;
        uint8_t g = jpegIsColour(*ctx) ? 0 : p[size_t(y) * w + x];
        image.setPixel(x, y, px ? qRgb(px[0], px[1], px[2]) : qRgb(g, g, g));
      }
    jpegRelease(*ctx);
  } else if (data.startsWith("GIF")) {
    GifDecoder g;
    if (gifDecode(g, bytes, static_cast<uint32_t>(data.size())) != 0)
      return fail(file + ": GIF: Error decoding the input file.", 1);
    if (gifWidth(g) == 0 || gifHeight(g) == 0) return fail(file + ": the picture is empty", 1);
    image = QImage(g.pixels.data(), gifWidth(g), gifHeight(g), gifWidth(g) * 4, QImage::Format_ARGB32).copy();
  } else {
    QByteArray text = data + '\0';
    QSvgRenderer r(data);
    QSizeF size = r.defaultSize().isEmpty() ? r.viewBoxF().size() : QSizeF(r.defaultSize());
    auto picture = renderSvg(text.constData(), static_cast<uint32_t>(size.width()));
    if (!picture) return fail(file + ": SVG: Error rendering SVG string", 1);
    image = QImage(picture->pixels.data(), static_cast<int>(picture->width), static_cast<int>(picture->height),
                   static_cast<int>(picture->width) * 4, QImage::Format_RGBA8888)
                .copy();
  }
  if (!image.save(QString::fromStdString(out))) return fail("cannot write " + out, 1);
  std::printf("%s: %d x %d\n", out.c_str(), image.width(), image.height());
  return 0;
}

// The connect sequence's progress, printed a line a step (there is no
// connecting dialog to show it).
class PrintedProgress : public ConnectDialogs {
 public:
  void scanListChanged() override {}
  bool showProgress(int, const std::string&) override { return true; }
};

bool phaseNamed(const std::string& name, ConnectionPhase& out) {
  for (int i = 0; i <= static_cast<int>(ConnectionPhase::Disconnecting); ++i)
    if (name == phaseName(static_cast<ConnectionPhase>(i))) {
      out = static_cast<ConnectionPhase>(i);
      return true;
    }
  return false;
}

// Prints every fault of a device description, one a line.
int checkDescription(const std::string& path) {
  emu::DeviceDescription description;
  std::vector<std::string> faults;
  if (emu::loadDeviceDescription(path, description, faults)) {
    std::printf("%s: no faults\n", path.c_str());
    return 0;
  }
  for (const std::string& f : faults) std::printf("%s\n", f.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--version") {
      std::printf("okt-render %s\n", kVersion);
      return 0;
    }
    if (a == "--check") {
      if (args.size() != 2 || args[0] != "--check") return fail("--check takes one FILE.json and nothing else");
      return checkDescription(args[1]);
    }
  }
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (!args.empty() && args[0] == "picture") {
    if (args.size() != 3) return fail("usage: okt-render picture FILE OUT.png");
    return renderPicture(args[1], args[2]);
  }

  std::string device = "demo", outDir = ".", scriptPath, bleLibrary, address, recordPath, crawlDir;
  long limit = -1;
  bool replay = false;
  bool reconnect = true;
  bool everyFrame = false;
  QSize size = defaultDisplaySize();
  std::vector<std::string> given;  // the options, to refuse those a crawl does not take
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    given.push_back(a);
    if (a == "--device")
      device = value();
    else if (a == "--replay")
      device = value(), replay = true;
    else if (a == "--record")
      recordPath = value();
    else if (a == "--ble-library")
      bleLibrary = value();
    else if (a == "--address")
      address = value();
    else if (a == "--out")
      outDir = value();
    else if (a == "--every-frame")
      everyFrame = true;
    else if (a == "--no-reconnect")
      reconnect = false;
    else if (a == "--crawl") {
      crawlDir = value();
      if (crawlDir.empty() || crawlDir.rfind("--", 0) == 0) return fail("--crawl takes the folder the sheet goes to");
    } else if (a == "--limit") {
      std::string n = value();
      char* end = nullptr;
      limit = std::strtol(n.c_str(), &end, 10);
      if (n.empty() || *end || limit < 1 || limit > 100000) return fail("--limit takes a number from 1 to 100000");
    } else if (a == "--size") {
      int w = 0, h = 0;
      if (std::sscanf(value().c_str(), "%dx%d", &w, &h) != 2 || w < 16 || h < 16 || w > 8192 || h > 8192)
        return fail("--size takes WxH, for example 450x552");
      size = {w, h};
    } else if (!a.empty() && a[0] == '-' && a != "-")
      return fail("unknown option " + a);
    else
      scriptPath = a;
  }
  if (crawlDir.empty() && limit > 0) return fail("--limit is for --crawl");
  if (!crawlDir.empty()) {
    if (!scriptPath.empty()) return fail("--crawl takes no script");
    for (const char* o :
         {"--out", "--replay", "--record", "--ble-library", "--address", "--no-reconnect", "--every-frame"})
      if (std::find(given.begin(), given.end(), o) != given.end())
        return fail(std::string("--crawl cannot be used with ") + o);
  }
  if (!crawlDir.empty()) outDir = crawlDir;
  if (!QDir().mkpath(QString::fromStdString(outDir))) return fail("cannot make " + outDir, 1);

  emu::DeviceDescription description;
  std::string error;
  if (!(device == "demo" ? emu::loadDemoDevice(description, error)
                         : emu::loadDeviceDescription(device, description, error)))
    return fail(error, 1);
  if (!crawlDir.empty())
    return render::crawl(description,
                         {crawlDir, limit > 0 ? static_cast<size_t>(limit) : 200, size.width(), size.height()});
  // Through the emulator's library, the capture is the device its scan offers.
  if (replay && !bleLibrary.empty()) ::setenv("OKT_EMULATED_DEVICES", device.c_str(), 1);
  std::shared_ptr<capture::CaptureWriter> recorder;
  if (!recordPath.empty()) {
    recorder = capture::CaptureWriter::create(recordPath, error);
    if (!recorder) return fail(error, 1);
    recorder->onDropped = [](uint64_t n) {
      platform::logf("Recording: %llu exchanges dropped, the file could not keep up\n",
                     static_cast<unsigned long long>(n));
    };
  }

  std::vector<std::string> script;
  if (!scriptPath.empty()) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (scriptPath != "-") {
      file.open(scriptPath);
      if (!file) return fail("cannot read " + scriptPath, 1);
      in = &file;
    }
    for (std::string line; std::getline(*in, line);) script.push_back(line);
  } else {
    script = {"snap home"};
  }

  render::HeadlessClient client(size.width(), size.height(), everyFrame ? QString::fromStdString(outDir) : QString());
  Protocol& p = client.p;
  render::HeadlessHost& host = client.host;
  Engine& engine = client.engine;

  // Either through a Bluetooth library (the real binding, link, connect
  // sequence and reconnection), or straight to an emulator in this process.
  WarbleBinding warble;
  AppQueue queue;
  std::unique_ptr<Link> ble;
  std::unique_ptr<ConnectFlow> flow;
  std::unique_ptr<ConnectionManager> manager;
  PrintedProgress progress;
  emu::Emulator emulator(std::move(description));
  emu::LoopbackLink link(emulator, [&](const uint8_t* b, size_t n) {
    if (recorder) recorder->notification(kOktDataUuid, b, n);
    queueNotification(p, b, n);
  });
  if (!bleLibrary.empty()) {
    if (!bindWarble(bleLibrary, warble, error)) return fail(error, 1);
    ble = std::make_unique<Link>(warble, p);
    ble->linkSetAddress(address.empty() ? emulator.description().address : address);
    ble->setPeerName(emulator.description().name);
    ble->setRecorder(recorder);
    flow = std::make_unique<ConnectFlow>(warble, *ble, queue);
    flow->setDialogs(&progress);
    flow->closeDelayMs = 0;
    manager = std::make_unique<ConnectionManager>(*ble, *flow, queue, engine);
    manager->setAutoReconnect(reconnect);
    p.hooks.sendRequest = [&](const uint8_t* b, uint16_t n) { return ble->linkSend(b, n); };
  } else {
    if (recorder) {
      recorder->peerSeen(emulator.description().address, emulator.description().name);
      recorder->connected(emulator.description().address);
    }
    p.hooks.sendRequest = [&](const uint8_t* b, uint16_t n) {
      if (recorder) recorder->writeRequest(kOktRequestUuid, b, n);
      int r = link.write(b, n);
      if (recorder) recorder->writeResponse(kOktRequestUuid, r == 0);
      return r;
    };
  }
  ConnectionStatus& connection = engine.connection();
  // Ends everything, whatever state it is in; nothing waits for the device.
  auto finish = [&](int code) {
    host.closeDialogs();
    if (manager) manager->shutdown();
    engine.shutdown();
    queue.stopWorker();
    link.stop();
    if (ble) {
      ble->closeDelayMs = 0;
      ble->linkClose();
    }
    manager.reset();
    flow.reset();
    ble.reset();
    recorder.reset();  // what is queued goes to the file
    unbindWarble(warble);
    return code;
  };

  engine.startControlThread();
  engine.startClientThread();
  if (manager) {
    manager->startWorker();
    queue.postAppMessage(AppMessageType::CONNECT);
    auto settledConnection = [&] {
      ConnectionState c = connection.current();
      return c.phase == ConnectionPhase::Connected || (c.phase == ConnectionPhase::Idle && !c.reason.empty());
    };
    for (uint32_t start = platform::tickCount(); !settledConnection() && platform::tickCount() - start < 60000;)
      platform::sleepMs(5);
    if (connection.current().phase != ConnectionPhase::Connected)
      return finish(fail("cannot connect to " + ble->address(), 1));
  } else {
    link.start();
    engine.postControl(ControlFlag::CONNECT);
  }

  // Through a library the device's traffic is out of sight: wait for a quiet receive queue.
  auto settle = [&](uint32_t atLeastMs) {
    client.settle(atLeastMs, [&] { return ble ? queueIsEmpty(p.queue) : link.waitIdle(1); });
  };
  settle(100);

  int status = 0;
  for (size_t n = 0; n < script.size() && status == 0; ++n) {
    std::istringstream words(script[n]);
    std::string cmd, where = (scriptPath.empty() ? "script" : scriptPath) + ":" + std::to_string(n + 1) + ": ";
    if (!(words >> cmd) || cmd[0] == '#') continue;
    if (cmd == "click") {
      int x = -1, y = -1;
      if (!(words >> x >> y) || x < 0 || y < 0 || x >= size.width() || y >= size.height()) {
        status = fail(where + "click takes X Y inside the display area");
        break;
      }
      engine.postClick(static_cast<uint32_t>(x), static_cast<uint32_t>(y));
      settle(kPressMs + 60);  // the press shows, then its target or editor follows
    } else if (cmd == "prev" || cmd == "next" || cmd == "back") {
      engine.postControl(cmd == "prev"   ? ControlFlag::PREV_PAGE
                         : cmd == "next" ? ControlFlag::NEXT_PAGE
                                         : ControlFlag::BACK);
      settle(20);
    } else if (cmd == "wait") {
      int ms = -1;
      if (!(words >> ms) || ms < 0 || ms > 600000) {
        status = fail(where + "wait takes milliseconds");
        break;
      }
      platform::sleepMs(static_cast<uint32_t>(ms));
    } else if (cmd == "snap") {
      std::string name;
      if (!(words >> name) || name.find('/') != std::string::npos) {
        status = fail(where + "snap takes a picture name");
        break;
      }
      PixelBuffer frame = host.frame();
      if (frame.empty()) {
        status = fail(where + "nothing has been drawn yet", 1);
        break;
      }
      QString path = QDir(QString::fromStdString(outDir)).filePath(QString::fromStdString(name) + ".png");
      if (!render::toImage(frame).save(path))
        status = fail(where + "cannot write " + path.toStdString(), 1);
      else
        std::printf("okt-render: wrote %s\n", qPrintable(path));
    } else if (cmd == "answer") {
      std::string kind, rest;
      words >> kind;
      std::getline(words, rest);
      rest.erase(0, rest.find_first_not_of(' '));
      if ((kind != "popup" && kind != "password" && kind != "edit") || rest.empty()) {
        status = fail(where + "answer takes popup N|cancel, password TEXT|cancel or edit VALUE|cancel");
        break;
      }
      host.answer(kind, rest);
    } else if (cmd == "drop" || cmd == "disconnect" || cmd == "await") {
      if (!manager) {
        status = fail(where + cmd + " needs --ble-library");
        break;
      }
      if (cmd == "drop") {
        // The device leaves, as one going out of range (a library that can do it).
        WarbleOption o{"drop-link", "1"};
        warble.warble_lib_config(1, &o);
        for (uint32_t start = platform::tickCount(); platform::tickCount() - start < 5000;) {
          ConnectionPhase now = connection.current().phase;
          if (now != ConnectionPhase::Connected && now != ConnectionPhase::Downloading) break;
          platform::sleepMs(2);
        }
      } else if (cmd == "disconnect") {
        manager->disconnect();
        connection.waitFor(ConnectionPhase::Idle, 10000);
      } else {
        std::string name;
        int ms = 30000;
        ConnectionPhase phase;
        if (!(words >> name) || !phaseNamed(name, phase) || (words >> ms && (ms < 0 || ms > 600000))) {
          status = fail(where + "await takes a connection state (Connected, Reconnecting, ...) and milliseconds");
          break;
        }
        if (!connection.waitFor(phase, static_cast<uint32_t>(ms))) {
          status = fail(where + "the connection did not become " + name + " (it is " +
                            describeConnection(connection.current()) + ")",
                        1);
          break;
        }
        settle(20);
      }
    } else {
      status = fail(where + "unknown command \"" + cmd + "\"");
    }
  }
  return finish(status);
}
