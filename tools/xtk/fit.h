// xtk fit: taper models fitted to measured stems, one per group of rows.
#pragma once

#include <string>
#include <vector>

#include "check.h"
#include "input.h"

namespace xtk {

// The measurements of one group, in the library's column layout.
struct StemGroup {
  std::string name;  // the value of the --by column, or "all"
  std::vector<double> dbh, height, h, d;
  std::vector<int64_t> tree;  // per row: the index of its id among the group's ids
  size_t trees = 0;           // distinct ids

  // Whether row i is one the library fits (it skips the others): all four
  // values finite, dbh and height above 0, h within [0, height], d/dbh finite.
  bool usable(size_t i) const;
};

// How a group is fitted: the exponents or the stepwise search, the fit
// through the tip, and the terms with random tree effects (a REML fit).
struct FitRequest {
  bool select = false;
  std::vector<double> exps, candidates;
  int maxTerms = 8;
  bool tipZero = false;
  std::vector<int32_t> random;
};

// One group's fit through PHFcDll, PHFwDll or, with random terms, PHFmDll.
struct GroupFit {
  const StemGroup *group = nullptr;
  int code = 0;  // an XYLOTRAK_FIT_* value
  Model model;
  std::vector<double> standardErrors;
  std::vector<double> covariance;  // of the coefficients, row-major
  int64_t residualDf = 0;          // least squares; 0 for a mixed fit (normal quantiles)
  xylotrak_fit_stats stats{};      // least squares; rows used and skipped for a mixed fit too
  std::vector<int32_t> random;     // the random terms of a mixed fit
  std::vector<double> randomCovariance;
  xylotrak_mixed_stats mixed{};
  bool tipZero = false;
  double residualVariance() const;
  ModelFindings findings;  // of the fitted model, at the group's mean dbh and height
  double meanDbh = 0, meanHeight = 0;
  bool ok() const { return code == XYLOTRAK_FIT_OK; }
};

// Reads the stems CSV: columns id, dbh, height, h, d and, when `by` is not
// empty, that column; other columns are ignored. An empty cell or NA in a
// number column is a missing value, which the fit skips and counts. A row that
// cannot be read is reported on standard error and counted in `unreadable`.
// Groups come in the order of their first rows.
std::vector<StemGroup> readStems(const std::string &path, const std::string &by, int &unreadable);

// Fits each group: with `exps` when not selecting, else stepwise from
// `candidates` (empty: the library's default set) with at most `maxTerms`.
GroupFit fitGroup(const StemGroup &group, const FitRequest &request);

// The words of an XYLOTRAK_FIT_* code.
std::string fitCodeWords(int code);

// The words of a fit that failed: its code, and the reason a REML search did
// not converge.
std::string fitFailureWords(const GroupFit &fit);

// Observed against fitted relative diameters over relative height, and the
// residuals, one colour per group.
std::string renderFitSvg(const std::vector<GroupFit> &fits);

}  // namespace xtk
