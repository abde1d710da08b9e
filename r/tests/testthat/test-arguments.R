# A bad argument stops in R with an error naming it, before the library is
# called.

test_that("taper functions name the bad argument", {
  m <- taper_model(32, 30, c(1.14, -1.23), c(0, 1))
  expect_error(taper_model("32", 30, 1, 0), "'dbh' must be numeric")
  expect_error(taper_model(c(32, 33), 30, 1, 0), "'dbh' must have length 1")
  expect_error(taper_model(32, NA, 1, 0), "'height' must not contain NA")
  expect_error(taper_model(32, -1, 1, 0), "'height' must be greater than 0")
  expect_error(taper_model(32, 30, c(1, Inf), c(0, 1)), "'coefs' must be finite")
  expect_error(taper_model(32, 30, c(1, -1), 0), "'exps' must have length 2")
  expect_error(taper_model(32, 30, numeric(0), numeric(0)), "'coefs' must have at least 1")
  expect_error(diameter(list(dbh = 1), 1), "'model' must be a taper_model")
  expect_error(diameter(m, NA), "'h' must not contain NA")
  expect_error(diameter(m, "1"), "'h' must be numeric")
  expect_error(height_at(m, NaN), "'d' must not contain NA")
  expect_error(stem_volume(m, lower_height = Inf), "'lower_height' must be finite")
  expect_error(stem_volume(m, accurate = NA), "'accurate' must be TRUE or FALSE")
  expect_error(log_count(m, log_length = "4"), "'log_length' must be numeric")
  broken <- m
  broken$coefs <- c(1, NA)
  expect_error(form_factor(broken), "'model\\$coefs' must not contain NA")
  expect_error(taper_table(list(dbh = 1)), "'trees' must be a data frame")
  expect_error(taper_table(data.frame(dbh = 1, height = 2, coefs = I(list(1)),
                                      exps = I(list(0))), at = NA), "'at'")
})

test_that("bucking functions name the bad argument", {
  m <- taper_model(32, 30, c(1.14, -1.23, 1.68, -1.59), c(0, 1, 2, 3))
  p <- products(min_top_diam = 20, min_length = 3, max_length = 5, unit_price = 90)
  expect_error(products(min_top_diam = 20, min_length = 3, max_length = 5, unit_price = 90,
                        price_basis = 0.5), "'price_basis' must hold whole numbers")
  expect_error(products(min_top_diam = 20, min_length = 3, max_length = 5, unit_price = 90,
                        log_position = 40000), "'log_position' must lie in -32768..32767")
  expect_error(products(min_top_diam = c(20, 10, 5), min_length = c(3, 2), max_length = 5,
                        unit_price = 90), "'min_length' has length 2")
  expect_error(products(min_top_diam = 20, min_length = 3, max_length = 5, unit_price = NA),
               "'unit_price' must not contain NA")
  expect_error(buck(m, p[-1]), "'products' has no column 'min_top_diam'")
  bad <- p
  bad$height_rule <- "1"
  expect_error(buck(m, bad), "'products\\$height_rule' must be numeric")
  expect_error(buck(m, p, stump_height = -0.1), "'stump_height' must not be negative")
  expect_error(buck(m, p, height_limit = NA), "'height_limit' must not contain NA")
  expect_error(buck(m, as.list(p)), "'products' must be a data frame")
  expect_error(buck_optimal(m, p, objective = "price"), "'objective'")
  expect_error(buck_optimal(m, p, exact = "yes"), "'exact' must be TRUE or FALSE")
})

test_that("plot and fitting arguments are checked", {
  expect_error(plot_dimensions(area = NA), "'area' must not contain NA")
  expect_error(plot_dimensions(rectangular = NA), "'rectangular' must be TRUE or FALSE")
  expect_error(plot_dimensions(unit_scale = 1.5), "'unit_scale' must hold whole numbers")
  stems <- data.frame(dbh = 30, height = 25, h = 1.3, d = 30)
  expect_error(fit_taper(stems[-4]), "'stems' has no column 'd'")
  expect_error(fit_taper(transform(stems, h = "1.3")), "'stems\\$h' must be numeric")
  expect_error(fit_taper(stems, exps = c(0, -1)), "bad_argument: bad arguments", class = "xylotrak_fit_error")
  expect_error(fit_taper(stems, select = TRUE, max_terms = 0), "'max_terms' must be at least 1")
  expect_error(fit_taper(stems, select = TRUE, candidates = NA), "'candidates' must not contain NA")
  expect_error(fit_taper(stems, by = "species"), "'by' names no column")
  expect_error(fit_taper(stems, exps = 0:2, select = TRUE), "'exps' must not be given")
  expect_error(fit_taper(stems, candidates = 1:3), "'candidates' goes with select = TRUE")
  expect_error(fit_taper(stems, max_terms = 4), "'max_terms' goes with select = TRUE")
})
