"""Bucking an inventory held in a Dask DataFrame, partition by partition on the workers.

Each worker process loads the library itself (the same lookup as everywhere: set
``XYLOTRAK_LIBRARY`` in the workers' environment when it is not found otherwise). The tables
returned have the columns and values of the batch CSV outputs of ``xtk batch``; compute them
together (``dask.compute(logs, totals)``) so that every tree is bucked once.
"""

from __future__ import annotations

import os
from collections.abc import Mapping, Sequence
from typing import TYPE_CHECKING, Any, cast

import dask.dataframe as dd
import pandas as pd  # type: ignore[import]  # pandas 1.5 ships no type information

from . import inventory as _inventory
from .inventory import (
    Models,
    Row,
    buck_inventory as _buck_frame,
    check_parameters,
    load_models,
)
from .products import Product, load_products

if TYPE_CHECKING:
    # dask.dataframe imports its public names without listing them in __all__, so a strict type
    # check does not see them through it.
    from dask.dataframe.core import DataFrame as DaskDataFrame

__all__ = ["buck_inventory", "read_inventory"]

_TEXT_COLUMNS = ("id", "productName")
_INT_COLUMNS = ("logNumber", "productNumber", "outcome", "logCount", "servedByExact")
_LOGS = "_logs"  # per-tree list of log rows, between the bucking and the two tables


def _empty(columns: Sequence[str], extra: Mapping[str, str] | None = None) -> pd.DataFrame:
    dtypes = {
        name: "object" if name in _TEXT_COLUMNS else "int64" if name in _INT_COLUMNS else "float64"
        for name in columns
    }
    dtypes.update(extra or {})
    return pd.DataFrame({name: pd.Series(dtype=dtype) for name, dtype in dtypes.items()})


def _frame(rows: list[Row], columns: Sequence[str]) -> pd.DataFrame:
    meta = _empty(columns)
    if not rows:
        return meta
    frame = pd.DataFrame.from_records(rows, columns=list(columns))
    return frame.astype(meta.dtypes.to_dict())


def _buck_partition(
    part: pd.DataFrame,
    products: list[Product],
    models: Models,
    objective: str | None,
    exact: bool,
    exact_when_given_up: bool,
    params: dict[str, float],
) -> pd.DataFrame:
    """Runs on a worker: the totals of each tree, with its log rows in an object column."""
    logs, totals = _buck_frame(
        part, products, models=models, method=objective or "sequential", exact=exact,
        exact_when_given_up=exact_when_given_up, **cast("dict[str, Any]", params),
    )
    frame = _frame([tuple(row) for row in totals.itertuples(index=False, name=None)],
                   _total_columns(exact_when_given_up))
    rows = list(logs.itertuples(index=False, name=None))
    per_tree: list[list[Row]] = []
    start = 0
    for count in frame["logCount"]:
        per_tree.append(rows[start:start + count])
        start += count
    frame[_LOGS] = pd.Series(per_tree, dtype="object")
    return frame


def _total_columns(exact_when_given_up: bool) -> tuple[str, ...]:
    totals: tuple[str, ...] = _inventory.TOTAL_COLUMNS
    return totals + ((_inventory.SERVED_BY_EXACT,) if exact_when_given_up else ())


def _explode_logs(part: pd.DataFrame) -> pd.DataFrame:
    return _frame([row for rows in part[_LOGS] for row in rows], _inventory.LOG_COLUMNS)


def read_inventory(
    path: str | os.PathLike[str], *, blocksize: int | str | None = None
) -> DaskDataFrame:
    """An inventory CSV (``id,dbh,height`` and ``model`` or ``coefs``/``exps``) as a Dask
    DataFrame of text cells, read in blocks of ``blocksize`` bytes (one partition per file when
    None). Cells are checked when the trees are bucked."""
    frame: DaskDataFrame = dd.read_csv(  # type: ignore[attr-defined]
        os.fspath(path), dtype=str, keep_default_na=False, na_filter=False, blocksize=blocksize
    )
    return frame


def buck_inventory(
    ddf: DaskDataFrame | pd.DataFrame,
    products: Sequence[Product] | str | os.PathLike[str],
    *,
    models: Mapping[str, Any] | str | os.PathLike[str] | None = None,
    objective: str | None = None,
    exact: bool = False,
    exact_when_given_up: bool = False,
    **params: float,
) -> tuple[DaskDataFrame, DaskDataFrame]:
    """Bucks every tree of ``ddf`` on the workers and returns ``(logs, totals)``.

    ``products``: Product objects or a product table file; ``models``: taper models by name (dict
    or JSON file) for rows with a ``model`` cell; ``objective``: None for sequential bucking,
    "value" or "volume" for optimised bucking (by the exact optimiser with ``exact``, or only
    for the trees on which the search gives up with ``exact_when_given_up``, which adds the
    totals column ``servedByExact``); ``params``: the bucking keywords of ``buck``
    (stump_height, stump_trim, start_height, top_height_limit, height_limit).

    The result is lazy. Rows come in input order, logs in log order within a tree. A bad row
    fails the computation with an InputFileError naming the tree and the field.
    """
    if isinstance(ddf, pd.DataFrame):
        ddf = dd.from_pandas(ddf, npartitions=1)  # type: ignore[attr-defined]
    columns = set(ddf.columns)
    missing = [c for c in ("id", "dbh", "height") if c not in columns]
    if "model" not in columns and not {"coefs", "exps"} <= columns:
        missing.append("model (or both coefs and exps)")
    if missing:
        raise ValueError(f"inventory lacks column(s): {', '.join(missing)}")
    if not isinstance(products, (list, tuple)):
        products = load_products(cast("str | os.PathLike[str]", products))  # any other: a file
    products = list(products)
    models = load_models(models)  # read here: workers need not see the file
    params = check_parameters(objective, params)

    total_columns = _total_columns(exact_when_given_up)
    meta = _empty(total_columns, {_LOGS: "object"})
    bucked = ddf.map_partitions(
        _buck_partition, products, models, objective, exact, exact_when_given_up, params,
        meta=meta, align_dataframes=False,
    )
    totals = bucked[list(total_columns)]
    logs = bucked.map_partitions(_explode_logs, meta=_empty(_inventory.LOG_COLUMNS))
    return logs, totals
