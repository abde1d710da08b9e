// The fitting exports: read the arguments, fit, and write the outputs; on any
// failure the outputs are cleared and the code says why. Not accounted.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "abi.h"
#include "fitting/intervals.h"
#include "fitting/least_squares.h"
#include "fitting/mixed.h"
#include "xylotrak.h"

using namespace xylotrak;

namespace {

void writeStats(xylotrak_fit_stats *out, const fitting::Statistics &st) noexcept {
  if (out == nullptr) return;
  *out = {st.residualStdError, st.rSquared, st.bias,       st.diameterRmse,
          st.diameterBias,     st.rowsUsed, st.rowsSkipped};
}

// Writes a fit into `terms` entries of each output (the entries past the
// fit's own terms, and all of them on failure, cleared).
std::int32_t deliver(const fitting::Fit &fit, std::size_t terms, double *exps, double *coefs,
                     double *standardErrors, xylotrak_fit_stats *stats) noexcept {
  const bool ok = fit.status == fitting::Status::ok;
  for (std::size_t k = 0; k < terms; ++k) {
    const bool has = ok && k < fit.coefs.size();
    if (exps != nullptr) exps[k] = has ? fit.exps[k] : 0.0;
    if (coefs != nullptr) coefs[k] = has ? fit.coefs[k] : 0.0;
    if (standardErrors != nullptr) standardErrors[k] = has ? fit.standardErrors[k] : 0.0;
  }
  fitting::Statistics st = ok ? fit.stats : fitting::Statistics{};
  st.rowsUsed = fit.stats.rowsUsed;
  st.rowsSkipped = fit.stats.rowsSkipped;
  writeStats(stats, st);
  return static_cast<std::int32_t>(fit.status);
}

bool haveRows(const double *dbh, const double *totalHeight, const double *height,
              const double *diameter, std::int64_t rowCount) noexcept {
  if (rowCount < 0) return false;
  return rowCount == 0 ||
         (dbh != nullptr && totalHeight != nullptr && height != nullptr && diameter != nullptr);
}

fitting::Fit failure(fitting::Status status) {
  fitting::Fit fit;
  fit.status = status;
  return fit;
}

// Copies `values` into `capacity` entries of `out` (null: nothing), the
// entries past them cleared.
void writeArray(double *out, std::size_t capacity, const std::vector<double> &values) noexcept {
  if (out == nullptr) return;
  for (std::size_t k = 0; k < capacity; ++k) out[k] = k < values.size() ? values[k] : 0.0;
}

// The covariance of a fit of `terms` terms into room for `room` x `room`
// entries: row-major (terms x terms) at the start, the rest cleared.
void writeCovariance(double *out, std::size_t room, const fitting::Fit &fit) noexcept {
  if (out == nullptr) return;
  const bool ok = fit.status == fitting::Status::ok;
  for (std::size_t k = 0; k < room * room; ++k)
    out[k] = ok && k < fit.covariance.size() ? fit.covariance[k] : 0.0;
}

// A least-squares fit as its export makes it: whatever escapes the fitting
// (out of memory, or anything a library below throws) reads as out of memory.
template <class Fitting>
fitting::Fit guardedFit(Fitting &&fit) noexcept {
  return guarded(fit, [](Failure) { return failure(fitting::Status::outOfMemory); });
}

// Stepwise selection from the candidates given (none: the default ones).
fitting::Fit selectFrom(const fitting::Measurements &rows, const double *candidates, int count,
                        int capacity, bool tipZero) noexcept {
  return guardedFit([&] {
    const std::span<const double> pool =
        candidates != nullptr && count != 0 ? std::span(candidates, static_cast<std::size_t>(count))
                                            : fitting::defaultCandidates();
    return fitting::selectExponents(fitting::readSample(rows), pool, capacity, tipZero);
  });
}

bool knownFlags(int flags) noexcept { return (flags & ~XYLOTRAK_FIT_TIP_ZERO) == 0; }

// The record's arrays as spans, or nothing when they cannot be read.
std::optional<fitting::FittedModel> modelOf(const xylotrak_taper_fit *fit) noexcept {
  if (fit == nullptr || fit->coefs == nullptr || fit->exps == nullptr || fit->covariance == nullptr)
    return std::nullopt;
  const int n = low16(fit->termCount);
  const int q = low16(fit->randomCount);
  if (n < 0 || q < 0 || q > n + 1) return std::nullopt;
  if (q > 0 && (fit->randomTerms == nullptr || fit->randomCovariance == nullptr))
    return std::nullopt;
  const auto p = static_cast<std::size_t>(n) + 1;
  const auto r = static_cast<std::size_t>(q);
  fitting::FittedModel m;
  m.coefs = std::span(fit->coefs, p);
  m.exps = std::span(fit->exps, p);
  m.covariance = std::span(fit->covariance, p * p);
  if (r > 0) {
    m.randomTerms = std::span(fit->randomTerms, r);
    m.randomCovariance = std::span(fit->randomCovariance, r * r);
  }
  m.residualVariance = fit->residualVariance;
  m.degreesOfFreedom = fit->degreesOfFreedom;
  m.calibrated = (fit->flags & XYLOTRAK_TAPER_FIT_CALIBRATED) != 0;
  if (!fitting::validModel(m)) return std::nullopt;
  return m;
}

bool goodTree(double dbh, double totalHeight) noexcept {
  return std::isfinite(dbh) && std::isfinite(totalHeight) && dbh > 0 && totalHeight > 0;
}

std::optional<fitting::IntervalKind> kindOf(int interval, double level) noexcept {
  if (!(level > 0 && level < 1)) return std::nullopt;
  const int k = low16(interval);
  if (k == XYLOTRAK_INTERVAL_CONFIDENCE) return fitting::IntervalKind::confidence;
  if (k == XYLOTRAK_INTERVAL_PREDICTION) return fitting::IntervalKind::prediction;
  return std::nullopt;
}

std::int32_t deliverInterval(fitting::Status status, const fitting::Interval &i, double *value,
                             double *lower, double *upper) noexcept {
  const bool ok = status == fitting::Status::ok;
  *value = ok ? i.value : 0.0;
  *lower = ok ? i.lower : 0.0;
  *upper = ok ? i.upper : 0.0;
  return static_cast<std::int32_t>(status);
}

}  // namespace

extern "C" {

XYLOTRAK_API int32_t PHFuDll(double dbh, double totalHeight, double height, double diameter) {
  return fitting::usableRow(dbh, totalHeight, height, diameter) ? 1 : 0;
}

XYLOTRAK_API int32_t PHFtDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *exps,
                             int termCount, double *coefs, double *standardErrors,
                             xylotrak_fit_stats *stats) {
  const int n = low16(termCount);
  const std::size_t terms = n >= 0 ? static_cast<std::size_t>(n) + 1 : 0;
  if (n < 0 || exps == nullptr || coefs == nullptr ||
      !haveRows(dbh, totalHeight, height, diameter, rowCount)) {
    return deliver(failure(fitting::Status::badArgument), terms, nullptr, coefs, standardErrors,
                   stats);
  }
  const fitting::Fit fit = guardedFit([&] {
    const fitting::Sample sample =
        fitting::readSample({dbh, totalHeight, height, diameter, rowCount});
    return fitting::fitExponents(sample, std::span(exps, terms));
  });
  return deliver(fit, terms, nullptr, coefs, standardErrors, stats);
}

XYLOTRAK_API int32_t PHFsDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *candidates,
                             int candidateCount, int maxTerms, double *exps, double *coefs,
                             double *standardErrors, int32_t *termCount,
                             xylotrak_fit_stats *stats) {
  const int capacity = low16(maxTerms);
  const std::size_t terms = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  if (termCount != nullptr) *termCount = 0;
  const int count = low16(candidateCount);
  if (capacity < 1 || exps == nullptr || coefs == nullptr || termCount == nullptr || count < 0 ||
      !haveRows(dbh, totalHeight, height, diameter, rowCount)) {
    return deliver(failure(fitting::Status::badArgument), terms, exps, coefs, standardErrors,
                   stats);
  }
  const fitting::Fit fit = selectFrom({dbh, totalHeight, height, diameter, rowCount}, candidates,
                                      count, capacity, false);
  if (fit.status == fitting::Status::ok) *termCount = static_cast<int32_t>(fit.exps.size()) - 1;
  return deliver(fit, terms, exps, coefs, standardErrors, stats);
}

XYLOTRAK_API int32_t PHFcDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *exps,
                             int termCount, int flags, double *coefs, double *standardErrors,
                             double *covariance, int64_t *residualDf, xylotrak_fit_stats *stats) {
  const int n = low16(termCount);
  const std::size_t terms = n >= 0 ? static_cast<std::size_t>(n) + 1 : 0;
  if (residualDf != nullptr) *residualDf = 0;
  fitting::Fit fit = failure(fitting::Status::badArgument);
  if (n >= 0 && exps != nullptr && coefs != nullptr && knownFlags(flags) &&
      haveRows(dbh, totalHeight, height, diameter, rowCount)) {
    fit = guardedFit([&] {
      const fitting::Sample sample =
          fitting::readSample({dbh, totalHeight, height, diameter, rowCount});
      return fitting::fitExponents(sample, std::span(exps, terms),
                                   (flags & XYLOTRAK_FIT_TIP_ZERO) != 0);
    });
  }
  if (fit.status == fitting::Status::ok && residualDf != nullptr) *residualDf = fit.residualDf;
  writeCovariance(covariance, terms, fit);
  return deliver(fit, terms, nullptr, coefs, standardErrors, stats);
}

XYLOTRAK_API int32_t PHFwDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *candidates,
                             int candidateCount, int maxTerms, int flags, double *exps,
                             double *coefs, double *standardErrors, double *covariance,
                             int32_t *termCount, int64_t *residualDf, xylotrak_fit_stats *stats) {
  const int capacity = low16(maxTerms);
  const std::size_t terms = capacity > 0 ? static_cast<std::size_t>(capacity) : 0;
  if (termCount != nullptr) *termCount = 0;
  if (residualDf != nullptr) *residualDf = 0;
  const int count = low16(candidateCount);
  fitting::Fit fit = failure(fitting::Status::badArgument);
  if (capacity >= 1 && exps != nullptr && coefs != nullptr && termCount != nullptr && count >= 0 &&
      knownFlags(flags) && haveRows(dbh, totalHeight, height, diameter, rowCount)) {
    fit = selectFrom({dbh, totalHeight, height, diameter, rowCount}, candidates, count, capacity,
                     (flags & XYLOTRAK_FIT_TIP_ZERO) != 0);
  }
  if (fit.status == fitting::Status::ok) {
    *termCount = static_cast<int32_t>(fit.exps.size()) - 1;
    if (residualDf != nullptr) *residualDf = fit.residualDf;
  }
  // The covariance is (n+1) x (n+1) row-major at the start of its room.
  writeCovariance(covariance, terms, fitting::Fit{});
  if (covariance != nullptr && fit.status == fitting::Status::ok)
    std::copy(fit.covariance.begin(), fit.covariance.end(), covariance);
  return deliver(fit, terms, exps, coefs, standardErrors, stats);
}

XYLOTRAK_API int32_t PHFmDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, const int64_t *tree, int64_t rowCount,
                             const double *exps, int termCount, const int32_t *randomTerms,
                             int randomCount, double *coefs, double *standardErrors,
                             double *covariance, double *randomCovariance,
                             xylotrak_mixed_stats *stats) {
  const int n = low16(termCount);
  const int q = low16(randomCount);
  const std::size_t terms = n >= 0 ? static_cast<std::size_t>(n) + 1 : 0;
  const std::size_t randoms = q > 0 ? static_cast<std::size_t>(q) : 0;
  fitting::MixedFit fit;
  fit.status = fitting::Status::badArgument;
  if (n >= 0 && q >= 1 && exps != nullptr && coefs != nullptr && randomTerms != nullptr &&
      (rowCount == 0 || tree != nullptr) &&
      haveRows(dbh, totalHeight, height, diameter, rowCount)) {
    fit = guarded(
        [&] {
          const fitting::Sample sample =
              fitting::readSample({dbh, totalHeight, height, diameter, rowCount, tree});
          return fitting::fitMixed(sample, std::span(exps, terms), std::span(randomTerms, randoms));
        },
        [](Failure) {
          fitting::MixedFit none;
          none.status = fitting::Status::outOfMemory;
          return none;
        });
  }
  const bool ok = fit.status == fitting::Status::ok;
  const std::vector<double> none;
  writeArray(coefs, terms, ok ? fit.coefs : none);
  writeArray(standardErrors, terms, ok ? fit.standardErrors : none);
  writeArray(covariance, terms * terms, ok ? fit.covariance : none);
  writeArray(randomCovariance, randoms * randoms, ok ? fit.randomCovariance : none);
  if (stats != nullptr) {
    *stats = {ok ? fit.residualSd : 0.0,
              ok ? fit.remlLogLik : 0.0,
              fit.rowsUsed,
              fit.rowsSkipped,
              fit.trees,
              fit.iterations,
              static_cast<int32_t>(fit.convergence)};
  }
  return static_cast<std::int32_t>(fit.status);
}

XYLOTRAK_API int32_t PHDcDll(const xylotrak_taper_fit *fit, double dbh, double totalHeight,
                             double height, int interval, double level, double *diameter,
                             double *lower, double *upper) {
  if (diameter == nullptr || lower == nullptr || upper == nullptr) {
    return static_cast<std::int32_t>(fitting::Status::badArgument);
  }
  const std::optional<fitting::FittedModel> model = modelOf(fit);
  const std::optional<fitting::IntervalKind> kind = kindOf(interval, level);
  if (!model || !kind || !goodTree(dbh, totalHeight) || !(height >= 0 && height <= totalHeight)) {
    return deliverInterval(fitting::Status::badArgument, {}, diameter, lower, upper);
  }
  return guarded(
      [&] {
        const fitting::Interval i =
            fitting::diameterInterval(*model, dbh, totalHeight, height, *kind, level);
        return deliverInterval(fitting::Status::ok, i, diameter, lower, upper);
      },
      [&](Failure) {
        return deliverInterval(fitting::Status::outOfMemory, {}, diameter, lower, upper);
      });
}

XYLOTRAK_API int32_t PHVcDll(const xylotrak_taper_fit *fit, double dbh, double totalHeight,
                             double lowerHeight, double upperHeight, double lowerDiam,
                             double upperDiam, double logLength, int interval, double level,
                             double *volume, double *lower, double *upper) {
  if (volume == nullptr || lower == nullptr || upper == nullptr) {
    return static_cast<std::int32_t>(fitting::Status::badArgument);
  }
  const std::optional<fitting::FittedModel> model = modelOf(fit);
  const std::optional<fitting::IntervalKind> kind = kindOf(interval, level);
  if (!model || !kind || !goodTree(dbh, totalHeight)) {
    return deliverInterval(fitting::Status::badArgument, {}, volume, lower, upper);
  }
  return guarded(
      [&] {
        const fitting::Interval i = fitting::volumeInterval(
            *model, dbh, totalHeight, {lowerHeight, upperHeight, lowerDiam, upperDiam, logLength},
            *kind, level);
        return deliverInterval(fitting::Status::ok, i, volume, lower, upper);
      },
      [&](Failure) {
        return deliverInterval(fitting::Status::outOfMemory, {}, volume, lower, upper);
      });
}

XYLOTRAK_API int32_t PHCbDll(const xylotrak_taper_fit *fit, double dbh, double totalHeight,
                             const double *heights, const double *diameters, int measurementCount,
                             double *coefs, double *covariance, int32_t *flags) {
  if (flags != nullptr) *flags = 0;
  const std::optional<fitting::FittedModel> model = modelOf(fit);
  const int count = low16(measurementCount);
  // The record's term count sizes the outputs even when the record is
  // refused, so that they are cleared on every error.
  const int n = fit != nullptr ? low16(fit->termCount) : -1;
  const std::size_t terms = n >= 0 ? static_cast<std::size_t>(n) + 1 : 0;
  auto clear = [&](fitting::Status status) {
    const std::vector<double> none;
    writeArray(coefs, terms, none);
    writeArray(covariance, terms * terms, none);
    return static_cast<std::int32_t>(status);
  };
  if (!model || model->calibrated || coefs == nullptr || covariance == nullptr || count < 0 ||
      (count > 0 && (heights == nullptr || diameters == nullptr)) || !goodTree(dbh, totalHeight)) {
    return clear(fitting::Status::badArgument);
  }
  const auto m = static_cast<std::size_t>(count);
  for (std::size_t j = 0; j < m; ++j) {
    if (!(heights[j] >= 0 && heights[j] <= totalHeight) || !std::isfinite(diameters[j]) ||
        diameters[j] < 0)
      return clear(fitting::Status::badArgument);
  }
  return guarded(
      [&] {
        const fitting::Calibration c = fitting::calibrate(
            *model, dbh, totalHeight, std::span(heights, m), std::span(diameters, m));
        const auto finite = [](const std::vector<double> &v) {
          return std::all_of(v.begin(), v.end(), [](double a) { return std::isfinite(a); });
        };
        if (!finite(c.coefs) || !finite(c.covariance)) return clear(fitting::Status::overflow);
        writeArray(coefs, terms, c.coefs);
        writeArray(covariance, terms * terms, c.covariance);
        if (flags != nullptr && c.outlying) *flags = XYLOTRAK_CALIBRATION_OUTLYING;
        return static_cast<std::int32_t>(fitting::Status::ok);
      },
      [&](Failure) { return clear(fitting::Status::outOfMemory); });
}

}  // extern "C"
