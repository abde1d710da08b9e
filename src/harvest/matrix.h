// Price-matrix products on measured stems: the stem's profile (linear
// between measurements, under bark through a double-bark-thickness curve),
// the valuation of one log, and the two buckings over a grid of cuts.
#pragma once

#include <cstdint>
#include <vector>

#include "fault_injection.h"
#include "xylotrak.h"

namespace xylotrak::harvest {

template <class T>
using Vector = std::vector<T, fault::Allocator<T>>;

constexpr long kMaxGridSteps = 1000000;

// Checks a stem record; XYLOTRAK_MATRIX_OK or a code.
int checkStem(const xylotrak_measured_stem *stem) noexcept;
// Checks a product record against a stem (whether it has a bark model).
int checkProduct(const xylotrak_matrix_product &product, bool stemHasBark) noexcept;

// The profile of a checked stem. Positions in cm, diameters in mm.
class Profile {
 public:
  // May throw std::bad_alloc.
  explicit Profile(const xylotrak_measured_stem &stem);

  double start() const { return start_; }
  double end() const { return end_; }
  bool hasBark() const { return stem_.barkCount > 0; }
  double overBark(double x) const;
  double underBark(double x) const;
  double diameter(double x, bool underBark) const {
    return underBark ? this->underBark(x) : overBark(x);
  }
  // The integral of the cross-section (m^3) from start() to x.
  double cumulative(double x, bool underBark) const;
  // Index of the first grade zone a log [a, b) touches and one past the last.
  void zonesTouched(double a, double b, int *first, int *last) const;
  int zoneGrade(int zone) const { return stem_.grades[zone]; }
  int zoneCount() const { return stem_.gradeCount; }

 private:
  double bark(double x) const;
  xylotrak_measured_stem stem_;
  double start_ = 0;
  double end_ = 0;
  Vector<double> breaks_;  // measurements and bark points, merged
  Vector<double> cumOver_;
  Vector<double> cumUnder_;
};

// What the valuation of a log reads about the stem: directly from the
// profile, or from values the profile gave earlier at the same positions.
struct Samples {
  const Profile *profile;
  // Grid of half steps: position (2 * start + m * step) / 2 for m = 0..count-1.
  double gridStart = 0;
  double halfStep = 0;
  long count = 0;
  const double *over = nullptr;
  const double *under = nullptr;
  const double *cumOver = nullptr;
  const double *cumUnder = nullptr;

  double diameter(double x, bool underBark) const;
  double cumulative(double x, bool underBark) const;
};

// The class whose lower limit v floors to, or -1 below the first limit, at or
// above max, or for NaN.
int classIndex(const double *limits, int n, double max, double v);

// Values one log; writes every field of *log and returns its status.
int valueLog(const Samples &samples, const xylotrak_matrix_product &product, int productIndex,
             double startCm, double lengthCm, bool handCells, xylotrak_matrix_log &log);

}  // namespace xylotrak::harvest
