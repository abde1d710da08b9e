test_that("the taper functions answer what the exports answer, bit for bit", {
  set.seed(11)
  for (tree in 1:25) {
    m <- random_model()
    h <- c(0, 1.3, runif(8, 0, m$height), m$height, m$height + 1)
    d <- c(runif(6, 0, m$dbh * 1.1), 0)
    limits <- cbind(
      lower_height = c(0, runif(5, 0, m$height / 2), 0, 0),
      upper_height = c(0, runif(5, m$height / 2, m$height), 0, 0),
      lower_diam = c(0, 0, 0, runif(3, 20, 60), 999, 0),
      upper_diam = c(0, runif(5, 0, 15), 0, 7),
      log_length = c(0, 0, sample(c(2, 2.5, 4), 5, replace = TRUE), 3)
    )
    k <- nrow(limits)
    # The program pairs every height with a diameter.
    d_all <- rep_len(d, length(h))
    raw <- direct("taper", c(model_values(m), length(h), h, d_all, k, t(limits)))
    n <- length(h)
    expect_identical(diameter(m, h), raw[seq_len(n)])
    expect_identical(height_at(m, d_all), raw[n + seq_len(n)])
    at <- 2 * n
    args <- as.data.frame(limits)
    vol <- suppressWarnings(do.call(stem_volume, c(list(m), args)))
    acc <- suppressWarnings(do.call(stem_volume, c(list(m), args, accurate = TRUE)))
    expect_identical(vol, raw[at + seq_len(k)])
    expect_identical(acc, raw[at + k + seq_len(k)])
    expect_identical(do.call(log_count, c(list(m), args)), as.integer(raw[at + 2 * k + seq_len(k)]))
    expect_identical(suppressWarnings(form_factor(m)), raw[at + 3 * k + 1])
    check <- check_model(m)
    expect_identical(check$bits, as.integer(raw[at + 3 * k + 2]))
    expect_identical(check$volume_digits, as.integer(raw[at + 3 * k + 3]))
  }
})

test_that("scalar limits recycle against vector ones", {
  m <- taper_model(32, 30, c(1.14, -1.23, 1.68, -1.59), c(0, 1, 2, 3))
  lows <- c(0.3, 2, 5)
  expect_identical(stem_volume(m, lower_height = lows, upper_height = 20),
                   vapply(lows, function(l) stem_volume(m, l, 20), 0))
  expect_identical(log_count(m, 0.3, log_length = c(2, 4)),
                   c(log_count(m, 0.3, log_length = 2), log_count(m, 0.3, log_length = 4)))
  expect_error(stem_volume(m, lower_height = 1:2, upper_height = 1:3), "'lower_height' has length 2")
})

test_that("the glue reads a section's limits by name, whatever their order", {
  m <- taper_model(32, 30, c(1.14, -1.23, 1.68, -1.59), c(0, 1, 2, 3))
  limits <- list(lower_height = c(0.3, 2), upper_height = c(0, 20), lower_diam = c(0, 0),
                 upper_diam = c(10, 0), log_length = c(0, 2.5))
  section <- function(l) .Call(xylotrak:::C_xtk_section, m$dbh, m$height, m$coefs, m$exps, l, 0L)
  expect_identical(section(rev(limits)), section(limits))
  expect_identical(section(limits), c(stem_volume(m, 0.3, upper_diam = 10),
                                      stem_volume(m, 2, 20, log_length = 2.5)))
  expect_error(section(limits[-5]), "'limits' has no element 'log_length'")
  expect_error(section(unname(limits)), "no element")
})

# (1 - y)^k multiplied out: a cone of high degree whose closed-form volume
# cancels catastrophically.
expanded <- function(k) {
  list(coefs = choose(k, 0:k) * (-1)^(0:k), exps = as.numeric(0:k))
}

test_that("the model check names its findings and the volumes warn of them", {
  flawed <- list(
    list(c(1, 0.5, -1.5), c(0, 1, 2), "diameter-increases"),
    list(c(1, -4, 3), c(0, 1, 2), "negative-diameter"),
    list(c(1, -0.9), c(0, 1), "nonzero-tip"),
    list(c(1, -3, 3), c(0, 1, 2), c("diameter-increases", "nonzero-tip")),
    list(c(1, -1), c(1, 2), "exp0-nonzero"),
    list(expanded(34)$coefs, expanded(34)$exps, "volume-ill-conditioned")
  )
  for (case in flawed) {
    m <- taper_model(30, 25, case[[1]], case[[2]])
    expect_identical(check_model(m)$findings, case[[3]])
    expect_warning(stem_volume(m), class = "xylotrak_model_warning")
    expect_warning(form_factor(m), paste(case[[3]], collapse = ", "), fixed = TRUE)
  }
  cone <- taper_model(30, 25, c(1, -1), c(0, 1))
  expect_identical(check_model(cone)$findings, character(0))
  expect_no_warning <- function(expr) expect_warning(expr, NA)
  expect_no_warning(stem_volume(cone))

  # Only the closed form cancels: the accurate volume does not warn of that.
  ill <- taper_model(30, 25, expanded(34)$coefs, expanded(34)$exps)
  expect_lt(check_model(ill)$volume_digits, 6L)
  expect_no_warning(stem_volume(ill, accurate = TRUE))
  exact <- pi / 40000 * 30^2 * 25 / (2 * 34 + 1)
  expect_lt(abs(stem_volume(ill, accurate = TRUE) - exact) / exact, 1e-5)
})

test_that("a bit the package does not know reads as unknown", {
  check <- xylotrak:::model_check(bitwOr(0x01L, 0x100L), 2L)
  expect_identical(check$findings, c("volume-ill-conditioned", "unknown-0x100"))
})

test_that("taper_table reads models by name, from list-columns and from text", {
  coefs <- c(1.14, -1.23, 1.68, -1.59)
  exps <- c(0, 1, 2, 3)
  models <- list(spruce = list(coefs = coefs, exps = exps),
                 fir = taper_model(1, 1, c(1, -1), c(0, 1)))
  named <- data.frame(id = c("a", "b", "c"), dbh = c(30, 40, 22), height = c(25, 32, 18),
                      model = c("spruce", "fir", "spruce"))
  inline <- named[c("id", "dbh", "height")]
  inline$coefs <- list(coefs, c(1, -1), coefs)
  inline$exps <- list(exps, c(0, 1), exps)
  text <- named[c("id", "dbh", "height")]
  text$coefs <- c("1.14 -1.23 1.68 -1.59", "1 -1", "1.14 -1.23 1.68 -1.59")
  text$exps <- c("0 1 2 3", "0 1", "0 1 2 3")
  at <- c(0.3, 1.3, 7)
  by_name <- taper_table(named, at = at, models = models)
  expect_identical(by_name[-4], taper_table(inline, at = at))
  expect_identical(by_name[-4], taper_table(text, at = at))
  expect_named(by_name, c("id", "dbh", "height", "model", "d_0.3", "d_1.3", "d_7", "volume",
                          "form_factor"))
  b <- taper_model(40, 32, c(1, -1), c(0, 1))
  expect_identical(unlist(by_name[2, c("d_0.3", "d_1.3", "d_7")], use.names = FALSE),
                   diameter(b, at))
  expect_identical(by_name$volume[2], stem_volume(b))
  expect_error(taper_table(transform(named, model = "pine"), models = models), "pine")
  expect_error(taper_table(named), "'models'")
  expect_error(taper_table(named[1:3]), "'model'")
})

test_that("print methods show the model and its check", {
  m <- taper_model(32, 30, c(1.14, -1.23), c(0, 1))
  expect_output(print(m), "dbh 32 cm, height 30 m, 2 terms")
  expect_output(print(check_model(m)), "nonzero-tip")
})
