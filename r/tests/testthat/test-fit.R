# Measured stems: trees of the given profile, each measured at a few heights,
# the diameters with relative noise of sd `noise`.
stem_data <- function(trees, coefs, exps, noise = 0, species = "spruce") {
  rows <- lapply(seq_len(trees), function(i) {
    dbh <- runif(1, 15, 55)
    height <- runif(1, 12, 38)
    h <- c(0.3, 1.3, sort(runif(8, 2, height - 0.5)))
    y <- h / height
    d <- dbh * vapply(y, function(v) sum(coefs * v^exps), 0) * (1 + rnorm(length(h), 0, noise))
    data.frame(species = species, tree = i, dbh = dbh, height = height, h = h, d = d)
  })
  do.call(rbind, rows)
}

direct_fit <- function(stems, select, exps, max_terms = 8) {
  v <- direct("fit", c(nrow(stems), t(as.matrix(stems[c("dbh", "height", "h", "d")])),
                       select, length(exps), exps, max_terms))
  n <- v[2]
  list(code = v[1], exps = v[2 + seq_len(n)], coefs = v[2 + n + seq_len(n)],
       std_errors = v[2 + 2 * n + seq_len(n)], stats = v[2 + 3 * n + 1:7])
}

expect_same_fit <- function(fit, d) {
  expect_identical(fit$code, as.integer(d$code))
  expect_identical(fit$exps, d$exps)
  expect_identical(fit$coefs, d$coefs)
  expect_identical(fit$std_errors, d$std_errors)
  expect_identical(unname(fit$stats), d$stats)
}

truth <- list(coefs = c(1.14, -1.23, 1.68, -1.59), exps = c(0, 1, 2, 3))

test_that("fits answer what the fitting exports answer, bit for bit", {
  set.seed(17)
  stems <- stem_data(12, truth$coefs, truth$exps, noise = 0.02)
  stems$d[5] <- NA # skipped and counted
  fit <- fit_taper(stems, exps = 0:3)
  expect_same_fit(fit, direct_fit(stems, 0, 0:3))
  expect_identical(fit$stats[["rows_skipped"]], 1)
  expect_identical(fit$stats[["rows_used"]], nrow(stems) - 1)
  sel <- fit_taper(stems, select = TRUE, max_terms = 5)
  expect_same_fit(sel, direct_fit(stems, 1, numeric(0), 5))
  expect_identical(sel$exps[1], 0)
  expect_false(is.unsorted(sel$exps[-1], strictly = TRUE))
  cand <- c(0.5, 1, 2, 3, 8)
  expect_same_fit(fit_taper(stems, select = TRUE, candidates = cand),
                  direct_fit(stems, 1, cand))
})

test_that("a fit of stems without noise recovers the profile and makes taper models", {
  set.seed(2)
  stems <- stem_data(5, truth$coefs, truth$exps)
  fit <- fit_taper(stems, exps = truth$exps)
  expect_equal(fit$coefs, truth$coefs, tolerance = 1e-9)
  expect_lt(fit$stats[["residual_std_error"]], 1e-9)
  expect_named(coef(fit), c("e0", "e1", "e2", "e3"))
  m <- taper_model(30, 25, fit)
  expect_identical(m$coefs, fit$coefs)
  expect_equal(diameter(m, c(1.3, 10)),
               diameter(taper_model(30, 25, truth$coefs, truth$exps), c(1.3, 10)),
               tolerance = 1e-9)
  expect_output(print(fit), "4 terms")
})

test_that("fits by group are the fits of each group's rows, and serve as models", {
  set.seed(4)
  fir <- list(coefs = c(1.2, -0.9, -0.3), exps = c(0, 0.7, 2.5))
  stems <- rbind(stem_data(6, truth$coefs, truth$exps, 0.01, "spruce"),
                 stem_data(6, fir$coefs, fir$exps, 0.01, "fir"))
  fits <- fit_taper(stems, exps = c(0, 0.7, 2.5), by = "species")
  expect_named(fits, c("spruce", "fir"))
  expect_identical(fits$fir$coefs, fit_taper(stems[stems$species == "fir", ],
                                             exps = c(0, 0.7, 2.5))$coefs)
  trees <- data.frame(id = c("a", "b"), dbh = c(30, 40), height = c(25, 30),
                      model = c("fir", "spruce"))
  table <- taper_table(trees, at = 1.3, models = fits)
  expect_identical(table$d_1.3[1], diameter(taper_model(30, 25, fits$fir), 1.3))
  expect_output(print(fits), "Taper fits by species: 2 groups")
})

test_that("a fit that cannot be made is an error naming the group and the rows", {
  stems <- data.frame(dbh = 30, height = 25, h = c(1, 1, 1, 50), d = c(30, 29, 31, 1))
  expect_error(fit_taper(stems, exps = 0:3),
               "fit_taper: too_few_rows: .*\\(3 rows used, 1 skipped\\)")
  stems <- data.frame(dbh = 30, height = 25, h = rep(c(1, 5, 10, 20), 2), d = 30:23)
  expect_error(fit_taper(stems, exps = c(0, 1, 1)), "fit_taper: rank_deficient")
  stems$g <- rep(c("y", "x"), c(6, 2))
  expect_error(fit_taper(stems, exps = 0:2, by = "g"), "fit_taper: g \"x\": too_few_rows")
  failed <- xylotrak:::fit_result(list(code = 1L, exps = numeric(0), coefs = numeric(0),
                                       std_errors = numeric(0), stats = list(), rows = c(0, 0)),
                                  NULL, FALSE)
  expect_error(taper_model(30, 25, failed), "'coefs' is a fit that failed")
})
