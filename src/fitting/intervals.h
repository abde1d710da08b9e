// Confidence and prediction intervals of a fitted taper model's diameters and
// volumes, and the calibration of a mixed-effects model to one tree.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "taper/profile.h"

namespace xylotrak::fitting {

// A fitted model with what its intervals need. Matrices are row-major.
struct FittedModel {
  std::span<const double> coefs;       // terms
  std::span<const double> exps;        // terms
  std::span<const double> covariance;  // terms x terms, of the coefficients
  std::span<const std::int32_t> randomTerms;
  std::span<const double> randomCovariance;  // random x random
  double residualVariance = 0;               // of the relative diameter
  double degreesOfFreedom = 0;               // of the t quantile; 0: normal
  bool calibrated = false;                   // coefficients and covariance are one tree's own
};

enum class IntervalKind : std::int32_t { confidence = 0, prediction = 1 };

struct Interval {
  double value = 0;
  double lower = 0;
  double upper = 0;
};

// Whether the model's arrays are usable: finite, residual variance and
// degrees of freedom not negative, random terms distinct and in range.
bool validModel(const FittedModel &model) noexcept;

// The two-sided quantile of the model's t (or normal) distribution for the
// level, in (0, 1).
double intervalQuantile(double level, double degreesOfFreedom);

// The diameter (cm) at `height`, as PHDiDll reports it, with its interval:
// var = dbh^2 (g'Cg [+ z'Dz + sigma^2 for a prediction]), g the terms'
// values at x = h/H (1 for term 0), z those of the random terms; a
// calibrated model adds sigma^2 only. The lower end is never below 0.
Interval diameterInterval(const FittedModel &model, double dbh, double totalHeight, double height,
                          IntervalKind kind, double level);

// The gradient of the section volume between relative heights xl and xu with
// respect to the coefficients (term 0 read as coefs[0] x^exps[0], as the
// volume exports integrate it): 2 K H sum_k c_k (xu^q - xl^q) / q,
// q = e_j + e_k + 1, K = pi/40000 dbh^2.
std::vector<double> volumeGradient(const FittedModel &model, double dbh, double totalHeight,
                                   double lowerHeight, double upperHeight);

// The section volume as PHViDll reports it, with its delta-method interval
// (the section's ends resolved once, from the fitted coefficients).
Interval volumeInterval(const FittedModel &model, double dbh, double totalHeight,
                        const taper::Limits &limits, IntervalKind kind, double level);

struct Calibration {
  std::vector<double> coefs;
  std::vector<double> covariance;
  bool outlying = false;  // a measurement lies beyond 99.9% of trees
};

// The tree's own coefficients beta + E b, b the best linear unbiased
// predictor of its random effects from the measured (height, diameter)
// pairs, and their covariance (see the library header).
Calibration calibrate(const FittedModel &model, double dbh, double totalHeight,
                      std::span<const double> heights, std::span<const double> diameters);

}  // namespace xylotrak::fitting
