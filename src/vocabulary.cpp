// The words and defaults the front ends show their users: one table each,
// read through xylotrak_words, xylotrak_bucking_default,
// xylotrak_product_default and xylotrak_fit_default.
#include "vocabulary.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <span>
#include <string_view>

#include "abi.h"
#include "fitting/least_squares.h"
#include "xylotrak.h"

namespace {

using Words = std::span<const std::string_view>;

// By bit of a PHCkDll finding, from 0x01 up.
constexpr std::array<std::string_view, 7> kFindings = {
    "volume-ill-conditioned", "diameter-increases", "negative-diameter", "nonzero-tip",
    "exp0-nonzero",           "nonfinite",          "bad-term-count"};
constexpr std::array<std::string_view, 7> kFindingTexts = {
    "the closed-form volume cancels and keeps fewer than 6 correct digits",
    "the diameter grows with height somewhere on the stem",
    "the profile falls below 0 under the tip, where diameters read 0",
    "the diameter at the tip is not 0",
    "exps[0] is not 0: volumes integrate coefs[0] (h/H)^exps[0], diameters take coefs[0] alone",
    "a coefficient, an exponent, dbh or height is not a finite number",
    "the term count does not fit in 16 bits"};

// By fitting return code, XYLOTRAK_FIT_OK up.
constexpr std::array<std::string_view, 7> kFitStatuses = {
    "ok",       "too_few_rows", "rank_deficient", "bad_argument", "out_of_memory",
    "overflow", "not_converged"};
constexpr std::array<std::string_view, 7> kFitMessages = {
    "fitted",
    "too few usable rows for the terms",
    "rank-deficient design (repeated exponents, or all measurements at one relative height)",
    "bad arguments (exponents must be finite and not negative, at least one term allowed)",
    "out of memory",
    "the fit overflows: measurements too large for doubles",
    "the REML fit did not converge"};

// By return code of the interval and calibration exports (the fitting's
// codes, of which they return 0, 3, 4 and 5).
constexpr std::array<std::string_view, 7> kIntervalMessages = {
    "ok",
    "too few usable rows for the terms",
    "rank-deficient design",
    "a height or a measurement outside the stem (0 to its height), a diameter negative or not "
    "finite, a level outside (0, 1), or a fit or tree that cannot be used",
    "out of memory",
    "the calibrated coefficients or their covariance would not be finite",
    "the REML fit did not converge"};

// By bit of PHCbDll's flags, from 0x01 up.
constexpr std::array<std::string_view, 1> kCalibrationFlags = {
    "a measured diameter lies beyond 99.9% of the fitted trees; the calibrated curve follows it"};

// By return code of the matrix calls, XYLOTRAK_MATRIX_OK up.
constexpr std::array<std::string_view, 7> kMatrixMessages = {
    "ok",
    "the stem cannot be bucked: fewer than two diameters, or values out of range",
    "a product's volume rule is not supported",
    "no bark model: no under-bark diameters are known for this stem",
    "more logs than the room given",
    "out of memory",
    "the stem is too long for the grid"};

// By reason a REML fit stopped (xylotrak_mixed_stats.convergence), from
// XYLOTRAK_MIXED_CONVERGED up: its name, and the message a front end follows
// with "after N iterations".
constexpr std::array<std::string_view, 3> kConvergences = {"converged", "iteration_limit",
                                                           "nonfinite"};
constexpr std::array<std::string_view, 3> kConvergenceMessages = {
    "the search converged", "the search was still moving",
    "the restricted likelihood is not finite"};

constexpr std::array<std::string_view, 13> kLogColumns = {
    "id",          "logNumber", "productNumber", "productName", "baseHeight",
    "length",      "topHeight", "trimTopHeight", "baseDiam",    "topDiam",
    "trimTopDiam", "volume",    "value"};
constexpr std::array<std::string_view, 12> kTotalsColumns = {
    "id",        "outcome",    "logCount",   "productVolume", "stumpVolume", "leftoverVolume",
    "topVolume", "trimVolume", "lossVolume", "stemVolume",    "totalValue",  "servedByExact"};

// The fifth-degree polynomial, and the most terms a selection keeps.
constexpr std::array<double, 6> kFitExps = {0, 1, 2, 3, 4, 5};
constexpr std::array<double, 1> kFitMaxTerms = {8};

std::span<const double> fitDefault(int which) noexcept {
  switch (which) {
    case XYLOTRAK_FIT_DEFAULT_EXPS:
      return kFitExps;
    case XYLOTRAK_FIT_DEFAULT_CANDIDATES:
      return xylotrak::fitting::defaultCandidates();
    case XYLOTRAK_FIT_DEFAULT_MAX_TERMS:
      return kFitMaxTerms;
    default:
      return {};
  }
}

Words vocabulary(int which) noexcept {
  switch (which) {
    case XYLOTRAK_WORDS_FINDING:
      return kFindings;
    case XYLOTRAK_WORDS_FINDING_TEXT:
      return kFindingTexts;
    case XYLOTRAK_WORDS_FIT_STATUS:
      return kFitStatuses;
    case XYLOTRAK_WORDS_FIT_MESSAGE:
      return kFitMessages;
    case XYLOTRAK_WORDS_LOG_COLUMN:
      return kLogColumns;
    case XYLOTRAK_WORDS_TOTALS_COLUMN:
      return kTotalsColumns;
    case XYLOTRAK_WORDS_INTERVAL_MESSAGE:
      return kIntervalMessages;
    case XYLOTRAK_WORDS_CALIBRATION_FLAG:
      return kCalibrationFlags;
    case XYLOTRAK_WORDS_MATRIX_MESSAGE:
      return kMatrixMessages;
    case XYLOTRAK_WORDS_CONVERGENCE:
      return kConvergences;
    case XYLOTRAK_WORDS_CONVERGENCE_MESSAGE:
      return kConvergenceMessages;
    default:
      return {};
  }
}

}  // namespace

std::string_view xylotrak::word(int which, int index) noexcept {
  const Words words = vocabulary(which);
  if (index < 0 || static_cast<std::size_t>(index) >= words.size()) return {};
  return words[static_cast<std::size_t>(index)];
}

extern "C" {

XYLOTRAK_API int32_t xylotrak_words(int vocabulary, int index, xylotrak_char16 *text,
                                    int32_t capacity) {
  if (text != nullptr && capacity > 0) text[0] = 0;
  const std::string_view word = xylotrak::word(vocabulary, index);
  if (word.empty()) return -1;  // every word has a letter
  if (text != nullptr && capacity > 0) {
    const std::size_t room = static_cast<std::size_t>(capacity) - 1;
    const std::size_t n = word.size() < room ? word.size() : room;
    for (std::size_t k = 0; k < n; ++k) text[k] = static_cast<xylotrak_char16>(word[k]);  // ASCII
    text[n] = 0;
  }
  return static_cast<int32_t>(word.size());
}

XYLOTRAK_API double xylotrak_bucking_default(int which) {
  switch (which) {
    case XYLOTRAK_DEFAULT_STUMP_HEIGHT:
      return 0.3;
    case XYLOTRAK_DEFAULT_STUMP_TRIM:
    case XYLOTRAK_DEFAULT_START_HEIGHT:
      return 0;
    case XYLOTRAK_DEFAULT_TOP_HEIGHT_LIMIT:
    case XYLOTRAK_DEFAULT_HEIGHT_LIMIT:
      return xylotrak::kNoLimit;
    default:
      return std::nan("");
  }
}

XYLOTRAK_API int32_t xylotrak_product_default(ProductSpec *product) {
  if (product == nullptr) return -1;
  product->maxTopDiam = xylotrak::kNoLimit;
  product->minBaseDiam = 0;
  product->maxBaseDiam = xylotrak::kNoLimit;
  product->priceBasis = 0;
  product->logPosition = 0;
  product->heightRule = 0;
  product->lossFraction = 0;
  product->trimLength = 0;
  return 0;
}

XYLOTRAK_API int32_t xylotrak_fit_default(int which, double *values, int32_t capacity) {
  const std::span<const double> found = fitDefault(which);
  if (found.empty()) return -1;
  if (values != nullptr && capacity > 0) {
    const std::size_t n = std::min(found.size(), static_cast<std::size_t>(capacity));
    std::copy_n(found.begin(), n, values);
  }
  return static_cast<int32_t>(found.size());
}

}  // extern "C"
