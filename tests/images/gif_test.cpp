#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

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

TEST(Gif, ALocalTableReplacesTheColoursButNotTheTransparentIndex) {
  GifDecoder g;
  // Global table of 4 entries; the image brings its own 8-entry table.
  auto data = GifWriter().header("GIF89a", 2, 1, 2, true).image(0, 0, 2, 1, 0x82, 3, {3, 7}).out;
  ASSERT_EQ(decode(g, data), 0);
  EXPECT_EQ(at(g, 0, 0), (Pixel{197, 103, 35, 0}));  // index 3 = globalTableSize - 1
  EXPECT_EQ(at(g, 1, 0), (Pixel{193, 107, 75, 255}));
}

TEST(Gif, ShortInterlacedImagesSkipPassesThatStartBelowThem) {
  GifDecoder g;
  auto data = GifWriter().header("GIF89a", 1, 3, 2, true).image(0, 0, 1, 3, 0x40, 2, {0, 1, 2}).out;
  ASSERT_EQ(decode(g, data), 0);
  EXPECT_EQ(at(g, 0, 0).r, 0);
  EXPECT_EQ(at(g, 0, 2).r, 10);  // pass 3 of 8-row images starts at row 2
  EXPECT_EQ(at(g, 0, 1).r, 20);
}

// Which index is transparent, by what comes before the image. (Where each
// pixel and colour lands, interlaced or not: against giflib below.)
TEST(Gif, TransparencyComesFromTheControlBlockOrElseTheLastGlobalEntry) {
  struct Case {
    const char* what;
    std::vector<uint8_t> before;  // blocks before the image
    int transparent;              // -1: none
  };
  const std::vector<Case> cases = {
      {"no control block", {}, 3},
      {"control block, opaque", {0x21, 0xF9, 0x04, 0x00, 0x00, 0x00, 0x03, 0x00}, -1},
      {"control block naming 1", {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, 0x01, 0x00}, 1},
      {"longer control block naming 0", {0x21, 0xF9, 0x06, 0x01, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0x00}, 0},
      {"the last control block counts",
       {0x21, 0xF9, 0x04, 0x01, 0, 0, 0x01, 0x00, 0x21, 0xF9, 0x04, 0x01, 0, 0, 0x02, 0x00},
       2},
      {"a control block too short is ignored", {0x21, 0xF9, 0x02, 0x01, 0x00, 0x00}, 3},
  };
  for (const Case& c : cases) {
    GifWriter w;
    w.header("GIF89a", 4, 1, 2, true);
    w.out.insert(w.out.end(), c.before.begin(), c.before.end());
    w.image(0, 0, 4, 1, 0, 2, {0, 1, 2, 3});
    GifDecoder g;
    ASSERT_EQ(decode(g, w.out), 0) << c.what;
    ASSERT_EQ(gifWidth(g), 4) << c.what;
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(at(g, x, 0).a, x == c.transparent ? 0 : 255) << c.what << ", index " << x;
      EXPECT_EQ(at(g, x, 0).r, 10 * x) << c.what;  // the colour stays
    }
  }
}

// Extensions are passed over by their sub-blocks, however many; only the
// first image is read; an unknown block ends the picture with what was drawn.
TEST(Gif, ExtensionsArePassedOverWhateverTheirLength) {
  std::vector<uint8_t> manyBlocks = {0x21, 0xFF, 0x0B, 'I', 'M', 'A', 'G', 'E', 'E', 'D', 'I', 'T', '1', '0'};
  for (int k = 0; k < 5; ++k) manyBlocks.insert(manyBlocks.end(), {0x03, 1, 2, 3});
  manyBlocks.push_back(0x00);
  std::vector<uint8_t> longComment = {0x21, 0xFE};
  for (int k = 0; k < 3; ++k) {
    longComment.push_back(0xFF);
    longComment.insert(longComment.end(), 255, 'c');
  }
  longComment.push_back(0x00);
  const std::vector<std::vector<uint8_t>> extensions = {
      {0x21, 0xFE, 0x03, 'a', 'b', 'c', 0x00},
      {0x21, 0xFF, 0x0B, 'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0', 0x03, 0x01, 0x00, 0x00, 0x00},
      manyBlocks,
      longComment,
      {0x21, 0x01, 0x0C, 0, 0, 0, 0, 4, 0, 1, 0, 8, 8, 1, 0, 0x02, 'h', 'i', 0x00},  // plain text
      {0x21, 0x7F, 0x00},                                                            // unknown label, no data
  };
  for (size_t i = 0; i < extensions.size(); ++i) {
    GifWriter w;
    w.header("GIF89a", 2, 1, 2, true);
    w.out.insert(w.out.end(), extensions[i].begin(), extensions[i].end());
    w.image(0, 0, 2, 1, 0, 2, {0, 1});
    w.image(0, 0, 2, 1, 0, 2, {2, 2});  // a second frame
    GifDecoder g;
    ASSERT_EQ(decode(g, w.out), 0) << i;
    ASSERT_EQ(gifWidth(g), 2) << i;
    EXPECT_EQ(at(g, 0, 0), (Pixel{200, 100, 0, 255})) << i;
    EXPECT_EQ(at(g, 1, 0).r, 10) << i;
  }
  GifDecoder g;
  auto strange = GifWriter().header("GIF89a", 2, 1, 2, true).image(0, 0, 2, 1, 0, 2, {0, 1}).bytes({0x99, 0x2C}).out;
  ASSERT_EQ(decode(g, strange), 0);
  EXPECT_EQ(gifWidth(g), 2);
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

// The image's data ends at its empty block even without an end code: what
// follows (here bytes that would read as more codes) is not part of it.
TEST(Gif, TheImageEndsAtItsEmptyBlock) {
  GifDecoder g;
  // Codes clear and 1 at three bits and two bits over, the empty block, then a
  // would-be block of more codes.
  auto data = GifWriter()
                  .header("GIF89a", 8, 1, 2, true)
                  .bytes({0x2C, 0, 0, 0, 0, 8, 0, 1, 0, 0x00, 0x02, 0x01, 0x4C, 0x00, 0x01, 0x48, 0x00, 0x3B})
                  .out;
  ASSERT_EQ(decode(g, data), 0);
  ASSERT_EQ(gifWidth(g), 8);
  for (int x = 0; x < 8; ++x) EXPECT_EQ(at(g, x, 0).a, x < 1 ? 255 : 0) << x;
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

std::vector<uint8_t> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Every pixel as giflib reads it: its colour, and transparent exactly where
// the control block says (or, without one, at the last entry of the global
// table).
void expectEqualToGiflib(const std::vector<uint8_t>& data, const std::string& name) {
  int w, h;
  std::vector<GifColorType> palette;
  test::GiflibControl control;
  auto ref = test::giflibFirstFrame(data, w, h, palette, &control);
  int transparent = control.present ? control.transparent : control.globalColours - 1;
  GifDecoder g;
  ASSERT_EQ(decode(g, data), 0) << name;
  ASSERT_EQ(gifWidth(g), w) << name;
  ASSERT_EQ(gifHeight(g), h) << name;
  int opaque = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int index = ref[static_cast<size_t>(y * w + x)];
      const GifColorType& colour = palette[static_cast<size_t>(index)];
      Pixel p = at(g, x, y);
      ASSERT_EQ(p, (Pixel{colour.Blue, colour.Green, colour.Red, uint8_t(index == transparent ? 0 : 255)}))
          << name << " at " << x << "," << y;
      opaque += p.a == 255;
    }
  EXPECT_GT(opaque, 0) << name;
}

// On pictures that image tools wrote.
TEST(Gif, EqualToGiflibOnFilesToolsWrote) {
  for (const char* name : {"bw_opaque", "transparent", "comment", "netscape", "interlaced", "xmp", "netpbm_comment",
                           "netpbm_transparent"}) {
    auto data = readFile(std::string(OKT_TEST_GIFS) + "/" + name + ".gif");
    ASSERT_FALSE(data.empty()) << name;
    expectEqualToGiflib(data, name);
  }
}

// On pictures giflib wrote, of several sizes and palettes, interlaced or not.
TEST(Gif, EqualToGiflib) {
  struct Case {
    int w, h, colours;
    bool interlaced;
  };
  for (Case c : {Case{16, 12, 2, false}, Case{33, 20, 4, false}, Case{64, 48, 16, true}, Case{100, 77, 256, false},
                 Case{120, 9, 256, true}, Case{7, 300, 32, true}}) {
    test::GifOptions o;
    o.width = c.w, o.height = c.h, o.colours = c.colours, o.interlaced = c.interlaced;
    expectEqualToGiflib(test::makeGif(o), std::to_string(c.w) + "x" + std::to_string(c.h));
  }
}

}  // namespace
}  // namespace okt
