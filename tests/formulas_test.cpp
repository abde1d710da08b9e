// Basal area, mean diameter and log volume formulas, and their slot-7 counts.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "xylotrak.h"
#ifndef _WIN32
#include <dlfcn.h>
#endif

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// Slot-7 entries made while running f (the counter wraps at 32 bits).
template <class F>
std::uint32_t slot7Entries(F f) {
  const auto before = static_cast<std::uint32_t>(tally_count(7));
  f();
  return static_cast<std::uint32_t>(tally_count(7)) - before;
}

// The end-diameter formulas as (d1, d2, length) functions.
using EndFormula = double (*)(double, double, double);
double newtonMidMean(double d1, double d2, double l) { return VTNwDll(d1, (d1 + d2) / 2, d2, l); }
const EndFormula kEndFormulas[] = {VTSmDll, VTNeDll, VTCoDll, newtonMidMean};

TEST(BasalArea, ValuesAndArgumentTest) {
  EXPECT_EQ(gDll(20), 0.031415926535897934);
  EXPECT_EQ(gDll(9), 0.0063617251235193305) << "(81 * pi) / 40000, not 81 * (pi / 40000)";
  EXPECT_EQ(gDll(0), 0.0);
  EXPECT_EQ(gDll(-0.0), 0.0);
  EXPECT_EQ(gDll(kInf), kInf);
  EXPECT_EQ(gDll(-1e-300), -1.0);
  EXPECT_EQ(gDll(kNaN), -1.0);
}

TEST(MeanDiameter, InvertsTheBasalAreaOfTheMeanTree) {
  for (double d : {0.5, 7.0, 21.7, 63.25}) {
    for (double n : {1.0, 25.0, 494.1}) EXPECT_NEAR(dgDll(n * gDll(d), n), d, d * 1e-15);
  }
  EXPECT_TRUE(std::isnan(dgDll(0, 0)));
  EXPECT_EQ(dgDll(1, 0), kInf);
  EXPECT_EQ(dgDll(-1, 5), -1.0);
  EXPECT_EQ(dgDll(1, -5), -1.0);
  EXPECT_EQ(dgDll(kNaN, 5), -1.0);
}

TEST(LogVolume, EveryArgumentIsTested) {
  for (double bad : {-1.0, kNaN}) {
    EXPECT_EQ(VTHuDll(bad, 5), -1.0);
    EXPECT_EQ(VTHuDll(30, bad), -1.0);
    EXPECT_EQ(VTNwDll(bad, 27, 29, 5), -1.0);
    EXPECT_EQ(VTNwDll(25, bad, 29, 5), -1.0);
    EXPECT_EQ(VTNwDll(25, 27, bad, 5), -1.0);
    EXPECT_EQ(VTNwDll(25, 27, 29, bad), -1.0);
    for (EndFormula v : {VTSmDll, VTNeDll, VTCoDll}) {
      EXPECT_EQ(v(bad, 29, 5), -1.0);
      EXPECT_EQ(v(25, bad, 5), -1.0);
      EXPECT_EQ(v(25, 29, bad), -1.0);
    }
  }
  for (EndFormula v : kEndFormulas) EXPECT_EQ(v(25, 29, 0), 0.0);
}

TEST(LogVolume, EqualEndsGiveTheCylinderAndEndsAreInterchangeable) {
  for (double d : {0.8, 25.0, 47.3}) {
    const double cylinder = VTCiDll(d, 4.3);
    for (EndFormula v : kEndFormulas) EXPECT_NEAR(v(d, d, 4.3), cylinder, cylinder * 1e-14);
  }
  for (EndFormula v : kEndFormulas) {
    const double forward = v(12.5, 41.0, 6);
    EXPECT_NEAR(v(41.0, 12.5, 6), forward, forward * 1e-14);
    EXPECT_GT(forward, VTCiDll(12.5, 6));  // lies between the end cylinders
    EXPECT_LT(forward, VTCiDll(41.0, 6));
  }
}

// D. R. Larsen, University of Missouri, "Forestry Functions: Cubic Log Volume": a 5 m log with
// end diameters 25 and 29 cm. Newton with the mean mid diameter is exact for the cone frustum
// and Huber takes that mid diameter (Husch, Beers & Kershaw; Avery & Burkhart).
TEST(LogVolume, PublishedLogVolumes) {
  EXPECT_NEAR(VTSmDll(25, 29, 5), 0.287848, 5e-7);
  EXPECT_NEAR(VTCoDll(25, 29, 5), 0.286801, 5e-7);
  EXPECT_NEAR(VTNeDll(29, 25, 5), 0.286452, 5e-7);
  EXPECT_NEAR(VTNwDll(25, 27, 29, 5), 0.286801, 5e-7);
  EXPECT_NEAR(VTHuDll(27, 5), 0.286278, 5e-7);
}

// Same site (basal area and quadratic mean diameter pages); Brack & Wood, Forest Mensuration.
// Hosts compare these volumes bit for bit, so each formula must round as its
// documented order of evaluation does. The expectations below write that order
// out again, on the basal areas of gDll (whose bits are checked above); the
// neiloid's cube roots are pow with the double nearest 1/3, not cbrt.
TEST(LogVolume, EachFormulaRoundsInItsDocumentedOrder) {
  const double third = 0.3333333333333333;
  const double diameters[][3] = {{25, 27, 29},       {29, 27, 25},    {12.5, 30, 41},
                                 {7.3, 8.1, 9.9},    {0.8, 0.9, 1.1}, {47.3, 51.05, 54.8},
                                 {63.25, 40, 18.75}, {33, 33, 33}};
  int cubeRootsDiffer = 0;
  for (const auto &d : diameters) {
    for (double length : {5.0, 2.7, 0.35}) {
      SCOPED_TRACE(::testing::Message() << d[0] << " " << d[1] << " " << d[2] << " " << length);
      const double g1 = gDll(d[0]), gm = gDll(d[1]), g2 = gDll(d[2]);
      EXPECT_EQ(VTHuDll(d[1], length), gm * length);
      EXPECT_EQ(VTSmDll(d[0], d[2], length), ((g2 + g1) * 0.5) * length);
      EXPECT_EQ(VTNwDll(d[0], d[1], d[2], length), ((g2 + (4 * gm + g1)) / 6) * length);
      EXPECT_EQ(VTCoDll(d[0], d[2], length), ((std::sqrt(g2 * g1) + (g2 + g1)) / 3) * length);
      const double a = g1 * g1 * g2, b = g2 * g1 * g2;
      EXPECT_EQ(VTNeDll(d[0], d[2], length),
                (((std::pow(a, third) + g1) + std::pow(b, third)) + g2) * 0.25 * length);
      const double withCbrt = (((std::cbrt(a) + g1) + std::cbrt(b)) + g2) * 0.25 * length;
      cubeRootsDiffer += withCbrt != VTNeDll(d[0], d[2], length);
    }
  }
  // The cases must tell the two cube roots apart, or the check above proves nothing.
  EXPECT_GT(cubeRootsDiffer, 3);
}

TEST(MeanDiameter, PublishedStandValues) {
  EXPECT_NEAR(dgDll(18.3, 494.1), 21.716, 5e-4);
  double perHectare = 0;
  for (double d : {8, 6, 8, 5, 4, 6, 7}) perHectare += gDll(d) * 25;
  EXPECT_NEAR(perHectare, 0.5694, 5e-5);
}

TEST(LogVolume, HuberAndCylinderAreOneEntryPoint) {
  for (double d : {0.0, 27.0, kInf, -3.0}) EXPECT_EQ(VTCiDll(d, 5), VTHuDll(d, 5));
#ifndef _WIN32
  // Within this executable both names are PLT stubs; a host looks them up in the library.
  void *lib = dlopen(XYLOTRAK_LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(lib, nullptr) << dlerror();
  void *huber = dlsym(lib, "VTHuDll");
  EXPECT_NE(huber, nullptr);
  EXPECT_EQ(dlsym(lib, "VTCiDll"), huber);
  EXPECT_NE(dlsym(lib, "VTSmDll"), huber);
  dlclose(lib);
#endif
}

TEST(FormulaAccounting, EachBasalAreaIsACountedCall) {
  EXPECT_EQ(slot7Entries([] { gDll(3); }), 1u);
  EXPECT_EQ(tally_status(7), -1);
  EXPECT_EQ(slot7Entries([] { dgDll(1, 3); }), 1u);
  EXPECT_EQ(slot7Entries([] { VTHuDll(3, 1); }), 2u);
  EXPECT_EQ(slot7Entries([] { VTCiDll(3, 1); }), 2u);
  EXPECT_EQ(slot7Entries([] { VTSmDll(3, 4, 1); }), 3u);
  EXPECT_EQ(slot7Entries([] { VTNwDll(3, 4, 5, 1); }), 4u);
  EXPECT_EQ(slot7Entries([] { VTNeDll(3, 4, 1); }), 3u);
  EXPECT_EQ(slot7Entries([] { VTCoDll(3, 4, 1); }), 3u);
  EXPECT_EQ(slot7Entries([] {
              gDll(-1);
              dgDll(kNaN, 1);
              VTNwDll(3, 4, 5, -1);
              double a, l1, l2;
              CalcAreaDll(400, 0, 0, 0, 0, 0, 0, 0, 0, &a, &l1, &l2);
            }),
            0u)
      << "rejected calls and the plot calculator are not counted";
}

TEST(FormulaAccounting, SlotSevenIgnoresStopAndStart) {
  gDll(1);
  EXPECT_EQ(tally_stop(), -2);
  EXPECT_EQ(slot7Entries([] { VTSmDll(3, 4, 1); }), 3u);
  EXPECT_EQ(tally_status(7), -1);
  EXPECT_EQ(slot7Entries([] { EXPECT_EQ(tally_start(), 0); }), 0u) << "not cleared";
  EXPECT_EQ(tally_status(7), -1);
}

}  // namespace
