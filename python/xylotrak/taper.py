"""The taper model of one tree and the exports that evaluate it."""

from __future__ import annotations

import os
import sys
from collections.abc import Iterable, Mapping, Sequence
from typing import Any

from . import _lib
from ._input import INT16_MAX, InputFileError, finite_number, load_json_object
from ._vector import is_ndarray, map_values

__all__ = ["Taper"]

_TAPER_KEYS = ("dbh", "height", "coefs", "exps")


class Taper:
    """A tree: its diameter at breast height ``dbh`` (cm), total ``height`` (m) and relative
    profile ``coefs[0] + sum(coefs[k] * (h / height) ** exps[k])`` (``exps[0]`` normally 0).

    Every method is one call of the library's export of the same task, with the model's five
    leading arguments; results are the export's doubles unchanged.
    """

    __slots__ = ("dbh", "height", "coefs", "exps", "_coefs", "_exps", "_terms")

    def __init__(self, dbh: float, height: float, coefs: Sequence[float], exps: Sequence[float]):
        coefs = tuple(float(c) for c in coefs)
        exps = tuple(float(e) for e in exps)
        if len(coefs) != len(exps):
            raise ValueError(f"coefs has {len(coefs)} values but exps has {len(exps)}")
        if not coefs:
            raise ValueError("a taper model needs at least the constant term (coefs[0])")
        if len(coefs) - 1 > INT16_MAX:
            raise ValueError(f"at most {INT16_MAX} power terms after the constant one")
        self.dbh = float(dbh)
        self.height = float(height)
        self.coefs = coefs
        self.exps = exps
        self._coefs = _lib.double_array(coefs)
        self._exps = _lib.double_array(exps)
        self._terms = len(coefs) - 1

    @property
    def term_count(self) -> int:
        """Number of power terms after the constant one (the exports' termCount)."""
        return self._terms

    def model_args(self) -> tuple:
        """The five leading arguments of every taper and bucking export."""
        return (self.dbh, self.height, self._coefs, self._exps, self._terms)

    def __repr__(self) -> str:
        return (
            f"Taper(dbh={self.dbh!r}, height={self.height!r}, "
            f"coefs={list(self.coefs)!r}, exps={list(self.exps)!r})"
        )

    def __eq__(self, other: object) -> bool:
        if not isinstance(other, Taper):
            return NotImplemented
        return (self.dbh, self.height, self.coefs, self.exps) == (
            other.dbh, other.height, other.coefs, other.exps)  # fmt: skip

    def __reduce__(self):  # picklable for process pools and Dask workers
        return (Taper, (self.dbh, self.height, self.coefs, self.exps))

    # -- single values -------------------------------------------------------
    def diameter(self, h: float) -> float:
        """Stem diameter (cm) at height ``h`` (m); 0 where the profile would be negative."""
        return _lib.load_library().PHDiDll(*self.model_args(), h)

    def height_at(self, d: float) -> float:
        """Height (m) where the stem has tapered to diameter ``d`` (cm)."""
        return _lib.load_library().PHHiDll(*self.model_args(), d)

    def volume(
        self,
        lower_height: float = 0,
        upper_height: float = 0,
        lower_diam: float = 0,
        upper_diam: float = 0,
        log_length: float = 0,
    ) -> float:
        """Stem volume (m^3) between limits; a limit of 0 or below is absent, and so is a
        ``lower_diam`` of 999 or above. With ``log_length`` the section is cut back to whole
        logs. All limits absent: the whole stem."""
        return _lib.load_library().PHViDll(
            *self.model_args(), lower_height, upper_height, lower_diam, upper_diam, log_length
        )

    def form_factor(self) -> float:
        """Form factor of the relative profile."""
        return _lib.load_library().PHFFDll(self._coefs, self._exps, self._terms)

    def log_count(
        self,
        lower_height: float = 0,
        upper_height: float = 0,
        lower_diam: float = 0,
        upper_diam: float = 0,
        log_length: float = 0,
    ) -> int:
        """Number of whole logs of ``log_length`` between the limits (resolved as for
        ``volume``)."""
        return _lib.load_library().PHCTDll(
            *self.model_args(), lower_height, upper_height, lower_diam, upper_diam, log_length
        )

    # -- many values ---------------------------------------------------------
    def diameters(self, heights: Iterable[float]):
        """``diameter`` at each height: an ndarray for an ndarray, a list otherwise."""
        fn, args = _lib.load_library().PHDiDll, self.model_args()
        return map_values(lambda h: fn(*args, h), heights)

    def heights_at(self, diameters: Iterable[float]):
        """``height_at`` for each diameter: an ndarray for an ndarray, a list otherwise."""
        fn, args = _lib.load_library().PHHiDll, self.model_args()
        return map_values(lambda d: fn(*args, d), diameters)

    def section_volumes(self, heights: Iterable[float]):
        """Volumes between consecutive heights (one fewer than given): ``volume(h[i], h[i+1])``
        for each i. An ndarray for an ndarray, a list otherwise."""
        fn, args = _lib.load_library().PHViDll, self.model_args()
        array = is_ndarray(heights)
        if array and heights.ndim != 1:
            raise ValueError("section_volumes takes a one-dimensional array of heights")
        cuts = map_values(float, heights.tolist() if array else heights)
        volumes = [fn(*args, a, b, 0.0, 0.0, 0.0) for a, b in zip(cuts, cuts[1:])]
        return sys.modules["numpy"].array(volumes, dtype="float64") if array else volumes

    # -- files ---------------------------------------------------------------
    @classmethod
    def from_json(cls, source: str | os.PathLike | Mapping[str, Any]) -> Taper:
        """A taper from ``{"dbh": .., "height": .., "coefs": [..], "exps": [..]}``, given as a
        dict or as the path of a JSON file. All four keys are required; others are refused."""
        data, path = load_json_object(
            source, "expected a JSON object with dbh, height, coefs, exps"
        )
        for key in data:
            if key not in _TAPER_KEYS:
                raise InputFileError(
                    "unknown key (expected dbh, height, coefs, exps)", path=path, field=key
                )
        values = {}
        for key in _TAPER_KEYS:
            if key not in data:
                raise InputFileError("missing", path=path, field=key)
            try:
                if key in ("coefs", "exps"):
                    if not isinstance(data[key], list):
                        raise ValueError("expected an array of numbers")
                    values[key] = [finite_number(v) for v in data[key]]
                else:
                    values[key] = finite_number(data[key])
            except ValueError as error:
                raise InputFileError(str(error), path=path, field=key) from None
        try:
            return cls(**values)
        except ValueError as error:
            raise InputFileError(str(error), path=path, field="exps") from None
