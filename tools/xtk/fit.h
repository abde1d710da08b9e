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
  size_t trees = 0;  // distinct ids

  // Whether row i is one the library fits (it skips the others): all four
  // values finite, dbh and height above 0, h within [0, height], d/dbh finite.
  bool usable(size_t i) const;
};

// One group's fit through PHFtDll or PHFsDll.
struct GroupFit {
  const StemGroup *group = nullptr;
  int code = 0;  // an XYLOTRAK_FIT_* value
  Model model;
  std::vector<double> standardErrors;
  xylotrak_fit_stats stats{};
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
GroupFit fitGroup(const StemGroup &group, bool select, const std::vector<double> &exps,
                  const std::vector<double> &candidates, int maxTerms);

// The words of an XYLOTRAK_FIT_* code.
const char *fitCodeWords(int code);

// Observed against fitted relative diameters over relative height, and the
// residuals, one colour per group.
std::string renderFitSvg(const std::vector<GroupFit> &fits);

}  // namespace xtk
