#include <gtest/gtest.h>

#include <QPainter>

#include "platform/qt/qt_surface.h"
#include "presentation/raster.h"

namespace okt {
namespace {

struct Rgba {
  int r, g, b, a;
  bool operator==(const Rgba&) const = default;
};

Rgba at(const QtSurface& s, int x, int y) {
  QRgb c = s.image().pixel(x, y);
  return {qRed(c), qGreen(c), qBlue(c), qAlpha(c)};
}

// Solid rectangles are filled without QPainter: pixel for pixel what Qt
// draws, at whole pixel ratios, clipped or not, with and without outline.
TEST(QtSurface, DirectFillsEqualQtsOwn) {
  struct Box {
    int l, t, r, b;
  };
  const Box boxes[] = {{2, 3, 10, 12}, {0, 0, 31, 17}, {-5, -4, 3, 2}, {28, 14, 40, 30},
                       {4, 4, 5, 5},   {6, 6, 8, 7},   {1, 9, 2, 16},  {-100, 5, 100, 6}};
  for (double ratio : {1.0, 2.0, 3.0}) {
    for (const Box& box : boxes) {
      for (int outline = 0; outline < 3; ++outline) {
        Pen pen{outline != 0, toColorRef(0xFF8000), outline == 2 ? 0 : 1};
        Brush brush{true, toColorRef(0x2050A0)};
        QtSurface s(31, 17, ratio);
        s.rectangle(box.l, box.t, box.r, box.b, pen, brush);
        // What the surface drew before: QPainter's fill and a one-pixel outline inside.
        QImage ref(s.image().size(), QImage::Format_ARGB32);
        ref.setDevicePixelRatio(ratio);
        ref.fill(Qt::black);
        {
          QPainter p(&ref);
          p.fillRect(QRect(box.l, box.t, box.r - box.l, box.b - box.t), QColor(0x20, 0x50, 0xA0));
          if (pen.visible) {
            QPen qpen(QColor(0xFF, 0x80, 0x00));
            qpen.setWidth(1);
            qpen.setJoinStyle(Qt::MiterJoin);
            qpen.setCapStyle(Qt::FlatCap);
            p.setPen(qpen);
            p.drawRect(QRect(box.l, box.t, box.r - box.l - 1, box.b - box.t - 1));
          }
        }
        ASSERT_EQ(s.image(), ref) << "ratio " << ratio << " box " << box.l << "," << box.t << "," << box.r << ","
                                  << box.b << " outline " << outline;
      }
    }
  }
}

// Opaque pictures are copied, the rest blended by Qt with straight alpha: the
// same pixels as Qt's own drawing, wherever the picture lies.
TEST(QtSurface, PicturesLandAsQtWouldDrawThem) {
  for (uint8_t alpha : {uint8_t{255}, uint8_t{128}, uint8_t{0}}) {
    PixelBuffer picture;
    picture.width = 9, picture.height = 7;
    for (uint32_t i = 0; i < picture.width * picture.height; ++i)
      picture.pixels.insert(picture.pixels.end(), {uint8_t(i * 3), uint8_t(200 - i), uint8_t(i * 11), alpha});
    for (Point at : {Point{3, 2}, Point{-4, -3}, Point{25, 12}, Point{-20, 0}, Point{0, 30}}) {
      QtSurface s(31, 17);
      s.rectangle(0, 0, 31, 17, Pen{false}, Brush{true, toColorRef(0x336699)});
      s.blend(at.x, at.y, picture);
      QImage ref(31, 17, QImage::Format_ARGB32);
      ref.fill(QColor(0x33, 0x66, 0x99));
      {
        QPainter p(&ref);
        p.drawImage(at.x, at.y, QImage(picture.pixels.data(), 9, 7, 36, QImage::Format_ARGB32));
      }
      ASSERT_EQ(s.image(), ref) << "alpha " << int{alpha} << " at " << at.x << "," << at.y;
    }
  }
}

// On a high-density screen the surface keeps its own size and coordinates
// but holds `ratio` times the pixels (where shapes land in them: the direct
// fills above), and the frame handed on has them all.
TEST(QtSurface, AHigherPixelRatioKeepsTheGeometryInMorePixels) {
  QtSurface s(20, 10, 2.0);
  EXPECT_EQ(s.width(), 20);
  EXPECT_EQ(s.height(), 10);
  PixelBuffer frame = s.pixels();
  EXPECT_EQ(frame.width, 40u);
  EXPECT_EQ(frame.height, 20u);
  EXPECT_EQ(s.textExtent("Mm", 16, "Arial", 400).y, QtSurface(20, 10).textExtent("Mm", 16, "Arial", 400).y);
}

TEST(QtSurface, TextIsDrawnAndMeasured) {
  QtSurface s(200, 40);
  Point extent = s.textExtent("Hello", 20, "Helvetica", 500);
  EXPECT_GT(extent.x, 20);
  EXPECT_NEAR(extent.y, 20, 2);
  s.text(100, 5, "Hello", 20, "Helvetica", 500, AlignCentre, 0xFFFFFF);
  int lit = 0, left = 200, right = 0;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x)
      if (at(s, x, y).r > 128) ++lit, left = std::min(left, x), right = std::max(right, x);
  EXPECT_GT(lit, 20);
  EXPECT_NEAR((left + right) / 2, 100, 4);  // centred on x
}

}  // namespace
}  // namespace okt
