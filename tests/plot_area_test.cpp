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

// The slope factor of an angle, computed at run time by the C library's cos
// as the calculator's is (the compiler might fold a constant angle with a cos
// of its own, which need not round the same way).
double slopeFactor(double degrees) {
  volatile double angle = degrees;
  return std::cos(std::fabs(angle) * 0.017453292519943295);
}
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

// On sloping ground each side is reduced by the cosine of its own slope: the
// horizontal rectangle (L1 c1) x (L2 c2) always covers the given area, whichever
// side is worked out.
TEST(PlotArea, RectangleOnSlopesCoversTheGivenArea) {
  const double angles[][2] = {{60, 0}, {0, 60}, {25, 40}, {-35, 10}, {12.5, -71}};
  for (const auto &a : angles) {
    SCOPED_TRACE(::testing::Message() << a[0] << " " << a[1]);
    const Options o{
        .slope1 = a[0], .slope2 = a[1], .correction = 1, .rectangular = 1, .areaUnit = 1};
    const double c1 = slopeFactor(a[0]), c2 = slopeFactor(a[1]);
    const double side1 = calc(0.06, 0, 30, o).length1;
    EXPECT_NEAR((side1 * c1) * (30 * c2), 600, 1e-10) << "side 1 from the area and side 2";
    const double side2 = calc(0.06, 20, 0, o).length2;
    EXPECT_NEAR((20 * c1) * (side2 * c2), 600, 1e-10) << "side 2 from the area and side 1";
    EXPECT_NEAR(calc(0, side1, 30, o).area, 0.06, 1e-15) << "and back to the area";
  }
  // 0.06 ha with a 30 m second side on level ground: a first side of 40 m
  // measured along a 60 degree slope (cos 60 = 1/2).
  EXPECT_NEAR(
      calc(0.06, 0, 30, {.slope1 = 60, .correction = 1, .rectangular = 1, .areaUnit = 1}).length1,
      40, 1e-12);
}

// The sides worked out from an area divide by the slope factors in a fixed
// order, which fixes their last bit: L2 = ((F area) / (L1 c1)) / c2 and
// L1 = ((F area) / (L2 c2)) / c1. The expectations write that order out.
TEST(PlotArea, RectangleSidesRoundInTheirDocumentedOrder) {
  const double angles[][2] = {{25, 40}, {40, 25}, {12.5, 71}, {33, 17}, {5, 85}, {59, 61}};
  const double areas[] = {0.06, 0.1, 0.0437};
  const double sides[] = {30, 17.3, 41.9};
  int ordersDiffer = 0;
  for (const auto &a : angles) {
    const double c1 = slopeFactor(a[0]), c2 = slopeFactor(a[1]);
    const Options o{
        .slope1 = a[0], .slope2 = a[1], .correction = 1, .rectangular = 1, .areaUnit = 1};
    for (double area : areas) {
      for (double side : sides) {
        SCOPED_TRACE(::testing::Message() << a[0] << " " << a[1] << " " << area << " " << side);
        const double fa = 10000 * area;
        const double side1 = calc(area, 0, side, o).length1;
        EXPECT_EQ(side1, (fa / (side * c2)) / c1);
        EXPECT_EQ(calc(area, side, 0, o).length2, (fa / (side * c1)) / c2);
        // Dividing by the factors in another order gives other bits for some
        // of these cases; without such cases the checks above would prove nothing.
        ordersDiffer += side1 != (fa / c1) / (side * c2);
        ordersDiffer += side1 != fa / ((side * c2) * c1);
      }
    }
  }
  EXPECT_GT(ordersDiffer, 5);
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
