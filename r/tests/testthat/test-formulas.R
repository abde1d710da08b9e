test_that("the formulas give the published reference values", {
  # D. R. Larsen, University of Missouri, "Forestry Functions: Cubic Log
  # Volume": a log of end diameters 25 and 29 cm, 5 m long.
  expect_equal(smalian_volume(25, 29, 5), 0.287848, tolerance = 5e-7 / 0.287848)
  expect_equal(cone_volume(25, 29, 5), 0.286801, tolerance = 5e-7 / 0.286801)
  expect_equal(neiloid_volume(25, 29, 5), 0.286452, tolerance = 5e-7 / 0.286452)
  # Husch, Beers & Kershaw; Avery & Burkhart: Newton is exact for a cone
  # frustum; Huber on the mid diameter.
  expect_equal(newton_volume(25, 27, 29, 5), 0.286801, tolerance = 5e-7 / 0.286801)
  expect_equal(huber_volume(27, 5), 0.286278, tolerance = 5e-7 / 0.286278)
  # Same site and Brack & Wood, Forest Mensuration (ANU): QMD of 18.3 m2/ha
  # over 494.1 trees/ha, and the basal area of seven trees each standing for
  # 25 per hectare.
  expect_equal(qmd(18.3, 494.1), 21.716, tolerance = 5e-4 / 21.716)
  expect_equal(sum(basal_area(c(8, 6, 8, 5, 4, 6, 7))) * 25, 0.5694, tolerance = 5e-5 / 0.5694)
  expect_equal(basal_area(1), 0.0000785398, tolerance = 5e-11 / 0.0000785398)
})

test_that("the plot calculator gives the published plot radii and areas", {
  # Swiss and Hungarian national forest inventories; the recomputed radii.
  r <- plot_dimensions(area = c(200, 500, 100, 400, 1000))$length1
  expect_equal(round(r[1:2], 2), c(7.98, 12.62))
  expect_equal(round(r[3:5], 4), c(5.6419, 11.2838, 17.8412))
  a <- plot_dimensions(length1 = c(12.616, 3, 7))$area
  expect_equal(round(a), c(500, 28, 154))
  expect_equal(round(a[2:3], 3), c(28.274, 153.938))
})

formula_cases <- list(
  list(basal_area, 0, 1), list(qmd, 1, 2), list(huber_volume, 2, 2),
  list(smalian_volume, 3, 3), list(newton_volume, 4, 4), list(neiloid_volume, 5, 3),
  list(cone_volume, 6, 3), list(cylinder_volume, 7, 2)
)

test_that("every formula answers what its export answers, rejected elements as NA", {
  set.seed(3)
  n <- 60
  for (case in formula_cases) {
    args <- replicate(case[[3]], runif(n, 0, 80), simplify = FALSE)
    # Some negative elements, and the edge values the exports accept.
    for (k in seq_along(args)) args[[k]][sample(n, 4)] <- c(-1, -0.0, 0, Inf)
    raw <- direct("formula", c(case[[2]], n, t(do.call(cbind, args))))
    rejected <- !is.na(raw) & raw == -1
    want <- raw
    want[rejected] <- NA_real_
    rejected <- sum(rejected)
    got <- NULL
    expect_warning(got <- do.call(case[[1]], unname(args)),
                   if (rejected > 0) sprintf("%d elements? rejected", rejected) else NA)
    expect_identical(got, want)
  }
})

test_that("formulas recycle, keep NA and warn once per call", {
  expect_identical(huber_volume(c(20, 30), 4), c(huber_volume(20, 4), huber_volume(30, 4)))
  expect_identical(basal_area(c(NA, 20)), c(NA, basal_area(20)))
  expect_warning(expect_identical(smalian_volume(c(-1, 25, -2), 29, 5),
                                  c(NA, smalian_volume(25, 29, 5), NA)),
                 "smalian_volume: 2 elements rejected")
  w <- 0
  withCallingHandlers(basal_area(c(-1, -2, -3)), warning = function(c) {
    w <<- w + 1
    invokeRestart("muffleWarning")
  })
  expect_identical(w, 1)
  expect_error(smalian_volume(1:2, 1:3, 1), "'diameter1' has length 2; expected 1 or 3")
  expect_error(basal_area("20"), "'diameter'")
})

test_that("plot_dimensions answers what CalcAreaDll answers", {
  set.seed(9)
  n <- 40
  inputs <- cbind(area = ifelse(runif(n) < 0.5, runif(n, 50, 2000), 0),
                  length1 = runif(n, 0, 30), length2 = ifelse(runif(n) < 0.5, runif(n, 0, 30), 0),
                  slope1 = runif(n, -60, 60), slope2 = runif(n, -95, 95),
                  slope_correction = sample(0:1, n, TRUE), rectangular = sample(0:1, n, TRUE),
                  unit_scale = sample(c(0, 5), n, TRUE), area_unit = sample(0:2, n, TRUE))
  raw <- matrix(direct("area", c(n, t(inputs))), ncol = 3, byrow = TRUE)
  got <- plot_dimensions(inputs[, 1], inputs[, 2], inputs[, 3], inputs[, 4], inputs[, 5],
                         inputs[, 6] == 1, inputs[, 7] == 1, inputs[, 8], inputs[, 9])
  expect_identical(as.matrix(got), `colnames<-`(raw, c("area", "length1", "length2")))
})

test_that("accounting counts each element as one call of its export", {
  m <- taper_model(32, 30, c(1.14, -1.23, 1.68, -1.59), c(0, 1, 2, 3))
  accounting_start()
  before <- accounting()
  expect_identical(before$status[1:7], rep("counting", 7))
  diameter(m, seq(0, 30, length.out = 17))
  expect_identical(accounting()$count[accounting()$routine == "PHDiDll"], 17)
  log_count(m, log_length = c(2, 3, 4))
  suppressWarnings(basal_area(c(10, 20, -1, 30)))
  after <- accounting()
  expect_identical(after$count[after$routine == "PHCTDll"], 3)
  # The rejected element is not counted.
  expect_identical(after$count[8] - before$count[8], 3)
  accounting_stop()
  expect_identical(accounting()$status[1:7], rep("stopped", 7))
  counted <- accounting()$count[4]
  diameter(m, 1)
  expect_identical(accounting()$count[4], counted)
})

test_that("an NA in any argument makes that element NA without calling the library", {
  # A library call with NA (a NaN to the library) would be rejected and warned
  # about; an NA element is answered without one, whichever argument holds it.
  for (case in formula_cases) {
    arity <- case[[3]]
    whole <- do.call(case[[1]], rep(list(25), arity))
    for (k in seq_len(arity)) {
      args <- rep(list(c(20, 25)), arity)
      args[[k]] <- c(NA, 25)
      got <- NULL
      expect_warning(got <- do.call(case[[1]], args), NA)
      expect_identical(got, c(NA_real_, whole))
    }
  }
  # NaN is not NA: it reaches the library, which rejects it.
  expect_warning(expect_identical(smalian_volume(25, NaN, 5), NA_real_), "1 element rejected")
})
