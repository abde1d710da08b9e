"""Bucking an inventory on a Dask cluster of two worker processes."""

import json
import random
import subprocess
import sys

import dask
import pandas as pd
import pytest
from conftest import FOUR_PRODUCTS, as_products, bits, find_xtk

import xylotrak
import xylotrak.dask
from xylotrak.inventory import LOG_COLUMNS, TOTAL_COLUMNS

MODELS = {
    "spruce": {"coefs": [1.15, -0.6, 0.9, -1.6, 0.8, -0.65], "exps": [0, 0.5, 1, 2, 3, 5]},
    "pine": {"coefs": [1.14, -1.23, 1.68, -3.14, 1.55], "exps": [0, 1, 2, 3, 4]},
}
PARAMETERS = dict(stump_height=0.4, stump_trim=0.05)


@pytest.fixture(scope="module")
def inventory(tmp_path_factory):
    """A generated inventory of 150 trees: model references, inline models, and small trees
    that yield no log; with its product table and models file."""
    folder = tmp_path_factory.mktemp("inventory")
    rng = random.Random(7)
    rows, trees = [], []
    for i in range(150):
        dbh, height = round(rng.uniform(6, 60), 1), round(rng.uniform(8, 38), 1)
        if i % 3 == 2:
            coefs = [1.1 + rng.uniform(0, 0.1), -0.9 - rng.uniform(0, 0.4), 0.6,
                     -0.8 + rng.random() * 0.1]
            exps = [0.0, 1.0, 2.0, 3.0]
            text = [" ".join(map(repr, coefs)), " ".join(map(repr, exps))]
            rows.append((f"T{i:03d}", dbh, height, "", *text))
        else:
            name = "spruce" if i % 3 else "pine"
            coefs, exps = MODELS[name]["coefs"], MODELS[name]["exps"]
            rows.append((f"T{i:03d}", dbh, height, name, "", ""))
        trees.append((f"T{i:03d}", xylotrak.Taper(dbh, height, coefs, exps)))
    frame = pd.DataFrame(rows, columns=["id", "dbh", "height", "model", "coefs", "exps"])
    frame.to_csv(folder / "trees.csv", index=False)
    (folder / "products.json").write_text(json.dumps(FOUR_PRODUCTS))
    (folder / "models.json").write_text(json.dumps(MODELS))
    return folder, trees


@pytest.fixture(scope="module")
def client():
    from distributed import Client, LocalCluster

    with LocalCluster(n_workers=2, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        yield client


def expected_tables(trees, objective):
    """The binding's own per-tree bucking, laid out as the batch tables."""
    products = as_products(FOUR_PRODUCTS)
    logs, totals = [], []
    for tree_id, taper in trees:
        if objective is None:
            result = xylotrak.buck(taper, products, **PARAMETERS)
        else:
            result = xylotrak.buck_optimal(taper, products, objective=objective, **PARAMETERS)
        logs += [(tree_id, log.log_number, log.product_number, log.product_name)
                 + tuple(vars(log).values())[3:] for log in result.logs]
        totals.append((tree_id, result.outcome.value, len(result.logs))
                      + tuple(vars(result.totals).values()))
    return (pd.DataFrame(logs, columns=list(LOG_COLUMNS)),
            pd.DataFrame(totals, columns=list(TOTAL_COLUMNS)))


def assert_same_table(got, expected):
    assert list(got.columns) == list(expected.columns)
    assert len(got) == len(expected)
    for column in got.columns:
        mine, theirs = got[column].tolist(), expected[column].tolist()
        if got[column].dtype == "float64":
            mine, theirs = [bits(x) for x in mine], [bits(x) for x in theirs]
        assert mine == theirs, column


def bucked_on_cluster(folder, objective, exact=False):
    ddf = xylotrak.dask.read_inventory(folder / "trees.csv", blocksize=1000)
    assert ddf.npartitions >= 4
    logs, totals = xylotrak.dask.buck_inventory(
        ddf, folder / "products.json", models=folder / "models.json", objective=objective,
        exact=exact, **PARAMETERS)
    return dask.compute(logs, totals)


@pytest.mark.parametrize("objective", [None, "value"])
def test_cluster_bucking_equals_per_tree_bucking(client, inventory, objective):
    folder, trees = inventory
    logs, totals = bucked_on_cluster(folder, objective)
    expected_logs, expected_totals = expected_tables(trees, objective)
    assert (expected_totals["logCount"] == 0).any() and expected_totals["logCount"].max() > 3
    assert_same_table(logs.reset_index(drop=True), expected_logs)
    assert_same_table(totals.reset_index(drop=True), expected_totals)
    assert logs["logNumber"].dtype == "int64" and totals["outcome"].dtype == "int64"
    # The workers loaded the library themselves.
    loaded = client.run(lambda: sys.modules["xylotrak._lib"]._library is not None)
    assert any(loaded.values())


def test_a_bad_tree_fails_with_its_id_and_field(client, tmp_path, inventory):
    folder, _ = inventory
    lines = (folder / "trees.csv").read_text().splitlines()
    lines[40] = lines[40].replace(lines[40].split(",")[1], "thick", 1)
    (tmp_path / "trees.csv").write_text("\n".join(lines) + "\n")
    ddf = xylotrak.dask.read_inventory(tmp_path / "trees.csv", blocksize=1000)
    logs, totals = xylotrak.dask.buck_inventory(ddf, as_products(FOUR_PRODUCTS), models=MODELS)
    with pytest.raises(xylotrak.InputFileError) as error:
        totals.compute()
    assert error.value.field == "dbh" and "T039" in str(error.value) and "thick" in str(error.value)
    with pytest.raises(ValueError, match="lacks column"):
        xylotrak.dask.buck_inventory(ddf[["id", "dbh", "height"]], as_products(FOUR_PRODUCTS))
    with pytest.raises(TypeError, match="stump_hieght"):
        xylotrak.dask.buck_inventory(ddf, as_products(FOUR_PRODUCTS), stump_hieght=0.3)


@pytest.mark.parametrize("row, field, message", [
    (dict(model="oak"), "model", "unknown model 'oak' (models: pine, spruce)"),
    (dict(model="", coefs="1.1 -1.0", exps="0"), "exps", "1 exponents for 2 coefficients"),
    (dict(dbh=0.0), "dbh", "must be greater than 0"),
    (dict(height=-2.0), "height", "must be greater than 0"),
    (dict(model="", coefs="1.1 -1.0", exps=None), "exps", "missing"),
    (dict(dbh="inf"), "dbh", "not a number"),
    (dict(height=""), "height", "missing"),
    (dict(id=""), "id", "missing"),
])  # fmt: skip
def test_inventory_rows_are_checked(row, field, message):
    from xylotrak.inventory import load_models, tree_from_row
    good = dict(id="A1", dbh="32", height="30", model="pine", coefs="", exps="")
    with pytest.raises(xylotrak.InputFileError) as error:
        tree_from_row(dict(good, **row), load_models(MODELS), "row 3")
    assert error.value.field == field and message in str(error.value)
    tree_id, taper = tree_from_row(dict(good, model="", coefs="1.1 -1.0", exps="0 1"), {})
    assert (tree_id, taper) == ("A1", xylotrak.Taper(32, 30, [1.1, -1.0], [0, 1]))


def read_batch_csv(path):
    return pd.read_csv(path, dtype={"id": str, "productName": str}, keep_default_na=False,
                       float_precision="round_trip")


@pytest.mark.needs_xtk
@pytest.mark.parametrize("objective,exact", [(None, False), ("value", False), ("value", True)])
def test_cluster_bucking_equals_xtk_batch(client, inventory, tmp_path, objective, exact):
    folder, _ = inventory
    xtk = find_xtk()
    command = [xtk, "batch", str(folder / "trees.csv"), "--products", str(folder / "products.json"),
               "--models", str(folder / "models.json"), "--logs", str(tmp_path / "logs.csv"),
               "--totals", str(tmp_path / "totals.csv"), "--stump-height", "0.4",
               "--stump-trim", "0.05", "-j", "2"]
    if objective:
        command += ["--optimise", objective]
    if exact:
        command += ["--exact"]
    run = subprocess.run(command, capture_output=True, text=True, timeout=120)
    assert run.returncode == 0, run.stderr
    logs, totals = bucked_on_cluster(folder, objective, exact)
    assert_same_table(read_batch_csv(tmp_path / "logs.csv"), logs.reset_index(drop=True))
    assert_same_table(read_batch_csv(tmp_path / "totals.csv"), totals.reset_index(drop=True))
