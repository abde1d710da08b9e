// Mixed-effects fits of the relative profile: a random deviation of each tree
// from the mean curve on some of its terms, with an unstructured covariance,
// fitted by restricted maximum likelihood (REML).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "fitting/least_squares.h"

namespace xylotrak::fitting {

// Why a REML fit did not converge.
enum class Convergence : std::int32_t {
  converged = 0,
  iterationLimit = 1,  // the search was still moving after the most iterations allowed
  nonfinite = 2,       // the restricted likelihood was not finite at the start
};

struct MixedFit {
  Status status = Status::ok;
  std::vector<double> coefs;             // fixed effects
  std::vector<double> standardErrors;    // of the fixed effects
  std::vector<double> covariance;        // of the fixed effects, row-major
  std::vector<double> randomCovariance;  // of the random effects, row-major
  double residualSd = 0;
  double remlLogLik = 0;
  std::int64_t rowsUsed = 0;
  std::int64_t rowsSkipped = 0;
  std::int64_t trees = 0;
  std::int32_t iterations = 0;
  Convergence convergence = Convergence::converged;
};

// The most search iterations of a REML fit.
constexpr int kMaxRemlIterations = 5000;

// For the fuzz harness: the search's iteration limit (0 or less restores
// kMaxRemlIterations), so that inputs whose search would run its full
// course stop early, through the same path. Not for use by the exports.
void setRemlIterationLimitForTesting(int limit) noexcept;

// Fits d/dbh = sum_k (beta_k + b_k) x^e_k (b_k = 0 for terms not in
// `randomTerms`; columns as in fitExponents) with b ~ N(0, D) per tree (the trees
// of `sample.tree`) and independent residuals N(0, sigma^2). The profiled
// restricted likelihood is maximised over the relative Cholesky factor of
// D / sigma^2 by a Nelder-Mead search; every matrix step is an Eigen
// Cholesky factorisation. Throws std::bad_alloc when memory runs out.
MixedFit fitMixed(const Sample &sample, std::span<const double> exps,
                  std::span<const std::int32_t> randomTerms);

}  // namespace xylotrak::fitting
