#include "images/jpeg_decoder.h"

#include <algorithm>
#include <cstring>

#include "images/jpeg_idct.h"

namespace okt {
namespace {

// The transform is specified in 32-bit arithmetic. Hostile data can drive it
// past the range of int; these helpers wrap as the hardware does instead of
// leaving that undefined.
inline int wadd(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
inline int wmul(int a, int b) { return static_cast<int>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }

constexpr uint8_t kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
                                 41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
                                 30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Buffers up to this size stay allocated for the next picture.
constexpr size_t kKeepBytes = size_t{16} << 20;

void dropBuffer(JpegBuffer& v) { v.clear(kKeepBytes); }

bool sizeBuffer(JpegBuffer& v, size_t n) { return v.resize(n); }

class Decoder {
 public:
  Decoder(JpegContext& c, JpegKernels k) : c_(c), k_(k) {}

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
  void fillFastTable(int slot);
  void decodeBlock(JpegComponent& comp, uint8_t* out);
  void upsampleH(JpegComponent& comp);
  void upsampleV(JpegComponent& comp);
  void convert();
  // Colour pictures whose components each need at most one doubling each
  // way are converted row by row while the scan goes on, each row from
  // the planes through a few row buffers straight into the output.
  struct RowSource {
    bool doubleH = false, doubleV = false;
    const uint8_t* plane = nullptr;
    int stride = 0, width = 0, height = 0;  // of the plane as decoded
    int ssy = 0;
    uint8_t* wide[4] = {};  // horizontally doubled rows, by row number & 3
    int wideRow[4] = {};
    uint8_t* tall = nullptr;  // the vertically filtered row
  };
  bool startRowConversion();
  const uint8_t* sourceRow(RowSource& s, int k);
  const uint8_t* outputRow(RowSource& s, int y);
  void convertRows(int mcuRowsDone);

  JpegContext& c_;
  const JpegKernels k_;
  RowSource src_[3];
  bool byRows_ = false;
  int rowsDone_ = 0;
};

int Decoder::showBits(int bits) {
  if (!bits) return 0;
  // Bytes other than 0xFF go in several at a time; a 0xFF (a stuffed byte or
  // a marker) is taken by the loop below only when its bits are needed.
  if (c_.bufbits < bits) {
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    // Eight bytes at once where the input has them: those before the first
    // 0xFF, as many as the buffer takes, as the loop below would.
    if (c_.size >= 8 && c_.bufbits <= 56) {
      uint64_t w;
      std::memcpy(&w, c_.pos, 8);
      const uint64_t x = ~w;  // a 0xFF byte is a zero byte here
      const uint64_t ff = (x - 0x0101010101010101u) & ~x & 0x8080808080808080u;
      const int n = std::min(ff ? __builtin_ctzll(ff) >> 3 : 8, (64 - c_.bufbits) >> 3);
      if (n) {
        const uint64_t bytes = __builtin_bswap64(w) >> (64 - 8 * n);
        c_.buf = n == 8 ? bytes : (c_.buf << (8 * n)) | bytes;
        c_.pos += n;
        c_.size -= n;
        c_.bufbits += 8 * n;
      }
    }
#endif
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
  if (c_.ncomp == 3 && !sizeBuffer(c_.rgb, static_cast<size_t>(c_.width) * c_.height * 3 + 16)) {
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
    fillFastTable(i);
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

void Decoder::fillFastTable(int slot) {
  constexpr int spare = 16 - kJpegFastBits;
  for (int i = 0; i < (1 << kJpegFastBits); ++i) {
    const JpegVlcCode e = c_.vlctab[slot][i << spare];
    const int s = e.code & 15, used = e.bits + s;
    JpegFastCode& f = c_.fasttab[slot][i];
    f = JpegFastCode{0, 0, e.code};
    if (!e.bits) continue;
    if (used > kJpegFastBits) {
      if (e.bits <= kJpegFastBits) f.bits = static_cast<uint8_t>(kJpegCodeOnly | e.bits);
      continue;
    }
    int v = (i >> (kJpegFastBits - used)) & ((1 << s) - 1);
    if (s && v < (1 << (s - 1))) v = v - (1 << s) + 1;
    f = JpegFastCode{static_cast<int16_t>(v), static_cast<uint8_t>(used), e.code};
  }
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
  // The bit reader's state stays in registers here and goes back to the
  // context around the calls that read bytes.
  uint64_t buf = c_.buf;
  int bits = c_.bufbits;
  auto symbol = [&](int slot, uint8_t* code) {
    if (bits < 16) {  // as getVlc would first
      c_.buf = buf, c_.bufbits = bits;
      showBits(16);
      buf = c_.buf, bits = c_.bufbits;
    }
    const JpegFastCode f = c_.fasttab[slot][(buf >> (bits - kJpegFastBits)) & ((1 << kJpegFastBits) - 1)];
    if (f.bits & kJpegCodeOnly) {  // the extra bits read after it, as getVlc does
      bits -= f.bits & ~kJpegCodeOnly;
      *code = f.symbol;
      const int s = f.symbol & 15;
      if (bits < s) {
        c_.buf = buf, c_.bufbits = bits;
        showBits(s);
        buf = c_.buf, bits = c_.bufbits;
      }
      int v = static_cast<int>((buf >> (bits - s)) & ((1u << s) - 1));
      bits -= s;
      return v < (1 << (s - 1)) ? v - (1 << s) + 1 : v;
    }
    if (f.bits) {
      bits -= f.bits;
      *code = f.symbol;
      return static_cast<int>(f.value);
    }
    c_.buf = buf, c_.bufbits = bits;
    int value = getVlc(&c_.vlctab[slot][0], code);
    buf = c_.buf, bits = c_.bufbits;
    return value;
  };
  int* blk = c_.block;
  // Plain stores: a 256-byte memset becomes rep stos, slow to start.
  for (int i = 0; i < 64; i += 8)
    blk[i] = blk[i + 1] = blk[i + 2] = blk[i + 3] = blk[i + 4] = blk[i + 5] = blk[i + 6] = blk[i + 7] = 0;
  const uint8_t* q = c_.qtab[comp.qtsel];
  uint8_t code = 0;
  comp.dcpred = wadd(comp.dcpred, symbol(comp.dctabsel, &code));
  blk[0] = wmul(comp.dcpred, q[0]);
  code = 0;
  int coef = 0;
  unsigned rows = 1, cols = 1;  // which rows and columns hold coefficients
  const int ac = comp.actabsel;
  do {
    int value = symbol(ac, &code);
    if (!code) break;  // end of block
    if (!(code & 0x0F) && (code != 0xF0)) {
      c_.error = SyntaxError;
      break;
    }
    coef += (code >> 4) + 1;
    if (coef > 63) {
      c_.error = SyntaxError;
      break;
    }
    const int at = kZigZag[coef];
    blk[at] = value * q[coef];
    rows |= 1u << (at >> 3);
    cols |= 1u << (at & 7);
  } while (coef < 63);
  c_.buf = buf, c_.bufbits = bits;
  if (c_.error) return;
  if (k_ == JpegKernels::Reference)
    jpegIdct(blk, out, comp.stride, k_);
  else if (!coef)
    jpegIdctFlat(blk[0], out, comp.stride);
  else if (rows == 1)
    jpegIdctFirstRow(blk, out, comp.stride);
  else if (cols == 1)
    jpegIdctFirstColumn(blk, out, comp.stride);
  else
    jpegIdct(blk, out, comp.stride, k_);
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
  byRows_ = k_ != JpegKernels::Reference && startRowConversion();
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
      if (byRows_) convertRows(mby + 1);
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

// Output row y of a vertical doubling of h rows: the weights (in 128ths) of
// four input rows, which rows[] gives. Rows of weight 0 repeat a weighed row.
const int* doublingTaps(int y, int h, int rows[4]) {
  static constexpr int kEnd[3][4] = {{139, -11, 0, 0}, {104, 27, -3, 0}, {28, 109, -9, 0}};
  static constexpr int kMid[2][4] = {{-9, 111, 29, -3}, {-3, 29, 111, -9}};
  const int* w;
  int first, step;
  if (y < 3) {
    w = kEnd[y], first = 0, step = 1;
  } else if (y >= 2 * h - 3) {
    w = kEnd[2 * h - 1 - y], first = h - 1, step = -1;
  } else {
    w = kMid[(y - 3) & 1], first = (y - 3) >> 1, step = 1;
  }
  for (int i = 0; i < 4; ++i) rows[i] = w[i] ? first + i * step : first;
  return w;
}

void Decoder::upsampleH(JpegComponent& comp) {
  const int w = comp.width;
  JpegBuffer& out = c_.spare;
  if (!sizeBuffer(out, static_cast<size_t>(w) * comp.height * 2)) {
    c_.error = OutOfMemory;
    return;
  }
  for (int y = 0; y < comp.height; ++y)
    jpegDoubleRow(&comp.pixels[static_cast<size_t>(y) * comp.stride], w, &out[static_cast<size_t>(y) * w * 2], k_);
  comp.width = w * 2;
  comp.stride = comp.width;
  comp.pixels.swap(out);
}

void Decoder::upsampleV(JpegComponent& comp) {
  const int w = comp.width, h = comp.height;
  JpegBuffer& out = c_.spare;
  if (!sizeBuffer(out, static_cast<size_t>(w) * h * 2)) {
    c_.error = OutOfMemory;
    return;
  }
  auto row = [&](int y) { return &comp.pixels[static_cast<size_t>(y) * comp.stride]; };
  for (int y = 0; y < 2 * h; ++y) {
    int r[4];
    const int* taps = doublingTaps(y, h, r);
    jpegFilterRows(row(r[0]), row(r[1]), row(r[2]), row(r[3]), taps, &out[static_cast<size_t>(y) * w], w, k_);
  }
  comp.height = h * 2;
  comp.stride = comp.width;
  comp.pixels.swap(out);
}

bool Decoder::startRowConversion() {
  rowsDone_ = 0;
  if (c_.ncomp != 3) return false;
  size_t need = 0;
  for (int i = 0; i < 3; ++i) {
    const JpegComponent& comp = c_.comp[i];
    RowSource& s = src_[i];
    s = RowSource{};
    s.doubleH = comp.width < c_.width;
    s.doubleV = comp.height < c_.height;
    if ((s.doubleH ? 2 * comp.width : comp.width) < c_.width) return false;
    if ((s.doubleV ? 2 * comp.height : comp.height) < c_.height) return false;
    s.plane = comp.pixels.data();
    s.stride = comp.stride;
    s.width = comp.width;
    s.height = comp.height;
    s.ssy = comp.ssy;
    if (s.doubleH) need += 4 * static_cast<size_t>(2 * comp.width);
    if (s.doubleV) need += static_cast<size_t>(c_.width);
  }
  if (!sizeBuffer(c_.spare, need)) return false;  // the plane by plane way may still manage
  uint8_t* p = c_.spare.data();
  for (RowSource& s : src_) {
    if (s.doubleH)
      for (int j = 0; j < 4; ++j, p += 2 * s.width) {
        s.wide[j] = p;
        s.wideRow[j] = -1;
      }
    if (s.doubleV) {
      s.tall = p;
      p += c_.width;
    }
  }
  return true;
}

// Row k of the plane, doubled horizontally where needed.
const uint8_t* Decoder::sourceRow(RowSource& s, int k) {
  const uint8_t* in = s.plane + static_cast<size_t>(k) * s.stride;
  if (!s.doubleH) return in;
  int slot = k & 3;
  if (s.wideRow[slot] != k) {
    jpegDoubleRow(in, s.width, s.wide[slot], k_);
    s.wideRow[slot] = k;
  }
  return s.wide[slot];
}

// Row y of the full-size component: vertical doubling as upsampleV does it,
// one row at a time.
const uint8_t* Decoder::outputRow(RowSource& s, int y) {
  if (!s.doubleV) return sourceRow(s, y);
  int k[4];
  const int* w = doublingTaps(y, s.height, k);
  const uint8_t* r[4];
  for (int i = 0; i < 4; ++i) r[i] = sourceRow(s, k[i]);
  jpegFilterRows(r[0], r[1], r[2], r[3], w, s.tall, c_.width, k_);
  return s.tall;
}

// Converts the output rows whose plane rows the first mcuRowsDone MCU rows
// have decoded.
void Decoder::convertRows(int mcuRowsDone) {
  int limit = c_.height;
  if (mcuRowsDone < c_.mbheight) {
    for (const RowSource& s : src_) {
      int ready = mcuRowsDone * s.ssy * 8;  // plane rows decoded
      // Row y reads plane rows up to y (no vertical doubling) or up to
      // y / 2 + 2 (doubling; the last three rows read the last plane rows).
      int rows = s.doubleV ? (ready >= s.height ? c_.height : 2 * (ready - 2) - 1) : ready;
      limit = std::min(limit, rows);
    }
  }
  const size_t line = static_cast<size_t>(c_.width) * 3;
  for (; rowsDone_ < limit; ++rowsDone_) {
    const uint8_t* y = outputRow(src_[0], rowsDone_);
    const uint8_t* cb = outputRow(src_[1], rowsDone_);
    const uint8_t* cr = outputRow(src_[2], rowsDone_);
    jpegYccToRgb(y, cb, cr, c_.rgb.data() + line * rowsDone_, c_.width, k_);
  }
}

void Decoder::convert() {
  if (byRows_) {
    convertRows(c_.mbheight);
    return;
  }
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
    const size_t line = static_cast<size_t>(c_.width) * 3;
    auto row = [](const JpegComponent& comp, int y) { return &comp.pixels[static_cast<size_t>(y) * comp.stride]; };
    for (int y = 0; y < c_.height; ++y)
      jpegYccToRgb(row(c_.comp[0], y), row(c_.comp[1], y), row(c_.comp[2], y), &c_.rgb[line * y], c_.width, k_);
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
  return jpegDecodeWith(ctx, data, size, JpegKernels::Best);
}

JpegResult jpegDecodeWith(JpegContext& ctx, const uint8_t* data, uint32_t size, JpegKernels kernels) {
  if (!data) size = 0;
  static const uint8_t none = 0;
  return Decoder(ctx, kernels).run(data ? data : &none, size);
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
