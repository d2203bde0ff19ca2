#pragma once

#include <cstdint>
#include <optional>

#include "platform/pixel_buffer.h"

namespace okt {

// Pictures larger than this are refused ("ERROR: Could not alloc image buffer.").
constexpr uint64_t kSvgMaxPixels = uint64_t{1} << 22;

// Rasterises SVG text `wantedWidth` pixels wide, the height following the
// picture's aspect. The buffer's bytes are red, green, blue, alpha (straight
// alpha), not the blue-first order of other pixel buffers: callers exchange
// red and blue before blending. None for text that is no picture, a picture
// of no size, or a wanted width of 0; the text is not changed.
std::optional<PixelBuffer> renderSvg(const char* text, uint32_t wantedWidth);
// The same for a built-in icon; none, silently, for a number that is not one.
std::optional<PixelBuffer> renderIcon(uint32_t iconId, uint32_t wantedWidth);

}  // namespace okt
