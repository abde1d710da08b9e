"""Whole inventories in one call of the library: ``xylotrak.buck_inventory`` on a DataFrame and
``buck_trees`` on rows, against the binding's per-tree bucking and against ``xtk batch``."""

import json
import random
import subprocess
import sys

import numpy as np
import pandas as pd
import pytest
from conftest import FOUR_PRODUCTS, REPO, as_products, bits, find_xtk
from test_dask import MODELS, PARAMETERS, assert_same_table, expected_tables

import xylotrak
from xylotrak.inventory import LOG_COLUMNS, TOTAL_COLUMNS, buck_trees


def make_inventory(n=120, seed=3):
    """Trees that name a model, trees with their own coefficients (some written with runs of
    blanks), and small trees without logs; with the Taper of each for the reference."""
    rng = random.Random(seed)
    rows, trees = [], []
    for i in range(n):
        dbh, height = round(rng.uniform(6, 60), 1), round(rng.uniform(8, 38), 1)
        if i % 4 == 3:
            coefs, exps = [1.12, -0.95 - rng.random() * 0.3, 0.6, -0.75], [0.0, 1.0, 2.0, 3.0]
            rows.append((f"T{i:03d}", dbh, height, "", " ".join(map(repr, coefs)),
                         " ".join(map(repr, exps))))
        else:
            name = "spruce" if i % 2 else "pine"
            coefs, exps = MODELS[name]["coefs"], MODELS[name]["exps"]
            rows.append((f"T{i:03d}", dbh, height, name, None, None))
        trees.append((f"T{i:03d}", xylotrak.Taper(dbh, height, coefs, exps)))
    frame = pd.DataFrame(rows, columns=["id", "dbh", "height", "model", "coefs", "exps"])
    return frame, trees


@pytest.mark.parametrize("method", ["sequential", "value", "volume"])
def test_frame_equals_the_per_tree_bucking_on_any_number_of_threads(method):
    frame, trees = make_inventory()
    objective = None if method == "sequential" else method
    expected_logs, expected_totals = expected_tables(trees, objective)
    for threads in (1, 2, 7, 0):
        logs, totals = xylotrak.buck_inventory(
            frame, as_products(FOUR_PRODUCTS), models=MODELS, method=method, threads=threads,
            **PARAMETERS,
        )
        assert_same_table(logs, expected_logs)
        assert_same_table(totals, expected_totals)
        assert [str(t) for t in totals.dtypes] == (
            ["object", "int64", "int64"] + ["float64"] * 8
        )


def test_rows_and_frames_and_texts_give_the_same_tables():
    frame, _ = make_inventory(60, seed=9)
    products = as_products(FOUR_PRODUCTS)
    logs, totals = xylotrak.buck_inventory(frame, products, models=MODELS, method="value",
                                           **PARAMETERS)
    rows = frame.astype(object).where(frame.notna(), None).to_dict("records")
    log_rows, total_rows = buck_trees(rows, products, models=MODELS, objective="value",
                                      threads=2, **PARAMETERS)
    assert_same_table(logs, pd.DataFrame(log_rows, columns=list(LOG_COLUMNS)))
    assert_same_table(totals, pd.DataFrame(total_rows, columns=list(TOTAL_COLUMNS)))
    # The same inventory as a CSV read all as text, and as a plain mapping of columns.
    text = frame.fillna("").astype(str)
    text_logs, text_totals = xylotrak.buck_inventory(text, products, models=MODELS,
                                                     method="value", **PARAMETERS)
    assert_same_table(text_logs, logs)
    assert_same_table(text_totals, totals)
    mapping = {name: frame[name].tolist() for name in frame.columns}
    map_logs, _ = xylotrak.buck_inventory(mapping, products, models=MODELS, method="value",
                                          **PARAMETERS)
    assert_same_table(map_logs, logs)


def test_exact_and_empty_inventories():
    frame, trees = make_inventory(30)
    products = as_products(FOUR_PRODUCTS)
    logs, totals = xylotrak.buck_inventory(frame, products, models=MODELS, method="volume",
                                           exact=True, threads=2, **PARAMETERS)
    for (tree_id, taper), outcome, count in zip(trees, totals["outcome"], totals["logCount"]):
        result = xylotrak.buck_optimal(taper, products, objective="volume", exact=True,
                                       **PARAMETERS)
        assert (outcome, count) == (result.outcome.value, len(result.logs)), tree_id
    empty_logs, empty_totals = xylotrak.buck_inventory(frame.iloc[:0], products, models=MODELS)
    assert list(empty_logs.columns) == list(LOG_COLUMNS) and len(empty_logs) == 0
    assert list(empty_totals.columns) == list(TOTAL_COLUMNS) and len(empty_totals) == 0


def test_bad_rows_are_named_as_buck_trees_names_them():
    frame, _ = make_inventory(10)
    products = as_products(FOUR_PRODUCTS)
    cases = [
        ("dbh", 4, np.nan, "row 5 (tree 'T004')", "dbh"),
        ("height", 2, "12x", "row 3 (tree 'T002')", "height"),
        ("model", 6, "larch", "row 7 (tree 'T006')", "model"),
        ("id", 8, "T001", "row 9", "id 'T001'"),
        ("coefs", 3, "1.1 oops", "row 4 (tree 'T003')", "coefs"),
    ]
    for column, row, value, where, field in cases:
        bad = frame.astype(object).copy()
        bad.loc[row, column] = value
        with pytest.raises(xylotrak.InputFileError) as caught:
            xylotrak.buck_inventory(bad, products, models=MODELS)
        assert where in str(caught.value) and field in str(caught.value), str(caught.value)
    with pytest.raises(ValueError, match="method"):
        xylotrak.buck_inventory(frame, products, models=MODELS, method="price")
    with pytest.raises(ValueError, match="threads"):
        xylotrak.buck_inventory(frame, products, models=MODELS, threads=-1)
    with pytest.raises(ValueError, match="exact"):
        xylotrak.buck_inventory(frame, products, models=MODELS, exact=True)
    with pytest.raises(ValueError, match="lacks column"):
        xylotrak.buck_inventory(frame[["id", "dbh"]], products, models=MODELS)


@pytest.mark.needs_xtk
def test_frames_equal_the_files_of_xtk_batch(tmp_path):
    xtk = find_xtk()
    frame, _ = make_inventory(200, seed=11)
    frame.to_csv(tmp_path / "trees.csv", index=False)
    (tmp_path / "products.json").write_text(json.dumps(FOUR_PRODUCTS))
    (tmp_path / "models.json").write_text(json.dumps(MODELS))
    for method, options in (("sequential", []), ("value", ["--optimise", "value"])):
        subprocess.run(
            [xtk, "batch", str(tmp_path / "trees.csv"), "--products",
             str(tmp_path / "products.json"), "--models", str(tmp_path / "models.json"),
             "--stump-height", "0.4", "--stump-trim", "0.05", "-j", "2", *options],
            check=True, capture_output=True,
        )
        read = pd.read_csv(tmp_path / "trees.csv", dtype=str, keep_default_na=False)
        logs, totals = xylotrak.buck_inventory(
            read, tmp_path / "products.json", models=tmp_path / "models.json", method=method,
            **PARAMETERS,
        )
        for got, name in ((logs, "trees_logs.csv"), (totals, "trees_totals.csv")):
            lines = (tmp_path / name).read_text().splitlines()
            assert lines[0] == ",".join(got.columns)
            assert len(lines) == len(got) + 1
            cells = [line.split(",") for line in lines[1:]]
            for k, column in enumerate(got.columns):
                if got[column].dtype == "float64":
                    mine = [bits(x) for x in got[column]]
                    theirs = [bits(float(row[k])) for row in cells]
                else:
                    mine = [str(x) for x in got[column]]
                    theirs = [row[k] for row in cells]
                assert mine == theirs, (method, name, column)


def test_trees_the_search_gives_up_on_go_to_the_exact_optimiser(tmp_path):
    gen = REPO / "bench" / "gen_inventory.py"
    subprocess.run([sys.executable, str(gen), "300", str(tmp_path), "5"], check=True,
                   capture_output=True)
    trees = pd.read_csv(tmp_path / "trees.csv", dtype=str, keep_default_na=False)
    table, models = tmp_path / "products5.json", tmp_path / "models.json"
    logs, totals = xylotrak.buck_inventory(trees, table, models=models, method="value",
                                           threads=2)
    helped_logs, helped = xylotrak.buck_inventory(trees, table, models=models, method="value",
                                                  threads=2, exact_when_given_up=True)
    exact_logs, exact = xylotrak.buck_inventory(trees, table, models=models, method="value",
                                                exact=True)
    given_up = totals["outcome"] == 99
    assert 0 < given_up.sum() < len(trees)
    assert helped["servedByExact"].tolist() == given_up.astype("int64").tolist()
    assert list(helped.columns) == list(TOTAL_COLUMNS) + ["servedByExact"]
    # The trees the search answered keep its bytes; the others have the exact optimiser's.
    assert_same_table(helped[~given_up][list(TOTAL_COLUMNS)].reset_index(drop=True),
                      totals[~given_up].reset_index(drop=True))
    assert_same_table(helped[given_up][list(TOTAL_COLUMNS)].reset_index(drop=True),
                      exact[given_up].reset_index(drop=True))
    served = set(totals["id"][given_up])
    assert_same_table(helped_logs[~helped_logs["id"].isin(served)].reset_index(drop=True),
                      logs[~logs["id"].isin(served)].reset_index(drop=True))
    assert_same_table(helped_logs[helped_logs["id"].isin(served)].reset_index(drop=True),
                      exact_logs[exact_logs["id"].isin(served)].reset_index(drop=True))
    rows = trees.to_dict("records")
    _, total_rows = buck_trees(rows, table, models=models, objective="value",
                               exact_when_given_up=True)
    assert [row[-1] for row in total_rows] == helped["servedByExact"].tolist()
    with pytest.raises(ValueError, match="exact_when_given_up"):
        xylotrak.buck_inventory(trees, table, models=models, exact_when_given_up=True)
