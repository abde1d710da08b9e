// Call accounting as seen by a host that has just loaded the library.
#include <gtest/gtest.h>

#include <limits>

#include "fresh_library.h"

namespace {

using xylotrak::testing::FreshLibrary;
using xylotrak::testing::inFreshProcess;
using xylotrak::testing::libraryExports;

constexpr int kCounting = -1, kStopped = -2;

// The cone: profile 1 - h/20 on a 30 cm, 20 m tree.
const double kCoefs[2] = {1, -1};
const double kExps[2] = {0, 1};

double diameter(FreshLibrary &lib, double h) { return lib.PHDiDll(30, 20, kCoefs, kExps, 1, h); }
double heightAt(FreshLibrary &lib, double d) { return lib.PHHiDll(30, 20, kCoefs, kExps, 1, d); }

// Expects statuses and counters of slots 0-7 as given.
void expectSlots(FreshLibrary &lib, const int (&status)[8], const int (&count)[8]) {
  for (int s = 0; s < 8; ++s) {
    EXPECT_EQ(lib.tally_status(s), status[s]) << "status of slot " << s;
    EXPECT_EQ(lib.tally_count(s), count[s]) << "counter of slot " << s;
  }
}

TEST(Accounting, OffAfterLoadUntilTheFirstCall) {
  inFreshProcess([](FreshLibrary &lib) {
    expectSlots(lib, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0});
    diameter(lib, 10);
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, 0}, {0, 0, 0, 1, 0, 0, 0, 0});
    diameter(lib, 5);
    EXPECT_EQ(lib.tally_count(3), 2);
  });
}

TEST(Accounting, StartBeforeAnyCallCountsFromZero) {
  inFreshProcess([](FreshLibrary &lib) {
    EXPECT_EQ(lib.tally_start(), 0);
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, 0}, {0, 0, 0, 0, 0, 0, 0, 0});
  });
}

TEST(Accounting, StopFreezesSlotsZeroToSixAndStartResumes) {
  inFreshProcess([](FreshLibrary &lib) {
    diameter(lib, 1);
    diameter(lib, 2);
    lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 15, 0, 0);
    lib.PHFFDll(kCoefs, kExps, 1);
    lib.PHCTDll(30, 20, kCoefs, kExps, 1, 0, 0, 0, 0, 2.5);
    EXPECT_EQ(lib.tally_stop(), kStopped);
    diameter(lib, 3);
    heightAt(lib, 7);
    lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 0, 0, 0);
    lib.PHFFDll(kCoefs, kExps, 1);
    lib.PHCTDll(30, 20, kCoefs, kExps, 1, 0, 0, 0, 0, 2.5);
    expectSlots(lib, {-2, -2, -2, -2, -2, -2, -2, 0}, {0, 0, 1, 3, 1, 1, 1, 0});
    EXPECT_EQ(lib.tally_stop(), kStopped) << "stopping twice changes nothing";
    EXPECT_EQ(lib.tally_count(3), 3);

    EXPECT_EQ(lib.tally_start(), 0);
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, 0}, {0, 0, 0, 0, 0, 0, 0, 0});
    diameter(lib, 4);
    EXPECT_EQ(lib.tally_count(3), 1);
    EXPECT_EQ(lib.tally_start(), 0) << "a second start clears again";
    EXPECT_EQ(lib.tally_count(3), 0);
  });
}

TEST(Accounting, StopRightAfterLoadKeepsEveryCallUncounted) {
  // Stopped is not Off: the first call does not start the counting.
  inFreshProcess([](FreshLibrary &lib) {
    EXPECT_EQ(lib.tally_stop(), kStopped);
    diameter(lib, 10);
    lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 0, 0, 0);
    expectSlots(lib, {-2, -2, -2, -2, -2, -2, -2, 0}, {0, 0, 0, 0, 0, 0, 0, 0});
  });
}

TEST(Accounting, HeightSearchCountsItsDiameterEvaluations) {
  inFreshProcess([](FreshLibrary &lib) {
    EXPECT_EQ(heightAt(lib, 15), 10.0);  // exact hit at mid-stem: 1 evaluation
    EXPECT_EQ(lib.tally_count(4), 1);
    EXPECT_EQ(lib.tally_count(3), 1);
    EXPECT_EQ(heightAt(lib, 0), 20.0);  // hit at the top after 2 evaluations
    EXPECT_EQ(lib.tally_count(4), 2);
    EXPECT_EQ(lib.tally_count(3), 3);
    heightAt(lib, 7);  // no exact hit: all 100 rounds
    EXPECT_EQ(lib.tally_count(4), 3);
    EXPECT_EQ(lib.tally_count(3), 103);
    heightAt(lib, std::numeric_limits<double>::quiet_NaN());  // leaves at the first comparison
    EXPECT_EQ(lib.tally_count(3), 104);
  });
}

TEST(Accounting, VolumeCountsItselfAndItsSearches) {
  inFreshProcess([](FreshLibrary &lib) {
    lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 0, 0, 0);  // no diameter limit: no search
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, 0}, {0, 0, 1, 0, 0, 0, 0, 0});
    lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 999, 0, 0);  // 999 is no limit
    EXPECT_EQ(lib.tally_count(4), 0);
    lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 15, 7, 0);  // 1 + 100 evaluations
    EXPECT_EQ(lib.tally_count(2), 3);
    EXPECT_EQ(lib.tally_count(4), 2);
    EXPECT_EQ(lib.tally_count(3), 101);
    // A negative term count answers 0, but only after the searches ran.
    EXPECT_EQ(lib.PHViDll(30, 20, kCoefs, kExps, 65535, 0, 0, 0, 7, 0), 0.0);
    EXPECT_EQ(lib.tally_count(4), 3);
  });
}

TEST(Accounting, LogCountAndFormFactorSlots) {
  inFreshProcess([](FreshLibrary &lib) {
    EXPECT_EQ(lib.PHCTDll(30, 20, kCoefs, kExps, 1, 0.3, 0, 0, 7, 2.5), 6);
    EXPECT_EQ(lib.PHCTDll(30, 20, kCoefs, kExps, 1, 0.5, 5.5, 0, 0, 2.5), 2);
    lib.PHFFDll(kCoefs, kExps, 1);
    lib.PHFFDll(kCoefs, kExps, -1);  // answered 0, still counted
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, 0}, {0, 0, 0, 100, 1, 2, 2, 0});
  });
}

TEST(Accounting, IndexIsReadAsSixteenBitsAndBoundedToTheBlock) {
  inFreshProcess([](FreshLibrary &lib) {
    diameter(lib, 1);
    diameter(lib, 2);
    diameter(lib, 3);
    EXPECT_EQ(lib.tally_count(65539), 3) << "65539 reads as 3";
    EXPECT_EQ(lib.tally_status(65539), kCounting);
    EXPECT_EQ(lib.tally_count(-65533), 3) << "0xFFFF0003 reads as 3";
    EXPECT_EQ(lib.tally_status(65536), kCounting) << "65536 reads as 0";
    for (int index : {9, 10, 100, 32767, -1, 65535, -32768, 32768, 65545}) {
      EXPECT_EQ(lib.tally_status(index), 0) << "index " << index;
      EXPECT_EQ(lib.tally_count(index), 0) << "index " << index;
    }
  });
}

}  // namespace

// A host function with the name of an export. This binary exports it
// dynamically, so a library that bound its inner calls through the dynamic
// symbol table would call it instead of its own PHHiDll.
int g_hostHeightCalls = 0;
extern "C" __attribute__((visibility("default"))) double PHHiDll(double, double, const double *,
                                                                 const double *, int, double) {
  ++g_hostHeightCalls;
  return -1;
}

namespace {

TEST(Accounting, InnerCallsReachTheLibrarysOwnExports) {
  inFreshProcess([](FreshLibrary &lib) {
    const double v = lib.PHViDll(30, 20, kCoefs, kExps, 1, 0, 0, 15, 0, 0);
    EXPECT_NEAR(v, 0.01875 * 3.141592653589793, 1e-14);
    EXPECT_EQ(g_hostHeightCalls, 0);
    EXPECT_EQ(lib.tally_count(4), 1);
  });
}

// The slot-7 scenarios need the basic formulas; they run once gDll is exported.
class FormulaAccounting : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!libraryExports("gDll")) GTEST_SKIP() << "the library does not export gDll yet";
  }
};

TEST_F(FormulaAccounting, FirstFormulaCallRunsTheCommonInitialisationOnce) {
  inFreshProcess([](FreshLibrary &lib) {
    EXPECT_EQ(lib.gDll(-1), -1.0);  // rejected before the accounting
    expectSlots(lib, {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0});
    lib.gDll(20);
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, -1}, {0, 0, 0, 0, 0, 0, 0, 1});
    diameter(lib, 10);
    lib.gDll(20);
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, -1}, {0, 0, 0, 1, 0, 0, 0, 2});
    lib.gDll(-1);
    EXPECT_EQ(lib.tally_count(7), 2);
  });
}

TEST_F(FormulaAccounting, FirstFormulaCallAfterTaperCallsRestartsSlotsZeroToSix) {
  inFreshProcess([](FreshLibrary &lib) {
    diameter(lib, 1);
    diameter(lib, 2);
    EXPECT_EQ(lib.tally_stop(), kStopped);
    lib.gDll(20);
    expectSlots(lib, {-1, -1, -1, -1, -1, -1, -1, -1}, {0, 0, 0, 0, 0, 0, 0, 1});
  });
}

TEST_F(FormulaAccounting, StartAndStopLeaveSlotSevenAlone) {
  inFreshProcess([](FreshLibrary &lib) {
    lib.gDll(20);
    lib.gDll(30);
    EXPECT_EQ(lib.tally_stop(), kStopped);
    EXPECT_EQ(lib.tally_status(7), kCounting);
    lib.gDll(40);
    EXPECT_EQ(lib.tally_count(7), 3) << "slot 7 keeps counting after tally_stop";
    EXPECT_EQ(lib.tally_start(), 0);
    EXPECT_EQ(lib.tally_count(7), 3) << "tally_start does not clear slot 7";
    EXPECT_EQ(lib.tally_status(7), kCounting);
  });
}

}  // namespace
