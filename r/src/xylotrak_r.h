/* The routines the R functions reach through .Call. */
#ifndef XYLOTRAK_R_H
#define XYLOTRAK_R_H

#include <Rinternals.h>

SEXP xtk_version(void);
SEXP xtk_build_flags(void);
SEXP xtk_diameter(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP h);
SEXP xtk_height_at(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP d);
SEXP xtk_section(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP limits, SEXP kind);
SEXP xtk_form_factor(SEXP coefs, SEXP exps);
SEXP xtk_check(SEXP dbh, SEXP height, SEXP coefs, SEXP exps);
SEXP xtk_words(SEXP vocabulary);
SEXP xtk_bucking_default(SEXP which);
SEXP xtk_product_default(void);
SEXP xtk_fit_default(SEXP which);
SEXP xtk_stem_zones(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP stump, SEXP trim_tops,
                    SEXP totals);
SEXP xtk_buck(SEXP dbh, SEXP height, SEXP coefs, SEXP exps, SEXP heights, SEXP table, SEXP method,
              SEXP objective);
SEXP xtk_buck_inventory(SEXP dbh, SEXP height, SEXP model, SEXP coefs, SEXP exps, SEXP heights,
                        SEXP table, SEXP method, SEXP objective, SEXP threads, SEXP flags);
SEXP xtk_taper_table(SEXP dbh, SEXP height, SEXP model, SEXP coefs, SEXP exps, SEXP at);
SEXP xtk_formula(SEXP which, SEXP args);
SEXP xtk_calc_area(SEXP args);
SEXP xtk_tally(SEXP op);
SEXP xtk_fit(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP exps);
SEXP xtk_fit_select(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP candidates, SEXP max_terms);
/* Harvested-production files (.hpr). */
SEXP xtk_hpr(SEXP path, SEXP resolution);
/* Taper statistics: fits with covariances, intervals, calibration. */
SEXP xtk_fit_cov(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP exps, SEXP flags);
SEXP xtk_fit_select_cov(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP candidates, SEXP max_terms,
                        SEXP flags);
SEXP xtk_fit_mixed(SEXP dbh, SEXP height, SEXP h, SEXP d, SEXP tree, SEXP exps, SEXP random);
SEXP xtk_diameter_interval(SEXP fit, SEXP dbh, SEXP height, SEXP h, SEXP kind, SEXP level);
SEXP xtk_volume_interval(SEXP fit, SEXP dbh, SEXP height, SEXP limits, SEXP kind, SEXP level);
SEXP xtk_calibrate(SEXP fit, SEXP dbh, SEXP height, SEXP h, SEXP d);
SEXP xtk_statistics_constants(void);

#endif
