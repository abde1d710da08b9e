#include "fitting/mixed.h"

#include <Eigen/Dense>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>
#include <numeric>

#include "abi.h"
#include "fault_injection.h"

namespace xylotrak::fitting {

namespace {

// The iteration limit of the search: kMaxRemlIterations unless a test sets it.
std::atomic<int> iterationLimit{kMaxRemlIterations};

using Matrix = Eigen::MatrixXd;
using Vector = Eigen::VectorXd;
using Index = Eigen::Index;

double power(double x, double e) noexcept { return e == 0 ? 1.0 : std::pow(x, e); }

// What one tree contributes, summed once: Z'Z, Z'X and Z'y.
struct TreeSums {
  Matrix ztz;
  Matrix ztx;
  Vector zty;
};

// The profiled restricted likelihood of the data for a relative factor
// Lambda (D = sigma^2 Lambda Lambda'), after Woodbury: per tree
// M = I + Lambda' Z'Z Lambda, V^-1 sigma^2 = I - Z Lambda M^-1 Lambda' Z'.
class Reml {
 public:
  Reml(const Matrix &x, const Vector &y, const std::vector<TreeSums> &trees, Index q)
      : q_(q),
        trees_(trees),
        xtx_(x.transpose() * x),
        xty_(x.transpose() * y),
        yty_(y.squaredNorm()),
        rows_(x.rows()),
        p_(x.cols()) {}

  // Lambda from the search's parameters: its lower triangle by columns.
  Matrix lambda(const Vector &theta) const {
    Matrix l = Matrix::Zero(q_, q_);
    Index k = 0;
    for (Index j = 0; j < q_; ++j)
      for (Index i = j; i < q_; ++i) l(i, j) = theta(k++);
    return l;
  }

  struct Result {
    double deviance = std::numeric_limits<double>::infinity();  // -2 log L_R
    Vector beta;
    Matrix xwx;  // X' V^-1 X sigma^2
    double sigma2 = 0;
  };

  Result evaluate(const Vector &theta) const {
    Result r;
    const Matrix l = lambda(theta);
    Matrix xwx = xtx_;
    Vector xwy = xty_;
    double ywy = yty_;
    double logDetM = 0;
    const Matrix identity = Matrix::Identity(q_, q_);
    for (const TreeSums &t : trees_) {
      const Matrix m = identity + l.transpose() * t.ztz * l;
      const Eigen::LLT<Matrix> chol(m);
      if (chol.info() != Eigen::Success) return r;
      logDetM += 2 * chol.matrixL().toDenseMatrix().diagonal().array().log().sum();
      const Matrix u = l.transpose() * t.ztx;
      const Vector v = l.transpose() * t.zty;
      xwx -= u.transpose() * chol.solve(u);
      const Vector a = chol.solve(v);
      xwy -= u.transpose() * a;
      ywy -= v.dot(a);
    }
    const Eigen::LLT<Matrix> fixed(xwx);
    if (fixed.info() != Eigen::Success) return r;
    r.beta = fixed.solve(xwy);
    const double rss = ywy - xwy.dot(r.beta);
    const double df = static_cast<double>(rows_ - p_);
    r.sigma2 = rss / df;
    if (!(r.sigma2 > 0) || !std::isfinite(r.sigma2)) return r;
    const double logDetX = 2 * fixed.matrixL().toDenseMatrix().diagonal().array().log().sum();
    r.deviance = df * (1 + std::log(2 * kPi * r.sigma2)) + logDetM + logDetX;
    if (!std::isfinite(r.deviance)) r.deviance = std::numeric_limits<double>::infinity();
    r.xwx = std::move(xwx);
    return r;
  }

 private:
  Index q_;
  const std::vector<TreeSums> &trees_;
  Matrix xtx_;
  Vector xty_;
  double yty_ = 0;
  Index rows_ = 0;
  Index p_ = 0;
};

struct Search {
  Vector best;
  int iterations = 0;
  bool converged = false;
};

// Nelder-Mead on the deviance: reflection 1, expansion 2, contraction and
// shrinkage 1/2. Converged when the vertices' deviances agree to 1e-10 and
// the simplex has shrunk below 1e-7 of the parameters' size.
template <class F>
Search nelderMead(F &&deviance, const Vector &start, double step, int maxIterations) {
  const Index k = start.size();
  std::vector<Vector> vertex(static_cast<std::size_t>(k + 1), start);
  std::vector<double> value(static_cast<std::size_t>(k + 1));
  for (Index i = 0; i < k; ++i) vertex[static_cast<std::size_t>(i + 1)](i) += step;
  for (std::size_t i = 0; i < vertex.size(); ++i) value[i] = deviance(vertex[i]);
  std::vector<std::size_t> order(vertex.size());
  Search s;
  for (s.iterations = 0; s.iterations < maxIterations; ++s.iterations) {
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::sort(order.begin(), order.end(),
              [&](std::size_t a, std::size_t b) { return value[a] < value[b]; });
    const std::size_t lo = order.front(), hi = order.back(), next = order[order.size() - 2];
    double size = 0;
    for (const Vector &v : vertex) size = std::max(size, (v - vertex[lo]).cwiseAbs().maxCoeff());
    const double spread = value[hi] - value[lo];
    if (std::isfinite(value[lo]) && spread <= 1e-10 * (1 + std::abs(value[lo])) &&
        size <= 1e-7 * (1 + vertex[lo].cwiseAbs().maxCoeff())) {
      s.converged = true;
      break;
    }
    Vector centroid = Vector::Zero(k);
    for (std::size_t i = 0; i < vertex.size(); ++i)
      if (i != hi) centroid += vertex[i];
    centroid /= static_cast<double>(k);
    const Vector reflected = centroid + (centroid - vertex[hi]);
    const double fr = deviance(reflected);
    if (fr < value[lo]) {
      const Vector expanded = centroid + 2 * (centroid - vertex[hi]);
      const double fe = deviance(expanded);
      if (fe < fr) {
        vertex[hi] = expanded;
        value[hi] = fe;
      } else {
        vertex[hi] = reflected;
        value[hi] = fr;
      }
      continue;
    }
    if (fr < value[next]) {
      vertex[hi] = reflected;
      value[hi] = fr;
      continue;
    }
    const bool outside = fr < value[hi];
    const Vector contracted = outside ? Vector(centroid + 0.5 * (reflected - centroid))
                                      : Vector(centroid + 0.5 * (vertex[hi] - centroid));
    const double fc = deviance(contracted);
    if (fc < (outside ? fr : value[hi])) {
      vertex[hi] = contracted;
      value[hi] = fc;
      continue;
    }
    for (std::size_t i = 0; i < vertex.size(); ++i) {
      if (i == lo) continue;
      vertex[i] = vertex[lo] + 0.5 * (vertex[i] - vertex[lo]);
      value[i] = deviance(vertex[i]);
    }
  }
  const auto best = std::min_element(value.begin(), value.end()) - value.begin();
  s.best = vertex[static_cast<std::size_t>(best)];
  return s;
}

MixedFit failed(Status status, const Sample &sample) {
  MixedFit fit;
  fit.status = status;
  fit.rowsUsed = static_cast<std::int64_t>(sample.x.size());
  fit.rowsSkipped = sample.skipped;
  return fit;
}

}  // namespace

MixedFit fitMixed(const Sample &sample, std::span<const double> exps,
                  std::span<const std::int32_t> randomTerms) {
  const auto p = static_cast<Index>(exps.size());
  const auto q = static_cast<Index>(randomTerms.size());
  if (p == 0 || q == 0 || sample.tree.size() != sample.x.size())
    return failed(Status::badArgument, sample);
  for (double e : exps)
    if (!usableExponent(e)) return failed(Status::badArgument, sample);
  for (std::size_t k = 0; k < randomTerms.size(); ++k) {
    const std::int32_t t = randomTerms[k];
    if (t < 0 || t >= p) return failed(Status::badArgument, sample);
    if (std::find(randomTerms.begin(), randomTerms.begin() + static_cast<std::ptrdiff_t>(k), t) !=
        randomTerms.begin() + static_cast<std::ptrdiff_t>(k))
      return failed(Status::badArgument, sample);
  }
  const auto m = static_cast<Index>(sample.x.size());
  if (m < p + 1) return failed(Status::tooFewRows, sample);

  // Rows by tree, in the order of the trees' ids.
  fault::checkAllocation();
  std::vector<std::size_t> order(static_cast<std::size_t>(m));
  std::iota(order.begin(), order.end(), std::size_t{0});
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sample.tree[a] < sample.tree[b]; });
  fault::checkAllocation();
  Matrix x(m, p);
  Vector y(m);
  for (Index i = 0; i < m; ++i) {
    const std::size_t row = order[static_cast<std::size_t>(i)];
    for (Index k = 0; k < p; ++k) x(i, k) = power(sample.x[row], exps[static_cast<std::size_t>(k)]);
    y(i) = sample.y[row];
  }
  {
    const Eigen::ColPivHouseholderQR<Matrix> qr(x);
    if (qr.rank() < p) return failed(Status::rankDeficient, sample);
  }
  std::vector<TreeSums> trees;
  for (Index start = 0; start < m;) {
    Index end = start + 1;
    while (end < m && sample.tree[order[static_cast<std::size_t>(end)]] ==
                          sample.tree[order[static_cast<std::size_t>(start)]])
      ++end;
    const auto rows = x.middleRows(start, end - start);
    Matrix z(end - start, q);
    for (Index k = 0; k < q; ++k) z.col(k) = rows.col(randomTerms[static_cast<std::size_t>(k)]);
    fault::checkAllocation();
    trees.push_back(
        {z.transpose() * z, z.transpose() * rows, z.transpose() * y.segment(start, end - start)});
    start = end;
  }
  if (static_cast<Index>(trees.size()) < q + 1) return failed(Status::tooFewRows, sample);

  const Reml reml(x, y, trees, q);
  Vector start = Vector::Zero(q * (q + 1) / 2);
  for (Index j = 0, k = 0; j < q; k += q - j, ++j) start(k) = 1;  // Lambda = I
  auto deviance = [&reml](const Vector &theta) { return reml.evaluate(theta).deviance; };
  MixedFit fit;
  fit.rowsUsed = m;
  fit.rowsSkipped = sample.skipped;
  fit.trees = static_cast<std::int64_t>(trees.size());
  if (!std::isfinite(deviance(start))) {
    fit.status = Status::notConverged;
    fit.convergence = Convergence::nonfinite;
    return fit;
  }
  // A second search from where the first stopped confirms the optimum (a
  // simplex can collapse early on a ridge).
  const int limit = iterationLimit.load(std::memory_order_relaxed);
  Search s = nelderMead(deviance, start, 0.5, limit);
  if (s.converged) {
    const Search again = nelderMead(deviance, s.best, 0.05, limit - s.iterations);
    s.best = again.best;
    s.converged = again.converged;
    s.iterations += again.iterations;
  }
  fit.iterations = s.iterations;
  const Reml::Result r = reml.evaluate(s.best);
  if (!s.converged || !std::isfinite(r.deviance)) {
    fit.status = Status::notConverged;
    fit.convergence =
        std::isfinite(r.deviance) ? Convergence::iterationLimit : Convergence::nonfinite;
    return fit;
  }
  const Matrix l = reml.lambda(s.best);
  const Matrix d = r.sigma2 * (l * l.transpose());
  const Matrix cov = r.sigma2 * Eigen::LLT<Matrix>(r.xwx).solve(Matrix::Identity(p, p));
  fit.coefs.assign(r.beta.data(), r.beta.data() + p);
  fit.covariance.resize(static_cast<std::size_t>(p * p));
  fit.standardErrors.resize(static_cast<std::size_t>(p));
  for (Index i = 0; i < p; ++i) {
    fit.standardErrors[static_cast<std::size_t>(i)] = std::sqrt(cov(i, i));
    for (Index j = 0; j < p; ++j) fit.covariance[static_cast<std::size_t>(i * p + j)] = cov(i, j);
  }
  fit.randomCovariance.resize(static_cast<std::size_t>(q * q));
  for (Index i = 0; i < q; ++i)
    for (Index j = 0; j < q; ++j)
      fit.randomCovariance[static_cast<std::size_t>(i * q + j)] = d(i, j);
  fit.residualSd = std::sqrt(r.sigma2);
  fit.remlLogLik = -0.5 * r.deviance;
  const auto finite = [](const std::vector<double> &v) {
    return std::all_of(v.begin(), v.end(), [](double a) { return std::isfinite(a); });
  };
  if (!finite(fit.coefs) || !finite(fit.covariance) || !finite(fit.randomCovariance)) {
    MixedFit over = failed(Status::overflow, sample);
    over.iterations = fit.iterations;
    return over;
  }
  return fit;
}

void setRemlIterationLimitForTesting(int limit) noexcept {
  iterationLimit.store(limit > 0 ? limit : kMaxRemlIterations, std::memory_order_relaxed);
}

}  // namespace xylotrak::fitting
