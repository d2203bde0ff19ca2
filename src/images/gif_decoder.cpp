#include "images/gif_decoder.h"

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
  // A size byte and that many bytes.
  bool skipSubBlock() {
    uint8_t n = 0;
    if (!byte(n) || g_.size - g_.position < n) return false;
    g_.position += n;
    return true;
  }
  bool skipByte() {
    uint8_t ignored = 0;
    return byte(ignored);
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
  // The next code of codeSize bits, least significant first; false at the end of the data.
  bool readCode(uint32_t& code) {
    uint32_t bits = g_.bitBuffer;
    uint32_t count = g_.bitCount;
    while (count < g_.codeSize) {
      if (g_.subBlockLeft == 0) {
        uint8_t n = 0;
        if (!r_.byte(n) || n == 0) return false;
        g_.subBlockLeft = n;
      }
      uint8_t b = 0;
      if (!r_.byte(b)) return false;
      g_.subBlockLeft--;
      bits |= uint32_t{b} << count;
      count += 8;
    }
    code = bits & ((1u << g_.codeSize) - 1);
    g_.bitBuffer = static_cast<uint8_t>(bits >> g_.codeSize);
    g_.bitCount = static_cast<uint8_t>(count - g_.codeSize);
    return true;
  }
  uint8_t firstIndex(uint32_t code) const {
    for (int guard = 0; guard < 4096 && g_.prefix[code] != g_.eoiCode; ++guard) code = g_.prefix[code];
    return g_.suffix[code];
  }
  void emit(uint32_t code);
  void put(uint8_t index);

  GifDecoder& g_;
  Reader r_;
  uint64_t remaining_ = 0;  // places of the image not yet visited
  uint8_t stack_[4096];
};

void ImageDecoder::put(uint8_t index) {
  if (g_.x < g_.frameWidth && g_.y < g_.frameHeight) {
    uint8_t* p = &g_.pixels[(size_t{g_.y} * g_.frameWidth + g_.x) * 4];
    p[0] = g_.palette[index][2];
    p[1] = g_.palette[index][1];
    p[2] = g_.palette[index][0];
    p[3] = index == static_cast<uint8_t>(g_.globalTableSize - 1) ? 0 : 255;
  }
  --remaining_;
  if (++g_.x < g_.frameWidth) return;
  g_.x = 0;
  if (!g_.interlaced) {
    ++g_.y;
    return;
  }
  // Passes start at rows 0, 4, 2, 1 and step by 8, 8, 4, 2; a pass whose
  // first row lies below a short image is passed over.
  static const uint32_t start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  g_.y += step[g_.interlacePass < 4 ? g_.interlacePass : 3];
  while (g_.y >= g_.frameHeight && g_.interlacePass < 4) {
    if (++g_.interlacePass < 4) g_.y = start[g_.interlacePass];
  }
}

void ImageDecoder::emit(uint32_t code) {
  int n = 0;
  for (; n < 4096; ++n) {
    stack_[n] = g_.suffix[code];
    if (g_.prefix[code] == g_.eoiCode) break;
    code = g_.prefix[code];
  }
  for (int i = n < 4096 ? n : 4095; i >= 0 && remaining_; --i) put(stack_[i]);
}

void ImageDecoder::run() {
  g_.firstCode = 1;
  g_.interlacePass = 0;
  g_.bitBuffer = g_.bitCount = g_.subBlockLeft = 0;
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

  uint8_t m = 0;
  if (!r_.byte(m) || m > 11) return;
  g_.initialCodeSize = g_.codeSize = static_cast<uint8_t>(m + 1);
  g_.eoiCode = static_cast<uint16_t>((1u << m) + 1);
  g_.lastCode = g_.eoiCode;
  for (uint32_t i = 0; i < g_.eoiCode; ++i) {
    g_.suffix[i] = static_cast<uint8_t>(i);
    g_.prefix[i] = g_.eoiCode;
  }

  uint32_t code = 0;
  while (remaining_ && readCode(code)) {
    if (code == g_.eoiCode) return;
    if (code == g_.eoiCode - 1u) {
      g_.lastCode = g_.eoiCode;
      g_.firstCode = 1;
      g_.codeSize = g_.initialCodeSize;
      continue;
    }
    if (code > g_.lastCode) {
      if (code != g_.lastCode + 1u || g_.firstCode) return;
      g_.lastCode++;
      g_.suffix[g_.lastCode] = firstIndex(g_.prefix[g_.lastCode]);
      emit(code);
    } else {
      emit(code);
      if (!g_.firstCode && g_.lastCode <= 4094) {
        g_.lastCode++;
        g_.suffix[g_.lastCode] = firstIndex(code);
      }
    }
    if (g_.lastCode <= 4094) g_.prefix[g_.lastCode + 1] = static_cast<uint16_t>(code);
    g_.firstCode = 0;
    if (g_.codeSize <= 11 && g_.lastCode >= (1u << g_.codeSize) - 1) g_.codeSize++;
  }
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
      bool ok = true;
      if (label == 0xF9 || label == 0xFE)
        ok = r.skipSubBlock() && r.skipByte();
      else if (label == 0x01 || label == 0xFF)
        ok = r.skipSubBlock() && r.skipSubBlock() && r.skipByte();
      else
        break;
      if (!ok) break;
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
