#pragma once

#include <string>
#include <vector>

#include "platform/surface.h"

namespace okt::test {

// A Surface that keeps its calls as data, for geometry tests.
class RecordingSurface : public Surface {
 public:
  struct Call {
    std::string kind;           // rectangle, roundRect, polygon, ellipse, polyline, text, blend
    std::vector<Point> points;  // corners (l,t),(r,b) for boxes; the points otherwise
    Pen pen;
    Brush brush;
    std::string text;
    int height = 0;
    int align = 0;
    DeviceColour colour = 0;
    uint32_t w = 0, h = 0;  // blended picture size
    PixelBuffer picture;
  };

  RecordingSurface(int w = 600, int h = 400, std::vector<RecordingSurface>* archive = nullptr)
      : w_(w), h_(h), archive_(archive) {}
  RecordingSurface(const RecordingSurface& o) : calls(o.calls), w_(o.w_), h_(o.h_) {}
  // A surface the code under test owns leaves a copy of its calls behind.
  ~RecordingSurface() override {
    if (archive_) archive_->push_back(*this);
  }
  int width() const override { return w_; }
  int height() const override { return h_; }
  void rectangle(int l, int t, int r, int b, const Pen& pen, const Brush& brush) override {
    record("rectangle", {{l, t}, {r, b}}, pen, brush);
  }
  void roundRect(int l, int t, int r, int b, int, int, const Pen& pen, const Brush& brush) override {
    record("roundRect", {{l, t}, {r, b}}, pen, brush);
  }
  void polygon(const std::vector<Point>& p, const Pen& pen, const Brush& brush) override {
    record("polygon", p, pen, brush);
  }
  void ellipse(int l, int t, int r, int b, const Pen& pen, const Brush& brush) override {
    record("ellipse", {{l, t}, {r, b}}, pen, brush);
  }
  void polyline(const std::vector<Point>& p, const Pen& pen) override { record("polyline", p, pen, Brush{}); }
  void text(int x, int y, const std::string& utf8, int height, const std::string&, int, int align,
            DeviceColour colour) override {
    Call& c = record("text", {{x, y}}, Pen{}, Brush{});
    c.text = utf8;
    c.height = height;
    c.align = align;
    c.colour = colour;
  }
  Point textExtent(const std::string& utf8, int height, const std::string&, int) override {
    return {static_cast<int>(utf8.size()) * height / 2, height};
  }
  void blend(int x, int y, const PixelBuffer& p) override {
    Call& c = record("blend", {{x, y}}, Pen{}, Brush{});
    c.w = p.width, c.h = p.height, c.picture = p;
  }
  PixelBuffer pixels() const override { return {}; }

  std::vector<Call> of(const std::string& kind) const {
    std::vector<Call> out;
    for (const auto& c : calls)
      if (c.kind == kind) out.push_back(c);
    return out;
  }
  std::vector<Call> calls;

 private:
  Call& record(const char* kind, std::vector<Point> points, const Pen& pen, const Brush& brush) {
    Call c;
    c.kind = kind;
    c.points = std::move(points);
    c.pen = pen;
    c.brush = brush;
    calls.push_back(std::move(c));
    return calls.back();
  }

  int w_, h_;
  std::vector<RecordingSurface>* archive_ = nullptr;
};

}  // namespace okt::test
