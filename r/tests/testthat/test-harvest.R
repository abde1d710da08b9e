# read_hpr() and harvest_audit() against the library's own answers on the
# fixtures of tests/data/hpr: `xtk harvest --json` on the same file, number
# for number. XYLOTRAK_HPR_DATA names the fixtures' directory and XTK the
# program (scripts/test-r.sh sets both); without them these tests are skipped.

hpr_fixture <- function(name) {
  dir <- Sys.getenv("XYLOTRAK_HPR_DATA")
  if (!nzchar(dir) || !dir.exists(dir)) skip("set XYLOTRAK_HPR_DATA to tests/data/hpr")
  file.path(dir, name)
}

xtk_harvest <- function(path) {
  skip_if_not_installed("jsonlite")
  xtk <- Sys.getenv("XTK")
  if (!nzchar(xtk) || !file.exists(xtk)) skip("set XTK to the xtk program to compare with it")
  out <- system2(xtk, c("harvest", shQuote(path), "--json"), stdout = TRUE)
  jsonlite::fromJSON(paste(out, collapse = "\n"), simplifyVector = FALSE)
}

# A JSON number or null as a double (null: NA).
num <- function(x) if (is.null(x)) NA_real_ else as.double(x)

test_that("harvest_audit gives the stems, logs and totals of xtk harvest", {
  for (name in c("small.hpr", "unsupported.hpr", "schema.hpr")) {
    path <- hpr_fixture(name)
    want <- xtk_harvest(path)
    got <- harvest_audit(path)
    expect_identical(nrow(got$stems), length(want$stems))
    for (i in seq_along(want$stems)) {
      w <- want$stems[[i]]
      g <- got$stems[i, ]
      expect_identical(g$stem_key, num(w$stem_key))
      for (col in c("actual_value", "actual_value_model", "optimal_value", "gain")) {
        expect_identical(g[[col]], num(w[[col]]), label = sprintf("%s %s stem %d", name, col, i))
      }
      expect_identical(g$no_optimum, if (is.null(w$no_optimum)) NA_character_ else w$no_optimum)
      logs <- got$logs[got$logs$stem_key == g$stem_key, ]
      expected <- c(lapply(w$actual_logs, c, optimal = FALSE),
                    lapply(w$optimal_logs, c, optimal = TRUE))
      expect_identical(nrow(logs), length(expected))
      for (k in seq_along(expected)) {
        e <- expected[[k]]
        expect_identical(logs$optimal[k], e$optimal)
        for (col in c("product_key", "start_cm", "length_cm", "diameter_class_mm", "volume",
                      "value", "volume_model", "value_model")) {
          expect_identical(logs[[col]][k], num(e[[col]]),
                           label = sprintf("%s stem %d log %d %s", name, i, k, col))
        }
      }
    }
    for (col in names(want$totals)) {
      expect_identical(got$totals[[col]], num(want$totals[[col]]), label = col)
    }
    expect_identical(got$unsupported$what, vapply(want$unsupported, `[[`, "", "what"))
    expect_identical(got$unsupported$line, vapply(want$unsupported, `[[`, 0L, "line"))
    expect_identical(got$unsupported$count, vapply(want$unsupported, `[[`, 0L, "count"))
  }
})

test_that("read_hpr holds the fixture's species, products, stems and logs", {
  path <- hpr_fixture("small.hpr")
  f <- read_hpr(path)
  expect_named(f, c("species", "products", "stems", "logs", "unsupported"))
  expect_identical(f$species$species_group_key, c(1, 2))
  expect_identical(f$species$name, c("Spruce", "Pine"))
  expect_identical(f$products$product_key, c(11, 12, 21))
  expect_identical(f$products$diameter_classes_mm[[1]], c(160, 200, 240))
  expect_identical(f$products$length_classes_cm[[3]], c(310, 400))
  expect_identical(f$products$permitted_grades[[2]], c(1L, 2L))
  # the forbidden and the hand-only cell of the saw log (rows: diameter classes)
  expect_identical(f$products$cells[[1]][3 * 4], 2L)
  expect_identical(f$products$cells[[1]][1 * 4 + 1], 1L)
  expect_identical(f$stems$stem_key, c(1001, 1002))
  expect_identical(lengths(f$stems$positions_cm), c(130L, 91L))
  expect_identical(f$stems$positions_cm[[1]][1:3], c(0, 10, 20))
  expect_identical(f$logs$stem_key, c(1001, 1001, 1001, 1001, 1002, 1002))
  expect_identical(f$logs$length_cm, c(432, 403, 150, 280, 412, 330))
  expect_identical(f$logs$start_cm, c(0, 432, 835, 985, 0, 412))
  expect_true(all(is.na(f$logs$diameter_mid_ub)))
  # the same logs as the audit's logs cut
  audit <- harvest_audit(path)
  cut <- audit$logs[!audit$logs$optimal, ]
  expect_identical(cut$start_cm, f$logs$start_cm)
  expect_identical(cut$product_key, f$logs$product_key)
  expect_identical(cut$volume, f$logs$volume_m3_price)
})

test_that("a malformed file is an error naming the element and its line", {
  path <- tempfile(fileext = ".hpr")
  on.exit(unlink(path))
  writeLines(c("<HarvestedProduction><Machine>", "<Stem><StemKey>x1</StemKey></Stem>",
               "</Machine></HarvestedProduction>"), path)
  expect_error(read_hpr(path), "line 2: element 'StemKey'", class = "xylotrak_hpr_error")
  expect_error(harvest_audit(file.path(tempdir(), "no-such.hpr")), class = "xylotrak_hpr_error")
  expect_error(harvest_audit(path, resolution_cm = 0), "resolution_cm")
  expect_error(read_hpr(1), "path")
})
