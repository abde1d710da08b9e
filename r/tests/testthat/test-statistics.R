# The taper statistics (fits through the tip, REML fits of random tree
# effects, intervals, calibration) against xtk on the same stems: `xtk fit
# --json` and `xtk taper --fit` are the library's own answers, reached
# through another front end. Numbers travel as JSON (xtk writes the shortest
# text that reads back as the same double), hence a tolerance of a few units
# in the last place rather than identity. XTK names the program; without it
# (or without jsonlite) the comparisons are skipped.

xtk_path <- function() {
  path <- Sys.getenv("XTK")
  if (!nzchar(path) || !file.exists(path)) skip("set XTK to the xtk program to compare with it")
  skip_if_not_installed("jsonlite")
  path
}

# Runs xtk; its standard output read as JSON, its error output and status.
xtk_run <- function(args) {
  err <- tempfile("xtk-err-")
  on.exit(unlink(err))
  out <- suppressWarnings(system2(xtk_path(), args, stdout = TRUE, stderr = err))
  status <- attr(out, "status")
  list(status = if (is.null(status)) 0L else as.integer(status),
       json = if (length(out) > 0L) jsonlite::fromJSON(paste(out, collapse = "\n"),
                                                       simplifyVector = TRUE) else NULL,
       stderr = readLines(err))
}

# Trees of one profile with their own level and slope (random effects on
# terms 0 and 1), measured at seven heights, written as xtk reads them.
mixed_stems <- function(trees = 30, seed = 8) {
  set.seed(seed)
  rows <- lapply(seq_len(trees), function(i) {
    dbh <- runif(1, 15, 50)
    height <- runif(1, 14, 34)
    b <- rnorm(2, 0, c(0.05, 0.04))
    h <- c(0.3, 1.3, sort(runif(5, 2, height - 1)))
    x <- h / height
    d <- dbh * ((1.15 + b[1]) + (-1.2 + b[2]) * x + 0.3 * x^2 - 0.25 * x^3 +
                  rnorm(length(h), 0, 0.012))
    data.frame(id = sprintf("t%02d", i), dbh = dbh, height = height, h = h, d = d)
  })
  do.call(rbind, rows)
}

write_stems <- function(stems) {
  path <- tempfile("stems-", fileext = ".csv")
  g17 <- function(x) sprintf("%.17g", x)
  writeLines(c("id,dbh,height,h,d", sprintf("%s,%s,%s,%s,%s", stems$id, g17(stems$dbh),
                                            g17(stems$height), g17(stems$h), g17(stems$d))),
             path)
  path
}

close_to <- function(r, x) expect_equal(r, x, tolerance = 1e-13)

test_that("a REML fit returns what xtk fit --random --json reports", {
  stems <- mixed_stems()
  file <- write_stems(stems)
  on.exit(unlink(file))
  fit <- fit_taper(stems, exps = 0:3, random = 0:1)
  x <- xtk_run(c("fit", "--stems", file, "--exps", "0,1,2,3", "--random", "0,1", "--json"))
  expect_identical(x$status, 0L)
  j <- x$json$fits
  expect_identical(fit$converged, j$converged)
  expect_true(fit$converged)
  expect_identical(fit$iterations, as.integer(j$iterations))
  close_to(fit$coefs, j$coefs[[1]])
  close_to(fit$std_errors, j$standard_errors[[1]])
  close_to(fit$random_exps, j$random_exps[[1]])
  close_to(fit$random_covariance, j$random_covariance[[1]])
  close_to(fit$residual_sd, j$residual_sd)
  close_to(fit$reml_loglik, j$reml_loglik)
  expect_identical(fit$stats[["trees"]], as.double(j$trees_used))
  expect_identical(fit$stats[["rows_used"]], as.double(j$rows_used))
  # The coefficients' covariance: its diagonal gives the standard errors, and
  # D is a matrix with rows in random_exps order.
  expect_equal(sqrt(diag(fit$covariance)), fit$std_errors, tolerance = 1e-15)
  expect_identical(dim(fit$random_covariance), c(2L, 2L))
  expect_identical(fit$random_exps, c(0, 1))
  expect_output(print(fit), "REML fit, random tree effects on terms 0, 1")
})

test_that("a fit through the tip is xtk fit --tip-zero's, with its covariance", {
  stems <- mixed_stems(12, seed = 3)
  file <- write_stems(stems)
  saved <- tempfile(fileext = ".json")
  on.exit(unlink(c(file, saved)))
  fit <- fit_taper(stems, exps = c(0, 1, 2, 3), tip_zero = TRUE)
  x <- xtk_run(c("fit", "--stems", file, "--exps", "0,1,2,3", "--tip-zero", "--json",
                 "--save", saved))
  expect_identical(x$status, 0L)
  j <- x$json$fits
  expect_true(j$tip_zero && fit$tip_zero)
  close_to(fit$coefs, j$coefs[[1]])
  close_to(fit$std_errors, j$standard_errors[[1]])
  expect_identical(fit$residual_df, as.double(j$residual_df))
  s <- jsonlite::fromJSON(saved)$fits[[1]]
  close_to(fit$covariance, s$covariance)
  # Through the tip: the profile ends at diameter 0.
  expect_lt(abs(sum(fit$coefs)), 1e-12)
  expect_lt(abs(diameter(taper_model(30, 25, fit), 25)), 1e-9)
  # The free fit's coefficients are those of the fit without options.
  free <- fit_taper(stems, exps = c(0, 1, 2, 3))
  expect_false(free$tip_zero)
  expect_gt(abs(sum(free$coefs)), 1e-6)
})

test_that("intervals of diameters and volumes are xtk taper --fit --interval's", {
  stems <- mixed_stems()
  file <- write_stems(stems)
  saved <- tempfile(fileext = ".json")
  on.exit(unlink(c(file, saved)))
  fit <- fit_taper(stems, exps = 0:3, random = 0:1)
  expect_identical(xtk_run(c("fit", "--stems", file, "--exps", "0,1,2,3", "--random", "0,1",
                             "--save", saved, "--json"))$status, 0L)
  m <- taper_model(32, 26, fit)
  at <- c(1.3, 8, 15)
  for (kind in c("confidence", "prediction")) {
    d <- diameter(m, at, interval = kind, level = 0.9)
    v <- stem_volume(m, lower_height = 0.3, log_length = 2.5, interval = kind, level = 0.9)
    x <- xtk_run(c("taper", "--fit", saved, "--dbh", "32", "--height", "26", "--at",
                   "1.3,8,15", "--volume", "--lower-height", "0.3", "--log-length", "2.5",
                   "--interval", kind, "--level", "0.9", "--json"))
    expect_identical(x$status, 0L)
    close_to(d$diameter, x$json$diameters$diameter)
    close_to(d$lower, x$json$diameters$lower)
    close_to(d$upper, x$json$diameters$upper)
    close_to(v$volume, x$json$volume$volume)
    close_to(v$lower, x$json$volume$lower)
    close_to(v$upper, x$json$volume$upper)
    expect_true(all(d$lower <= d$diameter & d$diameter <= d$upper))
    expect_true(v$lower <= v$volume && v$volume <= v$upper)
    # The diameters are those of the model; a higher level widens the interval.
    expect_identical(d$diameter, diameter(m, at))
    wider <- diameter(m, at, interval = kind, level = 0.99)
    expect_true(all(wider$lower < d$lower & wider$upper > d$upper))
  }
  # A new tree's diameters vary more than the mean curve.
  conf <- diameter(m, at, interval = "confidence")
  pred <- diameter(m, at, interval = "prediction")
  expect_true(all(pred$upper - pred$lower > conf$upper - conf$lower))
})

test_that("calibration gives the tree's own curve, as xtk taper --measured does", {
  stems <- mixed_stems()
  file <- write_stems(stems)
  saved <- tempfile(fileext = ".json")
  on.exit(unlink(c(file, saved)))
  fit <- fit_taper(stems, exps = 0:3, random = 0:1)
  xtk_run(c("fit", "--stems", file, "--exps", "0,1,2,3", "--random", "0,1", "--save", saved,
            "--json"))
  # A tree 1.5 cm thicker than the mean curve at two heights.
  measured <- data.frame(h = c(2, 10))
  measured$d <- round(diameter(taper_model(32, 26, fit), measured$h) + 1.5, 2)
  own <- taper_model(32, 26, fit, measured = measured)
  expect_identical(own, calibrate(taper_model(32, 26, fit), measured$h, measured$d))
  expect_true(own$statistics$calibrated)
  expect_false(own$statistics$outlying)
  x <- xtk_run(c("taper", "--fit", saved, "--dbh", "32", "--height", "26", "--at", "2,10,20",
                 "--measured", sprintf("2:%.17g,10:%.17g", measured$d[1], measured$d[2]),
                 "--volume", "--interval", "prediction",
                 "--json"))
  expect_identical(x$status, 0L)
  expect_false(x$json$calibration$outlying)
  d <- diameter(own, c(2, 10, 20), interval = "prediction")
  close_to(d$diameter, x$json$diameters$diameter)
  close_to(d$lower, x$json$diameters$lower)
  close_to(d$upper, x$json$diameters$upper)
  v <- stem_volume(own, interval = "prediction")
  close_to(c(v$volume, v$lower, v$upper),
           c(x$json$volume$volume, x$json$volume$lower, x$json$volume$upper))
  # The curve moves toward the measurements, and serves every function of a model.
  mean_curve <- taper_model(32, 26, fit)
  expect_true(all(diameter(own, measured$h) > diameter(mean_curve, measured$h) + 0.5))
  expect_true(all(diameter(own, measured$h) < measured$d))
  # (The fitted cubic does not end at 0: the check's nonzero-tip warning is expected.)
  expect_identical(suppressWarnings(stem_volume(own)),
                   suppressWarnings(stem_volume(taper_model(32, 26, own$coefs, own$exps))))
  table <- products(min_top_diam = c(20, 8), min_length = c(3, 2), max_length = c(5, 3),
                    unit_price = c(90, 25))
  expect_identical(buck(own, table)$logs, buck(taper_model(32, 26, own$coefs, own$exps),
                                               table)$logs)
  expect_error(calibrate(own, 5, 28), "already calibrated")
})

test_that("a measurement far outside the fitted trees is flagged and warned of", {
  stems <- mixed_stems()
  file <- write_stems(stems)
  saved <- tempfile(fileext = ".json")
  on.exit(unlink(c(file, saved)))
  fit <- fit_taper(stems, exps = 0:3, random = 0:1)
  xtk_run(c("fit", "--stems", file, "--exps", "0,1,2,3", "--random", "0,1", "--save", saved,
            "--json"))
  warned <- NULL
  own <- withCallingHandlers(calibrate(taper_model(32, 26, fit), 8, 60),
                             xylotrak_calibration_warning = function(w) {
                               warned <<- conditionMessage(w)
                               invokeRestart("muffleWarning")
                             })
  expect_true(own$statistics$outlying)
  x <- xtk_run(c("taper", "--fit", saved, "--dbh", "32", "--height", "26", "--at", "8",
                 "--measured", "8:60", "--json"))
  expect_true(x$json$calibration$outlying)
  # Both warn in the library's words.
  expect_identical(sub("^calibrate: ", "", warned), sub("^xtk: warning: ", "", x$stderr))
  close_to(diameter(own, 8), x$json$diameters$diameter)
})

test_that("a REML fit that does not converge is an error with the library's reason", {
  # Diameters near the largest doubles: the restricted likelihood overflows.
  set.seed(6)
  stems <- data.frame(id = rep(1:6, each = 4), dbh = 30, height = 16,
                      h = rep(c(0.3, 4, 8, 12), 6), d = runif(24, 1e299, 1e300))
  err <- tryCatch(fit_taper(stems, exps = c(0, 1), random = 0), error = function(e) e)
  expect_s3_class(err, "xylotrak_fit_error")
  expect_identical(err$status, "not_converged")
  expect_identical(err$code, 6L)
  expect_identical(err$reason, "nonfinite")
  # The library's words for the code and the reason, then the iterations.
  expect_true(endsWith(conditionMessage(err), sprintf(
    "not_converged: %s (%s after %d iterations) (%d rows used, 0 skipped)",
    xylotrak:::library_words(3L)[[7L]], xylotrak:::library_words(10L)[[3L]], err$iterations,
    err$rows_used)))
  file <- write_stems(stems)
  on.exit(unlink(file))
  x <- xtk_run(c("fit", "--stems", file, "--exps", "0,1", "--random", "0", "--json"))
  expect_false(x$json$fits$converged)
  expect_identical(err$iterations, as.integer(x$json$fits$iterations))
  # xtk says the same.
  expect_true(grepl(x$json$fits$error, conditionMessage(err), fixed = TRUE))
})

test_that("statistics arguments are checked, and the library's refusals are errors", {
  stems <- mixed_stems(8)
  expect_error(fit_taper(stems, select = TRUE, random = 0), "'random' goes with given exps")
  expect_error(fit_taper(stems, exps = 0:2, random = 0, tip_zero = TRUE), "'random'")
  expect_error(fit_taper(stems[names(stems) != "id"], exps = 0:2, random = 0), "column 'id'")
  expect_error(fit_taper(stems, exps = 0:2, random = 3), "term indices from 0 to 2")
  expect_error(fit_taper(stems, exps = 0:2, tip_zero = NA), "'tip_zero' must be TRUE or FALSE")
  plain <- taper_model(30, 25, c(1.1, -1), c(0, 1))
  expect_error(diameter(plain, 5, interval = "confidence"), "has no fit statistics")
  fit <- fit_taper(stems, exps = 0:2, random = 0)
  m <- taper_model(30, 25, fit)
  expect_error(diameter(m, 5, interval = "both"), "'interval' must be")
  err <- tryCatch(diameter(m, 5, interval = "confidence", level = 1), error = function(e) e)
  expect_s3_class(err, "xylotrak_fit_error")
  expect_identical(err$status, "bad_argument")
  expect_match(conditionMessage(err), "a level outside (0, 1)", fixed = TRUE)
  expect_error(stem_volume(m, interval = "confidence", accurate = TRUE), "'accurate'")
  expect_error(taper_model(30, 25, c(1, -1), c(0, 1), measured = data.frame(h = 1, d = 20)),
               "'measured' needs a fit")
})

test_that("what a fit leaves to the library is what xtk leaves to it", {
  stems <- mixed_stems(40, seed = 12)
  file <- write_stems(stems)
  on.exit(unlink(file))
  plain <- xtk_run(c("fit", "--stems", file, "--json"))
  expect_identical(fit_taper(stems)$exps, as.numeric(plain$json$fits$exps[[1]]))
  chosen <- xtk_run(c("fit", "--stems", file, "--select", "--json"))
  expect_identical(fit_taper(stems, select = TRUE)$exps, as.numeric(chosen$json$fits$exps[[1]]))
  # A limit without the selection is refused, even the default one.
  expect_error(fit_taper(stems, max_terms = 8), "max_terms")
})
