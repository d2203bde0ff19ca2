#pragma once

// A surface without a window system for the fuzz targets: it paints into its
// own pixels as a raster device does, everything clipped to its size. It
// checks what the drawing code hands it (a picture must hold the pixels it
// claims), and it keeps an estimate of what the same calls would cost the
// window's surface (QPainter on a QImage), so that a frame which would take
// seconds on screen is found as such, whatever the speed of a sanitizer
// build. The estimate's terms were measured at 450 x 552 pixels: a call
// 2 us; a fill 1 ns a pixel; a line 0.3 us a pixel of its length and
// 0.01 us more for every pixel of width; a glyph 0.25 us and 7 ns for every
// pixel of its height up to 2000; a blend 4 ns a pixel. A surface smaller
// than that view scales its areas and lengths up to it.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/surface.h"

// The surface's own loops are not what the fuzzer should steer by.
#if defined(__clang__)
#define OKT_NOT_STEERING __attribute__((no_sanitize("coverage")))
#else
#define OKT_NOT_STEERING
#endif

namespace okt::fuzz {

[[noreturn]] inline void fault(const char* what) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

class RasterSurface : public Surface {
 public:
  OKT_NOT_STEERING RasterSurface(int w, int h)
      : w_(w),
        h_(h),
        px_(static_cast<size_t>(w) * static_cast<size_t>(h), 0xFF000000u),
        areaScale_(std::max(1.0, 450.0 * 552.0 / (double(std::max(w, 1)) * std::max(h, 1)))),
        lengthScale_(std::sqrt(areaScale_)) {}
  // Frames that would take longer than this on screen are faults.
  static constexpr double kSlowFrameMicros = 1e6;
  OKT_NOT_STEERING ~RasterSurface() override {
    if (micros_ > kSlowFrameMicros) fault("a frame that would take over a second to draw on screen");
  }

  OKT_NOT_STEERING int width() const override { return w_; }
  OKT_NOT_STEERING int height() const override { return h_; }

  OKT_NOT_STEERING void rectangle(int l, int t, int r, int b, const Pen& pen, const Brush& brush) override {
    micros_ += 2;
    if (r <= l || b <= t) return;
    if (brush.visible)
      for (int y = std::max(t, 0); y < std::min(b, h_); ++y) span(y, l, r, brush.colour);
    if (pen.visible) frame(l, t, r, b, pen);
  }

  OKT_NOT_STEERING void roundRect(int l, int t, int r, int b, int, int, const Pen& pen, const Brush& brush) override {
    rectangle(l, t, r, b, pen, brush);
  }

  OKT_NOT_STEERING void ellipse(int l, int t, int r, int b, const Pen& pen, const Brush& brush) override {
    micros_ += 2;
    if (r <= l || b <= t) return;
    double cx = (double(l) + r) / 2, cy = (double(t) + b) / 2, rx = (double(r) - l) / 2, ry = (double(b) - t) / 2;
    for (int y = std::max(t, 0); y < std::min(b, h_); ++y) {
      double dy = (y + 0.5 - cy) / ry;
      if (dy * dy > 1) continue;
      double dx = rx * std::sqrt(1 - dy * dy);
      span(y, clampInt(cx - dx), clampInt(cx + dx), brush.visible ? brush.colour : pen.colour);
    }
  }

  OKT_NOT_STEERING void polygon(const std::vector<Point>& points, const Pen& pen, const Brush& brush) override {
    micros_ += 2 + 0.05 * static_cast<double>(points.size());
    if (points.size() < 2) return;
    work_ += points.size();
    if (brush.visible) {
      int top = h_, bottom = 0;
      for (const Point& p : points) top = std::min(top, p.y), bottom = std::max(bottom, p.y);
      std::vector<double> cuts;
      for (int y = std::max(top, 0); y < std::min(bottom, h_); ++y) {
        cuts.clear();
        double sy = y + 0.5;
        for (size_t i = 0; i < points.size(); ++i) {
          const Point& a = points[i];
          const Point& c = points[(i + 1) % points.size()];
          if ((a.y <= sy) == (c.y <= sy)) continue;
          cuts.push_back(a.x + (sy - a.y) * (double(c.x) - a.x) / (double(c.y) - a.y));
        }
        work_ += points.size();
        std::sort(cuts.begin(), cuts.end());
        for (size_t k = 0; k + 1 < cuts.size(); k += 2) span(y, clampInt(cuts[k]), clampInt(cuts[k + 1]), brush.colour);
      }
    }
    if (pen.visible) {
      std::vector<Point> closed = points;
      closed.push_back(points.front());
      polyline(closed, pen);
    }
  }

  OKT_NOT_STEERING void polyline(const std::vector<Point>& points, const Pen& pen) override {
    if (pen.width < 0 || pen.width > 255) fault("pen wider than a byte");
    micros_ += 2;
    work_ += points.size();
    for (size_t i = 1; i < points.size(); ++i) segment(points[i - 1], points[i], std::max(pen.width, 1), pen.colour);
  }

  OKT_NOT_STEERING void text(int x, int y, const std::string& utf8, int height, const std::string&, int, int align,
                             DeviceColour colour) override {
    int n = glyphs(utf8);
    micros_ += 2;
    if (n == 0) return;
    int h = std::max(height, 1), w = std::max(h / 2, 1);
    micros_ += n * (0.25 + 0.007 * std::min(h, 2000));
    long long left = align == AlignRight ? x - 1LL * n * w : (align == AlignCentre ? x - 1LL * n * w / 2 : x);
    // Each glyph a box outline: what a glyph costs grows with its size, not its area.
    for (int i = 0; i < n; ++i) {
      long long gl = left + 1LL * i * w;
      if (gl >= w_) break;
      if (gl + w <= 0) continue;
      frame(clampInt(gl), y, clampInt(gl + w), clampInt(double(y) + h), Pen{true, colour, 1, LineStyle::Solid});
    }
  }

  OKT_NOT_STEERING Point textExtent(const std::string& utf8, int height, const std::string&, int) override {
    int h = std::max(height, 1);
    micros_ += 1 + 0.1 * glyphs(utf8);
    return {clampInt(double(glyphs(utf8)) * std::max(h / 2, 1)), h};
  }

  OKT_NOT_STEERING void blend(int x, int y, const PixelBuffer& p) override {
    if (p.empty()) return;
    if (p.pixels.size() < size_t{p.width} * p.height * 4) fault("a picture holds fewer pixels than it claims");
    ++work_;
    micros_ += 2;
    for (int row = std::max(y, 0); row < h_ && int64_t{row} - y < int64_t{p.height}; ++row) {
      const uint8_t* src = &p.pixels[size_t(int64_t{row} - y) * p.width * 4];
      for (int col = std::max(x, 0); col < w_ && int64_t{col} - x < int64_t{p.width}; ++col) {
        const uint8_t* s = src + size_t(int64_t{col} - x) * 4;
        uint32_t& d = px_[size_t(row) * w_ + col];
        uint32_t a = s[3], out = 0xFF000000u;
        for (int k = 0; k < 3; ++k) {
          uint32_t dc = (d >> (8 * k)) & 0xFF;
          out |= ((s[k] * a + dc * (255 - a)) / 255) << (8 * k);
        }
        d = out;
        ++work_;
        micros_ += 0.004 * areaScale_;
      }
    }
  }

  OKT_NOT_STEERING PixelBuffer pixels() const override {
    PixelBuffer out;
    out.width = static_cast<uint32_t>(w_);
    out.height = static_cast<uint32_t>(h_);
    // Pixels are 0xAARRGGBB words: in memory blue, green, red, alpha.
    static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__);
    out.pixels.resize(px_.size() * 4);
    std::memcpy(out.pixels.data(), px_.data(), out.pixels.size());
    return out;
  }

  // Pixels written and vertices visited so far.
  OKT_NOT_STEERING uint64_t work() const { return work_; }
  // What the calls so far would take on the window's surface, microseconds.
  OKT_NOT_STEERING double estimatedMicros() const { return micros_; }

 private:
  OKT_NOT_STEERING static int clampInt(double v) {
    if (!(v > -1e9)) return -1000000000;
    if (v > 1e9) return 1000000000;
    return static_cast<int>(v);
  }

  // Glyphs of a text as the screen shows it: at most 1023.
  OKT_NOT_STEERING static int glyphs(const std::string& utf8) {
    int n = 0;
    for (unsigned char c : utf8)
      if ((c & 0xC0) != 0x80 && ++n == 1023) break;
    return n;
  }

  // Device colours are 0x00BBGGRR; pixels blue, green, red, alpha.
  OKT_NOT_STEERING static uint32_t pixelOf(DeviceColour c) {
    return 0xFF000000u | ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF);
  }

  OKT_NOT_STEERING void span(int y, int from, int to, DeviceColour c) {
    if (y < 0 || y >= h_) return;
    from = std::max(from, 0), to = std::min(to, w_);
    if (from >= to) return;
    std::fill(px_.begin() + (size_t(y) * w_ + from), px_.begin() + (size_t(y) * w_ + to), pixelOf(c));
    work_ += static_cast<uint64_t>(to - from);
    micros_ += 0.001 * areaScale_ * (to - from);
  }

  OKT_NOT_STEERING void frame(int l, int t, int r, int b, const Pen& pen) {
    int pw = std::max(pen.width, 1);
    for (int y = std::max(t, 0); y < std::min(b, h_); ++y) {
      if (y < t + pw || y >= b - pw) {
        span(y, l, r, pen.colour);
      } else {
        span(y, l, std::min(r, l + pw), pen.colour);
        span(y, std::max(l, r - pw), r, pen.colour);
      }
    }
  }

  // A line of `width` pixels from a to b without its last point, clipped to
  // the surface (widened by the pen) before it is walked.
  OKT_NOT_STEERING void segment(Point a, Point b, int width, DeviceColour c) {
    double x0 = a.x, y0 = a.y, x1 = b.x, y1 = b.y;
    double lo = -width, hix = w_ + width, hiy = h_ + width;
    double t0 = 0, t1 = 1, dx = x1 - x0, dy = y1 - y0;
    auto clip = [&](double p, double q) {
      if (p == 0) return q >= 0;
      double r = q / p;
      if (p < 0) {
        if (r > t1) return false;
        t0 = std::max(t0, r);
      } else {
        if (r < t0) return false;
        t1 = std::min(t1, r);
      }
      return true;
    };
    if (!(clip(-dx, x0 - lo) && clip(dx, hix - x0) && clip(-dy, y0 - lo) && clip(dy, hiy - y0))) return;
    double sx = x0 + t0 * dx, sy = y0 + t0 * dy, ex = x0 + t1 * dx, ey = y0 + t1 * dy;
    double steps = std::max(std::fabs(ex - sx), std::fabs(ey - sy));
    bool steep = std::fabs(dy) > std::fabs(dx);
    int n = static_cast<int>(steps);
    micros_ += n * lengthScale_ * (0.3 + 0.01 * width);
    for (int i = 0; i < n; ++i) {
      int x = clampInt(sx + (ex - sx) * i / steps), y = clampInt(sy + (ey - sy) * i / steps);
      if (steep)
        span(y, x - width / 2, x - width / 2 + width, c);
      else
        for (int k = 0; k < width; ++k) span(y - width / 2 + k, x, x + 1, c);
      ++work_;
    }
  }

  int w_, h_;
  std::vector<uint32_t> px_;
  double areaScale_, lengthScale_;
  uint64_t work_ = 0;
  double micros_ = 0;
};

}  // namespace okt::fuzz
