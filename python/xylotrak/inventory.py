"""Inventories: one row a tree, bucked into the rows of the batch logs and totals tables.

Nothing here needs Dask or pandas: ``buck_trees`` takes any iterable of row mappings, so the
same code serves one machine and the Dask workers (``xylotrak.dask``).
"""

from __future__ import annotations

import math
import os
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, cast

from ._input import InputFileError, finite_number, load_json_object, number_from_text
from .bucking import HEIGHT_NAMES, OBJECTIVES, TOTAL_NAMES, Bucker
from .products import Product, load_products
from .taper import Taper

__all__ = [
    "BUCKING_PARAMETERS",
    "LOG_COLUMNS",
    "TOTAL_COLUMNS",
    "buck_trees",
    "load_models",
    "tree_from_row",
]

LOG_COLUMNS = (
    "id", "logNumber", "productNumber", "productName", "baseHeight", "length", "topHeight",
    "trimTopHeight", "baseDiam", "topDiam", "trimTopDiam", "volume", "value",
)  # fmt: skip
TOTAL_COLUMNS = (
    "id", "outcome", "logCount", "productVolume", "stumpVolume", "leftoverVolume", "topVolume",
    "trimVolume", "lossVolume", "stemVolume", "totalValue",
)  # fmt: skip
BUCKING_PARAMETERS = HEIGHT_NAMES  # the keyword arguments every bucking takes

Models = dict[str, tuple[tuple[float, ...], tuple[float, ...]]]
#: One row of the logs or totals table, in LOG_COLUMNS / TOTAL_COLUMNS order.
Row = tuple[Any, ...]


def load_models(source: str | os.PathLike[str] | Mapping[str, Any] | None) -> Models:
    """Taper models by name, from ``{"<name>": {"coefs": [...], "exps": [...]}, ...}`` given as a
    dict or the path of a JSON file. Each model needs exactly ``coefs`` and ``exps``."""
    if source is None:
        return {}
    data, path = load_json_object(source, "expected a JSON object of models by name")
    models: Models = {}
    for name, model in data.items():
        where = f"model '{name}'"
        if not isinstance(model, Mapping):
            raise InputFileError("expected an object with coefs and exps", path=path, line=where)
        for key in model:
            if key not in ("coefs", "exps"):
                raise InputFileError(
                    "unknown key (expected coefs, exps)", path=path, line=where, field=key
                )
        arrays = []
        for key in ("coefs", "exps"):
            if key not in model:
                raise InputFileError("missing", path=path, line=where, field=key)
            try:
                if not isinstance(model[key], (list, tuple)):
                    raise ValueError("expected an array of numbers")
                arrays.append(tuple(finite_number(v) for v in model[key]))
            except ValueError as error:
                raise InputFileError(str(error), path=path, line=where, field=key) from None
        if len(arrays[0]) != len(arrays[1]) or not arrays[0]:
            raise InputFileError(
                f"coefs has {len(arrays[0])} values and exps {len(arrays[1])}: they must be equal "
                "and at least 1", path=path, line=where, field="exps",
            )  # fmt: skip
        models[str(name)] = (arrays[0], arrays[1])
    return models


def _missing(value: Any) -> bool:
    return value is None or (isinstance(value, float) and math.isnan(value))


def _number(value: Any) -> float:
    if isinstance(value, str):
        return number_from_text(value)
    if hasattr(value, "item"):  # NumPy scalar
        value = value.item()
    return finite_number(value)


def _numbers(value: Any) -> tuple[float, ...]:
    """Numbers separated by single spaces (``"1.14 -1.23"``), or a sequence of numbers."""
    if isinstance(value, str):
        if value == "":
            raise ValueError("empty")
        return tuple(number_from_text(token) for token in value.split(" "))
    if hasattr(value, "tolist"):
        value = value.tolist()
    if not isinstance(value, (list, tuple)) or not value:
        raise ValueError(f"expected numbers separated by single spaces, got {value!r}")
    return tuple(_number(v) for v in value)


def tree_from_row(row: Mapping[str, Any], models: Models, where: str = "") -> tuple[str, Taper]:
    """The id and taper of one inventory row; InputFileError naming the tree and the field."""
    tree_id = row.get("id")
    if _missing(tree_id) or str(tree_id) == "":
        raise InputFileError("missing", line=where or None, field="id")
    tree_id = str(tree_id)
    at = f"{where} (tree '{tree_id}')" if where else f"tree '{tree_id}'"
    values = {}
    for field in ("dbh", "height"):
        try:
            if _missing(row.get(field)) or row.get(field) == "":
                raise ValueError("missing")
            values[field] = _number(row[field])
        except ValueError as error:
            raise InputFileError(str(error), line=at, field=field) from None
    model = row.get("model")
    if not _missing(model) and model != "":
        try:
            coefs, exps = models[str(model)]
        except KeyError:
            known = ", ".join(sorted(models)) or "none given"
            raise InputFileError(
                f"unknown model {model!r} (models: {known})", line=at, field="model"
            ) from None
    else:
        arrays = []
        for field in ("coefs", "exps"):
            try:
                if _missing(row.get(field)):
                    raise ValueError("missing (give a model or both coefs and exps)")
                arrays.append(_numbers(row[field]))
            except ValueError as error:
                raise InputFileError(str(error), line=at, field=field) from None
        coefs, exps = arrays
        if len(coefs) != len(exps):
            raise InputFileError(
                f"{len(exps)} exponents for {len(coefs)} coefficients", line=at, field="exps"
            )
    return tree_id, Taper(values["dbh"], values["height"], coefs, exps)


def check_parameters(objective: str | None, params: Mapping[str, Any]) -> dict[str, float]:
    """The bucking keyword arguments, checked by name, as floats."""
    if objective is not None and objective not in OBJECTIVES:
        raise ValueError(f"objective must be None, 'value' or 'volume', got {objective!r}")
    unknown = sorted(set(params) - set(BUCKING_PARAMETERS))
    if unknown:
        raise TypeError(
            f"unknown bucking parameter(s) {unknown}; known: {list(BUCKING_PARAMETERS)}"
        )
    return {name: float(value) for name, value in params.items()}


def buck_trees(
    rows: Iterable[Mapping[str, Any]],
    products: Sequence[Product] | str | os.PathLike[str],
    *,
    models: Models | Mapping[str, Any] | str | os.PathLike[str] | None = None,
    objective: str | None = None,
    exact: bool = False,
    **params: float,
) -> tuple[list[Row], list[Row]]:
    """Bucks every row (sequentially, or optimised for ``objective``, by the exact optimiser
    with ``exact``) and returns the rows of the
    logs and totals tables (tuples in LOG_COLUMNS / TOTAL_COLUMNS order), in input order. A bad
    row raises InputFileError naming the tree and the field; duplicate ids are refused."""
    if not isinstance(products, (list, tuple)):
        products = load_products(cast("str | os.PathLike[str]", products))  # any other: a file
    if not (isinstance(models, dict) and all(isinstance(v, tuple) for v in models.values())):
        models = load_models(models)
    params = check_parameters(objective, params)
    bucker = Bucker(products)
    logs: list[Row] = []
    totals: list[Row] = []
    seen: set[str] = set()
    for position, row in enumerate(rows, start=1):
        tree_id, taper = tree_from_row(row, models, f"row {position}")
        if tree_id in seen:
            raise InputFileError("appears twice", line=f"row {position}", field=f"id '{tree_id}'")
        seen.add(tree_id)
        result = bucker.run(taper, objective, exact=exact, **params)
        for log in result.logs:
            logs.append(
                (tree_id, log.log_number, log.product_number, log.product_name, log.base_height,
                 log.length, log.top_height, log.trim_top_height, log.base_diam, log.top_diam,
                 log.trim_top_diam, log.volume, log.value)
            )  # fmt: skip
        totals.append(
            (tree_id, result.outcome.value, len(result.logs))
            + tuple(getattr(result.totals, name) for name in TOTAL_NAMES)
        )
    return logs, totals
