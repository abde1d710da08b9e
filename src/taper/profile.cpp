#include "taper/profile.h"

#include <bit>
#include <cmath>
#include <cstdint>

namespace xylotrak::taper {

namespace {
bool sameBits(double a, double b) noexcept {
  return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
}
}  // namespace

double wholeLogsTop(Section s, double logLength) noexcept {
  double upper = s.upper;
  if (logLength > 0) {
    const double whole = std::floor((s.upper - s.lower) / logLength) * logLength + s.lower;
    if (whole < upper) upper = whole;
  }
  return upper;
}

std::int32_t wholeLogs(Section s, double logLength) noexcept {
  if (!(s.upper > s.lower && logLength > 0)) return 0;
  const double count = std::floor((s.upper - s.lower) / logLength);
  if (count >= 2147483647.0) return INT32_MAX;
  if (std::isnan(count)) return 0;
  return static_cast<std::int32_t>(count);
}

double volumeFromGround(const Model &m, double h) noexcept {
  const double x = h / 10;  // work in tens of metres
  const double t10 = m.totalHeight / 10;
  const double *c = m.coefs;
  const double *e = m.exps;
  double sum = 0;
  for (int i = 0; i <= m.terms; ++i) {
    const double q = (e[i] + e[i]) + 1;
    const double a = c[i] / std::pow(t10, e[i]);
    sum = sum + ((a * a) * std::pow(x, q)) / q;
    if (i < m.terms) {
      const double twice = (c[i] + c[i]) / std::pow(t10, e[i]);
      for (int j = i + 1; j <= m.terms; ++j) {
        const double qc = (e[i] + e[j]) + 1;
        sum = sum + (((twice * c[j]) / std::pow(t10, e[j])) * std::pow(x, qc)) / qc;
      }
    }
  }
  return ((m.dbh * m.dbh) * (sum * kAreaFactor)) * 10;
}

bool ClosedForm::prepare(const Model &m) noexcept {
  if (m.terms < 0 || m.terms > kMaxTerms) return false;
  const double t10 = m.totalHeight / 10;
  const double *c = m.coefs;
  const double *e = m.exps;
  double scale[kMaxTerms + 1];
  for (int k = 0; k <= m.terms; ++k) scale[k] = std::pow(t10, e[k]);
  dbh_ = m.dbh;
  parts_ = 0;
  distinct_ = 0;
  const auto addPart = [this](double coef, double q) {
    int power = 0;
    while (power < distinct_ && !sameBits(exponent_[power], q)) ++power;
    if (power == distinct_) exponent_[distinct_++] = q;
    coef_[parts_] = coef;
    divisor_[parts_] = q;
    power_[parts_] = static_cast<std::uint8_t>(power);
    ++parts_;
  };
  for (int i = 0; i <= m.terms; ++i) {
    const double a = c[i] / scale[i];
    addPart(a * a, (e[i] + e[i]) + 1);
    const double twice = (c[i] + c[i]) / scale[i];
    for (int j = i + 1; j <= m.terms; ++j) addPart((twice * c[j]) / scale[j], (e[i] + e[j]) + 1);
  }
  return true;
}

double ClosedForm::fromGround(double h) const noexcept {
  const double x = h / 10;
  double power[kMaxParts];
  for (int k = 0; k < distinct_; ++k) power[k] = std::pow(x, exponent_[k]);
  double sum = 0;
  // Every part's power index is below distinct_, so only set entries are read.
  // cppcheck-suppress uninitvar ; power_[t] < distinct_ for every part
  for (int t = 0; t < parts_; ++t) sum = sum + (coef_[t] * power[power_[t]]) / divisor_[t];
  return ((dbh_ * dbh_) * (sum * kAreaFactor)) * 10;
}

double formFactor(const double *coefs, const double *exps, int terms) noexcept {
  double sum = 0;
  for (int k = 0; k < terms; ++k) {
    sum = sum + (coefs[k] * coefs[k]) / ((exps[k] + exps[k]) + 1);
    for (int j = k + 1; j <= terms; ++j)
      sum = sum + ((coefs[k] + coefs[k]) * coefs[j]) / ((exps[k] + exps[j]) + 1);
  }
  return (coefs[terms] * coefs[terms]) / ((exps[terms] + exps[terms]) + 1) + sum;
}

}  // namespace xylotrak::taper
