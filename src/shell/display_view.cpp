#include "shell/display_view.h"

#include <algorithm>
#include <cmath>

namespace okt {

Box displayBox(int areaWidth, int areaHeight, ScaleMode mode) {
  if (areaWidth <= 0 || areaHeight <= 0) return {};
  if (mode == ScaleMode::Fill) return {0, 0, areaWidth, areaHeight};
  // The wider of the two limits gives way.
  int64_t byWidth = int64_t{areaWidth} * kDeviceAspectHeight;
  int64_t byHeight = int64_t{areaHeight} * kDeviceAspectWidth;
  int w = areaWidth, h = areaHeight;
  if (byWidth > byHeight)
    w = std::max(1, static_cast<int>(byHeight / kDeviceAspectHeight));
  else
    h = std::max(1, static_cast<int>(byWidth / kDeviceAspectWidth));
  return {(areaWidth - w) / 2, (areaHeight - h) / 2, w, h};
}

ViewRect viewFor(const Box& box, double ratio) {
  if (!(ratio > 0)) ratio = 1;
  ViewRect v;
  v.right = static_cast<int32_t>(std::lround(box.width * ratio));
  v.bottom = static_cast<int32_t>(std::lround(box.height * ratio));
  return v;
}

std::optional<std::pair<uint32_t, uint32_t>> viewPixelAt(const Box& box, const ViewRect& view, double x, double y) {
  if (box.width <= 0 || box.height <= 0) return std::nullopt;
  // The view may not yet have the box's size (a resize waiting for its
  // redraw): the point is scaled to the view the device was drawn for.
  double fx = (x - box.x) / box.width, fy = (y - box.y) / box.height;
  int32_t w = view.right - view.left, h = view.bottom - view.top;
  if (fx < 0 || fy < 0 || w <= 0 || h <= 0) return std::nullopt;
  auto px = static_cast<int64_t>(std::floor(fx * w)), py = static_cast<int64_t>(std::floor(fy * h));
  if (px >= w - 1 || py >= h - 1) return std::nullopt;
  return std::make_pair(static_cast<uint32_t>(px), static_cast<uint32_t>(py));
}

Box targetBox(const Box& box, const DisplayTarget& t) {
  auto sx = [&](uint64_t u) { return box.x + static_cast<int>(u * static_cast<uint64_t>(box.width) / 65536); };
  auto sy = [&](uint64_t u) { return box.y + static_cast<int>(u * static_cast<uint64_t>(box.height) / 65536); };
  int left = sx(t.x), top = sy(t.y);
  int right = sx(uint64_t{t.x} + t.width), bottom = sy(uint64_t{t.y} + t.height);
  return {left, top, std::max(1, right - left), std::max(1, bottom - top)};
}

std::pair<uint32_t, uint32_t> targetCentre(const DisplayTarget& t) {
  uint64_t cx = t.x + uint64_t{t.width} / 2, cy = t.y + uint64_t{t.height} / 2;
  return {static_cast<uint32_t>(std::min<uint64_t>(cx, 65535)), static_cast<uint32_t>(std::min<uint64_t>(cy, 65535))};
}

int stepFocus(int current, int count, bool backwards) {
  if (count <= 0) return -1;
  if (current < 0 || current >= count) return backwards ? count - 1 : 0;
  int next = backwards ? current - 1 : current + 1;
  return next < 0 || next >= count ? -1 : next;
}

}  // namespace okt
