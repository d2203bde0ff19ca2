#pragma once

// Pictures the tests make themselves: JPEGs encoded with libjpeg-turbo and
// GIFs with giflib or with a small LZW writer of our own (for streams
// giflib would not write).
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <vector>

#include <gif_lib.h>
#include <jpeglib.h>

namespace okt::test {

struct JpegOptions {
  int width = 64, height = 48;
  int components = 3;
  int hSamp = 2, vSamp = 2;  // of the first component
  int quality = 90;
  int restartInterval = 0;  // in MCUs
  bool progressive = false;
};

// A picture with gradients, edges and a disc: something like a photo.
inline uint8_t samplePixel(int x, int y, int c, int w, int h) {
  double fx = static_cast<double>(x) / w, fy = static_cast<double>(y) / h;
  double v = 0;
  if (c == 0) v = 255 * fx;
  if (c == 1) v = 255 * fy;
  if (c == 2) v = 128 + 100 * std::sin(x * 0.3) * std::cos(y * 0.2);
  if (std::hypot(x - w * 0.6, y - h * 0.4) < std::min(w, h) * 0.25) v = 255 - v;
  return static_cast<uint8_t>(std::lround(std::fmin(255, std::fmax(0, v))));
}

inline std::vector<uint8_t> makeJpeg(const JpegOptions& o) {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  jpeg_mem_dest(&cinfo, &out, &outSize);
  cinfo.image_width = static_cast<JDIMENSION>(o.width);
  cinfo.image_height = static_cast<JDIMENSION>(o.height);
  cinfo.input_components = o.components;
  cinfo.in_color_space = o.components == 3 ? JCS_RGB : JCS_GRAYSCALE;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, o.quality, TRUE);
  cinfo.comp_info[0].h_samp_factor = o.hSamp;
  cinfo.comp_info[0].v_samp_factor = o.vSamp;
  cinfo.restart_interval = static_cast<unsigned>(o.restartInterval);
  if (o.progressive) jpeg_simple_progression(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(static_cast<size_t>(o.width * o.components));
  while (cinfo.next_scanline < cinfo.image_height) {
    int y = static_cast<int>(cinfo.next_scanline);
    for (int x = 0; x < o.width; ++x)
      for (int c = 0; c < o.components; ++c)
        row[static_cast<size_t>(x * o.components + c)] =
            samplePixel(x, y, o.components == 1 ? 2 : c, o.width, o.height);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::vector<uint8_t> result(out, out + outSize);
  jpeg_destroy_compress(&cinfo);
  free(out);
  return result;
}

// Decodes with libjpeg-turbo into interleaved samples (RGB or grey).
inline std::vector<uint8_t> libjpegDecode(const std::vector<uint8_t>& data, int& w, int& h, int& comps) {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr jerr;
  cinfo.err = jpeg_std_error(&jerr);
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, data.data(), data.size());
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  w = static_cast<int>(cinfo.output_width);
  h = static_cast<int>(cinfo.output_height);
  comps = cinfo.output_components;
  std::vector<uint8_t> out(static_cast<size_t>(w * h * comps));
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW rows[1] = {&out[static_cast<size_t>(cinfo.output_scanline) * w * comps]};
    jpeg_read_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return out;
}

inline double psnr(const uint8_t* a, const uint8_t* b, size_t n) {
  double se = 0;
  for (size_t i = 0; i < n; ++i) se += (a[i] - b[i]) * double(a[i] - b[i]);
  if (se == 0) return 99.0;
  return 10 * std::log10(255.0 * 255.0 / (se / n));
}

// A grey baseline JPEG written by hand: every 8 x 8 block has only a DC
// difference (`dcBits`, the code '0' then one extra bit when firstDcOne) and
// no AC term, with one quantiser `q` for every coefficient. Block k > 0 has
// a DC difference of 0.
inline std::vector<uint8_t> flatGreyJpeg(int width, int height, uint8_t q, bool firstDcOne) {
  std::vector<uint8_t> j = {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00};
  for (int i = 0; i < 64; ++i) j.push_back(q);
  for (int b :
       {0xFF, 0xC0, 0x00, 0x0B, 0x08, height >> 8, height & 0xFF, width >> 8, width & 0xFF, 0x01, 0x01, 0x11, 0x00})
    j.push_back(static_cast<uint8_t>(b));
  // DC table 0: one code of length 1 for symbol 1 (one extra bit) or 0; AC table 0: one code for end of block.
  for (uint8_t b : {0xFF, 0xC4, 0x00, 0x14, 0x00, 0x01}) j.push_back(b);
  for (int i = 0; i < 15; ++i) j.push_back(0);
  j.push_back(firstDcOne ? 0x01 : 0x00);
  for (uint8_t b : {0xFF, 0xC4, 0x00, 0x14, 0x10, 0x01}) j.push_back(b);
  for (int i = 0; i < 15; ++i) j.push_back(0);
  j.push_back(0x00);
  for (uint8_t b : {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00}) j.push_back(b);
  if (firstDcOne) {
    j.push_back(0b01011111);  // DC code 0, extra bit 1 (+1), end of block, then padding ones
  } else {
    size_t blocks = static_cast<size_t>((width + 7) / 8) * static_cast<size_t>((height + 7) / 8);
    j.insert(j.end(), (blocks * 2 + 7) / 8, 0x00);  // every block: DC code 0, end of block
  }
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// Finds the first marker FF code; the offset of its FF, or -1.
inline long findMarker(const std::vector<uint8_t>& j, uint8_t code) {
  for (size_t i = 2; i + 1 < j.size(); ++i)
    if (j[i] == 0xFF && j[i + 1] == code) return static_cast<long>(i);
  return -1;
}

// ---- GIF ----

struct GifOptions {
  int width = 16, height = 12;
  int colours = 16;  // a power of two, 2 to 256
  bool interlaced = false;
};

inline std::vector<uint8_t> makeGif(const GifOptions& o) {
  struct Sink {
    static int write(GifFileType* gif, const GifByteType* bytes, int n) {
      auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
      out->insert(out->end(), bytes, bytes + n);
      return n;
    }
  };
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, Sink::write, &error);
  std::vector<GifColorType> colours(static_cast<size_t>(o.colours));
  for (int i = 0; i < o.colours; ++i)
    colours[static_cast<size_t>(i)] = {static_cast<GifByteType>(i * 37), static_cast<GifByteType>(255 - i * 11),
                                       static_cast<GifByteType>(i * 5)};
  ColorMapObject* map = GifMakeMapObject(o.colours, colours.data());
  EGifPutScreenDesc(gif, o.width, o.height, 8, 0, map);
  EGifPutImageDesc(gif, 0, 0, o.width, o.height, o.interlaced, nullptr);
  std::vector<uint8_t> all(static_cast<size_t>(o.width * o.height));
  for (int y = 0; y < o.height; ++y)
    for (int x = 0; x < o.width; ++x)
      all[static_cast<size_t>(y * o.width + x)] = static_cast<uint8_t>((x * 7 + y * 3 + (x * y) / 5) % o.colours);
  // giflib writes the rows of an interlaced image in pass order itself only
  // when asked line by line in that order.
  static const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  if (o.interlaced) {
    for (int pass = 0; pass < 4; ++pass)
      for (int y = start[pass]; y < o.height; y += step[pass])
        EGifPutLine(gif, &all[static_cast<size_t>(y * o.width)], o.width);
  } else {
    EGifPutLine(gif, all.data(), o.width * o.height);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// What giflib says of a first frame's transparency.
struct GiflibControl {
  bool present = false;  // a Graphic Control Extension came with the frame
  int transparent = -1;  // the index it makes transparent, or -1
  int globalColours = 0;
};

// giflib's first frame as indices, rows in image order.
inline std::vector<uint8_t> giflibFirstFrame(const std::vector<uint8_t>& data, int& w, int& h,
                                             std::vector<GifColorType>& palette, GiflibControl* control = nullptr) {
  struct Source {
    const std::vector<uint8_t>* data;
    size_t at;
    static int read(GifFileType* gif, GifByteType* out, int n) {
      auto* s = static_cast<Source*>(gif->UserData);
      int k = static_cast<int>(std::min<size_t>(static_cast<size_t>(n), s->data->size() - s->at));
      std::copy(s->data->begin() + static_cast<long>(s->at), s->data->begin() + static_cast<long>(s->at) + k, out);
      s->at += static_cast<size_t>(k);
      return k;
    }
  } src{&data, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(&src, Source::read, &error);
  DGifSlurp(gif);
  const SavedImage& img = gif->SavedImages[0];
  w = img.ImageDesc.Width;
  h = img.ImageDesc.Height;
  ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : gif->SColorMap;
  palette.assign(map->Colors, map->Colors + map->ColorCount);
  std::vector<uint8_t> out(img.RasterBits, img.RasterBits + w * h);
  if (control) {
    GraphicsControlBlock gcb;
    control->present = DGifSavedExtensionToGCB(gif, 0, &gcb) == GIF_OK;
    control->transparent = control->present ? gcb.TransparentColor : -1;
    control->globalColours = gif->SColorMap ? gif->SColorMap->ColorCount : 0;
  }
  DGifCloseFile(gif, &error);
  return out;
}

// A GIF stream written by hand: header, optional global table, blocks. The
// image data is LZW-coded by `lzw` below.
class GifWriter {
 public:
  GifWriter& header(const char* sig, int sw, int sh, int tableBits, bool table) {
    for (int i = 0; i < 6; ++i) out.push_back(static_cast<uint8_t>(sig[i]));
    le(sw), le(sh);
    out.push_back(static_cast<uint8_t>((table ? 0x80 : 0) | (tableBits - 1)));
    out.push_back(0), out.push_back(0);
    if (table) palette(1 << tableBits, 0);
    return *this;
  }
  GifWriter& palette(int entries, int salt) {
    for (int i = 0; i < entries; ++i)
      out.push_back(static_cast<uint8_t>(10 * i + salt)), out.push_back(static_cast<uint8_t>(100 + i)),
          out.push_back(static_cast<uint8_t>(200 - i));
    return *this;
  }
  GifWriter& image(int x, int y, int w, int h, uint8_t flags, int minCode, const std::vector<uint8_t>& indices,
                   bool clearWhenFull = true) {
    out.push_back(0x2C);
    le(x), le(y), le(w), le(h);
    out.push_back(flags);
    if (flags & 0x80) palette(2 << (flags & 7), 5);
    out.push_back(static_cast<uint8_t>(minCode));
    std::vector<uint8_t> codes = lzw(indices, minCode, clearWhenFull);
    for (size_t i = 0; i < codes.size(); i += 255) {
      size_t n = std::min<size_t>(255, codes.size() - i);
      out.push_back(static_cast<uint8_t>(n));
      out.insert(out.end(), codes.begin() + static_cast<long>(i), codes.begin() + static_cast<long>(i + n));
    }
    out.push_back(0);
    return *this;
  }
  GifWriter& bytes(std::initializer_list<uint8_t> b) {
    out.insert(out.end(), b);
    return *this;
  }

  // LZW as GIF codes it; without clearWhenFull the table stays full and codes go on at 12 bits.
  static std::vector<uint8_t> lzw(const std::vector<uint8_t>& in, int minCode, bool clearWhenFull) {
    std::vector<uint8_t> out;
    uint32_t acc = 0;
    int nbits = 0;
    int codeSize = minCode + 1;
    const int clear = 1 << minCode, eoi = clear + 1;
    auto put = [&](int code) {
      acc |= static_cast<uint32_t>(code) << nbits;
      nbits += codeSize;
      while (nbits >= 8) out.push_back(static_cast<uint8_t>(acc)), acc >>= 8, nbits -= 8;
    };
    std::map<std::pair<int, int>, int> dict;
    int next = eoi + 1;
    put(clear);
    int prefix = -1;
    for (uint8_t c : in) {
      if (prefix < 0) {
        prefix = c;
        continue;
      }
      auto it = dict.find({prefix, c});
      if (it != dict.end()) {
        prefix = it->second;
        continue;
      }
      put(prefix);
      if (next < 4096) {
        dict[{prefix, c}] = next++;
        if (next - 1 == (1 << codeSize) && codeSize < 12) ++codeSize;
      } else if (clearWhenFull) {
        put(clear);
        dict.clear();
        next = eoi + 1;
        codeSize = minCode + 1;
      }
      prefix = c;
    }
    if (prefix >= 0) put(prefix);
    put(eoi);
    if (nbits) out.push_back(static_cast<uint8_t>(acc));
    return out;
  }

  std::vector<uint8_t> out;

 private:
  void le(int v) { out.push_back(static_cast<uint8_t>(v)), out.push_back(static_cast<uint8_t>(v >> 8)); }
};

}  // namespace okt::test
