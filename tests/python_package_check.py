"""Run by python_package_test.sh with the interpreter of a virtual environment that has the wheel
installed, from a folder outside the repository and with no variable naming the library.

Usage: python_package_check.py VERSION SONAME REFERENCE.json

The binding must come from the environment's site-packages and load the library bundled in it;
a bucking must give what REFERENCE.json holds (the same trees bucked by the repository's binding
with the build's library); and an inventory bucked on a Dask LocalCluster, whose worker is a
process of its own that finds the library by itself, must match the bucking tree by tree.
"""

import json
import os
import sys
from pathlib import Path


def buckings(xylotrak):
    """Both buckings of two trees, as plain data (the reference is made by this same function)."""
    products = [
        xylotrak.Product(name="saw logs", min_top_diam=20, min_length=3, max_length=5,
                         unit_price=95, loss_fraction=0.05, trim_length=0.1),
        xylotrak.Product(name="pulp", min_top_diam=7, min_length=2, max_length=3, unit_price=8,
                         price_basis=1, trim_length=0.1),
    ]
    out = {}
    for dbh, height in ((32.0, 30.0), (45.5, 33.0)):
        tree = xylotrak.Taper(dbh, height, [1.14, -1.23, 1.68, -3.14, 1.55], [0, 1, 2, 3, 4])
        for name, result in (("sequential", xylotrak.buck(tree, products, stump_height=0.3)),
                             ("value", xylotrak.buck_optimal(tree, products, stump_height=0.3))):
            out[f"{dbh}/{height}/{name}"] = {
                "outcome": result.outcome.name,
                "logs": [[log.product_name, log.base_height.hex(), log.length.hex(),
                          log.volume.hex(), log.value.hex()] for log in result.logs],
                "totals": [getattr(result.totals, f).hex() for f in vars(result.totals)],
            }
    return out


def main():
    if sys.argv[1] == "--reference":
        import xylotrak

        print(json.dumps(buckings(xylotrak), indent=1))
        return
    version, soname, reference = sys.argv[1], sys.argv[2], Path(sys.argv[3])
    assert "XYLOTRAK_LIBRARY" not in os.environ and "PYTHONPATH" not in os.environ
    import xylotrak

    package = Path(xylotrak.__file__).parent
    assert package.is_relative_to(sys.prefix) and "site-packages" in package.parts, package
    assert Path(xylotrak.library_path()) == package / soname, xylotrak.library_path()
    assert xylotrak.__version__ == version, xylotrak.__version__
    assert (package / "py.typed").is_file()

    got = buckings(xylotrak)
    assert got == json.loads(reference.read_text()), "the bundled library bucks differently"
    assert all(b["outcome"] == "WINNER" and b["logs"] for b in got.values())

    import dask
    import dask.dataframe as dd
    import pandas as pd
    from distributed import Client, LocalCluster

    import xylotrak.dask

    models = {"spruce": {"coefs": [1.15, -0.6, 0.9, -1.6, 0.8, -0.65],
                         "exps": [0, 0.5, 1, 2, 3, 5]}}
    trees = pd.DataFrame({"id": [f"T{i}" for i in range(12)],
                          "dbh": [str(14 + 3 * i) for i in range(12)],
                          "height": [str(16 + i) for i in range(12)],
                          "model": ["spruce"] * 12})
    products = [xylotrak.Product(name="saw logs", min_top_diam=18, min_length=3, max_length=5,
                                 unit_price=90, trim_length=0.1),
                xylotrak.Product(name="pulp", min_top_diam=7, min_length=2, max_length=3,
                                 unit_price=25)]
    with LocalCluster(n_workers=1, processes=True, threads_per_worker=1,
                      dashboard_address=None) as cluster, Client(cluster):
        logs, totals = xylotrak.dask.buck_inventory(
            dd.from_pandas(trees, npartitions=2), products, models=models,
            objective="value", stump_height=0.3)
        logs, totals = dask.compute(logs, totals)
    assert list(totals["id"]) == list(trees["id"])
    spruce = models["spruce"]
    for given, row in zip(trees.itertuples(), totals.itertuples()):
        tree = xylotrak.Taper(float(given.dbh), float(given.height), spruce["coefs"],
                              spruce["exps"])
        expected = xylotrak.buck_optimal(tree, products, objective="value", stump_height=0.3)
        assert row.logCount == len(expected.logs), row
        assert row.totalValue == expected.totals.total_value, row
        assert list(logs[logs["id"] == row.id]["volume"]) == [g.volume for g in expected.logs]
    assert len(logs) > len(totals)  # most trees give more than one log
    print(f"package check: {len(totals)} trees, {len(logs)} logs on the cluster")


if __name__ == "__main__":
    main()
