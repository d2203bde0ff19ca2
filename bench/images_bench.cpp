// Decoding from memory, ours side by side with libjpeg-turbo, stb_image and
// giflib on the same pictures in the same run; and scaling a picture.
#include <benchmark/benchmark.h>

#include <map>
#include <memory>
#include <string>

#define STB_IMAGE_IMPLEMENTATION
#define STBI_ONLY_JPEG
#define STBI_ONLY_GIF
#include <stb/stb_image.h>
#define STB_IMAGE_RESIZE_IMPLEMENTATION
#include <stb/stb_image_resize.h>

#include "../tests/images/picture_makers.h"
#include "images/gif_decoder.h"
#include "images/jpeg_decoder.h"
#include "presentation/raster.h"

using namespace okt;

namespace {

struct JpegCase {
  int w, h, comps, hs, vs;
};
const std::map<std::string, JpegCase> kJpegs = {
    {"320x240_420", {320, 240, 3, 2, 2}},     {"320x240_422", {320, 240, 3, 2, 1}},
    {"320x240_444", {320, 240, 3, 1, 1}},     {"320x240_grey", {320, 240, 1, 1, 1}},
    {"800x600_420", {800, 600, 3, 2, 2}},     {"800x600_422", {800, 600, 3, 2, 1}},
    {"800x600_444", {800, 600, 3, 1, 1}},     {"800x600_grey", {800, 600, 1, 1, 1}},
    {"1920x1080_420", {1920, 1080, 3, 2, 2}}, {"1920x1080_422", {1920, 1080, 3, 2, 1}},
    {"1920x1080_444", {1920, 1080, 3, 1, 1}}, {"1920x1080_grey", {1920, 1080, 1, 1, 1}},
};

const std::vector<uint8_t>& jpeg(const std::string& name) {
  static std::map<std::string, std::vector<uint8_t>> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  const JpegCase& c = kJpegs.at(name);
  test::JpegOptions o;
  o.width = c.w, o.height = c.h, o.components = c.comps, o.hSamp = c.hs, o.vSamp = c.vs, o.quality = 85;
  return cache[name] = test::makeJpeg(o);
}

void BM_JpegOurs(benchmark::State& state, std::string name) {
  const auto& data = jpeg(name);
  auto ctx = std::make_unique<JpegContext>();
  for (auto _ : state) {
    jpegInit(*ctx);
    if (jpegDecode(*ctx, data.data(), static_cast<uint32_t>(data.size())) != Ok) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(jpegPixels(*ctx));
    jpegRelease(*ctx);
  }
}

void BM_JpegLibjpegTurbo(benchmark::State& state, std::string name) {
  const auto& data = jpeg(name);
  for (auto _ : state) {
    int w, h, c;
    benchmark::DoNotOptimize(test::libjpegDecode(data, w, h, c));
  }
}

void BM_JpegStb(benchmark::State& state, std::string name) {
  const auto& data = jpeg(name);
  for (auto _ : state) {
    int w, h, c;
    stbi_uc* p = stbi_load_from_memory(data.data(), static_cast<int>(data.size()), &w, &h, &c, 0);
    benchmark::DoNotOptimize(p);
    stbi_image_free(p);
  }
}

struct GifCase {
  int w, h, colours;
  bool interlaced;
};
const std::map<std::string, GifCase> kGifs = {{"64x64_16", {64, 64, 16, false}},
                                              {"320x240_256", {320, 240, 256, false}},
                                              {"640x480_64_interlaced", {640, 480, 64, true}}};

const std::vector<uint8_t>& gif(const std::string& name) {
  static std::map<std::string, std::vector<uint8_t>> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  const GifCase& c = kGifs.at(name);
  test::GifOptions o;
  o.width = c.w, o.height = c.h, o.colours = c.colours, o.interlaced = c.interlaced;
  return cache[name] = test::makeGif(o);
}

void BM_GifOurs(benchmark::State& state, std::string name) {
  const auto& data = gif(name);
  for (auto _ : state) {
    GifDecoder g;
    gifDecode(g, data.data(), static_cast<uint32_t>(data.size()));
    benchmark::DoNotOptimize(g.pixels.data());
    gifRelease(g);
  }
}

void BM_GifGiflib(benchmark::State& state, std::string name) {
  const auto& data = gif(name);
  for (auto _ : state) {
    int w, h;
    std::vector<GifColorType> palette;
    benchmark::DoNotOptimize(test::giflibFirstFrame(data, w, h, palette));
  }
}

void BM_GifStb(benchmark::State& state, std::string name) {
  const auto& data = gif(name);
  for (auto _ : state) {
    int w, h, c;
    stbi_uc* p = stbi_load_from_memory(data.data(), static_cast<int>(data.size()), &w, &h, &c, 4);
    benchmark::DoNotOptimize(p);
    stbi_image_free(p);
  }
}

// A 320 x 240 picture scaled to 600 x 450, as a picture placed on the
// display is: ours (bilinear, blue-green-red-alpha) beside stb_image_resize.
std::vector<uint8_t> resampleSource() {
  std::vector<uint8_t> src(320 * 240 * 4);
  for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7 + i / 1280);
  return src;
}

void BM_ResampleOurs(benchmark::State& state) {
  const auto src = resampleSource();
  for (auto _ : state) benchmark::DoNotOptimize(okt::scaleRgba(600, 450, 0, 0, 600, 450, 320, 240, src.data()));
}

void BM_ResampleStb(benchmark::State& state) {
  const auto src = resampleSource();
  std::vector<uint8_t> out(600 * 450 * 4);
  for (auto _ : state) {
    stbir_resize_uint8(src.data(), 320, 240, 0, out.data(), 600, 450, 0, 4);
    benchmark::DoNotOptimize(out.data());
  }
}

const bool registered = [] {
  benchmark::RegisterBenchmark("resample/320x240_to_600x450/ours", BM_ResampleOurs)->Unit(benchmark::kMicrosecond);
  benchmark::RegisterBenchmark("resample/320x240_to_600x450/stb_image_resize", BM_ResampleStb)
      ->Unit(benchmark::kMicrosecond);
  for (const auto& [name, c] : kJpegs) {
    benchmark::RegisterBenchmark(("jpeg/" + name + "/ours").c_str(), BM_JpegOurs, name)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("jpeg/" + name + "/libjpeg-turbo").c_str(), BM_JpegLibjpegTurbo, name)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("jpeg/" + name + "/stb_image").c_str(), BM_JpegStb, name)
        ->Unit(benchmark::kMicrosecond);
  }
  for (const auto& [name, c] : kGifs) {
    benchmark::RegisterBenchmark(("gif/" + name + "/ours").c_str(), BM_GifOurs, name)->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("gif/" + name + "/giflib").c_str(), BM_GifGiflib, name)
        ->Unit(benchmark::kMicrosecond);
    benchmark::RegisterBenchmark(("gif/" + name + "/stb_image").c_str(), BM_GifStb, name)
        ->Unit(benchmark::kMicrosecond);
  }
  return true;
}();

}  // namespace
