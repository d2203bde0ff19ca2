#include "images/jpeg_idct.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace okt {
namespace {

// The transform is specified in 32-bit arithmetic. Hostile data can drive it
// past the range of int; these helpers wrap as the hardware does instead of
// leaving that undefined.
inline int wadd(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int wsub(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int wmul(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

inline uint8_t clip(int x) { return static_cast<uint8_t>(std::min(std::max(x, 0), 0xFF)); }

void rowIdct(int* blk) {
  int x0, x1, x2, x3, x4, x5, x6, x7, x8;
  if (!((x1 = wmul(blk[4], 2048)) | (x2 = blk[6]) | (x3 = blk[2]) | (x4 = blk[1]) | (x5 = blk[7]) | (x6 = blk[5]) |
        (x7 = blk[3]))) {
    int v = wmul(blk[0], 8);
    for (int i = 0; i < 8; ++i) blk[i] = v;
    return;
  }
  x0 = wadd(wmul(blk[0], 2048), 128);
  x8 = wmul(W7, wadd(x4, x5));
  x4 = wadd(x8, wmul(W1 - W7, x4));
  x5 = wsub(x8, wmul(W1 + W7, x5));
  x8 = wmul(W3, wadd(x6, x7));
  x6 = wsub(x8, wmul(W3 - W5, x6));
  x7 = wsub(x8, wmul(W3 + W5, x7));
  x8 = wadd(x0, x1);
  x0 = wsub(x0, x1);
  x1 = wmul(W6, wadd(x3, x2));
  x2 = wsub(x1, wmul(W2 + W6, x2));
  x3 = wadd(x1, wmul(W2 - W6, x3));
  x1 = wadd(x4, x6);
  x4 = wsub(x4, x6);
  x6 = wadd(x5, x7);
  x5 = wsub(x5, x7);
  x7 = wadd(x8, x3);
  x8 = wsub(x8, x3);
  x3 = wadd(x0, x2);
  x0 = wsub(x0, x2);
  x2 = wadd(wmul(181, wadd(x4, x5)), 128) >> 8;
  x4 = wadd(wmul(181, wsub(x4, x5)), 128) >> 8;
  blk[0] = wadd(x7, x1) >> 8;
  blk[1] = wadd(x3, x2) >> 8;
  blk[2] = wadd(x0, x4) >> 8;
  blk[3] = wadd(x8, x6) >> 8;
  blk[4] = wsub(x8, x6) >> 8;
  blk[5] = wsub(x0, x4) >> 8;
  blk[6] = wsub(x3, x2) >> 8;
  blk[7] = wsub(x7, x1) >> 8;
}

void colIdct(const int* blk, uint8_t* out, int stride) {
  int x0, x1, x2, x3, x4, x5, x6, x7, x8;
  if (!((x1 = wmul(blk[8 * 4], 256)) | (x2 = blk[8 * 6]) | (x3 = blk[8 * 2]) | (x4 = blk[8 * 1]) | (x5 = blk[8 * 7]) |
        (x6 = blk[8 * 5]) | (x7 = blk[8 * 3]))) {
    uint8_t v = clip(wadd(wadd(blk[0], 32) >> 6, 128));
    for (int i = 0; i < 8; ++i, out += stride) *out = v;
    return;
  }
  x0 = wadd(wmul(blk[0], 256), 8192);
  x8 = wadd(wmul(W7, wadd(x4, x5)), 4);
  x4 = wadd(x8, wmul(W1 - W7, x4)) >> 3;
  x5 = wsub(x8, wmul(W1 + W7, x5)) >> 3;
  x8 = wadd(wmul(W3, wadd(x6, x7)), 4);
  x6 = wsub(x8, wmul(W3 - W5, x6)) >> 3;
  x7 = wsub(x8, wmul(W3 + W5, x7)) >> 3;
  x8 = wadd(x0, x1);
  x0 = wsub(x0, x1);
  x1 = wadd(wmul(W6, wadd(x3, x2)), 4);
  x2 = wsub(x1, wmul(W2 + W6, x2)) >> 3;
  x3 = wadd(x1, wmul(W2 - W6, x3)) >> 3;
  x1 = wadd(x4, x6);
  x4 = wsub(x4, x6);
  x6 = wadd(x5, x7);
  x5 = wsub(x5, x7);
  x7 = wadd(x8, x3);
  x8 = wsub(x8, x3);
  x3 = wadd(x0, x2);
  x0 = wsub(x0, x2);
  x2 = wadd(wmul(181, wadd(x4, x5)), 128) >> 8;
  x4 = wadd(wmul(181, wsub(x4, x5)), 128) >> 8;
  const int r[8] = {wadd(x7, x1), wadd(x3, x2), wadd(x0, x4), wadd(x8, x6),
                    wsub(x8, x6), wsub(x0, x4), wsub(x3, x2), wsub(x7, x1)};
  for (int i = 0; i < 8; ++i, out += stride) *out = clip(wadd(r[i] >> 14, 128));
}

void idctScalar(int* blk, uint8_t* out, int stride) {
  for (int i = 0; i < 64; i += 8) rowIdct(&blk[i]);
  for (int i = 0; i < 8; ++i) colIdct(&blk[i], &out[i], stride);
}

inline uint8_t filtered(int x) { return clip((x + 64) >> 7); }

void filterRowsScalar(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, const int w[4],
                      uint8_t* out, int from, int n) {
  for (int x = from; x < n; ++x) out[x] = filtered(w[0] * a[x] + w[1] * b[x] + w[2] * c[x] + w[3] * d[x]);
}

// Doubling weights, in 128ths: the two outputs between inputs x+1 and x+2
// weigh inputs x..x+3; the three at each end weigh the nearest three.
constexpr int kMidA = -9, kMidB = 111, kMidC = 29, kMidD = -3;

void doubleRowEdges(const uint8_t* in, int w, uint8_t* out) {
  out[0] = filtered(139 * in[0] - 11 * in[1]);
  out[1] = filtered(104 * in[0] + 27 * in[1] - 3 * in[2]);
  out[2] = filtered(28 * in[0] + 109 * in[1] - 9 * in[2]);
  uint8_t* end = out + 2 * w;
  end[-3] = filtered(28 * in[w - 1] + 109 * in[w - 2] - 9 * in[w - 3]);
  end[-2] = filtered(104 * in[w - 1] + 27 * in[w - 2] - 3 * in[w - 3]);
  end[-1] = filtered(139 * in[w - 1] - 11 * in[w - 2]);
}

void doubleRowMiddle(const uint8_t* in, int from, int w, uint8_t* out) {
  for (int x = from; x < w - 3; ++x) {
    out[2 * x + 3] = filtered(kMidA * in[x] + kMidB * in[x + 1] + kMidC * in[x + 2] + kMidD * in[x + 3]);
    out[2 * x + 4] = filtered(kMidD * in[x] + kMidC * in[x + 1] + kMidB * in[x + 2] + kMidA * in[x + 3]);
  }
}

void yccScalar(const uint8_t* py, const uint8_t* pcb, const uint8_t* pcr, uint8_t* out, int from, int n) {
  for (int x = from; x < n; ++x) {
    int y = py[x] << 8;
    int cb = pcb[x] - 128;
    int cr = pcr[x] - 128;
    out[3 * x] = clip((y + 359 * cr + 128) >> 8);
    out[3 * x + 1] = clip((y - 88 * cb - 183 * cr + 128) >> 8);
    out[3 * x + 2] = clip((y + 454 * cb + 128) >> 8);
  }
}

#if defined(__SSE2__)

// Two 16-bit factors side by side, for _mm_madd_epi16 on interleaved pairs.
inline __m128i pair(int lo, int hi) {
  return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(lo) & 0xFFFF) | (static_cast<uint32_t>(hi) << 16)));
}

inline void transpose8(__m128i r[8]) {
  __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]), a1 = _mm_unpackhi_epi16(r[0], r[1]);
  __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]), a3 = _mm_unpackhi_epi16(r[2], r[3]);
  __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]), a5 = _mm_unpackhi_epi16(r[4], r[5]);
  __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]), a7 = _mm_unpackhi_epi16(r[6], r[7]);
  __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
  __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
  __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
  __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
  r[0] = _mm_unpacklo_epi64(b0, b4), r[1] = _mm_unpackhi_epi64(b0, b4);
  r[2] = _mm_unpacklo_epi64(b1, b5), r[3] = _mm_unpackhi_epi64(b1, b5);
  r[4] = _mm_unpacklo_epi64(b2, b6), r[5] = _mm_unpackhi_epi64(b2, b6);
  r[6] = _mm_unpacklo_epi64(b3, b7), r[7] = _mm_unpackhi_epi64(b3, b7);
}

// 181 v in wrapping 32-bit arithmetic, as the scalar multiply.
inline __m128i times181(__m128i v) {
  __m128i s = _mm_add_epi32(v, _mm_slli_epi32(v, 2));
  s = _mm_add_epi32(s, _mm_slli_epi32(v, 4));
  s = _mm_add_epi32(s, _mm_slli_epi32(v, 5));
  return _mm_add_epi32(s, _mm_slli_epi32(v, 7));
}

// One pass over four lanes. The inputs come as interleaved 16-bit pairs
// (b0,b4), (b1,b7), (b5,b3), (b2,b6); with 16-bit inputs every product sum
// below is exact, so it equals the scalar's wrapping arithmetic. The row
// pass (Col false) gives 32-bit results >> 8; the column pass gives the
// 32-bit sums before its final >> 14.
template <bool Col>
inline void pass4(__m128i p04, __m128i p17, __m128i p53, __m128i p26, __m128i o[8]) {
  constexpr int dc = Col ? 256 : 2048;
  const __m128i round = _mm_set1_epi32(Col ? 4 : 0);
  __m128i x8 = _mm_add_epi32(_mm_madd_epi16(p04, pair(dc, dc)), _mm_set1_epi32(Col ? 8192 : 128));
  __m128i x0 = _mm_add_epi32(_mm_madd_epi16(p04, pair(dc, -dc)), _mm_set1_epi32(Col ? 8192 : 128));
  __m128i x4 = _mm_add_epi32(_mm_madd_epi16(p17, pair(W1, W7)), round);
  __m128i x5 = _mm_add_epi32(_mm_madd_epi16(p17, pair(W7, -W1)), round);
  __m128i x6 = _mm_add_epi32(_mm_madd_epi16(p53, pair(W5, W3)), round);
  __m128i x7 = _mm_add_epi32(_mm_madd_epi16(p53, pair(W3, -W5)), round);
  __m128i x2 = _mm_add_epi32(_mm_madd_epi16(p26, pair(W6, -W2)), round);
  __m128i x3 = _mm_add_epi32(_mm_madd_epi16(p26, pair(W2, W6)), round);
  if (Col) {
    x4 = _mm_srai_epi32(x4, 3), x5 = _mm_srai_epi32(x5, 3), x6 = _mm_srai_epi32(x6, 3);
    x7 = _mm_srai_epi32(x7, 3), x2 = _mm_srai_epi32(x2, 3), x3 = _mm_srai_epi32(x3, 3);
  }
  __m128i x1 = _mm_add_epi32(x4, x6);
  x4 = _mm_sub_epi32(x4, x6);
  x6 = _mm_add_epi32(x5, x7);
  x5 = _mm_sub_epi32(x5, x7);
  x7 = _mm_add_epi32(x8, x3);
  x8 = _mm_sub_epi32(x8, x3);
  x3 = _mm_add_epi32(x0, x2);
  x0 = _mm_sub_epi32(x0, x2);
  const __m128i r128 = _mm_set1_epi32(128);
  x2 = _mm_srai_epi32(_mm_add_epi32(times181(_mm_add_epi32(x4, x5)), r128), 8);
  x4 = _mm_srai_epi32(_mm_add_epi32(times181(_mm_sub_epi32(x4, x5)), r128), 8);
  o[0] = _mm_add_epi32(x7, x1), o[1] = _mm_add_epi32(x3, x2);
  o[2] = _mm_add_epi32(x0, x4), o[3] = _mm_add_epi32(x8, x6);
  o[4] = _mm_sub_epi32(x8, x6), o[5] = _mm_sub_epi32(x0, x4);
  o[6] = _mm_sub_epi32(x3, x2), o[7] = _mm_sub_epi32(x7, x1);
  if (!Col)
    for (int i = 0; i < 8; ++i) o[i] = _mm_srai_epi32(o[i], 8);
}

// Sets bits above the low 16 of acc when v holds a lane outside int16.
inline __m128i rangeCheck(__m128i acc, __m128i v) {
  return _mm_or_si128(acc, _mm_add_epi32(v, _mm_set1_epi32(0x8000)));
}
inline bool inRange(__m128i acc) {
  return _mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(acc, 16), _mm_setzero_si128())) == 0xFFFF;
}

// The transform on eight lanes (t holds b0..b7, each across the lanes) into
// o[0..7] for the low four lanes and o[8..15] for the high four.
template <bool Col>
inline void pass8(const __m128i t[8], __m128i o[16]) {
  pass4<Col>(_mm_unpacklo_epi16(t[0], t[4]), _mm_unpacklo_epi16(t[1], t[7]), _mm_unpacklo_epi16(t[5], t[3]),
             _mm_unpacklo_epi16(t[2], t[6]), o);
  pass4<Col>(_mm_unpackhi_epi16(t[0], t[4]), _mm_unpackhi_epi16(t[1], t[7]), _mm_unpackhi_epi16(t[5], t[3]),
             _mm_unpackhi_epi16(t[2], t[6]), o + 8);
}

// The vector transform handles blocks whose coefficients and row results fit
// 16 bits (all that real pictures hold); it returns false, having written
// nothing, for any other block.
bool idctSse2(const int* blk, uint8_t* out, int stride) {
  __m128i t[8];
  __m128i acc = _mm_setzero_si128();
  for (int i = 0; i < 8; ++i) {
    __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blk + 8 * i));
    __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(blk + 8 * i + 4));
    acc = rangeCheck(rangeCheck(acc, lo), hi);
    t[i] = _mm_packs_epi32(lo, hi);
  }
  if (!inRange(acc)) return false;
  transpose8(t);  // t[k]: coefficient k of every row
  __m128i o[16];
  pass8<false>(t, o);  // o[n], o[8 + n]: result n of rows 0..3, 4..7
  acc = _mm_setzero_si128();
  for (int n = 0; n < 8; ++n) {
    acc = rangeCheck(rangeCheck(acc, o[n]), o[8 + n]);
    t[n] = _mm_packs_epi32(o[n], o[8 + n]);
  }
  if (!inRange(acc)) return false;
  transpose8(t);  // t[k]: row k of the row results, across the columns
  pass8<true>(t, o);
  const __m128i bias = _mm_set1_epi16(128);
  for (int m = 0; m < 8; m += 2) {
    __m128i r0 = _mm_adds_epi16(_mm_packs_epi32(_mm_srai_epi32(o[m], 14), _mm_srai_epi32(o[8 + m], 14)), bias);
    __m128i r1 = _mm_adds_epi16(_mm_packs_epi32(_mm_srai_epi32(o[m + 1], 14), _mm_srai_epi32(o[9 + m], 14)), bias);
    __m128i bytes = _mm_packus_epi16(r0, r1);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + m * stride), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (m + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
  }
  return true;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define OKT_JPEG_AVX2 1

// The transform again with the eight lanes of a pass in one AVX2 register:
// the same operations, half the instructions. Chosen at run time.
#define OKT_AVX2 __attribute__((target("avx2")))

OKT_AVX2 inline __m256i pairs8(__m128i a, __m128i b) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)), _mm_unpackhi_epi16(a, b), 1);
}
OKT_AVX2 inline __m256i factors8(int lo, int hi) {
  return _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(lo) & 0xFFFF) | (static_cast<uint32_t>(hi) << 16)));
}
OKT_AVX2 inline __m256i times181x8(__m256i v) {
  __m256i s = _mm256_add_epi32(v, _mm256_slli_epi32(v, 2));
  s = _mm256_add_epi32(s, _mm256_slli_epi32(v, 4));
  s = _mm256_add_epi32(s, _mm256_slli_epi32(v, 5));
  return _mm256_add_epi32(s, _mm256_slli_epi32(v, 7));
}

template <bool Col>
OKT_AVX2 inline void pass8Avx2(const __m128i t[8], __m256i o[8]) {
  constexpr int dc = Col ? 256 : 2048;
  const __m256i round = _mm256_set1_epi32(Col ? 4 : 0), bias = _mm256_set1_epi32(Col ? 8192 : 128);
  const __m256i p04 = pairs8(t[0], t[4]), p17 = pairs8(t[1], t[7]), p53 = pairs8(t[5], t[3]), p26 = pairs8(t[2], t[6]);
  __m256i x8 = _mm256_add_epi32(_mm256_madd_epi16(p04, factors8(dc, dc)), bias);
  __m256i x0 = _mm256_add_epi32(_mm256_madd_epi16(p04, factors8(dc, -dc)), bias);
  __m256i x4 = _mm256_add_epi32(_mm256_madd_epi16(p17, factors8(W1, W7)), round);
  __m256i x5 = _mm256_add_epi32(_mm256_madd_epi16(p17, factors8(W7, -W1)), round);
  __m256i x6 = _mm256_add_epi32(_mm256_madd_epi16(p53, factors8(W5, W3)), round);
  __m256i x7 = _mm256_add_epi32(_mm256_madd_epi16(p53, factors8(W3, -W5)), round);
  __m256i x2 = _mm256_add_epi32(_mm256_madd_epi16(p26, factors8(W6, -W2)), round);
  __m256i x3 = _mm256_add_epi32(_mm256_madd_epi16(p26, factors8(W2, W6)), round);
  if (Col) {
    x4 = _mm256_srai_epi32(x4, 3), x5 = _mm256_srai_epi32(x5, 3), x6 = _mm256_srai_epi32(x6, 3);
    x7 = _mm256_srai_epi32(x7, 3), x2 = _mm256_srai_epi32(x2, 3), x3 = _mm256_srai_epi32(x3, 3);
  }
  __m256i x1 = _mm256_add_epi32(x4, x6);
  x4 = _mm256_sub_epi32(x4, x6);
  x6 = _mm256_add_epi32(x5, x7);
  x5 = _mm256_sub_epi32(x5, x7);
  x7 = _mm256_add_epi32(x8, x3);
  x8 = _mm256_sub_epi32(x8, x3);
  x3 = _mm256_add_epi32(x0, x2);
  x0 = _mm256_sub_epi32(x0, x2);
  const __m256i r128 = _mm256_set1_epi32(128);
  x2 = _mm256_srai_epi32(_mm256_add_epi32(times181x8(_mm256_add_epi32(x4, x5)), r128), 8);
  x4 = _mm256_srai_epi32(_mm256_add_epi32(times181x8(_mm256_sub_epi32(x4, x5)), r128), 8);
  o[0] = _mm256_add_epi32(x7, x1), o[1] = _mm256_add_epi32(x3, x2);
  o[2] = _mm256_add_epi32(x0, x4), o[3] = _mm256_add_epi32(x8, x6);
  o[4] = _mm256_sub_epi32(x8, x6), o[5] = _mm256_sub_epi32(x0, x4);
  o[6] = _mm256_sub_epi32(x3, x2), o[7] = _mm256_sub_epi32(x7, x1);
  for (int i = 0; i < 8; ++i) o[i] = _mm256_srai_epi32(o[i], Col ? 14 : 8);
}

// Eight 32-bit lanes packed to 16 bits, with saturation.
OKT_AVX2 inline __m128i narrow8(__m256i v) {
  return _mm_packs_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
}

OKT_AVX2 bool idctAvx2(const int* blk, uint8_t* out, int stride) {
  __m128i t[8];
  __m256i acc = _mm256_setzero_si256();
  const __m256i half = _mm256_set1_epi32(0x8000);
  for (int i = 0; i < 8; ++i) {
    __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(blk + 8 * i));
    acc = _mm256_or_si256(acc, _mm256_add_epi32(v, half));
    t[i] = narrow8(v);
  }
  if (!_mm256_testz_si256(acc, _mm256_set1_epi32(static_cast<int>(0xFFFF0000u)))) return false;
  transpose8(t);
  __m256i o[8];
  pass8Avx2<false>(t, o);
  acc = _mm256_setzero_si256();
  for (int n = 0; n < 8; ++n) {
    acc = _mm256_or_si256(acc, _mm256_add_epi32(o[n], half));
    t[n] = narrow8(o[n]);
  }
  if (!_mm256_testz_si256(acc, _mm256_set1_epi32(static_cast<int>(0xFFFF0000u)))) return false;
  transpose8(t);
  pass8Avx2<true>(t, o);
  const __m128i bias = _mm_set1_epi16(128);
  for (int m = 0; m < 8; m += 2) {
    __m128i bytes = _mm_packus_epi16(_mm_adds_epi16(narrow8(o[m]), bias), _mm_adds_epi16(narrow8(o[m + 1]), bias));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + m * stride), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + (m + 1) * stride), _mm_unpackhi_epi64(bytes, bytes));
  }
  return true;
}

bool hasAvx2() {
  static const bool avx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return avx2;
}
#endif

// The sums below run in 16-bit lanes with wraparound: with the doubling
// weights a sum lies in -3060..35700, so sum + 64 + 4096 lies in 0..65535 and
// a logical shift gives floor((sum + 64) / 128) + 32.
inline __m128i filter16(__m128i a, __m128i b, __m128i c, __m128i d, __m128i wa, __m128i wb, __m128i wc, __m128i wd) {
  __m128i s = _mm_add_epi16(_mm_mullo_epi16(a, wa), _mm_mullo_epi16(b, wb));
  s = _mm_add_epi16(s, _mm_add_epi16(_mm_mullo_epi16(c, wc), _mm_mullo_epi16(d, wd)));
  s = _mm_srli_epi16(_mm_add_epi16(s, _mm_set1_epi16(64 + 4096)), 7);
  return _mm_sub_epi16(s, _mm_set1_epi16(32));
}

inline __m128i load16(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

int filterRowsSse2(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, const int w[4], uint8_t* out,
                   int n) {
  const __m128i z = _mm_setzero_si128();
  const __m128i wa = _mm_set1_epi16(static_cast<int16_t>(w[0])), wb = _mm_set1_epi16(static_cast<int16_t>(w[1]));
  const __m128i wc = _mm_set1_epi16(static_cast<int16_t>(w[2])), wd = _mm_set1_epi16(static_cast<int16_t>(w[3]));
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    __m128i va = load16(a + x), vb = load16(b + x), vc = load16(c + x), vd = load16(d + x);
    __m128i lo = filter16(_mm_unpacklo_epi8(va, z), _mm_unpacklo_epi8(vb, z), _mm_unpacklo_epi8(vc, z),
                          _mm_unpacklo_epi8(vd, z), wa, wb, wc, wd);
    __m128i hi = filter16(_mm_unpackhi_epi8(va, z), _mm_unpackhi_epi8(vb, z), _mm_unpackhi_epi8(vc, z),
                          _mm_unpackhi_epi8(vd, z), wa, wb, wc, wd);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(lo, hi));
  }
  return x;
}

int doubleRowSse2(const uint8_t* in, int w, uint8_t* out) {
  const __m128i z = _mm_setzero_si128();
  const __m128i ka = _mm_set1_epi16(kMidA), kb = _mm_set1_epi16(kMidB);
  const __m128i kc = _mm_set1_epi16(kMidC), kd = _mm_set1_epi16(kMidD);
  int x = 0;
  for (; x + 19 <= w; x += 16) {
    __m128i va = load16(in + x), vb = load16(in + x + 1), vc = load16(in + x + 2), vd = load16(in + x + 3);
    __m128i a = _mm_unpacklo_epi8(va, z), b = _mm_unpacklo_epi8(vb, z);
    __m128i c = _mm_unpacklo_epi8(vc, z), d = _mm_unpacklo_epi8(vd, z);
    __m128i e = _mm_packus_epi16(filter16(a, b, c, d, ka, kb, kc, kd), z);
    __m128i f = _mm_packus_epi16(filter16(a, b, c, d, kd, kc, kb, ka), z);
    a = _mm_unpackhi_epi8(va, z), b = _mm_unpackhi_epi8(vb, z);
    c = _mm_unpackhi_epi8(vc, z), d = _mm_unpackhi_epi8(vd, z);
    e = _mm_unpacklo_epi64(e, _mm_packus_epi16(filter16(a, b, c, d, ka, kb, kc, kd), z));
    f = _mm_unpacklo_epi64(f, _mm_packus_epi16(filter16(a, b, c, d, kd, kc, kb, ka), z));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 3), _mm_unpacklo_epi8(e, f));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 19), _mm_unpackhi_epi8(e, f));
  }
  return x;
}

// Four pixels of red, green, blue, zero in 32-bit lanes, packed into the low
// 12 bytes.
inline __m128i pack3(__m128i p) {
  const __m128i first = _mm_set_epi32(0, -1, 0, -1);
  const __m128i second = _mm_set_epi32(0xFFFF, static_cast<int>(0xFF000000u), 0xFFFF, static_cast<int>(0xFF000000u));
  __m128i c = _mm_or_si128(_mm_and_si128(p, first), _mm_and_si128(_mm_srli_epi64(p, 8), second));
  const __m128i low = _mm_set_epi32(0, 0, -1, -1);
  return _mm_or_si128(_mm_and_si128(c, low), _mm_srli_si128(_mm_andnot_si128(low, c), 2));
}

// Red, green, blue of eight pixels as 16-bit lanes; y, cb, cr as 16-bit
// lanes with 128 taken off the chroma. The scalar factors are split so that
// every intermediate fits 16 bits: 359 = 256 + 103, -183 = -256 + 73,
// 454 = 512 - 58 (the multiples of 256 leave the shift whole).
inline void ycc8(__m128i y, __m128i cb, __m128i cr, __m128i& r, __m128i& g, __m128i& b) {
  const __m128i half = _mm_set1_epi16(128);
  r = _mm_add_epi16(_mm_add_epi16(y, cr),
                    _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(cr, _mm_set1_epi16(103)), half), 8));
  __m128i t = _mm_sub_epi16(_mm_mullo_epi16(cr, _mm_set1_epi16(73)), _mm_mullo_epi16(cb, _mm_set1_epi16(88)));
  g = _mm_add_epi16(_mm_sub_epi16(y, cr), _mm_srai_epi16(_mm_add_epi16(t, half), 8));
  b = _mm_add_epi16(_mm_add_epi16(y, _mm_add_epi16(cb, cb)),
                    _mm_srai_epi16(_mm_add_epi16(_mm_mullo_epi16(cb, _mm_set1_epi16(-58)), half), 8));
}

int yccSse2(const uint8_t* py, const uint8_t* pcb, const uint8_t* pcr, uint8_t* out, int n) {
  const __m128i z = _mm_setzero_si128(), off = _mm_set1_epi16(128);
  int x = 0;
  for (; x + 16 <= n; x += 16) {
    __m128i vy = load16(py + x), vcb = load16(pcb + x), vcr = load16(pcr + x);
    __m128i r0, g0, b0, r1, g1, b1;
    ycc8(_mm_unpacklo_epi8(vy, z), _mm_sub_epi16(_mm_unpacklo_epi8(vcb, z), off),
         _mm_sub_epi16(_mm_unpacklo_epi8(vcr, z), off), r0, g0, b0);
    ycc8(_mm_unpackhi_epi8(vy, z), _mm_sub_epi16(_mm_unpackhi_epi8(vcb, z), off),
         _mm_sub_epi16(_mm_unpackhi_epi8(vcr, z), off), r1, g1, b1);
    __m128i r = _mm_packus_epi16(r0, r1), g = _mm_packus_epi16(g0, g1), b = _mm_packus_epi16(b0, b1);
    __m128i rg0 = _mm_unpacklo_epi8(r, g), rg1 = _mm_unpackhi_epi8(r, g);
    __m128i b0z = _mm_unpacklo_epi8(b, z), b1z = _mm_unpackhi_epi8(b, z);
    uint8_t* o = out + 3 * x;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o), pack3(_mm_unpacklo_epi16(rg0, b0z)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 12), pack3(_mm_unpackhi_epi16(rg0, b0z)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 24), pack3(_mm_unpacklo_epi16(rg1, b1z)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 36), pack3(_mm_unpackhi_epi16(rg1, b1z)));
  }
  return x;
}

#endif

}  // namespace

void jpegIdct(int* blk, uint8_t* out, int stride, JpegKernels k) {
#if defined(OKT_JPEG_AVX2)
  if (k == JpegKernels::Best && hasAvx2()) {
    if (idctAvx2(blk, out, stride)) return;
    return idctScalar(blk, out, stride);
  }
#endif
#if defined(__SSE2__)
  if (k != JpegKernels::Reference && idctSse2(blk, out, stride)) return;
#endif
  (void)k;
  idctScalar(blk, out, stride);
}

void jpegIdctFlat(int dc, uint8_t* out, int stride) {
  // Row 0 gives 8 dc everywhere, the other rows 0; each column its shortcut.
  const uint8_t v = clip(wadd(wadd(wmul(dc, 8), 32) >> 6, 128));
  for (int y = 0; y < 8; ++y) std::memset(out + static_cast<size_t>(y) * stride, v, 8);
}

void jpegIdctFirstRow(int* blk, uint8_t* out, int stride) {
  // Rows 1..7 give zeros, so every column takes its shortcut on row 0's value.
  rowIdct(blk);
  uint8_t line[8];
  for (int i = 0; i < 8; ++i) line[i] = clip(wadd(wadd(blk[i], 32) >> 6, 128));
  for (int y = 0; y < 8; ++y) std::memcpy(out + static_cast<size_t>(y) * stride, line, 8);
}

void jpegIdctFirstColumn(int* blk, uint8_t* out, int stride) {
  // Each row takes its shortcut, 8 b0 across; the columns are then alike.
  for (int i = 0; i < 64; i += 8) blk[i] = wmul(blk[i], 8);
  uint8_t column[8];
  colIdct(blk, column, 1);
  for (int y = 0; y < 8; ++y) std::memset(out + static_cast<size_t>(y) * stride, column[y], 8);
}

void jpegFilterRows(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, const int w[4],
                    uint8_t* out, int n, JpegKernels k) {
  int done = 0;
#if defined(__SSE2__)
  if (k != JpegKernels::Reference) done = filterRowsSse2(a, b, c, d, w, out, n);
#endif
  (void)k;
  filterRowsScalar(a, b, c, d, w, out, done, n);
}

void jpegDoubleRow(const uint8_t* in, int w, uint8_t* out, JpegKernels k) {
  int done = 0;
#if defined(__SSE2__)
  if (k != JpegKernels::Reference) done = doubleRowSse2(in, w, out);
#endif
  (void)k;
  doubleRowMiddle(in, done, w, out);
  doubleRowEdges(in, w, out);
}

void jpegYccToRgb(const uint8_t* y, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int n, JpegKernels k) {
  int done = 0;
#if defined(__SSE2__)
  if (k != JpegKernels::Reference) done = yccSse2(y, cb, cr, out, n);
#endif
  (void)k;
  yccScalar(y, cb, cr, out, done, n);
}

}  // namespace okt
