// The searching buckings when memory runs out: each failing allocation in
// turn either gives the search up with the output cleared (the search's own
// lists) or changes nothing at all (the evaluation cache, which the call can
// do without); run under the leak checker, it also shows that nothing is
// left allocated.
#include <gtest/gtest.h>

#include "bucking/search.h"
#include "bucking_support.h"
#include "fault_injection.h"

using namespace bucking_test;

namespace {

std::vector<ProductSpec> table(int variant) {
  if (variant == 0) return {product(10, 3, 3, 5, 2), product(15, 4, 4, 100, 0)};
  // Four products of about 2 m: lists of hundreds of sequences, so the
  // failures also hit lists that grow.
  std::vector<ProductSpec> products;
  for (int i = 0; i < 4; ++i) products.push_back(product(15, 2 + 0.1 * i, 2 + 0.1 * i, i, 2));
  return products;
}

// Walks k = 1, 2, ... through the call, failing the k-th allocation, until
// the call needs fewer than k: a failure of the search's memory must answer
// 99 with the output cleared, a failure of the cache's must leave the answer
// byte for byte that of an undisturbed run, as must the last run.
void walkAllocationFailures(decltype(&PHVoDll) fn) {
  const Tree tree = cone(30, 20);
  CallArgs args;
  args.stumpHeight = 0.5;
  for (int variant = 0; variant < 2; ++variant) {
    std::vector<ProductSpec> reference = table(variant);
    Output expected;
    ASSERT_EQ(optimised(tree, args, reference, expected, fn), 1.0);

    long failures = 0, cacheFailures = 0;
    for (long k = 1;; ++k) {
      ASSERT_LT(k, 100000) << "the search never completed";
      std::vector<ProductSpec> products = table(variant);
      Output out;
      xylotrak::fault::failAllocationAt(k);
      const double result = optimised(tree, args, products, out, fn);
      const bool failed = xylotrak::fault::allocationsChecked() >= k;
      const bool cacheFailed = xylotrak::fault::optionalAllocationFailed();
      xylotrak::fault::failAllocationAt(0);
      if (!failed || cacheFailed) {  // ran through, with or without its cache
        EXPECT_EQ(result, 1.0) << "allocation " << k;
        expectSameOutput(reference, expected, products, out);
        if (!failed) break;
        ++cacheFailures;
        continue;
      }
      EXPECT_EQ(result, 99.0) << "allocation " << k;
      expectCleared(products, out);
      ++failures;
    }
    EXPECT_GE(failures, 3) << "table " << variant;
    EXPECT_GE(cacheFailures, 1) << "table " << variant;
  }
}

TEST(OptimisedBuckingMemory, EveryAllocationFailureGivesUpWithClearedOutput) {
  walkAllocationFailures(&PHVoDll);
}

TEST(ExactBuckingMemory, EveryAllocationFailureGivesUpWithClearedOutput) {
  walkAllocationFailures(&PHVxDll);
}

}  // namespace

namespace {

// The fuzz harnesses' limit on the exact optimiser's tries: it stops a search
// that reaches it and counts the stop, and changes nothing while unset (a
// limit that always stopped would leave the harnesses checking nothing).
TEST(ExactBuckingTryLimit, StopsOnlyASearchThatReachesIt) {
  const Tree tree = cone(30, 20);
  CallArgs args;
  args.stumpHeight = 0.5;
  std::vector<ProductSpec> reference = table(1);
  Output expected;
  const unsigned long before = xylotrak::bucking::exactTryLimitHitsForTesting();
  ASSERT_EQ(optimised(tree, args, reference, expected, &PHVxDll), 1.0);
  EXPECT_EQ(xylotrak::bucking::exactTryLimitHitsForTesting(), before);

  xylotrak::bucking::setExactTryLimitForTesting(1000000);  // far above this table's tries
  std::vector<ProductSpec> roomy = table(1);
  Output same;
  ASSERT_EQ(optimised(tree, args, roomy, same, &PHVxDll), 1.0);
  expectSameOutput(reference, expected, roomy, same);
  EXPECT_EQ(xylotrak::bucking::exactTryLimitHitsForTesting(), before);

  xylotrak::bucking::setExactTryLimitForTesting(10);
  std::vector<ProductSpec> cut = table(1);
  Output stopped;
  optimised(tree, args, cut, stopped, &PHVxDll);
  EXPECT_EQ(xylotrak::bucking::exactTryLimitHitsForTesting(), before + 1);

  xylotrak::bucking::setExactTryLimitForTesting(-1);
  std::vector<ProductSpec> again = table(1);
  Output restored;
  ASSERT_EQ(optimised(tree, args, again, restored, &PHVxDll), 1.0);
  expectSameOutput(reference, expected, again, restored);
  EXPECT_EQ(xylotrak::bucking::exactTryLimitHitsForTesting(), before + 1);
}

}  // namespace
