#include "fitting/least_squares.h"

#include <Eigen/Dense>
#include <algorithm>
#include <array>
#include <boost/math/distributions/fisher_f.hpp>
#include <cmath>
#include <cstddef>
#include <optional>

#include "fault_injection.h"

namespace xylotrak::fitting {

namespace {

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;
using Index = Eigen::Index;

constexpr std::array<double, 22> kDefaultCandidates = {
    0.005, 0.01, 0.05, 0.1, 0.3, 0.5, 0.7, 1, 2, 3, 4, 5, 6, 7, 8, 10, 15, 20, 25, 30, 35, 40};

// Stepwise selection stops after this many additions and removals, whatever
// the data: a guard against a cycle, which the rules below make unlikely.
constexpr int kMaxSteps = 200;

// An improvement of the residual sum of squares below this share of the sum
// of squares of the observations is rounding, not signal: without it, data
// that a model fits exactly would take in terms that only reshuffle rounding.
const double kRoundingShare = std::ldexp(1.0, -40);

bool allFinite(const std::vector<double> &values) noexcept {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// x^e for the design matrix; x^0 is 1 for every x, 0 included.
double power(double x, double e) noexcept { return e == 0 ? 1.0 : std::pow(x, e); }

// What a full-rank factorisation X P = Q R gives for y, by column of X (not
// by pivot): Q'y, whose first p entries give the coefficients and the rest the
// residuals; the coefficients; and [(X'X)^-1]_jj, since (X'X)^-1 =
// P R^-1 R^-T P' makes the k-th pivot's variance factor the squared norm of
// row k of R^-1.
struct Unpivoted {
  Vector qty;
  Vector coefs;
  Vector inverseRowSquares;
  Matrix inverseGram;    // (X'X)^-1 = P R^-1 R^-T P'
  Matrix inverseFactor;  // P R^-1, by coefficient: (X'X)^-1 = F F'
};

template <class QR>
Unpivoted unpivot(const QR &qr, const Eigen::Ref<const Vector> &y) {
  const Index p = qr.cols();
  Unpivoted u;
  u.qty = qr.householderQ().transpose() * y;
  const auto r = qr.matrixR().topLeftCorner(p, p).template triangularView<Eigen::Upper>();
  const Vector z = r.solve(u.qty.head(p));
  const Matrix rInverse = r.solve(Matrix::Identity(p, p));
  u.coefs.resize(p);
  u.inverseRowSquares.resize(p);
  for (Index k = 0; k < p; ++k) {
    const Index j = qr.colsPermutation().indices()(k);
    u.coefs(j) = z(k);
    u.inverseRowSquares(j) = rInverse.row(k).squaredNorm();
  }
  fault::checkAllocation();
  const Matrix pivoted = rInverse * rInverse.transpose();
  u.inverseGram = qr.colsPermutation() * pivoted * qr.colsPermutation().transpose();
  u.inverseFactor = qr.colsPermutation() * rInverse;
  return u;
}

// One factorised design: the coefficients with the norms of the rows of
// R^-1 (for their standard errors) and the residuals.
struct Solved {
  Vector coefs;
  Vector inverseRowNorms;  // by coefficient, not by pivot
  Matrix inverseGram;      // (X'X)^-1, by coefficient
  Matrix inverseFactor;    // F with (X'X)^-1 = F F', by coefficient
  Vector residuals;
  double rss = 0;
};

// Factorises `design` in place (X P = Q R; the matrix is overwritten) and
// solves; nothing when the design is rank-deficient.
std::optional<Solved> solve(Matrix &design, const Eigen::Ref<const Vector> &y) {
  const Index p = design.cols();
  fault::checkAllocation();
  const Eigen::ColPivHouseholderQR<Eigen::Ref<Matrix>> qr(design);
  if (qr.rank() < p) return std::nullopt;
  Unpivoted u = unpivot(qr, y);
  Solved s;
  s.coefs = std::move(u.coefs);
  s.inverseRowNorms = u.inverseRowSquares.cwiseSqrt();
  s.inverseGram = std::move(u.inverseGram);
  s.inverseFactor = std::move(u.inverseFactor);
  u.qty.head(p).setZero();
  s.residuals = qr.householderQ() * u.qty;
  s.rss = s.residuals.squaredNorm();
  return s;
}

Fit failed(Status status, const Sample &sample) {
  Fit fit;
  fit.status = status;
  fit.stats.rowsUsed = static_cast<std::int64_t>(sample.x.size());
  fit.stats.rowsSkipped = sample.skipped;
  return fit;
}

// `freeCoefficients` is the number of coefficients the data determine: the
// terms, less one for a fit through the tip.
Fit finish(const Sample &sample, std::span<const double> exps, const Solved &solved,
           Index freeCoefficients) {
  Fit fit;
  const auto m = static_cast<std::int64_t>(sample.x.size());
  const auto p = static_cast<std::int64_t>(exps.size());
  fit.exps.assign(exps.begin(), exps.end());
  fit.coefs.assign(solved.coefs.data(), solved.coefs.data() + solved.coefs.size());
  fit.rss = solved.rss;
  fit.residualDf = m - static_cast<std::int64_t>(freeCoefficients);
  const double s = std::sqrt(solved.rss / static_cast<double>(fit.residualDf));
  fit.standardErrors.resize(static_cast<std::size_t>(p));
  for (std::int64_t k = 0; k < p; ++k) {
    fit.standardErrors[static_cast<std::size_t>(k)] = s * solved.inverseRowNorms(k);
  }
  fit.covariance.resize(static_cast<std::size_t>(p * p));
  Eigen::Map<Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>>(
      fit.covariance.data(), p, p) = (s * s) * solved.inverseGram;

  double ySum = 0;
  for (double y : sample.y) ySum += y;
  const double yMean = ySum / static_cast<double>(m);
  double tss = 0;
  double residualSum = 0;
  double cmSquares = 0;
  double cmSum = 0;
  for (std::size_t i = 0; i < sample.y.size(); ++i) {
    const double centred = sample.y[i] - yMean;
    tss += centred * centred;
    const double r = solved.residuals(static_cast<Index>(i));
    residualSum += r;
    const double cm = r * sample.dbh[i];
    cmSum += cm;
    cmSquares += cm * cm;
  }
  Statistics &st = fit.stats;
  st.residualStdError = s;
  // A constant response has nothing to explain: a perfect fit explains all.
  st.rSquared = tss > 0 ? 1 - solved.rss / tss : (solved.rss == 0 ? 1.0 : 0.0);
  st.bias = residualSum / static_cast<double>(m);
  st.diameterRmse = std::sqrt(cmSquares / static_cast<double>(m));
  st.diameterBias = cmSum / static_cast<double>(m);
  st.rowsUsed = m;
  st.rowsSkipped = sample.skipped;
  return fit;
}

}  // namespace

// The relative diameter of a finite diameter can still overflow (a subnormal
// dbh), so it is tested as it will be used.
bool usableRow(double dbh, double totalHeight, double h, double d) noexcept {
  if (!std::isfinite(dbh) || !std::isfinite(totalHeight) || !std::isfinite(h) ||
      !std::isfinite(d)) {
    return false;
  }
  return dbh > 0 && totalHeight > 0 && h >= 0 && h <= totalHeight && std::isfinite(d / dbh);
}

Sample readSample(const Measurements &rows) {
  Sample sample;
  std::int64_t kept = 0;
  for (std::int64_t i = 0; i < rows.rows; ++i) {
    if (usableRow(rows.dbh[i], rows.totalHeight[i], rows.height[i], rows.diameter[i])) ++kept;
  }
  fault::checkAllocation();
  sample.x.reserve(static_cast<std::size_t>(kept));
  sample.y.reserve(static_cast<std::size_t>(kept));
  sample.dbh.reserve(static_cast<std::size_t>(kept));
  if (rows.tree != nullptr) sample.tree.reserve(static_cast<std::size_t>(kept));
  for (std::int64_t i = 0; i < rows.rows; ++i) {
    const double dbh = rows.dbh[i];
    const double total = rows.totalHeight[i];
    if (!usableRow(dbh, total, rows.height[i], rows.diameter[i])) continue;
    sample.x.push_back(rows.height[i] / total);
    sample.y.push_back(rows.diameter[i] / dbh);
    sample.dbh.push_back(dbh);
    if (rows.tree != nullptr) sample.tree.push_back(rows.tree[i]);
  }
  sample.skipped = rows.rows - static_cast<std::int64_t>(sample.y.size());
  return sample;
}

bool usableExponent(double e) noexcept { return std::isfinite(e) && e >= 0; }

double fCritical(std::int64_t df) {
  const boost::math::fisher_f_distribution<double> f(1.0, static_cast<double>(df));
  return boost::math::quantile(f, 0.95);
}

Fit fitExponents(const Sample &sample, std::span<const double> exps, bool tipZero) {
  for (double e : exps) {
    if (!usableExponent(e)) return failed(Status::badArgument, sample);
  }
  const auto m = static_cast<Index>(sample.x.size());
  const auto p = static_cast<Index>(exps.size());
  if (p == 0 || (tipZero && p < 2)) return failed(Status::badArgument, sample);
  const Index free = tipZero ? p - 1 : p;
  if (m < free + 1) return failed(Status::tooFewRows, sample);
  fault::checkAllocation();
  Matrix design(m, p);
  for (Index k = 0; k < p; ++k) {
    const double e = exps[static_cast<std::size_t>(k)];
    for (Index i = 0; i < m; ++i) design(i, k) = power(sample.x[static_cast<std::size_t>(i)], e);
  }
  const Eigen::Map<const Vector> y(sample.y.data(), m);
  std::optional<Solved> solved;
  if (!tipZero) {
    solved = solve(design, y);
  } else {
    // The coefficients c with 1'c = 0 are c = N z, N the last p - 1 columns
    // of the orthogonal factor of the constraint column 1: fit z to X N.
    fault::checkAllocation();
    const Eigen::HouseholderQR<Matrix> constraint(Matrix::Ones(p, 1));
    const Matrix basis = Matrix(constraint.householderQ()).rightCols(p - 1);
    Matrix reduced = design * basis;
    solved = solve(reduced, y);
    if (solved) {
      // The covariance N G N' as M M', M = N F (G = F F'): its diagonal is
      // the squared norms of M's rows, never negative. (Formed as N G N', an
      // ill-conditioned design's cancellation gave negative variances, and
      // standard errors of 0, for coefficients known to no digit.)
      solved->coefs = basis * solved->coefs;
      fault::checkAllocation();
      const Matrix factor = basis * solved->inverseFactor;
      solved->inverseGram = factor * factor.transpose();
      solved->inverseRowNorms = factor.rowwise().norm();
    }
  }
  if (!solved) return failed(Status::rankDeficient, sample);
  Fit fit = finish(sample, exps, *solved, free);
  const Statistics &st = fit.stats;
  if (!allFinite(fit.coefs) || !allFinite(fit.standardErrors) || !allFinite(fit.covariance) ||
      !allFinite({st.residualStdError, st.rSquared, st.bias, st.diameterRmse, st.diameterBias})) {
    return failed(Status::overflow, sample);
  }
  return fit;
}

std::span<const double> defaultCandidates() noexcept { return kDefaultCandidates; }

namespace {

// The model of a stepwise search as it stands: its design factorised, the
// residual part of Q'y, and what removing each term would cost.
struct Stepwise {
  Eigen::ColPivHouseholderQR<Matrix> qr;
  Vector residualPart;  // the last m - p entries of Q'y
  double rss = 0;
  // Per column of the design (the constant first): the growth of the residual
  // sum of squares without it, c_j^2 / [(X'X)^-1]_jj.
  Vector removalCost;
};

// Factorises the constant column (`base` 1; none with `base` 0, for fits
// through the tip) and the chosen candidate columns; nothing when they are
// rank-deficient.
std::optional<Stepwise> factorise(const Matrix &candidates, const std::vector<Index> &chosen,
                                  const Eigen::Ref<const Vector> &y, Index base) {
  const Index m = candidates.rows();
  const auto p = static_cast<Index>(chosen.size()) + base;
  fault::checkAllocation();
  Matrix design(m, p);
  if (base == 1) design.col(0).setOnes();
  for (Index k = base; k < p; ++k)
    design.col(k) = candidates.col(chosen[static_cast<std::size_t>(k - base)]);
  Stepwise model;
  if (p == 0) {  // through the tip with no term yet: the model is 0, Q = I
    model.qr.compute(Matrix::Zero(m, 1));  // a zero column reflects nothing
    model.residualPart = y;
    model.rss = y.squaredNorm();
    return model;
  }
  model.qr.compute(design);
  if (model.qr.rank() < p) return std::nullopt;
  const Unpivoted u = unpivot(model.qr, y);
  model.residualPart = u.qty.tail(m - p);
  model.rss = model.residualPart.squaredNorm();
  model.removalCost = u.coefs.cwiseAbs2().cwiseQuotient(u.inverseRowSquares);
  return model;
}

// A candidate column whose part independent of the model's columns is below
// this share of its norm adds nothing but rounding: it is passed over.
constexpr double kDependentShare = 1e-10;

// Stepwise selection over the candidate columns: each step adds the candidate
// that lowers the residual sum of squares most, when the partial F test
// finds it significant, and then removes the term whose removal costs least,
// when that is not significant.
struct StepwiseSearch {
  const Matrix &columns;  // one column per candidate exponent
  const Vector &columnNorms;
  const Eigen::Ref<const Vector> y;
  double floor;  // a change in the residual sum of squares below this is rounding
  Index base;    // 1 with the constant column, 0 through the tip
  int maxTerms;

  std::vector<Index> chosen;  // columns of the candidates, in order of entry
  std::optional<Stepwise> model;
  Matrix w;  // Q'c for every candidate c, into the same memory every step

  Index rows() const { return columns.rows(); }

  // The model without candidates; false when even that is rank-deficient.
  bool start() {
    fault::checkAllocation();
    w.resize(rows(), columns.cols());
    model = factorise(columns, chosen, y, base);
    return model.has_value();
  }

  // Adds the candidate that lowers the residual sum of squares most: with
  // w = Q'c, its entry lowers it by (w_r . (Q'y)_r)^2 / |w_r|^2, w_r the
  // residual part of w. Returns whether a candidate entered.
  bool addStep() {
    const Index m = rows();
    const Index count = columns.cols();
    const auto terms = static_cast<Index>(chosen.size()) + 2;           // after the addition
    const Index fitted = static_cast<Index>(chosen.size()) + 1 + base;  // free coefficients
    if (!(terms <= maxTerms && m - fitted >= 1 && count > 0)) return false;
    w = columns;
    w.applyOnTheLeft(model->qr.householderQ().transpose());
    const Index rest = m - (fitted - 1);
    std::optional<Index> best;
    double bestGain = 0;
    for (Index k = 0; k < count; ++k) {
      if (std::find(chosen.begin(), chosen.end(), k) != chosen.end()) continue;
      const auto part = w.col(k).tail(rest);
      const double norm = part.norm();
      if (!(norm > kDependentShare * columnNorms(k))) continue;
      const double projection = part.dot(model->residualPart) / norm;
      const double gain = projection * projection;
      if (!best || gain > bestGain) {
        best = k;
        bestGain = gain;
      }
    }
    if (!best || !(bestGain > floor)) return false;
    // What is left, from the residuals themselves: the difference of two
    // nearly equal sums would lose it when the candidate explains nearly all.
    const auto part = w.col(*best).tail(rest);
    const double after =
        (model->residualPart - (part.dot(model->residualPart) / part.squaredNorm()) * part)
            .squaredNorm();
    const double df = static_cast<double>(m - fitted);
    if (!(bestGain / (after / df) > fCritical(m - fitted))) return false;
    chosen.push_back(*best);
    std::optional<Stepwise> grown = factorise(columns, chosen, y, base);
    if (!grown) {
      chosen.pop_back();  // dependent after all, by the factorisation's test
      return false;
    }
    model = std::move(grown);
    return true;
  }

  // After an addition, removes the term whose removal costs least, if that
  // is not significant. False only when the smaller model cannot be
  // factorised (it cannot happen: a subset of a full-rank set).
  bool removeStep() {
    if (chosen.size() <= 1) return true;
    const auto p = static_cast<Index>(chosen.size()) + base;
    const double df = static_cast<double>(rows() - p);
    Index weakest = base;
    for (Index j = base + 1; j < p; ++j) {
      if (model->removalCost(j) < model->removalCost(weakest)) weakest = j;
    }
    const double cost = model->removalCost(weakest);
    const double f = cost <= floor ? 0.0 : cost / (model->rss / df);
    if (!(f < fCritical(rows() - p))) return true;
    chosen.erase(chosen.begin() + static_cast<std::ptrdiff_t>(weakest - base));
    std::optional<Stepwise> shrunk = factorise(columns, chosen, y, base);
    if (!shrunk) return false;
    model = std::move(shrunk);
    return true;
  }
};

}  // namespace

Fit selectExponents(const Sample &sample, std::span<const double> candidates, int maxTerms,
                    bool tipZero) {
  if (maxTerms < 1) return failed(Status::badArgument, sample);
  for (double e : candidates) {
    if (!usableExponent(e)) return failed(Status::badArgument, sample);
  }
  const auto m = static_cast<Index>(sample.x.size());
  if (m < 2) return failed(Status::tooFewRows, sample);

  // The candidates in their order, without 0 (always in) and repeats.
  std::vector<double> pool;
  for (double e : candidates) {
    if (e != 0 && std::find(pool.begin(), pool.end(), e) == pool.end()) pool.push_back(e);
  }
  const auto count = static_cast<Index>(pool.size());
  fault::checkAllocation();
  Matrix columns(m, count);
  for (Index k = 0; k < count; ++k) {
    const double e = pool[static_cast<std::size_t>(k)];
    for (Index i = 0; i < m; ++i) columns(i, k) = power(sample.x[static_cast<std::size_t>(i)], e);
  }
  // Through the tip, term 0 is minus the others: a term's column is x^e - 1.
  const Index base = tipZero ? 0 : 1;
  if (tipZero) columns.array() -= 1.0;
  const Vector columnNorms = columns.colwise().norm();
  const Eigen::Map<const Vector> y(sample.y.data(), m);
  StepwiseSearch search{columns, columnNorms, y, kRoundingShare * y.squaredNorm(), base, maxTerms,
                        {},      {},          {}};
  if (!search.start()) return failed(Status::rankDeficient, sample);
  for (int step = 0; step < kMaxSteps; ++step) {
    if (!search.addStep()) break;
    if (!search.removeStep()) return failed(Status::rankDeficient, sample);
  }
  const std::vector<Index> &chosen = search.chosen;

  std::vector<double> exps{0.0};
  for (Index k : chosen) exps.push_back(pool[static_cast<std::size_t>(k)]);
  std::sort(exps.begin() + 1, exps.end());
  // Through the tip a model needs a term besides exponent 0.
  if (tipZero && exps.size() < 2) return failed(Status::rankDeficient, sample);
  return fitExponents(sample, exps, tipZero);
}

}  // namespace xylotrak::fitting
