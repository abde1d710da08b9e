# The ProductSpec input fields in record order; three of them are 16-bit codes.
product_fields <- c(
  "min_top_diam", "max_top_diam", "min_base_diam", "max_base_diam", "min_length", "max_length",
  "unit_price", "price_basis", "log_position", "height_rule", "loss_fraction", "trim_length"
)
product_codes <- c("price_basis", "log_position", "height_rule")

# The same fields under the record's own names, as in product files.
product_record_names <- c(
  "minTopDiam", "maxTopDiam", "minBaseDiam", "maxBaseDiam", "minLength", "maxLength",
  "unitPrice", "priceBasis", "logPosition", "heightRule", "lossFraction", "trimLength"
)

# The library's default of a product field a user may leave out
# (xylotrak_product_default), by its name here.
product_default <- function(field) {
  value <- .Call(C_xtk_product_default)[[product_record_names[match(field, product_fields)]]]
  if (field %in% product_codes) as.integer(value) else value
}

products <- function(min_top_diam, min_length, max_length, unit_price,
                     max_top_diam = product_default("max_top_diam"),
                     min_base_diam = product_default("min_base_diam"),
                     max_base_diam = product_default("max_base_diam"),
                     price_basis = product_default("price_basis"),
                     log_position = product_default("log_position"),
                     height_rule = product_default("height_rule"),
                     loss_fraction = product_default("loss_fraction"),
                     trim_length = product_default("trim_length"), name = NULL) {
  args <- list(min_top_diam = min_top_diam, max_top_diam = max_top_diam,
               min_base_diam = min_base_diam, max_base_diam = max_base_diam,
               min_length = min_length, max_length = max_length, unit_price = unit_price,
               price_basis = price_basis, log_position = log_position,
               height_rule = height_rule, loss_fraction = loss_fraction,
               trim_length = trim_length)
  for (field in product_fields) {
    args[[field]] <- if (field %in% product_codes) {
      check_int16(args[[field]], field)
    } else {
      check_numeric(args[[field]], field)
    }
  }
  if (!is.null(name)) {
    if (!is.character(name) || anyNA(name)) stop_arg("name", "must be character without NA")
    args$name <- name
  }
  args <- recycle_args(args)
  if (is.null(name)) args$name <- paste("product", seq_along(args$min_top_diam))
  if (length(args$name) > 32767L) stop_arg("min_top_diam", "makes more than 32767 products")
  as.data.frame(args, stringsAsFactors = FALSE)
}

# The table's columns checked, in record order, for the bucking call; and the
# products' names ("product <k>" where none is given).
product_table <- function(products, name = "products") {
  if (!is.data.frame(products)) stop_arg(name, "must be a data frame (see products())")
  missing <- setdiff(product_fields, names(products))
  if (length(missing) > 0L) {
    stop_arg(name, sprintf("has no column %s", paste0("'", missing, "'", collapse = ", ")))
  }
  if (nrow(products) > 32767L) stop_arg(name, "has more than 32767 products")
  columns <- lapply(product_fields, function(field) {
    label <- sprintf("%s$%s", name, field)
    if (field %in% product_codes) check_int16(products[[field]], label)
    else check_numeric(products[[field]], label)
  })
  labels <- paste("product", seq_len(nrow(products)))
  if ("name" %in% names(products)) {
    given <- as.character(products$name)
    use <- !is.na(given) & nzchar(given)
    labels[use] <- given[use]
  }
  list(columns = stats::setNames(columns, product_record_names), names = labels)
}

# The library's default of a bucking height (xylotrak_bucking_default): 0 the
# stump height, 1 the stump trim, 2 the start height, 3 and 4 the top height
# limit and the height limit (no limit).
bucking_default <- function(which) .Call(C_xtk_bucking_default, as.integer(which))

height_arguments <- function(stump_height, stump_trim, start_height, top_height_limit,
                             height_limit) {
  h <- c(start_height = check_number(start_height, "start_height"),
         top_height_limit = check_number(top_height_limit, "top_height_limit"),
         stump_height = check_number(stump_height, "stump_height", nonnegative = TRUE),
         stump_trim = check_number(stump_trim, "stump_trim", nonnegative = TRUE),
         height_limit = check_number(height_limit, "height_limit"))
  h
}

outcome_names <- c("0" = "no_winner", "1" = "winner", "99" = "given_up")

log_columns <- c("log_number", "product_number", "base_height", "length", "top_height",
                 "trim_top_height", "base_diam", "top_diam", "trim_top_diam", "volume", "value")
# The library's column names in snake_case ("productVolume": "product_volume").
snake_case <- function(names) tolower(gsub("([a-z])([A-Z])", "\\1_\\2", names))
total_names <- function() snake_case(library_words(5L))[4:11]

# One call of a bucking export: the raw lists of the C routine.
buck_raw <- function(m, table, heights, method, objective) {
  .Call(C_xtk_buck, m$dbh, m$height, m$coefs, m$exps, heights, table$columns,
        as.integer(method), as.integer(objective))
}

bucking_result <- function(raw, m, table, heights, method, objective) {
  key <- format(raw$outcome)
  if (!key %in% names(outcome_names)) {
    stop(sprintf("the bucking export answered %s, expected 1, 0 or 99", key), call. = FALSE)
  }
  rows <- as.data.frame(raw$logs)
  number <- rows$product_number
  name <- ifelse(number >= 1L & number <= length(table$names),
                 table$names[pmax(1L, pmin(number, length(table$names)))],
                 paste("product", number))
  logs <- cbind(rows[c("log_number", "product_number")], product_name = name,
                rows[log_columns[-(1:2)]], stringsAsFactors = FALSE)
  stump <- logs[1L, , drop = FALSE]
  stump$product_name <- NA_character_
  logs <- logs[-1L, , drop = FALSE]
  rownames(logs) <- NULL
  rownames(stump) <- NULL
  prods <- cbind(data.frame(product_number = seq_along(table$names), name = table$names,
                            stringsAsFactors = FALSE),
                 as.data.frame(raw$products))
  structure(list(
    outcome = unname(outcome_names[key]),
    raw_outcome = raw$outcome,
    stump = stump,
    logs = logs,
    products = prods,
    totals = stats::setNames(raw$totals, total_names()),
    model = structure(m, class = "taper_model"),
    heights = heights,
    method = c("sequential", "optimised", "exact")[method + 2L],
    objective = if (method < 0L) NA_character_ else c("value", "volume")[objective + 1L]
  ), class = "xylotrak_bucking")
}

buck <- function(model, products, stump_height = bucking_default(0L),
                 stump_trim = bucking_default(1L), start_height = bucking_default(2L),
                 top_height_limit = bucking_default(3L), height_limit = bucking_default(4L)) {
  m <- model_of(model)
  table <- product_table(products)
  heights <- height_arguments(stump_height, stump_trim, start_height, top_height_limit,
                              height_limit)
  bucking_result(buck_raw(m, table, heights, -1L, 0L), m, table, heights, -1L, 0L)
}

buck_optimal <- function(model, products, objective = c("value", "volume"), exact = FALSE,
                         stump_height = bucking_default(0L),
                         stump_trim = bucking_default(1L), start_height = bucking_default(2L),
                         top_height_limit = bucking_default(3L),
                         height_limit = bucking_default(4L)) {
  m <- model_of(model)
  table <- product_table(products)
  if (!is.character(objective) || anyNA(objective)) stop_arg("objective", "must be \"value\" or \"volume\"")
  objective <- tryCatch(match.arg(objective),
                        error = function(e) stop_arg("objective", "must be \"value\" or \"volume\""))
  exact <- check_flag(exact, "exact")
  heights <- height_arguments(stump_height, stump_trim, start_height, top_height_limit,
                              height_limit)
  method <- if (exact) 1L else 0L
  goal <- match(objective, c("value", "volume")) - 1L
  bucking_result(buck_raw(m, table, heights, method, goal), m, table, heights, method, goal)
}

print.xylotrak_bucking <- function(x, ...) {
  how <- if (x$method == "sequential") "sequential" else
    sprintf("%s by %s", if (x$method == "exact") "exact optimum" else "optimised", x$objective)
  cat(sprintf("Bucking (%s) of a tree of dbh %s cm, height %s m: %s\n", how,
              format(x$model$dbh), format(x$model$height),
              switch(x$outcome, winner = "bucked", no_winner = "no sequence of logs found",
                     given_up = "search given up")))
  if (nrow(x$logs) > 0L) {
    shown <- x$logs[c("log_number", "product_name", "base_height", "length", "top_diam",
                      "volume", "value")]
    print(shown, digits = 4, row.names = FALSE)
  }
  cat("\n")
  print(round(x$totals, 4))
  invisible(x)
}

# ------------------------------------------------------------------ inventory

# The columns of the tables buck_inventory() returns: those of `xtk batch`'s
# logs and totals files, in snake_case.
inventory_log_columns <- function() snake_case(library_words(4L))
inventory_total_columns <- function() snake_case(library_words(5L))

buck_inventory <- function(trees, products, models = NULL,
                           method = c("sequential", "value", "volume"), exact = FALSE,
                           stump_height = bucking_default(0L),
                           stump_trim = bucking_default(1L), start_height = bucking_default(2L),
                           top_height_limit = bucking_default(3L),
                           height_limit = bucking_default(4L), threads = 1L,
                           exact_when_given_up = FALSE) {
  if (!is.character(method) || anyNA(method)) {
    stop_arg("method", "must be \"sequential\", \"value\" or \"volume\"")
  }
  method <- tryCatch(match.arg(method), error = function(e) {
    stop_arg("method", "must be \"sequential\", \"value\" or \"volume\"")
  })
  exact <- check_flag(exact, "exact")
  if (exact && method == "sequential") stop_arg("exact", "needs method \"value\" or \"volume\"")
  exact_when_given_up <- check_flag(exact_when_given_up, "exact_when_given_up")
  if (exact_when_given_up && (exact || method == "sequential")) {
    stop_arg("exact_when_given_up", "needs method \"value\" or \"volume\" without exact")
  }
  if (!is.numeric(threads) || length(threads) != 1L || is.na(threads) ||
      threads != round(threads) || threads < 0 || threads > 256) {
    stop_arg("threads", "must be a whole number from 0 to 256 (0: one per processor)")
  }
  table <- product_table(products)
  heights <- height_arguments(stump_height, stump_trim, start_height, top_height_limit,
                              height_limit)
  t <- tree_model_table(trees, models)
  ids <- if ("id" %in% names(trees)) as.character(trees$id) else as.character(seq_len(nrow(trees)))
  if (anyNA(ids) || any(!nzchar(ids))) stop_arg("trees$id", "must not be empty or NA")
  if (anyDuplicated(ids)) {
    stop_arg("trees$id", sprintf("holds \"%s\" twice", ids[anyDuplicated(ids)]))
  }
  how <- if (method == "sequential") 0L else if (exact) 2L else 1L
  goal <- if (method == "volume") 1L else 0L
  raw <- .Call(C_xtk_buck_inventory, t$dbh, t$height, t$model, t$coefs, t$exps, heights,
               table$columns, how, goal, as.integer(threads),
               if (exact_when_given_up) 1L else 0L)
  l <- raw$logs
  number <- l$product_number
  name <- ifelse(number >= 1L & number <= length(table$names),
                 table$names[pmax(1L, pmin(number, length(table$names)))],
                 sprintf("product %d", number))
  logs <- data.frame(id = ids[l$tree], log_number = l$log_number, product_number = number,
                     product_name = name, stringsAsFactors = FALSE)
  for (col in inventory_log_columns()[-(1:4)]) logs[[col]] <- l[[col]]
  totals <- data.frame(id = ids, outcome = as.integer(raw$outcome), log_count = raw$log_count,
                       stringsAsFactors = FALSE)
  columns <- inventory_total_columns()
  for (k in 1:8) totals[[columns[k + 3L]]] <- raw$totals[, k]
  if (exact_when_given_up) totals[[columns[12L]]] <- raw$method == 2L
  list(logs = logs, totals = totals)
}
