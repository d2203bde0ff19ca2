#pragma once

#include <QImage>

#include "platform/surface.h"

namespace okt {

// A Surface over a QImage (ARGB32: bytes blue, green, red, alpha, as in a
// PixelBuffer). Shapes are drawn without anti-aliasing; text with it.
// Drawing is in the surface's own pixels; with a pixel ratio above 1 the
// image holds that many more, so that text and lines stay sharp on a
// high-density screen, and pixels() gives them all.
class QtSurface : public Surface {
 public:
  QtSurface(int width, int height, double ratio = 1.0);

  int width() const override { return width_; }
  int height() const override { return height_; }
  void rectangle(int l, int t, int r, int b, const Pen& pen, const Brush& brush) override;
  void roundRect(int l, int t, int r, int b, int cornerW, int cornerH, const Pen& pen, const Brush& brush) override;
  void polygon(const std::vector<Point>& points, const Pen& pen, const Brush& brush) override;
  void ellipse(int l, int t, int r, int b, const Pen& pen, const Brush& brush) override;
  void polyline(const std::vector<Point>& points, const Pen& pen) override;
  void text(int x, int y, const std::string& utf8, int height, const std::string& face, int weight, int align,
            DeviceColour colour) override;
  Point textExtent(const std::string& utf8, int height, const std::string& face, int weight) override;
  void blend(int x, int y, const PixelBuffer& pixels) override;
  PixelBuffer pixels() const override;
  void copyPixels(PixelBuffer& out) const override;
  bool restart() override;

  const QImage& image() const { return image_; }

 private:
  int wholeRatio() const;
  void fillDevice(int64_t l, int64_t t, int64_t r, int64_t b, DeviceColour colour);
  bool copyOpaque(int x, int y, const PixelBuffer& pixels);

  int width_, height_;
  QImage image_;
};

}  // namespace okt
