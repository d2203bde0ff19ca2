#include "presentation/raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
    return static_cast<float>(
        src[(size_t{j} * srcWidth + i) * static_cast<size_t>(bytesPerPixel) + static_cast<size_t>(channel)]);
  };
  float v = (1 - ax) * ((1 - ay) * P(x0, y0) + ay * P(x0, y1)) + ax * ((1 - ay) * P(x1, y0) + ay * P(x1, y1));
  float r = v + 0.5f;
  return r > 255.0f ? 255 : static_cast<uint8_t>(r);
}

namespace {

struct Axis {
  uint32_t i0, i1;
  float a;
};

// Output channels 0..3 take source channels C0..C3 of a picture of Bytes
// bytes a pixel (alpha 255 where C3 is -1), each worked out exactly as
// sampleBilinear does. The layout is fixed at compile time, so the channel
// loop and its choices are gone from the inner loop; with SSE2 the four
// channels are worked out side by side, with the same single-precision
// operations in the same order, so the results are the same to the bit.
template <size_t Bytes, int C0, int C1, int C2, int C3>
void scaleRow(uint8_t* p, const uint8_t* r0, const uint8_t* r1, const Axis* columns, uint32_t n, float ay) {
  const float by = 1 - ay;
#if defined(__SSE2__)
  const __m128 vay = _mm_set1_ps(ay), vby = _mm_set1_ps(by), half = _mm_set1_ps(0.5f), top = _mm_set1_ps(255.0f);
  const __m128i zero = _mm_setzero_si128();
  auto lanes = [zero](const uint8_t* at) {
    // Put together in a register: three bytes copied through memory come
    // back from two stores as one load, which the processor cannot forward,
    // and every pixel would wait for them.
    uint32_t v = at[0];
    if constexpr (Bytes == 4) {
      std::memcpy(&v, at, 4);
    } else if constexpr (Bytes == 3) {
      uint16_t low = 0;
      std::memcpy(&low, at, 2);
      v = low | uint32_t{at[2]} << 16;
    }
    __m128i x = _mm_unpacklo_epi8(_mm_cvtsi32_si128(static_cast<int>(v)), zero);
    return _mm_cvtepi32_ps(_mm_unpacklo_epi16(x, zero));
  };
  for (uint32_t ox = 0; ox < n; ++ox, p += 4) {
    const Axis& c = columns[ox];
    const __m128 vax = _mm_set1_ps(c.a), vbx = _mm_set1_ps(1 - c.a);
    const __m128 near =
        _mm_add_ps(_mm_mul_ps(vby, lanes(r0 + c.i0 * Bytes)), _mm_mul_ps(vay, lanes(r1 + c.i0 * Bytes)));
    const __m128 far = _mm_add_ps(_mm_mul_ps(vby, lanes(r0 + c.i1 * Bytes)), _mm_mul_ps(vay, lanes(r1 + c.i1 * Bytes)));
    const __m128 r = _mm_add_ps(_mm_add_ps(_mm_mul_ps(vbx, near), _mm_mul_ps(vax, far)), half);
    __m128i v = _mm_cvttps_epi32(_mm_min_ps(r, top));
    v = _mm_packus_epi16(_mm_packs_epi32(v, zero), zero);
    uint8_t lane[4];
    const uint32_t packed = static_cast<uint32_t>(_mm_cvtsi128_si32(v));
    std::memcpy(lane, &packed, 4);
    p[0] = lane[C0];
    p[1] = lane[C1];
    p[2] = lane[C2];
    if constexpr (C3 < 0)
      p[3] = 255;
    else
      p[3] = lane[C3];
  }
#else
  for (uint32_t ox = 0; ox < n; ++ox, p += 4) {
    const Axis& c = columns[ox];
    const float ax = c.a, bx = 1 - ax;
    const uint8_t* p00 = r0 + c.i0 * Bytes;
    const uint8_t* p01 = r1 + c.i0 * Bytes;
    const uint8_t* p10 = r0 + c.i1 * Bytes;
    const uint8_t* p11 = r1 + c.i1 * Bytes;
    auto channel = [&](int ch) -> uint8_t {
      float v = bx * (by * static_cast<float>(p00[ch]) + ay * static_cast<float>(p01[ch])) +
                ax * (by * static_cast<float>(p10[ch]) + ay * static_cast<float>(p11[ch]));
      float r = v + 0.5f;
      return r > 255.0f ? 255 : static_cast<uint8_t>(r);
    };
    p[0] = channel(C0);
    p[1] = channel(C1);
    p[2] = channel(C2);
    if constexpr (C3 < 0)
      p[3] = 255;
    else
      p[3] = channel(C3);
  }
#endif
}

// The sample positions and weights are those of sampleBilinear, worked out
// once per output pixel instead of once per channel.
template <size_t Bytes, int C0, int C1, int C2, int C3>
ScaledPicture resample(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t outWidth, uint32_t outHeight,
                       uint32_t srcWidth, uint32_t srcHeight, const uint8_t* src) {
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
  for (uint32_t oy = 0; oy < out.height; ++oy) {
    Axis row = axis(top + oy, outHeight, srcHeight);
    scaleRow<Bytes, C0, C1, C2, C3>(out.pixels.data() + size_t{oy} * out.width * 4,
                                    src + size_t{row.i0} * srcWidth * Bytes, src + size_t{row.i1} * srcWidth * Bytes,
                                    columns.data(), out.width, row.a);
  }
  return scaled;
}

}  // namespace

ScaledPicture scaleGrey(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw,
                        uint32_t sh, const uint8_t* src) {
  return resample<1, 0, 0, 0, -1>(surfaceWidth, surfaceHeight, x, y, ow, oh, sw, sh, src);
}

ScaledPicture scaleRgb(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw,
                       uint32_t sh, const uint8_t* src) {
  return resample<3, 2, 1, 0, -1>(surfaceWidth, surfaceHeight, x, y, ow, oh, sw, sh, src);
}

ScaledPicture scaleRgba(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t ow, uint32_t oh, uint32_t sw,
                        uint32_t sh, const uint8_t* src) {
  return resample<4, 0, 1, 2, 3>(surfaceWidth, surfaceHeight, x, y, ow, oh, sw, sh, src);
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
