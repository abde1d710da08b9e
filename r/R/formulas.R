# Basal area, quadratic mean diameter and the log volume formulas: vectorised
# over their arguments (recycled), NA where an argument is NA, and NA with a
# warning where the library rejects an element (a negative or NaN argument).

formula_call <- function(fun, which, args) {
  for (name in names(args)) args[[name]] <- check_numeric(args[[name]], name, finite = FALSE,
                                                           na = TRUE)
  args <- recycle_args(args)
  out <- .Call(C_xtk_formula, which, unname(args))
  rejected <- !is.na(out) & out == -1
  if (any(rejected)) {
    warning(sprintf("%s: %d element%s rejected by the library (an argument negative or NaN) %s NA",
                    fun, sum(rejected), if (sum(rejected) == 1L) "" else "s",
                    if (sum(rejected) == 1L) "is" else "are"), call. = FALSE)
    out[rejected] <- NA_real_
  }
  out
}

basal_area <- function(diameter) {
  formula_call("basal_area", 0L, list(diameter = diameter))
}

qmd <- function(basal_area, tree_count) {
  formula_call("qmd", 1L, list(basal_area = basal_area, tree_count = tree_count))
}

huber_volume <- function(diameter, length) {
  formula_call("huber_volume", 2L, list(diameter = diameter, length = length))
}

cylinder_volume <- function(diameter, length) {
  formula_call("cylinder_volume", 7L, list(diameter = diameter, length = length))
}

smalian_volume <- function(diameter1, diameter2, length) {
  formula_call("smalian_volume", 3L,
               list(diameter1 = diameter1, diameter2 = diameter2, length = length))
}

newton_volume <- function(diameter1, mid_diameter, diameter2, length) {
  formula_call("newton_volume", 4L, list(diameter1 = diameter1, mid_diameter = mid_diameter,
                                         diameter2 = diameter2, length = length))
}

neiloid_volume <- function(diameter1, diameter2, length) {
  formula_call("neiloid_volume", 5L,
               list(diameter1 = diameter1, diameter2 = diameter2, length = length))
}

cone_volume <- function(diameter1, diameter2, length) {
  formula_call("cone_volume", 6L,
               list(diameter1 = diameter1, diameter2 = diameter2, length = length))
}

plot_dimensions <- function(area = 0, length1 = 0, length2 = 0, slope1 = 0, slope2 = 0,
                            slope_correction = FALSE, rectangular = FALSE, unit_scale = 0L,
                            area_unit = 0L) {
  doubles <- list(area = area, length1 = length1, length2 = length2, slope1 = slope1,
                  slope2 = slope2)
  for (name in names(doubles)) doubles[[name]] <- check_numeric(doubles[[name]], name)
  codes <- list(slope_correction = slope_correction, rectangular = rectangular)
  for (name in names(codes)) {
    x <- codes[[name]]
    if (!is.logical(x) || anyNA(x)) stop_arg(name, "must be TRUE or FALSE")
    codes[[name]] <- as.integer(x)
  }
  codes$unit_scale <- check_int16(unit_scale, "unit_scale")
  codes$area_unit <- check_int16(area_unit, "area_unit")
  all <- recycle_args(c(doubles, codes))
  out <- .Call(C_xtk_calc_area, all)
  as.data.frame(out)
}
