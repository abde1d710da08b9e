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

/* ------------------------------------------------------------------------ */
/* Call accounting                                                           */
/* ------------------------------------------------------------------------ */
/*
 * Slots: 0 PHVoDll, 1 PHVsDll, 2 PHViDll, 3 PHDiDll, 4 PHHiDll, 5 PHFFDll,
 * 6 PHCTDll, 7 the basic formulas (gDll ... VTCoDll).
 * Statuses: 0 off (never started since load), -1 counting, -2 stopped.
 *
 * The first accounted call after load (or tally_start) sets slots 0-6 to
 * counting with zero counters. tally_stop stops slots 0-6 only. Slot 7 starts
 * counting on the first accepted basic-formula call and never stops.
 * Counters wrap at 32 bits. An index outside 0-7 answers 0.
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
XYLOTRAK_API double PHDiDll(double dbh, double totalHeight, const double *coefs,
                            const double *exps, int termCount, double height);

/* Height (m) where the stem has tapered to targetDiam (cm): a 100-step
 * bisection whose first move goes from mid-stem to an end of the stem. */
XYLOTRAK_API double PHHiDll(double dbh, double totalHeight, const double *coefs,
                            const double *exps, int termCount, double targetDiam);

/*
 * Stem volume (m^3) between limits. A limit of 0 or below (or NaN) is
 * absent; lowerDiam of 999 or above is absent too. The section starts at the
 * higher of lowerHeight and the height of lowerDiam, ends at the lower of
 * upperHeight and the height of upperDiam (totalHeight without either), and
 * is cut down to whole multiples of logLength. Never negative.
 */
XYLOTRAK_API double PHViDll(double dbh, double totalHeight, const double *coefs,
                            const double *exps, int termCount, double lowerHeight,
                            double upperHeight, double lowerDiam, double upperDiam,
                            double logLength);

/* Form factor of a relative profile. A negative termCount answers 0. */
XYLOTRAK_API double PHFFDll(const double *coefs, const double *exps, int termCount);

/* Number of whole logs of logLength between limits resolved as for PHViDll.
 * A count that does not fit 32 bits saturates at 2147483647. */
XYLOTRAK_API int32_t PHCTDll(double dbh, double totalHeight, const double *coefs,
                             const double *exps, int termCount, double lowerHeight,
                             double upperHeight, double lowerDiam, double upperDiam,
                             double logLength);

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
XYLOTRAK_API double VTNwDll(double diameter1, double midDiameter, double diameter2,
                            double length);

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
                                 double slope2, int slopeCorrection, int rectangular,
                                 int unitScale, int areaUnit, double *areaOut,
                                 double *length1Out, double *length2Out);

#ifdef __cplusplus
}
#endif

#endif /* XYLOTRAK_H */
