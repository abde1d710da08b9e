// Call counters under concurrent callers: nothing lost, nothing torn.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "xylotrak.h"

namespace {

const double kCoefs[2] = {1, -1};
const double kExps[2] = {0, 1};

template <class Fn>
void runThreads(int count, Fn fn) {
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) threads.emplace_back(fn, t);
  for (auto &th : threads) th.join();
}

TEST(ConcurrentAccounting, NoDiameterCallIsLost) {
  ASSERT_EQ(tally_start(), 0);
  runThreads(4, [](int t) {
    for (int i = 0; i < 250000; ++i) PHDiDll(30, 20, kCoefs, kExps, 1, (i % 200) * 0.1 + t);
  });
  // The threads have ended: their counts must have been kept.
  EXPECT_EQ(tally_count(3), 1000000);
  EXPECT_EQ(tally_status(3), -1);
}

TEST(ConcurrentAccounting, HeightSearchesCountTheirEvaluations) {
  // A search stops early only on an exact hit; count each search's evaluations
  // independently by replaying it on a thread of its own with a fresh start.
  ASSERT_EQ(tally_start(), 0);
  std::atomic<std::int64_t> expectedDiameters{0};
  runThreads(4, [&](int t) {
    std::int64_t local = 0;
    for (int i = 0; i < 2000; ++i) {
      const double target = (i % 61) * 0.5 + t;  // some targets hit exactly (e.g. 15)
      PHHiDll(30, 20, kCoefs, kExps, 1, target);
      // Replay the bisection without the library to know how many diameters it evaluated.
      double h = 10, step = 20;
      int evaluations = 0;
      for (int round = 0; round < 100; ++round) {
        ++evaluations;
        const double d = 30 * (1 - h / 20) < 0 ? 0 : 30 * (1 - h / 20);
        if (target > d) {
          step *= 0.5;
          h = h - step < 0 ? 0 : h - step;
        } else if (target < d) {
          step *= 0.5;
          h = step + h > 20 ? 20 : step + h;
        } else {
          break;
        }
      }
      local += evaluations;
    }
    expectedDiameters += local;
  });
  EXPECT_EQ(tally_count(4), 8000);
  EXPECT_EQ(tally_count(3), expectedDiameters.load());
  EXPECT_LT(tally_count(3), 800000) << "some searches must have stopped on an exact hit";
}

TEST(ConcurrentAccounting, StartAndStopRacingWithCallers) {
  std::atomic<bool> done{false};
  std::thread controller([&] {
    for (int i = 0; !done.load(); ++i) {
      if (i % 2 == 0) {
        EXPECT_EQ(tally_start(), 0);
      } else {
        EXPECT_EQ(tally_stop(), -2);
      }
      for (int s = 0; s < 8; ++s) {
        const int status = tally_status(s);
        EXPECT_TRUE(status == 0 || status == -1 || status == -2) << status;
      }
    }
  });
  runThreads(3, [](int t) {
    for (int i = 0; i < 100000; ++i) PHDiDll(30, 20, kCoefs, kExps, 1, t);
  });
  done = true;
  controller.join();
  tally_stop();
  const int frozen = tally_count(3);
  PHDiDll(30, 20, kCoefs, kExps, 1, 1);
  EXPECT_EQ(tally_count(3), frozen) << "stopped slots stay still";
  EXPECT_EQ(tally_start(), 0);
  EXPECT_EQ(tally_count(3), 0);
  PHDiDll(30, 20, kCoefs, kExps, 1, 1);
  EXPECT_EQ(tally_count(3), 1);
}

TEST(ConcurrentAccounting, ManyShortLivedThreadsKeepTheirCounts) {
  ASSERT_EQ(tally_start(), 0);
  for (int round = 0; round < 50; ++round)
    runThreads(4, [](int) {
      for (int i = 0; i < 100; ++i) PHDiDll(30, 20, kCoefs, kExps, 1, 1);
    });
  EXPECT_EQ(tally_count(3), 50 * 4 * 100);
}

}  // namespace
