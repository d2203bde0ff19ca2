// SVG text from the peripheral is untrusted: any text must render or be
// refused, never crash.
#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <string>

#include "images/svg_render.h"
#include "platform/log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static int argc = 1;
  static char name[] = "svg_fuzz";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    okt::platform::setLogSink([](const std::string&) {});
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
  std::string text(reinterpret_cast<const char*>(data), size);
  auto image = okt::renderSvg(text.c_str(), 64);
  if (image && image->pixels.size() != size_t{image->width} * image->height * 4) __builtin_trap();
  return 0;
}
