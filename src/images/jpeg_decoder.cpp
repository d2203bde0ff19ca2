#include "images/jpeg_decoder.h"

#include <algorithm>
#include <cstring>

namespace okt {
namespace {

// The transform is specified in 32-bit arithmetic. Hostile data can drive it
// past the range of int; these helpers wrap as the hardware does instead of
// leaving that undefined.
inline int wadd(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int wsub(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b)); }
inline int wmul(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

constexpr int W1 = 2841, W2 = 2676, W3 = 2408, W5 = 1609, W6 = 1108, W7 = 565;

constexpr uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                                 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                                 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

inline uint8_t clip(int x) { return static_cast<uint8_t>(std::min(std::max(x, 0), 0xFF)); }

// Buffers up to this size stay allocated for the next picture.
constexpr size_t kKeepBytes = size_t{16} << 20;

void dropBuffer(JpegBuffer& v) { v.clear(kKeepBytes); }

bool sizeBuffer(JpegBuffer& v, size_t n) { return v.resize(n); }

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

class Decoder {
 public:
  explicit Decoder(JpegContext& c) : c_(c) {}

  JpegResult run(const uint8_t* data, uint32_t size);

 private:
  int showBits(int bits);
  void skipBits(int bits) {
    if (c_.bufbits < bits) showBits(bits);
    c_.bufbits -= bits;
  }
  int getBits(int bits) {
    int res = showBits(bits);
    skipBits(bits);
    return res;
  }
  void byteAlign() { c_.bufbits &= 0xF8; }
  void skip(int count) {
    c_.pos += count;
    c_.size -= count;
    c_.length -= count;
    if (c_.size < 0) c_.error = SyntaxError;
  }
  static int decode16(const uint8_t* pos) { return (pos[0] << 8) | pos[1]; }
  void decodeLength() {
    if (c_.size < 2) {
      c_.error = SyntaxError;
      return;
    }
    c_.length = decode16(c_.pos);
    if (c_.length > c_.size) {
      c_.error = SyntaxError;
      return;
    }
    skip(2);
  }
  void skipMarker() {
    decodeLength();
    if (!c_.error) skip(c_.length);
  }
  void decodeSof();
  void decodeDht();
  void decodeDqt();
  void decodeDri();
  void decodeScan();
  int getVlc(const JpegVlcCode* vlc, uint8_t* code);
  void decodeBlock(JpegComponent& comp, uint8_t* out);
  void upsampleH(JpegComponent& comp);
  void upsampleV(JpegComponent& comp);
  void convert();

  JpegContext& c_;
};

int Decoder::showBits(int bits) {
  if (!bits) return 0;
  // Bytes other than 0xFF go in several at a time; a 0xFF (a stuffed byte or
  // a marker) is taken by the loop below only when its bits are needed.
  if (c_.bufbits < bits) {
    while (c_.bufbits <= 56 && c_.size > 0 && *c_.pos != 0xFF) {
      c_.buf = (c_.buf << 8) | *c_.pos++;
      c_.size--;
      c_.bufbits += 8;
    }
  }
  while (c_.bufbits < bits) {
    if (c_.size <= 0) {
      c_.buf = (c_.buf << 8) | 0xFF;
      c_.bufbits += 8;
      continue;
    }
    uint8_t newbyte = *c_.pos++;
    c_.size--;
    c_.bufbits += 8;
    c_.buf = (c_.buf << 8) | newbyte;
    if (newbyte == 0xFF) {
      if (c_.size) {
        uint8_t marker = *c_.pos++;
        c_.size--;
        switch (marker) {
          case 0x00:
          case 0xFF: break;
          case 0xD9: c_.size = 0; break;
          default:
            if ((marker & 0xF8) != 0xD0) {
              c_.error = SyntaxError;
            } else {
              c_.buf = (c_.buf << 8) | marker;
              c_.bufbits += 8;
            }
        }
      } else {
        c_.error = SyntaxError;
      }
    }
  }
  return static_cast<int>((c_.buf >> (c_.bufbits - bits)) & ((1u << bits) - 1));
}

void Decoder::decodeSof() {
  decodeLength();
  if (c_.error) return;
  if (c_.length < 9) {
    c_.error = SyntaxError;
    return;
  }
  if (c_.pos[0] != 8) {
    c_.error = Unsupported;
    return;
  }
  c_.height = decode16(c_.pos + 1);
  c_.width = decode16(c_.pos + 3);
  if (!c_.width || !c_.height) {
    c_.error = SyntaxError;
    return;
  }
  c_.ncomp = c_.pos[5];
  skip(6);
  if (c_.ncomp != 1 && c_.ncomp != 3) {
    c_.error = Unsupported;
    return;
  }
  if (c_.length < c_.ncomp * 3) {
    c_.error = SyntaxError;
    return;
  }
  int ssxmax = 0, ssymax = 0;
  for (int i = 0; i < c_.ncomp; ++i) {
    JpegComponent& comp = c_.comp[i];
    comp.id = c_.pos[0];
    if (!(comp.ssx = c_.pos[1] >> 4) || !(comp.ssy = c_.pos[1] & 15)) {
      c_.error = SyntaxError;
      return;
    }
    if ((comp.ssx & (comp.ssx - 1)) || (comp.ssy & (comp.ssy - 1))) {
      c_.error = Unsupported;
      return;
    }
    if ((comp.qtsel = c_.pos[2]) & 0xFC) {
      c_.error = SyntaxError;
      return;
    }
    skip(3);
    if (comp.ssx > ssxmax) ssxmax = comp.ssx;
    if (comp.ssy > ssymax) ssymax = comp.ssy;
  }
  if (c_.ncomp == 1) {
    c_.comp[0].ssx = c_.comp[0].ssy = ssxmax = ssymax = 1;
  }
  // Sizes that would not fit 32-bit arithmetic, or are simply too large, are refused.
  if (int64_t{c_.width} * c_.height > kJpegMaxPixels) {
    c_.error = OutOfMemory;
    return;
  }
  c_.mbsizex = ssxmax << 3;
  c_.mbsizey = ssymax << 3;
  c_.mbwidth = (c_.width + c_.mbsizex - 1) / c_.mbsizex;
  c_.mbheight = (c_.height + c_.mbsizey - 1) / c_.mbsizey;
  for (int i = 0; i < c_.ncomp; ++i) {
    JpegComponent& comp = c_.comp[i];
    comp.width = (c_.width * comp.ssx + ssxmax - 1) / ssxmax;
    comp.height = (c_.height * comp.ssy + ssymax - 1) / ssymax;
    comp.stride = c_.mbwidth * comp.ssx << 3;
    if (((comp.width < 3) && (comp.ssx != ssxmax)) || ((comp.height < 3) && (comp.ssy != ssymax))) {
      c_.error = Unsupported;
      return;
    }
    int64_t plane = int64_t{comp.stride} * (c_.mbheight * comp.ssy << 3);
    if (plane > 4 * kJpegMaxPixels || !sizeBuffer(comp.pixels, static_cast<size_t>(plane))) {
      c_.error = OutOfMemory;
      return;
    }
  }
  if (c_.ncomp == 3 && !sizeBuffer(c_.rgb, static_cast<size_t>(c_.width) * c_.height * 3)) {
    c_.error = OutOfMemory;
    return;
  }
  c_.frameSeen = true;
  skip(c_.length);
}

void Decoder::decodeDht() {
  uint8_t counts[16];
  decodeLength();
  if (c_.error) return;
  while (c_.length >= 17) {
    int i = c_.pos[0];
    if (i & 0xEC) {
      c_.error = SyntaxError;
      return;
    }
    if (i & 0x02) {
      c_.error = Unsupported;
      return;
    }
    i = (i | (i >> 3)) & 3;
    c_.vlcDefined |= static_cast<uint8_t>(1u << i);
    for (int codelen = 1; codelen <= 16; ++codelen) counts[codelen - 1] = c_.pos[codelen];
    skip(17);
    JpegVlcCode* vlc = &c_.vlctab[i][0];
    int remain = 65536, spread = 65536;
    for (int codelen = 1; codelen <= 16; ++codelen) {
      spread >>= 1;
      int currcnt = counts[codelen - 1];
      if (!currcnt) continue;
      if (c_.length < currcnt) {
        c_.error = SyntaxError;
        return;
      }
      remain -= currcnt << (16 - codelen);
      if (remain < 0) {
        c_.error = SyntaxError;
        return;
      }
      for (int k = 0; k < currcnt; ++k) {
        vlc = std::fill_n(vlc, spread, JpegVlcCode{static_cast<uint8_t>(codelen), c_.pos[k]});
      }
      skip(currcnt);
    }
    std::fill_n(vlc, remain, JpegVlcCode{0, 0});
  }
  if (c_.length) c_.error = SyntaxError;
}

void Decoder::decodeDqt() {
  decodeLength();
  if (c_.error) return;
  while (c_.length >= 65) {
    int i = c_.pos[0];
    if (i & 0xFC) {
      c_.error = SyntaxError;
      return;
    }
    std::memcpy(c_.qtab[i], c_.pos + 1, 64);
    skip(65);
  }
  if (c_.length) c_.error = SyntaxError;
}

void Decoder::decodeDri() {
  decodeLength();
  if (c_.error) return;
  if (c_.length < 2) {
    c_.error = SyntaxError;
    return;
  }
  c_.rstinterval = decode16(c_.pos);
  skip(c_.length);
}

int Decoder::getVlc(const JpegVlcCode* vlc, uint8_t* code) {
  int value = showBits(16);
  int bits = vlc[value].bits;
  if (!bits) {
    c_.error = SyntaxError;
    return 0;
  }
  skipBits(bits);
  value = vlc[value].code;
  if (code) *code = static_cast<uint8_t>(value);
  bits = value & 15;
  if (!bits) return 0;
  value = getBits(bits);
  if (value < (1 << (bits - 1))) value = value - (1 << bits) + 1;
  return value;
}

void Decoder::decodeBlock(JpegComponent& comp, uint8_t* out) {
  uint8_t code = 0;
  int coef = 0;
  // Plain stores: a 256-byte memset becomes rep stos, slow to start.
  for (int i = 0; i < 64; i += 8)
    c_.block[i] = c_.block[i + 1] = c_.block[i + 2] = c_.block[i + 3] = c_.block[i + 4] = c_.block[i + 5] =
        c_.block[i + 6] = c_.block[i + 7] = 0;
  comp.dcpred = wadd(comp.dcpred, getVlc(&c_.vlctab[comp.dctabsel][0], nullptr));
  c_.block[0] = wmul(comp.dcpred, c_.qtab[comp.qtsel][0]);
  do {
    int value = getVlc(&c_.vlctab[comp.actabsel][0], &code);
    if (!code) break;  // end of block
    if (!(code & 0x0F) && (code != 0xF0)) {
      c_.error = SyntaxError;
      return;
    }
    coef += (code >> 4) + 1;
    if (coef > 63) {
      c_.error = SyntaxError;
      return;
    }
    c_.block[kZigZag[coef]] = value * c_.qtab[comp.qtsel][coef];
  } while (coef < 63);
  for (coef = 0; coef < 64; coef += 8) rowIdct(&c_.block[coef]);
  for (coef = 0; coef < 8; ++coef) colIdct(&c_.block[coef], &out[coef], comp.stride);
}

void Decoder::decodeScan() {
  int rstcount = c_.rstinterval, nextrst = 0;
  decodeLength();
  if (c_.error) return;
  if (!c_.frameSeen) {  // a scan needs its frame
    c_.error = SyntaxError;
    return;
  }
  if (c_.length < (4 + 2 * c_.ncomp)) {
    c_.error = SyntaxError;
    return;
  }
  if (c_.pos[0] != c_.ncomp) {
    c_.error = Unsupported;
    return;
  }
  skip(1);
  for (int i = 0; i < c_.ncomp; ++i) {
    JpegComponent& comp = c_.comp[i];
    if (c_.pos[0] != comp.id || (c_.pos[1] & 0xEE)) {
      c_.error = SyntaxError;
      return;
    }
    comp.dctabsel = c_.pos[1] >> 4;
    comp.actabsel = (c_.pos[1] & 1) | 2;
    // A table this picture did not define holds no codes: the first
    // symbol read from it would be a syntax error.
    if (!(c_.vlcDefined & (1u << comp.dctabsel)) || !(c_.vlcDefined & (1u << comp.actabsel))) {
      c_.error = SyntaxError;
      return;
    }
    skip(2);
  }
  if (c_.pos[0] || (c_.pos[1] != 63) || c_.pos[2]) {
    c_.error = Unsupported;
    return;
  }
  skip(c_.length);
  for (int mbx = 0, mby = 0;;) {
    for (int i = 0; i < c_.ncomp; ++i) {
      JpegComponent& comp = c_.comp[i];
      for (int sby = 0; sby < comp.ssy; ++sby)
        for (int sbx = 0; sbx < comp.ssx; ++sbx) {
          size_t at = (static_cast<size_t>(mby * comp.ssy + sby) * comp.stride + mbx * comp.ssx + sbx) << 3;
          decodeBlock(comp, &comp.pixels[at]);
          if (c_.error) return;
        }
    }
    if (++mbx >= c_.mbwidth) {
      mbx = 0;
      if (++mby >= c_.mbheight) break;
    }
    if (c_.rstinterval && !(--rstcount)) {
      byteAlign();
      int i = getBits(16);
      if (((i & 0xFFF8) != 0xFFD0) || ((i & 7) != nextrst)) {
        c_.error = SyntaxError;
        return;
      }
      nextrst = (nextrst + 1) & 7;
      rstcount = c_.rstinterval;
      for (auto& comp : c_.comp) comp.dcpred = 0;
    }
  }
  c_.error = Finished;
}

// Smooth doubling weights, in 128ths.
constexpr int CF4A = -9, CF4B = 111, CF4C = 29, CF4D = -3;
constexpr int CF3A = 28, CF3B = 109, CF3C = -9;
constexpr int CF3X = 104, CF3Y = 27, CF3Z = -3;
constexpr int CF2A = 139, CF2B = -11;
inline uint8_t cf(int x) { return clip((x + 64) >> 7); }

void Decoder::upsampleH(JpegComponent& comp) {
  const int w = comp.width, xmax = w - 3;
  JpegBuffer& out = c_.spare;
  if (!sizeBuffer(out, static_cast<size_t>(w) * comp.height * 2)) {
    c_.error = OutOfMemory;
    return;
  }
  const uint8_t* lin = comp.pixels.data();
  uint8_t* lout = out.data();
  for (int y = comp.height; y; --y) {
    lout[0] = cf(CF2A * lin[0] + CF2B * lin[1]);
    lout[1] = cf(CF3X * lin[0] + CF3Y * lin[1] + CF3Z * lin[2]);
    lout[2] = cf(CF3A * lin[0] + CF3B * lin[1] + CF3C * lin[2]);
    for (int x = 0; x < xmax; ++x) {
      lout[(x << 1) + 3] = cf(CF4A * lin[x] + CF4B * lin[x + 1] + CF4C * lin[x + 2] + CF4D * lin[x + 3]);
      lout[(x << 1) + 4] = cf(CF4D * lin[x] + CF4C * lin[x + 1] + CF4B * lin[x + 2] + CF4A * lin[x + 3]);
    }
    uint8_t* end = lout + 2 * w;
    end[-3] = cf(CF3A * lin[w - 1] + CF3B * lin[w - 2] + CF3C * lin[w - 3]);
    end[-2] = cf(CF3X * lin[w - 1] + CF3Y * lin[w - 2] + CF3Z * lin[w - 3]);
    end[-1] = cf(CF2A * lin[w - 1] + CF2B * lin[w - 2]);
    lin += comp.stride;
    lout = end;
  }
  comp.width = w * 2;
  comp.stride = comp.width;
  comp.pixels.swap(out);
}

void Decoder::upsampleV(JpegComponent& comp) {
  // Row by row: output row 2k+1 and 2k+2 each weigh four input rows.
  const int w = comp.width, h = comp.height, s = comp.stride;
  JpegBuffer& out = c_.spare;
  if (!sizeBuffer(out, static_cast<size_t>(w) * h * 2)) {
    c_.error = OutOfMemory;
    return;
  }
  const uint8_t* in = comp.pixels.data();
  auto row = [&](int y) { return in + static_cast<size_t>(y) * s; };
  auto orow = [&](int y) { return out.data() + static_cast<size_t>(y) * w; };
  {
    const uint8_t *r0 = row(0), *r1 = row(1), *r2 = row(2);
    uint8_t *o0 = orow(0), *o1 = orow(1), *o2 = orow(2);
    for (int x = 0; x < w; ++x) {
      o0[x] = cf(CF2A * r0[x] + CF2B * r1[x]);
      o1[x] = cf(CF3X * r0[x] + CF3Y * r1[x] + CF3Z * r2[x]);
      o2[x] = cf(CF3A * r0[x] + CF3B * r1[x] + CF3C * r2[x]);
    }
  }
  for (int y = 0; y < h - 3; ++y) {
    const uint8_t* __restrict a = row(y);
    const uint8_t* __restrict b = row(y + 1);
    const uint8_t* __restrict c = row(y + 2);
    const uint8_t* __restrict d = row(y + 3);
    uint8_t* __restrict o1 = orow(2 * y + 3);
    uint8_t* __restrict o2 = orow(2 * y + 4);
    for (int x = 0; x < w; ++x) {
      o1[x] = cf(CF4A * a[x] + CF4B * b[x] + CF4C * c[x] + CF4D * d[x]);
      o2[x] = cf(CF4D * a[x] + CF4C * b[x] + CF4B * c[x] + CF4A * d[x]);
    }
  }
  {
    const uint8_t *r1 = row(h - 1), *r2 = row(h - 2), *r3 = row(h - 3);
    uint8_t *o3 = orow(2 * h - 3), *o2 = orow(2 * h - 2), *o1 = orow(2 * h - 1);
    for (int x = 0; x < w; ++x) {
      o3[x] = cf(CF3A * r1[x] + CF3B * r2[x] + CF3C * r3[x]);
      o2[x] = cf(CF3X * r1[x] + CF3Y * r2[x] + CF3Z * r3[x]);
      o1[x] = cf(CF2A * r1[x] + CF2B * r2[x]);
    }
  }
  comp.height = h * 2;
  comp.stride = comp.width;
  comp.pixels.swap(out);
}

void Decoder::convert() {
  for (int i = 0; i < c_.ncomp; ++i) {
    JpegComponent& comp = c_.comp[i];
    while (comp.width < c_.width || comp.height < c_.height) {
      if (comp.width < c_.width) upsampleH(comp);
      if (c_.error) return;
      if (comp.height < c_.height) upsampleV(comp);
      if (c_.error) return;
    }
    if (comp.width < c_.width || comp.height < c_.height) {
      c_.error = InternalError;
      return;
    }
  }
  if (c_.ncomp == 3) {
    uint8_t* prgb = c_.rgb.data();
    const uint8_t* py = c_.comp[0].pixels.data();
    const uint8_t* pcb = c_.comp[1].pixels.data();
    const uint8_t* pcr = c_.comp[2].pixels.data();
    const int width = c_.width;
    for (int yy = c_.height; yy; --yy) {
      const uint8_t* __restrict ry = py;
      const uint8_t* __restrict rcb = pcb;
      const uint8_t* __restrict rcr = pcr;
      uint8_t* __restrict out = prgb;
      for (int x = 0; x < width; ++x) {
        int y = ry[x] << 8;
        int cb = rcb[x] - 128;
        int cr = rcr[x] - 128;
        out[3 * x] = clip((y + 359 * cr + 128) >> 8);
        out[3 * x + 1] = clip((y - 88 * cb - 183 * cr + 128) >> 8);
        out[3 * x + 2] = clip((y + 454 * cb + 128) >> 8);
      }
      prgb += 3 * width;
      py += c_.comp[0].stride;
      pcb += c_.comp[1].stride;
      pcr += c_.comp[2].stride;
    }
  } else if (c_.comp[0].width != c_.comp[0].stride) {
    JpegComponent& comp = c_.comp[0];
    const uint8_t* pin = comp.pixels.data() + comp.stride;
    uint8_t* pout = comp.pixels.data() + comp.width;
    for (int y = comp.height - 1; y; --y) {
      std::memmove(pout, pin, static_cast<size_t>(comp.width));
      pin += comp.stride;
      pout += comp.width;
    }
    comp.stride = comp.width;
  }
}

JpegResult Decoder::run(const uint8_t* data, uint32_t size) {
  jpegRelease(c_);
  c_.pos = data;
  c_.size = static_cast<int>(size & 0x7FFFFFFF);
  if (c_.size < 2) return NotJpeg;
  if ((c_.pos[0] ^ 0xFF) | (c_.pos[1] ^ 0xD8)) return NotJpeg;
  skip(2);
  while (!c_.error) {
    if ((c_.size < 2) || (c_.pos[0] != 0xFF)) return SyntaxError;
    skip(2);
    switch (c_.pos[-1]) {
      case 0xC0: decodeSof(); break;
      case 0xC4: decodeDht(); break;
      case 0xDB: decodeDqt(); break;
      case 0xDD: decodeDri(); break;
      case 0xDA: decodeScan(); break;
      case 0xFE: skipMarker(); break;
      default:
        if ((c_.pos[-1] & 0xF0) == 0xE0)
          skipMarker();
        else
          return Unsupported;
    }
  }
  if (c_.error != Finished) return static_cast<JpegResult>(c_.error);
  c_.error = Ok;
  convert();
  return static_cast<JpegResult>(c_.error);
}

}  // namespace

void jpegInit(JpegContext& ctx) { jpegRelease(ctx); }

JpegResult jpegDecode(JpegContext& ctx, const uint8_t* data, uint32_t size) {
  if (!data) size = 0;
  static const uint8_t none = 0;
  return Decoder(ctx).run(data ? data : &none, size);
}

int jpegWidth(const JpegContext& ctx) { return ctx.width; }
int jpegHeight(const JpegContext& ctx) { return ctx.height; }
int jpegIsColour(const JpegContext& ctx) { return ctx.ncomp != 1 ? 1 : 0; }
const uint8_t* jpegPixels(const JpegContext& ctx) {
  return ctx.ncomp == 1 ? ctx.comp[0].pixels.data() : ctx.rgb.data();
}
int jpegImageSize(const JpegContext& ctx) { return ctx.width * ctx.height * ctx.ncomp; }

bool JpegBuffer::resize(size_t n) {
  if (n > capacity) {
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[n]);
    if (!fresh) return false;
    bytes = std::move(fresh);
    capacity = n;
  }
  size = n;
  return true;
}

void JpegBuffer::clear(size_t keepUpTo) {
  size = 0;
  if (capacity > keepUpTo) {
    bytes.reset();
    capacity = 0;
  }
}

void jpegRelease(JpegContext& ctx) {
  // The buffers are kept (up to a size) for the next picture; nothing of
  // this one stays readable.
  for (JpegComponent& comp : ctx.comp) {
    dropBuffer(comp.pixels);
    JpegBuffer keep;
    keep.swap(comp.pixels);
    comp = JpegComponent{};
    comp.pixels.swap(keep);
  }
  dropBuffer(ctx.rgb);
  dropBuffer(ctx.spare);
  ctx.error = 0;
  ctx.pos = nullptr;
  ctx.size = ctx.length = 0;
  ctx.width = ctx.height = ctx.mbwidth = ctx.mbheight = ctx.mbsizex = ctx.mbsizey = ctx.ncomp = 0;
  std::memset(ctx.qtab, 0, sizeof ctx.qtab);
  ctx.vlcDefined = 0;  // the tables themselves are rewritten whole when defined
  ctx.buf = 0;
  ctx.bufbits = 0;
  std::memset(ctx.block, 0, sizeof ctx.block);
  ctx.rstinterval = 0;
  ctx.frameSeen = false;
}

}  // namespace okt
