// Fuzzes the plot calculator with arbitrary doubles and 16-bit selectors
// (high bits from the input as well). Each output is either null or a double
// at the end of a guarded region, between pattern-filled neighbours: the call
// returns 1, writes every non-null output and nothing beside it; lengths come
// back never negative, and a given area is returned as given.
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::OutputDoubles<3> out;
  fuzz::Reader in(data, size);
  const double area = in.real(-2, 20), length1 = in.real(-50, 50), length2 = in.real(-50, 50);
  const double slope1 = in.real(-120, 120), slope2 = in.real(-120, 120);
  const int slopeCorrection = in.codeArg(), rectangular = in.codeArg();
  const int unitScale = in.codeArg(), areaUnit = in.codeArg();
  const std::uint8_t nulls = in.byte();  // bit i: pass output i as null

  out.reset();
  double *outs[3];
  for (int i = 0; i < 3; ++i) outs[i] = (nulls >> i & 1) != 0 ? nullptr : out.at(i);
  const std::int16_t r = CalcAreaDll(area, length1, length2, slope1, slope2, slopeCorrection,
                                     rectangular, unitScale, areaUnit, outs[0], outs[1], outs[2]);
  FUZZ_CHECK(r == 1);
  out.checkNeighbours();

  // The pattern reads as a negative double, which no length output can be;
  // the area output is the input area unless a computed one replaced it.
  if (outs[0] != nullptr) {
    if (area > 0) FUZZ_CHECK(fuzz::sameBits(out.value(0), area));
    if (!fuzz::allPattern(&area, sizeof area)) FUZZ_CHECK(!fuzz::allPattern(outs[0], sizeof area));
  }
  for (int i = 1; i < 3; ++i)
    if (outs[i] != nullptr) FUZZ_CHECK(!(out.value(i) < 0));
  for (int i = 0; i < 3; ++i)
    if (outs[i] == nullptr) FUZZ_CHECK(fuzz::allPattern(out.at(i), sizeof(double)));
  return 0;
}
