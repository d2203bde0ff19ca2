#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/pixel_buffer.h"

namespace okt {

// Colours as the drawing device takes them: 0x00BBGGRR.
using DeviceColour = uint32_t;

enum class LineStyle { Solid, Dash, Dot, DashDot };

struct Pen {
  bool visible = true;
  DeviceColour colour = 0;
  int width = 1;
  LineStyle style = LineStyle::Solid;  // broken styles only at width 1
};

struct Brush {
  bool visible = true;
  DeviceColour colour = 0;
};

struct Point {
  int x = 0;
  int y = 0;
  bool operator==(const Point&) const = default;
};

enum TextAlign : int { AlignLeft = 0, AlignRight = 2, AlignCentre = 6 };

// Where the drawing code draws. Geometry is that of the classic raster
// devices: a rectangle from (l, t) to (r, b) covers columns l..r-1 and rows
// t..b-1 with its outline inside; a line leaves out its last point.
class Surface {
 public:
  virtual ~Surface() = default;

  virtual int width() const = 0;
  virtual int height() const = 0;

  virtual void rectangle(int l, int t, int r, int b, const Pen& pen, const Brush& brush) = 0;
  // Corners rounded with an ellipse of cornerW x cornerH pixels.
  virtual void roundRect(int l, int t, int r, int b, int cornerW, int cornerH, const Pen& pen, const Brush& brush) = 0;
  // Filled with the alternate (even-odd) rule.
  virtual void polygon(const std::vector<Point>& points, const Pen& pen, const Brush& brush) = 0;
  virtual void ellipse(int l, int t, int r, int b, const Pen& pen, const Brush& brush) = 0;
  virtual void polyline(const std::vector<Point>& points, const Pen& pen) = 0;
  // Text in a font of cell height `height` pixels, weight `weight`; the top
  // of the cell is at y, x is the left, right or centre by `align`.
  virtual void text(int x, int y, const std::string& utf8, int height, const std::string& face, int weight, int align,
                    DeviceColour colour) = 0;
  // Width and cell height of the text in that font.
  virtual Point textExtent(const std::string& utf8, int height, const std::string& face, int weight) = 0;
  // Source-over of a straight-alpha picture (blue, green, red, alpha bytes).
  virtual void blend(int x, int y, const PixelBuffer& pixels) = 0;
  // What the surface holds now.
  virtual PixelBuffer pixels() const = 0;
  // The same into `out`, in the memory it already has where it can.
  virtual void copyPixels(PixelBuffer& out) const { out = pixels(); }
  // All black again, as new, for another frame; false if the surface cannot
  // be drawn on again (a new one is made).
  virtual bool restart() { return false; }
};

}  // namespace okt
