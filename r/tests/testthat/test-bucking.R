product_matrix <- function(p) {
  as.matrix(p[c("min_top_diam", "max_top_diam", "min_base_diam", "max_base_diam", "min_length",
                "max_length", "unit_price", "price_basis", "log_position", "height_rule",
                "loss_fraction", "trim_length")])
}

# The export's answer for one tree, in the shape of the package's result.
direct_buck <- function(m, p, heights, method, objective) {
  raw <- direct("buck", c(model_values(m), heights, method, objective, nrow(p),
                          t(product_matrix(p))))
  rows <- matrix(raw[9 + seq_len(100 * 11)], ncol = 11, byrow = TRUE)
  n <- which(rows[-1, 1] == 0)[1]
  n <- if (is.na(n)) 99 else n - 1
  results <- matrix(raw[9 + 1100 + seq_len(8 * nrow(p))], ncol = 8, byrow = TRUE)
  list(outcome = raw[1], totals = raw[2:9], stump = rows[1, ], logs = rows[1 + seq_len(n), , drop = FALSE],
       products = results)
}

expect_same_bucking <- function(b, d, p) {
  expect_identical(b$raw_outcome, d$outcome)
  expect_identical(unname(b$totals), d$totals)
  cols <- c("log_number", "product_number", "base_height", "length", "top_height",
            "trim_top_height", "base_diam", "top_diam", "trim_top_diam", "volume", "value")
  logs <- as.matrix(b$logs[cols])
  storage.mode(logs) <- "double"
  dimnames(logs) <- NULL
  expect_identical(logs, d$logs)
  stump <- unlist(b$stump[cols], use.names = FALSE)
  expect_identical(as.double(stump), d$stump)
  expect_identical(b$logs$product_name, p$name[b$logs$product_number])
  res <- as.matrix(b$products[c("log_count", "volume_sum", "value_sum", "last_top_height",
                                "last_top_diam", "length_sum", "mean_top_diam",
                                "weighted_top_diam")])
  storage.mode(res) <- "double"
  dimnames(res) <- NULL
  expect_identical(res, d$products)
}

test_that("every bucking answers what the exports answer, bit for bit", {
  set.seed(23)
  for (tree in 1:20) {
    m <- random_model()
    p <- random_products()
    heights <- list(stump_height = sample(c(0, 0.2, 0.3), 1), stump_trim = sample(c(0, 0.05), 1),
                    start_height = sample(c(0, 1), 1), top_height_limit = sample(c(999, 20), 1),
                    height_limit = sample(c(999, 12), 1))
    h <- with(heights, c(start_height, top_height_limit, stump_height, stump_trim, height_limit))
    b <- do.call(buck, c(list(m, p), heights))
    expect_identical(b$outcome, "winner")
    expect_same_bucking(b, direct_buck(m, p, h, -1, 0), p)
    for (objective in c("value", "volume")) {
      goal <- match(objective, c("value", "volume")) - 1
      b <- do.call(buck_optimal, c(list(m, p, objective = objective), heights))
      expect_same_bucking(b, direct_buck(m, p, h, 0, goal), p)
      x <- do.call(buck_optimal, c(list(m, p, objective = objective, exact = TRUE), heights))
      expect_same_bucking(x, direct_buck(m, p, h, 1, goal), p)
      # The exact optimum is never worse than the search's.
      score <- if (objective == "value") "total_value" else "product_volume"
      if (b$outcome == "winner") expect_gte(x$totals[[score]], b$totals[[score]])
    }
  }
})

test_that("products() fills the defaults and names the products", {
  p <- products(min_top_diam = c(20, 7), min_length = 3, max_length = 5, unit_price = c(90, 20))
  expect_named(p, c("min_top_diam", "max_top_diam", "min_base_diam", "max_base_diam",
                    "min_length", "max_length", "unit_price", "price_basis", "log_position",
                    "height_rule", "loss_fraction", "trim_length", "name"))
  expect_identical(p$name, c("product 1", "product 2"))
  expect_identical(p$max_top_diam, c(999, 999))
  expect_identical(p$max_base_diam, c(999, 999))
  expect_identical(p$min_base_diam, c(0, 0))
  expect_identical(p$trim_length, c(0, 0))
  expect_type(p$price_basis, "integer")
  expect_identical(p$log_position, c(0L, 0L))
  # A table built by hand without names bucks the same and names the logs by number.
  m <- taper_model(32, 30, c(1.14, -1.23, 1.68, -1.59), c(0, 1, 2, 3))
  b <- buck(m, p[setdiff(names(p), "name")])
  expect_identical(b$logs, buck(m, p)$logs)
  expect_setequal(b$logs$product_name, c("product 1", "product 2"))
})

test_that("an optimised search without a winner leaves everything cleared", {
  m <- taper_model(20, 15, c(1.14, -1.23, 1.68, -1.59), c(0, 1, 2, 3))
  p <- products(min_top_diam = 40, min_length = 3, max_length = 5, unit_price = 10)
  b <- buck_optimal(m, p)
  expect_identical(b$outcome, "no_winner")
  expect_identical(nrow(b$logs), 0L)
  expect_true(all(b$totals == 0))
  expect_output(print(b), "no sequence of logs found")
})

test_that("the plot draws every part of a bucked stem", {
  m <- taper_model(32, 30, c(1.14, -1.23, 1.68, -1.59), c(0, 1, 2, 3))
  p <- products(min_top_diam = c(20, 12, 7), min_length = c(3, 2.5, 2), max_length = c(5, 4, 3),
                unit_price = c(90, 50, 25), trim_length = 0.1, name = c("saw", "small", "pulp"))
  b <- buck(m, p, stump_trim = 0.05)
  z <- xylotrak:::stem_zones(b)
  # The top holds the bucking's top volume; the leftover lies between.
  expect_equal(stem_volume(m, lower_height = z$top_start), b$totals[["top_volume"]],
               tolerance = 1e-12)
  expect_equal(stem_volume(m, z$last_trim_top, z$top_start), b$totals[["leftover_volume"]],
               tolerance = 1e-9)
  file <- tempfile(fileext = ".pdf")
  grDevices::pdf(file)
  expect_identical(withVisible(plot(b))$visible, FALSE)
  plot(buck_optimal(m, p[3, ], objective = "volume"))
  grDevices::dev.off()
  expect_gt(file.size(file), 1000)
})
