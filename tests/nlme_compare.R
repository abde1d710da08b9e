# The REML fit of xtk fit --random against nlme::lme on the same simulated
# stems: fixed effects, their standard errors, the random-effects covariance,
# the residual standard deviation and the REML log-likelihood must agree.
# Exit code 77 (skipped) without nlme or jsonlite.
args <- commandArgs(trailingOnly = TRUE)
xtk <- args[[1]]
if (!requireNamespace("nlme", quietly = TRUE) || !requireNamespace("jsonlite", quietly = TRUE)) {
  quit(status = 77)
}
set.seed(23)
beta <- c(1.25, -1.9, 2.2, -1.55)
L <- t(chol(matrix(c(0.004, -0.003, -0.003, 0.004), 2)))
rows <- list()
for (tree in 1:150) {
  dbh <- runif(1, 12, 60)
  height <- runif(1, 12, 38)
  cf <- beta
  cf[1:2] <- cf[1:2] + as.vector(L %*% rnorm(2))
  x <- runif(10, 0.01, 0.98)
  y <- cf[1] + cf[2] * x + cf[3] * x^2 + cf[4] * x^3 + rnorm(10, 0, 0.02)
  rows[[tree]] <- data.frame(id = sprintf("t%03d", tree), dbh = dbh, height = height,
                             h = x * height, d = dbh * y)
}
stems <- do.call(rbind, rows)
csv <- tempfile(fileext = ".csv")
write.csv(stems, csv, row.names = FALSE)
out <- system2(xtk, c("fit", "--stems", csv, "--exps", "0,1,2,3", "--random", "0,1", "--json"),
               stdout = TRUE)
fit <- jsonlite::fromJSON(paste(out, collapse = "\n"), simplifyVector = TRUE)$fits
stopifnot(isTRUE(fit$converged))

stems$x <- stems$h / stems$height
stems$y <- stems$d / stems$dbh
m <- nlme::lme(y ~ x + I(x^2) + I(x^3), random = ~ x | id, data = stems, method = "REML",
               control = nlme::lmeControl(tolerance = 1e-10, msTol = 1e-12, msMaxIter = 500))
relative <- function(a, b) max(abs(a - b) / abs(b))
ours_d <- matrix(unlist(fit$random_covariance), 2, byrow = TRUE)
their_d <- unclass(nlme::getVarCov(m))[1:2, 1:2]
agreement <- c(
  fixed = relative(unlist(fit$coefs), unname(nlme::fixef(m))),
  standard_errors = relative(unlist(fit$standard_errors), unname(sqrt(diag(vcov(m))))),
  random_covariance = relative(as.vector(ours_d), as.vector(their_d)),
  residual_sd = relative(fit$residual_sd, m$sigma),
  reml_loglik = abs(fit$reml_loglik - as.numeric(logLik(m)))
)
print(signif(agreement, 3))
limits <- c(fixed = 1e-6, standard_errors = 1e-4, random_covariance = 1e-4, residual_sd = 1e-6,
            reml_loglik = 1e-4)
if (any(agreement > limits)) {
  cat("disagreement with nlme beyond", format(limits), "\n")
  quit(status = 1)
}
