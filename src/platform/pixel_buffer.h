#pragma once

#include <cstdint>
#include <vector>

namespace okt {

// A picture of width x height pixels, 4 bytes a pixel in the order blue,
// green, red, alpha (straight alpha), rows top to bottom without gaps.
struct PixelBuffer {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;

  bool empty() const { return width == 0 || height == 0 || pixels.empty(); }
};

}  // namespace okt
