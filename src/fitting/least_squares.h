// Least-squares fits of the relative-diameter model d/dbh = sum c_k (h/H)^e_k
// to measured stems, with given exponents or exponents chosen stepwise from a
// candidate set. Pure mathematics: no accounting, no C types beyond doubles.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace xylotrak::fitting {

// Column arrays of measurements as the caller holds them: per row the tree's
// dbh (cm) and total height (m), the measurement height (m) and diameter (cm).
struct Measurements {
  const double *dbh = nullptr;
  const double *totalHeight = nullptr;
  const double *height = nullptr;
  const double *diameter = nullptr;
  std::int64_t rows = 0;
  const std::int64_t *tree = nullptr;  // the tree of each row, for mixed-effects fits
};

// The rows a fit uses, already relative: x = h/H, y = d/dbh.
struct Sample {
  std::vector<double> x;
  std::vector<double> y;
  std::vector<double> dbh;
  std::vector<std::int64_t> tree;  // only when the measurements name trees
  std::int64_t skipped = 0;
};

// Keeps the rows whose four values are finite, with dbh > 0, H > 0,
// 0 <= h <= H and a finite d/dbh; counts the others.
// Whether the fit uses a measurement row (PHFuDll): all four values finite,
// dbh and totalHeight above 0, h within [0, totalHeight], d / dbh finite.
bool usableRow(double dbh, double totalHeight, double h, double d) noexcept;

Sample readSample(const Measurements &rows);

enum class Status : std::int32_t {
  ok = 0,
  tooFewRows = 1,
  rankDeficient = 2,
  badArgument = 3,
  outOfMemory = 4,
  overflow = 5,
  notConverged = 6,
};

struct Statistics {
  double residualStdError = 0;  // relative diameter
  double rSquared = 0;
  double bias = 0;          // mean(observed - fitted), relative diameter
  double diameterRmse = 0;  // cm
  double diameterBias = 0;  // cm
  std::int64_t rowsUsed = 0;
  std::int64_t rowsSkipped = 0;
};

struct Fit {
  Status status = Status::ok;
  std::vector<double> exps;
  std::vector<double> coefs;
  std::vector<double> standardErrors;
  // The coefficients' covariance s^2 (X'X)^-1, row-major, terms x terms; for a
  // fit through the tip that of the constrained estimator.
  std::vector<double> covariance;
  double rss = 0;               // residual sum of squares of the relative diameter
  std::int64_t residualDf = 0;  // rows used minus free coefficients
  Statistics stats;
};

// Whether an exponent can enter a fit: finite and not negative.
bool usableExponent(double e) noexcept;

// The least-squares coefficients for the exponents, by a QR factorisation
// with column pivoting. With tipZero the coefficients are constrained to sum
// to 0 (the profile is 0 at the tip): the constraint's null space, from a
// Householder factor of the constraint row, carries the free coefficients,
// which are fitted as above. Throws std::bad_alloc when memory runs out.
Fit fitExponents(const Sample &sample, std::span<const double> exps, bool tipZero = false);

// The candidate exponents stepwise selection starts from when given none.
std::span<const double> defaultCandidates() noexcept;

// Exponent 0 always in as term 0; candidates added or removed one at a time
// by partial F at 5%, at most maxTerms terms in all (see the header of the
// library for the rules). On success the exponents after term 0 ascend.
// Throws std::bad_alloc when memory runs out.
// With tipZero every model tried is constrained through the tip: term 0's
// coefficient is minus the sum of the others, so a term enters as the column
// x^e - 1 and the model has no free constant.
Fit selectExponents(const Sample &sample, std::span<const double> candidates, int maxTerms,
                    bool tipZero = false);

// The 95% quantile of the F distribution with 1 and df degrees of freedom.
double fCritical(std::int64_t df);

}  // namespace xylotrak::fitting
