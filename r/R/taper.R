# The library's words (xylotrak_words), by vocabulary number: 0 the codes of
# the model check's findings in the order of their bits (0x01 first), 2 the
# names of the fitting codes, 3 their messages, 4 and 5 the columns of an
# inventory's logs and totals tables, 6 the messages of the interval and
# calibration codes, 7 the warnings of the calibration's flag bits.
library_words <- function(vocabulary) .Call(C_xtk_words, as.integer(vocabulary))
model_findings <- function() library_words(0L)

taper_model <- function(dbh, height, coefs, exps, measured = NULL) {
  statistics <- NULL
  if (inherits(coefs, "xylotrak_fit")) {
    if (!missing(exps)) stop_arg("exps", "must not be given with a fit (it has its exponents)")
    fit <- coefs
    if (!identical(fit$code, 0L)) stop_arg("coefs", "is a fit that failed: it has no model")
    coefs <- fit$coefs
    exps <- fit$exps
    statistics <- fit_statistics(fit)
  } else if (!is.null(measured)) {
    stop_arg("measured", "needs a fit (coefs = a fit_taper() result)")
  }
  dbh <- check_number(dbh, "dbh", positive = TRUE)
  height <- check_number(height, "height", positive = TRUE)
  profile <- check_profile(coefs, exps)
  model <- structure(list(dbh = dbh, height = height, coefs = profile$coefs, exps = profile$exps),
                     class = "taper_model")
  model$statistics <- statistics
  if (!is.null(measured)) {
    if (!is.data.frame(measured) && !is.list(measured)) {
      stop_arg("measured", "must be a data frame or list with columns 'h' and 'd'")
    }
    model <- calibrate(model, measured$h, measured$d)
  }
  model
}

# The model's fields checked again (a list can be changed after it was made).
model_of <- function(model, name = "model") {
  if (!inherits(model, "taper_model")) {
    stop_arg(name, sprintf("must be a taper_model, not %s", class(model)[1L]))
  }
  dbh <- check_number(model$dbh, paste0(name, "$dbh"), positive = TRUE)
  height <- check_number(model$height, paste0(name, "$height"), positive = TRUE)
  profile <- check_profile(model$coefs, model$exps, paste0(name, "$coefs"), paste0(name, "$exps"))
  list(dbh = dbh, height = height, coefs = profile$coefs, exps = profile$exps)
}

print.taper_model <- function(x, ...) {
  cat(sprintf("Taper model: dbh %s cm, height %s m, %d term%s\n", format(x$dbh), format(x$height),
              length(x$coefs), if (length(x$coefs) == 1L) "" else "s"))
  terms <- data.frame(coef = x$coefs, exp = x$exps)
  rownames(terms) <- paste0("  ", seq_along(x$coefs) - 1L)
  print(terms, digits = 8)
  invisible(x)
}

diameter <- function(model, h, interval = NULL, level = 0.95) {
  m <- model_of(model)
  h <- check_numeric(h, "h")
  if (!is.null(interval)) {
    kind <- interval_kind(interval)
    level <- check_number(level, "level")
    raw <- .Call(C_xtk_diameter_interval, fit_record(model), m$dbh, m$height, h, kind, level)
    return(interval_table(raw, "diameter", "diameter"))
  }
  .Call(C_xtk_diameter, m$dbh, m$height, m$coefs, m$exps, h)
}

height_at <- function(model, d) {
  m <- model_of(model)
  d <- check_numeric(d, "d")
  .Call(C_xtk_height_at, m$dbh, m$height, m$coefs, m$exps, d)
}

section_limits <- function(lower_height, upper_height, lower_diam, upper_diam, log_length) {
  limits <- list(lower_height = lower_height, upper_height = upper_height,
                 lower_diam = lower_diam, upper_diam = upper_diam, log_length = log_length)
  for (name in names(limits)) limits[[name]] <- check_numeric(limits[[name]], name)
  recycle_args(limits)
}

check_model <- function(model) {
  m <- model_of(model)
  raw <- .Call(C_xtk_check, m$dbh, m$height, m$coefs, m$exps)
  model_check(raw[1L], raw[2L])
}

# The check from the export's bit set and digit count.
model_check <- function(bits, digits) {
  set <- bitwAnd(bits, bitwShiftL(1L, 0:30)) != 0L
  codes <- model_findings()
  known <- seq_along(codes)
  findings <- c(codes[set[known]],
                sprintf("unknown-0x%x", bitwShiftL(1L, which(set[-known]) + length(known) - 1L)))
  structure(list(findings = findings, volume_digits = digits, bits = bits),
            class = "xylotrak_model_check")
}

print.xylotrak_model_check <- function(x, ...) {
  if (length(x$findings) == 0L) {
    cat("Model check: no findings\n")
  } else {
    cat("Model check findings:", paste(x$findings, collapse = ", "), "\n")
  }
  cat(sprintf("Closed-form volume: %d correct significant digits\n", x$volume_digits))
  invisible(x)
}

# Warns before a volume of a model whose check has findings; the accurate
# volume does not cancel, so an ill-conditioned closed form alone is no
# reason to warn of it.
warn_of_findings <- function(m, accurate = FALSE) {
  raw <- .Call(C_xtk_check, m$dbh, m$height, m$coefs, m$exps)
  findings <- model_check(raw[1L], raw[2L])$findings
  if (accurate) findings <- setdiff(findings, model_findings()[1L])
  if (length(findings) == 0L) return(invisible())
  advice <- "see check_model()"
  if (model_findings()[1L] %in% findings) advice <- paste0(advice, "; accurate = TRUE does not cancel")
  message <- sprintf(
    "the taper model of dbh %s cm, height %s m and %d coefficients has findings %s: its volumes may be meaningless (%s)",
    format(m$dbh), format(m$height), length(m$coefs), paste(findings, collapse = ", "), advice)
  warning(structure(class = c("xylotrak_model_warning", "warning", "condition"),
                    list(message = message, call = sys.call(-1L))))
}

stem_volume <- function(model, lower_height = 0, upper_height = 0, lower_diam = 0,
                        upper_diam = 0, log_length = 0, accurate = FALSE, interval = NULL,
                        level = 0.95) {
  m <- model_of(model)
  limits <- section_limits(lower_height, upper_height, lower_diam, upper_diam, log_length)
  accurate <- check_flag(accurate, "accurate")
  if (!is.null(interval)) {
    if (accurate) stop_arg("accurate", "goes with the closed-form volume, not with an interval")
    kind <- interval_kind(interval)
    level <- check_number(level, "level")
    raw <- .Call(C_xtk_volume_interval, fit_record(model), m$dbh, m$height, limits, kind, level)
    return(interval_table(raw, "volume", "stem_volume"))
  }
  warn_of_findings(m, accurate)
  .Call(C_xtk_section, m$dbh, m$height, m$coefs, m$exps, limits, if (accurate) 1L else 0L)
}

log_count <- function(model, lower_height = 0, upper_height = 0, lower_diam = 0,
                      upper_diam = 0, log_length = 0) {
  m <- model_of(model)
  limits <- section_limits(lower_height, upper_height, lower_diam, upper_diam, log_length)
  .Call(C_xtk_section, m$dbh, m$height, m$coefs, m$exps, limits, 2L)
}

form_factor <- function(model) {
  m <- model_of(model)
  warn_of_findings(m)
  .Call(C_xtk_form_factor, m$coefs, m$exps)
}

# The trees of a table and their models, as the library's inventory call
# takes them: dbh and height per tree, and each tree's model as a 0-based
# index into one list of models, in which a model shared by many trees (a
# name of `models`, or the same numbers given inline) appears once. The
# models come from the list of models by the name in `model`, or from the
# columns `coefs` and `exps` (list-columns, or numbers separated by blanks).
# A fault is reported at the first row that has it.
tree_model_table <- function(trees, models, name = "trees") {
  if (!is.data.frame(trees)) stop_arg(name, "must be a data frame")
  for (col in c("dbh", "height")) {
    if (!col %in% names(trees)) stop_arg(name, sprintf("has no column '%s'", col))
  }
  n <- nrow(trees)
  dbh <- check_numeric(trees$dbh, paste0(name, "$dbh"))
  height <- check_numeric(trees$height, paste0(name, "$height"))
  if (any(dbh <= 0)) stop_arg(paste0(name, "$dbh"), "must be greater than 0")
  if (any(height <= 0)) stop_arg(paste0(name, "$height"), "must be greater than 0")
  use_names <- "model" %in% names(trees)
  use_inline <- all(c("coefs", "exps") %in% names(trees))
  if (!use_names && !use_inline) {
    stop_arg(name, "needs a column 'model' or the columns 'coefs' and 'exps'")
  }
  named <- logical(n)
  if (use_names) {
    if (is.null(models)) stop_arg("models", "is needed for the column 'model'")
    if (!is.list(models) || is.null(names(models)) || any(names(models) == "")) {
      stop_arg("models", "must be a named list of models (each with coefs and exps)")
    }
    labels <- as.character(trees$model)
    named <- !is.na(labels) & nzchar(labels)
  }
  # One key per distinct model: its name, or the inline cells as written (a
  # list-column entry is a model of its own row).
  key <- character(n)
  if (use_names) key[named] <- paste0("n:", labels[named])
  own <- which(!named)
  if (length(own) > 0L && use_inline) {
    cell <- function(x) {
      if (is.list(x)) return(paste0("row ", own))
      paste0("text ", trimws(as.character(x[own])))
    }
    key[own] <- paste0("i:", cell(trees$coefs), "|", cell(trees$exps))
  } else if (length(own) > 0L) {
    key[own] <- paste0("none:", own)
  }
  distinct <- unique(key)
  first <- match(distinct, key)
  coefs <- vector("list", length(distinct))
  exps <- vector("list", length(distinct))
  for (k in seq_along(distinct)) {
    i <- first[k]
    if (named[i]) {
      if (!labels[i] %in% names(models)) {
        stop_arg(paste0(name, "$model"), sprintf("names \"%s\" (row %d), which is not in 'models'",
                                                 labels[i], i))
      }
      entry <- models[[labels[i]]]
      if (!is.list(entry)) stop_arg(sprintf("models$%s", labels[i]), "must have coefs and exps")
      c0 <- entry$coefs
      e0 <- entry$exps
      src <- sprintf("models$%s", labels[i])
    } else {
      if (!use_inline) stop_arg(paste0(name, "$model"), sprintf("is empty in row %d", i))
      c0 <- inline_numbers(trees$coefs[[i]])
      e0 <- inline_numbers(trees$exps[[i]])
      src <- sprintf("%s row %d", name, i)
    }
    profile <- check_profile(c0, e0, paste0(src, " coefs"), paste0(src, " exps"))
    coefs[[k]] <- profile$coefs
    exps[[k]] <- profile$exps
  }
  list(dbh = dbh, height = height, model = match(key, distinct) - 1L, coefs = coefs, exps = exps)
}

inline_numbers <- function(x) {
  if (is.character(x) && length(x) == 1L && !is.na(x)) {
    x <- suppressWarnings(as.numeric(strsplit(trimws(x), "[ \t]+")[[1L]]))
  }
  x
}

taper_table <- function(trees, at = c(0.3, 1.3, 5, 10, 15, 20), models = NULL) {
  at <- check_numeric(at, "at")
  t <- tree_model_table(trees, models)
  values <- .Call(C_xtk_taper_table, t$dbh, t$height, t$model, t$coefs, t$exps, at)
  d <- values[, seq_along(at), drop = FALSE]
  colnames(d) <- paste0("d_", as.character(at))
  keep <- intersect(c("id", "dbh", "height", "model"), names(trees))
  out <- cbind(trees[keep], as.data.frame(d, optional = TRUE))
  out$volume <- values[, length(at) + 1L]
  out$form_factor <- values[, length(at) + 2L]
  rownames(out) <- NULL
  out
}

# ------------------------------------------------------------ taper statistics
# The header's constants (interval kinds, flags), read from the library once.
statistics_constants <- local({
  values <- NULL
  function() {
    if (is.null(values)) values <<- .Call(C_xtk_statistics_constants)
    values
  }
})

# What a fit's intervals and calibration need: the xylotrak_taper_fit record's
# fields other than the model's coefficients and exponents.
fit_statistics <- function(fit) {
  if (is.null(fit$covariance)) return(NULL)
  mixed <- !is.null(fit$random_terms)
  list(
    covariance = fit$covariance,
    residual_variance = if (mixed) fit$residual_sd^2 else fit$stats[["residual_std_error"]]^2,
    degrees_of_freedom = if (mixed) 0 else as.double(fit$residual_df),
    random_terms = if (mixed) as.integer(fit$random_terms) else integer(0),
    random_covariance = if (mixed) fit$random_covariance else matrix(0, 0, 0),
    calibrated = FALSE,
    outlying = FALSE
  )
}

# The record of PHDcDll, PHVcDll and PHCbDll as the glue takes it (matrices
# row-major).
fit_record <- function(model, name = "model") {
  m <- model_of(model, name)
  s <- model$statistics
  if (is.null(s)) {
    stop_arg(name, "has no fit statistics: make it with taper_model(dbh, height, fit_taper(...))")
  }
  p <- length(m$coefs)
  cov <- check_numeric(s$covariance, paste0(name, "$statistics$covariance"), len = p * p,
                       finite = FALSE)
  terms <- s$random_terms
  if (!is.integer(terms)) stop_arg(paste0(name, "$statistics$random_terms"), "must be integer")
  q <- length(terms)
  rcov <- check_numeric(s$random_covariance, paste0(name, "$statistics$random_covariance"),
                        len = q * q, finite = FALSE)
  flags <- if (isTRUE(s$calibrated)) statistics_constants()[["taper_fit_calibrated"]] else 0L
  list(m$coefs, m$exps, as.double(t(matrix(cov, p, p))), terms,
       as.double(t(matrix(rcov, q, q))),
       check_number(s$residual_variance, paste0(name, "$statistics$residual_variance")),
       check_number(s$degrees_of_freedom, paste0(name, "$statistics$degrees_of_freedom")),
       as.integer(flags))
}

interval_kind <- function(interval) {
  interval <- check_string(interval, "interval")
  kinds <- statistics_constants()
  key <- paste0("interval_", interval)
  if (!key %in% names(kinds)) stop_arg("interval", "must be \"confidence\" or \"prediction\"")
  kinds[[key]]
}

# The library's code as the error of the function that called it.
statistics_error <- function(code, fn) {
  status <- fit_status(code)
  words <- word_of(library_words(6L), code, "code")
  stop(structure(class = c("xylotrak_fit_error", "error", "condition"),
                 list(message = sprintf("%s: %s (%s, code %d)", fn, words, status, code),
                      call = NULL, code = code, status = status)))
}

interval_table <- function(raw, what, fn) {
  if (raw$code != 0L) statistics_error(raw$code, fn)
  v <- raw$values
  out <- data.frame(v[, 1L], lower = v[, 2L], upper = v[, 3L])
  names(out)[1L] <- what
  out
}

calibrate <- function(model, h, d) {
  m <- model_of(model)
  record <- fit_record(model)
  if (isTRUE(model$statistics$calibrated)) stop_arg("model", "is already calibrated")
  h <- check_numeric(h, "h", finite = FALSE)
  d <- check_numeric(d, "d", len = length(h), finite = FALSE)
  if (length(h) > 32767L) stop_arg("h", "must hold at most 32767 measurements")
  raw <- .Call(C_xtk_calibrate, record, m$dbh, m$height, h, d)
  if (raw$code != 0L) statistics_error(raw$code, "calibrate")
  outlying <- bitwAnd(raw$flags, statistics_constants()[["calibration_outlying"]]) != 0L
  model$coefs <- raw$coefs
  model$statistics$covariance <- raw$covariance
  model$statistics$calibrated <- TRUE
  model$statistics$outlying <- outlying
  if (outlying) {
    message <- sprintf("calibrate: %s", library_words(7L)[[1L]])
    warning(structure(class = c("xylotrak_calibration_warning", "warning", "condition"),
                      list(message = message, call = NULL)))
  }
  model
}
