#pragma once

// The decoder's inner loops: the integer inverse DCT, smooth doubling of a
// chroma row and the YCbCr to RGB conversion. Each has a portable scalar form
// and, on x86-64, an SSE2 form that gives the same bytes for every input.
#include <cstdint>

namespace okt {

enum class JpegKernels {
  Reference,  // the plain scalar loops, every block through both passes
  Sse2,       // the shortcuts and the SSE2 forms (scalar where SSE2 is missing)
  Best,       // as Sse2, with AVX2 where the processor has it
};

// Row pass then column pass over the 64 dequantised coefficients (natural
// order), writing 8 x 8 samples at out with the given stride. The scalar form
// uses blk as its workspace.
void jpegIdct(int* blk, uint8_t* out, int stride, JpegKernels k);

// The same transform for blocks whose coefficients other than blk[0] are
// zero (flat), or which hold coefficients in the first row only or in the
// first column only: the passes' shortcuts then give one row or one column
// repeated. blk is used as workspace.
void jpegIdctFlat(int dc, uint8_t* out, int stride);
void jpegIdctFirstRow(int* blk, uint8_t* out, int stride);
void jpegIdctFirstColumn(int* blk, uint8_t* out, int stride);

// out[x] = clip((wa a[x] + wb b[x] + wc c[x] + wd d[x] + 64) >> 7) for x < n:
// one row of vertical doubling. Weights are those of the doubling filter
// (their positive sum at most 140, their negative sum at least -12).
void jpegFilterRows(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, const int w[4],
                    uint8_t* out, int n, JpegKernels k);

// Horizontal doubling of in[0..w-1] (w >= 3) into out[0..2w-1].
void jpegDoubleRow(const uint8_t* in, int w, uint8_t* out, JpegKernels k);

// JFIF conversion of n pixels into red, green, blue bytes. out has room for
// 16 bytes past its 3n.
void jpegYccToRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int n, JpegKernels k);

}  // namespace okt
