#!/usr/bin/env bash
# Times `xtk batch` on a generated inventory: sequential and optimised bucking,
# one and two threads. Prints wall time, CPU time and trees per second.
# Usage: bench/xtk_batch_bench.sh PATH_TO_XTK [TREES] [WORK_DIR]
set -euo pipefail
xtk=$(realpath "$1")
trees=${2:-100000}
work=${3:-$(mktemp -d)}
here=$(dirname "$0")
python3 "$here/gen_inventory.py" "$trees" "$work"
cd "$work"
echo "inventory: $trees trees in $work; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for method in sequential value; do
  for jobs in 1 2; do
    opt=()
    [ "$method" = value ] && opt=(--optimise value)
    XYLOTRAK_LOG=/dev/null /usr/bin/time -f "%e %U %S %M" -o time.txt \
      "$xtk" batch trees.csv --products products.json --models models.json "${opt[@]}" \
      -j "$jobs" --logs "logs_${method}_$jobs.csv" --totals "totals_${method}_$jobs.csv" \
      2>/dev/null || true
    awk -v m="$method" -v j="$jobs" -v n="$trees" -v load="$(cut -d' ' -f1 /proc/loadavg)" \
      '{printf "%-10s -j %s  %7.2f s wall  %7.2f s cpu  %6.0f trees/s  %5.0f MB peak  load %s\n",
        m, j, $1, $2 + $3, n / $1, $4 / 1024, load}' time.txt
  done
  cmp -s "logs_${method}_1.csv" "logs_${method}_2.csv" && cmp -s "totals_${method}_1.csv" \
    "totals_${method}_2.csv" && echo "$method: -j 1 and -j 2 files identical"
done
