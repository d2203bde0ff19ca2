#pragma once

#include <cstdint>
#include <vector>

namespace okt {

// Logical screens and images above this many pixels are refused.
constexpr uint32_t kGifMaxPixels = 1u << 22;

// Decodes the first image of a GIF87a or GIF89a file into blue, green, red,
// alpha pixels. Which colour is transparent: the one a Graphic Control
// Extension before the image names, if it names one (none if its flag says
// opaque); without such an extension, the index globalTableSize - 1, as
// device pictures have always been drawn.
struct GifDecoder {
  uint16_t frameWidth = 0, frameHeight = 0;
  uint16_t frameLeft = 0, frameTop = 0;
  uint16_t screenWidth = 0, screenHeight = 0;
  uint16_t globalTableSize = 0;
  uint16_t localTableSize = 0;
  uint8_t backgroundIndex = 0, aspectRatio = 0;
  uint8_t valid = 0;
  uint8_t hasGlobalTable = 0, hasLocalTable = 0, interlaced = 0;
  uint8_t hasGraphicControl = 0;  // a Graphic Control Extension came before the image
  uint8_t hasTransparency = 0;    // ...and its flag made transparentIndex transparent
  uint8_t transparentIndex = 0;
  uint8_t firstCode = 0;
  uint8_t interlacePass = 0;
  uint8_t palette[256][3] = {};
  uint8_t suffix[4096] = {};
  uint16_t prefix[4096] = {};
  uint16_t eoiCode = 0;
  uint16_t lastCode = 0;
  uint8_t initialCodeSize = 0, codeSize = 0;
  uint8_t subBlockLeft = 0;
  uint32_t x = 0, y = 0;  // place of the next pixel, relative to the image
  const uint8_t* data = nullptr;
  uint32_t position = 0;
  uint32_t size = 0;
  // frameWidth x frameHeight pixels, 4 bytes each; what decoding did not
  // reach is transparent.
  std::vector<uint8_t> pixels;
};

// 0 on success (whatever follows a valid header), 1 when the data is not a
// GIF or its logical screen is too large.
uint8_t gifDecode(GifDecoder& state, const uint8_t* data, uint32_t size);
uint16_t gifWidth(const GifDecoder& state);
uint16_t gifHeight(const GifDecoder& state);
void gifRelease(GifDecoder& state);

}  // namespace okt
