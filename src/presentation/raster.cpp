#include "presentation/raster.h"

#include <algorithm>
#include <cmath>

namespace okt {

uint32_t scaleX(const ViewRect& view, uint32_t u) {
  uint32_t extent = static_cast<uint32_t>(view.right - view.left);
  return std::min(static_cast<uint32_t>(view.right), u * extent / 65535u);
}

uint32_t scaleY(const ViewRect& view, uint32_t u) {
  uint32_t extent = static_cast<uint32_t>(view.bottom - view.top);
  return std::min(static_cast<uint32_t>(view.bottom), u * extent / 65535u);
}

void shapePoints(const ViewRect& view, const Placement& placement, std::vector<Point>& points) {
  for (Point& p : points) {
    double vx = std::trunc(p.x / 65536.0 * placement.width + placement.x);
    double vy = std::trunc(p.y / 65536.0 * placement.height + placement.y);
    // Negative view units (a point left of its box) stay on the view's edge.
    p.x = static_cast<int>(scaleX(view, vx < 0 ? 0u : static_cast<uint32_t>(vx)));
    p.y = static_cast<int>(scaleY(view, vy < 0 ? 0u : static_cast<uint32_t>(vy)));
  }
}

void blendPixels(Surface& surface, int x, int y, const PixelBuffer* pixels) {
  if (!pixels || pixels->empty()) return;
  surface.blend(x, y, *pixels);
}

uint8_t sampleBilinear(uint32_t x, uint32_t y, uint32_t outWidth, uint32_t outHeight, uint32_t srcWidth,
                       uint32_t srcHeight, const uint8_t* src, int channel, int bytesPerPixel) {
  float fx = static_cast<float>(x) * static_cast<float>(srcWidth) / static_cast<float>(outWidth);
  float fy = static_cast<float>(y) * static_cast<float>(srcHeight) / static_cast<float>(outHeight);
  uint32_t x0 = static_cast<uint32_t>(std::floor(fx)), y0 = static_cast<uint32_t>(std::floor(fy));
  float ax = fx - static_cast<float>(x0), ay = fy - static_cast<float>(y0);
  uint32_t x1 = x0 + 1 < srcWidth ? x0 + 1 : srcWidth - 1;
  uint32_t y1 = y0 + 1 < srcHeight ? y0 + 1 : srcHeight - 1;
  if (x0 >= srcWidth) x0 = srcWidth - 1;
  if (y0 >= srcHeight) y0 = srcHeight - 1;
  auto P = [&](uint32_t i, uint32_t j) {
    return static_cast<float>(src[(size_t{j} * srcWidth + i) * static_cast<size_t>(bytesPerPixel) + static_cast<size_t>(channel)]);
  };
  float v = (1 - ax) * ((1 - ay) * P(x0, y0) + ay * P(x0, y1)) + ax * ((1 - ay) * P(x1, y0) + ay * P(x1, y1));
  float r = v + 0.5f;
  return r > 255.0f ? 255 : static_cast<uint8_t>(r);
}

namespace {

// Output channel k takes source channel map[k]; alpha from map[3] or 255.
// The sample positions and weights are those of sampleBilinear, worked out
// once per output pixel instead of once per channel.
ScaledPicture resample(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t outWidth, uint32_t outHeight,
                       uint32_t srcWidth, uint32_t srcHeight, const uint8_t* src, int bytes, const int map[4]) {
  ScaledPicture scaled;
  if (!src || outWidth == 0 || outHeight == 0 || srcWidth == 0 || srcHeight == 0) return scaled;
  // Only the part that lands on the surface is worked out: a picture scaled
  // by its aspect can be thousands of times taller (or wider) than the view,
  // and what lies outside it is never seen.
  const uint32_t left = x < 0 ? static_cast<uint32_t>(-int64_t{x}) : 0;
  const uint32_t top = y < 0 ? static_cast<uint32_t>(-int64_t{y}) : 0;
  const int64_t right = std::min<int64_t>(outWidth, int64_t{surfaceWidth} - x);
  const int64_t bottom = std::min<int64_t>(outHeight, int64_t{surfaceHeight} - y);
  if (right <= left || bottom <= top) return scaled;
  scaled.x = static_cast<int>(x + int64_t{left});
  scaled.y = static_cast<int>(y + int64_t{top});
  PixelBuffer& out = scaled.pixels;
  out.width = static_cast<uint32_t>(right) - left;
  out.height = static_cast<uint32_t>(bottom) - top;
  out.pixels.resize(size_t{out.width} * out.height * 4);
  struct Axis {
    uint32_t i0, i1;
    float a;
  };
  auto axis = [](uint32_t o, uint32_t outN, uint32_t srcN) {
    float f = static_cast<float>(o) * static_cast<float>(srcN) / static_cast<float>(outN);
    uint32_t i0 = static_cast<uint32_t>(std::floor(f));
    float a = f - static_cast<float>(i0);
    uint32_t i1 = i0 + 1 < srcN ? i0 + 1 : srcN - 1;
    if (i0 >= srcN) i0 = srcN - 1;
    return Axis{i0, i1, a};
  };
  std::vector<Axis> columns(out.width);
  for (uint32_t ox = 0; ox < out.width; ++ox) columns[ox] = axis(left + ox, outWidth, srcWidth);
  const size_t bpp = static_cast<size_t>(bytes);
  uint8_t* p = out.pixels.data();
  for (uint32_t oy = 0; oy < out.height; ++oy) {
    Axis row = axis(top + oy, outHeight, srcHeight);
    const uint8_t* r0 = src + size_t{row.i0} * srcWidth * bpp;
    const uint8_t* r1 = src + size_t{row.i1} * srcWidth * bpp;
    for (uint32_t ox = 0; ox < out.width; ++ox, p += 4) {
      const Axis& c = columns[ox];
      const float ax = c.a, ay = row.a;
      for (int k = 0; k < 4; ++k) {
        if (map[k] < 0) {
          p[k] = 255;
          continue;
        }
        size_t ch = static_cast<size_t>(map[k]);
        float p00 = r0[c.i0 * bpp + ch], p01 = r1[c.i0 * bpp + ch], p10 = r0[c.i1 * bpp + ch], p11 = r1[c.i1 * bpp + ch];
        float v = (1 - ax) * ((1 - ay) * p00 + ay * p01) + ax * ((1 - ay) * p10 + ay * p11);
        float r = v + 0.5f;
        p[k] = r > 255.0f ? 255 : static_cast<uint8_t>(r);
      }
    }
  }
  return scaled;
}

}  // namespace

ScaledPicture scaleGrey(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw,
                        uint32_t sh, const uint8_t* src) {
  static const int map[4] = {0, 0, 0, -1};
  return resample(surfaceWidth, surfaceHeight, x, y, ow, oh, sw, sh, src, 1, map);
}

ScaledPicture scaleRgb(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw,
                       uint32_t sh, const uint8_t* src) {
  static const int map[4] = {2, 1, 0, -1};
  return resample(surfaceWidth, surfaceHeight, x, y, ow, oh, sw, sh, src, 3, map);
}

ScaledPicture scaleRgba(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw,
                        uint32_t sh, const uint8_t* src) {
  static const int map[4] = {0, 1, 2, 3};
  return resample(surfaceWidth, surfaceHeight, x, y, ow, oh, sw, sh, src, 4, map);
}

void blendScaled(Surface& s, const ScaledPicture& picture) { blendPixels(s, picture.x, picture.y, &picture.pixels); }

void resampleGrey(Surface& s, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw, uint32_t sh, const uint8_t* src) {
  blendScaled(s, scaleGrey(s.width(), s.height(), x, y, ow, oh, sw, sh, src));
}

void resampleRgb(Surface& s, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw, uint32_t sh, const uint8_t* src) {
  blendScaled(s, scaleRgb(s.width(), s.height(), x, y, ow, oh, sw, sh, src));
}

void resampleRgba(Surface& s, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw, uint32_t sh, const uint8_t* src) {
  blendScaled(s, scaleRgba(s.width(), s.height(), x, y, ow, oh, sw, sh, src));
}

}  // namespace okt
