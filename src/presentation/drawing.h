#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "images/jpeg_decoder.h"
#include "platform/surface.h"
#include "presentation/raster.h"
#include "protocol/client_state.h"

namespace okt {

// What drawing an object needs besides the surface: the tables (and the
// view rectangle in them), the JPEG decoder's context, and the SVG
// rasteriser the program provides.
struct DrawContext {
  const ClientState& state;
  JpegContext& jpeg;
  std::function<std::optional<PixelBuffer>(const char* svg, uint32_t width)> renderSvg;
  std::function<std::optional<PixelBuffer>(uint32_t iconId, uint32_t width)> renderIcon;
  int canvasDepth = 0;
  // What canvas programs have drawn so far in this redraw (see kMaxCanvasWork).
  uint32_t canvasWork = 0;
};

// Canvases that place canvases draw this many levels, no more.
constexpr int kMaxCanvasDepth = 8;
// And this much in all, in one redraw. A canvas that places itself a few
// times multiplies its work at every level: within the depth limit a
// program of 148 bytes would draw billions of times. A unit is what about
// 20 us of drawing costs: a text or a placement 1; a line 1 more for every
// 32 pixels of its length, whatever its width (the rasteriser's cost goes
// with the rows each segment crosses); a picture 6 more for every KiB it
// decodes and 1 for every 2048 pixels it covers. A legitimate canvas,
// however deep, stays far below the limit; a hostile one stops there, some
// 40 ms into the redraw.
constexpr uint32_t kMaxCanvasWork = 2048;

// Units of canvas work: a line through these pixel points, and an object a
// canvas places (its own drawing, not a placed canvas's program).
uint32_t strokeCost(const std::vector<Point>& line);
uint32_t placementCost(const DrawContext& ctx, const Placement& placement);

constexpr const char* kFontFace = "Helvetica";
constexpr int kFontWeight = 500;

void drawObject(DrawContext& ctx, Surface& s, const Placement& placement);
// x, y in view units; y is the middle of the text line.
void drawText(DrawContext& ctx, Surface& s, uint32_t x, uint32_t y, int height, Colour colour, int align,
              const std::string& text);
void fillBox(DrawContext& ctx, Surface& s, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Colour fill,
             Colour frame);
void fillRoundBox(DrawContext& ctx, Surface& s, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Colour fill,
                  Colour frame);

void drawButton(DrawContext& ctx, Surface& s, const Placement& placement);
void drawPolyline(DrawContext& ctx, Surface& s, const Placement& placement);
void drawTextBox(DrawContext& ctx, Surface& s, const Placement& placement);
void drawSvgPicture(DrawContext& ctx, Surface& s, const Placement& placement);
void drawGifPicture(DrawContext& ctx, Surface& s, const Placement& placement);
void drawJpegPicture(DrawContext& ctx, Surface& s, const Placement& placement);
void drawGauge(DrawContext& ctx, Surface& s, const Placement& placement);
void drawCanvas(DrawContext& ctx, Surface& s, const Placement& placement);

// A line style of a polyline or canvas: 1 dashed, 2 dotted, 3 dash-dot, other solid.
LineStyle lineStyleOf(uint32_t style);

// Exchanges red and blue of every pixel (SVG renderings to pixel buffers).
void swapRedBlue(PixelBuffer& p);

}  // namespace okt
