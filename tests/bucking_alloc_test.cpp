// The searching buckings when scratch memory runs out: each failing allocation in
// turn gives the search up with the output cleared; run under the leak
// checker, it also shows that nothing is left allocated.
#include <gtest/gtest.h>

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
// the call needs fewer than k: every failing run must answer 99 with the
// output cleared, and the last must match an undisturbed run.
void walkAllocationFailures(decltype(&PHVoDll) fn) {
  const Tree tree = cone(30, 20);
  CallArgs args;
  args.stumpHeight = 0.5;
  for (int variant = 0; variant < 2; ++variant) {
    std::vector<ProductSpec> reference = table(variant);
    Output expected;
    ASSERT_EQ(optimised(tree, args, reference, expected, fn), 1.0);

    long failures = 0;
    for (long k = 1;; ++k) {
      ASSERT_LT(k, 100000) << "the search never completed";
      std::vector<ProductSpec> products = table(variant);
      Output out;
      xylotrak::fault::failAllocationAt(k);
      const double result = optimised(tree, args, products, out, fn);
      const bool failed = xylotrak::fault::allocationsChecked() >= k;
      xylotrak::fault::failAllocationAt(0);
      if (!failed) {  // fewer than k allocations: the search ran through
        EXPECT_EQ(result, 1.0);
        EXPECT_EQ(out.totals, expected.totals);
        EXPECT_EQ(out.logs(), expected.logs());
        break;
      }
      EXPECT_EQ(result, 99.0) << "allocation " << k;
      expectCleared(products, out);
      ++failures;
    }
    EXPECT_GE(failures, 3) << "table " << variant;
  }
}

TEST(OptimisedBuckingMemory, EveryAllocationFailureGivesUpWithClearedOutput) {
  walkAllocationFailures(&PHVoDll);
}

TEST(ExactBuckingMemory, EveryAllocationFailureGivesUpWithClearedOutput) {
  walkAllocationFailures(&PHVxDll);
}

}  // namespace
