# Harvester production files (.hpr): what they hold, and the value each
# harvest left on the table. The library reads the file and audits it; these
# functions turn its tables into data frames with the columns of the Python
# package's read_hpr() and harvest_audit().

# The library's tables (lists of columns) as data frames; `stem`, a row of
# the stem table, becomes the stem's key.
hpr_frame <- function(columns, stem_keys = NULL) {
  if (!is.null(stem_keys) && "stem" %in% names(columns)) {
    columns$stem <- stem_keys[columns$stem + 1]
    names(columns)[names(columns) == "stem"] <- "stem_key"
  }
  list2DF(columns)
}

hpr_call <- function(path, resolution_cm) {
  if (!is.character(path) || length(path) != 1L || is.na(path)) {
    stop_arg("path", "must be one file name")
  }
  tryCatch(.Call(C_xtk_hpr, enc2utf8(path.expand(path)), resolution_cm),
           error = function(e) {
             stop(structure(class = c("xylotrak_hpr_error", "error", "condition"),
                            list(message = conditionMessage(e), call = NULL)))
           })
}

hpr_tables <- function(raw) {
  keys <- raw$stems$stem_key
  list(species = hpr_frame(raw$species), products = hpr_frame(raw$products),
       stems = hpr_frame(raw$stems), logs = hpr_frame(raw$logs, keys),
       unsupported = hpr_frame(raw$unsupported))
}

read_hpr <- function(path) {
  hpr_tables(hpr_call(path, 0L))
}

harvest_audit <- function(path, resolution_cm = 1L) {
  resolution_cm <- check_number(resolution_cm, "resolution_cm")
  if (resolution_cm != round(resolution_cm) || resolution_cm < 1 || resolution_cm > 1000) {
    stop_arg("resolution_cm", "must be a whole number from 1 to 1000")
  }
  raw <- hpr_call(path, as.integer(resolution_cm))
  keys <- raw$stems$stem_key
  list(stems = hpr_frame(raw$audit_stems, keys), logs = hpr_frame(raw$audit_logs, keys),
       totals = raw$totals, unsupported = hpr_frame(raw$unsupported))
}
