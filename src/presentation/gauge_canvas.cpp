// Gauges (a dial with a band, ticks and a needle following a variable) and
// canvases (small drawing programs that may place further objects).
#include <algorithm>
#include <cmath>
#include <numbers>

#include "presentation/drawing.h"
#include "protocol/wire.h"

namespace okt {
namespace {

constexpr float kPi = std::numbers::pi_v<float>;

// A point at stored radius r and angle t degrees, in box units around 32768.
Point polar(float r, float degrees) {
  float radius = r / 65535.0f * 32768.0f;
  float t = degrees * kPi / 180.0f;
  return {static_cast<int>(32768.0f + std::round(radius * std::cos(t))),
          static_cast<int>(32768.0f + std::round(radius * std::sin(t)))};
}

class GaugePainter {
 public:
  GaugePainter(DrawContext& ctx, Surface& s, const Placement& p, const GaugeBody& g) : ctx_(ctx), s_(s), p_(p), g_(g) {}

  void shape(std::vector<Point> points, Colour colour) {
    shapePoints(ctx_.state.viewRect, p_, points);
    s_.polygon(points, Pen{true, toColorRef(colour), 1, LineStyle::Solid}, Brush{true, toColorRef(colour)});
  }
  void disc(float from, float to, Colour colour) {
    std::vector<Point> box = {{static_cast<int>(from), static_cast<int>(from)},
                              {static_cast<int>(to), static_cast<int>(to)}};
    shapePoints(ctx_.state.viewRect, p_, box);
    s_.ellipse(box[0].x, box[0].y, box[1].x, box[1].y, Pen{true, toColorRef(colour), 1, LineStyle::Solid},
               Brush{true, toColorRef(colour)});
  }
  void band(float t1, float t2, Colour colour) {
    std::vector<Point> points;
    for (int i = 0; i <= 50; ++i) points.push_back(polar(g_.bandOuterRadius, t1 + i / 50.0f * (t2 - t1)));
    for (int i = 50; i >= 0; --i) points.push_back(polar(g_.bandInnerRadius, t1 + i / 50.0f * (t2 - t1)));
    shape(points, colour);
  }
  void tick(float ta, float tb) {
    shape({polar(g_.tickOuterRadius, ta), polar(g_.tickOuterRadius, tb), polar(g_.tickInnerRadius, tb),
           polar(g_.tickInnerRadius, ta)},
          g_.tickColour);
  }
  void needle(float n) {
    shape({polar(g_.needleHalfWidth, n + 90), polar(g_.needleHalfWidth, n - 90), polar(g_.needleLength, n)},
          g_.needleColour);
    if (g_.needleStyle != 1) {
      float a = 1.2f * (g_.needleHalfWidth / 65535.0f * 32768.0f);
      disc(std::trunc(32768 - a), std::trunc(32768 + a), g_.needleColour);
    }
  }

 private:
  DrawContext& ctx_;
  Surface& s_;
  const Placement& p_;
  const GaugeBody& g_;
};

}  // namespace

void drawGauge(DrawContext& ctx, Surface& s, const Placement& p) {
  const GaugeBody* g = bodyOf<GaugeBody>(ctx.state, p.objectId);
  if (!g) return;
  float start = g->bandStart / 100.0f + 90, end = g->bandEnd / 100.0f + 90;
  if (start > end) return;
  float n = start + static_cast<float>(variableFraction(ctx.state, g->variableId)) * (end - start);
  GaugePainter paint(ctx, s, p, *g);
  if (g->flags & 0x08) paint.disc(0, 65535, g->faceColour);
  if (g->flags & 0x20) {
    paint.band(start, n, g->valueColour);
    paint.band(n, end, g->bandColour);
  } else {
    paint.band(start, end, g->bandColour);
  }
  // A tick count of 0 has no interval to divide: no ticks; past the limit, none either.
  if ((g->flags & 0x10) && g->tickCount > 0 && g->tickCount <= kMaxGaugeTicks) {
    float ts = g->tickStart / 100.0f + 90, te = g->tickEnd / 100.0f + 90, half = g->tickWidth / 200.0f;
    for (int i = 0; i <= g->tickCount; ++i) {
      float c = ts + i * (te - ts) / g->tickCount;
      paint.tick(c - half, c + half);
    }
  }
  if (g->needleStyle != 0) paint.needle(n);
}

namespace {

struct CanvasState {
  uint16_t word = 0;
  uint16_t fontHeight = 20;
  Colour textColour = 0x000000;
  Colour fillColour = 0xFFFFFF;
  Colour lineColour = 0x808080;
  uint8_t lineWidth = 1;
  uint8_t lineStyle = 0;
};

}  // namespace

void drawCanvas(DrawContext& ctx, Surface& s, const Placement& p) {
  const CanvasBody* c = bodyOf<CanvasBody>(ctx.state, p.objectId);
  if (!c || c->program.empty() || ctx.canvasDepth >= kMaxCanvasDepth) return;
  // The body may be replaced while a nested object draws; keep a copy.
  const std::vector<uint8_t> program = c->program;
  const ViewRect& v = ctx.state.viewRect;
  CanvasState st;
  WireReader r(program.data(), program.size());
  for (;;) {
    uint8_t op = 0;
    if (!r.u8(op) || op == 0x00) return;
    uint16_t x = 0, y = 0, u16 = 0;
    uint32_t u24 = 0;
    uint8_t u8 = 0;
    switch (op) {
      case 0x01:
        if (r.u16(u16)) st.word = u16;
        break;
      case 0x02:
        if (r.u16(u16)) st.fontHeight = u16;
        break;
      case 0x03:
        if (r.u24(u24)) st.textColour = u24;
        break;
      case 0x04:
        if (r.u24(u24)) st.fillColour = u24;
        break;
      case 0x05:
        if (r.u24(u24)) st.lineColour = u24;
        break;
      case 0x06:
        if (r.u8(u8)) st.lineWidth = u8;
        break;
      case 0x07:
        if (r.u8(u8)) st.lineStyle = u8;
        break;
      case 0x20:
        if (r.u16(x) && r.u16(y) && r.u24(u24)) {
          const char* t = isValidId(u24) ? textOf(ctx.state, u24) : nullptr;
          if (!spendCanvasWork(ctx, t ? textCost(t, st.fontHeight) : 1)) return;
          if (t) drawText(ctx, s, x, y, st.fontHeight, st.textColour, AlignLeft, t);
        }
        break;
      case 0x21:
        if (r.u16(x) && r.u16(y)) {
          std::string text = r.text();
          if (!spendCanvasWork(ctx, textCost(text, st.fontHeight))) return;
          drawText(ctx, s, x, y, st.fontHeight, st.textColour, AlignLeft, text);
        }
        break;
      case 0x22: {
        Placement inner;
        if (r.u16(inner.x) && r.u16(inner.y) && r.u16(inner.width) && r.u16(inner.height) && r.u24(inner.objectId)) {
          if (!spendCanvasWork(ctx, placementCost(ctx, inner))) return;
          // The placed object draws with its own state; ours is unchanged.
          ++ctx.canvasDepth;
          drawObject(ctx, s, inner);
          --ctx.canvasDepth;
        }
        break;
      }
      case 0x23: {
        if (!r.u8(u8)) return;
        std::vector<Point> line;
        for (int k = 0; k < u8; ++k) {
          if (!(r.u16(x) && r.u16(y))) return;
          line.push_back({static_cast<int>(scaleX(v, boxPoint(p.x, p.width, x))),
                          static_cast<int>(scaleY(v, boxPoint(p.y, p.height, y)))});
        }
        if (!spendCanvasWork(ctx, strokeCost(line))) return;
        if (line.size() >= 2)
          s.polyline(line, Pen{true, toColorRef(st.lineColour), st.lineWidth, lineStyleOf(st.lineStyle)});
        break;
      }
      default: return;  // the decoder admits no other op; stop at anything else
    }
    if (r.failed()) return;
  }
}

}  // namespace okt
