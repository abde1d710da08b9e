#!/usr/bin/env bash
# Trees per second of a whole inventory through each front end, in one run on
# one machine: xtk batch (the whole process: reading the CSV, bucking, writing
# both files), Python's xylotrak.buck_inventory and R's buck_inventory (each
# from reading the CSV to the two tables), sequentially and by value, on one
# thread; then xtk batch by value on one and two threads.
#
# Usage: bench/inventory_bench.sh BUILD_DIR [TREES] [WORK_DIR]
#   BUILD_DIR  a Release build with the xylotrak and xtk targets built
#   TREES      trees of the generated inventory (default 20000)
# R is measured when R is installed (the package is installed into WORK_DIR).
set -euo pipefail
build=$(realpath "$1")
trees=${2:-20000}
work=${3:-$(mktemp -d)}
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
xtk="$build/tools/xtk/xtk"
lib="$build/libxylotrak.so"
export XYLOTRAK_LOG=/dev/null
python3 "$here/gen_inventory.py" "$trees" "$work" >/dev/null
cd "$work"
echo "inventory: $trees trees in $work; load before: $(cut -d' ' -f1-3 /proc/loadavg)"

rate() {  # trees per second from seconds
  awk -v n="$trees" -v s="$1" 'BEGIN { printf "%8.0f trees/s  (%.3f s)", n / s, s }'
}

xtk_time() {  # method threads -> wall seconds of the whole process
  local opt=()
  [ "$1" = value ] && opt=(--optimise value)
  /usr/bin/time -f "%e %M" -o time.txt "$xtk" batch trees.csv --products products.json \
    --models models.json "${opt[@]}" -j "$2" --logs "logs_$1_$2.csv" \
    --totals "totals_$1_$2.csv" 2>/dev/null
  cut -d' ' -f1 time.txt
}

cat >bench.py <<'EOF'
import sys, time
sys.path.insert(0, sys.argv[1])
import pandas as pd
import xylotrak
method = sys.argv[2]
started = time.perf_counter()
trees = pd.read_csv("trees.csv", dtype={"id": str, "model": str, "coefs": str, "exps": str},
                    keep_default_na=False)
logs, totals = xylotrak.buck_inventory(trees, "products.json", models="models.json",
                                       method=method, threads=1)
print(time.perf_counter() - started)
EOF

have_r=0
if command -v Rscript >/dev/null; then
  stage="$work/stage"
  cmake --install "$build" --prefix "$stage" >/dev/null
  pc=$(dirname "$(find "$stage" -name xylotrak.pc -print -quit)")
  mkdir -p "$work/rlib"
  PKG_CONFIG_PATH="$pc" R CMD INSTALL --no-test-load -l "$work/rlib" "$root/r" >r-install.log 2>&1
  have_r=1
  # Models and products for R, written from the same JSON files by Python.
  python3 - <<'EOF'
import json
models = json.load(open("models.json"))
products = json.load(open("products.json"))
with open("inputs.R", "w") as f:
    f.write("models <- list(%s)\n" % ", ".join(
        "%s = list(coefs = c(%s), exps = c(%s))" % (name, ", ".join(map(repr, m["coefs"])),
                                                   ", ".join(map(repr, m["exps"])))
        for name, m in models.items()))
    cols = {}
    for p in products:
        for key, value in p.items():
            cols.setdefault(key, []).append(value)
    names = {"minTopDiam": "min_top_diam", "maxTopDiam": "max_top_diam",
             "minBaseDiam": "min_base_diam", "maxBaseDiam": "max_base_diam",
             "minLength": "min_length", "maxLength": "max_length", "unitPrice": "unit_price",
             "priceBasis": "price_basis", "logPosition": "log_position",
             "heightRule": "height_rule", "lossFraction": "loss_fraction",
             "trimLength": "trim_length"}
    args = []
    for key, values in cols.items():
        if key == "name":
            args.append("name = c(%s)" % ", ".join(json.dumps(v) for v in values))
        elif key in ("priceBasis", "logPosition", "heightRule"):
            args.append("%s = c(%s)" % (names[key], ", ".join("%dL" % v for v in values)))
        else:
            args.append("%s = c(%s)" % (names[key], ", ".join(repr(float(v)) for v in values)))
    f.write("p <- products(%s)\n" % ", ".join(args))
EOF
  cat >bench.R <<'EOF'
args <- commandArgs(trailingOnly = TRUE)
suppressMessages(library(xylotrak, lib.loc = args[1]))
source("inputs.R")
started <- proc.time()[["elapsed"]]
trees <- read.csv("trees.csv", colClasses = c(id = "character", model = "character",
                                              coefs = "character", exps = "character"))
trees$model[trees$model == ""] <- NA
inv <- buck_inventory(trees, p, models, method = args[2], threads = 1L)
cat(proc.time()[["elapsed"]] - started, "\n")
EOF
fi

printf "%-12s %-24s %-24s %-24s\n" method "xtk batch -j 1" "Python" "R"
for method in sequential value; do
  x=$(xtk_time "$method" 1)
  p=$(XYLOTRAK_LIBRARY="$lib" /usr/bin/python3 bench.py "$root/python" "$method")
  r=""
  [ "$have_r" = 1 ] && r=$(Rscript bench.R "$work/rlib" "$method")
  printf "%-12s %-24s %-24s %-24s\n" "$method" "$(rate "$x")" "$(rate "$p")" \
    "$( [ -n "$r" ] && rate "$r" || echo "(no R)")"
done
x2=$(xtk_time value 2)
x1=$(xtk_time value 1)
echo "xtk batch by value: -j 1 $(rate "$x1"), -j 2 $(rate "$x2"); speed-up $(awk -v a="$x1" -v b="$x2" 'BEGIN { printf "%.2f", a / b }')"
cmp -s logs_value_1.csv logs_value_2.csv && cmp -s totals_value_1.csv totals_value_2.csv &&
  echo "value: -j 1 and -j 2 files identical"
