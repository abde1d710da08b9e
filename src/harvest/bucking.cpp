// Bucking measured stems against price-matrix products: the valuation of one
// log, the sequential bucking and the exact optimiser over a grid of cuts.
#include <cmath>
#include <cstring>
#include <new>

#include "abi.h"
#include "harvest/matrix.h"
#include "xylotrak.h"

using namespace xylotrak;
using namespace xylotrak::harvest;

namespace {

struct Grid {
  double start = 0;
  long steps = 0;  // cuts at start + k * step, k = 0..steps
  int step = 1;
  Vector<double> over, under, cumOver, cumUnder;  // at half steps
};

// Fills the half-step samples with exactly what the profile answers there.
void sample(const Profile &profile, Grid &grid, Samples &samples) {
  const long count = 2 * grid.steps + 1;
  const auto n = static_cast<std::size_t>(count);
  grid.over.resize(n);
  grid.under.resize(n);
  grid.cumOver.resize(n);
  grid.cumUnder.resize(n);
  samples.gridStart = grid.start;
  samples.halfStep = 0.5 * grid.step;
  for (long k = 0; k < count; ++k) {
    const double x = (2 * grid.start + static_cast<double>(k) * grid.step) * 0.5;
    const auto i = static_cast<std::size_t>(k);
    grid.over[i] = profile.overBark(x);
    grid.under[i] = profile.underBark(x);
    grid.cumOver[i] = profile.cumulative(x, false);
    grid.cumUnder[i] = profile.cumulative(x, true);
  }
  samples.over = grid.over.data();
  samples.under = grid.under.data();
  samples.cumOver = grid.cumOver.data();
  samples.cumUnder = grid.cumUnder.data();
  samples.count = count;
}

// The lengths (in grid steps) a product's length classes allow.
void stepRange(const xylotrak_matrix_product &p, int step, long *shortest, long *longest) {
  *shortest = static_cast<long>(std::ceil(p.lengthLimits[0] / step));
  if (*shortest < 1) *shortest = 1;
  *longest = static_cast<long>(std::ceil(p.lengthMax / step)) - 1;
}

struct Bucking {
  const Samples &samples;
  const Grid &grid;
  const xylotrak_matrix_product *products;
  int count;
  bool hand;

  double at(long k) const { return grid.start + static_cast<double>(k) * grid.step; }

  bool admissible(int p, long i, long j, xylotrak_matrix_log &log) const {
    const double start = at(i);
    const double length = static_cast<double>(j) * grid.step;
    return valueLog(samples, products[p], p, start, length, hand, log) == XYLOTRAK_LOG_ADMISSIBLE;
  }

  // Products in order, each its longest admissible logs until it has none.
  void sequential(Vector<xylotrak_matrix_log> &out) const {
    long i = 0;
    for (int p = 0; p < count; ++p) {
      long shortest = 0, longest = 0;
      stepRange(products[p], grid.step, &shortest, &longest);
      for (;;) {
        bool cut = false;
        xylotrak_matrix_log log{};
        for (long j = longest < grid.steps - i ? longest : grid.steps - i; j >= shortest; --j) {
          if (admissible(p, i, j, log)) {
            out.push_back(log);
            i += j;
            cut = true;
            break;
          }
        }
        if (!cut) break;
      }
    }
  }

  // best[i]: the highest value of the stem from cut i upward.
  void exact(Vector<xylotrak_matrix_log> &out) const {
    const auto n = static_cast<std::size_t>(grid.steps + 1);
    Vector<double> best(n, 0.0);
    Vector<std::int32_t> product(n, -1);
    Vector<std::int32_t> steps(n, 1);
    Vector<long> shortest(static_cast<std::size_t>(count)), longest(shortest.size());
    for (int p = 0; p < count; ++p) {
      const auto q = static_cast<std::size_t>(p);
      stepRange(products[p], grid.step, &shortest[q], &longest[q]);
    }
    xylotrak_matrix_log log{};
    for (long i = grid.steps - 1; i >= 0; --i) {
      const auto u = static_cast<std::size_t>(i);
      double b = best[u + 1];  // a waste piece of one step
      std::int32_t bp = -1, bs = 1;
      for (int p = 0; p < count; ++p) {
        const auto q = static_cast<std::size_t>(p);
        const long top = longest[q] < grid.steps - i ? longest[q] : grid.steps - i;
        for (long j = top; j >= shortest[q]; --j) {
          if (!admissible(p, i, j, log)) continue;
          const double v = log.value + best[u + static_cast<std::size_t>(j)];
          if (v > b) {
            b = v;
            bp = p;
            bs = static_cast<std::int32_t>(j);
          }
        }
      }
      best[u] = b;
      product[u] = bp;
      steps[u] = bs;
    }
    for (long i = 0; i < grid.steps;) {
      const auto u = static_cast<std::size_t>(i);
      if (product[u] >= 0) {
        admissible(product[u], i, steps[u], log);
        out.push_back(log);
      }
      i += steps[u];
    }
  }
};

int buck(const xylotrak_measured_stem *stem, const xylotrak_matrix_product *products,
         int productCount, const xylotrak_matrix_params *params, xylotrak_matrix_log *logs,
         std::int32_t logCapacity, std::int32_t *logCount, double *totalValue) {
  const int count = low16(productCount);
  if (logCount == nullptr || totalValue == nullptr || params == nullptr || count < 0 ||
      (count > 0 && products == nullptr) || logCapacity < 0 || (logCapacity > 0 && logs == nullptr))
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (params->method != XYLOTRAK_MATRIX_SEQUENTIAL && params->method != XYLOTRAK_MATRIX_EXACT)
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (params->resolutionCm < 1 || params->resolutionCm > 1000 ||
      (params->flags & ~XYLOTRAK_BUCK_HAND_CELLS) != 0 || !std::isfinite(params->startCm) ||
      params->startCm != std::floor(params->startCm) || std::fabs(params->startCm) > 1e9)
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (const int s = checkStem(stem); s != XYLOTRAK_MATRIX_OK) return s;
  for (int p = 0; p < count; ++p)
    if (const int s = checkProduct(products[p], stem->barkCount > 0); s != XYLOTRAK_MATRIX_OK)
      return s;

  const Profile profile(*stem);
  Grid grid;
  grid.start = params->startCm;
  grid.step = params->resolutionCm;
  const double span = profile.end() - grid.start;
  if (span / grid.step > static_cast<double>(kMaxGridSteps)) return XYLOTRAK_MATRIX_TOO_LARGE;
  grid.steps = span > 0 && grid.start >= profile.start()
                   ? static_cast<long>(std::floor(span / grid.step))
                   : 0;
  Samples samples{&profile};
  sample(profile, grid, samples);

  Vector<xylotrak_matrix_log> out;
  const Bucking b{samples, grid, products, count, (params->flags & XYLOTRAK_BUCK_HAND_CELLS) != 0};
  if (params->method == XYLOTRAK_MATRIX_SEQUENTIAL) {
    b.sequential(out);
  } else {
    b.exact(out);
  }
  double total = 0;
  for (const auto &log : out) total = total + log.value;
  *logCount = static_cast<std::int32_t>(out.size());
  *totalValue = total;
  if (out.size() > static_cast<std::size_t>(logCapacity)) return XYLOTRAK_MATRIX_TOO_MANY_LOGS;
  if (!out.empty()) std::memcpy(logs, out.data(), out.size() * sizeof(xylotrak_matrix_log));
  return XYLOTRAK_MATRIX_OK;
}

}  // namespace

extern "C" {

XYLOTRAK_API int32_t PHMlDll(const xylotrak_measured_stem *stem,
                             const xylotrak_matrix_product *product, int32_t productIndex,
                             double startCm, double lengthCm, int handCells,
                             xylotrak_matrix_log *log) {
  if (log == nullptr) return -XYLOTRAK_MATRIX_BAD_ARGUMENT;
  std::memset(static_cast<void *>(log), 0, sizeof *log);
  if (product == nullptr || (handCells != 0 && handCells != 1))
    return -XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (const int s = checkStem(stem); s != XYLOTRAK_MATRIX_OK) return -s;
  if (const int s = checkProduct(*product, stem->barkCount > 0); s != XYLOTRAK_MATRIX_OK) return -s;
  return guarded(
      [&] {
        const Profile profile(*stem);
        const Samples samples{&profile};
        return valueLog(samples, *product, productIndex, startCm, lengthCm, handCells == 1, *log);
      },
      [&](Failure) {
        std::memset(static_cast<void *>(log), 0, sizeof *log);
        return static_cast<std::int32_t>(-XYLOTRAK_MATRIX_OUT_OF_MEMORY);
      });
}

XYLOTRAK_API int32_t PHMbDll(const xylotrak_measured_stem *stem,
                             const xylotrak_matrix_product *products, int productCount,
                             const xylotrak_matrix_params *params, xylotrak_matrix_log *logs,
                             int32_t logCapacity, int32_t *logCount, double *totalValue) {
  if (logCount != nullptr) *logCount = 0;
  if (totalValue != nullptr) *totalValue = 0;
  return guarded(
      [&] {
        return buck(stem, products, productCount, params, logs, logCapacity, logCount, totalValue);
      },
      [&](Failure) {
        if (logCount != nullptr) *logCount = 0;
        if (totalValue != nullptr) *totalValue = 0;
        return static_cast<std::int32_t>(XYLOTRAK_MATRIX_OUT_OF_MEMORY);
      });
}

XYLOTRAK_API int32_t PHMtDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double stepCm, double *positions,
                             double *diameters, int32_t capacity) {
  if (!std::isfinite(stepCm) || !(stepCm > 0) || !std::isfinite(totalHeight) ||
      !(totalHeight > 0) || capacity < 0 ||
      (capacity > 0 && (positions == nullptr || diameters == nullptr)))
    return -1;
  const double end = totalHeight * 100;
  if (end / stepCm > static_cast<double>(kMaxGridSteps)) return -1;
  std::int32_t n = 0;
  for (long k = 0;; ++k) {
    double x = static_cast<double>(k) * stepCm;
    const bool last = !(x < end);
    if (last) x = end;
    if (n < capacity) {
      positions[n] = x;
      diameters[n] = PHDiDll(dbh, totalHeight, coefs, exps, termCount, x / 100) * 10;
    }
    ++n;
    if (last) break;
  }
  return n;
}

}  // extern "C"
