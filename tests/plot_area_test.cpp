// Plot dimension calculator: circular and rectangular plots, slope and unit handling.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "xylotrak.h"

namespace {

struct Plot {
  double area, length1, length2;
};

struct Options {
  double slope1 = 0, slope2 = 0;
  int correction = 0, rectangular = 0, unitScale = 0, areaUnit = 0;
};

Plot calc(double area, double length1, double length2, Options o = {}) {
  Plot p{-7, -7, -7};
  EXPECT_EQ(CalcAreaDll(area, length1, length2, o.slope1, o.slope2, o.correction, o.rectangular,
                        o.unitScale, o.areaUnit, &p.area, &p.length1, &p.length2),
            1);
  return p;
}

const double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kRadius400 = 11.283791670955125;
constexpr double kRadius400On60 = 15.957691216057306;

TEST(PlotArea, CircularPlot) {
  const Plot p = calc(400, 3, -8);
  EXPECT_EQ(p.length1, kRadius400) << "a given area replaces the radius";
  EXPECT_EQ(p.area, 400.0);
  EXPECT_EQ(p.length2, 8.0);
  EXPECT_EQ(calc(0, -10, 0, {.areaUnit = 1}).area, 0.031415926535897934);
  EXPECT_EQ(calc(0, -10, 0, {.areaUnit = 1}).length1, 10.0);
  EXPECT_EQ(calc(-5, 0, 0).area, -5.0);
  EXPECT_TRUE(std::isnan(calc(kNaN, 0, 0).area));
}

TEST(PlotArea, SlopeCorrectionNeedsBothAnglesBelowNinety) {
  EXPECT_EQ(calc(400, 0, 0, {.slope1 = 60, .correction = 1}).length1, kRadius400On60);
  EXPECT_EQ(calc(400, 0, 0, {.slope1 = -60, .correction = 1}).length1, kRadius400On60);
  EXPECT_EQ(calc(400, 0, 0, {.slope1 = 60}).length1, kRadius400) << "correction off";
  for (double off : {95.0, 90.0, -90.0, kNaN}) {
    EXPECT_EQ(calc(400, 0, 0, {.slope1 = 60, .slope2 = off, .correction = 1}).length1, kRadius400);
    EXPECT_EQ(calc(400, 0, 0, {.slope1 = off, .correction = 1}).length1, kRadius400);
  }
  const Plot slopes = calc(
      0, 20, 30, {.slope1 = 60, .slope2 = 60, .correction = 1, .rectangular = 1, .areaUnit = 1});
  EXPECT_NEAR(slopes.area, 0.015, 1e-17) << "each side halved";
}

TEST(PlotArea, RectangularPlot) {
  const Options ha{.rectangular = 1, .areaUnit = 1};
  EXPECT_EQ(calc(0, 20, -30, ha).area, 0.06);
  EXPECT_EQ(calc(0.06, 20, 99, ha).length2, 30.0) << "the given second side is replaced";
  EXPECT_EQ(calc(0.06, 0, 30, ha).length1, 20.0);
  const Plot echo = calc(0.06, 0, -0.0, ha);
  EXPECT_EQ(echo.area, 0.06);
  EXPECT_EQ(echo.length1, 0.0);
  EXPECT_EQ(echo.length2, 0.0);
  EXPECT_EQ(calc(0, 20, 0, ha).area, 0.0) << "one side and no area determine nothing";
}

TEST(PlotArea, ConversionFactor) {
  const double square = calc(0, 10, 0).area;
  EXPECT_EQ(square, 100 * 3.141592653589793);
  EXPECT_EQ(calc(0, 10, 0, {.areaUnit = 3}).area, square);
  EXPECT_EQ(calc(0, 10, 0, {.areaUnit = 2}).area, square / 100);
  EXPECT_EQ(calc(0, 10, 0, {.unitScale = 5, .areaUnit = 1}).area, square / 100000000);
  EXPECT_EQ(calc(0, 10, 0, {.unitScale = 4}).area, square);
}

TEST(PlotArea, OnlyTheLowSixteenBitsOfFlagsAndCodesCount) {
  EXPECT_EQ(calc(400, 0, 0, {.slope1 = 60, .correction = 65537}).length1, kRadius400On60);
  EXPECT_EQ(calc(400, 0, 0, {.slope1 = 60, .correction = 65536}).length1, kRadius400);
  EXPECT_EQ(calc(0, 20, 30, {.rectangular = 65537, .areaUnit = 1}).area, 0.06);
  EXPECT_EQ(calc(0, 10, 0, {.rectangular = 65536, .areaUnit = 65537}).area,
            calc(0, 10, 0, {.areaUnit = 1}).area);
  EXPECT_EQ(calc(0, 10, 0, {.unitScale = 65537}).area, calc(0, 10, 0).area) << "reads 1";
  EXPECT_EQ(calc(0, 10, 0, {.unitScale = 65536 + 5}).area, calc(0, 10, 0, {.unitScale = 5}).area);
}

TEST(PlotArea, NullOutputsAreSkipped) {
  double area = 0;
  EXPECT_EQ(CalcAreaDll(0, 10, 0, 0, 0, 0, 0, 0, 1, &area, nullptr, nullptr), 1);
  EXPECT_EQ(area, 0.031415926535897934);
  // Without an area output the lengths are still written, for circles and
  // rectangles, whether the area is given or worked out.
  double l1 = 0, l2 = 0;
  EXPECT_EQ(CalcAreaDll(0, 10, 0, 0, 0, 0, 0, 0, 1, nullptr, &l1, &l2), 1);
  EXPECT_EQ(l1, 10.0);
  EXPECT_EQ(CalcAreaDll(500, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, &l1, &l2), 1);
  EXPECT_EQ(l1, calc(500, 0, 0).length1);
  EXPECT_EQ(CalcAreaDll(600, 20, 0, 10, 10, 1, 1, 0, 0, nullptr, &l1, &l2), 1);
  EXPECT_EQ(
      l2,
      calc(600, 20, 0, {.slope1 = 10, .slope2 = 10, .correction = 1, .rectangular = 1}).length2);
  EXPECT_EQ(CalcAreaDll(0, 0, 0, 0, 0, 0, 1, 0, 0, nullptr, nullptr, nullptr), 1);
}

// Swiss National Forest Inventory (200 and 500 m^2 circles), Hungarian National Forest
// Inventory (12.616 m, 3 m and 7 m radii), and the common 0.1 ha plot of 17.84 m.
TEST(PlotArea, PublishedPlotRadii) {
  EXPECT_NEAR(calc(200, 0, 0).length1, 7.98, 0.005);
  EXPECT_NEAR(calc(500, 0, 0).length1, 12.62, 0.005);
  EXPECT_NEAR(calc(0.1, 0, 0, {.areaUnit = 1}).length1, 17.84, 0.005);
  EXPECT_NEAR(calc(0, 12.616, 0).area, 500, 0.05);
  EXPECT_NEAR(calc(0, 3, 0).area, 28.274, 5e-4);
  EXPECT_NEAR(calc(0, 7, 0).area, 153.938, 5e-4);
}

}  // namespace
