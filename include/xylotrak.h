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
 * absent; lowerDiam of 999 or above is absent too. The section starts at the
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

/* ------------------------------------------------------------------------ */
/* Web request                                                               */
/* ------------------------------------------------------------------------ */
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

#ifdef __cplusplus
}
#endif

#endif /* XYLOTRAK_H */
