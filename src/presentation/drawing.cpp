#include "presentation/drawing.h"

#include <algorithm>
#include <cstdlib>

#include "images/gif_decoder.h"
#include "platform/log.h"
#include "protocol/wire.h"

namespace okt {
namespace {

Pen solidPen(Colour c) { return Pen{true, toColorRef(c), 1, LineStyle::Solid}; }
Brush solidBrush(Colour c) { return Brush{true, toColorRef(c)}; }

// The size a picture is drawn at, from its placement and its own size;
// false when nothing is to be drawn.
bool targetSize(const ViewRect& view, const Placement& p, uint32_t w, uint32_t h, uint32_t& tw, uint32_t& th) {
  if (w == 0 || h == 0) return false;
  if (p.width && p.height) {
    tw = scaleX(view, p.width), th = scaleY(view, p.height);
  } else if (p.width) {
    tw = scaleX(view, p.width);
    th = static_cast<uint32_t>(uint64_t{tw} * h / w);
  } else if (p.height) {
    th = scaleY(view, p.height);
    tw = static_cast<uint32_t>(uint64_t{th} * w / h);
  } else {
    return false;
  }
  return tw > 0 && th > 0;
}

}  // namespace

LineStyle lineStyleOf(uint32_t style) {
  switch (style) {
    case 1: return LineStyle::Dash;
    case 2: return LineStyle::Dot;
    case 3: return LineStyle::DashDot;
    default: return LineStyle::Solid;
  }
}

void swapRedBlue(PixelBuffer& p) {
  for (size_t i = 0; i + 3 < p.pixels.size(); i += 4) std::swap(p.pixels[i], p.pixels[i + 2]);
}

namespace {

bool spendFrom(uint32_t& used, uint32_t limit, uint32_t units) {
  if (used >= limit || units > limit - used) {
    used = limit;  // nothing more after the first refusal
    return false;
  }
  used += units;
  return true;
}

// A picture's decoding, paid once its size is known, by the canvas or the
// screen that placed it.
void chargeDecoding(DrawContext& ctx, uint64_t pixels) {
  bool canvas = ctx.canvasDepth > 0;
  uint32_t& used = canvas ? ctx.canvasWork : ctx.screenWork;
  uint64_t limit = canvas ? kMaxCanvasWork : kMaxScreenWork;
  used = static_cast<uint32_t>(std::min(limit, used + pixels / 2048));
}

// Glyphs of a text as a surface draws it: code points, at most 1023.
uint64_t glyphCount(const std::string& text) {
  uint64_t n = 0;
  for (unsigned char c : text)
    if ((c & 0xC0) != 0x80 && ++n == 1023) break;
  return n;
}

}  // namespace

bool spendCanvasWork(DrawContext& ctx, uint32_t units) { return spendFrom(ctx.canvasWork, kMaxCanvasWork, units); }
bool spendScreenWork(DrawContext& ctx, uint32_t units) { return spendFrom(ctx.screenWork, kMaxScreenWork, units); }

uint32_t textCost(const std::string& text, int height) {
  uint64_t h = static_cast<uint64_t>(std::clamp(height, 1, 2048));
  return 1 + static_cast<uint32_t>(glyphCount(text) * h / 2048);
}

uint32_t strokeCost(const std::vector<Point>& line) {
  uint64_t length = 0;
  for (size_t i = 1; i < line.size(); ++i)
    length += static_cast<uint64_t>(std::abs(line[i].x - line[i - 1].x) + std::abs(line[i].y - line[i - 1].y));
  return 1 + static_cast<uint32_t>(std::min<uint64_t>(length / 32, kMaxCanvasWork));
}

// The polyline's groups as pixel points of the placement.
template <typename F>
void forEachGroup(const ViewRect& v, const Placement& p, const PolylineBody& b, F&& f) {
  const std::vector<uint16_t>& pts = b.points;
  size_t i = 0;
  while (i < pts.size() && pts[i] != 0) {
    size_t n = pts[i++];
    std::vector<Point> line;
    for (size_t k = 0; k < n && i + 1 < pts.size(); ++k, i += 2)
      line.push_back({static_cast<int>(scaleX(v, boxPoint(p.x, p.width, pts[i]))),
                      static_cast<int>(scaleY(v, boxPoint(p.y, p.height, pts[i + 1])))});
    f(n, line);
  }
}

uint32_t placementCost(const DrawContext& ctx, const Placement& p) {
  const ViewRect& v = ctx.state.viewRect;
  const uint64_t box = uint64_t{scaleX(v, uint32_t{p.x} + p.width) - scaleX(v, p.x)} *
                       (scaleY(v, uint32_t{p.y} + p.height) - scaleY(v, p.y));
  switch (objectType(ctx.state, p.objectId)) {
    case ObjectType::Button: {
      const ButtonBody* b = bodyOf<ButtonBody>(ctx.state, p.objectId);
      const char* label = isValidId(b->textId) ? textOf(ctx.state, b->textId) : nullptr;
      return 1 + static_cast<uint32_t>(std::min<uint64_t>(box / 16384, kMaxCanvasWork)) +
             (label ? textCost(label, b->fontHeight) : 0);
    }
    case ObjectType::TextBox: {
      const TextBoxBody* b = bodyOf<TextBoxBody>(ctx.state, p.objectId);
      std::string text;
      if (isValidId(b->textId)) {
        if (const char* t = textOf(ctx.state, b->textId)) text = t;
      } else if (isValidId(b->variableId)) {
        formatVariable(ctx.state, b->variableId, text);
      }
      uint64_t fill = b->frameless != 1 ? box / 16384 : 0;
      return 1 + static_cast<uint32_t>(std::min<uint64_t>(fill, kMaxCanvasWork)) +
             (text.empty() ? 0 : textCost(text, b->fontHeight));
    }
    case ObjectType::Polyline: {
      const PolylineBody* b = bodyOf<PolylineBody>(ctx.state, p.objectId);
      uint64_t units = 1;
      forEachGroup(v, p, *b, [&](size_t, const std::vector<Point>& line) { units += strokeCost(line); });
      return static_cast<uint32_t>(std::min<uint64_t>(units, kMaxCanvasWork + 1));
    }
    case ObjectType::SvgPicture:
    case ObjectType::GifPicture:
    case ObjectType::JpegPicture: {
      const BlobBody* b = bodyOf<BlobBody>(ctx.state, p.objectId);
      // With one side 0 the picture's aspect decides the other: as much as
      // the whole view may be drawn.
      uint64_t area = p.width && p.height ? uint64_t{scaleX(v, p.width)} * scaleY(v, p.height)
                                          : uint64_t{scaleX(v, 65535)} * scaleY(v, 65535);
      return 1 + 6 * (b->size / 1024) + static_cast<uint32_t>(std::min<uint64_t>(area / 2048, kMaxCanvasWork));
    }
    case ObjectType::Gauge: {
      const GaugeBody* g = bodyOf<GaugeBody>(ctx.state, p.objectId);
      uint64_t area = uint64_t{scaleX(v, p.width)} * scaleY(v, p.height);
      uint32_t ticks = (g->flags & 0x10) && g->tickCount <= kMaxGaugeTicks ? g->tickCount + 1u : 0u;
      return 1 + static_cast<uint32_t>(std::min<uint64_t>(area / 4096, kMaxCanvasWork)) + ticks / 8;
    }
    default: return 1;
  }
}

void drawObject(DrawContext& ctx, Surface& s, const Placement& placement) {
  if (!isValidId(placement.objectId) || !ctx.state.pObjList.contains(placement.objectId)) return;
  switch (ctx.state.pObjList.find(placement.objectId)->type) {
    case ObjectType::Button: drawButton(ctx, s, placement); break;
    case ObjectType::Polyline: drawPolyline(ctx, s, placement); break;
    case ObjectType::TextBox: drawTextBox(ctx, s, placement); break;
    case ObjectType::SvgPicture: drawSvgPicture(ctx, s, placement); break;
    case ObjectType::GifPicture: drawGifPicture(ctx, s, placement); break;
    case ObjectType::Gauge: drawGauge(ctx, s, placement); break;
    case ObjectType::JpegPicture: drawJpegPicture(ctx, s, placement); break;
    case ObjectType::Canvas: drawCanvas(ctx, s, placement); break;
    default: break;
  }
}

void drawText(DrawContext& ctx, Surface& s, uint32_t x, uint32_t y, int height, Colour colour, int align,
              const std::string& text) {
  if (text.empty()) return;
  const ViewRect& view = ctx.state.viewRect;
  Point extent = s.textExtent(text, height, kFontFace, kFontWeight);
  int px = static_cast<int>(scaleX(view, x));
  int py = static_cast<int>(scaleY(view, y)) - extent.y / 2;
  s.text(px, py, text, height, kFontFace, kFontWeight, align, toColorRef(colour));
}

void fillBox(DrawContext& ctx, Surface& s, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Colour fill,
             Colour frame) {
  const ViewRect& v = ctx.state.viewRect;
  s.rectangle(static_cast<int>(scaleX(v, x)), static_cast<int>(scaleY(v, y)), static_cast<int>(scaleX(v, x + width)),
              static_cast<int>(scaleY(v, y + height)), solidPen(frame), solidBrush(fill));
}

void fillRoundBox(DrawContext& ctx, Surface& s, uint32_t x, uint32_t y, uint32_t width, uint32_t height, Colour fill,
                  Colour frame) {
  const ViewRect& v = ctx.state.viewRect;
  s.roundRect(static_cast<int>(scaleX(v, x)), static_cast<int>(scaleY(v, y)), static_cast<int>(scaleX(v, x + width)),
              static_cast<int>(scaleY(v, y + height)), 25, 25, solidPen(frame), solidBrush(fill));
}

void drawButton(DrawContext& ctx, Surface& s, const Placement& p) {
  const ButtonBody* b = bodyOf<ButtonBody>(ctx.state, p.objectId);
  if (!b) return;
  bool pressed = ctx.state.pObjList.find(p.objectId)->pressed != 0;
  Colour fill, text, frame;
  if (b->style == 1 || b->style == 2) {
    fill = pressed ? b->pressedFillColour : b->fillColour;
    text = pressed ? b->pressedTextColour : b->textColour;
    frame = pressed ? b->pressedFrameColour : b->frameColour;
  } else {
    fill = pressed ? 0xFFFFFF : 0x000000;
    text = pressed ? 0x000000 : 0xFFFFFF;
    frame = 0x888888;
  }
  if (b->style == 2)
    fillRoundBox(ctx, s, p.x, p.y, p.width, p.height, fill, frame);
  else
    fillBox(ctx, s, p.x, p.y, p.width, p.height, fill, frame);
  const char* label = isValidId(b->textId) ? textOf(ctx.state, b->textId) : nullptr;
  if (label) drawText(ctx, s, p.x + p.width / 2u, p.y + p.height / 2u, b->fontHeight, text, AlignCentre, label);
}

void drawPolyline(DrawContext& ctx, Surface& s, const Placement& p) {
  const PolylineBody* b = bodyOf<PolylineBody>(ctx.state, p.objectId);
  if (!b) return;
  const ViewRect& v = ctx.state.viewRect;
  Pen pen{true, toColorRef(b->colour), b->lineWidth, lineStyleOf(b->lineStyle)};
  forEachGroup(v, p, *b, [&](size_t n, const std::vector<Point>& line) {
    if (n >= 2) s.polyline(line, pen);  // a group of one point draws nothing
  });
}

void drawTextBox(DrawContext& ctx, Surface& s, const Placement& p) {
  const TextBoxBody* b = bodyOf<TextBoxBody>(ctx.state, p.objectId);
  if (!b) return;
  if (b->frameless != 1) fillBox(ctx, s, p.x, p.y, p.width, p.height, b->fillColour, b->frameColour);
  std::string text;
  if (isValidId(b->textId)) {
    const char* t = textOf(ctx.state, b->textId);
    if (!t) return;  // the fixed text has not arrived: the variable does not stand in
    text = t;
  } else if (isValidId(b->variableId)) {
    formatVariable(ctx.state, b->variableId, text);
  } else {
    return;
  }
  drawText(ctx, s, p.x + p.width / 2u, p.y, b->fontHeight, b->textColour, AlignCentre, text);
}

namespace {

PictureKey pictureKey(const DrawContext& ctx, const Surface& s, const Placement& p) {
  const ObjectEntry* e = ctx.state.pObjList.find(p.objectId);
  return PictureKey{PictureKey::Picture, p.objectId, e ? e->bodyVersion : 0, p, ctx.state.viewRect,
                    s.width(),           s.height()};
}

// A picture drawn before from the same body in the same place is blended as
// it was, and costs what its decoding cost.
bool drawKept(DrawContext& ctx, Surface& s, const Placement& p) {
  if (!ctx.pictures) return false;
  const KeptPicture* kept = ctx.pictures->find(pictureKey(ctx, s, p));
  if (!kept) return false;
  chargeDecoding(ctx, kept->decodedPixels);
  blendScaled(s, kept->scaled);
  return true;
}

void drawAndKeep(DrawContext& ctx, Surface& s, const Placement& p, KeptPicture picture) {
  blendScaled(s, picture.scaled);
  if (ctx.pictures) ctx.pictures->keep(pictureKey(ctx, s, p), std::move(picture));
}

}  // namespace

void drawSvgPicture(DrawContext& ctx, Surface& s, const Placement& p) {
  const BlobBody* b = bodyOf<BlobBody>(ctx.state, p.objectId);
  if (!b || b->data.empty() || !ctx.renderSvg) return;
  const ViewRect& v = ctx.state.viewRect;
  uint32_t wanted = scaleX(v, p.width);
  if (wanted == 0) return;  // placed with no width: nothing to draw
  if (drawKept(ctx, s, p)) return;
  auto picture = ctx.renderSvg(reinterpret_cast<const char*>(b->data.data()), wanted);
  if (!picture) {
    platform::logText("SVG: Error rendering SVG string\n");
    return;
  }
  KeptPicture kept{{}, uint64_t{picture->width} * picture->height};
  chargeDecoding(ctx, kept.decodedPixels);
  swapRedBlue(*picture);
  uint32_t tw = 0, th = 0;
  if (targetSize(v, p, picture->width, picture->height, tw, th))
    kept.scaled = scaleRgba(s.width(), s.height(), static_cast<int>(scaleX(v, p.x)), static_cast<int>(scaleY(v, p.y)),
                            tw, th, picture->width, picture->height, picture->pixels.data());
  drawAndKeep(ctx, s, p, std::move(kept));
}

void drawGifPicture(DrawContext& ctx, Surface& s, const Placement& p) {
  const BlobBody* b = bodyOf<BlobBody>(ctx.state, p.objectId);
  if (!b || b->data.empty()) return;
  if (drawKept(ctx, s, p)) return;
  GifDecoder gif;
  int result = gifDecode(gif, b->data.data(), b->size);
  KeptPicture kept{{}, uint64_t{gifWidth(gif)} * gifHeight(gif)};
  chargeDecoding(ctx, kept.decodedPixels);
  if (result != 0) {
    platform::logText("GIF: Error decoding the input file.\n");
    gifRelease(gif);
    return;
  }
  const ViewRect& v = ctx.state.viewRect;
  uint32_t tw = 0, th = 0;
  if (targetSize(v, p, gifWidth(gif), gifHeight(gif), tw, th))
    kept.scaled = scaleRgba(s.width(), s.height(), static_cast<int>(scaleX(v, p.x)), static_cast<int>(scaleY(v, p.y)),
                            tw, th, gifWidth(gif), gifHeight(gif), gif.pixels.data());
  gifRelease(gif);
  drawAndKeep(ctx, s, p, std::move(kept));
}

void drawJpegPicture(DrawContext& ctx, Surface& s, const Placement& p) {
  const BlobBody* b = bodyOf<BlobBody>(ctx.state, p.objectId);
  if (!b || b->data.empty()) return;
  if (drawKept(ctx, s, p)) return;
  JpegContext& jpeg = ctx.jpeg;
  jpegInit(jpeg);
  JpegResult result = jpegDecode(jpeg, b->data.data(), b->size);
  KeptPicture kept{{}, uint64_t(std::max(jpegWidth(jpeg), 0)) * uint64_t(std::max(jpegHeight(jpeg), 0))};
  chargeDecoding(ctx, kept.decodedPixels);
  if (result != Ok) {
    platform::logText("JPG: Error decoding the input file.\n");
    jpegRelease(jpeg);
    return;
  }
  const ViewRect& v = ctx.state.viewRect;
  uint32_t w = static_cast<uint32_t>(jpegWidth(jpeg)), h = static_cast<uint32_t>(jpegHeight(jpeg));
  uint32_t tw = 0, th = 0;
  if (targetSize(v, p, w, h, tw, th)) {
    int x = static_cast<int>(scaleX(v, p.x)), y = static_cast<int>(scaleY(v, p.y));
    kept.scaled = jpegIsColour(jpeg) ? scaleRgb(s.width(), s.height(), x, y, tw, th, w, h, jpegPixels(jpeg))
                                     : scaleGrey(s.width(), s.height(), x, y, tw, th, w, h, jpegPixels(jpeg));
  }
  jpegRelease(jpeg);
  drawAndKeep(ctx, s, p, std::move(kept));
}

}  // namespace okt
