#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "presentation/ui_host.h"

namespace okt {

// Where the device's display sits in the window's display area, and how
// points and targets map between the two. Sizes are in the area's own
// (logical) pixels.
struct Box {
  int x = 0, y = 0, width = 0, height = 0;
  bool operator==(const Box&) const = default;
};

enum class ScaleMode { Fit, Fill };

// The device's display is 300 x 340 dialog units: with the dialog font's
// usual base units that is 450 x 553 pixels, the shape it was designed for.
constexpr int kDeviceAspectWidth = 450;
constexpr int kDeviceAspectHeight = 553;

// Fill: the whole area. Fit: the largest box of the device's shape, centred
// (the bars beside or above it stay neutral). Never empty for a non-empty area.
Box displayBox(int areaWidth, int areaHeight, ScaleMode mode);

// The view for a box, in pixels `ratio` times as dense as the area's.
ViewRect viewFor(const Box& box, double ratio);

// A point of the area to a pixel of the view; nothing when it falls outside
// the view (its last column and row are outside, as they always were).
std::optional<std::pair<uint32_t, uint32_t>> viewPixelAt(const Box& box, const ViewRect& view, double x, double y);

// A target's rectangle in the area.
Box targetBox(const Box& box, const DisplayTarget& target);
// A target's centre in view units: where a press of it clicks.
std::pair<uint32_t, uint32_t> targetCentre(const DisplayTarget& target);

// Walking the targets with Tab / Shift+Tab (or Down / Up): the next index,
// or -1 when the walk leaves the display (past either end). From -1 a walk
// enters at the first (forwards) or the last (backwards).
int stepFocus(int current, int count, bool backwards);

}  // namespace okt
