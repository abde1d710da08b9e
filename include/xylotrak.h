/*
 * xylotrak.h - forest mensuration: taper model, bucking, log volume formulas.
 *
 * Plain C interface of the Xylotrak library. Every export takes doubles by
 * value, 16-bit codes and counts as `int` of which only the low 16 bits are
 * read (as a signed 16-bit integer), and arrays and records by pointer. All
 * memory belongs to the caller; the library never keeps a pointer it is given.
 *
 * Units: diameters in cm, heights and lengths in m, basal areas in m^2,
 * volumes in m^3.
 *
 * This header compiles as C11 and as C++.
 */
#ifndef XYLOTRAK_H
#define XYLOTRAK_H

#include <stddef.h>
#include <stdint.h>

#include "xylotrak_version.h"

#if defined(_WIN32)
#if defined(XYLOTRAK_BUILDING)
#define XYLOTRAK_API __declspec(dllexport)
#else
#define XYLOTRAK_API __declspec(dllimport)
#endif
#else
#if defined(XYLOTRAK_BUILDING)
#define XYLOTRAK_API __attribute__((visibility("default")))
#else
#define XYLOTRAK_API
#endif
#endif

#ifdef __cplusplus
#define XYLOTRAK_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
extern "C" {
#else
#define XYLOTRAK_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#endif

/*
 * The version of the loaded library, "major.minor.patch"; the headers it was
 * built with define the same as XYLOTRAK_VERSION_STRING.
 */
XYLOTRAK_API const char *xylotrak_version(void);

/* ------------------------------------------------------------------------ */
/* Call accounting                                                           */
/* ------------------------------------------------------------------------ */
/*
 * Slots: 0 PHVoDll, 1 PHVsDll, 2 PHViDll, 3 PHDiDll, 4 PHHiDll, 5 PHFFDll,
 * 6 PHCTDll, 7 the basic formulas (gDll ... VTCoDll), 8 PHVxDll.
 * Statuses: 0 off (never started since load), -1 counting, -2 stopped.
 *
 * The first accounted call after load (or tally_start) sets slots 0-6 and 8
 * to counting with zero counters. tally_stop stops slots 0-6 and 8. Slot 7
 * starts counting on the first accepted basic-formula call and never stops.
 * The usage report written at unload lists slots 0-6.
 * Counters wrap at 32 bits. An index outside 0-8 answers 0.
 *
 * Work an export does inside itself counts as the calls it stands for: a
 * height search adds 1 to slot 4 and its rounds (up to 100) to slot 3; a
 * volume adds 1 to slot 2 and its height searches; a bucking adds every
 * diameter, height search and volume it needs, also those it remembers from
 * earlier in the same call rather than working them out again.
 */
XYLOTRAK_API int32_t tally_start(void);
XYLOTRAK_API int32_t tally_stop(void);
XYLOTRAK_API int32_t tally_status(int index);
XYLOTRAK_API int32_t tally_count(int index);

/*
 * A limit that does not limit: a diameter limit of XYLOTRAK_NO_LIMIT or
 * above passes every stem (PHViDll's lowerDiam, a product's maxTopDiam or
 * maxBaseDiam), and a height limit of it lies above any tree. Front ends
 * give it for a top or height limit the user leaves out.
 */
#define XYLOTRAK_NO_LIMIT 999.0

/* ------------------------------------------------------------------------ */
/* Taper model                                                               */
/* ------------------------------------------------------------------------ */
/*
 * A taper model is the five leading arguments of every taper and bucking
 * export: dbh (cm), totalHeight (m), coefs[0..n], exps[0..n] and termCount n.
 * The diameter at height h is dbh * (c0 + sum c_k * (h/totalHeight)^e_k),
 * reported as 0 where it would be negative. The volume and form factor
 * integrate c0 * (h/totalHeight)^e0 for term 0, so models normally carry
 * exps[0] = 0.
 */

/* Stem diameter (cm) at a height (m). */
XYLOTRAK_API double PHDiDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double height);

/* Height (m) where the stem has tapered to targetDiam (cm): a 100-step
 * bisection whose first move goes from mid-stem to an end of the stem. */
XYLOTRAK_API double PHHiDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double targetDiam);

/*
 * Stem volume (m^3) between limits. A limit of 0 or below (or NaN) is
 * absent; lowerDiam of XYLOTRAK_NO_LIMIT (999) or above is absent too. The section starts at the
 * higher of lowerHeight and the height of lowerDiam, ends at the lower of
 * upperHeight and the height of upperDiam (totalHeight without either), and
 * is cut down to whole multiples of logLength. Never negative.
 */
XYLOTRAK_API double PHViDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double lowerHeight, double upperHeight, double lowerDiam,
                            double upperDiam, double logLength);

/* Form factor of a relative profile. A negative termCount answers 0. */
XYLOTRAK_API double PHFFDll(const double *coefs, const double *exps, int termCount);

/*
 * Model check: what can make the answers of a taper model meaningless while
 * they are computed exactly as specified. Returns a bit set of the findings
 * below (0 for none) and writes to *volumeDigits (when not null) the
 * estimated number of correct significant digits, 0 to 15, of the
 * closed-form whole-stem volume that PHViDll and PHFFDll compute. Not
 * accounted; reads coefs and exps up to entry n of termCount's low 16 bits.
 *
 * - VOLUME_ILL_CONDITIONED: fewer than 6 correct digits. The closed form adds
 *   (n+1)(n+2)/2 terms c_i c_j / (e_i + e_j + 1) (times a common factor) in
 *   one running sum, whose rounding is bounded by (terms + 5) u times the sum
 *   of their sizes (u = 2^-53); the digits are those of that bound against
 *   the sum itself, taken with compensated summation. Expanded models with
 *   large coefficients of both signs lose every digit this way.
 * - DIAMETER_INCREASES: the diameter as reported (0 where the profile is
 *   negative) grows with height somewhere on [0, H], by more than 1e-9 dbh
 *   and more than the rounding of the profile.
 * - NEGATIVE_DIAMETER: the profile falls below -1e-6 somewhere below the tip
 *   (the diameter exports report 0 there).
 *   Both shape findings are exact for a profile of one power term (n = 1,
 *   e_1 >= 0: monotone) or none; other profiles are sampled at 1024 equal
 *   steps of relative height and at 48 heights falling geometrically from
 *   the first step to 1e-12 H.
 * - NONZERO_TIP: the diameter at the tip, sum of all c_k, beyond 1e-6 dbh.
 * - EXP0_NONZERO: exps[0] is not 0, so volumes (which read it) disagree with
 *   diameters (which do not).
 * - NONFINITE: a coefficient, an exponent, dbh or totalHeight is NaN or
 *   infinite; nothing else is then judged and *volumeDigits is 0.
 * - BAD_TERM_COUNT: termCount is negative or does not fit in 16 bits (the
 *   library would read it as another count).
 */
#define XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED 0x01
#define XYLOTRAK_CHECK_DIAMETER_INCREASES 0x02
#define XYLOTRAK_CHECK_NEGATIVE_DIAMETER 0x04
#define XYLOTRAK_CHECK_NONZERO_TIP 0x08
#define XYLOTRAK_CHECK_EXP0_NONZERO 0x10
#define XYLOTRAK_CHECK_NONFINITE 0x20
#define XYLOTRAK_CHECK_BAD_TERM_COUNT 0x40
XYLOTRAK_API int32_t PHCkDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, int32_t *volumeDigits);

/*
 * The section volume of PHViDll, same arguments and limits, by a method that
 * does not cancel: the squared profile (term 0 as coefs[0] (h/H)^exps[0], as
 * PHViDll integrates it) integrated by adaptive Gauss-Kronrod quadrature
 * (15 points, relative tolerance 1e-12, at most 2000 pieces), the profile
 * summed with compensation. For models the check finds ill-conditioned it
 * is right to the digits their diameters carry; elsewhere it agrees with
 * PHViDll to about 1e-12. Not accounted itself; its height searches count
 * as PHHiDll calls. Never negative: 0 for an empty section, a negative
 * termCount, a NaN integral or when memory runs out.
 */
XYLOTRAK_API double PHVaDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double lowerHeight, double upperHeight, double lowerDiam,
                            double upperDiam, double logLength);

/* Number of whole logs of logLength between limits resolved as for PHViDll.
 * A count that does not fit 32 bits saturates at 2147483647; an infinite
 * section in logs of infinite length counts 0. */
XYLOTRAK_API int32_t PHCTDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double lowerHeight,
                             double upperHeight, double lowerDiam, double upperDiam,
                             double logLength);

/* ------------------------------------------------------------------------ */
/* Fitting taper models                                                      */
/* ------------------------------------------------------------------------ */
/*
 * Least-squares fits of the relative-diameter model
 *     d / dbh = sum_k c_k (h / H)^e_k
 * to measured stems: one row per measurement, with the tree's dbh (cm) and
 * total height H (m), the measurement height h (m) and the diameter d (cm)
 * there. The coefficients come from a Householder QR factorisation of the
 * design matrix with column pivoting (never the normal equations). A row is
 * skipped, and counted in rowsSkipped, when any of its four values is NaN or
 * infinite, dbh or H is 0 or below, h lies outside [0, H], or d / dbh is
 * too large for a double.
 *
 * Statistics are of the relative diameter d / dbh unless they say cm:
 * residualStdError = sqrt(RSS / (rowsUsed - terms)); rSquared = 1 - RSS/TSS
 * with TSS about the mean relative diameter; bias = mean(observed - fitted);
 * diameterRmse and diameterBias the same residuals times each row's dbh.
 * rowsUsed and rowsSkipped are always written; on any error the other fields,
 * the coefficients and the standard errors are cleared to 0. Not accounted.
 */
typedef struct xylotrak_fit_stats {
  double residualStdError; /*  0 relative diameter */
  double rSquared;         /*  8 */
  double bias;             /* 16 relative diameter, observed - fitted */
  double diameterRmse;     /* 24 cm */
  double diameterBias;     /* 32 cm, observed - fitted */
  int64_t rowsUsed;        /* 40 */
  int64_t rowsSkipped;     /* 48 */
} xylotrak_fit_stats;

XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_fit_stats) == 56, "xylotrak_fit_stats is 56 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_fit_stats, residualStdError) == 0, "rse at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_fit_stats, rSquared) == 8, "rSquared at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_fit_stats, bias) == 16, "bias at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_fit_stats, diameterRmse) == 24, "diameterRmse at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_fit_stats, diameterBias) == 32, "diameterBias at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_fit_stats, rowsUsed) == 40, "rowsUsed at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_fit_stats, rowsSkipped) == 48, "rowsSkipped at 48");

/*
 * Whether the fitting exports use a measurement row (1) or skip and count it
 * (0): dbh, totalHeight, height and diameter all finite, dbh and totalHeight
 * above 0, height within [0, totalHeight], and diameter / dbh finite. For
 * front ends that report on the rows a fit used. Not accounted.
 */
XYLOTRAK_API int32_t PHFuDll(double dbh, double totalHeight, double height, double diameter);

/* Return codes of the fitting exports. */
#define XYLOTRAK_FIT_OK 0
/* Fewer usable rows than terms + 1 (no residual degree of freedom). */
#define XYLOTRAK_FIT_TOO_FEW_ROWS 1
/* The design matrix has lower rank than the terms (duplicate exponents, all
 * rows at one relative height, ...): a pivot of its QR factor is at most
 * terms x 2^-52 times the largest. */
#define XYLOTRAK_FIT_RANK_DEFICIENT 2
/* A required pointer is null, rowCount or termCount is negative, an exponent
 * is NaN, infinite or negative, or maxTerms is below 1. */
#define XYLOTRAK_FIT_BAD_ARGUMENT 3
#define XYLOTRAK_FIT_OUT_OF_MEMORY 4
/* The fit or its statistics overflow the doubles (measurements near the
 * largest doubles): no coefficient or statistic would be finite. */
#define XYLOTRAK_FIT_OVERFLOW 5

/*
 * Fits the coefficients coefs[0..n] for the given exps[0..n], n the low 16
 * bits of termCount as a signed 16-bit integer. standardErrors (may be null)
 * receives the coefficients' standard errors, s * sqrt(diag((X'X)^-1)) taken
 * from the QR factor. stats may be null. Returns an XYLOTRAK_FIT_* code.
 */
XYLOTRAK_API int32_t PHFtDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *exps,
                             int termCount, double *coefs, double *standardErrors,
                             xylotrak_fit_stats *stats);

/*
 * Stepwise selection of exponents. Exponent 0 is always in the model, as
 * term 0. candidates[0..candidateCount-1] (candidateCount read in its low 16
 * bits; candidates null or candidateCount 0 takes the default set 0.005,
 * 0.01, 0.05, 0.1, 0.3, 0.5, 0.7, 1, 2, 3, 4, 5, 6, 7, 8, 10, 15, 20, 25, 30,
 * 35, 40; a candidate 0 or a repeated one is ignored) are added or removed one
 * at a time:
 * - add: the candidate whose entry lowers the residual sum of squares most,
 *   if its partial F = (RSS_before - RSS_after) / (RSS_after / (m - p))
 *   exceeds the 95% quantile of F(1, m - p) (m rows used, p terms after the
 *   addition) and the model has fewer than maxTerms terms; a candidate whose
 *   part independent of the model's columns is at most 1e-10 of its norm
 *   (nearly a combination of them) is passed over;
 * - then remove: the term (exponent 0 excepted) with the smallest partial F,
 *   if that is below the same quantile;
 * until neither step changes the model, or after 200 steps. A change of the
 * residual sum of squares below 2^-40 times the sum of the squared relative
 * diameters is rounding and counts as none (an exact fit takes no further
 * terms, and a term that only carries rounding leaves). Ties go to the
 * earlier candidate in the list, so the result depends only on the data.
 * maxTerms (low 16 bits; term 0 included) is also the capacity of exps,
 * coefs and standardErrors (may be null). On success *termCount receives n,
 * exps[0] = 0 and exps[1..n] ascending, with the coefficients of the final
 * fit. On an error the outputs are cleared as for PHFtDll and *termCount is
 * 0. Returns an XYLOTRAK_FIT_* code.
 */
XYLOTRAK_API int32_t PHFsDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *candidates,
                             int candidateCount, int maxTerms, double *exps, double *coefs,
                             double *standardErrors, int32_t *termCount, xylotrak_fit_stats *stats);

/* The mixed-effects search stopped without converging (see
 * xylotrak_mixed_stats.convergence for the reason); nothing else is written. */
#define XYLOTRAK_FIT_NOT_CONVERGED 6

/* Options of PHFcDll and PHFwDll. */
/* Fit through the tip: the coefficients are constrained to sum to 0, so the
 * profile (whose value at the tip, h = H, is sum c_k) ends at diameter 0. */
#define XYLOTRAK_FIT_TIP_ZERO 0x01

/*
 * PHFtDll with options and the coefficients' covariance. flags: 0 (the fit of
 * PHFtDll, the same coefficients and standard errors to the bit) or
 * XYLOTRAK_FIT_TIP_ZERO; other bits are a bad argument. Through the tip the
 * fit is the constrained least-squares estimator: with N the last n columns
 * of the orthogonal factor of a Householder QR factorisation of the column of
 * ones (so that the c with sum c_k = 0 are c = N z), z is fitted to X N by
 * PHFtDll's factorisation and c = N z. It needs n >= 1 (else a bad argument)
 * and rows used >= n + 1; its residual degrees of freedom are rows - n, and
 * s^2 = RSS / (rows - n). covariance (may be null) receives the (n+1) x (n+1)
 * row-major matrix s^2 (X'X)^-1, or s^2 N ((XN)'(XN))^-1 N' through the tip;
 * standardErrors the square roots of its diagonal (PHFtDll's to the bit for
 * the free fit). *residualDf (may be null) receives the residual degrees of
 * freedom. On an error every output is cleared as for PHFtDll. Returns an
 * XYLOTRAK_FIT_* code.
 */
XYLOTRAK_API int32_t PHFcDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *exps,
                             int termCount, int flags, double *coefs, double *standardErrors,
                             double *covariance, int64_t *residualDf, xylotrak_fit_stats *stats);

/*
 * PHFsDll with options and the covariance of the final fit. With
 * XYLOTRAK_FIT_TIP_ZERO every model the selection compares is fitted through
 * the tip (term 0's coefficient minus the sum of the others: a term enters as
 * the column x^e - 1, the model has no free constant, and the partial F tests
 * count the free coefficients), and the final fit is that of PHFcDll.
 * Without it the selection and its results are PHFsDll's. covariance (may
 * be null) has room for maxTerms x maxTerms doubles and receives the
 * (n+1) x (n+1) row-major covariance at its start, the rest cleared.
 */
XYLOTRAK_API int32_t PHFwDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, int64_t rowCount, const double *candidates,
                             int candidateCount, int maxTerms, int flags, double *exps,
                             double *coefs, double *standardErrors, double *covariance,
                             int32_t *termCount, int64_t *residualDf, xylotrak_fit_stats *stats);

/* Why a mixed-effects fit did not converge (xylotrak_mixed_stats.convergence). */
#define XYLOTRAK_MIXED_CONVERGED 0
/* The search still moved after 5000 iterations. */
#define XYLOTRAK_MIXED_ITERATION_LIMIT 1
/* The restricted likelihood is not finite where the search starts or ends. */
#define XYLOTRAK_MIXED_NONFINITE 2

typedef struct xylotrak_mixed_stats {
  double residualSd;   /*  0 sigma, relative diameter */
  double remlLogLik;   /*  8 the restricted log-likelihood at the optimum */
  int64_t rowsUsed;    /* 16 */
  int64_t rowsSkipped; /* 24 */
  int64_t trees;       /* 32 distinct tree ids among the rows used */
  int32_t iterations;  /* 40 Nelder-Mead iterations */
  int32_t convergence; /* 44 an XYLOTRAK_MIXED_* value */
} xylotrak_mixed_stats;

XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_mixed_stats) == 48, "xylotrak_mixed_stats is 48 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_mixed_stats, residualSd) == 0, "residualSd at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_mixed_stats, remlLogLik) == 8, "remlLogLik at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_mixed_stats, rowsUsed) == 16, "rowsUsed at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_mixed_stats, rowsSkipped) == 24, "rowsSkipped at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_mixed_stats, trees) == 32, "trees at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_mixed_stats, iterations) == 40, "iterations at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_mixed_stats, convergence) == 44, "convergence at 44");

/*
 * Mixed-effects fit by restricted maximum likelihood (REML): for tree i
 *     d/dbh = sum_k (beta_k + b_ik) x^e_k + eps,   x = h/H,
 * b_ik = 0 for the terms not named in randomTerms[0..randomCount-1] (term
 * indices 0..n, distinct; randomCount read in its low 16 bits, at least 1),
 * b_i ~ N(0, D) with D unstructured, eps ~ N(0, sigma^2), all independent.
 * tree[r] names the tree of row r (rows of one tree need not be adjacent).
 * The profiled restricted log-likelihood
 *     l_R = -1/2 [ (N-p)(1 + log(2 pi sigma^2)) + sum_i log|I + L'Z_i'Z_i L|
 *                  + log|X'V^-1 X sigma^2| ],  sigma^2 = r'V^-1 r sigma^2/(N-p)
 * (N rows used, p = n+1 fixed effects, D = sigma^2 L L', V the covariance of
 * the observations) is maximised over the lower triangle of L by a
 * Nelder-Mead search started at L = I, then restarted once where it stopped;
 * it has converged when the deviances of the simplex agree to 1e-10
 * (relative) and its vertices to 1e-7. Each evaluation factorises the
 * per-tree q x q matrices and X'V^-1X by Cholesky (Eigen).
 *
 * Writes the fixed effects (coefs), their standard errors and covariance
 * sigma^2 (X'V^-1X)^-1 ((n+1) x (n+1) row-major; both may be null), D
 * (randomCovariance, randomCount x randomCount row-major in randomTerms'
 * order) and stats. Rows are skipped as for PHFtDll. Returns an
 * XYLOTRAK_FIT_* code: TOO_FEW_ROWS also when there are fewer than
 * randomCount + 1 trees; NOT_CONVERGED with stats->convergence giving the
 * reason and stats->iterations the iterations made. On an error every output
 * but the row counts, trees, iterations and convergence is cleared.
 */
XYLOTRAK_API int32_t PHFmDll(const double *dbh, const double *totalHeight, const double *height,
                             const double *diameter, const int64_t *tree, int64_t rowCount,
                             const double *exps, int termCount, const int32_t *randomTerms,
                             int randomCount, double *coefs, double *standardErrors,
                             double *covariance, double *randomCovariance,
                             xylotrak_mixed_stats *stats);

/* ------------------------------------------------------------------------ */
/* Intervals and calibration of fitted models                                */
/* ------------------------------------------------------------------------ */
/*
 * A fitted model with what its intervals need: the model's coefficients and
 * exponents, their covariance C ((n+1) x (n+1) row-major, as PHFcDll, PHFwDll
 * or PHFmDll write it), the random terms and their covariance D (randomCount
 * 0 for a least-squares fit: randomTerms and randomCovariance are then not
 * read), the residual variance sigma^2 of the relative diameter, and the
 * degrees of freedom of the quantile (residualDf of a least-squares fit; 0
 * takes the normal quantile, as for mixed-effects fits). With flags
 * XYLOTRAK_TAPER_FIT_CALIBRATED the coefficients and C are one tree's own,
 * as PHCbDll writes them: everything uncertain about its curve is in C.
 * termCount and randomCount are read in their low 16 bits.
 */
#define XYLOTRAK_TAPER_FIT_CALIBRATED 0x01

typedef struct xylotrak_taper_fit {
  const double *coefs;            /*  0 coefs[0..n] */
  const double *exps;             /*  8 exps[0..n] */
  const double *covariance;       /* 16 C, (n+1) x (n+1) */
  const int32_t *randomTerms;     /* 24 term indices, randomCount of them */
  const double *randomCovariance; /* 32 D, randomCount x randomCount */
  double residualVariance;        /* 40 sigma^2 */
  double degreesOfFreedom;        /* 48 */
  int32_t termCount;              /* 56 n */
  int32_t randomCount;            /* 60 */
  int32_t flags;                  /* 64 XYLOTRAK_TAPER_FIT_* */
  int32_t reserved0;              /* 68 not read */
} xylotrak_taper_fit;

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_taper_fit) == 72, "xylotrak_taper_fit is 72 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, coefs) == 0, "coefs at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, exps) == 8, "exps at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, covariance) == 16, "covariance at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, randomTerms) == 24, "randomTerms at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, randomCovariance) == 32, "D at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, residualVariance) == 40, "sigma^2 at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, degreesOfFreedom) == 48, "df at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, termCount) == 56, "termCount at 56");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, randomCount) == 60, "randomCount at 60");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, flags) == 64, "flags at 64");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_fit, reserved0) == 68, "padding at 68");
#endif

/* Interval kinds of PHDcDll and PHVcDll. */
#define XYLOTRAK_INTERVAL_CONFIDENCE 0
#define XYLOTRAK_INTERVAL_PREDICTION 1

/*
 * The diameter at a height (cm, as PHDiDll reports it) with an interval at
 * `level` (in (0, 1)): dhat -/+ t se, t the (1 + level)/2 quantile of
 * Student's t with the fit's degrees of freedom (normal with 0), both ends
 * cut at 0 and, where rounding puts the reported diameter outside them,
 * widened to hold it (lower <= diameter <= upper always). A quantile beyond
 * the largest double (degrees of freedom far below 1) is infinite: the
 * upper end is then infinite unless se is 0.
 * With g = (1, x^e_1, ..., x^e_n), x = height / totalHeight:
 * - confidence (of the mean curve, or a calibrated tree's own curve):
 *   se^2 = dbh^2 g'Cg;
 * - prediction (of a diameter measured on a new tree): se^2 = dbh^2 (g'Cg +
 *   z'Dz + sigma^2), z the entries of g of the random terms; a calibrated
 *   model adds sigma^2 only (its tree's effects are already in C), a
 *   least-squares fit sigma^2 only (it has no D).
 * Returns XYLOTRAK_FIT_OK, XYLOTRAK_FIT_BAD_ARGUMENT (null fit, arrays or
 * outputs; a count out of range; a random term repeated or outside 0..n; a
 * non-finite entry; sigma^2 or the degrees of freedom negative; dbh or
 * totalHeight not above 0; height outside [0, totalHeight]; level outside
 * (0, 1); an unknown kind) or XYLOTRAK_FIT_OUT_OF_MEMORY; on an error the
 * three outputs are 0. Not accounted.
 */
XYLOTRAK_API int32_t PHDcDll(const xylotrak_taper_fit *fit, double dbh, double totalHeight,
                             double height, int interval, double level, double *diameter,
                             double *lower, double *upper);

/*
 * A section volume (m^3, as PHViDll reports it for the same limits) with a
 * delta-method interval. The section is resolved once from the fitted
 * coefficients (heights of diameter limits found by the height search, the
 * top cut to whole logs); on [hl, hu] so resolved the volume
 * V(c) = K H int_{xl}^{xu} (sum c_k x^e_k)^2 dx, K = pi/40000 dbh^2, is
 * quadratic in c, and its exact gradient is
 *     dV/dc_j = 2 K H sum_k c_k (xu^q - xl^q) / q,   q = e_j + e_k + 1
 * (term 0 read with its exponent, as the volume exports integrate it). The
 * interval is V -/+ t se, the lower end cut at 0, with
 * - confidence: se^2 = grad' C grad;
 * - prediction (the volume of a new tree of this dbh and height): se^2 =
 *   grad' C grad + gz' D gz, gz the entries of the gradient of the random
 *   terms (a tree's deviation from the mean curve); for a least-squares
 *   fit, which has no D, sigma^2 (dV/dc_0)^2 (the residual taken as a shift
 *   of the whole profile: an upper bound, as if the residuals along a stem
 *   were fully correlated); a calibrated model adds nothing (a tree's volume
 *   carries no measurement error of its own).
 * An empty section has volume 0 and the interval [0, 0]. Errors as for
 * PHDcDll (without the height); not accounted.
 */
XYLOTRAK_API int32_t PHVcDll(const xylotrak_taper_fit *fit, double dbh, double totalHeight,
                             double lowerHeight, double upperHeight, double lowerDiam,
                             double upperDiam, double logLength, int interval, double level,
                             double *volume, double *lower, double *upper);

/* PHCbDll's flag: a measurement lies beyond 99.9% of trees
 * (|d/dbh - g'beta| > 3.29 sqrt(z'Dz + sigma^2)). Allowed, but suspect. */
#define XYLOTRAK_CALIBRATION_OUTLYING 0x01

/*
 * Calibrates a mixed-effects fit to one tree from measured diameters
 * diameters[j] (cm) at heights[j] (m), j < measurementCount (low 16 bits, 0
 * or more; with 0 the result is the mean curve). With y_j = d_j / dbh, X the
 * measurements' rows of the fit's terms, Z those of its random terms, E the
 * (n+1) x q matrix placing the random terms among the terms:
 *     V = Z D Z' + sigma^2 I,  K = D Z' V^-1,  b = K (y - X beta)
 * (b the best linear unbiased predictor of the tree's random effects), and
 * the tree's coefficients coefs = beta + E b, with covariance
 *     (I - E K X) C (I - E K X)' + E (D - K Z D) E'
 * (the fixed effects' error carried through, and what the measurements
 * leave unknown of the tree's effects; with no measurement C + E D E').
 * Written to coefs[0..n] and covariance ((n+1) x (n+1) row-major); use them
 * in a xylotrak_taper_fit with XYLOTRAK_TAPER_FIT_CALIBRATED, or as a taper
 * model anywhere. *flags (may be null) receives XYLOTRAK_CALIBRATION_*
 * bits. A least-squares fit (randomCount 0) calibrates to its mean curve.
 * Errors as for PHDcDll, and also a measurement with a height outside
 * [0, totalHeight] or a diameter negative or not finite, or a fit already
 * calibrated; XYLOTRAK_FIT_OVERFLOW when the tree's coefficients or their
 * covariance would not be finite. On an error the outputs are cleared, as
 * many as the record's termCount names (none when it is negative or the
 * record null). Not accounted.
 */
XYLOTRAK_API int32_t PHCbDll(const xylotrak_taper_fit *fit, double dbh, double totalHeight,
                             const double *heights, const double *diameters, int measurementCount,
                             double *coefs, double *covariance, int32_t *flags);

/* ------------------------------------------------------------------------ */
/* Basal area and log volume formulas                                        */
/* ------------------------------------------------------------------------ */
/*
 * Every argument must compare >= 0: a negative or NaN argument makes the call
 * return -1.0 without counting it (-0.0 and +infinity pass). Accepted calls
 * count in accounting slot 7, and each basal area inside a log volume is a
 * counted gDll call of its own. diameter1 and diameter2 are the diameters at
 * the two ends of a log, in either order.
 */

/* Basal area (m^2) of a diameter (cm): (d * d * pi) / 40000. */
XYLOTRAK_API double gDll(double diameter);

/* Quadratic mean diameter (cm) of treeCount trees (need not be whole) with a
 * total basalArea (m^2). A treeCount of 0 gives +infinity, or NaN when
 * basalArea is 0 as well. */
XYLOTRAK_API double dgDll(double basalArea, double treeCount);

/* Huber volume (m^3) of a log with the given mid-length diameter. */
XYLOTRAK_API double VTHuDll(double diameter, double length);

/* Cylinder volume (m^3): the same function as VTHuDll under a second name. */
XYLOTRAK_API double VTCiDll(double diameter, double length);

/* Smalian volume (m^3): the mean of the end basal areas times the length. */
XYLOTRAK_API double VTSmDll(double diameter1, double diameter2, double length);

/* Newton volume (m^3): (g1 + 4 gm + g2) / 6 times the length. */
XYLOTRAK_API double VTNwDll(double diameter1, double midDiameter, double diameter2, double length);

/* Neiloid-frustum volume (m^3). */
XYLOTRAK_API double VTNeDll(double diameter1, double diameter2, double length);

/* Cone-frustum volume (m^3). */
XYLOTRAK_API double VTCoDll(double diameter1, double diameter2, double length);

/* ------------------------------------------------------------------------ */
/* Plot dimension calculator                                                 */
/* ------------------------------------------------------------------------ */
/*
 * Relates a plot's horizontal area to its dimensions measured along the
 * slope. Circular plot (rectangular 0): an area greater than 0 gives the
 * radius length1, otherwise a radius greater than 0 gives the area.
 * Rectangular plot: an area with one side gives the other side (length1
 * preferred as the given one), two sides without an area give the area.
 * A given area always wins over lengths passed in. Signs of lengths and
 * slopes are ignored.
 *
 * The area is in units of F square length units: F is 10000 for areaUnit 1,
 * 100 for areaUnit 2, else 1, times 10000 when unitScale is 5. A nonzero
 * slopeCorrection reduces each length by the cosine of its slope angle
 * (degrees), but only when both angles are below 90 in magnitude.
 * slopeCorrection, rectangular, unitScale and areaUnit are read in their low
 * 16 bits. The three outputs are always written; inputs that determine
 * nothing come back unchanged (lengths as absolute values); a null output
 * pointer is skipped. Not accounted; always returns 1.
 */
XYLOTRAK_API int16_t CalcAreaDll(double area, double length1, double length2, double slope1,
                                 double slope2, int slopeCorrection, int rectangular, int unitScale,
                                 int areaUnit, double *areaOut, double *length1Out,
                                 double *length2Out);

/* ------------------------------------------------------------------------ */
/* Log bucking                                                               */
/* ------------------------------------------------------------------------ */
/*
 * The host fills these records by byte offset, so the layouts below are part
 * of the interface: little-endian, natural alignment, padding spelled out as
 * reserved members. The library never reads or writes a reserved member, and
 * never writes an input field.
 *
 * ProductSpec: one product (assortment) of the product table, in priority
 * order. Fields up to trimLength are input; logCount and the doubles from
 * volumeSum on are results, cleared and filled by the bucking exports.
 */
typedef struct ProductSpec {
  double minTopDiam;      /*   0 in  cm: smallest top diameter of a log */
  double maxTopDiam;      /*   8 in  cm: largest diameter at the top of a log of maxLength */
  double minBaseDiam;     /*  16 in  cm: smallest stem diameter at the log's base */
  double maxBaseDiam;     /*  24 in  cm: largest stem diameter at the log's base */
  double minLength;       /*  32 in  m */
  double maxLength;       /*  40 in  m: nominal length */
  double unitPrice;       /*  48 in  money per unit of priceBasis */
  int16_t priceBasis;     /*  56 in  0 per m^3 net, 1 per metre, 2 per log, other: value 0 */
  int16_t logPosition;    /*  58 in  0 or 99 any position; k >= 1 only log k; other: no log */
  int16_t heightRule;     /*  60 in  0 none; 1 bound by heightLimit; other: no log */
  int16_t reserved0;      /*  62 padding */
  double lossFraction;    /*  64 in  share of a log's section volume lost */
  double trimLength;      /*  72 in  m: allowance above every log */
  int16_t logCount;       /*  80 out number of logs of this product */
  int16_t reserved1[3];   /*  82 padding */
  double volumeSum;       /*  88 out m^3 net */
  double valueSum;        /*  96 out */
  double lastTopHeight;   /* 104 out m: top of the highest log */
  double lastTopDiam;     /* 112 out cm: diameter there */
  double lengthSum;       /* 120 out m */
  double meanTopDiam;     /* 128 out cm: mean of the logs' top diameters */
  double weightedTopDiam; /* 136 out cm: mean top diameter weighted by net volume */
} ProductSpec;

XYLOTRAK_STATIC_ASSERT(sizeof(ProductSpec) == 144, "ProductSpec is 144 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, minTopDiam) == 0, "minTopDiam at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, maxTopDiam) == 8, "maxTopDiam at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, minBaseDiam) == 16, "minBaseDiam at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, maxBaseDiam) == 24, "maxBaseDiam at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, minLength) == 32, "minLength at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, maxLength) == 40, "maxLength at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, unitPrice) == 48, "unitPrice at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, priceBasis) == 56, "priceBasis at 56");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, logPosition) == 58, "logPosition at 58");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, heightRule) == 60, "heightRule at 60");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, reserved0) == 62, "padding at 62");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, lossFraction) == 64, "lossFraction at 64");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, trimLength) == 72, "trimLength at 72");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, logCount) == 80, "logCount at 80");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, reserved1) == 82, "padding at 82");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, volumeSum) == 88, "volumeSum at 88");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, valueSum) == 96, "valueSum at 96");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, lastTopHeight) == 104, "lastTopHeight at 104");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, lastTopDiam) == 112, "lastTopDiam at 112");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, lengthSum) == 120, "lengthSum at 120");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, meanTopDiam) == 128, "meanTopDiam at 128");
XYLOTRAK_STATIC_ASSERT(offsetof(ProductSpec, weightedTopDiam) == 136, "weightedTopDiam at 136");

/*
 * LogEntry: one row of the log table of exactly 100 rows. Row 0 is the stump
 * (logNumber 0, productNumber 0, baseHeight 0, length = topHeight = stump
 * height, full volume, value 0); rows 1..n hold the logs from the stump up;
 * every row after the last log is zero in every field, so the first row after
 * row 0 with logNumber 0 ends the table. The table holds at most 99 logs.
 */
typedef struct LogEntry {
  int16_t logNumber;     /*  0 k for the k-th log from the stump, 0 in the stump row */
  int16_t productNumber; /*  2 1-based product table index, 0 in the stump row */
  int16_t reserved0[2];  /*  4 padding */
  double baseHeight;     /*  8 m */
  double length;         /* 16 m */
  double topHeight;      /* 24 m: baseHeight + length */
  double trimTopHeight;  /* 32 m: topHeight + the product's trimLength */
  double baseDiam;       /* 40 cm */
  double topDiam;        /* 48 cm */
  double trimTopDiam;    /* 56 cm */
  double volume;         /* 64 m^3 net: (1 - lossFraction) x section volume */
  double value;          /* 72 by the product's priceBasis */
} LogEntry;

XYLOTRAK_STATIC_ASSERT(sizeof(LogEntry) == 80, "LogEntry is 80 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, logNumber) == 0, "logNumber at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, productNumber) == 2, "productNumber at 2");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, reserved0) == 4, "padding at 4");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, baseHeight) == 8, "baseHeight at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, length) == 16, "length at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, topHeight) == 24, "topHeight at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, trimTopHeight) == 32, "trimTopHeight at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, baseDiam) == 40, "baseDiam at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, topDiam) == 48, "topDiam at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, trimTopDiam) == 56, "trimTopDiam at 56");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, volume) == 64, "volume at 64");
XYLOTRAK_STATIC_ASSERT(offsetof(LogEntry, value) == 72, "value at 72");

/* Rows of the log table passed to the bucking exports (row 0 the stump). */
#define XYLOTRAK_LOG_ROWS 100

/*
 * Sequential bucking: cuts the stem greedily from the stump upward, the
 * products taken in table order, each cutting as many consecutive logs as its
 * rules allow before the next product carries on from the same height.
 * Arguments 6-12: startHeight (the first log begins there when it lies above
 * stumpHeight + stumpTrim), topHeightLimit (a log of minimum length must end
 * below the smaller of it and totalHeight), two unused doubles, stumpHeight,
 * stumpTrim, heightLimit (for products with heightRule 1). productCount: low
 * 16 bits, signed; 0 or less is an empty table. The eight totals are written
 * through their own pointers; logs points to 100 rows. Always returns 1.0.
 *
 * Decisions of this library where the rules above leave a gap:
 * - A stumpHeight of 0 or below (or NaN) means no stump: the stump row's
 *   volume and stumpVolume are 0 and no volume is computed for them (the
 *   volume from the ground to a height of 0 would be the whole stem).
 * - The table has room for 99 logs: once it holds 99 logs no further log is
 *   tried (the remaining products end at once, their results cleared), and
 *   the stem totals are still computed from where cutting stopped.
 * - A log whose chosen length is not greater than 0 (zero, negative or NaN)
 *   is not recorded and ends its product, so negative or zero minLength /
 *   maxLength can neither loop nor write a log of negative length.
 *
 * Cost of one call. All three bucking exports remember, for the length of
 * the call, the diameter at each height, the integral from the ground to
 * each height and each height search they have worked out, and answer a
 * repeated question from memory with the same result and the same count.
 * - Memory: those tables grow with the call, together at most 16 MiB
 *   (16777216 bytes, counted also while one of them is being enlarged; a few
 *   kB here), and are released before the call returns. A table that cannot
 *   grow replaces the values asked for least often; when the memory cannot
 *   be had at all, every value is worked out where it is needed. The results
 *   are the same either way. PHVsDll allocates nothing else.
 * - Time: each product is tried from where the one before it stopped until
 *   one of its rules fails (at most 99 logs in all): three diameters a try;
 *   for each log cut, two volumes, three diameters and, for a log cut short
 *   at its minTopDiam, one height search of at most 100 diameters. A height
 *   not seen before costs termCount pow() calls for its diameter and at most
 *   (termCount + 1)(termCount + 2)/2 for its integral (about twice that
 *   beyond 15 terms); one seen before, a table lookup.
 */
XYLOTRAK_API double PHVsDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double startHeight, double topHeightLimit,
                            double unused8, double unused9, double stumpHeight, double stumpTrim,
                            double heightLimit, ProductSpec *products, int productCount,
                            double *productVolume, double *stumpVolume, double *leftoverVolume,
                            double *topVolume, double *trimVolume, double *lossVolume,
                            double *stemVolume, double *totalValue, LogEntry *logs);

/*
 * Optimised bucking: a breadth-first search over cutting sequences from the
 * stump cut upward; generation g appends log g to every sequence of the
 * previous generation, trying every product in table order. objective (low
 * 16 bits): 0 the highest total value wins, 1 the highest total net volume,
 * any other value: the search runs but nothing is chosen. The best sequence
 * is written to the same tables and totals as PHVsDll; otherwise the output
 * stays cleared. Returns 1.0 with a winner, 0.0 without one, 99.0 when a
 * generation left more than 10000 sequences (the search is given up).
 *
 * Decisions of this library where the rules above leave a gap:
 * - A stumpHeight of 0 or below (or NaN) gives a winner a stump row and
 *   stumpVolume of volume 0, as in PHVsDll.
 * - startHeight is not read: the first log always begins at
 *   stumpHeight + stumpTrim.
 * - A sequence that holds 99 logs is not extended (no product is tried on it),
 *   so no sequence and no table ever holds more than 99 logs.
 * - A candidate log whose length is not greater than 0 (zero, negative or
 *   NaN) is refused like one without volume, so negative minLength /
 *   maxLength can neither loop nor report a log of negative length.
 * - A product whose priceBasis is not 0, 1 or 2 adds 0 to a sequence's
 *   value, so the score agrees with the totalValue reported for it.
 * - When scratch memory runs out during the search, everything is released,
 *   the output is left cleared as on entry, and 99.0 is returned (the search
 *   was given up).
 *
 * Cost of one call (see PHVsDll for the remembered values):
 * - Memory: the remembered values, at most 16 MiB; and the two lists of
 *   sequences, each of at most 10001 sequences of 32 + 10 g bytes (g logs),
 *   with up to as much again as spare room while they grow: a few hundred
 *   kB for the usual tables, never more than about 50 MB (10000 sequences
 *   of 99 logs in both). Nothing else of note.
 * - Time: generation g tries every product on every sequence of the one
 *   before, at most 10000 x productCount candidates, and copies the g
 *   entries of each candidate it keeps; at most 99 generations. A candidate
 *   costs a few lookups of remembered values, a height not seen before a
 *   diameter or an integral as in PHVsDll.
 */
XYLOTRAK_API double PHVoDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double startHeight, double topHeightLimit,
                            double unused8, double unused9, double stumpHeight, double stumpTrim,
                            double heightLimit, ProductSpec *products, int productCount,
                            int objective, double *productVolume, double *stumpVolume,
                            double *leftoverVolume, double *topVolume, double *trimVolume,
                            double *lossVolume, double *stemVolume, double *totalValue,
                            LogEntry *logs);

/*
 * Exact optimal bucking. The arguments, records, admission rules, candidate
 * logs, objective (0 value, 1 net volume), the 99-log bound and the result
 * assembly are those of PHVoDll; so is startHeight, which is not read. But
 * where PHVoDll searches sequence by sequence and may give up or stop early,
 * PHVxDll finds the sequence of highest score over all admissible sequences
 * by dynamic programming: a sequence's future depends only on where its next
 * cut lies and how many logs it holds, so of two sequences reaching the same
 * cut height with the same number of logs only the better one is kept.
 * Ties go to the sequence PHVoDll would build first: fewer logs, then the
 * lower product number at the first log where two sequences differ. As in
 * PHVoDll a score must exceed -999 to win.
 *
 * Returns 1.0 with a winner (tables written as by PHVoDll), 0.0 without one
 * (output cleared; always for an objective other than 0 or 1), and never
 * 99.0 for the size of the search; 99.0 only if memory runs out, with the
 * output cleared. Counted in accounting slot 8. The height where the stem
 * narrows to a product's minTopDiam is searched once per product and call.
 * Two cut heights are the same state only when they are the same double.
 *
 * Cost of one call (see PHVsDll for the remembered values). It grows with
 * the number of states, a state being a distinct cut height reached with a
 * given number of logs (at most 99 states per distinct cut height). Fine
 * tables reach many: 50 products of fixed lengths from 1.1 m in 3 cm steps,
 * with a 10 cm trim, reach about 6200 distinct cut heights in 46000 states
 * on a 31 m stem of 35 cm; 100 products in 1.5 cm steps about 12800 in
 * 97000.
 * - Memory: the remembered values, at most 16 MiB (about 1.6 MB for the 50
 *   products above, which ask for diameters at some 13600 distinct heights
 *   and integrals at 11900); 48 bytes per state, up to twice that with the
 *   spare room a layer of states keeps, all kept to the end of the call
 *   (three times, for the layer being built, while it grows); an index of
 *   that layer, at most 64 bytes per state of the larger of the last two
 *   layers (96 while it doubles); 8 bytes per product. Nothing else of note.
 * - Time: every product is tried on every state, at a cost of a few lookups
 *   of remembered values (2.3 million tries for the 50 products above).
 *   Each distinct height is worked out once, as in PHVsDll, as long as the
 *   remembered values fit in 16 MiB; past that, a value that had to give
 *   way is worked out again when asked for. The 50 products above take
 *   about 0.1 s on one x86-64 core, the 100 about 0.5 s.
 */
XYLOTRAK_API double PHVxDll(double dbh, double totalHeight, const double *coefs, const double *exps,
                            int termCount, double startHeight, double topHeightLimit,
                            double unused8, double unused9, double stumpHeight, double stumpTrim,
                            double heightLimit, ProductSpec *products, int productCount,
                            int objective, double *productVolume, double *stumpVolume,
                            double *leftoverVolume, double *topVolume, double *trimVolume,
                            double *lossVolume, double *stemVolume, double *totalValue,
                            LogEntry *logs);

/*
 * The zones of a bucked stem, for drawing and reporting it, from the log
 * table and the eight totals a bucking export wrote for the same tree and
 * stump: zones[0] where the cutting ends (the trim top of the last log, or
 * stumpHeight + stumpTrim without logs); zones[1] where the top begins, the
 * height above which the stem holds the totals' topVolume (totals[3]), found
 * by halving between 0 and totalHeight down to adjacent doubles and never
 * below zones[0] (zones[0] itself without product volume, totalHeight
 * without top volume); zones[2] the diameter at that height, which ends the
 * leftover (0 when there is none). The volumes and the diameter it works out
 * are counted as PHViDll and PHDiDll calls. Returns 0, or -1 with nothing
 * written when an array is null.
 */
XYLOTRAK_API int32_t PHZnDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double stumpHeight,
                             double stumpTrim, const LogEntry *logs, const double *totals,
                             double *zones);

/* ------------------------------------------------------------------------ */
/* Bucking a whole inventory                                                 */
/* ------------------------------------------------------------------------ */
/*
 * PHVbDll bucks many trees in one call, on several threads, and hands the
 * results back in the trees' order. Every tree is bucked exactly as its
 * single-tree export (PHVsDll, PHVoDll or PHVxDll) would buck it with the
 * same arguments: the same bytes in every record, whatever the thread count,
 * and the call accounting advances as if each tree had been a call of that
 * export from the host. PHVbDll itself is not accounted.
 *
 * A model shared by many trees is given once, in a table of models; each
 * tree names its model by index. The arrays are only read.
 */
typedef struct xylotrak_taper_model {
  const double *coefs; /*  0 coefs[0..n] */
  const double *exps;  /*  8 exps[0..n] */
  int32_t termCount;   /* 16 n, read in its low 16 bits as the exports read it */
  int32_t reserved0;   /* 20 padding, not read */
} xylotrak_taper_model;

/* Which export bucks the trees (xylotrak_inventory_params.method). */
#define XYLOTRAK_METHOD_SEQUENTIAL 0 /* PHVsDll */
#define XYLOTRAK_METHOD_OPTIMISED 1  /* PHVoDll */
#define XYLOTRAK_METHOD_EXACT 2      /* PHVxDll */

/* Flags (xylotrak_inventory_params.flags). EXACT_WHEN_GIVEN_UP, with
 * XYLOTRAK_METHOD_OPTIMISED: a tree on which PHVoDll gave up its search (99.0,
 * not for want of memory) is bucked again by PHVxDll, and its result is
 * PHVxDll's, marked by the tree's `method`. Both calls are accounted. Every
 * other tree keeps PHVoDll's bytes. */
#define XYLOTRAK_EXACT_WHEN_GIVEN_UP 0x1

/* The bucking arguments shared by all trees of the call. */
typedef struct xylotrak_inventory_params {
  double startHeight;    /*  0 m, as the bucking exports read it */
  double topHeightLimit; /*  8 m */
  double stumpHeight;    /* 16 m */
  double stumpTrim;      /* 24 m */
  double heightLimit;    /* 32 m */
  int32_t method;        /* 40 XYLOTRAK_METHOD_* */
  int32_t objective;     /* 44 for the searches, read as they read it: 0 value, 1 net volume */
  int32_t threads;       /* 48 worker threads; 0: one per processor; 1: none, all on the
                                caller's thread; at most 256 */
  int32_t flags;         /* 52 XYLOTRAK_EXACT_WHEN_GIVEN_UP or 0 */
} xylotrak_inventory_params;

/* What became of one tree (xylotrak_tree_result.status). Only a BUCKED tree
 * was given to an export; the others have every result 0, outcome 0, method
 * -1, and their product records carry the caller's input fields with cleared
 * results. */
#define XYLOTRAK_TREE_BUCKED 0
/* Its model index lies outside the model table, or that model's coefs or
 * exps pointer is null. */
#define XYLOTRAK_TREE_BAD_MODEL 1
/* Its dbh or totalHeight, or a coefficient or exponent its model reads, is
 * NaN or infinite. */
#define XYLOTRAK_TREE_NONFINITE 2
/* The search ran out of memory on this tree: the export's answer (99.0, the
 * output cleared) stands, but it is no verdict on the tree. */
#define XYLOTRAK_TREE_OUT_OF_MEMORY 3

typedef struct xylotrak_tree_result {
  int64_t tree;     /*  0 index of the tree in the inventory, from 0 */
  int32_t status;   /*  8 XYLOTRAK_TREE_* */
  int32_t method;   /* 12 the XYLOTRAK_METHOD_* whose export bucked it, -1 when none did */
  double outcome;   /* 16 the export's return value: 1.0, 0.0 or 99.0 */
  double totals[8]; /* 24 the eight totals in the exports' argument order, productVolume
                            to totalValue */
  int32_t logCount; /* 88 logs of the tree: the rows after its stump row */
  int32_t firstRow; /* 92 index in the block's rows of the tree's row 0 (the stump row) */
} xylotrak_tree_result;

/* A run of consecutive trees, handed to the callback when all of them are
 * bucked. For tree t of the block (trees[t]), rows[trees[t].firstRow] is row
 * 0 of its log table (the stump row, or zeros when the export wrote none) and
 * the logCount rows after it are its rows 1..logCount; the rest of its
 * 100-row table was all zero. products[t * productCount ...] are the product
 * records as the export left them for that tree: the caller's input fields
 * (padding included) and that tree's results. */
typedef struct xylotrak_inventory_block {
  int64_t firstTree;                 /*  0 trees[0].tree */
  int32_t treeCount;                 /*  8 trees in the block, at least 1 */
  int32_t rowCount;                  /* 12 rows in `rows` */
  const xylotrak_tree_result *trees; /* 16 */
  const LogEntry *rows;              /* 24 */
  const ProductSpec *products;       /* 32 treeCount x productCount records */
} xylotrak_inventory_block;

/* Receives each block in the trees' order, always on the thread that called
 * PHVbDll, while the workers go on bucking the next trees. The block and
 * everything it points to are valid only during the call. Returns 0 to go
 * on; anything else stops the bucking: no further block is handed over and
 * PHVbDll returns XYLOTRAK_INVENTORY_STOPPED once its workers have ended. */
typedef int32_t (*xylotrak_inventory_callback)(void *context,
                                               const xylotrak_inventory_block *block);

#define XYLOTRAK_INVENTORY_OK 0
#define XYLOTRAK_INVENTORY_STOPPED 1
/* A null pointer where something is needed (dbh, totalHeight or modelIndex
 * with trees, models with modelCount > 0, products with productCount > 0,
 * params, callback), treeCount or modelCount below 0, threads below 0 or
 * above 256, an unknown method or flag: nothing is bucked. */
#define XYLOTRAK_INVENTORY_BAD_ARGUMENT 2
/* Not even the memory to buck one tree could be had: nothing is bucked. */
#define XYLOTRAK_INVENTORY_OUT_OF_MEMORY 3

/*
 * Bucks trees 0..treeCount-1: tree i has dbh[i], totalHeight[i] and the model
 * models[modelIndex[i]]. productCount is read in its low 16 bits, as the
 * bucking exports read it. The product table is only read: each tree is
 * bucked on a copy of it.
 *
 * Memory stays bounded whatever the number of trees: the call holds a few
 * blocks per thread (a block is at most 64 trees, each with 100 log rows of
 * 80 bytes and productCount records of 144 bytes), besides what each bucking
 * export allocates for itself. With threads other than 1 it starts its worker
 * threads and ends them before it returns; if fewer can be started, it goes
 * on with those it has, or alone. Returns an XYLOTRAK_INVENTORY_* code.
 */
XYLOTRAK_API int32_t PHVbDll(const double *dbh, const double *totalHeight,
                             const int32_t *modelIndex, int64_t treeCount,
                             const xylotrak_taper_model *models, int32_t modelCount,
                             const ProductSpec *products, int productCount,
                             const xylotrak_inventory_params *params,
                             xylotrak_inventory_callback callback, void *context);

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_taper_model) == 24, "xylotrak_taper_model is 24 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_model, coefs) == 0, "coefs at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_model, exps) == 8, "exps at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_model, termCount) == 16, "termCount at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_taper_model, reserved0) == 20, "padding at 20");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_inventory_block) == 40, "xylotrak_inventory_block is 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_block, firstTree) == 0, "firstTree at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_block, treeCount) == 8, "treeCount at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_block, rowCount) == 12, "rowCount at 12");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_block, trees) == 16, "trees at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_block, rows) == 24, "rows at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_block, products) == 32, "products at 32");
#endif
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_inventory_params) == 56, "inventory params are 56 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, startHeight) == 0, "startHeight at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, topHeightLimit) == 8, "at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, stumpHeight) == 16, "at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, stumpTrim) == 24, "at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, heightLimit) == 32, "at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, method) == 40, "method at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, objective) == 44, "objective at 44");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, threads) == 48, "threads at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_inventory_params, flags) == 52, "flags at 52");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_tree_result) == 96, "xylotrak_tree_result is 96 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_tree_result, tree) == 0, "tree at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_tree_result, status) == 8, "status at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_tree_result, method) == 12, "method at 12");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_tree_result, outcome) == 16, "outcome at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_tree_result, totals) == 24, "totals at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_tree_result, logCount) == 88, "logCount at 88");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_tree_result, firstRow) == 92, "firstRow at 92");

/* ------------------------------------------------------------------------ */
/* Price matrices and measured stems                                         */
/* ------------------------------------------------------------------------ */
/*
 * Bucking as cut-to-length harvesters do it: products priced by a matrix of
 * diameter and length classes, stems given as measured diameters. These
 * calls use the units of harvester files: positions and lengths in cm,
 * diameters in mm, volumes in m^3. Nothing here touches the records or
 * exports above.
 *
 * A measured stem: over-bark diameters at ascending positions (any spacing)
 * from the butt end, position 0 being the felling cut. Between two
 * measurements the diameter is linear; below the first it is the first, and
 * the stem ends at the last (no log reaches beyond it). The under-bark
 * diameter is the over-bark diameter less the double bark thickness, itself
 * linear between its own points and constant beyond them (never below 0).
 * Grade zones: zone i starts at gradeStarts[i] (ascending) and runs to the
 * next start, the last to the end of the stem; the stem below the first
 * start has no grade.
 */
typedef struct xylotrak_measured_stem {
  const double *positions;     /*  0 cm, strictly ascending, finite */
  const double *diameters;     /*  8 mm over bark, finite, >= 0 */
  const double *barkPositions; /* 16 cm, strictly ascending */
  const double *barkThickness; /* 24 mm, double bark thickness, finite, >= 0 */
  const double *gradeStarts;   /* 32 cm, ascending */
  const int32_t *grades;       /* 40 the grade of each zone */
  int32_t pointCount;          /* 48 at least 2 */
  int32_t barkCount;           /* 52 0: no bark model (under-bark products refused) */
  int32_t gradeCount;          /* 56 0: no zones, every product's grade test passes */
  int32_t reserved0;           /* 60 padding, not read */
} xylotrak_measured_stem;

/* Where a product takes the diameter that sets a log's diameter class. */
#define XYLOTRAK_DIAMETER_TOP 0
#define XYLOTRAK_DIAMETER_MID 1
#define XYLOTRAK_DIAMETER_BUTT 2

/* How a matrix cell treats the log of its class. */
#define XYLOTRAK_CELL_OPEN 0      /* the harvester may cut it */
#define XYLOTRAK_CELL_HAND_ONLY 1 /* only when bucked by hand (XYLOTRAK_BUCK_HAND_CELLS) */
#define XYLOTRAK_CELL_FORBIDDEN 2 /* never: the class is impossible */

/* The price of a cell. */
#define XYLOTRAK_PRICE_PER_M3 0
#define XYLOTRAK_PRICE_PER_LOG 1

/*
 * The volume a product prices by (volumeRule). StanForD 2010 product
 * definitions name it in VolumeDiameterCategory; the .hpr reader maps:
 *   "All diameters (solid volume)"  -> XYLOTRAK_VOLUME_SOLID
 *   "Mid"                           -> XYLOTRAK_VOLUME_MID
 *   "Top"                           -> XYLOTRAK_VOLUME_TOP
 * Any other category is unsupported: the reader lists it and the audit gives
 * such a product's stems no optimum. "Calculated Norwegian mid" and
 * "Calculated Estonian mid" are among them: no published definition of how
 * either computes its mid diameter could be found, so neither is guessed.
 * - SOLID: the integral of the cross-section over the log, which for the
 *   linear profile is the sum of cone frustums pi L (d1^2 + d1 d2 + d2^2) / 12
 *   between consecutive profile points (measurements and bark points).
 * - MID: Huber, pi / 4 d_mid^2 L, d_mid at the middle of the log.
 * - TOP: the cylinder of the top diameter, pi / 4 d_top^2 L.
 * The volume length (volumeLength) follows VolumeLengthCategory:
 *   "Physical length cm"                   -> XYLOTRAK_VOLUME_LENGTH_PHYSICAL
 *   "Length as defined in LengthClasses"   -> XYLOTRAK_VOLUME_LENGTH_CLASS
 *   "Rounded downwards to nearest dm-module" -> XYLOTRAK_VOLUME_LENGTH_DM
 * SOLID always integrates over the physical length. volumeUnderBark chooses
 * the under-bark profile. Diameters are used in mm as interpolated, with no
 * rounding.
 */
#define XYLOTRAK_VOLUME_SOLID 0
#define XYLOTRAK_VOLUME_MID 1
#define XYLOTRAK_VOLUME_TOP 2
#define XYLOTRAK_VOLUME_LENGTH_PHYSICAL 0
#define XYLOTRAK_VOLUME_LENGTH_CLASS 1
#define XYLOTRAK_VOLUME_LENGTH_DM 2

/*
 * A product priced by a matrix. Diameter class i covers
 * [diameterLimits[i], diameterLimits[i+1]) mm, the last one up to, not
 * including, diameterMax; length classes likewise in cm with lengthMax. A log
 * takes the class whose lower limit its diameter (length) floors to; a log
 * below the first limit or at or above the maximum is outside every class
 * and not admissible. prices and cells are diameterClassCount rows of
 * lengthClassCount entries (row-major: [d * lengthClassCount + l]); cells
 * null means every cell open. A log is admissible only when every grade zone
 * it touches (overlaps by more than a point) holds one of the permitted
 * grades; gradeCount 0 permits every grade.
 */
typedef struct xylotrak_matrix_product {
  const double *diameterLimits; /*  0 mm, strictly ascending */
  const double *lengthLimits;   /*  8 cm, strictly ascending */
  const double *prices;         /* 16 money per m^3 or per log, finite */
  const int8_t *cells;          /* 24 XYLOTRAK_CELL_*, or null */
  const int32_t *grades;        /* 32 permitted grades */
  double diameterMax;           /* 40 mm, above the last limit */
  double lengthMax;             /* 48 cm, above the last limit */
  int32_t diameterClassCount;   /* 56 at least 1 */
  int32_t lengthClassCount;     /* 60 at least 1 */
  int32_t gradeCount;           /* 64 */
  int16_t diameterPosition;     /* 68 XYLOTRAK_DIAMETER_* */
  int16_t diameterUnderBark;    /* 70 0 over bark, 1 under bark */
  int16_t priceBasis;           /* 72 XYLOTRAK_PRICE_* */
  int16_t volumeRule;           /* 74 XYLOTRAK_VOLUME_* */
  int16_t volumeLength;         /* 76 XYLOTRAK_VOLUME_LENGTH_* */
  int16_t volumeUnderBark;      /* 78 0 over bark, 1 under bark */
} xylotrak_matrix_product;

/* One log of a measured stem. */
typedef struct xylotrak_matrix_log {
  int32_t product;        /*  0 index in the product table, from 0 */
  int32_t diameterClass;  /*  4 index, -1 outside every class */
  int32_t lengthClass;    /*  8 index, -1 outside every class */
  int32_t status;         /* 12 XYLOTRAK_LOG_* */
  double startCm;         /* 16 */
  double lengthCm;        /* 24 */
  double classDiameterMm; /* 32 the diameter that sets the class */
  double diameterClassMm; /* 40 the class's lower limit (0 outside) */
  double lengthClassCm;   /* 48 the class's lower limit (0 outside) */
  double volume;          /* 56 m^3 by the product's volume rule */
  double value;           /* 64 price x volume, or the price per log; 0 when no price applies */
} xylotrak_matrix_log;

/* Whether a log is admissible (xylotrak_matrix_log.status, PHMlDll). */
#define XYLOTRAK_LOG_ADMISSIBLE 0
#define XYLOTRAK_LOG_OUTSIDE_DIAMETER 1 /* no diameter class: value 0 */
#define XYLOTRAK_LOG_OUTSIDE_LENGTH 2   /* no length class: value 0 */
#define XYLOTRAK_LOG_FORBIDDEN 3        /* its cell forbids it: value 0 */
#define XYLOTRAK_LOG_HAND_ONLY 4        /* its cell is for hand bucking: priced */
#define XYLOTRAK_LOG_GRADE 5            /* it touches a grade the product does not permit: priced */
#define XYLOTRAK_LOG_BEYOND_STEM 6      /* it does not lie within the measured stem: value 0 */

/* Return codes of the matrix calls. */
#define XYLOTRAK_MATRIX_OK 0
/* A null pointer where something is needed, a count out of range, positions
 * not ascending, a diameter, position or limit not finite or negative, an
 * unknown code in a product, a parameter out of range. */
#define XYLOTRAK_MATRIX_BAD_ARGUMENT 1
/* A product's volumeRule or volumeLength is not one of XYLOTRAK_VOLUME_*. */
#define XYLOTRAK_MATRIX_UNSUPPORTED_RULE 2
/* A product needs under-bark diameters and the stem has no bark model. */
#define XYLOTRAK_MATRIX_NO_BARK 3
/* More logs than logCapacity: *logCount says how many there are. */
#define XYLOTRAK_MATRIX_TOO_MANY_LOGS 4
#define XYLOTRAK_MATRIX_OUT_OF_MEMORY 5
/* The grid would hold more than 10^6 steps. */
#define XYLOTRAK_MATRIX_TOO_LARGE 6

/* Methods (xylotrak_matrix_params.method). */
#define XYLOTRAK_MATRIX_SEQUENTIAL 0
#define XYLOTRAK_MATRIX_EXACT 1
/* Flags (xylotrak_matrix_params.flags): cells open to hand bucking only are
 * admissible, as for an audit of what an operator could have cut. */
#define XYLOTRAK_BUCK_HAND_CELLS 0x1

/*
 * How to buck. Cuts lie on the grid startCm + k * resolutionCm, k = 0, 1,
 * ..., up to the end of the stem, and every log's length is a whole number
 * of grid steps.
 * - SEQUENTIAL: from startCm upward, the products in table order, each
 *   cutting consecutive logs, each its longest admissible length on the
 *   grid, until it admits none; the next product carries on from there.
 * - EXACT: the highest total value over every sequence of admissible logs
 *   and waste pieces on the grid (a dynamic programme over the grid
 *   positions, exact for that grid: the optimum among all cuttings whose
 *   cuts lie on it). The stem above the last log is left. Ties go to
 *   leaving wood as waste, then to the lower product index, then to the
 *   longer log, deciding from the butt upward.
 */
typedef struct xylotrak_matrix_params {
  double startCm;       /*  0 where the first log may begin: a whole number of cm */
  int32_t method;       /*  8 XYLOTRAK_MATRIX_SEQUENTIAL or XYLOTRAK_MATRIX_EXACT */
  int32_t resolutionCm; /* 12 grid step, 1 to 1000 */
  int32_t flags;        /* 16 XYLOTRAK_BUCK_HAND_CELLS or 0 */
  int32_t reserved0;    /* 20 padding, not read */
} xylotrak_matrix_params;

/*
 * Values one log of a measured stem: product from startCm for lengthCm,
 * whether or not it lies on a grid. Writes *log in full and returns its
 * status (XYLOTRAK_LOG_*), with handCells (0 or 1) saying whether cells for
 * hand bucking count as open; or, for an argument the calls refuse, minus an
 * XYLOTRAK_MATRIX_* code, with *log cleared. The bucking calls value their
 * logs with the same arithmetic, so a log they write has the bits this call
 * gives it.
 */
XYLOTRAK_API int32_t PHMlDll(const xylotrak_measured_stem *stem,
                             const xylotrak_matrix_product *product, int32_t productIndex,
                             double startCm, double lengthCm, int handCells,
                             xylotrak_matrix_log *log);

/*
 * Bucks a measured stem against productCount (low 16 bits) matrix products.
 * Writes the logs from the butt up, their number to *logCount and their
 * values summed from the butt up to *totalValue (both always written, 0 on an
 * error other than TOO_MANY_LOGS, which writes no log but the count and
 * value). Returns an XYLOTRAK_MATRIX_* code.
 * Every product is checked first, so an unsupported rule or a missing bark
 * model fails the call whether or not the product would be chosen.
 */
XYLOTRAK_API int32_t PHMbDll(const xylotrak_measured_stem *stem,
                             const xylotrak_matrix_product *products, int productCount,
                             const xylotrak_matrix_params *params, xylotrak_matrix_log *logs,
                             int32_t logCapacity, int32_t *logCount, double *totalValue);

/*
 * A taper-model stem as a measured one: the over-bark diameter PHDiDll gives
 * (cm, here written in mm) at 0, stepCm, 2 stepCm, ... while below
 * totalHeight, and at totalHeight itself, into positions (cm) and diameters
 * (mm). Returns the number of points; when that exceeds capacity, only
 * capacity are written. Returns -1 for a stepCm not above 0 or not finite, a
 * totalHeight not above 0 or not finite, a negative capacity, or null
 * arrays with capacity > 0. Each diameter written counts as a PHDiDll call.
 */
XYLOTRAK_API int32_t PHMtDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double stepCm, double *positions,
                             double *diameters, int32_t capacity);

#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_measured_stem) == 64, "xylotrak_measured_stem is 64");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, positions) == 0, "positions at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, diameters) == 8, "diameters at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, barkPositions) == 16, "at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, barkThickness) == 24, "at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, gradeStarts) == 32, "at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, grades) == 40, "grades at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, pointCount) == 48, "at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, barkCount) == 52, "at 52");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, gradeCount) == 56, "at 56");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_measured_stem, reserved0) == 60, "padding at 60");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_matrix_product) == 80, "xylotrak_matrix_product is 80");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, diameterLimits) == 0, "at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, lengthLimits) == 8, "at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, prices) == 16, "prices at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, cells) == 24, "cells at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, grades) == 32, "grades at 32");
#endif
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, diameterMax) == 40, "at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, lengthMax) == 48, "at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, diameterClassCount) == 56, "at 56");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, lengthClassCount) == 60, "at 60");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, gradeCount) == 64, "at 64");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, diameterPosition) == 68, "at 68");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, diameterUnderBark) == 70, "at 70");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, priceBasis) == 72, "at 72");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, volumeRule) == 74, "at 74");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, volumeLength) == 76, "at 76");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_product, volumeUnderBark) == 78, "at 78");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_matrix_log) == 72, "xylotrak_matrix_log is 72 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, product) == 0, "product at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, diameterClass) == 4, "at 4");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, lengthClass) == 8, "at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, status) == 12, "status at 12");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, startCm) == 16, "startCm at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, lengthCm) == 24, "lengthCm at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, classDiameterMm) == 32, "at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, diameterClassMm) == 40, "at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, lengthClassCm) == 48, "at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, volume) == 56, "volume at 56");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_log, value) == 64, "value at 64");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_matrix_params) == 24, "xylotrak_matrix_params is 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_params, startCm) == 0, "startCm at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_params, method) == 8, "method at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_params, resolutionCm) == 12, "at 12");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_params, flags) == 16, "flags at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_matrix_params, reserved0) == 20, "padding at 20");

/* ------------------------------------------------------------------------ */
/* Harvester production files (.hpr) and the audit of their bucking          */
/* ------------------------------------------------------------------------ */
/*
 * HPRoDll reads a StanForD 2010 harvested-production file (.hpr, XML) into a
 * handle; HPRaDll audits it: for every stem, the value of the logs the
 * harvester cut against the value of the best bucking of the measured stem.
 * Read (element names local, any namespace), as the StanForD 2010 schema
 * names them. The names were checked against two code transcriptions
 * generated from the schema's XSD (C# by xsd.exe, Rust serde types; the XSD
 * itself was not at hand); PriceCategory alone was not found there and is
 * read as an earlier version of this reader took it (unverified):
 * - Machine/SpeciesGroupDefinition: SpeciesGroupKey, SpeciesGroupName, and
 *   whether a BarkFunction is given, by its attribute barkFunctionCategory
 *   (Swedish Zacco, German, GermanDistanceBased, Skogforsk 2004 Scots pine or
 *   Norway spruce; None is no function). Bark functions are not applied: no
 *   published definition of their formulas could be found to cite, so each
 *   is listed as unsupported and the bark comes from the logs.
 * - Machine/ProductDefinition: ProductKey and ClassifiedProductDefinition with
 *   ProductName, SpeciesGroupKey; DiameterDefinition/DiameterClasses with the
 *   attribute diameterClassCategory Top|Midpoint, DiameterClass/
 *   DiameterClassLowerLimit, DiameterClassMAX, DiameterUnderBark
 *   true|false; LengthDefinition with LengthClass/LengthClassLowerLimit and
 *   LengthClassMAX; ProductMatrixes/ProductMatrixItem with the attributes
 *   diameterClassLowerLimit and lengthClassLowerLimit, a Price and an
 *   optional BuckingCriteria: "No limit" and "The log is excluded from
 *   apportionment bucking,only bucking according to value allowed" (open),
 *   "Only logs bucked manually allowed" (hand only), "Forbidden to buck the
 *   log even manually" (forbidden); absent: open; a cell without an item is
 *   forbidden; PriceCategory Price/m3|Price/log (absent: per m^3);
 *   PriceDefinition with VolumeDiameterAdjustment (only "Measured diameter
 *   in mm" is supported), VolumeDiameterCategory (mapped as XYLOTRAK_VOLUME_*
 *   says; its attribute volumeDiameterTopPosition only 0), VolumeLengthCategory
 *   (likewise; absent: solid volume and physical length) and VolumeUnderBark
 *   true|false; PermittedGradesDefinition/PermittedGradeNumber (absent: every
 *   grade).
 * - Machine/Stem: StemKey, SpeciesGroupKey, SingleTreeProcessedStem with DBH
 *   (mm), StemGrade/GradeValue with the attribute gradeStartPosition (cm),
 *   StemDiameters/DiameterValue (mm over bark) with the attribute
 *   diameterPosition (cm), and Log: LogKey, ProductKey, LogVolume by
 *   logVolumeCategory (m3 (price), m3sob, m3sub), LogMeasurement with
 *   LogDiameter by logDiameterCategory (Butt ob, Butt ub, Mid ob, Mid ub,
 *   Top ob, Top ub) and LogLength (cm). Logs lie end to end from position 0
 *   in the order of the file. The stem's bark curve is the double bark
 *   thickness (over less under bark) at the ends and middles of its logs
 *   where the file gives both.
 * The names an earlier version of this reader used are read as well, with
 *   the same meaning: DiameterClassMAX, DiameterUnderBark and
 *   DiameterTopPositionOrMid Top|Mid|Butt directly in DiameterDefinition;
 *   LengthClasses around the LengthClass elements; the volume rules directly
 *   in ClassifiedProductDefinition; PermittedGrades/GradeValue;
 *   BuckingCriteria Allowed|Manual|Forbidden; StemGrade/GradeStartPosition
 *   as an element; LogDiameter directly in Log; a BarkFunction named by its
 *   child element.
 * Any other element, attribute value or category is not guessed at: it is
 * listed in the UNSUPPORTED table (message, line of its first occurrence and
 * how often it occurs) and otherwise left out. A product whose rules cannot
 * all be read is kept with `supported` 0. Text crosses as NUL-terminated
 * UTF-16, cut to the capacity given.
 */
/*
 * One UTF-16 code unit: wchar_t on Windows, char16_t on other platforms
 * (uint_least16_t, which is what <uchar.h> makes char16_t, when compiled as C).
 */
#if defined(_WIN32)
typedef wchar_t xylotrak_char16;
#elif defined(__cplusplus)
typedef char16_t xylotrak_char16;
#else
typedef uint_least16_t xylotrak_char16;
#endif

typedef struct xylotrak_hpr xylotrak_hpr;

#define XYLOTRAK_HPR_OK 0
#define XYLOTRAK_HPR_CANNOT_READ 1 /* the file cannot be opened or read */
/* Not well-formed XML, not a harvested-production file, or a value that
 * cannot be read (a key or number that is not one): the message names the
 * element and its line. */
#define XYLOTRAK_HPR_MALFORMED 2
#define XYLOTRAK_HPR_BAD_ARGUMENT 3
#define XYLOTRAK_HPR_OUT_OF_MEMORY 4

/* Reads the file at the UTF-8 path into *file (null on an error); on an
 * error, message (may be null) receives one line saying why. Returns an
 * XYLOTRAK_HPR_* code. */
XYLOTRAK_API int32_t HPRoDll(const char *pathUtf8, xylotrak_hpr **file, xylotrak_char16 *message,
                             int32_t messageCapacity);
/* The same from size bytes in memory. */
XYLOTRAK_API int32_t HPRpDll(const char *data, int64_t size, xylotrak_hpr **file,
                             xylotrak_char16 *message, int32_t messageCapacity);
/* Releases a file (null is ignored). Pointers into it become invalid. */
XYLOTRAK_API void HPRcDll(xylotrak_hpr *file);

/* The tables of a file, with their records and their text. */
#define XYLOTRAK_HPR_SPECIES 0     /* xylotrak_hpr_species; text: the name */
#define XYLOTRAK_HPR_PRODUCTS 1    /* xylotrak_hpr_product; text: the name */
#define XYLOTRAK_HPR_STEMS 2       /* xylotrak_hpr_stem */
#define XYLOTRAK_HPR_LOGS 3        /* xylotrak_hpr_log: the logs cut */
#define XYLOTRAK_HPR_UNSUPPORTED 4 /* xylotrak_hpr_note; text: what is not supported */
#define XYLOTRAK_HPR_AUDIT_STEMS 5 /* xylotrak_audit_stem; text: why there is no optimum */
#define XYLOTRAK_HPR_AUDIT_LOGS 6  /* xylotrak_audit_log */

typedef struct xylotrak_hpr_species {
  int64_t key;          /*  0 */
  int32_t barkFunction; /*  8 1 when the file gives one, not None (listed unsupported) */
  int32_t reserved0;    /* 12 */
} xylotrak_hpr_species;

typedef struct xylotrak_hpr_product {
  int64_t key;                    /*  0 */
  int64_t speciesGroupKey;        /*  8 */
  xylotrak_matrix_product matrix; /* 16 its arrays belong to the file */
  int32_t supported;              /* 96 0: a rule is unsupported (volumeRule then -1) */
  int32_t reserved0;              /* 100 */
} xylotrak_hpr_product;

typedef struct xylotrak_hpr_stem {
  int64_t key;                 /*  0 */
  int64_t speciesGroupKey;     /*  8 */
  double dbhMm;                /* 16 NaN when absent */
  int64_t firstLog;            /* 24 row of its first log in XYLOTRAK_HPR_LOGS */
  int32_t logCount;            /* 32 */
  int32_t reserved0;           /* 36 */
  xylotrak_measured_stem stem; /* 40 its arrays belong to the file */
} xylotrak_hpr_stem;

/* Indexes of xylotrak_hpr_log.diameters and .volumes. */
#define XYLOTRAK_HPR_BUTT_OB 0
#define XYLOTRAK_HPR_BUTT_UB 1
#define XYLOTRAK_HPR_MID_OB 2
#define XYLOTRAK_HPR_MID_UB 3
#define XYLOTRAK_HPR_TOP_OB 4
#define XYLOTRAK_HPR_TOP_UB 5
#define XYLOTRAK_HPR_M3_PRICE 0
#define XYLOTRAK_HPR_M3SOB 1
#define XYLOTRAK_HPR_M3SUB 2

typedef struct xylotrak_hpr_log {
  int64_t stem;        /*  0 row in XYLOTRAK_HPR_STEMS */
  int64_t productKey;  /*  8 */
  int32_t product;     /* 16 row in XYLOTRAK_HPR_PRODUCTS, -1 when the key is not defined */
  int32_t logKey;      /* 20 */
  double startCm;      /* 24 */
  double lengthCm;     /* 32 */
  double diameters[6]; /* 40 mm, XYLOTRAK_HPR_BUTT_OB..; NaN when absent */
  double volumes[3];   /* 88 m^3, XYLOTRAK_HPR_M3_PRICE..; NaN when absent */
} xylotrak_hpr_log;

typedef struct xylotrak_hpr_note {
  int32_t line;  /* 0 of the first occurrence */
  int32_t count; /* 4 occurrences */
} xylotrak_hpr_note;

/* The audit of one stem. Its actual logs come first in the audit logs, then
 * its optimal ones. */
typedef struct xylotrak_audit_stem {
  int64_t stem;            /*  0 row in XYLOTRAK_HPR_STEMS */
  int64_t firstLog;        /*  8 row in XYLOTRAK_HPR_AUDIT_LOGS */
  int32_t actualLogCount;  /* 16 */
  int32_t optimalLogCount; /* 20 */
  int32_t status;          /* 24 XYLOTRAK_MATRIX_OK when optimised, else what stopped it */
  int32_t reserved0;       /* 28 */
  double actualValue;      /* 32 the logs cut, priced by the file's matrices and price volumes */
  double actualValueModel; /* 40 the same logs valued by PHMlDll on the measured stem */
  double optimalValue;     /* 48 NaN without an optimum */
  double gain;             /* 56 optimalValue - actualValue */
} xylotrak_audit_stem;

typedef struct xylotrak_audit_log {
  int64_t stem;            /*  0 row in XYLOTRAK_HPR_STEMS */
  int64_t productKey;      /*  8 */
  int32_t optimal;         /* 16 0 a log cut, 1 a log of the optimum */
  int32_t reserved0;       /* 20 */
  double fileVolume;       /* 24 a log cut: its m3 (price); NaN otherwise */
  double fileValue;        /* 32 a log cut: priced with fileVolume; an optimal log: log.value */
  xylotrak_matrix_log log; /* 40 valued by PHMlDll (product: row in XYLOTRAK_HPR_PRODUCTS) */
} xylotrak_audit_log;

typedef struct xylotrak_audit_totals {
  double actualValue;          /*  0 over every stem with a finite actual value */
  double actualValueModel;     /*  8 likewise */
  double optimalValue;         /* 16 over the optimised stems */
  double actualValueOptimised; /* 24 actualValue over the optimised stems alone */
  int64_t stems;               /* 32 */
  int64_t stemsOptimised;      /* 40 */
} xylotrak_audit_totals;

/* Rows of a table; -1 for a null file or an unknown table. */
XYLOTRAK_API int64_t HPRnDll(const xylotrak_hpr *file, int table);
/* Copies row `row` of `table` into *record (of the table's record type; may
 * be null) and its text into text (may be null). Returns the length of the
 * whole text in UTF-16 code units, or -1 for a null file, an unknown table
 * or a row out of range. */
XYLOTRAK_API int32_t HPRrDll(const xylotrak_hpr *file, int table, int64_t row, void *record,
                             xylotrak_char16 *text, int32_t textCapacity);
/*
 * Audits every stem, replacing an earlier audit of the file. For each stem:
 * - the logs cut: each priced from its product's matrix (diameter class
 *   from the file's log diameter at the product's position and bark, else
 *   from the profile; length class from its length) with its m3 (price)
 *   (fileValue; NaN, and a note, without one), and valued by PHMlDll on the
 *   measured stem with hand cells open;
 * - the optimum: PHMbDll's exact optimiser with hand cells open, from 0 on
 *   the grid of resolutionCm (1 to 1000), over the supported products of
 *   the stem's species group. A stem with a product of its group that is
 *   not supported, a stem the matrix calls refuse (fewer than two
 *   diameters, no bark model for an under-bark product) gets status the
 *   code, optimalValue NaN and the reason as text.
 * totals (may be null) receives the sums. Returns an XYLOTRAK_HPR_* code.
 */
XYLOTRAK_API int32_t HPRaDll(xylotrak_hpr *file, int32_t resolutionCm,
                             xylotrak_audit_totals *totals);

XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_hpr_species) == 16, "xylotrak_hpr_species is 16 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_species, key) == 0, "key at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_species, barkFunction) == 8, "at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_species, reserved0) == 12, "padding at 12");
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_hpr_product) == 104, "xylotrak_hpr_product is 104");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_product, key) == 0, "key at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_product, speciesGroupKey) == 8, "at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_product, matrix) == 16, "matrix at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_product, supported) == 96, "at 96");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_product, reserved0) == 100, "padding at 100");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_hpr_stem) == 104, "xylotrak_hpr_stem is 104 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_stem, key) == 0, "key at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_stem, speciesGroupKey) == 8, "at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_stem, dbhMm) == 16, "dbhMm at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_stem, firstLog) == 24, "firstLog at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_stem, logCount) == 32, "logCount at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_stem, reserved0) == 36, "padding at 36");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_stem, stem) == 40, "stem at 40");
#endif
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_hpr_log) == 112, "xylotrak_hpr_log is 112 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, stem) == 0, "stem at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, productKey) == 8, "productKey at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, product) == 16, "product at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, logKey) == 20, "logKey at 20");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, startCm) == 24, "startCm at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, lengthCm) == 32, "lengthCm at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, diameters) == 40, "diameters at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_log, volumes) == 88, "volumes at 88");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_hpr_note) == 8, "xylotrak_hpr_note is 8 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_note, line) == 0, "line at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_hpr_note, count) == 4, "count at 4");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_audit_stem) == 64, "xylotrak_audit_stem is 64 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, stem) == 0, "stem at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, firstLog) == 8, "firstLog at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, actualLogCount) == 16, "at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, optimalLogCount) == 20, "at 20");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, status) == 24, "status at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, reserved0) == 28, "padding at 28");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, actualValue) == 32, "at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, actualValueModel) == 40, "at 40");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, optimalValue) == 48, "at 48");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_stem, gain) == 56, "gain at 56");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_audit_log) == 112, "xylotrak_audit_log is 112 bytes");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_log, stem) == 0, "stem at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_log, productKey) == 8, "productKey at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_log, optimal) == 16, "optimal at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_log, reserved0) == 20, "padding at 20");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_log, fileVolume) == 24, "at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_log, fileValue) == 32, "at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_log, log) == 40, "log at 40");
XYLOTRAK_STATIC_ASSERT(sizeof(xylotrak_audit_totals) == 48, "xylotrak_audit_totals is 48");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_totals, actualValue) == 0, "at 0");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_totals, actualValueModel) == 8, "at 8");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_totals, optimalValue) == 16, "at 16");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_totals, actualValueOptimised) == 24, "at 24");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_totals, stems) == 32, "stems at 32");
XYLOTRAK_STATIC_ASSERT(offsetof(xylotrak_audit_totals, stemsOptimised) == 40, "at 40");

/* ------------------------------------------------------------------------ */
/* Web request                                                               */
/* ------------------------------------------------------------------------ */

/*
 * One synchronous HTTPS request to port 443 of the host `url` (the whole
 * string is the host name), with the verb `method` and the body `post` sent
 * as UTF-16LE bytes (no body when method is exactly "GET"). All three are
 * NUL-terminated UTF-16 strings. The steps and the response body are traced
 * to the diagnostics log, which the standard error stream is left writing to.
 * Returns `url` in every case; failures show only in the log. A null argument
 * makes no request and logs "Null argument:" followed by the names of the
 * null arguments. Not accounted.
 */
XYLOTRAK_API const xylotrak_char16 *wsGetUrlDll(const xylotrak_char16 *url,
                                                const xylotrak_char16 *method,
                                                const xylotrak_char16 *post);

/* ------------------------------------------------------------------------ */
/* Vocabulary for front ends                                                 */
/* ------------------------------------------------------------------------ */
/*
 * The words and defaults a program built on the library shows its users, so
 * that every front end says the same: read them here rather than keeping
 * copies.
 *
 * xylotrak_words writes word `index` of a vocabulary as NUL-terminated UTF-16
 * into text[0..capacity-1], cut to fit (nothing with capacity 0 or a null
 * text), and returns its whole length in code units; -1 for an unknown
 * vocabulary or index, with text[0] set to 0 when there is room. The
 * vocabularies, by index:
 *
 * XYLOTRAK_WORDS_FINDING         bit b (0..6) of a PHCkDll finding: its code,
 *                                 "volume-ill-conditioned" for bit 0 (0x01)
 * XYLOTRAK_WORDS_FINDING_TEXT    the same bit: what the finding means
 * XYLOTRAK_WORDS_FIT_STATUS      a fitting return code (XYLOTRAK_FIT_OK ..
 *                                 XYLOTRAK_FIT_NOT_CONVERGED): its name,
 *                                 "ok", "too_few_rows", ...
 * XYLOTRAK_WORDS_FIT_MESSAGE     the same code: the message for a user
 * XYLOTRAK_WORDS_LOG_COLUMN      column k of an inventory's logs table:
 *                                 "id", "logNumber", "productNumber",
 *                                 "productName", "baseHeight", "length",
 *                                 "topHeight", "trimTopHeight", "baseDiam",
 *                                 "topDiam", "trimTopDiam", "volume", "value"
 * XYLOTRAK_WORDS_TOTALS_COLUMN   column k of its totals table: "id",
 *                                 "outcome", "logCount", then the eight
 *                                 totals in argument order ("productVolume"
 *                                 ... "totalValue"), then "servedByExact"
 *                                 (written with XYLOTRAK_EXACT_WHEN_GIVEN_UP)
 * XYLOTRAK_WORDS_INTERVAL_MESSAGE a return code of PHDcDll, PHVcDll and
 *                                 PHCbDll (XYLOTRAK_FIT_OK ..
 *                                 XYLOTRAK_FIT_NOT_CONVERGED): the message
 *                                 for a user
 * XYLOTRAK_WORDS_CALIBRATION_FLAG bit b (0..0) of PHCbDll's flags: the
 *                                 warning for a user
 * XYLOTRAK_WORDS_MATRIX_MESSAGE  a return code of the matrix calls
 *                                 (XYLOTRAK_MATRIX_OK ..
 *                                 XYLOTRAK_MATRIX_TOO_LARGE), also an audited
 *                                 stem's reason: the message for a user
 * XYLOTRAK_WORDS_CONVERGENCE     a reason a REML fit stopped
 *                                 (xylotrak_mixed_stats.convergence,
 *                                 XYLOTRAK_MIXED_CONVERGED ..
 *                                 XYLOTRAK_MIXED_NONFINITE): its name,
 *                                 "converged", "iteration_limit", "nonfinite"
 * XYLOTRAK_WORDS_CONVERGENCE_MESSAGE the same reason: the message for a user,
 *                                 which reads on with " after N iterations"
 */
#define XYLOTRAK_WORDS_FINDING 0
#define XYLOTRAK_WORDS_FINDING_TEXT 1
#define XYLOTRAK_WORDS_FIT_STATUS 2
#define XYLOTRAK_WORDS_FIT_MESSAGE 3
#define XYLOTRAK_WORDS_LOG_COLUMN 4
#define XYLOTRAK_WORDS_TOTALS_COLUMN 5
#define XYLOTRAK_WORDS_INTERVAL_MESSAGE 6
#define XYLOTRAK_WORDS_CALIBRATION_FLAG 7
#define XYLOTRAK_WORDS_MATRIX_MESSAGE 8
#define XYLOTRAK_WORDS_CONVERGENCE 9
#define XYLOTRAK_WORDS_CONVERGENCE_MESSAGE 10

XYLOTRAK_API int32_t xylotrak_words(int vocabulary, int index, xylotrak_char16 *text,
                                    int32_t capacity);

/*
 * The bucking arguments a front end assumes when its user leaves them out:
 * xylotrak_bucking_default(which) returns the default of
 * XYLOTRAK_DEFAULT_STUMP_HEIGHT (0.3 m), XYLOTRAK_DEFAULT_STUMP_TRIM (0 m),
 * XYLOTRAK_DEFAULT_START_HEIGHT (0 m), XYLOTRAK_DEFAULT_TOP_HEIGHT_LIMIT or
 * XYLOTRAK_DEFAULT_HEIGHT_LIMIT (both XYLOTRAK_NO_LIMIT: no limit); NaN for
 * any other `which`.
 */
#define XYLOTRAK_DEFAULT_STUMP_HEIGHT 0
#define XYLOTRAK_DEFAULT_STUMP_TRIM 1
#define XYLOTRAK_DEFAULT_START_HEIGHT 2
#define XYLOTRAK_DEFAULT_TOP_HEIGHT_LIMIT 3
#define XYLOTRAK_DEFAULT_HEIGHT_LIMIT 4

XYLOTRAK_API double xylotrak_bucking_default(int which);

/*
 * The product fields a front end lets its user leave out:
 * xylotrak_product_default writes their defaults into *product, maxTopDiam
 * and maxBaseDiam XYLOTRAK_NO_LIMIT, minBaseDiam, priceBasis, logPosition,
 * heightRule, lossFraction and trimLength 0, and leaves every other field as
 * it was (minTopDiam, minLength, maxLength and unitPrice must be given).
 * Returns 0; -1 with a null product.
 */
XYLOTRAK_API int32_t xylotrak_product_default(ProductSpec *product);

/*
 * The fit a front end makes when its user leaves the choice to it:
 * xylotrak_fit_default(which, values, capacity) writes the first
 * min(count, capacity) values of a default into values (nothing with a null
 * values or a capacity below 1) and returns count; -1 for any other `which`.
 * XYLOTRAK_FIT_DEFAULT_EXPS       the exponents fitted when none are named:
 *                                 0, 1, 2, 3, 4, 5 (count 6)
 * XYLOTRAK_FIT_DEFAULT_CANDIDATES the candidates of stepwise selection when
 *                                 none are named (PHFsDll and PHFwDll take
 *                                 them for a null or empty list; count 22)
 * XYLOTRAK_FIT_DEFAULT_MAX_TERMS  the most terms a selection keeps when no
 *                                 limit is named: 8 (count 1)
 */
#define XYLOTRAK_FIT_DEFAULT_EXPS 0
#define XYLOTRAK_FIT_DEFAULT_CANDIDATES 1
#define XYLOTRAK_FIT_DEFAULT_MAX_TERMS 2

XYLOTRAK_API int32_t xylotrak_fit_default(int which, double *values, int32_t capacity);

#ifdef __cplusplus
}
#endif

#endif /* XYLOTRAK_H */
