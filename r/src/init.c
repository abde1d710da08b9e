/* Registers the .Call routines; nothing is found by name at run time. */
#include <R.h>
#include <R_ext/Rdynload.h>
#include <Rinternals.h>

#include "xylotrak_r.h"

#define ROUTINE(name, n) \
  { #name, (DL_FUNC)&name, n }

/* One group of routines after another, each under its own comment. */
/* clang-format off */
static const R_CallMethodDef routines[] = {
    ROUTINE(xtk_version, 0),         ROUTINE(xtk_build_flags, 0),
    ROUTINE(xtk_diameter, 5),        ROUTINE(xtk_height_at, 5),
    ROUTINE(xtk_section, 6),         ROUTINE(xtk_form_factor, 2),
    ROUTINE(xtk_check, 4),           ROUTINE(xtk_buck, 8),
    ROUTINE(xtk_buck_inventory, 11), ROUTINE(xtk_taper_table, 6),
    ROUTINE(xtk_formula, 2),         ROUTINE(xtk_calc_area, 1),
    ROUTINE(xtk_tally, 1),           ROUTINE(xtk_fit, 5),
    ROUTINE(xtk_fit_select, 6),
    /* Harvested-production files (.hpr). */
    ROUTINE(xtk_hpr, 2),
    /* Taper statistics: fits with covariances, intervals, calibration. */
    ROUTINE(xtk_fit_cov, 6),         ROUTINE(xtk_fit_select_cov, 7),
    ROUTINE(xtk_fit_mixed, 7),       ROUTINE(xtk_diameter_interval, 6),
    ROUTINE(xtk_volume_interval, 6), ROUTINE(xtk_calibrate, 5),
    ROUTINE(xtk_statistics_constants, 0),
    /* the library's vocabulary, defaults and stem zones */
    ROUTINE(xtk_words, 1),
    ROUTINE(xtk_bucking_default, 1),
    ROUTINE(xtk_product_default, 0),
    ROUTINE(xtk_fit_default, 1),
    ROUTINE(xtk_stem_zones, 7),
    {NULL, NULL, 0}};
/* clang-format on */

void R_init_xylotrak(DllInfo *dll) {
  R_registerRoutines(dll, NULL, routines, NULL, NULL);
  R_useDynamicSymbols(dll, FALSE);
  R_forceSymbols(dll, TRUE);
}
