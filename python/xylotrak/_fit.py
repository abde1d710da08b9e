"""The calls of the fitting exports (``PHFcDll``, ``PHFwDll``, ``PHFmDll``) on measurement
columns, giving each fit's fields; :mod:`xylotrak.taper` makes them a
:class:`~xylotrak.taper.TaperFit`.

A measurement is one diameter ``d`` (cm) at a height ``h`` (m) on a tree of diameter at breast
height ``dbh`` (cm) and total height ``height`` (m). The fit is of the relative profile
``d / dbh = sum(coefs[k] * (h / height) ** exps[k])`` by least squares.
"""

from __future__ import annotations

import ctypes
from collections.abc import Sequence
from typing import Any

from . import _lib

__all__ = ["DEFAULT_EXPS", "XylotrakFitError", "fit"]


def _default_exps() -> tuple[float, ...]:
    return _lib.fit_default(_lib.FIT_DEFAULT_EXPS)


def __getattr__(name: str) -> Any:
    # DEFAULT_EXPS, the exponents fitted when none are given, is the library's; read on first
    # use so that importing the package does not load the library.
    if name == "DEFAULT_EXPS":
        return _default_exps()
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


_COLUMNS = ("dbh", "height", "h", "d")


class XylotrakFitError(ValueError):
    """A fit the library could not make; ``code`` is its XYLOTRAK_FIT_* value.

    A REML fit that did not converge also has ``reason``, the library's name
    of why (``"iteration_limit"`` or ``"nonfinite"``), and ``iterations``;
    both are None for the other codes.
    """

    def __init__(self, code: int, rows_used: int, rows_skipped: int, group: object = None,
                 convergence: int | None = None, iterations: int | None = None):  # fmt: skip
        self.code = code
        self.rows_used = rows_used
        self.rows_skipped = rows_skipped
        self.group = group
        self.reason: str | None = None
        self.iterations = iterations if convergence is not None else None
        self._convergence = convergence
        where = "" if group is None else f"group {group!r}: "
        words = _lib.word(_lib.WORDS_FIT_MESSAGE, code) or f"unknown error {code}"
        if convergence is not None:
            self.reason = _lib.word(_lib.WORDS_CONVERGENCE, convergence) or f"reason {convergence}"
            because = _lib.word(_lib.WORDS_CONVERGENCE_MESSAGE, convergence) or self.reason
            words += f" ({because} after {iterations} iterations)"
        super().__init__(
            f"{where}{words} ({rows_used} rows used, {rows_skipped} skipped)"
        )

    def __reduce__(self) -> tuple[Any, ...]:
        # Rebuilt from its fields, so that it crosses processes (Dask, multiprocessing).
        return (type(self), (self.code, self.rows_used, self.rows_skipped, self.group,
                             self._convergence, self.iterations))  # fmt: skip


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
    max_terms: int | None,
    group: object,
    tip_zero: bool = False,
    random: Sequence[int] | None = None,
    trees: Sequence[Any] | None = None,
) -> dict[str, Any]:
    lib = _lib.load_library()
    stats = _lib.FitStats()
    flags = 1 if tip_zero else 0
    df = ctypes.c_int64(0)
    if random:
        return _fit_mixed(columns, exps, random, trees, group)
    if select:
        room = int(_lib.fit_default(_lib.FIT_DEFAULT_MAX_TERMS)[0] if max_terms is None
                   else max_terms)  # fmt: skip
        if not 1 <= room <= 32767:
            raise ValueError(f"max_terms must be in 1..32767, not {max_terms}")
        pool = _lib.double_array(candidates) if candidates else None
        out_exps = (ctypes.c_double * room)()
        coefs = (ctypes.c_double * room)()
        errors = (ctypes.c_double * room)()
        cov = (ctypes.c_double * (room * room))()
        n = ctypes.c_int32(0)
        code = lib.PHFwDll(
            *columns.pointers, columns.rows, pool, len(candidates or ()), room, flags,
            out_exps, coefs, errors, cov, ctypes.byref(n), ctypes.byref(df), ctypes.byref(stats),
        )  # fmt: skip
        terms = n.value + 1
        fitted_exps = tuple(out_exps[:terms])
    else:
        given = tuple(float(e) for e in (_default_exps() if exps is None else exps))
        if not 1 <= len(given) <= 32768:
            raise ValueError("exps must hold 1 to 32768 exponents")
        terms = len(given)
        coefs = (ctypes.c_double * terms)()
        errors = (ctypes.c_double * terms)()
        cov = (ctypes.c_double * (terms * terms))()
        code = lib.PHFcDll(
            *columns.pointers, columns.rows, _lib.double_array(given), terms - 1, flags,
            coefs, errors, cov, ctypes.byref(df), ctypes.byref(stats),
        )  # fmt: skip
        fitted_exps = given
    if code != 0:
        raise XylotrakFitError(code, stats.rowsUsed, stats.rowsSkipped, group)
    return dict(
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
        covariance=tuple(cov[: terms * terms]),
        residual_df=df.value,
        tip_zero=tip_zero,
    )


def _fit_mixed(
    columns: _Columns,
    exps: Sequence[float] | None,
    random: Sequence[int],
    trees: Sequence[Any] | None,
    group: object,
) -> dict[str, Any]:
    if trees is None:
        raise ValueError("a mixed-effects fit needs the trees: a column 'id'")
    given = tuple(float(e) for e in (_default_exps() if exps is None else exps))
    p, q = len(given), len(random)
    if not 1 <= p <= 32768 or not 1 <= q <= p:
        raise ValueError("random must name 1 to len(exps) terms")
    index: dict[Any, int] = {}
    ids = (ctypes.c_int64 * max(columns.rows, 1))(*(index.setdefault(t, len(index)) for t in trees))
    terms = (ctypes.c_int32 * q)(*(int(t) for t in random))
    coefs = (ctypes.c_double * p)()
    errors = (ctypes.c_double * p)()
    cov = (ctypes.c_double * (p * p))()
    rcov = (ctypes.c_double * (q * q))()
    stats = _lib.MixedStats()
    code = _lib.load_library().PHFmDll(
        *columns.pointers, ids, columns.rows, _lib.double_array(given), p - 1, terms, q,
        coefs, errors, cov, rcov, ctypes.byref(stats),
    )  # fmt: skip
    if code != 0:
        stopped = code == 6  # XYLOTRAK_FIT_NOT_CONVERGED
        raise XylotrakFitError(code, stats.rowsUsed, stats.rowsSkipped, group,
                               stats.convergence if stopped else None,
                               stats.iterations)  # fmt: skip
    return dict(
        exps=given,
        coefs=tuple(coefs),
        standard_errors=tuple(errors),
        residual_std_error=stats.residualSd,
        r_squared=float("nan"),
        bias=float("nan"),
        diameter_rmse=float("nan"),
        diameter_bias=float("nan"),
        rows_used=stats.rowsUsed,
        rows_skipped=stats.rowsSkipped,
        covariance=tuple(cov),
        random_terms=tuple(int(t) for t in random),
        random_exps=tuple(given[int(t)] for t in random),
        random_covariance=tuple(tuple(rcov[i * q : (i + 1) * q]) for i in range(q)),
        residual_sd=stats.residualSd,
        reml_loglik=stats.remlLogLik,
        converged=stats.convergence == 0,
        iterations=stats.iterations,
    )


def _column(data: Any, name: str) -> Any:
    try:
        return data[name]
    except (KeyError, IndexError, TypeError):
        raise ValueError(f"the measurements have no column {name!r}") from None


def fit(data: Any, by: str | None, exps: Sequence[float] | None, select: bool,
        candidates: Sequence[float] | None, max_terms: int | None, tip_zero: bool,
        random: Sequence[int] | None) -> dict[Any, dict[str, Any]]:  # fmt: skip
    """The fields of each fit :func:`xylotrak.fit_taper` asks for (its arguments), by group value
    (by the key None without ``by``), in the order the groups first appear."""
    if random and (select or tip_zero):
        raise ValueError("random goes with given exps, not with select or tip_zero")
    if select and exps is not None:
        raise ValueError("give exps or select=True, not both")
    if not select and (candidates is not None or max_terms is not None):
        raise ValueError("candidates and max_terms go with select=True")
    if by is None:
        columns = _Columns([_column(data, name) for name in _COLUMNS])
        trees = list(_column(data, "id")) if random else None
        return {None: _fit_rows(columns, exps, select, candidates, max_terms, None, tip_zero,
                                random, trees)}  # fmt: skip
    keys = list(_column(data, by))
    values = [list(_as_doubles(_column(data, name))) for name in _COLUMNS]
    ids = list(_column(data, "id")) if random else None
    order: dict[Any, list[int]] = {}
    for i, key in enumerate(keys):
        order.setdefault(key, []).append(i)
    fits: dict[Any, dict[str, Any]] = {}
    for key, rows in order.items():
        columns = _Columns([[column[i] for i in rows] for column in values])
        trees = [ids[i] for i in rows] if ids is not None else None
        fits[key] = _fit_rows(columns, exps, select, candidates, max_terms, key, tip_zero,
                              random, trees)  # fmt: skip
    return fits
