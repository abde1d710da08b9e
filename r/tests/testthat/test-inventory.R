# buck_inventory() against `xtk batch`, the command-line program's bucking of
# an inventory file: the same rows, and the same numbers to the last bit
# (both sides printed with %.17g). XTK names the program; without it the
# comparison is skipped.

xtk_program <- function() {
  path <- Sys.getenv("XTK")
  if (!nzchar(path) || !file.exists(path)) skip("set XTK to the xtk program to compare with it")
  path
}

g17 <- function(x) sprintf("%.17g", x)

inventory_case <- function() {
  set.seed(5)
  n <- 40
  spruce <- list(coefs = c(1.14, -1.23, 1.68, -1.59), exps = c(0, 1, 2, 3))
  fir <- list(coefs = c(1.2, -0.9, -0.05, -0.25), exps = c(0, 0.7, 2.5, 6))
  trees <- data.frame(id = sprintf("t%03d", seq_len(n)), dbh = runif(n, 12, 60),
                      height = runif(n, 10, 40), stringsAsFactors = FALSE)
  trees$model <- ifelse(seq_len(n) %% 3 == 0, "", ifelse(seq_len(n) %% 3 == 1, "spruce", "fir"))
  own <- lapply(seq_len(n), function(i) random_model())
  trees$coefs <- lapply(seq_len(n), function(i) if (trees$model[i] == "") own[[i]]$coefs else NULL)
  trees$exps <- lapply(seq_len(n), function(i) if (trees$model[i] == "") own[[i]]$exps else NULL)
  list(trees = trees, models = list(spruce = spruce, fir = fir),
       products = products(min_top_diam = c(24, 16, 7), min_length = c(3, 2.5, 2),
                           max_length = c(5, 4, 3), unit_price = c(95, 55, 22),
                           price_basis = c(0L, 0L, 1L), loss_fraction = c(0.05, 0, 0),
                           trim_length = c(0.1, 0.1, 0), name = c("saw", "small saw", "pulp")))
}

write_case <- function(case, dir) {
  t <- case$trees
  cells <- function(x) if (is.null(x)) "" else paste(g17(x), collapse = " ")
  lines <- c("id,dbh,height,model,coefs,exps",
             sprintf("%s,%s,%s,%s,%s,%s", t$id, g17(t$dbh), g17(t$height), t$model,
                     vapply(t$coefs, cells, ""), vapply(t$exps, cells, "")))
  writeLines(lines, file.path(dir, "trees.csv"))
  model_json <- function(name, m) {
    sprintf("\"%s\": {\"coefs\": [%s], \"exps\": [%s]}", name,
            paste(g17(m$coefs), collapse = ", "), paste(g17(m$exps), collapse = ", "))
  }
  writeLines(c("{", paste(mapply(model_json, names(case$models), case$models), collapse = ",\n"),
               "}"), file.path(dir, "models.json"))
  p <- case$products
  record <- xylotrak:::product_record_names
  cols <- xylotrak:::product_fields
  body <- do.call(paste, c(lapply(cols, function(f) {
    if (is.integer(p[[f]])) as.character(p[[f]]) else g17(p[[f]])
  }), list(p$name, sep = ",")))
  writeLines(c(paste(c(record, "name"), collapse = ","), body), file.path(dir, "products.csv"))
}

# xtk's column names in the package's snake_case.
snake <- function(x) gsub("([A-Z])", "_\\L\\1", x, perl = TRUE)

frame_lines <- function(df) {
  cells <- lapply(df, function(x) if (is.double(x)) g17(x) else as.character(x))
  do.call(paste, c(cells, sep = ","))
}

test_that("buck_inventory gives the rows of xtk batch, bit for bit", {
  xtk <- xtk_program()
  case <- inventory_case()
  dir <- tempfile("batch")
  dir.create(dir)
  on.exit(unlink(dir, recursive = TRUE))
  write_case(case, dir)
  runs <- list(list("sequential", FALSE, character(0)),
               list("value", FALSE, c("--optimise", "value")),
               list("volume", TRUE, c("--optimise", "volume", "--exact")))
  for (run in runs) {
    logs <- file.path(dir, "logs.csv")
    totals <- file.path(dir, "totals.csv")
    status <- system2(xtk, c("batch", file.path(dir, "trees.csv"), "--products",
                             file.path(dir, "products.csv"), "--models",
                             file.path(dir, "models.json"), "--logs", logs, "--totals", totals,
                             "--stump-height", "0.25", run[[3]]), stdout = FALSE, stderr = FALSE)
    expect_identical(status, 0L)
    got <- buck_inventory(case$trees, case$products, case$models, method = run[[1]],
                          exact = run[[2]], stump_height = 0.25)
    expect_identical(names(got$logs), snake(strsplit(readLines(logs, n = 1), ",")[[1]]))
    expect_identical(names(got$totals), snake(strsplit(readLines(totals, n = 1), ",")[[1]]))
    expect_identical(frame_lines(got$logs), readLines(logs)[-1])
    expect_identical(frame_lines(got$totals), readLines(totals)[-1])
  }
})

test_that("buck_inventory agrees with buck() tree by tree", {
  case <- inventory_case()
  inv <- buck_inventory(case$trees[1:6, ], case$products, case$models, method = "value",
                        exact = TRUE)
  expect_identical(inv$totals$id, case$trees$id[1:6])
  second <- taper_model(case$trees$dbh[2], case$trees$height[2], case$models$fir$coefs,
                        case$models$fir$exps)
  b <- buck_optimal(second, case$products, exact = TRUE)
  expect_identical(inv$totals$log_count[2], nrow(b$logs))
  expect_identical(inv$logs$volume[inv$logs$id == case$trees$id[2]], b$logs$volume)
  expect_identical(unlist(inv$totals[2, -(1:3)], use.names = FALSE), unname(b$totals))
})

test_that("buck_inventory gives the same tables on any number of threads", {
  case <- inventory_case()
  trees <- case$trees[rep(seq_len(nrow(case$trees)), 5), ]
  trees$id <- sprintf("r%04d", seq_len(nrow(trees)))
  one <- buck_inventory(trees, case$products, case$models, method = "value")
  for (threads in c(0L, 2L, 7L)) {
    expect_identical(buck_inventory(trees, case$products, case$models, method = "value",
                                    threads = threads), one)
  }
  expect_identical(nrow(one$totals), nrow(trees))
  expect_error(buck_inventory(trees, case$products, case$models, threads = -1), "'threads'")
  expect_error(buck_inventory(trees, case$products, case$models, threads = 1.5), "'threads'")
})

test_that("buck_inventory and taper_table read each distinct model once, faults at their rows", {
  case <- inventory_case()
  t <- xylotrak:::tree_model_table(case$trees, case$models)
  # Two named models and one list-column model per third row.
  expect_identical(length(t$coefs), 2L + sum(case$trees$model == ""))
  expect_identical(t$coefs[[t$model[2] + 1L]], case$models$fir$coefs)
  text <- data.frame(id = c("a", "b", "c"), dbh = c(30, 31, 32), height = c(20, 21, 22),
                     coefs = c("1 -1", " 1  -1 ", "1\t-1"), exps = c("0 1", "0 1", "0 1"),
                     stringsAsFactors = FALSE)
  tt <- xylotrak:::tree_model_table(text, NULL)
  expect_identical(tt$coefs[[tt$model[1] + 1L]], c(1, -1))
  expect_true(all(vapply(tt$model + 1L, function(k) identical(tt$coefs[[k]], c(1, -1)), TRUE)))
  table <- taper_table(text, at = c(0, 10))
  expect_identical(table$d_10, c(15, 31 * (1 - 10 / 21), 32 * (1 - 10 / 22)))
  cone <- taper_model(31, 21, c(1, -1), c(0, 1))
  expect_identical(table$volume[2], stem_volume(cone))
  bad <- text
  bad$coefs[3] <- "1 x"
  expect_error(taper_table(bad), "row 3")
})

test_that("trees the search gives up on can go to the exact optimiser", {
  # Twelve short fixed lengths: the search gives up on the tall trees only.
  many <- products(min_top_diam = 8, min_length = 1 + 0.25 * (0:11),
                   max_length = 1 + 0.25 * (0:11), unit_price = 20 + 0:11)
  trees <- data.frame(id = sprintf("s%02d", 1:12), dbh = seq(14, 58, 4),
                      height = seq(8, 41, 3), stringsAsFactors = FALSE)
  trees$coefs <- "1.14 -1.23 1.68 -3.14 1.55"
  trees$exps <- "0 1 2 3 4"
  plain <- buck_inventory(trees, many, method = "value", threads = 2L)
  helped <- buck_inventory(trees, many, method = "value", threads = 2L,
                           exact_when_given_up = TRUE)
  exact <- buck_inventory(trees, many, method = "value", exact = TRUE)
  given_up <- plain$totals$outcome == 99L
  expect_true(any(given_up) && !all(given_up))
  expect_identical(helped$totals$served_by_exact, given_up)
  keep <- setdiff(names(helped$totals), "served_by_exact")
  expect_identical(helped$totals[!given_up, keep], plain$totals[!given_up, ])
  expect_identical(helped$totals[given_up, keep], exact$totals[given_up, ])
  expect_error(buck_inventory(trees, many, method = "value", exact = TRUE,
                              exact_when_given_up = TRUE), "'exact_when_given_up'")
})

test_that("buck_inventory refuses what xtk batch refuses", {
  case <- inventory_case()
  dup <- case$trees[1:3, ]
  dup$id[3] <- dup$id[1]
  expect_error(buck_inventory(dup, case$products, case$models), "'trees\\$id'.*t001")
  expect_error(buck_inventory(case$trees, case$products), "'models'")
  expect_error(buck_inventory(case$trees, case$products, case$models, exact = TRUE), "'exact'")
  expect_error(buck_inventory(case$trees, case$products, case$models, method = "price"),
               "'method'")
  bad <- case$trees[1:2, ]
  bad$model[2] <- "pine"
  expect_error(buck_inventory(bad, case$products, case$models), "pine")
})
