#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "images/icons.h"
#include "images/svg_render.h"
#include "support/log_capture.h"

namespace okt {
namespace {

TEST(IconTable, SeventeenSortedRunsEndedByZero) {
  const std::pair<uint32_t, uint32_t> runs[] = {
      {0xFF1000, 54},  {0xFF1400, 172}, {0xFF1800, 60},  {0xFF1C00, 164}, {0xFF2000, 46},  {0xFF2400, 160},
      {0xFF2800, 200}, {0xFF2C00, 99},  {0xFF3000, 132}, {0xFF3200, 60},  {0xFF3400, 190}, {0xFF3800, 170},
      {0xFF3C00, 196}, {0xFF4000, 90},  {0xFF4400, 298}, {0xFF4800, 110}, {0xFF4C00, 70}};
  std::vector<uint32_t> expected;
  for (auto [first, count] : runs)
    for (uint32_t i = 0; i < count; ++i) expected.push_back(first + i);
  std::vector<uint32_t> ids;
  for (int i = 0; kIconTable[i].id != 0; ++i) ids.push_back(kIconTable[i].id);
  EXPECT_EQ(ids, expected);
  // Each run has a theme of its own.
  std::set<std::string> themes;
  size_t k = 0;
  for (; kIconRuns[k].count != 0; ++k) {
    ASSERT_LT(k, std::size(runs));
    EXPECT_EQ(kIconRuns[k].first, runs[k].first);
    EXPECT_EQ(kIconRuns[k].count, runs[k].second);
    EXPECT_TRUE(themes.insert(kIconRuns[k].theme).second) << kIconRuns[k].theme;
  }
  EXPECT_EQ(k, std::size(runs));
}

TEST(IconTable, EveryTextHasTheSameShape) {
  for (int i = 0; kIconTable[i].id != 0; ++i) {
    std::string t = kIconTable[i].text;
    ASSERT_EQ(t.rfind("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\"><g><path fill=\"none\" d=\"M0 "
                      "0h24v24H0z\"/><path ",
                      0),
              0u)
        << i;
    EXPECT_EQ(t.find("width="), std::string::npos);
    EXPECT_EQ(t.find("fill=\"#"), std::string::npos);  // no colour: default black
  }
}

TEST(IconTable, IdsThatDevicesRelyOnKeepTheirDrawing) {
  const std::pair<uint32_t, const char*> fixed[] = {
      {0xFF1004, "bank"}, {0xFF1005, "bank-outline"}, {0xFF142E, "calendar-today"}};
  for (auto [id, name] : fixed) EXPECT_STREQ(iconName(id), name) << std::hex << id;
  EXPECT_STRNE(iconText(0xFF1004), iconText(0xFF1005));
}

// A drawing has one id, or both ids of one pair (the solid and the outlined
// id of a subject drawn only once).
TEST(IconTable, EachDrawingHasOneIdOrOnePair) {
  std::map<std::string, std::vector<uint32_t>> ids;
  for (int i = 0; kIconTable[i].id != 0; ++i) ids[kIconNames[i]].push_back(kIconTable[i].id);
  for (const auto& [name, of] : ids) {
    if (of.size() == 1) continue;
    ASSERT_EQ(of.size(), 2u) << name;
    EXPECT_EQ(of[1], of[0] + 1) << name;
    const IconRun* run = kIconRuns;
    while (run->count != 0 && of[0] >= run->first + run->count) ++run;
    ASSERT_NE(run->count, 0u) << name;
    EXPECT_EQ((of[0] - run->first) % 2, 0u) << name;
  }
}

TEST(RenderIcon, FirstLastAndNumbersThatAreNoIcons) {
  test::LogCapture log;
  EXPECT_TRUE(renderIcon(0xFF1000, 24).has_value());
  EXPECT_TRUE(renderIcon(0xFF4C45, 24).has_value());
  EXPECT_FALSE(renderIcon(0xFF1036, 24).has_value());  // between runs
  EXPECT_FALSE(renderIcon(0xFF4C46, 24).has_value());
  EXPECT_FALSE(renderIcon(0xFFFFFE, 24).has_value());
  EXPECT_FALSE(renderIcon(0, 24).has_value());
  EXPECT_EQ(log.text(), "");  // silently
}

TEST(RenderIcon, IconsAreBlackShapesOfTheWantedSize) {
  int count = 0;
  while (kIconTable[count].id != 0) ++count;
  for (uint32_t width : {24u, 80u}) {
    for (int i = 0; i < count; i += 97) {
      auto icon = renderIcon(kIconTable[i].id, width);
      ASSERT_TRUE(icon.has_value());
      EXPECT_EQ(icon->width, width);
      EXPECT_EQ(icon->height, width);
      size_t covered = 0;
      for (size_t p = 0; p < icon->pixels.size(); p += 4) {
        ASSERT_EQ(icon->pixels[p] | icon->pixels[p + 1] | icon->pixels[p + 2], 0) << i;
        covered += icon->pixels[p + 3] > 0;
      }
      EXPECT_GT(covered, 0u) << i;
      EXPECT_LT(covered, size_t{width} * width) << i;
    }
  }
}

TEST(RenderSvg, TheFramePathAddsNoCoverage) {
  auto frame = renderSvg(
      "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\"><g><path fill=\"none\" d=\"M0 "
      "0h24v24H0z\"/></g></svg>",
      24);
  ASSERT_TRUE(frame.has_value());
  for (size_t p = 3; p < frame->pixels.size(); p += 4) ASSERT_EQ(frame->pixels[p], 0);
}

TEST(RenderSvg, OnlyTheWidthIsAskedForTheHeightFollows) {
  const char* text =
      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"48\" height=\"24\"><rect width=\"48\" height=\"24\" "
      "fill=\"red\"/></svg>";
  std::string before = text;
  auto img = renderSvg(text, 24);
  ASSERT_TRUE(img.has_value());
  EXPECT_EQ(img->width, 24u);
  EXPECT_EQ(img->height, 12u);
  EXPECT_EQ(before, text);
  // Red first: the rasteriser's byte order, straight alpha.
  EXPECT_EQ(img->pixels[0], 255);
  EXPECT_EQ(img->pixels[1], 0);
  EXPECT_EQ(img->pixels[2], 0);
  EXPECT_EQ(img->pixels[3], 255);
}

TEST(RenderSvg, WhatIsNoPictureIsRefused) {
  struct Case {
    const char* text;
    uint32_t width;
    const char* log;
  };
  const Case cases[] = {
      {"not svg at all", 24, "ERROR: Could not open SVG image.\n"},
      {"", 24, "ERROR: Could not open SVG image.\n"},
      {"<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"0\" height=\"10\"/>", 24,
       "ERROR: Could not open SVG image.\n"},
      {"<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 24 24\"/>", 0, ""},
      {"<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 1 1\"/>", 100000,
       "ERROR: Could not alloc image buffer.\n"},
  };
  for (const Case& c : cases) {
    test::LogCapture log;
    EXPECT_FALSE(renderSvg(c.text, c.width).has_value()) << c.text;
    EXPECT_EQ(log.text(), c.log) << c.text;
  }
}

}  // namespace
}  // namespace okt
