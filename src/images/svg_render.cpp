#include "images/svg_render.h"

#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>
#include <cstring>

#include "images/icons.h"
#include "platform/log.h"

namespace okt {

std::optional<PixelBuffer> renderSvg(const char* text, uint32_t wantedWidth) {
  if (!text || wantedWidth == 0) return std::nullopt;
  QSvgRenderer renderer(QByteArray(text, static_cast<int>(std::strlen(text))));
  // The picture's size: its width and height, else its view box.
  QSizeF size = renderer.viewBoxF().size();
  QSize declared = renderer.defaultSize();
  if (declared.isValid() && !declared.isEmpty()) size = declared;
  if (!renderer.isValid() || size.width() < 1 || size.height() < 1) {
    platform::logText("ERROR: Could not open SVG image.\n");
    return std::nullopt;
  }
  const long double scale = static_cast<long double>(wantedWidth) / size.width();
  const uint64_t width = static_cast<uint64_t>(std::trunc(std::trunc(size.width()) * scale));
  const uint64_t height = static_cast<uint64_t>(std::trunc(std::trunc(size.height()) * scale));
  if (width == 0 || height == 0) {
    platform::logText("ERROR: Could not open SVG image.\n");
    return std::nullopt;
  }
  if (width * height > kSvgMaxPixels) {
    platform::logText("ERROR: Could not alloc image buffer.\n");
    return std::nullopt;
  }
  QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_ARGB32_Premultiplied);
  if (image.isNull()) {
    platform::logText("ERROR: Could not alloc image buffer.\n");
    return std::nullopt;
  }
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(
        &painter, QRectF(0, 0, static_cast<double>(size.width() * scale), static_cast<double>(size.height() * scale)));
  }
  // Straight alpha, bytes in the order red, green, blue, alpha.
  QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
  PixelBuffer out;
  out.width = static_cast<uint32_t>(width);
  out.height = static_cast<uint32_t>(height);
  out.pixels.resize(width * height * 4);
  for (uint64_t y = 0; y < height; ++y)
    std::memcpy(&out.pixels[y * width * 4], rgba.constScanLine(static_cast<int>(y)), width * 4);
  return out;
}

std::optional<PixelBuffer> renderIcon(uint32_t iconId, uint32_t wantedWidth) {
  const char* text = iconText(iconId);
  if (!text) return std::nullopt;
  return renderSvg(text, wantedWidth);
}

}  // namespace okt
