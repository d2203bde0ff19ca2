// Pictures from the peripheral are untrusted: any bytes must decode or be
// refused, with every read inside the input.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "images/jpeg_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto ctx = std::make_unique<okt::JpegContext>();
  okt::jpegInit(*ctx);
  if (okt::jpegDecode(*ctx, data, static_cast<uint32_t>(size)) == okt::Ok) {
    // Touch every byte of the result: it must all be there.
    const uint8_t* p = okt::jpegPixels(*ctx);
    unsigned sum = 0;
    for (int i = 0; i < okt::jpegImageSize(*ctx); ++i) sum += p[i];
    if (sum == 0xFFFFFFFF) __builtin_trap();
  }
  okt::jpegRelease(*ctx);
  return 0;
}
