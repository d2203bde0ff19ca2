#include <gtest/gtest.h>

#include "images/gif_decoder.h"
#include "picture_makers.h"

namespace okt {
namespace {

using test::GifWriter;

struct Pixel {
  uint8_t b, g, r, a;
  bool operator==(const Pixel&) const = default;
};

Pixel at(const GifDecoder& g, int x, int y) {
  const uint8_t* p = &g.pixels[(static_cast<size_t>(y) * g.frameWidth + static_cast<size_t>(x)) * 4];
  return {p[0], p[1], p[2], p[3]};
}

uint8_t decode(GifDecoder& g, const std::vector<uint8_t>& data) {
  return gifDecode(g, data.data(), static_cast<uint32_t>(data.size()));
}

TEST(Gif, SignaturesAreChecked) {
  struct Case {
    const char* sig;
    uint8_t result;
  };
  for (Case c : {Case{"GIF87a", 0}, Case{"GIF89a", 0}, Case{"GIF88a", 1}, Case{"gif89a", 1}, Case{"GIF89b", 1}}) {
    GifDecoder g;
    std::vector<uint8_t> data(c.sig, c.sig + 6);
    EXPECT_EQ(decode(g, data), c.result) << c.sig;
  }
  GifDecoder g;
  EXPECT_EQ(decode(g, {'G', 'I', 'F', '8', '9'}), 1);
  EXPECT_EQ(gifWidth(g), 0);
}

TEST(Gif, TheLastEntryOfTheGlobalTableIsTransparent) {
  GifDecoder g;
  auto data = GifWriter().header("GIF89a", 2, 2, 2, true).image(0, 0, 2, 2, 0, 2, {0, 1, 2, 3}).bytes({0x3B}).out;
  ASSERT_EQ(decode(g, data), 0);
  ASSERT_EQ(gifWidth(g), 2);
  ASSERT_EQ(gifHeight(g), 2);
  // Palette entry i is (10 i, 100 + i, 200 - i) as red, green, blue.
  EXPECT_EQ(at(g, 0, 0), (Pixel{200, 100, 0, 255}));
  EXPECT_EQ(at(g, 1, 0), (Pixel{199, 101, 10, 255}));
  EXPECT_EQ(at(g, 0, 1), (Pixel{198, 102, 20, 255}));
  EXPECT_EQ(at(g, 1, 1), (Pixel{197, 103, 30, 0}));  // colour kept, alpha 0
}

TEST(Gif, ALocalTableReplacesTheColoursButNotTheTransparentIndex) {
  GifDecoder g;
  // Global table of 4 entries; the image brings its own 8-entry table.
  auto data = GifWriter().header("GIF89a", 2, 1, 2, true).image(0, 0, 2, 1, 0x82, 3, {3, 7}).out;
  ASSERT_EQ(decode(g, data), 0);
  EXPECT_EQ(at(g, 0, 0), (Pixel{197, 103, 35, 0}));  // index 3 = globalTableSize - 1
  EXPECT_EQ(at(g, 1, 0), (Pixel{193, 107, 75, 255}));
}

TEST(Gif, InterlacedRowsLandInPassOrder) {
  GifDecoder g;
  std::vector<uint8_t> rows = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};  // stream row k holds index k
  auto data = GifWriter().header("GIF89a", 1, 10, 4, true).image(0, 0, 1, 10, 0x40, 4, rows).out;
  ASSERT_EQ(decode(g, data), 0);
  const int imageRowOf[] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
  for (int k = 0; k < 10; ++k) EXPECT_EQ(at(g, 0, imageRowOf[k]).r, 10 * k) << k;
}

TEST(Gif, ShortInterlacedImagesSkipPassesThatStartBelowThem) {
  GifDecoder g;
  auto data = GifWriter().header("GIF89a", 1, 3, 2, true).image(0, 0, 1, 3, 0x40, 2, {0, 1, 2}).out;
  ASSERT_EQ(decode(g, data), 0);
  EXPECT_EQ(at(g, 0, 0).r, 0);
  EXPECT_EQ(at(g, 0, 2).r, 10);  // pass 3 of 8-row images starts at row 2
  EXPECT_EQ(at(g, 0, 1).r, 20);
}

TEST(Gif, ExtensionsArePassedOverAndOnlyTheFirstImageIsRead) {
  GifDecoder g;
  GifWriter w;
  w.header("GIF89a", 2, 1, 2, true);
  w.bytes({0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00});  // graphic control naming index 0 transparent
  w.bytes({0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x00});           // comment
  w.bytes({0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01, 0x00, 0x00, 0x00});
  w.image(0, 0, 2, 1, 0, 2, {0, 1});
  w.image(0, 0, 2, 1, 0, 2, {2, 2});  // a second frame
  ASSERT_EQ(decode(g, w.out), 0);
  EXPECT_EQ(at(g, 0, 0), (Pixel{200, 100, 0, 255}));  // the control block changed nothing
  EXPECT_EQ(at(g, 1, 0).r, 10);
}

TEST(Gif, AFullCodeTableWithoutClearGoesOn) {
  GifDecoder g;
  std::vector<uint8_t> noise(120 * 120);
  uint32_t seed = 1;
  for (auto& v : noise) v = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 24 & 0x0F);
  auto data = GifWriter().header("GIF89a", 120, 120, 4, true).image(0, 0, 120, 120, 0, 4, noise, false).out;
  ASSERT_EQ(decode(g, data), 0);
  for (int i = 0; i < 120 * 120; ++i) ASSERT_EQ(at(g, i % 120, i / 120).r, 10 * noise[static_cast<size_t>(i)]) << i;
}

TEST(Gif, CutFilesKeepWhatWasDecodedAndTheRestIsTransparent) {
  GifDecoder g;
  std::vector<uint8_t> rows(16 * 16, 5);
  auto full = GifWriter().header("GIF89a", 16, 16, 3, true).image(0, 0, 16, 16, 0, 3, rows).out;
  auto cut = full;
  cut.resize(full.size() - 8);
  ASSERT_EQ(decode(g, cut), 0);
  EXPECT_EQ(at(g, 0, 0).r, 50);
  EXPECT_EQ(at(g, 15, 15).a, 0);  // not reached: transparent
}

TEST(Gif, ExtensionsOnlyGiveAnEmptyPicture) {
  GifDecoder g;
  auto data = GifWriter().header("GIF89a", 4, 4, 2, true).bytes({0x21, 0xFE, 0x01, 'x', 0x00, 0x3B}).out;
  EXPECT_EQ(decode(g, data), 0);
  EXPECT_EQ(gifWidth(g), 0);
  EXPECT_EQ(gifHeight(g), 0);
}

TEST(Gif, ImagesLargerThanTheScreenAndHugeScreens) {
  GifDecoder g;
  std::vector<uint8_t> pixels(8 * 8, 1);
  auto larger = GifWriter().header("GIF89a", 2, 2, 2, true).image(0, 0, 8, 8, 0, 2, pixels).out;
  ASSERT_EQ(decode(g, larger), 0);
  ASSERT_EQ(gifWidth(g), 8);
  ASSERT_GE(g.pixels.size(), 8u * 8 * 4);
  EXPECT_EQ(at(g, 7, 7).r, 10);
  auto huge = GifWriter().header("GIF89a", 4096, 1025, 2, true).out;
  EXPECT_EQ(decode(g, huge), 1);
  auto hugeImage = GifWriter().header("GIF89a", 1, 1, 2, true).image(0, 0, 65535, 65535, 0, 2, {1}).out;
  EXPECT_EQ(decode(g, hugeImage), 0);
  EXPECT_EQ(gifWidth(g), 0);  // refused: nothing to draw
}

// Against giflib on pictures giflib wrote: equal, pixel for pixel.
TEST(Gif, EqualToGiflib) {
  struct Case {
    int w, h, colours;
    bool interlaced;
  };
  for (Case c : {Case{16, 12, 2, false}, Case{33, 20, 4, false}, Case{64, 48, 16, true}, Case{100, 77, 256, false},
                 Case{120, 9, 256, true}, Case{7, 300, 32, true}}) {
    test::GifOptions o;
    o.width = c.w, o.height = c.h, o.colours = c.colours, o.interlaced = c.interlaced;
    auto data = test::makeGif(o);
    int w, h;
    std::vector<GifColorType> palette;
    auto ref = test::giflibFirstFrame(data, w, h, palette);
    GifDecoder g;
    ASSERT_EQ(decode(g, data), 0);
    ASSERT_EQ(gifWidth(g), w);
    ASSERT_EQ(gifHeight(g), h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const GifColorType& colour = palette[ref[static_cast<size_t>(y * w + x)]];
        Pixel p = at(g, x, y);
        ASSERT_EQ(p.r, colour.Red) << c.w << "x" << c.h << " at " << x << "," << y;
        ASSERT_EQ(p.g, colour.Green);
        ASSERT_EQ(p.b, colour.Blue);
      }
  }
}

}  // namespace
}  // namespace okt
