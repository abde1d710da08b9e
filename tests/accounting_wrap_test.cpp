// A counter wraps at 32 bits. Four thousand million calls are too many for a
// test, so the counter is moved next to the limit through the library's
// internals (this binary links the static copy) and the exports take it across.
#include <gtest/gtest.h>

#include <cstdint>

#include "accounting/accounting.h"
#include "xylotrak.h"

namespace {

using namespace xylotrak::accounting;

// Moves this thread's share of a counter so that the slot reads `value`.
void setCount(int slot, std::uint32_t value) {
  auto &mine = currentBlock()->counter[slot];
  mine.store(mine.load() + (value - static_cast<std::uint32_t>(tally_count(slot))));
  ASSERT_EQ(static_cast<std::uint32_t>(tally_count(slot)), value);
}

TEST(CounterWrap, DiameterCounterWrapsToZero) {
  const double coefs[1] = {1}, exps[1] = {0};
  ASSERT_EQ(tally_start(), 0);
  setCount(kDiameter, 0xFFFFFFFEu);
  PHDiDll(30, 20, coefs, exps, 0, 1);
  EXPECT_EQ(tally_count(kDiameter), -1) << "2^32 - 1 reads back as a 32-bit integer";
  PHDiDll(30, 20, coefs, exps, 0, 1);
  EXPECT_EQ(tally_count(kDiameter), 0);
  PHDiDll(30, 20, coefs, exps, 0, 1);
  EXPECT_EQ(tally_count(kDiameter), 1);
  EXPECT_EQ(tally_status(kDiameter), -1) << "wrapping does not change the status";
}

TEST(CounterWrap, FormulaSlotWrapsLikeTheOthers) {
  // Slot 7 shares the increment; checked through the prologue itself because
  // the formula exports are built elsewhere.
  ASSERT_EQ(tally_start(), 0);
  enterFormula();
  setCount(kFormulas, 0xFFFFFFFFu);
  enterFormula();
  EXPECT_EQ(tally_count(kFormulas), 0);
}

}  // namespace
