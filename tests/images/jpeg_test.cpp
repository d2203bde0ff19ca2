#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "images/jpeg_decoder.h"
#include "picture_makers.h"

namespace okt {
namespace {

using test::JpegOptions;
using test::makeJpeg;

class Jpeg : public ::testing::Test {
 protected:
  JpegResult decode(const std::vector<uint8_t>& data) {
    jpegInit(*ctx);
    return jpegDecode(*ctx, data.data(), static_cast<uint32_t>(data.size()));
  }
  std::unique_ptr<JpegContext> ctx = std::make_unique<JpegContext>();
};

TEST_F(Jpeg, SignatureIsChecked) {
  EXPECT_EQ(decode({}), NotJpeg);
  EXPECT_EQ(decode({0xFF}), NotJpeg);
  EXPECT_EQ(decode({0xFF, 0xD9, 0, 0}), NotJpeg);
  EXPECT_EQ(decode({0xFF, 0xD8}), SyntaxError);  // nothing after the start
}

TEST_F(Jpeg, UnsupportedVariantsAreRefused) {
  JpegOptions progressive;
  progressive.progressive = true;
  EXPECT_EQ(decode(makeJpeg(progressive)), Unsupported);

  // One byte changed, at an offset from the first marker of its kind.
  const auto base = makeJpeg({});
  struct Mutation {
    const char* name;
    uint8_t marker;
    long at;
    uint8_t value;
    JpegResult result;
  };
  const Mutation mutations[] = {
      {"12-bit samples", 0xC0, 4, 12, Unsupported},
      {"two components", 0xC0, 9, 2, Unsupported},
      {"four components", 0xC0, 9, 4, Unsupported},
      {"sampling factor 3", 0xC0, 11, 0x32, Unsupported},
      {"sampling factor 0", 0xC0, 11, 0x02, SyntaxError},
      {"quantisation table 4", 0xC0, 12, 4, SyntaxError},
      {"height 0", 0xC0, 6, 0, SyntaxError},  // 48: its high byte is 0 already
      {"extended sequential frame", 0xC0, 1, 0xC1, Unsupported},
      {"a scan holding one component of three", 0xDA, 4, 1, Unsupported},
      {"spectral end 5", 0xDA, 12, 5, Unsupported},
      {"DC table 2", 0xC4, 4, 0x02, Unsupported},
      {"16-bit quantisers", 0xDB, 4, 0x10, SyntaxError},
  };
  for (const Mutation& m : mutations) {
    long marker = test::findMarker(base, m.marker);
    ASSERT_GT(marker, 0) << m.name;
    auto bad = base;
    bad[static_cast<size_t>(marker + m.at)] = m.value;
    EXPECT_EQ(decode(bad), m.result) << m.name;
  }
}

TEST_F(Jpeg, TooSmallChromaIsRefusedAndJustEnoughDecodes) {
  JpegOptions tiny;
  tiny.width = 4;
  tiny.height = 8;
  EXPECT_EQ(decode(makeJpeg(tiny)), Unsupported);  // chroma 2 samples wide
  tiny.width = tiny.height = 5;
  EXPECT_EQ(decode(makeJpeg(tiny)), Ok);  // chroma 3 x 3
  EXPECT_EQ(jpegWidth(*ctx), 5);
  EXPECT_EQ(jpegHeight(*ctx), 5);
  EXPECT_EQ(jpegImageSize(*ctx), 75);
}

TEST_F(Jpeg, GreyWithSamplingFactorsDecodesCompact) {
  JpegOptions grey;
  grey.components = 1;
  grey.width = 37;
  grey.height = 21;
  auto data = makeJpeg(grey);
  long sof = test::findMarker(data, 0xC0);
  data[static_cast<size_t>(sof + 11)] = 0x22;  // factors 2 x 2 in the header
  ASSERT_EQ(decode(data), Ok);
  EXPECT_EQ(jpegIsColour(*ctx), 0);
  EXPECT_EQ(jpegImageSize(*ctx), 37 * 21);
  int w, h, c;
  auto ref = test::libjpegDecode(makeJpeg(grey), w, h, c);
  EXPECT_GT(test::psnr(jpegPixels(*ctx), ref.data(), ref.size()), 40.0);  // rows right after each other
}

TEST_F(Jpeg, RestartMarkersMustCountUpAndResetPrediction) {
  JpegOptions o;
  o.restartInterval = 2;
  o.width = 96;
  auto data = makeJpeg(o);
  ASSERT_EQ(decode(data), Ok);
  int w, h, c;
  auto ref = test::libjpegDecode(data, w, h, c);
  EXPECT_GT(test::psnr(jpegPixels(*ctx), ref.data(), ref.size()), 30.0);
  // Renumber the second restart marker.
  int seen = 0;
  for (size_t i = test::findMarker(data, 0xDA); i + 1 < data.size(); ++i)
    if (data[i] == 0xFF && (data[i + 1] & 0xF8) == 0xD0 && ++seen == 2) {
      data[i + 1] = 0xD5;
      break;
    }
  EXPECT_EQ(decode(data), SyntaxError);
}

TEST_F(Jpeg, DataEndingInsideTheScanIsAnError) {
  auto data = makeJpeg({});
  long sos = test::findMarker(data, 0xDA);
  data.resize(static_cast<size_t>(sos) + 40);
  EXPECT_EQ(decode(data), SyntaxError);
}

TEST_F(Jpeg, SegmentsBeforeTheScanAreSkippedAndNothingAfterIsRead) {
  auto data = makeJpeg({});
  std::vector<uint8_t> extra = {0xFF, 0xE5, 0x00, 0x05, 'a', 'b', 'c', 0xFF, 0xFE, 0x00, 0x03, 'z'};
  data.insert(data.begin() + 2, extra.begin(), extra.end());
  data.resize(data.size() - 2);  // no EOI
  EXPECT_EQ(decode(data), Ok);
}

TEST_F(Jpeg, AFlatBlockWithDcSixtyFourGivesOneHundredThirtySix) {
  // One 8 x 8 grey block: DC difference 1 with quantiser 64, no AC.
  auto j = test::flatGreyJpeg(8, 8, 64, true);
  ASSERT_EQ(decode(j), Ok);
  for (int i = 0; i < 64; ++i) ASSERT_EQ(jpegPixels(*ctx)[i], 136) << i;
}

TEST_F(Jpeg, HugePicturesAreRefusedBeforeAnyAllocation) {
  auto data = makeJpeg({});
  long sof = test::findMarker(data, 0xC0);
  for (int k : {5, 6, 7, 8}) data[static_cast<size_t>(sof + k)] = 0xFF;  // 65535 x 65535
  EXPECT_EQ(decode(data), OutOfMemory);
}

// Against libjpeg-turbo on pictures of several sizes and samplings: close,
// not equal (the upsampling and rounding differ). PSNR is printed.
TEST_F(Jpeg, CloseToLibjpegTurbo) {
  struct Case {
    const char* name;
    JpegOptions o;
    double floor;
  };
  auto opts = [](int w, int h, int comps, int hs, int vs, int rst) {
    JpegOptions o;
    o.width = w, o.height = h, o.components = comps, o.hSamp = hs, o.vSamp = vs, o.restartInterval = rst;
    return o;
  };
  const Case cases[] = {
      {"4:2:0 64x48", opts(64, 48, 3, 2, 2, 0), 36},
      {"4:2:0 333x177", opts(333, 177, 3, 2, 2, 0), 38},
      {"4:2:2 120x90", opts(120, 90, 3, 2, 1, 0), 38},
      {"4:4:4 101x67", opts(101, 67, 3, 1, 1, 0), 50},
      {"grey 250x130", opts(250, 130, 1, 1, 1, 0), 55},
      {"4:2:0 restarts 160x120", opts(160, 120, 3, 2, 2, 3), 38},
      {"4:4:4 restarts 40x40", opts(40, 40, 3, 1, 1, 1), 50},
  };
  for (const Case& c : cases) {
    auto data = makeJpeg(c.o);
    ASSERT_EQ(decode(data), Ok) << c.name;
    int w, h, comps;
    auto ref = test::libjpegDecode(data, w, h, comps);
    ASSERT_EQ(jpegWidth(*ctx), w);
    ASSERT_EQ(jpegHeight(*ctx), h);
    ASSERT_EQ(jpegImageSize(*ctx), static_cast<int>(ref.size()));
    double p = test::psnr(jpegPixels(*ctx), ref.data(), ref.size());
    std::printf("  PSNR %-24s %.1f dB\n", c.name, p);
    EXPECT_GT(p, c.floor) << c.name;
  }
}

// The vector loops (SSE2, and AVX2 where the processor has it), the
// shortcuts and the row by row conversion give the bytes of the plain scalar
// way, on clean pictures and on damaged ones (whose
// wild coefficients take the vector transform's way back to scalar).
TEST_F(Jpeg, FastPathsGiveTheReferenceBytes) {
  struct Case {
    int w, h, comps, hs, vs, quality, rst;
  };
  const Case cases[] = {
      {333, 177, 3, 2, 2, 85, 0}, {120, 91, 3, 2, 1, 90, 0}, {101, 67, 3, 1, 1, 100, 0}, {77, 45, 3, 1, 2, 30, 0},
      {250, 130, 1, 1, 1, 85, 0}, {160, 120, 3, 2, 2, 5, 3}, {97, 33, 3, 4, 1, 75, 0},   {35, 70, 3, 1, 4, 75, 2},
      {5, 5, 3, 2, 2, 90, 0},     {19, 300, 3, 2, 2, 50, 0},
  };
  auto ref = std::make_unique<JpegContext>();
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
  int decoded = 0;
  for (const Case& c : cases) {
    JpegOptions o;
    o.width = c.w, o.height = c.h, o.components = c.comps, o.hSamp = c.hs, o.vSamp = c.vs, o.quality = c.quality;
    o.restartInterval = c.rst;
    const auto clean = makeJpeg(o);
    for (int variant = 0; variant < 12; ++variant) {
      auto data = clean;
      for (int flips = 0; flips < (variant ? 3 : 0); ++flips)  // in the scan's half of the file
        data[data.size() / 2 + next() % (data.size() / 2)] ^= static_cast<uint8_t>(1 + next() % 255);
      jpegInit(*ref);
      JpegResult slow = jpegDecodeWith(*ref, data.data(), static_cast<uint32_t>(data.size()), JpegKernels::Reference);
      decoded += slow == Ok;
      for (JpegKernels k : {JpegKernels::Sse2, JpegKernels::Best}) {
        jpegInit(*ctx);
        ASSERT_EQ(jpegDecodeWith(*ctx, data.data(), static_cast<uint32_t>(data.size()), k), slow)
            << c.w << "x" << c.h << " variant " << variant;
        if (slow != Ok) continue;
        ASSERT_EQ(jpegImageSize(*ctx), jpegImageSize(*ref));
        ASSERT_EQ(0, std::memcmp(jpegPixels(*ctx), jpegPixels(*ref), static_cast<size_t>(jpegImageSize(*ref))))
            << c.w << "x" << c.h << " variant " << variant << " kernels " << static_cast<int>(k);
      }
    }
  }
  EXPECT_GT(decoded, 30);
  jpegRelease(*ref);
}

TEST_F(Jpeg, OneContextDecodesOnePictureAfterAnother) {
  JpegOptions grey;
  grey.components = 1;
  auto g = makeJpeg(grey);
  auto colour = makeJpeg({});
  ASSERT_EQ(decode(colour), Ok);
  ASSERT_EQ(decode(g), Ok);
  EXPECT_EQ(jpegIsColour(*ctx), 0);
  ASSERT_EQ(decode({0xFF, 0xD8, 0xFF}), SyntaxError);
  EXPECT_EQ(jpegWidth(*ctx), 0);  // nothing of the last picture is left
  ASSERT_EQ(decode(colour), Ok);
  EXPECT_EQ(jpegIsColour(*ctx), 1);
}

}  // namespace
}  // namespace okt
