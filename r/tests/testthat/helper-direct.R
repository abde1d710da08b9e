# The library's exports called directly by a small C program (direct.c),
# compiled once per test run with the flags the package was built with, so
# that both use the same library. Doubles travel as native binary, so
# comparisons are bit for bit.

direct_program <- local({
  exe <- NULL
  function() {
    if (!is.null(exe)) return(exe)
    flags <- xylotrak:::library_flags()
    r <- file.path(R.home("bin"), "R")
    cc <- system2(r, c("CMD", "config", "CC"), stdout = TRUE)
    path <- file.path(tempdir(), "xylotrak-direct")
    cmd <- paste(cc, flags$cflags, shQuote(test_path("direct.c")),
                 "-o", shQuote(path), flags$libs)
    log <- suppressWarnings(system(paste(cmd, "2>&1"), intern = TRUE))
    status <- attr(log, "status")
    if (!is.null(status) && status != 0) {
      stop("cannot compile direct.c:\n", cmd, "\n", paste(log, collapse = "\n"))
    }
    exe <<- path
    exe
  }
})

direct <- function(command, values) {
  input <- tempfile("direct-in-")
  output <- tempfile("direct-out-")
  on.exit(unlink(c(input, output)))
  writeBin(as.double(values), input)
  status <- system2(direct_program(), c(command, input, output))
  if (status != 0) stop("direct ", command, " failed with status ", status)
  readBin(output, "double", n = file.size(output) / 8)
}

model_values <- function(m) c(m$dbh, m$height, length(m$coefs), m$coefs, m$exps)

# A random tree: a cubic profile near a common one, with exponents moved off
# the whole numbers now and then.
random_model <- function() {
  coefs <- c(1.14, -1.23, 1.68, -1.59) * runif(4, 0.9, 1.1)
  coefs[4] <- -sum(coefs[1:3]) + runif(1, -0.01, 0.01)
  exps <- c(0, 1, 2, 3)
  if (runif(1) < 0.3) exps[2:4] <- exps[2:4] * runif(3, 0.9, 1.1)
  taper_model(runif(1, 12, 65), runif(1, 10, 42), coefs, exps)
}

random_products <- function() {
  n <- sample(1:5, 1)
  products(
    min_top_diam = sort(runif(n, 6, 30), decreasing = TRUE),
    min_length = round(runif(n, 1, 3), 1),
    max_length = round(runif(n, 3, 6), 1),
    unit_price = round(runif(n, 10, 100), 2),
    max_top_diam = ifelse(runif(n) < 0.2, runif(n, 35, 60), 999),
    min_base_diam = ifelse(runif(n) < 0.2, runif(n, 5, 20), 0),
    price_basis = sample(0:2, n, replace = TRUE),
    log_position = ifelse(runif(n) < 0.2, 1L, 0L),
    loss_fraction = ifelse(runif(n) < 0.3, runif(n, 0, 0.1), 0),
    trim_length = ifelse(runif(n) < 0.3, 0.1, 0),
    name = paste0("p", seq_len(n))
  )
}
