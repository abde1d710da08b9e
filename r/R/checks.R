# Argument checks. Each stops with an error that names the argument, before
# anything reaches the library.

stop_arg <- function(name, what) {
  stop(sprintf("'%s' %s", name, what), call. = FALSE)
}

# A double vector: numeric (not logical or character), no NA, finite unless
# told otherwise, of the given length when one is given.
check_numeric <- function(x, name, len = NULL, finite = TRUE, na = FALSE, min_len = 0L) {
  if (is.logical(x) && all(is.na(x))) x <- as.double(x) # NA typed as logical
  if (!is.numeric(x)) {
    stop_arg(name, sprintf("must be numeric, not %s", class(x)[1L]))
  }
  if (!is.null(len) && length(x) != len) {
    stop_arg(name, sprintf("must have length %d, not %d", as.integer(len), length(x)))
  }
  if (length(x) < min_len) {
    stop_arg(name, sprintf("must have at least %d value%s", as.integer(min_len),
                           if (min_len == 1L) "" else "s"))
  }
  if (!na && anyNA(x)) stop_arg(name, "must not contain NA or NaN")
  if (finite && any(is.infinite(x))) stop_arg(name, "must be finite")
  x <- as.double(x)
  attributes(x) <- NULL
  x
}

check_number <- function(x, name, finite = TRUE, positive = FALSE, nonnegative = FALSE) {
  x <- check_numeric(x, name, len = 1L, finite = finite)
  if (positive && !(x > 0)) stop_arg(name, "must be greater than 0")
  if (nonnegative && !(x >= 0)) stop_arg(name, "must not be negative")
  x
}

check_flag <- function(x, name) {
  if (!is.logical(x) || length(x) != 1L || is.na(x)) stop_arg(name, "must be TRUE or FALSE")
  x
}

# Whole numbers in -32768..32767, the library's 16-bit codes.
check_int16 <- function(x, name, len = NULL) {
  x <- check_numeric(x, name, len = len)
  if (any(x != round(x))) stop_arg(name, "must hold whole numbers")
  if (any(x < -32768 | x > 32767)) stop_arg(name, "must lie in -32768..32767")
  as.integer(x)
}

check_string <- function(x, name) {
  if (!is.character(x) || length(x) != 1L || is.na(x)) stop_arg(name, "must be one string")
  x
}

# Recycles named vectors to their common length; lengths must be 1 or that
# length.
recycle_args <- function(args) {
  lens <- lengths(args)
  n <- if (any(lens == 0L)) 0L else max(lens)
  for (name in names(args)) {
    if (lens[[name]] != n && lens[[name]] != 1L) {
      stop_arg(name, sprintf("has length %d; expected 1 or %d", lens[[name]], n))
    }
    args[[name]] <- rep_len(args[[name]], n)
  }
  args
}

# The coefficients and exponents of a profile.
check_profile <- function(coefs, exps, coefs_name = "coefs", exps_name = "exps") {
  coefs <- check_numeric(coefs, coefs_name, min_len = 1L)
  exps <- check_numeric(exps, exps_name, len = length(coefs))
  if (length(coefs) > 32768L) stop_arg(coefs_name, "must hold at most 32768 terms")
  list(coefs = coefs, exps = exps)
}
