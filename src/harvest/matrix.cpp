// The profile of a measured stem and the valuation of one log against a
// price-matrix product.
#include "harvest/matrix.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "abi.h"

namespace xylotrak::harvest {

namespace {

bool finite(double x) { return std::isfinite(x); }

bool strictlyAscending(const double *v, int n, bool nonNegative) {
  for (int i = 0; i < n; ++i) {
    if (!finite(v[i]) || (nonNegative && v[i] < 0)) return false;
    if (i > 0 && !(v[i] > v[i - 1])) return false;
  }
  return true;
}

// Volume (m^3) of the cone frustum from a to b (cm) with end diameters da and
// db (mm).
double frustum(double a, double b, double da, double db) {
  return kPi / 12 * ((da * da + da * db + db * db) * 1e-6) * ((b - a) * 1e-2);
}

// Linear interpolation in ascending xs; constant beyond both ends.
double interpolate(const double *xs, const double *ys, int n, double x) {
  if (!(x > xs[0])) return ys[0];
  if (!(x < xs[n - 1])) return ys[n - 1];
  const int i = static_cast<int>(std::upper_bound(xs, xs + n, x) - xs) - 1;
  return ys[i] + (ys[i + 1] - ys[i]) * ((x - xs[i]) / (xs[i + 1] - xs[i]));
}

}  // namespace

int classIndex(const double *limits, int n, double max, double v) {
  if (!(v >= limits[0]) || !(v < max)) return -1;
  return static_cast<int>(std::upper_bound(limits, limits + n, v) - limits) - 1;
}

int checkStem(const xylotrak_measured_stem *s) noexcept {
  if (s == nullptr) return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (s->pointCount < 2 || s->pointCount > kMaxGridSteps || s->barkCount < 0 ||
      s->barkCount > kMaxGridSteps || s->gradeCount < 0 || s->gradeCount > kMaxGridSteps)
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (s->positions == nullptr || s->diameters == nullptr) return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (!strictlyAscending(s->positions, s->pointCount, false)) return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  for (int i = 0; i < s->pointCount; ++i)
    if (!finite(s->diameters[i]) || s->diameters[i] < 0) return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (s->barkCount > 0) {
    if (s->barkPositions == nullptr || s->barkThickness == nullptr) {
      return XYLOTRAK_MATRIX_BAD_ARGUMENT;
    }
    if (!strictlyAscending(s->barkPositions, s->barkCount, false))
      return XYLOTRAK_MATRIX_BAD_ARGUMENT;
    for (int i = 0; i < s->barkCount; ++i)
      if (!finite(s->barkThickness[i]) || s->barkThickness[i] < 0)
        return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  }
  if (s->gradeCount > 0) {
    if (s->gradeStarts == nullptr || s->grades == nullptr) return XYLOTRAK_MATRIX_BAD_ARGUMENT;
    if (!strictlyAscending(s->gradeStarts, s->gradeCount, false))
      return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  }
  return XYLOTRAK_MATRIX_OK;
}

int checkProduct(const xylotrak_matrix_product &p, bool stemHasBark) noexcept {
  constexpr int kMaxClasses = 10000;
  if (p.diameterClassCount < 1 || p.diameterClassCount > kMaxClasses || p.lengthClassCount < 1 ||
      p.lengthClassCount > kMaxClasses || p.gradeCount < 0 || p.gradeCount > kMaxClasses)
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (p.diameterLimits == nullptr || p.lengthLimits == nullptr || p.prices == nullptr ||
      (p.gradeCount > 0 && p.grades == nullptr))
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (!strictlyAscending(p.diameterLimits, p.diameterClassCount, true) ||
      !strictlyAscending(p.lengthLimits, p.lengthClassCount, true))
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (!finite(p.diameterMax) || !(p.diameterMax > p.diameterLimits[p.diameterClassCount - 1]) ||
      !finite(p.lengthMax) || !(p.lengthMax > p.lengthLimits[p.lengthClassCount - 1]))
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  const long cells = static_cast<long>(p.diameterClassCount) * p.lengthClassCount;
  for (long i = 0; i < cells; ++i) {
    if (!finite(p.prices[i])) return XYLOTRAK_MATRIX_BAD_ARGUMENT;
    if (p.cells != nullptr && (p.cells[i] < 0 || p.cells[i] > XYLOTRAK_CELL_FORBIDDEN))
      return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  }
  if (p.diameterPosition < 0 || p.diameterPosition > XYLOTRAK_DIAMETER_BUTT ||
      (p.diameterUnderBark != 0 && p.diameterUnderBark != 1) ||
      (p.volumeUnderBark != 0 && p.volumeUnderBark != 1) ||
      (p.priceBasis != XYLOTRAK_PRICE_PER_M3 && p.priceBasis != XYLOTRAK_PRICE_PER_LOG))
    return XYLOTRAK_MATRIX_BAD_ARGUMENT;
  if (p.volumeRule < XYLOTRAK_VOLUME_SOLID || p.volumeRule > XYLOTRAK_VOLUME_TOP ||
      p.volumeLength < XYLOTRAK_VOLUME_LENGTH_PHYSICAL ||
      p.volumeLength > XYLOTRAK_VOLUME_LENGTH_DM)
    return XYLOTRAK_MATRIX_UNSUPPORTED_RULE;
  if ((p.diameterUnderBark == 1 || p.volumeUnderBark == 1) && !stemHasBark)
    return XYLOTRAK_MATRIX_NO_BARK;
  return XYLOTRAK_MATRIX_OK;
}

Profile::Profile(const xylotrak_measured_stem &stem) : stem_(stem) {
  const int n = stem.pointCount;
  start_ = std::min(0.0, stem.positions[0]);
  end_ = stem.positions[n - 1];
  breaks_.reserve(static_cast<std::size_t>(n) + static_cast<std::size_t>(stem.barkCount) + 1);
  breaks_.push_back(start_);
  for (int i = 0; i < n; ++i) breaks_.push_back(stem.positions[i]);
  for (int i = 0; i < stem.barkCount; ++i) {
    const double x = stem.barkPositions[i];
    if (x > start_ && x < end_) breaks_.push_back(x);
  }
  std::sort(breaks_.begin(), breaks_.end());
  breaks_.erase(std::unique(breaks_.begin(), breaks_.end()), breaks_.end());
  cumOver_.assign(breaks_.size(), 0.0);
  cumUnder_.assign(breaks_.size(), 0.0);
  for (std::size_t i = 1; i < breaks_.size(); ++i) {
    const double a = breaks_[i - 1], b = breaks_[i];
    cumOver_[i] = cumOver_[i - 1] + frustum(a, b, overBark(a), overBark(b));
    cumUnder_[i] = cumUnder_[i - 1] + frustum(a, b, underBark(a), underBark(b));
  }
}

double Profile::overBark(double x) const {
  return interpolate(stem_.positions, stem_.diameters, stem_.pointCount, x);
}

double Profile::bark(double x) const {
  if (stem_.barkCount == 0) return 0;
  return interpolate(stem_.barkPositions, stem_.barkThickness, stem_.barkCount, x);
}

double Profile::underBark(double x) const {
  const double d = overBark(x) - bark(x);
  return d > 0 ? d : 0;
}

double Profile::cumulative(double x, bool underBark) const {
  if (!(x > start_)) return 0;
  if (x > end_) x = end_;
  const std::size_t i = static_cast<std::size_t>(
                            std::upper_bound(breaks_.begin(), breaks_.end(), x) - breaks_.begin()) -
                        1;
  const double a = breaks_[i];
  if (underBark) return cumUnder_[i] + frustum(a, x, this->underBark(a), this->underBark(x));
  return cumOver_[i] + frustum(a, x, overBark(a), overBark(x));
}

void Profile::zonesTouched(double a, double b, int *first, int *last) const {
  const int n = stem_.gradeCount;
  const double *s = stem_.gradeStarts;
  // Zones starting before b, of which those ending after a.
  *last = static_cast<int>(std::lower_bound(s, s + n, b) - s);
  const int containing = static_cast<int>(std::upper_bound(s, s + n, a) - s) - 1;
  *first = containing < 0 ? 0 : containing;
  if (*first > *last) *first = *last;
}

double Samples::diameter(double x, bool underBark) const {
  if (count > 0) {
    const double m = (x - gridStart) / halfStep;
    if (m >= 0 && m < static_cast<double>(count) && m == std::floor(m)) {
      const long k = static_cast<long>(m);
      if ((2 * gridStart + static_cast<double>(k) * (2 * halfStep)) * 0.5 == x)
        return underBark ? under[k] : over[k];
    }
  }
  return profile->diameter(x, underBark);
}

double Samples::cumulative(double x, bool underBark) const {
  if (count > 0) {
    const double m = (x - gridStart) / halfStep;
    if (m >= 0 && m < static_cast<double>(count) && m == std::floor(m)) {
      const long k = static_cast<long>(m);
      if ((2 * gridStart + static_cast<double>(k) * (2 * halfStep)) * 0.5 == x)
        return underBark ? cumUnder[k] : cumOver[k];
    }
  }
  return profile->cumulative(x, underBark);
}

int valueLog(const Samples &samples, const xylotrak_matrix_product &p, int productIndex,
             double startCm, double lengthCm, bool handCells, xylotrak_matrix_log &log) {
  const Profile &profile = *samples.profile;
  log = xylotrak_matrix_log{};
  log.product = productIndex;
  log.diameterClass = -1;
  log.lengthClass = -1;
  log.startCm = startCm;
  log.lengthCm = lengthCm;
  const double top = startCm + lengthCm;
  if (!finite(startCm) || !finite(lengthCm) || !(lengthCm > 0) || startCm < profile.start() ||
      top > profile.end()) {
    log.status = XYLOTRAK_LOG_BEYOND_STEM;
    return log.status;
  }
  const double mid = startCm + 0.5 * lengthCm;
  const bool classUnder = p.diameterUnderBark == 1;
  double at = top;
  if (p.diameterPosition == XYLOTRAK_DIAMETER_MID) at = mid;
  if (p.diameterPosition == XYLOTRAK_DIAMETER_BUTT) at = startCm;
  log.classDiameterMm = samples.diameter(at, classUnder);
  const int dc =
      classIndex(p.diameterLimits, p.diameterClassCount, p.diameterMax, log.classDiameterMm);
  const int lc = classIndex(p.lengthLimits, p.lengthClassCount, p.lengthMax, lengthCm);
  log.diameterClass = dc;
  log.lengthClass = lc;
  if (dc >= 0) log.diameterClassMm = p.diameterLimits[dc];
  if (lc >= 0) log.lengthClassCm = p.lengthLimits[lc];

  // The volume, whatever the classes.
  const bool volumeUnder = p.volumeUnderBark == 1;
  double volumeLength = lengthCm;
  if (p.volumeLength == XYLOTRAK_VOLUME_LENGTH_CLASS && lc >= 0) volumeLength = log.lengthClassCm;
  if (p.volumeLength == XYLOTRAK_VOLUME_LENGTH_DM) volumeLength = std::floor(lengthCm / 10) * 10;
  if (p.volumeRule == XYLOTRAK_VOLUME_SOLID) {
    log.volume = samples.cumulative(top, volumeUnder) - samples.cumulative(startCm, volumeUnder);
  } else {
    const double d = samples.diameter(p.volumeRule == XYLOTRAK_VOLUME_MID ? mid : top, volumeUnder);
    log.volume = kPi / 4 * (d * d * 1e-6) * (volumeLength * 1e-2);
  }

  if (dc < 0) return log.status = XYLOTRAK_LOG_OUTSIDE_DIAMETER;
  if (lc < 0) return log.status = XYLOTRAK_LOG_OUTSIDE_LENGTH;
  const long cell = static_cast<long>(dc) * p.lengthClassCount + lc;
  const int code = p.cells == nullptr ? XYLOTRAK_CELL_OPEN : p.cells[cell];
  if (code == XYLOTRAK_CELL_FORBIDDEN) return log.status = XYLOTRAK_LOG_FORBIDDEN;
  const double price = p.prices[cell];
  log.value = p.priceBasis == XYLOTRAK_PRICE_PER_LOG ? price : price * log.volume;

  if (p.gradeCount > 0 && profile.zoneCount() > 0) {
    int first = 0, last = 0;
    profile.zonesTouched(startCm, top, &first, &last);
    for (int z = first; z < last; ++z) {
      const int g = profile.zoneGrade(z);
      if (std::find(p.grades, p.grades + p.gradeCount, g) == p.grades + p.gradeCount)
        return log.status = XYLOTRAK_LOG_GRADE;
    }
  }
  if (code == XYLOTRAK_CELL_HAND_ONLY && !handCells) return log.status = XYLOTRAK_LOG_HAND_ONLY;
  return log.status = XYLOTRAK_LOG_ADMISSIBLE;
}

}  // namespace xylotrak::harvest
