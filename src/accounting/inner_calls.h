// Counting the work done inside an export as the calls it stands for.
#pragma once

#include "accounting/accounting.h"
#include "taper/evaluation.h"

namespace xylotrak::accounting {

// Adds to slots 2, 3 and 4 what the volume, diameter and height calls of the
// tally would have added one by one.
inline void countInnerCalls(const taper::CallTally &calls) noexcept {
  enterMany(kVolume, calls.volume);
  enterMany(kDiameter, calls.diameter);
  enterMany(kHeight, calls.height);
}

}  // namespace xylotrak::accounting
