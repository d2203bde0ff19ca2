#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "images/jpeg_idct.h"

namespace okt {

enum JpegResult : int {
  Ok = 0,
  NotJpeg = 1,
  Unsupported = 2,
  OutOfMemory = 3,
  InternalError = 4,
  SyntaxError = 5,
  Finished = 6,  // inside jpegDecode only: the scan is complete
};

// Pictures above this many pixels are refused (OutOfMemory), whatever their
// header claims.
constexpr int64_t kJpegMaxPixels = int64_t{1} << 22;

// A byte buffer that keeps its storage between pictures and does not clear
// it: every byte a picture uses is written by that picture.
struct JpegBuffer {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
  size_t capacity = 0;

  bool resize(size_t n);
  void clear(size_t keepUpTo);
  uint8_t* data() { return bytes.get(); }
  const uint8_t* data() const { return bytes.get(); }
  uint8_t& operator[](size_t i) { return bytes[i]; }
  const uint8_t& operator[](size_t i) const { return bytes[i]; }
  void swap(JpegBuffer& o) {
    std::swap(bytes, o.bytes);
    std::swap(size, o.size);
    std::swap(capacity, o.capacity);
  }
};

struct JpegComponent {
  int id = 0;
  int ssx = 0, ssy = 0;  // sampling factors
  int width = 0, height = 0;
  int stride = 0;
  int qtsel = 0;
  int actabsel = 0, dctabsel = 0;
  int dcpred = 0;
  JpegBuffer pixels;  // the plane
};

struct JpegVlcCode {
  uint8_t bits;  // code length, 0: no code
  uint8_t code;  // symbol
};

// The short codes again, looked up by the next 9 bits: code and extra bits
// decoded in one step. bits 0: the code is longer, look it up in full;
// kJpegCodeOnly set: the code's length, its extra bits are read after it.
constexpr int kJpegFastBits = 9;
constexpr uint8_t kJpegCodeOnly = 0x80;
struct JpegFastCode {
  int16_t value;   // the decoded difference or coefficient
  uint8_t bits;    // code length plus extra bits
  uint8_t symbol;  // the code's symbol
};

// A baseline JPEG decoder: sequential DCT, Huffman coding, 8-bit samples, one
// or three components with power-of-two sampling, restart intervals, smooth
// chroma upsampling, integer arithmetic throughout. One context decodes one
// picture at a time; it keeps its buffers for the next picture.
struct JpegContext {
  int error = 0;
  const uint8_t* pos = nullptr;
  int size = 0;    // bytes left from pos
  int length = 0;  // bytes left in the current segment
  int width = 0, height = 0;
  int mbwidth = 0, mbheight = 0;
  int mbsizex = 0, mbsizey = 0;
  int ncomp = 0;
  JpegComponent comp[3];
  uint8_t qtab[4][64] = {};
  JpegVlcCode vlctab[4][65536] = {};
  JpegFastCode fasttab[4][1 << kJpegFastBits] = {};
  uint64_t buf = 0;
  int bufbits = 0;
  int block[64] = {};
  int rstinterval = 0;
  JpegBuffer rgb;
  bool frameSeen = false;
  uint8_t vlcDefined = 0;  // Huffman slots defined by this picture
  JpegBuffer spare;        // a plane kept for upsampling into
};

void jpegInit(JpegContext& ctx);
JpegResult jpegDecode(JpegContext& ctx, const uint8_t* data, uint32_t size);
// The same, with the inner loops in the given form (the tests compare them).
JpegResult jpegDecodeWith(JpegContext& ctx, const uint8_t* data, uint32_t size, JpegKernels kernels);
int jpegWidth(const JpegContext& ctx);
int jpegHeight(const JpegContext& ctx);
int jpegIsColour(const JpegContext& ctx);
// The grey plane (one component) or red, green, blue bytes (three).
const uint8_t* jpegPixels(const JpegContext& ctx);
int jpegImageSize(const JpegContext& ctx);
void jpegRelease(JpegContext& ctx);

}  // namespace okt
