#!/usr/bin/env python3
"""The same inventories through the three front ends: `xtk batch`, Python's
xylotrak.buck_inventory and R's buck_inventory. Each input in tests/frontends/
is either bucked by all three into the same rows, every number the same
double (printed with %.17g), or refused by all three for the same field.

Then the same fits: each case of tests/frontends/fits/fits.json (a stems file
and the fit's options) through `xtk fit --json`, Python's and R's fit_taper,
which must fit the same coefficients and standard errors from the same rows,
or refuse with the same fitting code in the same words.

Usage: frontend_parity.py XTK LIBRARY [R_LIB]
  XTK      the xtk program; LIBRARY the shared library Python loads
  R_LIB    a library folder with the R package installed (R is left out
           without it, or without Rscript)
Exits 1 naming every input on which the front ends disagree.
"""
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
CASES = HERE / "frontends"
METHODS = ("sequential", "value")


def g17(x):
    return "%.17g" % float(x)


def rows_of(lines):
    """Header and rows of CSV lines whose cells hold no commas; numbers as %.17g."""
    header, *rows = [line.split(",") for line in lines if line]
    out = []
    for row in rows:
        cells = []
        for cell in row:
            try:
                cells.append(g17(cell) if cell not in ("", "NA") else cell)
            except ValueError:
                cells.append(cell)
        out.append(tuple(cells))
    return tuple(header), out


def camel(name):
    return re.sub(r"_([a-z])", lambda m: m.group(1).upper(), name)


def run_xtk(xtk, trees, method, work):
    logs, totals = work / "x_logs.csv", work / "x_totals.csv"
    args = [xtk, "batch", str(trees), "--products", str(CASES / "products.json"), "--models",
            str(CASES / "models.json"), "--logs", str(logs), "--totals", str(totals)]
    if method != "sequential":
        args += ["--optimise", method]
    done = subprocess.run(args, capture_output=True, text=True,
                          env=dict(os.environ, XYLOTRAK_LOG="/dev/null"))
    if done.returncode != 0:
        fields = re.findall(r"field '(\w+)'", done.stderr)
        return ("refused", fields[0] if fields else done.stderr.strip())
    return ("bucked", rows_of(logs.read_text().splitlines()),
            rows_of(totals.read_text().splitlines()))


def run_python(library, trees, method):
    os.environ["XYLOTRAK_LIBRARY"] = library
    sys.path.insert(0, str(HERE.parent / "python"))
    import pandas as pd
    import xylotrak
    from xylotrak import InputFileError

    frame = pd.read_csv(trees, dtype={"id": str, "model": str, "coefs": str, "exps": str},
                        float_precision="round_trip")
    try:
        logs, totals = xylotrak.buck_inventory(frame, str(CASES / "products.json"),
                                               models=str(CASES / "models.json"), method=method)
    except InputFileError as error:
        return ("refused", error.field)

    def table(df):
        lines = [",".join(df.columns)]
        lines += [",".join(str(v) for v in row) for row in df.itertuples(index=False)]
        return rows_of(lines)

    return ("bucked", table(logs), table(totals))


R_SCRIPT = r"""
args <- commandArgs(trailingOnly = TRUE)
suppressMessages(library(xylotrak, lib.loc = args[1]))
g17 <- function(x) sprintf("%.17g", x)
read_json_numbers <- function(text) as.numeric(strsplit(gsub("[][ ]", "", text), ",")[[1]])
models <- list(
  spruce = list(coefs = c(1.17, -1.07, 1.19, -1.54, 0.6, -0.35), exps = c(0, 0.5, 1, 2, 3, 6)),
  pine = list(coefs = c(1.14, -1.23, 1.68, -3.14, 1.55), exps = c(0, 1, 2, 3, 4)))
p <- products(min_top_diam = c(20, 9, 6), max_top_diam = c(999, 18, 999),
              min_length = c(3.5, 1.2, 2), max_length = c(5, 1.2, 3),
              unit_price = c(95, 4, 22), price_basis = c(0L, 2L, 1L),
              loss_fraction = c(0.05, 0, 0), trim_length = c(0.1, 0.05, 0),
              name = c("saw", "post", "product 3"))
trees <- read.csv(args[2], colClasses = c(id = "character", model = "character",
                                          coefs = "character", exps = "character"))
trees$model[trees$model == ""] <- NA
out <- tryCatch(buck_inventory(trees, p, models, method = args[3]),
                error = function(e) e)
if (inherits(out, "error")) {
  # The argument the message names ('trees$dbh', 'trees row 2 exps'): its last word.
  name <- regmatches(conditionMessage(out), regexpr("'[^']+'", conditionMessage(out)))
  field <- sub(".*[$ ]", "", gsub("'", "", name))
  cat("refused", field, "\n", file = args[4])
} else {
  lines <- function(df) c(paste(names(df), collapse = ","), do.call(paste, c(lapply(df, function(x)
    if (is.double(x)) g17(x) else as.character(x)), sep = ",")))
  writeLines(lines(out$logs), args[5])
  writeLines(lines(out$totals), args[6])
  cat("bucked\n", file = args[4])
}
"""


def run_r(r_lib, trees, method, work):
    script = work / "run.R"
    script.write_text(R_SCRIPT)
    status, logs, totals = work / "status", work / "r_logs.csv", work / "r_totals.csv"
    done = subprocess.run(["Rscript", str(script), r_lib, str(trees), method, str(status),
                           str(logs), str(totals)], capture_output=True, text=True)
    if done.returncode != 0:
        return ("R failed", done.stderr.strip())
    words = status.read_text().split()
    if words[0] == "refused":
        return ("refused", camel(words[1]) if len(words) > 1 else "")
    header, rows = rows_of(logs.read_text().splitlines())
    t_header, t_rows = rows_of(totals.read_text().splitlines())
    return ("bucked", (tuple(camel(h) for h in header), rows),
            (tuple(camel(h) for h in t_header), t_rows))


FITS = CASES / "fits"


def fit_label(case):
    options = " ".join(f"{k}={v}" for k, v in case.items() if k != "stems")
    return f"{case['stems']} ({options})"


def fit_codes(library):
    os.environ["XYLOTRAK_LIBRARY"] = library
    sys.path.insert(0, str(HERE.parent / "python"))
    from xylotrak import _lib

    return _lib.words(_lib.WORDS_FIT_STATUS), _lib.words(_lib.WORDS_FIT_MESSAGE)


def fitted(rows_used, rows_skipped, coefs, errors):
    return ("fitted", int(rows_used), int(rows_skipped), tuple(map(g17, coefs)),
            tuple(map(g17, errors)))


def fit_xtk(xtk, library, case):
    args = [xtk, "fit", "--stems", str(FITS / case["stems"]), "--json",
            "--exps", ",".join(str(e) for e in case["exps"])]
    if case.get("tip_zero"):
        args.append("--tip-zero")
    if case.get("random"):
        args += ["--random", ",".join(str(t) for t in case["random"])]
    done = subprocess.run(args, capture_output=True, text=True)
    fit = json.loads(done.stdout)["fits"][0]
    if "error" not in fit:
        return fitted(fit["rows_used"], fit["rows_skipped"], fit["coefs"], fit["standard_errors"])
    names, messages = fit_codes(library)
    code = [k for k, m in enumerate(messages) if fit["error"].startswith(m)]
    return ("refused", names[code[0]] if code else fit["error"], fit["rows_used"],
            fit["rows_skipped"], fit["error"])


def refusal_words(message, prefix=""):
    """A front end's refusal without its own framing: the prefix and the rows counted."""
    words = re.sub(r" \(\d+ rows used, \d+ skipped\)$", "", message)
    return words[len(prefix):] if words.startswith(prefix) else words


def fit_python(library, case):
    names, _ = fit_codes(library)
    import pandas as pd
    import xylotrak

    stems = pd.read_csv(FITS / case["stems"], dtype={"id": str}, float_precision="round_trip")
    try:
        fit = xylotrak.fit_taper(stems, exps=case["exps"], tip_zero=case.get("tip_zero", False),
                                 random=case.get("random"))
    except xylotrak.XylotrakFitError as error:
        return ("refused", names[error.code], error.rows_used, error.rows_skipped,
                refusal_words(str(error)))
    return fitted(fit.rows_used, fit.rows_skipped, fit.coefs, fit.standard_errors)


R_FIT_SCRIPT = r"""
args <- commandArgs(trailingOnly = TRUE)
suppressMessages(library(xylotrak, lib.loc = args[1]))
stems <- read.csv(args[2], colClasses = c(id = "character"))
num <- function(text) if (nzchar(text)) as.numeric(strsplit(text, ",")[[1]]) else NULL
fit <- tryCatch(fit_taper(stems, exps = num(args[3]), tip_zero = args[4] == "1",
                          random = if (nzchar(args[5])) as.integer(num(args[5])) else NULL),
                xylotrak_fit_error = function(e) e)
g17 <- function(x) paste(sprintf("%.17g", x), collapse = " ")
out <- if (inherits(fit, "error")) {
  c("refused", fit$status, fit$rows_used, fit$rows_skipped, conditionMessage(fit))
} else {
  c("fitted", fit$stats[["rows_used"]], fit$stats[["rows_skipped"]], g17(fit$coefs),
    g17(fit$std_errors))
}
writeLines(as.character(out), args[6])
"""


def fit_r(r_lib, case, work):
    script = work / "fit.R"
    script.write_text(R_FIT_SCRIPT)
    out = work / "r_fit.txt"
    done = subprocess.run(
        ["Rscript", str(script), r_lib, str(FITS / case["stems"]),
         ",".join(str(e) for e in case["exps"]), "1" if case.get("tip_zero") else "0",
         ",".join(str(t) for t in case.get("random", [])), str(out)],
        capture_output=True, text=True)
    if done.returncode != 0:
        return ("R failed", done.stderr.strip())
    kind, *rest = out.read_text().splitlines()
    if kind == "refused":
        return ("refused", rest[0], int(rest[1]), int(rest[2]),
                refusal_words(rest[3], f"fit_taper: {rest[0]}: "))
    return ("fitted", int(float(rest[0])), int(float(rest[1])), tuple(rest[2].split()),
            tuple(rest[3].split()))


def main():
    xtk, library = sys.argv[1], sys.argv[2]
    if not os.path.exists(xtk):
        print("frontend_parity: no xtk program in this build")
        return 77
    r_lib = sys.argv[3] if len(sys.argv) > 3 and shutil.which("Rscript") else None
    failures = 0
    checked = 0

    def compare(label, results):
        """Counts and names every front end whose result is not xtk's."""
        nonlocal failures, checked
        first = results["xtk"]
        for name, result in results.items():
            if result != first:
                failures += 1
                print(f"{label}: {name} gives {result!r:.300}\n  but xtk gives {first!r:.300}")
        checked += 1
        print(f"{label}: {first[0]} {first[1] if first[0] == 'refused' else ''}"
              f" by {', '.join(results)}")

    with tempfile.TemporaryDirectory() as tmp:
        work = Path(tmp)
        for trees in sorted(CASES.glob("*.csv")):
            for method in METHODS:
                results = {"xtk": run_xtk(xtk, trees, method, work),
                           "Python": run_python(library, trees, method)}
                if r_lib:
                    results["R"] = run_r(r_lib, trees, method, work)
                compare(f"{trees.name} ({method})", results)
        for case in json.loads((FITS / "fits.json").read_text()):
            results = {"xtk": fit_xtk(xtk, library, case), "Python": fit_python(library, case)}
            if r_lib:
                results["R"] = fit_r(r_lib, case, work)
            compare(fit_label(case), results)
    print(f"frontend_parity: {checked} inputs, {failures} disagreements")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
