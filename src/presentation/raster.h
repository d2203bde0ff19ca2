#pragma once

#include <cstdint>
#include <vector>

#include "platform/surface.h"
#include "protocol/client_state.h"

namespace okt {

// 0x00RRGGBB as the peripheral sends it; the top byte is ignored.
using Colour = uint32_t;

inline DeviceColour toColorRef(Colour c) { return ((c & 0xFF) << 16) | (c & 0xFF00) | ((c >> 16) & 0xFF); }

// View units (0..65535 of the view's width or height) to pixels.
uint32_t scaleX(const ViewRect& view, uint32_t u);
uint32_t scaleY(const ViewRect& view, uint32_t u);
// A point p of a box (0..65535 of the box) in view units.
inline uint32_t boxPoint(uint32_t origin, uint32_t extent, uint32_t p) { return origin + extent * p / 65535; }
// Maps points in box units (32768 = the box's centre) to pixels, in place.
void shapePoints(const ViewRect& view, const Placement& placement, std::vector<Point>& points);

// Draws a straight-alpha picture unscaled with its top-left corner at (x, y).
void blendPixels(Surface& surface, int x, int y, const PixelBuffer* pixels);

// A picture scaled for a surface: the part of it that lands there, and
// where its top-left corner goes.
struct ScaledPicture {
  int x = 0;
  int y = 0;
  PixelBuffer pixels;
};

uint8_t sampleBilinear(uint32_t x, uint32_t y, uint32_t outWidth, uint32_t outHeight, uint32_t srcWidth,
                       uint32_t srcHeight, const uint8_t* src, int channel, int bytesPerPixel);
// Scale a source picture to outWidth x outHeight for its top-left corner at
// (x, y) of a surface of that size: grey (1 byte a pixel), red-green-blue (3)
// or blue-green-red-alpha (4). Only the part that lies on the surface is
// scaled.
ScaledPicture scaleGrey(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t outWidth, uint32_t outHeight,
                        uint32_t srcWidth, uint32_t srcHeight, const uint8_t* src);
ScaledPicture scaleRgb(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t outWidth, uint32_t outHeight,
                       uint32_t srcWidth, uint32_t srcHeight, const uint8_t* src);
ScaledPicture scaleRgba(int surfaceWidth, int surfaceHeight, int x, int y, uint32_t outWidth, uint32_t outHeight,
                        uint32_t srcWidth, uint32_t srcHeight, const uint8_t* src);
void blendScaled(Surface& s, const ScaledPicture& picture);
// The same, blended on the surface at once.
void resampleGrey(Surface& s, int x, int y, uint32_t outWidth, uint32_t outHeight, uint32_t srcWidth,
                  uint32_t srcHeight, const uint8_t* src);
void resampleRgb(Surface& s, int x, int y, uint32_t outWidth, uint32_t outHeight, uint32_t srcWidth, uint32_t srcHeight,
                 const uint8_t* src);
void resampleRgba(Surface& s, int x, int y, uint32_t outWidth, uint32_t outHeight, uint32_t srcWidth,
                  uint32_t srcHeight, const uint8_t* src);

}  // namespace okt
