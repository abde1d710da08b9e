#!/usr/bin/env bash
# Ctrl-C stops buck_inventory(): an R process bucking a long inventory by the
# exact optimiser gets SIGINT (what Ctrl-C sends) a few seconds in and must end
# with the package's error within a few seconds, long before the bucking would
# have finished.
# Usage: tests/r_interrupt_test.sh LIBRARY_DIR (where the package is installed)
set -euo pipefail
lib=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat >"$work/long.R" <<'EOR'
library(xylotrak, lib.loc = commandArgs(trailingOnly = TRUE)[1])
n <- 400000
trees <- data.frame(id = sprintf("t%06d", seq_len(n)), dbh = 40, height = 35,
                    coefs = "1.14 -1.23 1.68 -3.14 1.55", exps = "0 1 2 3 4",
                    stringsAsFactors = FALSE)
p <- products(min_top_diam = 8, min_length = 1 + 0.25 * (0:7),
              max_length = 1 + 0.25 * (0:7), unit_price = 20 + 0:7)
cat("bucking\n")
r <- tryCatch(buck_inventory(trees, p, method = "value", exact = TRUE),
              error = function(e) conditionMessage(e))
cat("result:", if (is.character(r)) r else "finished", "\n")
EOR
XYLOTRAK_LOG=/dev/null Rscript "$work/long.R" "$lib" >"$work/out.txt" 2>&1 &
pid=$!
# Wait until the bucking has started, then interrupt it. Turning the 400,000
# rows into the library's arrays takes a few seconds on a busy machine, and an
# interrupt then is R's own, not the package's: the library's workers (R runs
# on one thread) say that the bucking itself is under way. On a machine of one
# processor there are no workers; there the wait ends after 30 s.
for _ in $(seq 100); do grep -q bucking "$work/out.txt" && break; sleep 0.2; done
for _ in $(seq 150); do
  [ "$(ls /proc/"$pid"/task 2>/dev/null | wc -l)" -gt 1 ] && break
  sleep 0.2
done
sleep 1
kill -INT "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.2; done
if kill -0 "$pid" 2>/dev/null; then
  kill -KILL "$pid"
  echo "r_interrupt_test: buck_inventory went on 10 s after SIGINT" >&2
  exit 1
fi
wait "$pid" || true
if ! grep -q "result: the bucking of the inventory was interrupted" "$work/out.txt"; then
  echo "r_interrupt_test: unexpected output:" >&2
  cat "$work/out.txt" >&2
  exit 1
fi
echo "r_interrupt_test: buck_inventory stopped on SIGINT"
