#include "images/gif_decoder.h"

#include <algorithm>
#include <cstring>

namespace okt {
namespace {

class Reader {
 public:
  explicit Reader(GifDecoder& g) : g_(g) {}

  bool byte(uint8_t& out) {
    if (g_.position >= g_.size) return false;
    out = g_.data[g_.position++];
    return true;
  }
  bool u16(uint16_t& out) {
    uint8_t lo = 0, hi = 0;
    if (!byte(lo) || !byte(hi)) return false;
    out = static_cast<uint16_t>(lo | (hi << 8));
    return true;
  }
  // Sub-blocks (a size byte and that many bytes) up to and including the
  // empty one that ends them, however many there are.
  bool skipSubBlocks() {
    for (;;) {
      uint8_t n = 0;
      if (!byte(n) || g_.size - g_.position < n) return false;
      if (n == 0) return true;
      g_.position += n;
    }
  }
  // The first sub-block of a Graphic Control Extension: flags, delay,
  // transparent index. The rest is left to skipSubBlocks, as is a block too
  // short to be one (the extension is then ignored).
  void graphicControl() {
    if (g_.size - g_.position < 5 || g_.data[g_.position] < 4) return;
    const uint8_t* block = g_.data + g_.position;
    g_.hasGraphicControl = 1;
    g_.hasTransparency = block[1] & 1;
    g_.transparentIndex = block[4];
  }
  // Palette entries that lie past the end of the data are not read.
  void palette(uint32_t entries) {
    for (uint32_t i = 0; i < entries && g_.size - g_.position >= 3; ++i) {
      std::memcpy(g_.palette[i], g_.data + g_.position, 3);
      g_.position += 3;
    }
    if (g_.size - g_.position < 3 && g_.size - g_.position > 0) g_.position = g_.size;
  }

 private:
  GifDecoder& g_;
};

class ImageDecoder {
 public:
  explicit ImageDecoder(GifDecoder& g) : g_(g), r_(g) {}
  void run();

 private:
  // The next code of codeSize bits, least significant first; false at the
  // end of the data. Bits are taken from the sub-blocks several bytes at a time.
  bool readCode(uint32_t& code, uint32_t codeSize) {
    if (count_ < codeSize) {
      refill();
      if (count_ < codeSize) return false;
    }
    code = static_cast<uint32_t>(bits_) & ((1u << codeSize) - 1);
    bits_ >>= codeSize;
    count_ -= codeSize;
    return true;
  }
  void refill() {
    while (count_ <= 56 && !ended_) {
      if (g_.subBlockLeft == 0) {
        uint8_t n = 0;
        if (!r_.byte(n) || n == 0) {
          ended_ = true;  // nothing after the empty block belongs to the image
          return;
        }
        g_.subBlockLeft = n;
      }
      uint32_t take = std::min<uint32_t>({g_.subBlockLeft, g_.size - g_.position, (64 - count_) / 8});
      if (take == 0) return;
      for (uint32_t k = 0; k < take; ++k) bits_ |= uint64_t{g_.data[g_.position + k]} << (count_ + 8 * k);
      g_.position += take;
      g_.subBlockLeft = static_cast<uint8_t>(g_.subBlockLeft - take);
      count_ += 8 * take;
    }
  }
  // Code `added` now stands for the string of its prefix and one more index.
  void define(uint32_t added, uint8_t last) {
    uint32_t p = g_.prefix[added];
    g_.suffix[added] = last;
    first_[added] = first_[p];
    length_[added] = static_cast<uint16_t>(length_[p] + 1);
  }
  void emit(uint32_t code);
  void nextRow();
  void colours();

  GifDecoder& g_;
  Reader r_;
  uint64_t remaining_ = 0;  // places of the image not yet visited
  uint64_t bits_ = 0;       // bits read and not yet used, the next in the lowest
  uint32_t count_ = 0;
  bool ended_ = false;      // the image's data ended
  uint8_t* row_ = nullptr;  // the row being written
  uint32_t bgra_[256];      // each index as the pixel it becomes
  uint8_t first_[4096];     // each code's first index
  uint16_t length_[4096];   // and the length of its string
  uint8_t stack_[4096];
};

void ImageDecoder::colours() {
  for (uint32_t i = 0; i < 256; ++i) {
    const uint8_t* c = g_.palette[i];
    bool transparent = g_.hasGraphicControl ? g_.hasTransparency && i == g_.transparentIndex
                                            : i == static_cast<uint8_t>(g_.globalTableSize - 1);
    uint8_t pixel[4] = {c[2], c[1], c[0], static_cast<uint8_t>(transparent ? 0 : 255)};
    std::memcpy(&bgra_[i], pixel, 4);
  }
}

// Rows follow one another, or in an interlaced image come in four passes
// starting at rows 0, 4, 2, 1 and stepping by 8, 8, 4, 2; a pass whose first
// row lies below a short image is passed over.
void ImageDecoder::nextRow() {
  g_.x = 0;
  if (!g_.interlaced) {
    ++g_.y;
  } else {
    static const uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    g_.y += step[g_.interlacePass < 4 ? g_.interlacePass : 3];
    while (g_.y >= g_.frameHeight && g_.interlacePass < 4) {
      if (++g_.interlacePass < 4) g_.y = start[g_.interlacePass];
    }
  }
  // Every place is visited once: while places remain, the row is inside the image.
  if (remaining_) row_ = &g_.pixels[size_t{g_.y} * g_.frameWidth * 4];
}

// Writes the string of `code` at the current place, as far as the image goes.
void ImageDecoder::emit(uint32_t code) {
  const uint8_t* suffix = g_.suffix;
  const uint16_t* prefix = g_.prefix;
  const uint32_t* colour = bgra_;
  uint32_t n = length_[code];
  uint32_t x = g_.x;
  if (n <= g_.frameWidth - x && n <= remaining_) {
    // The common case: the string fits in the row, written from its end.
    uint8_t* out = row_ + size_t{x} * 4;
    for (uint32_t i = n; i-- > 0;) {
      std::memcpy(out + size_t{i} * 4, &colour[suffix[code]], 4);
      code = prefix[code];
    }
    g_.x = x + n;
    remaining_ -= n;
    if (g_.x == g_.frameWidth) nextRow();
    return;
  }
  uint8_t* stack = stack_;
  for (uint32_t i = n; i-- > 0;) {
    stack[i] = suffix[code];
    code = prefix[code];
  }
  for (uint32_t i = 0; i < n && remaining_;) {
    uint32_t run = static_cast<uint32_t>(std::min<uint64_t>({n - i, g_.frameWidth - g_.x, remaining_}));
    uint8_t* out = row_ + size_t{g_.x} * 4;
    for (uint32_t k = 0; k < run; ++k) std::memcpy(out + size_t{k} * 4, &colour[stack[i + k]], 4);
    i += run;
    g_.x += run;
    remaining_ -= run;
    if (g_.x == g_.frameWidth) nextRow();
  }
}

void ImageDecoder::run() {
  g_.firstCode = 1;
  g_.interlacePass = 0;
  g_.subBlockLeft = 0;
  uint16_t left = 0, top = 0, width = 0, height = 0;
  uint8_t flags = 0;
  if (!(r_.u16(left) && r_.u16(top) && r_.u16(width) && r_.u16(height) && r_.byte(flags))) return;
  g_.frameLeft = left;
  g_.frameTop = top;
  g_.interlaced = (flags & 0x40) ? 1 : 0;
  g_.localTableSize = static_cast<uint16_t>(2u << (flags & 7));
  if (flags & 0x80) {
    g_.hasLocalTable = 1;
    r_.palette(g_.localTableSize);
  }
  // The picture the caller gets is the image, whatever the logical screen says.
  uint64_t places = uint64_t{width} * height;
  if (places > kGifMaxPixels) return;
  try {
    g_.pixels.assign(static_cast<size_t>(places) * 4, 0);
  } catch (const std::bad_alloc&) {
    return;
  }
  g_.frameWidth = width;
  g_.frameHeight = height;
  g_.x = g_.y = 0;
  remaining_ = places;
  if (!places) return;
  row_ = g_.pixels.data();
  colours();

  uint8_t m = 0;
  if (!r_.byte(m) || m > 11) return;
  g_.initialCodeSize = g_.codeSize = static_cast<uint8_t>(m + 1);
  g_.eoiCode = static_cast<uint16_t>((1u << m) + 1);
  g_.lastCode = g_.eoiCode;
  for (uint32_t i = 0; i < g_.eoiCode; ++i) {
    g_.suffix[i] = first_[i] = static_cast<uint8_t>(i);
    g_.prefix[i] = g_.eoiCode;
    length_[i] = 1;
  }
  // Codes only ever lead to smaller ones; these end every chain.
  first_[g_.eoiCode] = 0;
  length_[g_.eoiCode] = 0;

  // The code table's state is kept in locals while decoding: pixel writes
  // would otherwise make the compiler fetch it again for every pixel.
  const uint32_t eoi = g_.eoiCode, clear = eoi - 1u;
  uint32_t lastCode = g_.lastCode, codeSize = g_.codeSize;
  bool first = true;
  uint16_t* prefix = g_.prefix;
  uint32_t code = 0;
  while (remaining_ && readCode(code, codeSize)) {
    if (code == eoi) break;
    if (code == clear) {
      lastCode = eoi;
      first = true;
      codeSize = g_.initialCodeSize;
      continue;
    }
    if (code > lastCode) {
      // A code defined by this very step: the previous string and its own first index.
      if (code != lastCode + 1u || first) break;
      lastCode++;
      define(lastCode, first_[prefix[lastCode]]);
      emit(code);
    } else {
      emit(code);
      if (!first && lastCode <= 4094) {
        lastCode++;
        define(lastCode, first_[code]);
      }
    }
    if (lastCode <= 4094) prefix[lastCode + 1] = static_cast<uint16_t>(code);
    first = false;
    if (codeSize <= 11 && lastCode >= (1u << codeSize) - 1) codeSize++;
  }
  g_.lastCode = static_cast<uint16_t>(lastCode);
  g_.codeSize = static_cast<uint8_t>(codeSize);
  g_.firstCode = first;
}

}  // namespace

uint8_t gifDecode(GifDecoder& g, const uint8_t* data, uint32_t size) {
  std::vector<uint8_t> keep = std::move(g.pixels);
  g = GifDecoder{};
  g.pixels = std::move(keep);
  g.pixels.clear();
  g.firstCode = 1;
  g.data = data;
  g.size = data ? size : 0;
  Reader r(g);

  uint8_t header[13] = {};
  for (int i = 0; i < 13; ++i)
    if (!r.byte(header[i])) break;
  static const uint8_t gif8[4] = {'G', 'I', 'F', '8'};
  if (std::memcmp(header, gif8, 4) != 0 || (header[4] != '7' && header[4] != '9') || header[5] != 'a') {
    gifRelease(g);
    return 1;
  }
  g.valid = 1;
  g.screenWidth = static_cast<uint16_t>(header[6] | (header[7] << 8));
  g.screenHeight = static_cast<uint16_t>(header[8] | (header[9] << 8));
  g.backgroundIndex = header[11];
  g.aspectRatio = header[12];
  g.globalTableSize = static_cast<uint16_t>(2u << (header[10] & 7));
  if (header[10] & 0x80) {
    g.hasGlobalTable = 1;
    r.palette(g.globalTableSize);
  }
  if (uint64_t{g.screenWidth} * g.screenHeight > kGifMaxPixels) {
    gifRelease(g);
    return 1;
  }

  // From here on whatever cannot be read simply ends the picture.
  uint8_t b = 0;
  while (r.byte(b)) {
    if (b == 0x21) {
      uint8_t label = 0;
      if (!r.byte(label)) break;
      if (label == 0xF9) r.graphicControl();
      if (!r.skipSubBlocks()) break;
    } else if (b == 0x2C) {
      ImageDecoder(g).run();
      break;
    } else {
      break;
    }
  }
  if (g.pixels.size() < size_t{g.frameWidth} * g.frameHeight * 4) g.frameWidth = g.frameHeight = 0;
  return 0;
}

uint16_t gifWidth(const GifDecoder& g) { return g.frameWidth; }
uint16_t gifHeight(const GifDecoder& g) { return g.frameHeight; }

void gifRelease(GifDecoder& g) {
  g.pixels.clear();
  g.pixels.shrink_to_fit();
}

}  // namespace okt
