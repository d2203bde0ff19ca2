// Where the display sits in the window and how points, targets and the
// keyboard's walk map onto it.
#include <gtest/gtest.h>

#include "shell/display_view.h"

namespace okt {
namespace {

TEST(DisplayBox, FitKeepsTheDevicesShapeCentredAndFillTakesTheArea) {
  struct Case {
    int w, h;
    ScaleMode mode;
    Box expected;
  } cases[] = {
      {450, 553, ScaleMode::Fit, {0, 0, 450, 553}},     // the device's own size
      {900, 553, ScaleMode::Fit, {225, 0, 450, 553}},   // wide: bars left and right
      {450, 1000, ScaleMode::Fit, {0, 223, 450, 553}},  // tall: bars above and below
      {900, 1106, ScaleMode::Fit, {0, 0, 900, 1106}},   // twice the size
      {1, 1000, ScaleMode::Fit, {0, 499, 1, 1}},        // never empty
      {900, 553, ScaleMode::Fill, {0, 0, 900, 553}},
      {0, 553, ScaleMode::Fit, {}},  // no area, no box
      {-5, 10, ScaleMode::Fill, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    EXPECT_EQ(displayBox(c.w, c.h, c.mode), c.expected);
  }
}

TEST(DisplayBox, TheViewIsTheBoxInDevicePixels) {
  EXPECT_EQ(viewFor({10, 20, 450, 553}, 1.0), (ViewRect{0, 0, 450, 553}));
  EXPECT_EQ(viewFor({10, 20, 450, 553}, 2.0), (ViewRect{0, 0, 900, 1106}));
  EXPECT_EQ(viewFor({0, 0, 451, 553}, 1.5), (ViewRect{0, 0, 677, 830}));  // rounded
  EXPECT_EQ(viewFor({0, 0, 100, 100}, 0.0), (ViewRect{0, 0, 100, 100}));  // a ratio of nothing is 1
}

TEST(ViewPixelAt, PointsOfTheBoxBecomeViewPixelsTheBarsAndTheLastRowAndColumnDoNot) {
  Box box{100, 0, 450, 553};
  ViewRect view{0, 0, 900, 1106};  // drawn at twice the pixels
  struct Case {
    double x, y;
    bool inside;
    uint32_t px, py;
  } cases[] = {
      {100, 0, true, 0, 0},        {325, 276.5, true, 450, 553},
      {549, 552, true, 898, 1104}, {549.5, 10, false, 0, 0},  // the view's last column
      {99, 10, false, 0, 0},                                  // the bar on the left
      {560, 10, false, 0, 0},                                 // the bar on the right
      {200, -1, false, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
    auto p = viewPixelAt(box, view, c.x, c.y);
    ASSERT_EQ(p.has_value(), c.inside);
    if (p) {
      EXPECT_EQ(*p, std::make_pair(c.px, c.py));
    }
  }
  // A view not yet redrawn at the box's new size: the point is scaled to the view it has.
  auto stale = viewPixelAt({0, 0, 900, 1106}, {0, 0, 450, 553}, 450, 553);
  ASSERT_TRUE(stale);
  EXPECT_EQ(*stale, std::make_pair(225u, 276u));
  EXPECT_FALSE(viewPixelAt({}, view, 0, 0));
}

TEST(Targets, BoxesAndCentresFollowTheViewUnits) {
  DisplayTarget row{DisplayTarget::Kind::MenuRow, 0, 6144, 65536, 8192, "Buttons"};
  EXPECT_EQ(targetBox({100, 10, 450, 553}, row), (Box{100, 10 + 51, 450, 69}));
  EXPECT_EQ(targetCentre(row), std::make_pair(32768u, 10240u));
  DisplayTarget corner{DisplayTarget::Kind::Button, 65535, 65535, 1, 1, ""};
  EXPECT_EQ(targetCentre(corner), std::make_pair(65535u, 65535u));  // still a point of the view
  EXPECT_EQ(targetBox({0, 0, 450, 553}, corner).width, 1);          // never empty
}

TEST(StepFocus, TheWalkEntersAtEitherEndAndLeavesPastIt) {
  struct Case {
    int current, count;
    bool backwards;
    int expected;
  } cases[] = {
      {-1, 3, false, 0}, {-1, 3, true, 2}, {0, 3, false, 1},   {2, 3, false, -1},
      {0, 3, true, -1},  {1, 3, true, 0},  {-1, 0, false, -1}, {7, 3, false, 0},  // a stale index enters again
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.current << "/" << c.count << (c.backwards ? " back" : ""));
    EXPECT_EQ(stepFocus(c.current, c.count, c.backwards), c.expected);
  }
}

}  // namespace
}  // namespace okt
