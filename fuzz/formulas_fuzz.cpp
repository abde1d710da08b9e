// Fuzzes the basal area and log volume formulas with arbitrary doubles. A
// call with a negative or NaN argument returns exactly -1.0 and is not
// counted; an accepted call never returns a negative value and counts once in
// slot 7, plus once for each basal area it takes from gDll. VTCiDll is VTHuDll.
#include "fuzz_support.h"

namespace {

bool rejected(double x) { return !(x >= 0); }

// Checks one call: `args` its arguments, `basalAreas` its inner gDll calls.
template <int N>
void checkCall(double result, const double (&args)[N], int basalAreas, std::int32_t before) {
  bool reject = false;
  for (double a : args) reject = reject || rejected(a);
  // Counters wrap at 32 bits: the difference is taken modulo 2^32.
  const std::uint32_t counted =
      static_cast<std::uint32_t>(tally_count(7)) - static_cast<std::uint32_t>(before);
  if (reject) {
    FUZZ_CHECK(fuzz::sameBits(result, -1.0));
    FUZZ_CHECK(counted == 0u);
  } else {
    FUZZ_CHECK(!(result < 0));
    FUZZ_CHECK(counted == 1u + static_cast<unsigned>(basalAreas));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  fuzz::Reader in(data, size);
  const double a = in.real(0, 100), b = in.real(0, 100), c = in.real(0, 100), d = in.real(0, 20);

  std::int32_t before = tally_count(7);
  double r = gDll(a);
  checkCall(r, {a}, 0, before);

  before = tally_count(7);
  r = dgDll(a, b);
  checkCall(r, {a, b}, 0, before);

  before = tally_count(7);
  r = VTHuDll(a, d);
  checkCall(r, {a, d}, 1, before);
  before = tally_count(7);
  const double cylinder = VTCiDll(a, d);
  checkCall(cylinder, {a, d}, 1, before);
  FUZZ_CHECK(fuzz::sameBits(r, cylinder));

  before = tally_count(7);
  r = VTSmDll(a, b, d);
  checkCall(r, {a, b, d}, 2, before);

  before = tally_count(7);
  r = VTNwDll(a, b, c, d);
  checkCall(r, {a, b, c, d}, 3, before);

  before = tally_count(7);
  r = VTNeDll(a, b, d);
  checkCall(r, {a, b, d}, 2, before);

  before = tally_count(7);
  r = VTCoDll(a, b, d);
  checkCall(r, {a, b, d}, 2, before);
  return 0;
}
