# The bucked stem in base graphics: the profile along the height axis (the
# diameters stretched), the stump, the logs shaded by product with their
# length below and top diameter above, the trims, the leftover and the top.

product_palette <- c("#c8823c", "#e6c36a", "#9cc58a", "#7fb3d5", "#c39bd3", "#f0a18c",
                     "#8fd1c8", "#d4b483")

# Where the cutting ends (the trim top of the last log, or of the stump), where
# the top begins and the diameter that ends the leftover (0: none), as the
# library works them out (PHZnDll).
stem_zones <- function(x) {
  m <- x$model
  z <- .Call(C_xtk_stem_zones, m$dbh, m$height, m$coefs, m$exps,
             as.double(x$heights[c("stump_height", "stump_trim")]),
             as.double(x$logs$trim_top_height), as.double(x$totals))
  list(last_trim_top = z[1L], top_start = z[2L], top_diam = z[3L])
}

plot.xylotrak_bucking <- function(x, main = NULL, ...) {
  m <- x$model
  H <- m$height
  grid <- seq(0, H, length.out = 401L)
  radius <- function(h) {
    h <- pmin(pmax(h, 0), H)
    .Call(C_xtk_diameter, m$dbh, m$height, m$coefs, m$exps, as.double(h)) / 2
  }
  rmax <- max(radius(grid), 1e-9)
  section <- function(from, to, col, border = NA, density = NULL) {
    from <- min(max(from, 0), H)
    to <- min(max(to, 0), H)
    if (!(to > from)) return(invisible())
    hs <- c(from, grid[grid > from & grid < to], to)
    r <- radius(hs)
    graphics::polygon(c(hs, rev(hs)), c(r, -rev(r)), col = col, border = border,
                      density = density)
  }
  bucked <- x$outcome == "winner"
  if (is.null(main)) {
    main <- sprintf("dbh %s cm, height %s m: %s", format(m$dbh), format(H),
                    if (bucked) sprintf("%d log%s, %.3f m3, value %.2f", nrow(x$logs),
                                        if (nrow(x$logs) == 1L) "" else "s",
                                        x$totals[["product_volume"]], x$totals[["total_value"]])
                    else gsub("_", " ", x$outcome))
  }
  old <- graphics::par(mar = c(4, 1, 3, 1))
  on.exit(graphics::par(old))
  graphics::plot.new()
  graphics::plot.window(xlim = c(-0.06 * H, 1.1 * H), ylim = c(-2.3 * rmax, 1.9 * rmax))
  graphics::title(main = main, xlab = "height (m); diameters enlarged")
  graphics::axis(1, at = pretty(c(0, H)))
  graphics::abline(v = seq(0, H, by = 5), col = "#e4e4e4")

  section(0, H, "#f4ecdc", border = "#7a5a3a")
  if (bucked) {
    stump <- x$heights[["stump_height"]]
    trim <- x$heights[["stump_trim"]]
    z <- stem_zones(x)
    section(0, stump, "#6b4a2b")
    if (trim > 0) section(stump, stump + trim, "#d7301f")
    if (z$top_start > z$last_trim_top) {
      section(z$last_trim_top, z$top_start, "#ececec")
      section(z$last_trim_top, z$top_start, "#aaaaaa", density = 20)
    }
    if (z$top_start < H) section(z$top_start, H, "#a8a8a8", border = "#707070")
    lab_y <- -1.55 * rmax
    graphics::text(0, lab_y, sprintf("stump %s m", format(stump)), adj = c(0, 0.5), cex = 0.7,
                   font = 3)
    if (z$top_start > z$last_trim_top) {
      graphics::text((z$last_trim_top + z$top_start) / 2, lab_y - 0.3 * rmax,
                     sprintf("leftover %.2f m", z$top_start - z$last_trim_top), cex = 0.7,
                     font = 3)
    }
    if (z$top_start < H) {
      graphics::text((z$top_start + H) / 2, lab_y,
                     if (z$top_diam > 0) sprintf("top (below %.1f cm)", z$top_diam) else "top",
                     cex = 0.7, font = 3)
    }
  }
  for (k in seq_len(nrow(x$logs))) {
    log <- x$logs[k, ]
    col <- product_palette[(log$product_number - 1L) %% length(product_palette) + 1L]
    section(log$base_height, log$top_height, col, border = "#5a4028")
    if (log$trim_top_height > log$top_height) {
      section(log$top_height, log$trim_top_height, "#d7301f")
    }
    mid <- (log$base_height + log$top_height) / 2
    graphics::text(mid, 0, k, cex = 0.8, font = 2)
    graphics::segments(log$top_height, radius(log$top_height), log$top_height, 1.25 * rmax,
                       lty = 3, col = "#999999")
    graphics::text(log$top_height, 1.25 * rmax + (k %% 2) * 0.3 * rmax,
                   sprintf("%.1f", log$top_diam), pos = 3, cex = 0.7, offset = 0.2)
    graphics::arrows(log$base_height, -1.15 * rmax, log$top_height, -1.15 * rmax, length = 0.03,
                     angle = 90, code = 3, col = "#555555")
    graphics::text(mid, -1.15 * rmax, sprintf("%s m", format(round(log$length, 2))), pos = 1,
                   cex = 0.7, offset = 0.3)
  }
  graphics::text(H, 0, sprintf("tip %s m", format(round(H, 1))), pos = 4, cex = 0.7, font = 3)
  graphics::text(0, 1.75 * rmax, "top diameters (cm) above the cuts", adj = c(0, 0.5), cex = 0.7)
  if (nrow(x$products) > 0L) {
    numbers <- x$products$product_number
    graphics::legend("bottomright", legend = x$products$name, fill =
                       product_palette[(numbers - 1L) %% length(product_palette) + 1L],
                     cex = 0.7, bty = "n", horiz = TRUE)
  }
  invisible(x)
}
