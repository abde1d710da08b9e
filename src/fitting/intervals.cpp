#include "fitting/intervals.h"

#include <Eigen/Dense>
#include <algorithm>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>

#include "fault_injection.h"
#include "taper/evaluation.h"

namespace xylotrak::fitting {

namespace {

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;
using Index = Eigen::Index;
using RowMajor = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

double power(double x, double e) noexcept { return e == 0 ? 1.0 : std::pow(x, e); }

bool finite(std::span<const double> values) noexcept {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

Index terms(const FittedModel &m) { return static_cast<Index>(m.coefs.size()); }
Index randoms(const FittedModel &m) { return static_cast<Index>(m.randomTerms.size()); }

Matrix covarianceOf(const FittedModel &m) {
  fault::checkAllocation();
  return Eigen::Map<const RowMajor>(m.covariance.data(), terms(m), terms(m));
}

Matrix randomCovarianceOf(const FittedModel &m) {
  fault::checkAllocation();
  return Eigen::Map<const RowMajor>(m.randomCovariance.data(), randoms(m), randoms(m));
}

// The entries of a vector by term that belong to the random terms.
Vector randomPart(const FittedModel &m, const Vector &byTerm) {
  Vector z(randoms(m));
  for (Index k = 0; k < randoms(m); ++k) z(k) = byTerm(m.randomTerms[static_cast<std::size_t>(k)]);
  return z;
}

Interval around(double raw, double reported, double variance, double quantile) {
  // No spread gives no interval, however large (even infinite) the quantile.
  const double sd = std::sqrt(std::max(variance, 0.0));
  const double half = sd > 0 ? quantile * sd : 0.0;
  // The reported value (PHDiDll's diameter, its terms summed in its own
  // order) can lie a rounding outside raw -/+ half when half is that small:
  // the ends are widened to hold it.
  return {reported, std::min(std::max(raw - half, 0.0), reported),
          std::max(std::max(raw + half, 0.0), reported)};
}

}  // namespace

bool validModel(const FittedModel &m) noexcept {
  const auto p = m.coefs.size();
  const auto q = m.randomTerms.size();
  if (p == 0 || m.exps.size() != p || m.covariance.size() != p * p || q > p ||
      m.randomCovariance.size() != q * q)
    return false;
  if (!finite(m.coefs) || !finite(m.exps) || !finite(m.covariance) || !finite(m.randomCovariance) ||
      !std::isfinite(m.residualVariance) || m.residualVariance < 0 ||
      !std::isfinite(m.degreesOfFreedom) || m.degreesOfFreedom < 0)
    return false;
  for (std::size_t k = 0; k < q; ++k) {
    const std::int32_t t = m.randomTerms[k];
    if (t < 0 || static_cast<std::size_t>(t) >= p) return false;
    for (std::size_t j = 0; j < k; ++j)
      if (m.randomTerms[j] == t) return false;
  }
  return true;
}

double intervalQuantile(double level, double degreesOfFreedom) {
  const double probability = 0.5 + 0.5 * level;
  if (degreesOfFreedom > 0) {
    // Few enough degrees of freedom (far below 1) put the quantile beyond the
    // largest double: it is then infinite, not an error (Boost would throw).
    using Policy = boost::math::policies::policy<
        boost::math::policies::overflow_error<boost::math::policies::ignore_error>>;
    const boost::math::students_t_distribution<double, Policy> t(degreesOfFreedom);
    return boost::math::quantile(t, probability);
  }
  return boost::math::quantile(boost::math::normal_distribution<double>(), probability);
}

Interval diameterInterval(const FittedModel &m, double dbh, double totalHeight, double height,
                          IntervalKind kind, double level) {
  const Index p = terms(m);
  const taper::Model model{dbh, totalHeight, m.coefs.data(), m.exps.data(),
                           static_cast<int>(p - 1)};
  const double reported = taper::diameter(model, height);
  const double x = height / totalHeight;
  fault::checkAllocation();
  Vector g(p);
  g(0) = 1;
  for (Index k = 1; k < p; ++k) g(k) = std::pow(x, m.exps[static_cast<std::size_t>(k)]);
  const double raw = dbh * g.dot(Eigen::Map<const Vector>(m.coefs.data(), p));
  double relative = g.dot(covarianceOf(m) * g);
  if (kind == IntervalKind::prediction) {
    if (!m.calibrated && randoms(m) > 0) {
      const Vector z = randomPart(m, g);
      relative += z.dot(randomCovarianceOf(m) * z);
    }
    relative += m.residualVariance;
  }
  return around(raw, reported, dbh * dbh * relative, intervalQuantile(level, m.degreesOfFreedom));
}

std::vector<double> volumeGradient(const FittedModel &m, double dbh, double totalHeight,
                                   double lowerHeight, double upperHeight) {
  const std::size_t p = m.coefs.size();
  const double xl = lowerHeight / totalHeight;
  const double xu = upperHeight / totalHeight;
  const double scale = 2 * (taper::kAreaFactor * (dbh * dbh)) * totalHeight;
  std::vector<double> gradient(p, 0.0);
  for (std::size_t j = 0; j < p; ++j) {
    double sum = 0;
    for (std::size_t k = 0; k < p; ++k) {
      const double q = (m.exps[j] + m.exps[k]) + 1;
      sum += m.coefs[k] * ((std::pow(xu, q) - std::pow(xl, q)) / q);
    }
    gradient[j] = scale * sum;
  }
  return gradient;
}

Interval volumeInterval(const FittedModel &m, double dbh, double totalHeight,
                        const taper::Limits &limits, IntervalKind kind, double level) {
  const Index p = terms(m);
  const taper::Model model{dbh, totalHeight, m.coefs.data(), m.exps.data(),
                           static_cast<int>(p - 1)};
  taper::Evaluator stem(model, taper::Memory::kNone);
  const taper::Section section = stem.section(limits);
  const double top = taper::wholeLogsTop(section, limits.logLength);
  const double reported = stem.volume(limits);
  fault::checkAllocation();
  Vector gradient = Vector::Zero(p);
  if (top > section.lower) {
    const std::vector<double> g = volumeGradient(m, dbh, totalHeight, section.lower, top);
    gradient = Eigen::Map<const Vector>(g.data(), p);
  }
  double variance = gradient.dot(covarianceOf(m) * gradient);
  if (kind == IntervalKind::prediction && !m.calibrated) {
    if (randoms(m) > 0) {
      const Vector z = randomPart(m, gradient);
      variance += z.dot(randomCovarianceOf(m) * z);
    } else {
      variance += m.residualVariance * (gradient(0) * gradient(0));
    }
  }
  return around(reported, reported, variance, intervalQuantile(level, m.degreesOfFreedom));
}

Calibration calibrate(const FittedModel &m, double dbh, double totalHeight,
                      std::span<const double> heights, std::span<const double> diameters) {
  const Index p = terms(m);
  const Index q = randoms(m);
  const auto n = static_cast<Index>(heights.size());
  const Matrix c = covarianceOf(m);
  const Matrix d = randomCovarianceOf(m);
  const Eigen::Map<const Vector> beta(m.coefs.data(), p);
  fault::checkAllocation();
  Matrix e = Matrix::Zero(p, q);  // places the random effects among the terms
  for (Index k = 0; k < q; ++k) e(m.randomTerms[static_cast<std::size_t>(k)], k) = 1;
  Matrix x(n, p);
  Vector residual(n);
  for (Index j = 0; j < n; ++j) {
    const double r = heights[static_cast<std::size_t>(j)] / totalHeight;
    for (Index k = 0; k < p; ++k) x(j, k) = power(r, m.exps[static_cast<std::size_t>(k)]);
    residual(j) = diameters[static_cast<std::size_t>(j)] / dbh - x.row(j).dot(beta);
  }
  const Matrix z = x * e;
  // V = Z D Z' + sigma^2 I; K = D Z' V^-1, the predictor of b from the residuals.
  Matrix v = z * d * z.transpose();
  v.diagonal().array() += m.residualVariance;
  Calibration out;
  Matrix k = Matrix::Zero(q, n);
  if (n > 0) {
    // A least-squares fit has no random effects to predict (q = 0): K has no
    // rows, and Eigen's solve must not be handed a right-hand side of no
    // columns (it binds a reference to its null data).
    if (q > 0) {
      const Eigen::LDLT<Matrix> factor(v);
      if (factor.info() == Eigen::Success) k = factor.solve(z * d).transpose();
    }
    for (Index j = 0; j < n; ++j)
      if (std::abs(residual(j)) > 3.2905267314918945 * std::sqrt(v(j, j))) out.outlying = true;
  }
  const Vector coefs = beta + e * (k * residual);
  // (I - A X) C (I - A X)' + E (D - K Z D) E', A = E K: the error of the
  // estimated fixed effects carried through, and what the measurements leave
  // unknown of the tree's own effects.
  const Matrix a = e * k;
  const Matrix carry = Matrix::Identity(p, p) - a * x;
  Matrix cov = carry * c * carry.transpose() + e * (d - k * z * d) * e.transpose();
  cov = 0.5 * (cov + cov.transpose()).eval();
  out.coefs.assign(coefs.data(), coefs.data() + p);
  out.covariance.resize(static_cast<std::size_t>(p * p));
  Eigen::Map<RowMajor>(out.covariance.data(), p, p) = cov;
  return out;
}

}  // namespace xylotrak::fitting
