# Least-squares fits of the relative profile d / dbh = sum c_k (h / H)^e_k to
# measured stems.

# The names of the fitting codes, from the library.
fit_codes <- function() library_words(2L)
# The name of a fitting code, "code N" for one the library does not name.
fit_status <- function(code) word_of(fit_codes(), code, "code")
# The name of why a REML fit stopped (its stats' convergence), and the message
# for that name.
convergence_reason <- function(reason) word_of(library_words(9L), reason, "reason")
convergence_message <- function(name) {
  i <- match(name, library_words(9L))
  if (is.na(i)) name else library_words(10L)[[i]]
}
# Word `index` (from 0) of a vocabulary, "<what> N" for one the library does not name.
word_of <- function(words, index, what) {
  if (index >= 0L && index < length(words)) words[[index + 1L]] else paste(what, index)
}

fit_error <- function(fit, by) {
  where <- if (is.null(fit$group)) "" else sprintf("%s \"%s\": ", by, fit$group)
  words <- word_of(library_words(3L), fit$code, "code")
  if (!is.null(fit$reason)) {
    # A REML fit that stopped: the library's reason and its iterations.
    words <- sprintf("%s (%s after %d iterations)", words, convergence_message(fit$reason),
                     fit$iterations)
  }
  message <- sprintf("fit_taper: %s%s: %s (%d rows used, %d skipped)", where, fit$status, words,
                     as.integer(fit$stats[["rows_used"]]), as.integer(fit$stats[["rows_skipped"]]))
  stop(structure(class = c("xylotrak_fit_error", "error", "condition"),
                 list(message = message, call = NULL, code = fit$code, status = fit$status,
                      reason = fit$reason, iterations = fit$iterations,
                      rows_used = as.integer(fit$stats[["rows_used"]]),
                      rows_skipped = as.integer(fit$stats[["rows_skipped"]]))))
}

# The library's fit defaults (xylotrak_fit_default): 0 the exponents fitted
# when none are given, 1 the candidates of a selection, 2 its most terms.
fit_default <- function(which) .Call(C_xtk_fit_default, as.integer(which))

fit_taper <- function(stems, exps = fit_default(0L), select = FALSE, candidates = NULL,
                      max_terms = fit_default(2L), by = NULL, tip_zero = FALSE, random = NULL) {
  if (!is.data.frame(stems)) stop_arg("stems", "must be a data frame")
  for (col in c("dbh", "height", "h", "d")) {
    if (!col %in% names(stems)) stop_arg("stems", sprintf("has no column '%s'", col))
    # Rows with NA or infinite values are skipped by the fit and counted.
    check_numeric(stems[[col]], paste0("stems$", col), finite = FALSE, na = TRUE)
  }
  select <- check_flag(select, "select")
  tip_zero <- check_flag(tip_zero, "tip_zero")
  if (!is.null(random)) {
    if (select) stop_arg("random", "goes with given exps, not with select = TRUE")
    if (tip_zero) stop_arg("random", "does not go with tip_zero = TRUE")
    if (!"id" %in% names(stems)) stop_arg("stems", "has no column 'id' (the trees of a REML fit)")
    if (anyNA(stems$id)) stop_arg("stems$id", "must not contain NA")
    random <- check_int16(random, "random")
    if (length(random) < 1L) stop_arg("random", "must name at least one term")
  }
  if (select && !missing(exps)) stop_arg("exps", "must not be given with select = TRUE")
  if (!select && !is.null(candidates)) stop_arg("candidates", "goes with select = TRUE")
  if (!select && !missing(max_terms)) stop_arg("max_terms", "goes with select = TRUE")
  if (select) {
    if (!is.null(candidates)) {
      candidates <- check_numeric(candidates, "candidates", min_len = 1L)
      if (any(candidates < 0)) stop_arg("candidates", "must not be negative")
      if (length(candidates) > 32767L) stop_arg("candidates", "must hold at most 32767 values")
    }
    max_terms <- check_int16(max_terms, "max_terms", len = 1L)
    if (max_terms < 1L) stop_arg("max_terms", "must be at least 1")
  } else {
    # The library judges the exponents (finite, not negative): a fit it refuses.
    exps <- check_numeric(exps, "exps", min_len = 1L)
    if (length(exps) > 32768L) stop_arg("exps", "must hold at most 32768 exponents")
  }
  if (!is.null(random) && (any(random < 0L) || any(random >= length(exps)))) {
    stop_arg("random", sprintf("must hold term indices from 0 to %d", length(exps) - 1L))
  }
  flags <- if (tip_zero) statistics_constants()[["fit_tip_zero"]] else 0L
  one <- function(rows, group) {
    args <- lapply(stems[rows, c("dbh", "height", "h", "d")], function(x) {
      x <- as.double(x)
      attributes(x) <- NULL
      x
    })
    if (!is.null(random)) {
      ids <- as.character(stems$id[rows])
      tree <- as.double(match(ids, unique(ids)) - 1L)
      raw <- .Call(C_xtk_fit_mixed, args$dbh, args$height, args$h, args$d, tree, exps, random)
      return(mixed_result(raw, group, random))
    }
    raw <- if (select) {
      .Call(C_xtk_fit_select_cov, args$dbh, args$height, args$h, args$d, candidates, max_terms,
            flags)
    } else {
      .Call(C_xtk_fit_cov, args$dbh, args$height, args$h, args$d, exps, flags)
    }
    fit <- fit_result(raw, group, select)
    fit$covariance <- raw$covariance
    fit$residual_df <- raw$residual_df
    fit$tip_zero <- tip_zero
    fit
  }
  if (is.null(by)) {
    fit <- one(seq_len(nrow(stems)), NULL)
    if (fit$code != 0L) fit_error(fit, by)
    return(fit)
  }
  by <- check_string(by, "by")
  if (!by %in% names(stems)) stop_arg("by", sprintf("names no column of 'stems' (\"%s\")", by))
  key <- stems[[by]]
  if (anyNA(key)) stop_arg("by", sprintf("column '%s' holds NA", by))
  # The groups in the order they first appear.
  groups <- split(seq_len(nrow(stems)), factor(as.character(key), unique(as.character(key))))
  fits <- lapply(names(groups), function(g) {
    fit <- one(groups[[g]], g)
    if (fit$code != 0L) fit_error(fit, by)
    fit
  })
  names(fits) <- names(groups)
  structure(fits, class = "xylotrak_fits", by = by)
}

fit_result <- function(raw, group, select) {
  status <- fit_status(raw$code)
  stats <- c(unlist(raw$stats), rows_used = raw$rows[1L], rows_skipped = raw$rows[2L])
  structure(list(
    code = raw$code,
    status = status,
    group = group,
    exps = raw$exps,
    coefs = raw$coefs,
    std_errors = raw$std_errors,
    stats = stats,
    selected = select
  ), class = "xylotrak_fit")
}

# A REML fit (PHFmDll): the fields of xtk fit --json and of Python's TaperFit,
# those of a least-squares fit first.
mixed_result <- function(raw, group, random) {
  fit <- unclass(fit_result(raw, group, FALSE))
  fit$stats <- c(residual_std_error = raw$residual_sd, r_squared = NA_real_, bias = NA_real_,
                 diameter_rmse = NA_real_, diameter_bias = NA_real_, rows_used = raw$rows[1L],
                 rows_skipped = raw$rows[2L], trees = raw$rows[3L])
  converged <- raw$convergence == 0L
  structure(c(fit, list(
    covariance = raw$covariance,
    tip_zero = FALSE,
    random_terms = random,
    random_exps = raw$exps[random + 1L],
    random_covariance = raw$random_covariance,
    residual_sd = raw$residual_sd,
    reml_loglik = raw$reml_loglik,
    converged = converged,
    iterations = raw$iterations,
    reason = if (converged) NULL else convergence_reason(raw$convergence)
  )), class = "xylotrak_fit")
}

coef.xylotrak_fit <- function(object, ...) {
  stats::setNames(object$coefs, paste0("e", format(object$exps, trim = TRUE)))
}

print.xylotrak_fit <- function(x, ...) {
  cat(sprintf("Taper fit%s%s: %s\n", if (is.null(x$group)) "" else " of ",
              if (is.null(x$group)) "" else x$group,
              if (x$code == 0L) sprintf("%d terms%s", length(x$coefs),
                                        if (x$selected) " (stepwise selection)" else "")
              else x$status))
  if (x$code == 0L) {
    print(data.frame(exp = x$exps, coef = x$coefs, std_error = x$std_errors), digits = 6,
          row.names = FALSE)
  }
  s <- x$stats
  if (!is.null(x$random_terms)) {
    cat(sprintf("REML fit, random tree effects on terms %s; their covariance:\n",
                paste(x$random_terms, collapse = ", ")))
    print(x$random_covariance, digits = 6)
    cat(sprintf("residual sd %.5g, REML log-likelihood %.6g, %d trees, %s in %d iterations\n",
                x$residual_sd, x$reml_loglik, as.integer(s[["trees"]]),
                if (isTRUE(x$converged)) "converged" else "stopped", x$iterations))
    cat(sprintf("rows used %d, skipped %d\n", as.integer(s[["rows_used"]]),
                as.integer(s[["rows_skipped"]])))
    return(invisible(x))
  }
  cat(sprintf("residual std error %.5g, R^2 %.5g, bias %.3g; in cm: RMSE %.4g, bias %.3g\n",
              s[["residual_std_error"]], s[["r_squared"]], s[["bias"]], s[["diameter_rmse"]],
              s[["diameter_bias"]]))
  cat(sprintf("rows used %d, skipped %d\n", as.integer(s[["rows_used"]]),
              as.integer(s[["rows_skipped"]])))
  invisible(x)
}

print.xylotrak_fits <- function(x, ...) {
  cat(sprintf("Taper fits by %s: %d group%s\n", attr(x, "by"), length(x),
              if (length(x) == 1L) "" else "s"))
  rows <- lapply(x, function(f) {
    data.frame(status = f$status, terms = length(f$coefs),
               residual_std_error = f$stats[["residual_std_error"]],
               r_squared = f$stats[["r_squared"]], rows_used = f$stats[["rows_used"]],
               stringsAsFactors = FALSE)
  })
  table <- do.call(rbind, rows)
  rownames(table) <- names(x)
  print(table, digits = 5)
  invisible(x)
}
