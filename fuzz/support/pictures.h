#pragma once

// Stand-ins for the SVG rasteriser and the icon table, which need the window
// system: they hand the drawing code pictures of the sizes the real ones
// would, so that hostile SVG proportions reach the scaling code unchanged.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "images/svg_render.h"
#include "platform/pixel_buffer.h"
#include "support/raster_surface.h"

namespace okt::fuzz {

// The number after `name="` in the text, or -1.
inline double svgAttribute(const char* text, const char* name) {
  std::string key = std::string(" ") + name + "=\"";
  const char* at = std::strstr(text, key.c_str());
  if (!at) return -1;
  return std::strtod(at + key.size(), nullptr);
}

OKT_NOT_STEERING inline PixelBuffer patterned(uint64_t w, uint64_t h) {
  PixelBuffer out;
  out.width = static_cast<uint32_t>(w);
  out.height = static_cast<uint32_t>(h);
  out.pixels.resize(w * h * 4);
  for (size_t i = 0; i < out.pixels.size(); ++i) out.pixels[i] = static_cast<uint8_t>(i * 37 + (i >> 9));
  return out;
}

// As renderSvg: wantedWidth wide, the height by the picture's aspect, none
// past kSvgMaxPixels. The picture's size comes from its width and height.
inline std::optional<PixelBuffer> fakeSvg(const char* text, uint32_t wantedWidth) {
  if (!text || wantedWidth == 0) return std::nullopt;
  double width = svgAttribute(text, "width"), height = svgAttribute(text, "height");
  if (!(width >= 1 && height >= 1 && width < 1e12 && height < 1e12)) return std::nullopt;
  const long double scale = static_cast<long double>(wantedWidth) / width;
  const uint64_t w = static_cast<uint64_t>(std::trunc(std::trunc(width) * scale));
  const uint64_t h = static_cast<uint64_t>(std::trunc(std::trunc(height) * scale));
  if (w == 0 || h == 0 || w * h > kSvgMaxPixels) return std::nullopt;
  return patterned(w, h);
}

// Built-in icons are square.
inline std::optional<PixelBuffer> fakeIcon(uint32_t iconId, uint32_t wantedWidth) {
  if (iconId < 0xFF1000 || iconId > 0xFFFFFE || wantedWidth == 0 || wantedWidth > 4096) return std::nullopt;
  return patterned(wantedWidth, wantedWidth);
}

}  // namespace okt::fuzz
