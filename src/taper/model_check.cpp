#include "taper/model_check.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <vector>

#include "abi.h"

namespace xylotrak::taper {

namespace {

constexpr double kUnit = DBL_EPSILON / 2;  // unit roundoff of a double
constexpr double kTolerance = 1e-6;        // of the relative diameter, i.e. of dbh

// Neumaier's compensated summation: the sum of many terms of both signs
// without the cancellation of a running sum.
class CompensatedSum {
 public:
  void add(double x) noexcept {
    const double t = sum_ + x;
    if (std::fabs(sum_) >= std::fabs(x)) {
      carry_ += (sum_ - t) + x;
    } else {
      carry_ += (x - t) + sum_;
    }
    sum_ = t;
  }
  double value() const noexcept { return sum_ + carry_; }

 private:
  double sum_ = 0;
  double carry_ = 0;
};

// The relative profile at relative height y, and the sum of the sizes of
// its terms (what its rounding is proportional to). Term 0 is the constant
// coefs[0] as in the diameter, or coefs[0] y^exps[0] as in the volume.
struct ProfileValue {
  double value;
  double size;
};

ProfileValue profileAt(const double *c, const double *e, int n, double y, bool term0Power) {
  CompensatedSum sum;
  double size = 0;
  for (int k = 0; k <= n; ++k) {
    const double term = (k == 0 && !term0Power) ? c[0] : c[k] * std::pow(y, e[k]);
    sum.add(term);
    size += std::fabs(term);
  }
  return {sum.value(), size};
}

// How far a profile value may be from the truth: each power term carries
// about one rounding of pow and one of the product.
double evaluationError(const ProfileValue &p) { return 4 * kUnit * p.size; }

// The relative heights at which a profile is sampled: 1024 equal steps of
// [0, 1], and below the first step 48 heights falling geometrically to
// 1e-12, where small and fractional exponents change fastest.
constexpr int kSteps = 1024;
constexpr int kGeometric = 48;
std::vector<double> sampleHeights() {
  std::vector<double> y;
  y.reserve(kSteps + 1 + kGeometric);
  y.push_back(0);
  for (int k = kGeometric - 1; k >= 0; --k)
    y.push_back(std::pow(10.0, -12 + k * (12 - std::log10(double{kSteps})) / kGeometric));
  for (int i = 1; i <= kSteps; ++i) y.push_back(static_cast<double>(i) / kSteps);
  std::sort(y.begin(), y.end());
  y.erase(std::unique(y.begin(), y.end()), y.end());
  return y;
}

// The profile's shape findings: widening upward, negative below the tip.
// One power term decides both exactly; other models are sampled.
std::int32_t shapeFindings(const double *c, const double *e, int n) {
  if (n == 0) return c[0] < -kTolerance ? kNegativeDiameter : 0;
  if (n == 1 && e[1] >= 0) {
    // c0 + c1 y^e1 is monotone on [0, 1]: it rises iff c1 e1 > 0 (and the
    // diameter with it unless it stays below 0), and its least value below
    // the tip is at y = 0 or just below y = 1.
    const double atGround = e[1] == 0 ? c[0] + c[1] : c[0];
    const double atTip = c[0] + c[1];
    std::int32_t found = (c[1] * e[1] > 0 && atTip > 0) ? kDiameterIncreases : 0;
    if (std::min(atGround, atTip) < -kTolerance) found |= kNegativeDiameter;
    return found;
  }
  std::int32_t found = 0;
  static const std::vector<double> heights = sampleHeights();  // made once
  ProfileValue previous = profileAt(c, e, n, heights[0], false);
  for (std::size_t i = 0; i < heights.size(); ++i) {
    const ProfileValue p = i == 0 ? previous : profileAt(c, e, n, heights[i], false);
    if (heights[i] < 1 && p.value < -(kTolerance + evaluationError(p))) found |= kNegativeDiameter;
    if (i > 0) {
      // The diameter as reported: a stretch below zero reads as 0 and does
      // not widen the stem.
      const double rise = std::max(p.value, 0.0) - std::max(previous.value, 0.0);
      const double noise = 2 * (evaluationError(p) + evaluationError(previous));
      if (rise > std::max(noise, 1e-9)) found |= kDiameterIncreases;
    }
    previous = p;
  }
  return found;
}

// Correct digits of the closed-form whole-stem volume. Its running sum adds
// (n+1)(n+2)/2 terms, each c_i c_j / (e_i + e_j + 1) (twice for i < j) up to
// a factor common to all; the rounding of the sum is at most about
// (terms + 5) u times the sum of their sizes, measured here against the
// sum itself, taken with compensation.
std::int32_t closedFormDigits(const double *c, const double *e, int n) {
  CompensatedSum sum;
  double size = 0;
  double terms = 0;
  for (int i = 0; i <= n; ++i) {
    for (int j = i; j <= n; ++j) {
      const double t = (i == j ? c[i] * c[i] : 2 * c[i] * c[j]) / ((e[i] + e[j]) + 1);
      sum.add(t);
      size += std::fabs(t);
      terms += 1;
    }
  }
  const double value = std::fabs(sum.value());
  if (!(value > 0) || !std::isfinite(size)) return 0;
  const double relative = (terms + 5) * kUnit * size / value;
  const double digits = std::floor(-std::log10(relative));
  return static_cast<std::int32_t>(std::clamp(digits, 0.0, 15.0));
}

}  // namespace

ModelCheck checkModel(double dbh, double totalHeight, const double *coefs, const double *exps,
                      int termCount) noexcept {
  ModelCheck check;
  const int n = low16(termCount);
  if (termCount != n || n < 0) check.findings |= kBadTermCount;
  if (n < 0) return check;  // no power term to read
  bool finite = std::isfinite(dbh) && std::isfinite(totalHeight);
  for (int k = 0; k <= n; ++k) finite = finite && std::isfinite(coefs[k]) && std::isfinite(exps[k]);
  if (!finite) {
    check.findings |= kNonfinite;
    return check;  // nothing else can be judged
  }
  if (exps[0] != 0) check.findings |= kExp0Nonzero;
  // At the tip every power of the relative height is 1.
  CompensatedSum tip;
  for (int k = 0; k <= n; ++k) tip.add(coefs[k]);
  if (std::fabs(tip.value()) > kTolerance) check.findings |= kNonzeroTip;
  try {
    check.findings |= shapeFindings(coefs, exps, n);
  } catch (...) {
    // No memory for the sample heights: the shape is left unjudged.
  }
  check.volumeDigits = closedFormDigits(coefs, exps, n);
  if (check.volumeDigits < 6) check.findings |= kVolumeIllConditioned;
  return check;
}

namespace {

// Gauss-Kronrod 15-point rule: Kronrod nodes and weights on [-1, 1] (the
// node 0 last), and the weights of the embedded 7-point Gauss rule, which
// uses the Kronrod nodes of odd index.
constexpr double kNode[8] = {
    0.991455371120812639206854697526329, 0.949107912342758524526189684047851,
    0.864864423359769072789712788640926, 0.741531185599394439863864773280788,
    0.586087235467691130294144845693013, 0.405845151377397166906606412076961,
    0.207784955007898467600689403773245, 0.0};
constexpr double kKronrod[8] = {
    0.022935322010529224963732008058970, 0.063092092629978553290700663189204,
    0.104790010322250183839876322541518, 0.140653259715525918745189590510238,
    0.169004726639267902826583426598550, 0.190350578064785409913256402421014,
    0.204432940075298892414161999234649, 0.209482141084727828012999174891714};
constexpr double kGauss[4] = {
    0.129484966168869693270611432679082, 0.279705391489276667901467771423780,
    0.381830050505118944950369775488975, 0.417959183673469387755102040816327};

struct Piece {
  double a, b, integral, error;
};

template <class F>
Piece kronrod(F &&f, double a, double b) {
  const double centre = 0.5 * (a + b), half = 0.5 * (b - a);
  const double fc = f(centre);
  double kronrodSum = kKronrod[7] * fc, gaussSum = kGauss[3] * fc;
  for (int k = 0; k < 7; ++k) {
    const double dx = half * kNode[k];
    const double pair = f(centre - dx) + f(centre + dx);
    kronrodSum += kKronrod[k] * pair;
    if (k % 2 == 1) gaussSum += kGauss[k / 2] * pair;
  }
  return {a, b, kronrodSum * half, std::fabs((kronrodSum - gaussSum) * half)};
}

}  // namespace

double accurateVolumeBetween(const Model &m, double a, double b) noexcept {
  if (!(b > a) || m.terms < 0) return 0;
  const auto squared = [&m](double h) {
    const double p = profileAt(m.coefs, m.exps, m.terms, h / m.totalHeight, true).value;
    return p * p;
  };
  constexpr std::size_t kMostPieces = 2000;
  try {
    std::vector<Piece> pieces;
    pieces.reserve(kMostPieces);
    pieces.push_back(kronrod(squared, a, b));
    const auto byError = [](const Piece &x, const Piece &y) { return x.error < y.error; };
    for (;;) {
      double integral = 0, error = 0;
      for (const Piece &p : pieces) integral += p.integral, error += p.error;
      if (!std::isfinite(integral)) return integral;
      if (error <= kQuadratureTolerance * std::fabs(integral) || error == 0 ||
          pieces.size() + 1 > kMostPieces) {
        return ((m.dbh * m.dbh) * kAreaFactor) * integral;
      }
      // Halve the piece with the largest error estimate.
      std::pop_heap(pieces.begin(), pieces.end(), byError);
      const Piece worst = pieces.back();
      pieces.pop_back();
      const double middle = 0.5 * (worst.a + worst.b);
      if (!(middle > worst.a && middle < worst.b)) {  // cannot be halved any further
        pieces.push_back(worst);
        std::push_heap(pieces.begin(), pieces.end(), byError);
        double total = 0;
        for (const Piece &p : pieces) total += p.integral;
        return ((m.dbh * m.dbh) * kAreaFactor) * total;
      }
      pieces.push_back(kronrod(squared, worst.a, middle));
      std::push_heap(pieces.begin(), pieces.end(), byError);
      pieces.push_back(kronrod(squared, middle, worst.b));
      std::push_heap(pieces.begin(), pieces.end(), byError);
    }
  } catch (...) {
    return std::nan("");  // no memory for the pieces: no answer
  }
}

}  // namespace xylotrak::taper
