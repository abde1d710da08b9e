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
