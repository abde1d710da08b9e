# The library's call accounting: nine slots, each with a status and a 32-bit
# counter.

accounting_slots <- c("PHVoDll", "PHVsDll", "PHViDll", "PHDiDll", "PHHiDll", "PHFFDll",
                      "PHCTDll", "formulas", "PHVxDll")

accounting <- function() {
  raw <- .Call(C_xtk_tally, 2L)
  status <- c("0" = "off", "-1" = "counting", "-2" = "stopped")[as.character(raw$status)]
  status[is.na(status)] <- paste("status", raw$status[is.na(status)])
  data.frame(slot = 0:8, routine = accounting_slots, status = unname(status), count = raw$count,
             stringsAsFactors = FALSE)
}

accounting_start <- function() {
  invisible(.Call(C_xtk_tally, 0L))
}

accounting_stop <- function() {
  invisible(.Call(C_xtk_tally, 1L))
}

xylotrak_version <- function() {
  .Call(C_xtk_version)
}

# How the package was built against the library: its compiler and linker
# flags (for programs that must use the same library).
library_flags <- function() {
  raw <- .Call(C_xtk_build_flags)
  list(cflags = raw[[1L]], libs = raw[[2L]])
}
