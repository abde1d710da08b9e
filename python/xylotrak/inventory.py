"""Inventories: one row a tree, bucked into the rows of the batch logs and totals tables.

Nothing here needs Dask or pandas: ``buck_trees`` takes any iterable of row mappings, so the
same code serves one machine and the Dask workers (``xylotrak.dask``).
"""

from __future__ import annotations

import ctypes
import math
import os
import re
from collections.abc import Iterable, Mapping, Sequence
from typing import Any, cast

from . import _lib
from ._input import InputFileError, finite_number, load_json_object, number_from_text
from ._lib import (
    INVENTORY_CALLBACK,
    InventoryParams,
    LogEntry,
    TaperModel,
    TreeResult,
    double_array,
    load_library,
)
from .bucking import HEIGHT_NAMES, OBJECTIVES, heights_of
from .products import Product, load_products, product_table
from .taper import Taper

__all__ = [
    "BUCKING_PARAMETERS",
    "LOG_COLUMNS",
    "SERVED_BY_EXACT",
    "TOTAL_COLUMNS",
    "buck_inventory",
    "buck_trees",
    "load_models",
    "tree_from_row",
]



def __getattr__(name: str) -> Any:
    # The library's column names, read when first asked for (importing needs no library):
    # LOG_COLUMNS of the logs table, TOTAL_COLUMNS of the totals table, and SERVED_BY_EXACT,
    # the totals' last column where the exact optimiser stood in for a search that gave up.
    if name == "LOG_COLUMNS":
        return _log_columns()
    if name == "TOTAL_COLUMNS":
        return _lib.words(_lib.WORDS_TOTALS_COLUMN)[:-1]
    if name == "SERVED_BY_EXACT":
        return _lib.words(_lib.WORDS_TOTALS_COLUMN)[-1]
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def _log_columns() -> tuple[str, ...]:
    return _lib.words(_lib.WORDS_LOG_COLUMN)

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
    """Numbers separated by blanks (runs of spaces or tabs: ``"1.14  -1.23"``), as xtk and R
    read them, or a sequence of numbers."""
    if isinstance(value, str):
        tokens = re.split(r"[ \t]+", value.strip(" \t"))
        if tokens == [""]:
            raise ValueError("empty")
        return tuple(number_from_text(token) for token in tokens)
    if hasattr(value, "tolist"):
        value = value.tolist()
    if not isinstance(value, (list, tuple)) or not value:
        raise ValueError(f"expected numbers separated by blanks, got {value!r}")
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
            if not values[field] > 0:  # a stem without girth or height has no taper
                raise ValueError("must be greater than 0")
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


# ---------------------------------------------------------------------------
# The library's inventory call
# ---------------------------------------------------------------------------
_METHOD_SEQUENTIAL, _METHOD_OPTIMISED, _METHOD_EXACT = 0, 1, 2
_EXACT_WHEN_GIVEN_UP = 0x1


class _Trees:
    """An inventory resolved for the library: ids, dbh, height, model index per tree, and the
    model table (each distinct model once)."""

    def __init__(self) -> None:
        self.ids: list[str] = []
        self.dbh: list[float] = []
        self.height: list[float] = []
        self.model: list[int] = []
        self.table: list[tuple[tuple[float, ...], tuple[float, ...]]] = []
        self._index: dict[tuple[tuple[float, ...], tuple[float, ...]], int] = {}

    def model_index(self, coefs: tuple[float, ...], exps: tuple[float, ...]) -> int:
        key = (coefs, exps)
        index = self._index.get(key)
        if index is None:
            index = self._index[key] = len(self.table)
            self.table.append(key)
        return index


class _Blocks:
    """Receives the library's blocks of bucked trees (on the calling thread) and keeps their
    bytes; an exception is kept to be raised once the call has returned."""

    def __init__(self) -> None:
        self.trees: list[bytes] = []
        self.rows: list[bytes] = []
        self.error: BaseException | None = None

    def __call__(self, _context: Any, block: Any) -> int:
        try:
            b = block.contents
            self.trees.append(ctypes.string_at(b.trees, b.treeCount * ctypes.sizeof(TreeResult)))
            self.rows.append(ctypes.string_at(b.rows, b.rowCount * ctypes.sizeof(LogEntry)))
            return 0
        except BaseException as error:  # noqa: BLE001 - raised again after the call
            self.error = error
            return 1


def _method_code(objective: str | None, exact: bool) -> tuple[int, int]:
    if objective is None:
        if exact:
            raise ValueError("exact needs an objective ('value' or 'volume')")
        return _METHOD_SEQUENTIAL, 0
    return (_METHOD_EXACT if exact else _METHOD_OPTIMISED), OBJECTIVES[objective]


def _run(
    trees: _Trees,
    products: Sequence[Product],
    objective: str | None,
    exact: bool,
    threads: int,
    params: Mapping[str, float],
    exact_when_given_up: bool = False,
) -> _Blocks:
    """One call of the library's inventory export; the blocks it handed over."""
    if isinstance(threads, bool) or not isinstance(threads, int) or not 0 <= threads <= 256:
        raise ValueError(f"threads must be a whole number from 0 to 256, got {threads!r}")
    method, code = _method_code(objective, exact)
    if exact_when_given_up and method != _METHOD_OPTIMISED:
        raise ValueError("exact_when_given_up needs an objective ('value' or 'volume') "
                         "without exact")
    heights = heights_of(dict(params))
    lib = load_library()
    n = len(trees.ids)
    arrays = [(double_array(c), double_array(e), len(c) - 1) for c, e in trees.table]
    models = (TaperModel * max(1, len(arrays)))()
    for record, (coefs, exps, terms) in zip(models, arrays):
        record.coefs = ctypes.cast(coefs, ctypes.POINTER(ctypes.c_double))
        record.exps = ctypes.cast(exps, ctypes.POINTER(ctypes.c_double))
        record.termCount = terms
    q = InventoryParams(
        startHeight=heights.start_height, topHeightLimit=heights.top_height_limit,
        stumpHeight=heights.stump_height, stumpTrim=heights.stump_trim,
        heightLimit=heights.height_limit, method=method, objective=code, threads=threads,
        flags=_EXACT_WHEN_GIVEN_UP if exact_when_given_up else 0,
    )  # fmt: skip
    blocks = _Blocks()
    callback = INVENTORY_CALLBACK(blocks)
    result = lib.PHVbDll(
        double_array(trees.dbh), double_array(trees.height), (ctypes.c_int32 * n)(*trees.model),
        n, models, len(arrays), product_table(products), len(products), ctypes.byref(q),
        callback, None,
    )  # fmt: skip
    if blocks.error is not None:
        raise blocks.error
    if result == 3:
        raise MemoryError("the library could not get the memory to buck the inventory")
    if result != 0:
        raise RuntimeError(f"the inventory bucking answered {result}")
    return blocks


def _rows(
    trees: _Trees, products: Sequence[Product], blocks: _Blocks, mark_exact: bool = False
) -> tuple[list[Row], list[Row]]:
    """The logs and totals rows of the blocks, in LOG_COLUMNS / TOTAL_COLUMNS order (and, with
    ``mark_exact``, whether the exact optimiser bucked the tree)."""
    results = (TreeResult * len(trees.ids)).from_buffer_copy(b"".join(blocks.trees))
    rows_bytes = b"".join(blocks.rows)
    rows = (LogEntry * (len(rows_bytes) // ctypes.sizeof(LogEntry))).from_buffer_copy(rows_bytes)
    labels = [p.label(k) for k, p in enumerate(products, start=1)]
    logs: list[Row] = []
    totals: list[Row] = []
    row = 0
    for tree_id, r in zip(trees.ids, results):
        for k in range(row + 1, row + 1 + r.logCount):
            e = rows[k]
            number = e.productNumber
            name = labels[number - 1] if 1 <= number <= len(labels) else f"product {number}"
            logs.append(
                (tree_id, e.logNumber, number, name, e.baseHeight, e.length, e.topHeight,
                 e.trimTopHeight, e.baseDiam, e.topDiam, e.trimTopDiam, e.volume, e.value)
            )  # fmt: skip
        row += 1 + r.logCount
        line: Row = (tree_id, int(r.outcome), r.logCount) + tuple(r.totals)
        totals.append(line + (int(r.method == _METHOD_EXACT),) if mark_exact else line)
    return logs, totals


def _prepare(
    products: Sequence[Product] | str | os.PathLike[str],
    models: Models | Mapping[str, Any] | str | os.PathLike[str] | None,
) -> tuple[list[Product], Models]:
    if not isinstance(products, (list, tuple)):
        products = load_products(cast("str | os.PathLike[str]", products))  # any other: a file
    if not (isinstance(models, dict) and all(isinstance(v, tuple) for v in models.values())):
        models = load_models(models)
    return list(products), cast(Models, models)


def _resolve_rows(rows: Iterable[Mapping[str, Any]], models: Models) -> _Trees:
    """Every row checked and resolved, one by one; InputFileError naming the first bad one."""
    trees = _Trees()
    seen: set[str] = set()
    for position, row in enumerate(rows, start=1):
        tree_id, taper = tree_from_row(row, models, f"row {position}")
        if tree_id in seen:
            raise InputFileError("appears twice", line=f"row {position}", field=f"id '{tree_id}'")
        seen.add(tree_id)
        trees.ids.append(tree_id)
        trees.dbh.append(taper.dbh)
        trees.height.append(taper.height)
        trees.model.append(trees.model_index(taper.coefs, taper.exps))
    return trees


def buck_trees(
    rows: Iterable[Mapping[str, Any]],
    products: Sequence[Product] | str | os.PathLike[str],
    *,
    models: Models | Mapping[str, Any] | str | os.PathLike[str] | None = None,
    objective: str | None = None,
    exact: bool = False,
    threads: int = 1,
    exact_when_given_up: bool = False,
    **params: float,
) -> tuple[list[Row], list[Row]]:
    """Bucks every row (sequentially, or optimised for ``objective``, by the exact optimiser
    with ``exact``) in one call of the library's inventory export on ``threads`` threads (0: one
    per processor) and returns the rows of the logs and totals tables (tuples in LOG_COLUMNS /
    TOTAL_COLUMNS order), in input order. With ``exact_when_given_up`` (an objective without
    ``exact``), a tree on which the search gives up is bucked by the exact optimiser instead,
    and each totals row ends with 1 for such a tree, 0 for the others. A bad row raises
    InputFileError naming the tree and the field; duplicate ids are refused."""
    products, models = _prepare(products, models)
    params = check_parameters(objective, params)
    trees = _resolve_rows(rows, models)
    blocks = _run(trees, products, objective, exact, threads, params, exact_when_given_up)
    return _rows(trees, products, blocks, exact_when_given_up)


# ---------------------------------------------------------------------------
# Whole tables: a pandas DataFrame (or a mapping of columns) in, DataFrames out
# ---------------------------------------------------------------------------
_INT16_MAX = 32767


def _columns(trees: Any) -> dict[str, Any]:
    """The inventory's columns by name, from a DataFrame or a mapping of sequences."""
    if hasattr(trees, "columns") and hasattr(trees, "__getitem__"):
        return {str(name): trees[name].to_numpy() for name in trees.columns}
    if isinstance(trees, Mapping):
        return {str(name): values for name, values in trees.items()}
    raise TypeError(f"trees must be a pandas DataFrame or a mapping of columns, got {type(trees)}")


def _float_column(values: Any, np: Any) -> Any:
    """A column of numbers, or of texts of numbers (a CSV read as text), as float64; None when
    a cell is anything else."""
    array = np.asarray(values)
    if array.dtype.kind in "fiu":
        return array.astype(np.float64)
    if array.dtype.kind in "OU" and all(isinstance(v, str) for v in array):
        try:
            return np.array([number_from_text(v) for v in array], dtype=np.float64)
        except ValueError:
            return None
    return None


def _fast_trees(columns: dict[str, Any], models: Models, np: Any) -> _Trees | None:
    """The inventory resolved column by column, or None when some cell needs the row-by-row
    reading (which also names the first bad cell)."""
    n = len(columns["id"])
    trees = _Trees()
    dbh = _float_column(columns["dbh"], np)
    height = _float_column(columns["height"], np)
    if dbh is None or height is None:
        return None
    if not (np.isfinite(dbh).all() and np.isfinite(height).all()):
        return None
    if not ((dbh > 0).all() and (height > 0).all()):  # refused, by the row-by-row reading
        return None
    if not all(isinstance(v, str) and v != "" for v in columns["id"]):
        return None
    ids = [str(v) for v in columns["id"]]
    if len(set(ids)) != n:
        return None
    names = columns.get("model")
    index: list[int] = [0] * n
    known: dict[Any, int] = {}
    for i in range(n):
        name = names[i] if names is not None else None
        if isinstance(name, str) and name != "":
            key: Any = ("model", name)
            if key not in known:
                if name not in models or len(models[name][0]) - 1 > _INT16_MAX:
                    return None
                known[key] = trees.model_index(*models[name])
        else:
            if not _missing(name) and name != "":
                return None
            if "coefs" not in columns or "exps" not in columns:
                return None
            cells = (columns["coefs"][i], columns["exps"][i])
            if not all(isinstance(c, str) for c in cells):
                return None
            key = cells
            if key not in known:
                try:
                    coefs, exps = _numbers(cells[0]), _numbers(cells[1])
                except ValueError:
                    return None
                if len(coefs) != len(exps) or len(coefs) - 1 > _INT16_MAX:
                    return None
                known[key] = trees.model_index(coefs, exps)
        index[i] = known[key]
    trees.ids = ids
    trees.dbh = dbh.tolist()
    trees.height = height.tolist()
    trees.model = index
    return trees


def _frames(
    trees: _Trees, products: Sequence[Product], blocks: _Blocks, mark_exact: bool = False
) -> tuple[Any, Any]:
    """The logs and totals DataFrames of the blocks, built column by column."""
    import numpy as np
    import pandas as pd  # type: ignore[import]  # pandas 1.5 ships no type information

    tree_dtype = np.dtype({
        "names": ["method", "outcome", "totals", "logCount"],
        "formats": [np.int32, np.float64, (np.float64, 8), np.int32],
        "offsets": [12, 16, 24, 88],
        "itemsize": ctypes.sizeof(TreeResult),
    })  # fmt: skip
    row_dtype = np.dtype({
        "names": ["logNumber", "productNumber"] + list(_log_columns()[4:]),
        "formats": [np.int16, np.int16] + [np.float64] * 9,
        "offsets": [0, 2] + [8 + 8 * k for k in range(9)],
        "itemsize": ctypes.sizeof(LogEntry),
    })  # fmt: skip
    results = np.frombuffer(b"".join(blocks.trees), dtype=tree_dtype)
    rows = np.frombuffer(b"".join(blocks.rows), dtype=row_dtype)
    counts = results["logCount"].astype(np.int64)
    is_log = np.ones(len(rows), dtype=bool)
    is_log[np.cumsum(counts + 1) - (counts + 1)] = False  # each tree's row 0, the stump row
    logs_of = rows[is_log]
    ids = np.asarray(trees.ids, dtype=object)
    labels = np.asarray([p.label(k) for k, p in enumerate(products, start=1)] + ["?"], dtype=object)
    number = logs_of["productNumber"].astype(np.int64)
    inside = (number >= 1) & (number <= len(products))
    names = labels[np.where(inside, number - 1, len(products))]
    if not inside.all():  # cannot happen with a sound library; keep the row rather than hide it
        names[~inside] = [f"product {k}" for k in number[~inside]]
    log_columns: dict[str, Any] = {
        "id": ids[np.repeat(np.arange(len(ids)), counts)],
        "logNumber": logs_of["logNumber"].astype(np.int64),
        "productNumber": number,
        "productName": names,
    }
    for name in _log_columns()[4:]:
        log_columns[name] = logs_of[name].copy()
    total_columns: dict[str, Any] = {
        "id": ids,
        "outcome": results["outcome"].astype(np.int64),
        "logCount": counts,
    }
    for k, name in enumerate(_lib.words(_lib.WORDS_TOTALS_COLUMN)[3:-1]):
        total_columns[name] = results["totals"][:, k].copy()
    if mark_exact:
        total_columns[_lib.words(_lib.WORDS_TOTALS_COLUMN)[-1]] = (results["method"] == _METHOD_EXACT).astype(np.int64)
    return pd.DataFrame(log_columns), pd.DataFrame(total_columns)


def buck_inventory(
    trees: Any,
    products: Sequence[Product] | str | os.PathLike[str],
    *,
    models: Models | Mapping[str, Any] | str | os.PathLike[str] | None = None,
    method: str = "sequential",
    exact: bool = False,
    threads: int = 1,
    exact_when_given_up: bool = False,
    **params: float,
) -> tuple[Any, Any]:
    """Bucks a whole inventory in one call of the library's inventory export and returns the
    ``(logs, totals)`` pandas DataFrames, with the columns and values of ``xtk batch``'s two CSV
    files.

    ``trees``: a DataFrame (or a mapping of columns) with ``id``, ``dbh``, ``height`` and either
    ``model`` (a name of ``models``) or ``coefs`` and ``exps`` (numbers separated by blanks);
    ``products``: Product objects or a product table file; ``models``: taper models by name (a
    dict or a JSON file); ``method``: "sequential", "value" or "volume" (the optimised bucking,
    by the exact optimiser with ``exact``); ``threads``: worker threads (0: one per processor),
    the tables are the same for any number; ``exact_when_given_up``: with "value" or "volume"
    and without ``exact``, a tree on which the search gives up is bucked by the exact optimiser
    instead, and the totals gain the column ``servedByExact`` (1 for such a tree, 0 for the
    others, whose rows are as without it); ``params``: the bucking keywords of ``buck``. The
    interpreter's lock is released while the library bucks. A bad row raises InputFileError
    naming the tree and the field.
    """
    import numpy as np

    if method not in ("sequential", "value", "volume"):
        raise ValueError(f"method must be 'sequential', 'value' or 'volume', got {method!r}")
    objective = None if method == "sequential" else method
    products, models = _prepare(products, models)
    params = check_parameters(objective, params)
    columns = _columns(trees)
    missing = [c for c in ("id", "dbh", "height") if c not in columns]
    if "model" not in columns and not {"coefs", "exps"} <= set(columns):
        missing.append("model (or both coefs and exps)")
    if missing:
        raise ValueError(f"inventory lacks column(s): {', '.join(missing)}")
    resolved = _fast_trees(columns, models, np)
    if resolved is None:
        n = len(columns["id"])
        rows = ({name: values[i] for name, values in columns.items()} for i in range(n))
        resolved = _resolve_rows(rows, models)
    blocks = _run(resolved, products, objective, exact, threads, params, exact_when_given_up)
    return _frames(resolved, products, blocks, exact_when_given_up)
