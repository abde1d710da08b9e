"""Fitting taper models to measured stems (``PHFtDll``, ``PHFsDll``).

A measurement is one diameter ``d`` (cm) at a height ``h`` (m) on a tree of diameter at breast
height ``dbh`` (cm) and total height ``height`` (m). The fit is of the relative profile
``d / dbh = sum(coefs[k] * (h / height) ** exps[k])`` by least squares.
"""

from __future__ import annotations

import ctypes
from collections.abc import Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import Any

from . import _lib
from .taper import ModelCheck, Taper

__all__ = ["DEFAULT_EXPS", "TaperFit", "XylotrakFitError", "fit_taper"]

#: The exponents fitted when none are given: the fifth-degree polynomial.
DEFAULT_EXPS: tuple[float, ...] = (0.0, 1.0, 2.0, 3.0, 4.0, 5.0)

_COLUMNS = ("dbh", "height", "h", "d")

#: What each return code of the fitting exports means.
_CODE_WORDS = {
    1: "too few usable rows for the terms",
    2: "rank-deficient design (repeated exponents, or all measurements at one relative height)",
    3: "bad arguments (exponents must be finite and not negative, max_terms at least 1)",
    4: "out of memory",
    5: "the fit overflows: measurements too large for doubles",
}


class XylotrakFitError(ValueError):
    """A fit the library could not make; ``code`` is its XYLOTRAK_FIT_* value."""

    def __init__(self, code: int, rows_used: int, rows_skipped: int, group: object = None):
        self.code = code
        self.rows_used = rows_used
        self.rows_skipped = rows_skipped
        self.group = group
        where = "" if group is None else f"group {group!r}: "
        words = _CODE_WORDS.get(code, f"unknown error {code}")
        super().__init__(
            f"{where}{words} ({rows_used} rows used, {rows_skipped} skipped)"
        )


@dataclass(frozen=True)
class TaperFit:
    """A fitted relative profile with its statistics (relative diameter unless in cm)."""

    exps: tuple[float, ...]
    coefs: tuple[float, ...]
    standard_errors: tuple[float, ...]
    residual_std_error: float
    r_squared: float
    bias: float
    diameter_rmse: float
    diameter_bias: float
    rows_used: int
    rows_skipped: int

    def taper(self, dbh: float, height: float) -> Taper:
        """The fitted profile on a tree of this ``dbh`` (cm) and total ``height`` (m)."""
        return Taper(dbh, height, self.coefs, self.exps)

    def check(self, dbh: float, height: float) -> ModelCheck:
        """The library's model check of the fitted profile on such a tree."""
        return self.taper(dbh, height).check()


class _Columns:
    """The four measurement columns as C arrays, kept alive for the call."""

    def __init__(self, columns: Sequence[Any]):
        self._keep: list[Any] = []
        self.pointers: list[Any] = []
        self.rows = -1
        for values in columns:
            array = _as_doubles(values)
            self._keep.append(array)
            self.pointers.append(ctypes.cast(array, ctypes.POINTER(ctypes.c_double)))
            if self.rows not in (-1, len(array)):
                raise ValueError("the columns dbh, height, h and d differ in length")
            self.rows = len(array)


def _as_doubles(values: Any) -> Any:
    try:
        import numpy as np
    except ImportError:  # pragma: no cover - NumPy is optional
        return _lib.double_array(values)
    array = np.ascontiguousarray(values, dtype=np.float64)
    if array.ndim != 1:
        raise ValueError("a measurement column must be one-dimensional")
    return array.ctypes.data_as(ctypes.POINTER(ctypes.c_double * len(array))).contents


def _fit_rows(
    columns: _Columns,
    exps: Sequence[float] | None,
    select: bool,
    candidates: Sequence[float] | None,
    max_terms: int,
    group: object,
) -> TaperFit:
    lib = _lib.load_library()
    stats = _lib.FitStats()
    if select:
        room = int(max_terms)
        if not 1 <= room <= 32767:
            raise ValueError(f"max_terms must be in 1..32767, not {max_terms}")
        pool = _lib.double_array(candidates) if candidates else None
        out_exps = (ctypes.c_double * room)()
        coefs = (ctypes.c_double * room)()
        errors = (ctypes.c_double * room)()
        n = ctypes.c_int32(0)
        code = lib.PHFsDll(
            *columns.pointers, columns.rows, pool, len(candidates or ()), room,
            out_exps, coefs, errors, ctypes.byref(n), ctypes.byref(stats),
        )  # fmt: skip
        terms = n.value + 1
        fitted_exps = tuple(out_exps[:terms])
    else:
        given = tuple(float(e) for e in (DEFAULT_EXPS if exps is None else exps))
        if not 1 <= len(given) <= 32768:
            raise ValueError("exps must hold 1 to 32768 exponents")
        terms = len(given)
        coefs = (ctypes.c_double * terms)()
        errors = (ctypes.c_double * terms)()
        code = lib.PHFtDll(
            *columns.pointers, columns.rows, _lib.double_array(given), terms - 1,
            coefs, errors, ctypes.byref(stats),
        )  # fmt: skip
        fitted_exps = given
    if code != 0:
        raise XylotrakFitError(code, stats.rowsUsed, stats.rowsSkipped, group)
    return TaperFit(
        exps=fitted_exps,
        coefs=tuple(coefs[:terms]),
        standard_errors=tuple(errors[:terms]),
        residual_std_error=stats.residualStdError,
        r_squared=stats.rSquared,
        bias=stats.bias,
        diameter_rmse=stats.diameterRmse,
        diameter_bias=stats.diameterBias,
        rows_used=stats.rowsUsed,
        rows_skipped=stats.rowsSkipped,
    )


def _column(data: Any, name: str) -> Any:
    try:
        return data[name]
    except (KeyError, IndexError, TypeError):
        raise ValueError(f"the measurements have no column {name!r}") from None


def fit_taper(
    data: Mapping[str, Iterable[Any]] | Any,
    *,
    exps: Sequence[float] | None = None,
    select: bool = False,
    candidates: Sequence[float] | None = None,
    max_terms: int = 8,
    by: str | None = None,
) -> Any:
    """Fits the relative profile to measurements.

    ``data`` is a pandas DataFrame or a mapping of columns ``dbh``, ``height``, ``h`` and ``d``
    (a missing value, NaN, skips its row; so do rows with dbh or height at or below 0 and ``h``
    outside ``[0, height]``; ``rows_skipped`` counts them). With ``exps`` (default 0 to 5) those
    exponents are fitted; with ``select=True`` they are chosen stepwise from ``candidates`` (the
    library's default set when None) with exponent 0 always in and at most ``max_terms`` terms.
    Returns a :class:`TaperFit`, or with ``by`` (the name of a grouping column) a dict of them by
    group value, in the order the groups first appear. Raises :class:`XylotrakFitError` when the
    library cannot fit (too few rows, a rank-deficient design).
    """
    if select and exps is not None:
        raise ValueError("give exps or select=True, not both")
    if not select and (candidates is not None or max_terms != 8):
        raise ValueError("candidates and max_terms go with select=True")
    if by is None:
        columns = _Columns([_column(data, name) for name in _COLUMNS])
        return _fit_rows(columns, exps, select, candidates, max_terms, None)
    keys = list(_column(data, by))
    values = [list(_as_doubles(_column(data, name))) for name in _COLUMNS]
    order: dict[Any, list[int]] = {}
    for i, key in enumerate(keys):
        order.setdefault(key, []).append(i)
    fits: dict[Any, TaperFit] = {}
    for key, rows in order.items():
        columns = _Columns([[column[i] for i in rows] for column in values])
        fits[key] = _fit_rows(columns, exps, select, candidates, max_terms, key)
    return fits
