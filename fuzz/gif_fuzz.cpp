#include <cstddef>
#include <cstdint>

#include "images/gif_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  okt::GifDecoder g;
  if (okt::gifDecode(g, data, static_cast<uint32_t>(size)) == 0) {
    size_t n = size_t{okt::gifWidth(g)} * okt::gifHeight(g) * 4;
    if (g.pixels.size() < n) __builtin_trap();  // the caller reads this much
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) sum += g.pixels[i];
    if (sum == 0xFFFFFFFF) __builtin_trap();
  }
  okt::gifRelease(g);
  return 0;
}
