#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "images/jpeg_decoder.h"
#include "platform/surface.h"
#include "presentation/picture_cache.h"
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
  // What the screen's own placements have drawn so far (see kMaxScreenWork).
  uint32_t screenWork = 0;
  // Pictures drawn before; none kept without it.
  PictureCache* pictures = nullptr;
};

// Canvases that place canvases draw this many levels, no more.
constexpr int kMaxCanvasDepth = 8;
// And this much in all, in one redraw. A canvas that places itself a few
// times multiplies its work at every level: within the depth limit a
// program of 148 bytes would draw billions of times. A unit is what about
// 20 us of drawing costs: a text or a placement 1; a text 1 more for every
// 2048 pixels of glyph height it draws (its glyphs times their height, the
// height counted up to 2048: a thousand glyphs 2000 pixels high take
// 15 ms); a line 1 more for every 32 pixels of its length, whatever its
// width (the rasteriser's cost goes with the rows each segment crosses); a
// picture 6 more for every KiB it decodes, 1 for every 2048 pixels it
// covers (the whole view when its aspect decides one side: it may be far
// taller than the view, which is all that is drawn of it) and, once decoded,
// 1 for every 2048 pixels it holds (a few bytes of GIF may declare 4
// megapixels, 50 ms of decoding); a gauge 1 more for every 4096 pixels of
// its box and 1 for every 8 ticks; a button or a framed text box 1 more for
// every 16384 pixels it fills, and its text. A legitimate canvas, however
// deep, stays far below the limit; a hostile one stops there, some 40 ms
// into the redraw.
constexpr uint32_t kMaxCanvasWork = 2048;
// A screen's own placements pay in the same units, from a budget of their
// own: a screen of thousands of placements (a body of 64 KiB holds nearly
// 6000) of long texts, gauges or pictures would otherwise take minutes a
// redraw. A screen of a few dozen objects costs tens of units, one full of
// large photographs a few hundred each; a hostile one stops drawing its
// placements here, some 160 ms into the redraw (its canvases have theirs).
constexpr uint32_t kMaxScreenWork = 8192;

// A gauge draws at most this many tick intervals: a tick for every fifth of a
// degree of a half circle, finer than any dial is read. Each tick is a
// polygon of its own, and the most a body can ask for (65535) takes a
// quarter of a second a redraw. A gauge asking for more draws no ticks, as
// one asking for none.
constexpr uint16_t kMaxGaugeTicks = 1000;

// Units of canvas work: a line through these pixel points, a text in glyphs
// `height` pixels high, and an object a canvas or a screen places (its own
// drawing, not a placed canvas's program; a picture's decoding is paid
// once it is known).
uint32_t strokeCost(const std::vector<Point>& line);
uint32_t textCost(const std::string& text, int height);
uint32_t placementCost(const DrawContext& ctx, const Placement& placement);
// Takes `units` from the canvases' or the screen's work; false when they are
// not left, and from then on nothing more is given.
bool spendCanvasWork(DrawContext& ctx, uint32_t units);
bool spendScreenWork(DrawContext& ctx, uint32_t units);

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
