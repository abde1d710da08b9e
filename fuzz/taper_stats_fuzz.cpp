// Fuzzes the taper statistics exports: the fits with options and covariance
// (PHFcDll, PHFwDll, tip-zero among the flags), the REML fit of random tree
// effects (PHFmDll) on small stems files with arbitrary tree ids, the
// intervals of diameters and volumes (PHDcDll, PHVcDll) and the calibration
// of a fit to one tree (PHCbDll), with fits the library made and with
// records whose every field comes from the input. For about one input in
// eight the k-th allocation (k = 1..8) is made to fail. Every array the
// library reads or writes ends at a guard page, outputs sit among pattern
// bytes that must stay, and the inputs must hold what they held.
//
// Invariants: each answer is a documented code; a failed call clears its
// outputs; a fit through the tip sums to 0 (to rounding); a REML fit that
// converged has finite coefficients, a symmetric D with a non-negative
// diagonal and sigma >= 0, and one that did not says why; an interval that
// is finite is ordered lower <= value <= upper with lower >= 0, lies within
// the interval of a higher level, and (for a fit the library made) within
// the prediction interval; a calibrated fit cannot be calibrated again.
//
// Sizes are bounded (16 rows, 4 terms, 2 random terms, 5 trees) and the
// REML search to 25..400 iterations (read from the input), so that
// an input costs a fraction of a millisecond; the search that stops at its
// limit is then fuzzed too.
#include <algorithm>
#include <cmath>

#include "abi.h"
#include "fault_injection.h"
#include "fitting/mixed.h"
#include "fuzz_support.h"

namespace {

constexpr int kMaxRows = 16;
constexpr int kMaxTerms = 3;  // n: up to 4 coefficients
constexpr int kMaxP = kMaxTerms + 1;
constexpr int kMaxRandom = 2;
constexpr int kMaxTrees = 5;
constexpr int kMaxMeasured = 4;

bool fitCode(int32_t code) { return code >= XYLOTRAK_FIT_OK && code <= XYLOTRAK_FIT_NOT_CONVERGED; }

// An interval export's answer: OK, a bad argument or out of memory.
bool intervalCode(int32_t code) {
  return code == XYLOTRAK_FIT_OK || code == XYLOTRAK_FIT_BAD_ARGUMENT ||
         code == XYLOTRAK_FIT_OUT_OF_MEMORY;
}

void checkOrdered(double value, double lower, double upper) {
  if (std::isfinite(value) && std::isfinite(lower) && std::isfinite(upper)) {
    FUZZ_CHECK(lower <= value && value <= upper);
    FUZZ_CHECK(lower >= 0);
  }
}

// Within rounding of b's width: a contains b.
bool contains(double alo, double ahi, double blo, double bhi) {
  if (!(std::isfinite(alo) && std::isfinite(ahi) && std::isfinite(blo) && std::isfinite(bhi)))
    return true;
  const double slack = 1e-9 * (std::fabs(ahi) + std::fabs(alo) + std::fabs(bhi) + std::fabs(blo));
  return alo <= blo + slack && ahi + slack >= bhi;
}

// The fit the intervals use: arrays owned here, pointed to by a record.
struct Fit {
  double coefs[kMaxP] = {}, exps[kMaxP] = {}, cov[kMaxP * kMaxP] = {};
  double rcov[kMaxRandom * kMaxRandom] = {};
  int32_t random[kMaxRandom] = {};
  int terms = -1;  // n
  int randomCount = 0;
  double sigma2 = 0, df = 0;
  bool fromLibrary = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  static fuzz::InputArray dbhArray(kMaxRows), heightArray(kMaxRows), hArray(kMaxRows),
      dArray(kMaxRows), expArray(kMaxP), candidateArray(kMaxP), recCoefs(kMaxP), recExps(kMaxP),
      recCov(kMaxP * kMaxP), recRcov(kMaxRandom * kMaxRandom), measuredH(kMaxMeasured),
      measuredD(kMaxMeasured);
  static fuzz::GuardedInput<int64_t> treeArray(kMaxRows);
  static fuzz::GuardedInput<int32_t> randomArray(kMaxP), recRandom(kMaxP);
  static fuzz::OutputArray coefs(kMaxP), errors(kMaxP), cov(kMaxP * kMaxP), rcov(kMaxP * kMaxP),
      selected(kMaxP), calCoefs(kMaxP), calCov(kMaxP * kMaxP);
  static fuzz::OutputDoubles<3> out, wide;
  fuzz::Reader in(data, size);

  // The stems: rows of (dbh, height, h, d) and a tree id for each.
  const std::int64_t rows = in.byte() % (kMaxRows + 1);
  const auto n = static_cast<std::size_t>(rows);
  const double *dbh = dbhArray.fill(n, [&] { return in.real(0, 80); });
  const double *height = heightArray.fill(n, [&] { return in.real(0, 40); });
  const double *h = hArray.fill(n, [&] { return in.real(-2, 45); });
  const double *d = dArray.fill(n, [&] { return in.real(-5, 90); });
  const int64_t *tree = treeArray.fill(n, [&]() -> int64_t {
    const std::uint8_t b = in.byte();
    if (b < 0xF0) return b % kMaxTrees;
    return static_cast<int64_t>(static_cast<std::int32_t>(in.u32())) * 7919;
  });
  const int termCount = in.count(kMaxTerms);
  const int terms = xylotrak::low16(termCount);
  const std::size_t entries = terms >= 0 ? static_cast<std::size_t>(terms) + 1 : 0;
  const double *exps = expArray.fill(entries, [&] { return in.real(-0.5, 8); });
  // Options: mostly none or tip-zero, now and then any bits.
  const std::uint8_t flagTag = in.byte();
  const int flags = flagTag < 0x80   ? 0
                    : flagTag < 0xF0 ? XYLOTRAK_FIT_TIP_ZERO
                                     : static_cast<int>(in.u32());
  const std::uint8_t failAt = in.byte();
  const long failK = failAt < 32 ? 1 + failAt % 8 : 0;

  Fit fit;

  // PHFcDll: the fit with options and covariance.
  {
    xylotrak::fault::failAllocationAt(failK);
    xylotrak_fit_stats stats{};
    int64_t df = -7;
    double *c = coefs.place(entries);
    double *se = errors.place(entries);
    double *v = cov.place(entries * entries);
    const int32_t code =
        PHFcDll(dbh, height, h, d, rows, exps, termCount, flags, c, se, v, &df, &stats);
    xylotrak::fault::failAllocationAt(0);
    FUZZ_CHECK(fitCode(code) && code != XYLOTRAK_FIT_NOT_CONVERGED);
    if (failK == 0) FUZZ_CHECK(code != XYLOTRAK_FIT_OUT_OF_MEMORY);
    if (code == XYLOTRAK_FIT_OK) {
      FUZZ_CHECK(coefs.allFinite());
      FUZZ_CHECK(df >= 0);
      if (flags == XYLOTRAK_FIT_TIP_ZERO) {
        double sum = 0, mag = 0;
        for (std::size_t k = 0; k < entries; ++k) {
          sum += c[k];
          mag += std::fabs(c[k]);
        }
        FUZZ_CHECK(std::fabs(sum) <= 1e-9 * mag + 1e-300);
      }
      for (std::size_t k = 0; k < entries; ++k) FUZZ_CHECK(!(v[k * entries + k] < 0));
      if (terms <= kMaxTerms) {
        fit.terms = terms;
        std::copy(c, c + entries, fit.coefs);
        std::copy(exps, exps + entries, fit.exps);
        std::copy(v, v + entries * entries, fit.cov);
        fit.sigma2 = stats.residualStdError * stats.residualStdError;
        fit.df = static_cast<double>(df);
        fit.fromLibrary = std::isfinite(fit.sigma2) && cov.allFinite();
      }
    } else if (terms >= 0) {
      FUZZ_CHECK(coefs.allZero() && errors.allZero() && cov.allZero());
    }
    coefs.checkSlack();
    errors.checkSlack();
    cov.checkSlack();
  }

  // PHFwDll: stepwise selection with options.
  {
    const int candidateCount = in.count(kMaxP);
    const int pool = xylotrak::low16(candidateCount);
    const double *candidates = candidateArray.fill(pool > 0 ? static_cast<std::size_t>(pool) : 0,
                                                   [&] { return in.real(-0.5, 20); });
    const int maxTerms = in.count(kMaxP);
    const int room = xylotrak::low16(maxTerms);
    const std::size_t roomEntries = room > 0 ? static_cast<std::size_t>(room) : 0;
    xylotrak::fault::failAllocationAt(failK);
    xylotrak_fit_stats stats{};
    int32_t chosen = -1;
    int64_t df = -7;
    double *e = selected.place(roomEntries);
    double *c = coefs.place(roomEntries);
    double *v = cov.place(roomEntries * roomEntries);
    const int32_t code = PHFwDll(dbh, height, h, d, rows, candidates, candidateCount, maxTerms,
                                 flags, e, c, nullptr, v, &chosen, &df, &stats);
    xylotrak::fault::failAllocationAt(0);
    FUZZ_CHECK(fitCode(code) && code != XYLOTRAK_FIT_NOT_CONVERGED);
    if (failK == 0) FUZZ_CHECK(code != XYLOTRAK_FIT_OUT_OF_MEMORY);
    if (code == XYLOTRAK_FIT_OK) {
      FUZZ_CHECK(chosen >= 0 && chosen < room);
      FUZZ_CHECK(e[0] == 0);
      for (int k = 2; k <= chosen; ++k) FUZZ_CHECK(e[k - 1] < e[k]);
      FUZZ_CHECK(coefs.allFinite());
      FUZZ_CHECK(df >= 0);
    } else {
      FUZZ_CHECK(chosen == 0 && selected.allZero() && coefs.allZero());
    }
    selected.checkSlack();
    coefs.checkSlack();
    cov.checkSlack();
  }

  // PHFmDll: the REML fit of random effects on the terms the input names.
  {
    const int randomCount = in.count(kMaxRandom);
    const int q = xylotrak::low16(randomCount);
    const std::size_t qEntries = q > 0 ? static_cast<std::size_t>(q) : 0;
    const int32_t *random = randomArray.fill(
        qEntries, [&] { return static_cast<int32_t>(static_cast<std::int8_t>(in.byte())) % 6; });
    // The search stops at 25 to 400 iterations: one that runs the library's
    // full course of 5000 (and the restart) costs tens of milliseconds, and
    // stops through the same path.
    xylotrak::fitting::setRemlIterationLimitForTesting(25 << (in.byte() % 5));
    xylotrak::fault::failAllocationAt(failK);
    xylotrak_mixed_stats stats{};
    double *c = coefs.place(entries);
    double *se = errors.place(entries);
    double *v = cov.place(entries * entries);
    double *dd = rcov.place(qEntries * qEntries);
    const int32_t code = PHFmDll(dbh, height, h, d, tree, rows, exps, termCount, random,
                                 randomCount, c, se, v, dd, &stats);
    xylotrak::fault::failAllocationAt(0);
    xylotrak::fitting::setRemlIterationLimitForTesting(0);
    FUZZ_CHECK(fitCode(code));
    if (failK == 0) FUZZ_CHECK(code != XYLOTRAK_FIT_OUT_OF_MEMORY);
    FUZZ_CHECK(stats.rowsUsed >= 0 && stats.rowsSkipped >= 0 &&
               stats.rowsUsed + stats.rowsSkipped <= rows);
    if (code == XYLOTRAK_FIT_OK) {
      FUZZ_CHECK(stats.convergence == XYLOTRAK_MIXED_CONVERGED);
      FUZZ_CHECK(stats.rowsUsed + stats.rowsSkipped == rows);
      FUZZ_CHECK(stats.trees >= q + 1 && stats.iterations > 0);
      FUZZ_CHECK(coefs.allFinite() && cov.allFinite() && rcov.allFinite());
      FUZZ_CHECK(stats.residualSd >= 0 && std::isfinite(stats.remlLogLik));
      for (int i = 0; i < q; ++i) {
        FUZZ_CHECK(dd[i * q + i] >= 0);
        for (int j = 0; j < q; ++j)
          FUZZ_CHECK(std::fabs(dd[i * q + j] - dd[j * q + i]) <=
                     1e-12 * (std::fabs(dd[i * q + i]) + std::fabs(dd[j * q + j])));
      }
      if (terms <= kMaxTerms && q <= kMaxRandom) {
        fit.terms = terms;
        std::copy(c, c + entries, fit.coefs);
        std::copy(exps, exps + entries, fit.exps);
        std::copy(v, v + entries * entries, fit.cov);
        std::copy(dd, dd + qEntries * qEntries, fit.rcov);
        std::copy(random, random + qEntries, fit.random);
        fit.randomCount = q;
        fit.sigma2 = stats.residualSd * stats.residualSd;
        fit.df = 0;
        fit.fromLibrary = std::isfinite(fit.sigma2);
      }
    } else {
      if (code == XYLOTRAK_FIT_NOT_CONVERGED)
        FUZZ_CHECK(stats.convergence == XYLOTRAK_MIXED_ITERATION_LIMIT ||
                   stats.convergence == XYLOTRAK_MIXED_NONFINITE);
      FUZZ_CHECK(stats.residualSd == 0 && stats.remlLogLik == 0);
      if (terms >= 0) FUZZ_CHECK(coefs.allZero() && errors.allZero() && cov.allZero());
      FUZZ_CHECK(rcov.allZero());
    }
    coefs.checkSlack();
    errors.checkSlack();
    cov.checkSlack();
    rcov.checkSlack();
  }

  // The record of the intervals: the fit made above, or (when there is none,
  // or as the input says) every field from the input.
  const std::uint8_t source = in.byte();
  if (fit.terms < 0 || source >= 0xC0) {
    fit = Fit{};
    const int rt = xylotrak::low16(in.count(kMaxTerms));
    fit.terms = rt;
    const int p = rt >= 0 ? rt + 1 : 0;
    for (int k = 0; k < p; ++k) fit.coefs[k] = in.real(-3, 3);
    for (int k = 0; k < p; ++k) fit.exps[k] = in.real(-0.5, 8);
    for (int k = 0; k < p * p; ++k) fit.cov[k] = in.real(-1e-3, 1e-2);
    // A negative count reaches the library as it is; no entries are read for it.
    const int rq = xylotrak::low16(in.count(kMaxRandom));
    fit.randomCount = rq;
    const int qn = rq > 0 ? rq : 0;
    for (int k = 0; k < qn; ++k)
      fit.random[k] = static_cast<int32_t>(static_cast<std::int8_t>(in.byte())) % 6;
    for (int k = 0; k < qn * qn; ++k) fit.rcov[k] = in.real(-1e-3, 1e-2);
    fit.sigma2 = in.real(-1e-4, 1e-2);
    fit.df = in.real(-1, 60);
  }
  const int p = fit.terms >= 0 ? fit.terms + 1 : 0;
  const int q = fit.randomCount > 0 ? fit.randomCount : 0;
  xylotrak_taper_fit record{};
  record.coefs =
      recCoefs.fill(static_cast<std::size_t>(p), [&, k = 0]() mutable { return fit.coefs[k++]; });
  record.exps =
      recExps.fill(static_cast<std::size_t>(p), [&, k = 0]() mutable { return fit.exps[k++]; });
  record.covariance =
      recCov.fill(static_cast<std::size_t>(p * p), [&, k = 0]() mutable { return fit.cov[k++]; });
  record.randomTerms =
      recRandom.fill(static_cast<std::size_t>(q), [&, k = 0]() mutable { return fit.random[k++]; });
  record.randomCovariance =
      recRcov.fill(static_cast<std::size_t>(q * q), [&, k = 0]() mutable { return fit.rcov[k++]; });
  record.residualVariance = fit.sigma2;
  record.degreesOfFreedom = fit.df;
  record.termCount = fit.terms;
  record.randomCount = fit.randomCount;
  record.flags = 0;
  record.reserved0 = 0x5A5A5A5A;

  const double treeDbh = in.real(0, 80), treeHeight = in.real(0, 40);
  const int kind = in.codeArg();
  const double level = in.real(0, 1);
  // A level at least as high (the sum may round up to 1, which is no level).
  const double raised = level + (1 - level) * (in.byte() / 256.0);
  const double higher = raised < 1 ? raised : level;

  // A diameter interval at two levels and both kinds.
  auto diameterAt = [&](const xylotrak_taper_fit *r, double at, bool calibrated) {
    out.reset();
    const int32_t code =
        PHDcDll(r, treeDbh, treeHeight, at, kind, level, out.at(0), out.at(1), out.at(2));
    out.checkNeighbours();
    FUZZ_CHECK(intervalCode(code));
    if (code != XYLOTRAK_FIT_OK) {
      FUZZ_CHECK(out.value(0) == 0 && out.value(1) == 0 && out.value(2) == 0);
      return;
    }
    checkOrdered(out.value(0), out.value(1), out.value(2));
    wide.reset();
    FUZZ_CHECK(PHDcDll(r, treeDbh, treeHeight, at, kind, higher, wide.at(0), wide.at(1),
                       wide.at(2)) == XYLOTRAK_FIT_OK);
    wide.checkNeighbours();
    FUZZ_CHECK(fuzz::sameValue(out.value(0), wide.value(0)));
    FUZZ_CHECK(contains(wide.value(1), wide.value(2), out.value(1), out.value(2)));
    if (fit.fromLibrary && !calibrated && kind == XYLOTRAK_INTERVAL_CONFIDENCE) {
      wide.reset();
      FUZZ_CHECK(PHDcDll(r, treeDbh, treeHeight, at, XYLOTRAK_INTERVAL_PREDICTION, level,
                         wide.at(0), wide.at(1), wide.at(2)) == XYLOTRAK_FIT_OK);
      FUZZ_CHECK(contains(wide.value(1), wide.value(2), out.value(1), out.value(2)));
    }
  };
  const double at = in.real(-1, 41);
  diameterAt(&record, at, false);

  // A volume interval between limits from the input.
  {
    double lim[5];
    for (double &l : lim) l = in.real(-1, 45);
    out.reset();
    const int32_t code = PHVcDll(&record, treeDbh, treeHeight, lim[0], lim[1], lim[2], lim[3],
                                 lim[4], kind, level, out.at(0), out.at(1), out.at(2));
    out.checkNeighbours();
    FUZZ_CHECK(intervalCode(code));
    if (code != XYLOTRAK_FIT_OK) {
      FUZZ_CHECK(out.value(0) == 0 && out.value(1) == 0 && out.value(2) == 0);
    } else {
      checkOrdered(out.value(0), out.value(1), out.value(2));
      wide.reset();
      FUZZ_CHECK(PHVcDll(&record, treeDbh, treeHeight, lim[0], lim[1], lim[2], lim[3], lim[4], kind,
                         higher, wide.at(0), wide.at(1), wide.at(2)) == XYLOTRAK_FIT_OK);
      wide.checkNeighbours();
      FUZZ_CHECK(fuzz::sameValue(out.value(0), wide.value(0)));
      FUZZ_CHECK(contains(wide.value(1), wide.value(2), out.value(1), out.value(2)));
    }
  }

  // Calibration from measured (height, diameter) pairs, then the calibrated
  // tree's intervals, and a second calibration refused.
  {
    const int measuredCount = in.count(kMaxMeasured);
    const int m = xylotrak::low16(measuredCount);
    const std::size_t mEntries = m > 0 ? static_cast<std::size_t>(m) : 0;
    const double *mh = measuredH.fill(mEntries, [&] { return in.real(-1, 41); });
    const double *md = measuredD.fill(mEntries, [&] { return in.real(-1, 90); });
    const std::size_t pe = static_cast<std::size_t>(p);
    double *cc = calCoefs.place(pe);
    double *cv = calCov.place(pe * pe);
    int32_t calFlags = -1;
    xylotrak::fault::failAllocationAt(failK);
    const int32_t code =
        PHCbDll(&record, treeDbh, treeHeight, mh, md, measuredCount, cc, cv, &calFlags);
    xylotrak::fault::failAllocationAt(0);
    FUZZ_CHECK(intervalCode(code) || code == XYLOTRAK_FIT_OVERFLOW);
    if (failK == 0) FUZZ_CHECK(code != XYLOTRAK_FIT_OUT_OF_MEMORY);
    calCoefs.checkSlack();
    calCov.checkSlack();
    if (code != XYLOTRAK_FIT_OK) {
      FUZZ_CHECK(calCoefs.allZero() && calCov.allZero());
    } else {
      FUZZ_CHECK((calFlags & ~XYLOTRAK_CALIBRATION_OUTLYING) == 0);
      xylotrak_taper_fit own = record;
      own.coefs = cc;
      own.covariance = cv;
      own.flags = XYLOTRAK_TAPER_FIT_CALIBRATED;
      diameterAt(&own, at, true);
      int32_t again = -1;
      static double scratchCoefs[kMaxP], scratchCov[kMaxP * kMaxP];
      FUZZ_CHECK(PHCbDll(&own, treeDbh, treeHeight, mh, md, measuredCount, scratchCoefs, scratchCov,
                         &again) == XYLOTRAK_FIT_BAD_ARGUMENT);
    }
  }

  for (const fuzz::InputArray *a :
       {&dbhArray, &heightArray, &hArray, &dArray, &expArray, &candidateArray, &recCoefs, &recExps,
        &recCov, &recRcov, &measuredH, &measuredD})
    a->checkUnchanged();
  treeArray.checkUnchanged();
  randomArray.checkUnchanged();
  recRandom.checkUnchanged();
  return 0;
}
