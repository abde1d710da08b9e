// The fitting exports: read the arguments, fit, and write the outputs; on any
// failure the outputs are cleared and the code says why. Not accounted.
#include <algorithm>
#include <cstdint>
#include <new>
#include <span>
#include <vector>

#include "abi.h"
#include "fitting/least_squares.h"
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

}  // namespace

extern "C" {

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
  try {
    const fitting::Sample sample =
        fitting::readSample({dbh, totalHeight, height, diameter, rowCount});
    const fitting::Fit fit = fitting::fitExponents(sample, std::span(exps, terms));
    return deliver(fit, terms, nullptr, coefs, standardErrors, stats);
  } catch (...) {  // std::bad_alloc, or anything else a library below may throw
    return deliver(failure(fitting::Status::outOfMemory), terms, nullptr, coefs, standardErrors,
                   stats);
  }
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
  const bool given = candidates != nullptr && count != 0;
  if (capacity < 1 || exps == nullptr || coefs == nullptr || termCount == nullptr || count < 0 ||
      !haveRows(dbh, totalHeight, height, diameter, rowCount)) {
    return deliver(failure(fitting::Status::badArgument), terms, exps, coefs, standardErrors,
                   stats);
  }
  try {
    const std::span<const double> pool =
        given ? std::span(candidates, static_cast<std::size_t>(count))
              : fitting::defaultCandidates();
    const fitting::Sample sample =
        fitting::readSample({dbh, totalHeight, height, diameter, rowCount});
    const fitting::Fit fit = fitting::selectExponents(sample, pool, capacity);
    if (fit.status == fitting::Status::ok) *termCount = static_cast<int32_t>(fit.exps.size()) - 1;
    return deliver(fit, terms, exps, coefs, standardErrors, stats);
  } catch (...) {
    return deliver(failure(fitting::Status::outOfMemory), terms, exps, coefs, standardErrors,
                   stats);
  }
}

}  // extern "C"
