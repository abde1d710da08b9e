"""The taper model of one tree, the exports that evaluate it and the check of the model."""

from __future__ import annotations

import ctypes
import os
import sys
import warnings
from collections.abc import Callable, Iterable, Mapping, Sequence
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, overload

from . import _fit, _lib
from ._input import INT16_MAX, InputFileError, finite_number, load_json_object
from ._vector import is_ndarray, map_values

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

__all__ = [
    "FINDINGS", "FitCovariance", "Interval", "ModelCheck", "Taper", "TaperFit", "XylotrakModelWarning",
    "fit_taper",
]  # fmt: skip

_TAPER_KEYS = ("dbh", "height", "coefs", "exps")

#: The five leading arguments of every taper and bucking export.
ModelArgs = tuple[
    float, float, "ctypes.Array[ctypes.c_double]", "ctypes.Array[ctypes.c_double]", int
]

_ILL_CONDITIONED_BIT = 0  # XYLOTRAK_CHECK_VOLUME_ILL_CONDITIONED, 0x01


def __getattr__(name: str) -> Any:
    # FINDINGS, the library's codes of the model check's findings in the order of their bits
    # (the first is bit 0x01), read when first asked for, so that importing needs no library.
    if name == "FINDINGS":
        return _lib.words(_lib.WORDS_FINDING)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def _ill_conditioned() -> str:
    return _lib.words(_lib.WORDS_FINDING)[_ILL_CONDITIONED_BIT]


class XylotrakModelWarning(UserWarning):
    """A volume of a taper model whose check has findings: the answer may be meaningless."""


@dataclass(frozen=True)
class ModelCheck:
    """What the library's model check (``PHCkDll``) found in a taper model.

    ``findings`` holds codes of ``FINDINGS`` in that order, empty for a sound model (a bit
    unknown to this binding reads ``"unknown-0x80"``); ``volume_digits`` is the estimated
    number of correct significant digits, 0 to 15, of the closed-form whole-stem volume.
    """

    findings: tuple[str, ...]
    volume_digits: int

    @classmethod
    def from_bits(cls, bits: int, volume_digits: int) -> ModelCheck:
        """The check from the export's bit set and digit count."""
        codes = _lib.words(_lib.WORDS_FINDING)
        found = [code for k, code in enumerate(codes) if bits >> k & 1]
        found += [f"unknown-{1 << k:#x}" for k in range(len(codes), 32) if bits >> k & 1]
        return cls(tuple(found), int(volume_digits))

    @property
    def clean(self) -> bool:
        """True when the check found nothing."""
        return not self.findings


@dataclass(frozen=True)
class Interval:
    """A value with the ends of its confidence or prediction interval."""

    value: float
    lower: float
    upper: float


#: The interval kinds of ``PHDcDll`` and ``PHVcDll``.
_INTERVAL_KINDS = {"confidence": 0, "prediction": 1}


@dataclass(frozen=True)
class FitCovariance:
    """What a fitted model's intervals need (the ``xylotrak_taper_fit`` record): the
    coefficients' covariance (row-major), the residual variance of the relative diameter, the
    degrees of freedom of the quantile (0: normal), and for a mixed-effects fit its random terms
    and their covariance. ``calibrated``: the coefficients are one tree's own (``PHCbDll``);
    ``outlying``: a measurement it was calibrated from lies beyond 99.9% of trees.
    """

    covariance: tuple[float, ...]
    residual_variance: float
    degrees_of_freedom: float
    random_terms: tuple[int, ...] = ()
    random_covariance: tuple[float, ...] = ()
    calibrated: bool = False
    outlying: bool = False

    def record(self, coefs: Any, exps: Any, terms: int) -> tuple[_lib.TaperFitRecord, Any]:
        """The record for these model arrays, and the arrays it points into (keep them)."""
        cov = _lib.double_array(self.covariance)
        random = (ctypes.c_int32 * max(len(self.random_terms), 1))(*self.random_terms)
        rcov = _lib.double_array(self.random_covariance or (0.0,))
        record = _lib.TaperFitRecord(
            coefs, exps, cov, random, rcov, self.residual_variance, self.degrees_of_freedom,
            terms, len(self.random_terms), 1 if self.calibrated else 0, 0,
        )  # fmt: skip
        return record, (cov, random, rcov)


def _interval_error(code: int) -> ValueError:
    return ValueError(_lib.word(_lib.WORDS_INTERVAL_MESSAGE, code) or f"error {code}")


def _with_statistics(
    dbh: float, height: float, coefs: Sequence[float], exps: Sequence[float],
    statistics: FitCovariance,
) -> Taper:  # fmt: skip
    return Taper(dbh, height, coefs, exps, statistics=statistics)


class Taper:
    """A tree: its diameter at breast height ``dbh`` (cm), total ``height`` (m) and relative
    profile ``coefs[0] + sum(coefs[k] * (h / height) ** exps[k])`` (``exps[0]`` normally 0).

    Every method is one call of the library's export of the same task, with the model's five
    leading arguments; results are the export's doubles unchanged.
    """

    __slots__ = (
        "dbh", "height", "coefs", "exps", "_coefs", "_exps", "_terms", "_model_check", "_warned",
        "statistics",
    )  # fmt: skip

    def __init__(
        self, dbh: float, height: float, coefs: Sequence[float], exps: Sequence[float], *,
        statistics: FitCovariance | None = None,
    ):  # fmt: skip
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
        self._model_check: ModelCheck | None = None  # for the warning of the volumes
        self._warned = False
        #: The fit's covariances when the profile was fitted: what intervals need.
        self.statistics = statistics

    @property
    def term_count(self) -> int:
        """Number of power terms after the constant one (the exports' termCount)."""
        return self._terms

    def model_args(self) -> ModelArgs:
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

    def __reduce__(self) -> tuple[Any, tuple[Any, ...]]:
        # picklable for process pools and Dask workers
        if self.statistics is not None:
            return (_with_statistics, (self.dbh, self.height, self.coefs, self.exps,
                                       self.statistics))  # fmt: skip
        return (Taper, (self.dbh, self.height, self.coefs, self.exps))

    # -- intervals and calibration ---------------------------------------------
    def _record(self) -> tuple[_lib.TaperFitRecord, Any]:
        if self.statistics is None:
            raise ValueError("intervals need a fitted profile (xylotrak.fit_taper or Taper.fit)")
        return self.statistics.record(self._coefs, self._exps, self._terms)

    @staticmethod
    def _kind(interval: str) -> int:
        if interval not in _INTERVAL_KINDS:
            raise ValueError(f"interval must be 'confidence' or 'prediction', not {interval!r}")
        return _INTERVAL_KINDS[interval]

    def diameter_interval(self, h: float, interval: str = "confidence",
                          level: float = 0.95) -> Interval:  # fmt: skip
        """The diameter (cm) at height ``h`` with its interval (``PHDcDll``)."""
        record, keep = self._record()
        out = [ctypes.c_double() for _ in range(3)]
        code = _lib.load_library().PHDcDll(
            ctypes.byref(record), self.dbh, self.height, h, self._kind(interval), level,
            *(ctypes.byref(o) for o in out),
        )  # fmt: skip
        del keep
        if code != 0:
            raise _interval_error(code)
        return Interval(out[0].value, out[1].value, out[2].value)

    def calibrate(self, measured: Iterable[tuple[float, float]]) -> Taper:
        """This tree's own curve from measured ``(height, diameter)`` pairs (``PHCbDll``): the
        best linear unbiased predictor of its random effects under the mixed-effects fit. With
        no pair, the mean curve. A pair far outside the fitted trees is allowed, but sets
        ``statistics.outlying`` and warns."""
        pairs = [(float(h), float(d)) for h, d in measured]
        record, keep = self._record()
        p = self._terms + 1
        coefs = (ctypes.c_double * p)()
        cov = (ctypes.c_double * (p * p))()
        flags = ctypes.c_int32(0)
        code = _lib.load_library().PHCbDll(
            ctypes.byref(record), self.dbh, self.height,
            _lib.double_array([h for h, _ in pairs] or [0.0]),
            _lib.double_array([d for _, d in pairs] or [0.0]),
            len(pairs), coefs, cov, ctypes.byref(flags),
        )  # fmt: skip
        del keep
        if code != 0:
            raise _interval_error(code)
        assert self.statistics is not None
        outlying = bool(flags.value & 1)
        if outlying:
            warnings.warn(_lib.words(_lib.WORDS_CALIBRATION_FLAG)[0], XylotrakModelWarning,
                          stacklevel=2)  # fmt: skip
        stats = FitCovariance(
            tuple(cov), self.statistics.residual_variance, self.statistics.degrees_of_freedom,
            self.statistics.random_terms, self.statistics.random_covariance, True, outlying,
        )  # fmt: skip
        return Taper(self.dbh, self.height, tuple(coefs), self.exps, statistics=stats)

    @classmethod
    def fit(cls, data: Any, dbh: float, height: float, **options: Any) -> Taper:
        """A tree of this ``dbh`` (cm) and ``height`` (m) whose profile is fitted to the
        measurements ``data``; ``options`` as for :func:`xylotrak.fit_taper` (without ``by``).
        """
        if "by" in options:
            raise TypeError("Taper.fit fits one profile: use xylotrak.fit_taper(..., by=...)")
        fitted: TaperFit = fit_taper(data, **options)
        return fitted.taper(dbh, height)

    # -- the model check -----------------------------------------------------
    def check(self) -> ModelCheck:
        """The library's check of this model (``PHCkDll``): what can make its answers
        meaningless although they are computed exactly as the model says."""
        digits = ctypes.c_int32(0)
        bits: int = _lib.load_library().PHCkDll(*self.model_args(), ctypes.byref(digits))
        return ModelCheck.from_bits(bits, digits.value)

    def _warn_of_findings(self, accurate: bool = False) -> None:
        """Warns (once per Taper) before a volume of a model whose check has findings; the
        accurate volume does not cancel, so an ill-conditioned closed form alone is no reason
        to warn about it."""
        if self._warned:
            return
        if self._model_check is None:
            self._model_check = self.check()
        findings = self._model_check.findings
        if accurate:
            findings = tuple(f for f in findings if f != _ill_conditioned())
        if not findings:
            return
        self._warned = True
        advice = "see Taper.check()"
        if _ill_conditioned() in findings:
            advice += "; volume(accurate=True) does not cancel"
        warnings.warn(
            f"the taper model of dbh {self.dbh:g} cm, height {self.height:g} m and "
            f"{len(self.coefs)} coefficients has findings {', '.join(findings)}: its volumes "
            f"may be meaningless ({advice})",
            XylotrakModelWarning,
            stacklevel=3,
        )

    # -- single values -------------------------------------------------------
    def diameter(self, h: float) -> float:
        """Stem diameter (cm) at height ``h`` (m); 0 where the profile would be negative."""
        diameter: float = _lib.load_library().PHDiDll(*self.model_args(), h)
        return diameter

    def height_at(self, d: float) -> float:
        """Height (m) where the stem has tapered to diameter ``d`` (cm)."""
        height: float = _lib.load_library().PHHiDll(*self.model_args(), d)
        return height

    def volume(
        self,
        lower_height: float = 0,
        upper_height: float = 0,
        lower_diam: float = 0,
        upper_diam: float = 0,
        log_length: float = 0,
        *,
        accurate: bool = False,
        interval: str | None = None,
        level: float = 0.95,
    ) -> Any:
        """Stem volume (m^3) between limits; a limit of 0 or below is absent, and so is a
        ``lower_diam`` of 999 or above. With ``log_length`` the section is cut back to whole
        logs. All limits absent: the whole stem.

        The closed form (``PHViDll``) by default; ``accurate=True`` integrates by quadrature
        (``PHVaDll``), which does not cancel on a model the check finds ill-conditioned.
        Warns (``XylotrakModelWarning``, once per Taper) when the model's check has findings.

        With ``interval`` (``"confidence"`` or ``"prediction"``, on a fitted profile) the
        volume comes as an :class:`Interval` at ``level`` (``PHVcDll``, delta method).
        """
        if interval is not None:
            if accurate:
                raise ValueError("interval goes with the closed-form volume, not accurate=True")
            record, keep = self._record()
            out = [ctypes.c_double() for _ in range(3)]
            code = _lib.load_library().PHVcDll(
                ctypes.byref(record), self.dbh, self.height, lower_height, upper_height,
                lower_diam, upper_diam, log_length, self._kind(interval), level,
                *(ctypes.byref(o) for o in out),
            )  # fmt: skip
            del keep
            if code != 0:
                raise _interval_error(code)
            return Interval(out[0].value, out[1].value, out[2].value)
        self._warn_of_findings(accurate)
        lib = _lib.load_library()
        volume: float = (lib.PHVaDll if accurate else lib.PHViDll)(
            *self.model_args(), lower_height, upper_height, lower_diam, upper_diam, log_length
        )
        return volume

    def form_factor(self) -> float:
        """Form factor of the relative profile (closed form; warns as ``volume`` does)."""
        self._warn_of_findings()
        form_factor: float = _lib.load_library().PHFFDll(self._coefs, self._exps, self._terms)
        return form_factor

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
        count: int = _lib.load_library().PHCTDll(
            *self.model_args(), lower_height, upper_height, lower_diam, upper_diam, log_length
        )
        return count

    # -- many values ---------------------------------------------------------
    @overload
    def diameters(  # type: ignore[misc]  # an ndarray is iterable too: the first match wins
        self, heights: np.ndarray[Any, Any] | np.generic
    ) -> npt.NDArray[np.float64]: ...
    @overload
    def diameters(self, heights: Iterable[float]) -> list[float]: ...
    def diameters(self, heights: Any) -> Any:
        """``diameter`` at each height: an ndarray for an ndarray, a list otherwise."""
        fn: Callable[..., float] = _lib.load_library().PHDiDll
        args = self.model_args()
        return map_values(lambda h: fn(*args, h), heights)

    @overload
    def heights_at(  # type: ignore[misc]  # an ndarray is iterable too: the first match wins
        self, diameters: np.ndarray[Any, Any] | np.generic
    ) -> npt.NDArray[np.float64]: ...
    @overload
    def heights_at(self, diameters: Iterable[float]) -> list[float]: ...
    def heights_at(self, diameters: Any) -> Any:
        """``height_at`` for each diameter: an ndarray for an ndarray, a list otherwise."""
        fn: Callable[..., float] = _lib.load_library().PHHiDll
        args = self.model_args()
        return map_values(lambda d: fn(*args, d), diameters)

    @overload
    def section_volumes(  # type: ignore[misc]  # an ndarray is iterable too: the first match wins
        self, heights: np.ndarray[Any, Any], *, accurate: bool = False
    ) -> npt.NDArray[np.float64]: ...
    @overload
    def section_volumes(
        self, heights: Iterable[float], *, accurate: bool = False
    ) -> list[float]: ...
    def section_volumes(self, heights: Any, *, accurate: bool = False) -> Any:
        """Volumes between consecutive heights (one fewer than given): ``volume(h[i], h[i+1],
        accurate=accurate)`` for each i. An ndarray for an ndarray, a list otherwise."""
        self._warn_of_findings(accurate)
        lib = _lib.load_library()
        fn, args = (lib.PHVaDll if accurate else lib.PHViDll), self.model_args()
        array = is_ndarray(heights)
        if array and heights.ndim != 1:
            raise ValueError("section_volumes takes a one-dimensional array of heights")
        cuts = map_values(float, heights.tolist() if array else heights)
        volumes = [fn(*args, a, b, 0.0, 0.0, 0.0) for a, b in zip(cuts, cuts[1:])]
        return sys.modules["numpy"].array(volumes, dtype="float64") if array else volumes

    # -- files ---------------------------------------------------------------
    @classmethod
    def from_json(cls, source: str | os.PathLike[str] | Mapping[str, Any]) -> Taper:
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
        values: dict[str, Any] = {}
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
    #: The coefficients' covariance, row-major (of the constrained estimator with tip_zero).
    covariance: tuple[float, ...] = ()
    residual_df: int = 0
    tip_zero: bool = False
    #: A mixed-effects fit: its random terms (indices), their exponents and covariance (rows
    #: in that order), the residual standard deviation, REML log-likelihood and search.
    random_terms: tuple[int, ...] = ()
    random_exps: tuple[float, ...] = ()
    random_covariance: tuple[tuple[float, ...], ...] = ()
    residual_sd: float = 0.0
    reml_loglik: float = 0.0
    converged: bool = True
    iterations: int = 0

    def statistics(self) -> FitCovariance:
        """What the intervals and the calibration of the fitted profile need."""
        if self.random_terms:
            return FitCovariance(
                self.covariance, self.residual_sd * self.residual_sd, 0.0, self.random_terms,
                tuple(v for row in self.random_covariance for v in row),
            )  # fmt: skip
        return FitCovariance(
            self.covariance, self.residual_std_error * self.residual_std_error,
            float(self.residual_df),
        )  # fmt: skip

    def taper(
        self, dbh: float, height: float, measured: Iterable[tuple[float, float]] | None = None
    ) -> Taper:
        """The fitted profile on a tree of this ``dbh`` (cm) and total ``height`` (m), with the
        fit's covariances for intervals; with ``measured`` (``(height, diameter)`` pairs) the
        curve calibrated to this tree (see :meth:`Taper.calibrate`)."""
        tree = Taper(dbh, height, self.coefs, self.exps, statistics=self.statistics())
        return tree if measured is None else tree.calibrate(measured)

    def check(self, dbh: float, height: float) -> ModelCheck:
        """The library's model check of the fitted profile on such a tree."""
        return self.taper(dbh, height).check()


def fit_taper(
    data: Mapping[str, Iterable[Any]] | Any,
    *,
    exps: Sequence[float] | None = None,
    select: bool = False,
    candidates: Sequence[float] | None = None,
    max_terms: int | None = None,
    by: str | None = None,
    tip_zero: bool = False,
    random: Sequence[int] | None = None,
) -> Any:
    """Fits the relative profile to measurements.

    ``data`` is a pandas DataFrame or a mapping of columns ``dbh``, ``height``, ``h`` and ``d``
    (a missing value, NaN, skips its row; so do rows with dbh or height at or below 0 and ``h``
    outside ``[0, height]``; ``rows_skipped`` counts them). With ``exps`` (the library's default,
    0 to 5, when None) those exponents are fitted; with ``select=True`` they are chosen stepwise
    from ``candidates`` (the library's default set when None) with exponent 0 always in and at
    most ``max_terms`` terms (the library's default, 8, when None).
    Returns a :class:`TaperFit`, or with ``by`` (the name of a grouping column) a dict of them by
    group value, in the order the groups first appear. Raises :class:`XylotrakFitError` when the
    library cannot fit (too few rows, a rank-deficient design).

    ``tip_zero=True`` fits through the tip (the coefficients sum to 0; ``PHFcDll``/``PHFwDll``).
    ``random`` (term indices, e.g. ``[0, 1]``) fits random tree effects on those terms by REML
    (``PHFmDll``); the trees are told apart by the column ``id``. Every fit carries the
    coefficients' covariance, and its :meth:`TaperFit.taper` gives intervals.
    """
    fits = _fit.fit(data, by, exps, select, candidates, max_terms, tip_zero, random)
    if by is None:
        return TaperFit(**fits[None])
    return {key: TaperFit(**fields) for key, fields in fits.items()}
