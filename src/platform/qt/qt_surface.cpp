#include "platform/qt/qt_surface.h"

#include <QFont>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>
#include <QPolygon>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/vector_state.h"

namespace okt {
namespace {

using platform::VectorStateGuard;

QColor toQColor(DeviceColour c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

void setTools(QPainter& p, const Pen& pen, const Brush& brush) {
  if (pen.visible) {
    QPen qpen(toQColor(pen.colour));
    qpen.setWidth(pen.width < 1 ? 1 : pen.width);
    qpen.setJoinStyle(Qt::MiterJoin);
    qpen.setCapStyle(Qt::FlatCap);
    // The broken styles exist only for pens one pixel wide.
    if (pen.width <= 1) {
      switch (pen.style) {
        case LineStyle::Dash: qpen.setDashPattern({18, 6}); break;
        case LineStyle::Dot: qpen.setDashPattern({3, 3}); break;
        case LineStyle::DashDot: qpen.setDashPattern({9, 6, 3, 6}); break;
        case LineStyle::Solid: break;
      }
    }
    p.setPen(qpen);
  } else {
    p.setPen(Qt::NoPen);
  }
  p.setBrush(brush.visible ? QBrush(toQColor(brush.colour)) : QBrush(Qt::NoBrush));
}

// A font whose cell (ascent + descent) is `height` pixels.
QFont cellFont(const std::string& face, int height, int weight) {
  QFont font(QString::fromStdString(face));
  font.setPixelSize(height > 0 ? height : 1);
  font.setWeight(static_cast<QFont::Weight>(weight));
  QFontMetrics m(font);
  int cell = m.ascent() + m.descent();
  if (cell > 0 && cell != height && height > 0) {
    int size = static_cast<int>(static_cast<long long>(height) * height / cell);
    font.setPixelSize(size > 0 ? size : 1);
  }
  return font;
}

// Texts are cut at 1023 UTF-16 units, as the drawing code always did.
QString clipped(const std::string& utf8) {
  QString s = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  if (s.size() > 1023) s.truncate(1023);
  return s;
}

}  // namespace

QtSurface::QtSurface(int width, int height, double ratio)
    : width_(width),
      height_(height),
      image_(static_cast<int>(std::lround(width * (ratio > 1 ? ratio : 1.0))),
             static_cast<int>(std::lround(height * (ratio > 1 ? ratio : 1.0))), QImage::Format_ARGB32) {
  image_.setDevicePixelRatio(ratio > 1 ? ratio : 1.0);
  fillDevice(0, 0, image_.width(), image_.height(), 0);
}

// The image's pixels per surface pixel when that is a whole number, else 0.
int QtSurface::wholeRatio() const {
  double ratio = image_.devicePixelRatio();
  int k = static_cast<int>(std::lround(ratio));
  return k >= 1 && std::abs(ratio - k) < 1e-9 ? k : 0;
}

// Solid rectangles go straight into the image, in device pixels: Qt hands
// even a button's fill to its thread pool, and the hand-over costs more than
// the fill. What lands in the image is what Qt would have drawn.
void QtSurface::fillDevice(int64_t l, int64_t t, int64_t r, int64_t b, DeviceColour colour) {
  l = std::max<int64_t>(l, 0), t = std::max<int64_t>(t, 0);
  r = std::min<int64_t>(r, image_.width()), b = std::min<int64_t>(b, image_.height());
  if (r <= l || b <= t) return;
  const uint32_t argb = 0xFF000000u | ((colour & 0xFF) << 16) | (colour & 0xFF00) | ((colour >> 16) & 0xFF);
  for (int64_t y = t; y < b; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(image_.scanLine(static_cast<int>(y)));
    std::fill(row + l, row + r, argb);
  }
}

void QtSurface::rectangle(int l, int t, int r, int b, const Pen& pen, const Brush& brush) {
  if (r <= l || b <= t) return;
  const int k = wholeRatio();
  const int64_t L = int64_t{l} * k, T = int64_t{t} * k, R = int64_t{r} * k, B = int64_t{b} * k;
  // Outlines are the pixels just inside the rectangle, but only where Qt
  // draws them so: one pixel wide, solid, at a pixel ratio of 1, on a
  // rectangle at least two pixels each way that lies wholly on the image (Qt
  // leaves out a corner of an outline that runs off it). Other outlines stay
  // with Qt.
  const bool plainOutline = k == 1 && pen.width <= 1 && pen.style == LineStyle::Solid && L >= 0 && T >= 0 &&
                            R <= image_.width() && B <= image_.height() && r - l >= 2 && b - t >= 2;
  if (k && (!pen.visible || plainOutline)) {
    if (brush.visible) fillDevice(L, T, R, B, brush.colour);
    if (pen.visible) {
      fillDevice(L, T, R, T + 1, pen.colour);
      fillDevice(L, B - 1, R, B, pen.colour);
      fillDevice(L, T, L + 1, B, pen.colour);
      fillDevice(R - 1, T, R, B, pen.colour);
    }
    return;
  }
  VectorStateGuard settled;
  QPainter p(&image_);
  if (brush.visible) p.fillRect(QRect(l, t, r - l, b - t), toQColor(brush.colour));
  if (pen.visible) {
    setTools(p, pen, Brush{false, 0});
    p.drawRect(QRect(l, t, r - l - 1, b - t - 1));  // inside l..r-1, t..b-1
  }
}

void QtSurface::roundRect(int l, int t, int r, int b, int cornerW, int cornerH, const Pen& pen, const Brush& brush) {
  if (r <= l || b <= t) return;
  VectorStateGuard settled;
  QPainter p(&image_);
  setTools(p, pen, brush);
  p.drawRoundedRect(QRect(l, t, r - l - 1, b - t - 1), cornerW / 2.0, cornerH / 2.0);
}

void QtSurface::polygon(const std::vector<Point>& points, const Pen& pen, const Brush& brush) {
  if (points.size() < 2) return;
  QPolygon poly;
  for (const Point& pt : points) poly << QPoint(pt.x, pt.y);
  VectorStateGuard settled;
  QPainter p(&image_);
  setTools(p, pen, brush);
  p.drawPolygon(poly, Qt::OddEvenFill);
}

void QtSurface::ellipse(int l, int t, int r, int b, const Pen& pen, const Brush& brush) {
  if (r <= l || b <= t) return;
  VectorStateGuard settled;
  QPainter p(&image_);
  setTools(p, pen, brush);
  p.drawEllipse(QRect(l, t, r - l - 1, b - t - 1));
}

void QtSurface::polyline(const std::vector<Point>& points, const Pen& pen) {
  if (points.size() < 2) return;
  QPolygon poly;
  for (const Point& pt : points) poly << QPoint(pt.x, pt.y);
  VectorStateGuard settled;
  QPainter p(&image_);
  setTools(p, pen, Brush{false, 0});
  p.drawPolyline(poly);
}

void QtSurface::text(int x, int y, const std::string& utf8, int height, const std::string& face, int weight, int align,
                     DeviceColour colour) {
  QString s = clipped(utf8);
  if (s.isEmpty()) return;
  VectorStateGuard settled;
  QPainter p(&image_);
  p.setRenderHint(QPainter::TextAntialiasing);
  QFont font = cellFont(face, height, weight);
  p.setFont(font);
  p.setPen(toQColor(colour));
  QFontMetrics m(font);
  int w = m.horizontalAdvance(s);
  int left = align == AlignRight ? x - w : (align == AlignCentre ? x - w / 2 : x);
  p.drawText(QPoint(left, y + m.ascent()), s);
}

Point QtSurface::textExtent(const std::string& utf8, int height, const std::string& face, int weight) {
  QFontMetrics m(cellFont(face, height, weight));
  return {m.horizontalAdvance(clipped(utf8)), m.ascent() + m.descent()};
}

void QtSurface::blend(int x, int y, const PixelBuffer& pixels) {
  if (pixels.empty()) return;
  if (copyOpaque(x, y, pixels)) return;
  // Straight alpha, bytes blue, green, red, alpha: QImage's ARGB32.
  QImage src(pixels.pixels.data(), static_cast<int>(pixels.width), static_cast<int>(pixels.height),
             static_cast<qsizetype>(pixels.width) * 4, QImage::Format_ARGB32);
  VectorStateGuard settled;
  QPainter p(&image_);
  p.setRenderHint(QPainter::SmoothPixmapTransform);  // pictures meet a higher pixel ratio smoothly
  p.drawImage(x, y, src);
}

// An opaque picture at a pixel ratio of 1 covers what lies under it: its
// rows are copied (Qt would convert the whole picture first, on its thread
// pool).
bool QtSurface::copyOpaque(int x, int y, const PixelBuffer& pixels) {
  if (wholeRatio() != 1 || pixels.pixels.size() < size_t{pixels.width} * pixels.height * 4) return false;
  const uint8_t* src = pixels.pixels.data();
  for (size_t i = 3; i < pixels.pixels.size(); i += 4)
    if (src[i] != 255) return false;
  const int64_t left = std::max<int64_t>(x, 0), right = std::min<int64_t>(int64_t{x} + pixels.width, image_.width());
  const int64_t top = std::max<int64_t>(y, 0), bottom = std::min<int64_t>(int64_t{y} + pixels.height, image_.height());
  for (int64_t row = top; row < bottom; ++row) {
    if (right <= left) break;
    const uint8_t* from = src + (static_cast<size_t>(row - y) * pixels.width + static_cast<size_t>(left - x)) * 4;
    std::memcpy(image_.scanLine(static_cast<int>(row)) + left * 4, from, static_cast<size_t>(right - left) * 4);
  }
  return true;
}

bool QtSurface::restart() {
  fillDevice(0, 0, image_.width(), image_.height(), 0);
  return true;
}

PixelBuffer QtSurface::pixels() const {
  PixelBuffer out;
  copyPixels(out);
  return out;
}

void QtSurface::copyPixels(PixelBuffer& out) const {
  out.width = static_cast<uint32_t>(image_.width());
  out.height = static_cast<uint32_t>(image_.height());
  out.pixels.resize(size_t{out.width} * out.height * 4);
  for (int y = 0; y < image_.height(); ++y)
    std::memcpy(&out.pixels[size_t(y) * out.width * 4], image_.constScanLine(y), size_t{out.width} * 4);
}

}  // namespace okt
