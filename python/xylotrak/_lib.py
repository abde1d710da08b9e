"""Finding and loading the shared library, its records and its function signatures.

The library is loaded on first use (or by an explicit ``load_library()``), so importing the
package never fails for want of it: a process that only builds Dask graphs does not need it.
"""

from __future__ import annotations

import ctypes
import ctypes.util
import os
import sys
import functools
import threading
from collections.abc import Iterable
from pathlib import Path
from typing import Any

__all__ = [
    "INVENTORY_CALLBACK",
    "LOG_ROWS",
    "FitStats",
    "InventoryBlock",
    "InventoryParams",
    "LogEntry",
    "ProductSpec",
    "TaperModel",
    "TreeResult",
    "XylotrakLibraryNotFound",
    "library_candidates",
    "load_library",
]

#: Rows of the log table passed to the bucking exports (row 0 the stump).
LOG_ROWS = 100

_PACKAGE_DIR = Path(__file__).resolve().parent
_REPO_BUILD_LIBRARY = _PACKAGE_DIR.parent.parent / "build" / "libxylotrak.so"


class XylotrakLibraryNotFound(OSError):
    """No Xylotrak shared library could be loaded from any of the places tried."""

    def __init__(self, tried: list[tuple[str, str]]):
        self.tried = tried
        lines = [f"  {place}: {why}" for place, why in tried]
        super().__init__(
            "cannot load the Xylotrak shared library (libxylotrak); tried:\n"
            + "\n".join(lines)
            + "\nSet XYLOTRAK_LIBRARY to the path of libxylotrak.so."
        )


# ---------------------------------------------------------------------------
# Records. The host fills them by byte offset, so the layout is checked below.
# ---------------------------------------------------------------------------
_d = ctypes.c_double
_i16 = ctypes.c_int16


class ProductSpec(ctypes.Structure):
    """One product of the product table (144 bytes); inputs first, results from logCount on."""

    _fields_ = [
        ("minTopDiam", _d),
        ("maxTopDiam", _d),
        ("minBaseDiam", _d),
        ("maxBaseDiam", _d),
        ("minLength", _d),
        ("maxLength", _d),
        ("unitPrice", _d),
        ("priceBasis", _i16),
        ("logPosition", _i16),
        ("heightRule", _i16),
        ("reserved0", _i16),
        ("lossFraction", _d),
        ("trimLength", _d),
        ("logCount", _i16),
        ("reserved1", _i16 * 3),
        ("volumeSum", _d),
        ("valueSum", _d),
        ("lastTopHeight", _d),
        ("lastTopDiam", _d),
        ("lengthSum", _d),
        ("meanTopDiam", _d),
        ("weightedTopDiam", _d),
    ]


class LogEntry(ctypes.Structure):
    """One row of the 100-row log table (80 bytes)."""

    _fields_ = [
        ("logNumber", _i16),
        ("productNumber", _i16),
        ("reserved0", _i16 * 2),
        ("baseHeight", _d),
        ("length", _d),
        ("topHeight", _d),
        ("trimTopHeight", _d),
        ("baseDiam", _d),
        ("topDiam", _d),
        ("trimTopDiam", _d),
        ("volume", _d),
        ("value", _d),
    ]


PRODUCT_SPEC_LAYOUT = (
    144,
    {
        "minTopDiam": 0, "maxTopDiam": 8, "minBaseDiam": 16, "maxBaseDiam": 24,
        "minLength": 32, "maxLength": 40, "unitPrice": 48, "priceBasis": 56,
        "logPosition": 58, "heightRule": 60, "reserved0": 62, "lossFraction": 64,
        "trimLength": 72, "logCount": 80, "reserved1": 82, "volumeSum": 88,
        "valueSum": 96, "lastTopHeight": 104, "lastTopDiam": 112, "lengthSum": 120,
        "meanTopDiam": 128, "weightedTopDiam": 136,
    },
)  # fmt: skip
LOG_ENTRY_LAYOUT = (
    80,
    {
        "logNumber": 0, "productNumber": 2, "reserved0": 4, "baseHeight": 8, "length": 16,
        "topHeight": 24, "trimTopHeight": 32, "baseDiam": 40, "topDiam": 48,
        "trimTopDiam": 56, "volume": 64, "value": 72,
    },
)  # fmt: skip


def _check_layout(record: type[ctypes.Structure], layout: tuple[int, dict[str, int]]) -> None:
    size, offsets = layout
    actual = {field[0]: getattr(record, field[0]).offset for field in record._fields_}
    if ctypes.sizeof(record) != size or actual != offsets:
        raise ImportError(
            f"{record.__name__} does not match the library's layout: "
            f"size {ctypes.sizeof(record)} (want {size}), offsets {actual} (want {offsets})"
        )




class FitStats(ctypes.Structure):
    """Statistics of a fitted taper model (56 bytes); relative diameter unless in cm."""

    _fields_ = [
        ("residualStdError", _d),
        ("rSquared", _d),
        ("bias", _d),
        ("diameterRmse", _d),
        ("diameterBias", _d),
        ("rowsUsed", ctypes.c_int64),
        ("rowsSkipped", ctypes.c_int64),
    ]


FIT_STATS_LAYOUT = (
    56,
    {
        "residualStdError": 0, "rSquared": 8, "bias": 16, "diameterRmse": 24,
        "diameterBias": 32, "rowsUsed": 40, "rowsSkipped": 48,
    },
)  # fmt: skip


class MixedStats(ctypes.Structure):
    """What a REML fit reports besides its matrices (48 bytes)."""

    _fields_ = [
        ("residualSd", _d),
        ("remlLogLik", _d),
        ("rowsUsed", ctypes.c_int64),
        ("rowsSkipped", ctypes.c_int64),
        ("trees", ctypes.c_int64),
        ("iterations", ctypes.c_int32),
        ("convergence", ctypes.c_int32),
    ]


class TaperFitRecord(ctypes.Structure):
    """A fitted model with its covariances, as the interval exports read it (72 bytes)."""

    _fields_ = [
        ("coefs", ctypes.POINTER(_d)),
        ("exps", ctypes.POINTER(_d)),
        ("covariance", ctypes.POINTER(_d)),
        ("randomTerms", ctypes.POINTER(ctypes.c_int32)),
        ("randomCovariance", ctypes.POINTER(_d)),
        ("residualVariance", _d),
        ("degreesOfFreedom", _d),
        ("termCount", ctypes.c_int32),
        ("randomCount", ctypes.c_int32),
        ("flags", ctypes.c_int32),
        ("reserved0", ctypes.c_int32),
    ]


class TaperModel(ctypes.Structure):
    """One model of an inventory's model table (24 bytes)."""

    _fields_ = [
        ("coefs", ctypes.POINTER(_d)),
        ("exps", ctypes.POINTER(_d)),
        ("termCount", ctypes.c_int32),
        ("reserved0", ctypes.c_int32),
    ]


class InventoryParams(ctypes.Structure):
    """The bucking arguments of an inventory call (56 bytes)."""

    _fields_ = [
        ("startHeight", _d),
        ("topHeightLimit", _d),
        ("stumpHeight", _d),
        ("stumpTrim", _d),
        ("heightLimit", _d),
        ("method", ctypes.c_int32),
        ("objective", ctypes.c_int32),
        ("threads", ctypes.c_int32),
        ("flags", ctypes.c_int32),
    ]


class TreeResult(ctypes.Structure):
    """What became of one tree of an inventory call (96 bytes)."""

    _fields_ = [
        ("tree", ctypes.c_int64),
        ("status", ctypes.c_int32),
        ("method", ctypes.c_int32),
        ("outcome", _d),
        ("totals", _d * 8),
        ("logCount", ctypes.c_int32),
        ("firstRow", ctypes.c_int32),
    ]


class InventoryBlock(ctypes.Structure):
    """A run of bucked trees handed to the inventory callback (40 bytes)."""

    _fields_ = [
        ("firstTree", ctypes.c_int64),
        ("treeCount", ctypes.c_int32),
        ("rowCount", ctypes.c_int32),
        ("trees", ctypes.POINTER(TreeResult)),
        ("rows", ctypes.POINTER(LogEntry)),
        ("products", ctypes.POINTER(ProductSpec)),
    ]


class MeasuredStem(ctypes.Structure):
    """A stem as measured diameters, with its bark curve and grade zones (64 bytes)."""

    _fields_ = [
        ("positions", ctypes.POINTER(_d)),
        ("diameters", ctypes.POINTER(_d)),
        ("barkPositions", ctypes.POINTER(_d)),
        ("barkThickness", ctypes.POINTER(_d)),
        ("gradeStarts", ctypes.POINTER(_d)),
        ("grades", ctypes.POINTER(ctypes.c_int32)),
        ("pointCount", ctypes.c_int32),
        ("barkCount", ctypes.c_int32),
        ("gradeCount", ctypes.c_int32),
        ("reserved0", ctypes.c_int32),
    ]


class MatrixProduct(ctypes.Structure):
    """A product priced by a matrix of diameter and length classes (80 bytes)."""

    _fields_ = [
        ("diameterLimits", ctypes.POINTER(_d)),
        ("lengthLimits", ctypes.POINTER(_d)),
        ("prices", ctypes.POINTER(_d)),
        ("cells", ctypes.POINTER(ctypes.c_int8)),
        ("grades", ctypes.POINTER(ctypes.c_int32)),
        ("diameterMax", _d),
        ("lengthMax", _d),
        ("diameterClassCount", ctypes.c_int32),
        ("lengthClassCount", ctypes.c_int32),
        ("gradeCount", ctypes.c_int32),
        ("diameterPosition", ctypes.c_int16),
        ("diameterUnderBark", ctypes.c_int16),
        ("priceBasis", ctypes.c_int16),
        ("volumeRule", ctypes.c_int16),
        ("volumeLength", ctypes.c_int16),
        ("volumeUnderBark", ctypes.c_int16),
    ]


class MatrixLog(ctypes.Structure):
    """One log of a measured stem (72 bytes)."""

    _fields_ = [
        ("product", ctypes.c_int32),
        ("diameterClass", ctypes.c_int32),
        ("lengthClass", ctypes.c_int32),
        ("status", ctypes.c_int32),
        ("startCm", _d),
        ("lengthCm", _d),
        ("classDiameterMm", _d),
        ("diameterClassMm", _d),
        ("lengthClassCm", _d),
        ("volume", _d),
        ("value", _d),
    ]


class MatrixParams(ctypes.Structure):
    """How to buck a measured stem (24 bytes)."""

    _fields_ = [
        ("startCm", _d),
        ("method", ctypes.c_int32),
        ("resolutionCm", ctypes.c_int32),
        ("flags", ctypes.c_int32),
        ("reserved0", ctypes.c_int32),
    ]


class HprSpecies(ctypes.Structure):
    """A species group of a .hpr file (16 bytes)."""

    _fields_ = [("key", ctypes.c_int64), ("barkFunction", ctypes.c_int32),
                ("reserved0", ctypes.c_int32)]


class HprProduct(ctypes.Structure):
    """A product of a .hpr file (104 bytes)."""

    _fields_ = [("key", ctypes.c_int64), ("speciesGroupKey", ctypes.c_int64),
                ("matrix", MatrixProduct), ("supported", ctypes.c_int32),
                ("reserved0", ctypes.c_int32)]


class HprStem(ctypes.Structure):
    """A stem of a .hpr file (104 bytes)."""

    _fields_ = [("key", ctypes.c_int64), ("speciesGroupKey", ctypes.c_int64),
                ("dbhMm", _d), ("firstLog", ctypes.c_int64), ("logCount", ctypes.c_int32),
                ("reserved0", ctypes.c_int32), ("stem", MeasuredStem)]


class HprLog(ctypes.Structure):
    """A log cut, as a .hpr file gives it (112 bytes)."""

    _fields_ = [("stem", ctypes.c_int64), ("productKey", ctypes.c_int64),
                ("product", ctypes.c_int32), ("logKey", ctypes.c_int32), ("startCm", _d),
                ("lengthCm", _d), ("diameters", _d * 6), ("volumes", _d * 3)]


class HprNote(ctypes.Structure):
    """Something a .hpr file holds that is not supported (8 bytes)."""

    _fields_ = [("line", ctypes.c_int32), ("count", ctypes.c_int32)]


class AuditStem(ctypes.Structure):
    """The audit of one stem (64 bytes)."""

    _fields_ = [("stem", ctypes.c_int64), ("firstLog", ctypes.c_int64),
                ("actualLogCount", ctypes.c_int32), ("optimalLogCount", ctypes.c_int32),
                ("status", ctypes.c_int32), ("reserved0", ctypes.c_int32),
                ("actualValue", _d), ("actualValueModel", _d), ("optimalValue", _d),
                ("gain", _d)]


class AuditLog(ctypes.Structure):
    """A log of the audit: cut, or of the optimum (112 bytes)."""

    _fields_ = [("stem", ctypes.c_int64), ("productKey", ctypes.c_int64),
                ("optimal", ctypes.c_int32), ("reserved0", ctypes.c_int32),
                ("fileVolume", _d), ("fileValue", _d), ("log", MatrixLog)]


class AuditTotals(ctypes.Structure):
    """The sums of an audit (48 bytes)."""

    _fields_ = [("actualValue", _d), ("actualValueModel", _d), ("optimalValue", _d),
                ("actualValueOptimised", _d), ("stems", ctypes.c_int64),
                ("stemsOptimised", ctypes.c_int64)]


TAPER_MODEL_LAYOUT = (24, {"coefs": 0, "exps": 8, "termCount": 16, "reserved0": 20})
INVENTORY_PARAMS_LAYOUT = (
    56,
    {
        "startHeight": 0, "topHeightLimit": 8, "stumpHeight": 16, "stumpTrim": 24,
        "heightLimit": 32, "method": 40, "objective": 44, "threads": 48, "flags": 52,
    },
)  # fmt: skip
TREE_RESULT_LAYOUT = (
    96,
    {
        "tree": 0, "status": 8, "method": 12, "outcome": 16, "totals": 24, "logCount": 88,
        "firstRow": 92,
    },
)  # fmt: skip
INVENTORY_BLOCK_LAYOUT = (
    40,
    {"firstTree": 0, "treeCount": 8, "rowCount": 12, "trees": 16, "rows": 24, "products": 32},
)  # fmt: skip

#: The inventory callback: (context, block) -> 0 to go on, anything else to stop.
INVENTORY_CALLBACK = ctypes.CFUNCTYPE(
    ctypes.c_int32, ctypes.c_void_p, ctypes.POINTER(InventoryBlock)
)

_check_layout(ProductSpec, PRODUCT_SPEC_LAYOUT)
_check_layout(LogEntry, LOG_ENTRY_LAYOUT)
_check_layout(FitStats, FIT_STATS_LAYOUT)
if ctypes.sizeof(ctypes.c_void_p) == 8:
    _check_layout(TaperModel, TAPER_MODEL_LAYOUT)
    _check_layout(InventoryBlock, INVENTORY_BLOCK_LAYOUT)
_check_layout(InventoryParams, INVENTORY_PARAMS_LAYOUT)
_check_layout(TreeResult, TREE_RESULT_LAYOUT)

# ---------------------------------------------------------------------------
# Function signatures
# ---------------------------------------------------------------------------
_pd = ctypes.POINTER(ctypes.c_double)
_int = ctypes.c_int
_taper = [_d, _d, _pd, _pd, _int]  # dbh, totalHeight, coefs, exps, termCount
_limits = [_d, _d, _d, _d, _d]  # lowerHeight, upperHeight, lowerDiam, upperDiam, logLength
_bucking = [_d, _d, _d, _d, _d, _d, _d]  # startHeight ... heightLimit
_totals = [_pd] * 8

SIGNATURES: dict[str, tuple[Any, list[Any]]] = {
    "xylotrak_version": (ctypes.c_char_p, []),
    "tally_start": (ctypes.c_int32, []),
    "tally_stop": (ctypes.c_int32, []),
    "tally_status": (ctypes.c_int32, [_int]),
    "tally_count": (ctypes.c_int32, [_int]),
    "PHDiDll": (_d, _taper + [_d]),
    "PHHiDll": (_d, _taper + [_d]),
    "PHViDll": (_d, _taper + _limits),
    "PHFFDll": (_d, [_pd, _pd, _int]),
    "PHCTDll": (ctypes.c_int32, _taper + _limits),
    "PHCkDll": (ctypes.c_int32, _taper + [ctypes.POINTER(ctypes.c_int32)]),
    "PHVaDll": (_d, _taper + _limits),
    "PHFtDll": (
        ctypes.c_int32,
        [_pd, _pd, _pd, _pd, ctypes.c_int64, _pd, _int, _pd, _pd, ctypes.POINTER(FitStats)],
    ),
    "PHFsDll": (
        ctypes.c_int32,
        [_pd, _pd, _pd, _pd, ctypes.c_int64, _pd, _int, _int, _pd, _pd, _pd,
         ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(FitStats)],
    ),
    "PHFcDll": (
        ctypes.c_int32,
        [_pd, _pd, _pd, _pd, ctypes.c_int64, _pd, _int, _int, _pd, _pd, _pd,
         ctypes.POINTER(ctypes.c_int64), ctypes.POINTER(FitStats)],
    ),
    "PHFwDll": (
        ctypes.c_int32,
        [_pd, _pd, _pd, _pd, ctypes.c_int64, _pd, _int, _int, _int, _pd, _pd, _pd, _pd,
         ctypes.POINTER(ctypes.c_int32), ctypes.POINTER(ctypes.c_int64),
         ctypes.POINTER(FitStats)],
    ),
    "PHFmDll": (
        ctypes.c_int32,
        [_pd, _pd, _pd, _pd, ctypes.POINTER(ctypes.c_int64), ctypes.c_int64, _pd, _int,
         ctypes.POINTER(ctypes.c_int32), _int, _pd, _pd, _pd, _pd, ctypes.POINTER(MixedStats)],
    ),
    "PHDcDll": (
        ctypes.c_int32,
        [ctypes.POINTER(TaperFitRecord), _d, _d, _d, _int, _d, _pd, _pd, _pd],
    ),
    "PHVcDll": (
        ctypes.c_int32,
        [ctypes.POINTER(TaperFitRecord), _d, _d, _d, _d, _d, _d, _d, _int, _d, _pd, _pd, _pd],
    ),
    "PHCbDll": (
        ctypes.c_int32,
        [ctypes.POINTER(TaperFitRecord), _d, _d, _pd, _pd, _int, _pd, _pd,
         ctypes.POINTER(ctypes.c_int32)],
    ),
    "gDll": (_d, [_d]),
    "dgDll": (_d, [_d, _d]),
    "VTHuDll": (_d, [_d, _d]),
    "VTCiDll": (_d, [_d, _d]),
    "VTSmDll": (_d, [_d, _d, _d]),
    "VTNwDll": (_d, [_d, _d, _d, _d]),
    "VTNeDll": (_d, [_d, _d, _d]),
    "VTCoDll": (_d, [_d, _d, _d]),
    "CalcAreaDll": (ctypes.c_int16, [_d, _d, _d, _d, _d, _int, _int, _int, _int, _pd, _pd, _pd]),
    "PHVsDll": (
        _d,
        _taper + _bucking + [ctypes.POINTER(ProductSpec), _int] + _totals
        + [ctypes.POINTER(LogEntry)],
    ),
    "PHVoDll": (
        _d,
        _taper + _bucking + [ctypes.POINTER(ProductSpec), _int, _int] + _totals
        + [ctypes.POINTER(LogEntry)],
    ),
    "PHVxDll": (
        _d,
        _taper + _bucking + [ctypes.POINTER(ProductSpec), _int, _int] + _totals
        + [ctypes.POINTER(LogEntry)],
    ),
    "PHVbDll": (
        ctypes.c_int32,
        [_pd, _pd, ctypes.POINTER(ctypes.c_int32), ctypes.c_int64, ctypes.POINTER(TaperModel),
         ctypes.c_int32, ctypes.POINTER(ProductSpec), _int, ctypes.POINTER(InventoryParams),
         INVENTORY_CALLBACK, ctypes.c_void_p],
    ),
    "PHMlDll": (
        ctypes.c_int32,
        [ctypes.POINTER(MeasuredStem), ctypes.POINTER(MatrixProduct), ctypes.c_int32, _d, _d,
         _int, ctypes.POINTER(MatrixLog)],
    ),
    "PHMbDll": (
        ctypes.c_int32,
        [ctypes.POINTER(MeasuredStem), ctypes.POINTER(MatrixProduct), _int,
         ctypes.POINTER(MatrixParams), ctypes.POINTER(MatrixLog), ctypes.c_int32,
         ctypes.POINTER(ctypes.c_int32), _pd],
    ),
    "PHMtDll": (ctypes.c_int32, _taper + [_d, _pd, _pd, ctypes.c_int32]),
    "HPRoDll": (
        ctypes.c_int32,
        [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p), ctypes.POINTER(ctypes.c_uint16),
         ctypes.c_int32],
    ),
    "HPRpDll": (
        ctypes.c_int32,
        [ctypes.c_char_p, ctypes.c_int64, ctypes.POINTER(ctypes.c_void_p),
         ctypes.POINTER(ctypes.c_uint16), ctypes.c_int32],
    ),
    "HPRcDll": (None, [ctypes.c_void_p]),
    "xylotrak_words": (ctypes.c_int32, [_int, _int, ctypes.POINTER(ctypes.c_uint16), ctypes.c_int32]),
    "xylotrak_bucking_default": (_d, [_int]),
    "xylotrak_product_default": (ctypes.c_int32, [ctypes.POINTER(ProductSpec)]),
    "xylotrak_fit_default": (ctypes.c_int32, [_int, _pd, ctypes.c_int32]),
    "PHZnDll": (ctypes.c_int32, _taper + [_d, _d, ctypes.POINTER(LogEntry), _pd, _pd]),
    "HPRnDll": (ctypes.c_int64, [ctypes.c_void_p, _int]),
    "HPRrDll": (
        ctypes.c_int32,
        [ctypes.c_void_p, _int, ctypes.c_int64, ctypes.c_void_p, ctypes.POINTER(ctypes.c_uint16),
         ctypes.c_int32],
    ),
    "HPRaDll": (ctypes.c_int32, [ctypes.c_void_p, ctypes.c_int32, ctypes.POINTER(AuditTotals)]),
}  # fmt: skip


# ---------------------------------------------------------------------------
# Lookup
# ---------------------------------------------------------------------------
def _library_file_names() -> list[str]:
    if sys.platform == "win32":
        return ["xylotrak.dll"]
    if sys.platform == "darwin":
        return ["libxylotrak.dylib"]
    return ["libxylotrak.so", "libxylotrak.so.0"]


def _bundled_libraries() -> list[Path]:
    """The library files in the package folder: an installed wheel holds the library there under
    its SONAME (``libxylotrak.so.<major>``), the name the loader wants."""
    names = _library_file_names()
    found = [_PACKAGE_DIR / name for name in names]
    if sys.platform not in ("win32", "darwin"):
        for path in sorted(_PACKAGE_DIR.glob("libxylotrak.so.*")):
            if path.name not in names:
                found.append(path)
    return found


def library_candidates() -> list[tuple[str, str | None]]:
    """The places the library is looked for, in order, as (description, path-or-None).

    ``XYLOTRAK_LIBRARY`` when set (and then nothing else: a library named on purpose is never
    silently replaced by another one); otherwise the library bundled in the package's own folder
    (where a wheel installs it), the folder that holds the package, the repository's ``build/``
    folder, and the system's library search (``ctypes.util.find_library``).
    """
    named = os.environ.get("XYLOTRAK_LIBRARY", "")
    if named:
        return [("XYLOTRAK_LIBRARY", named)]
    places: list[tuple[str, str | None]] = []
    for path in _bundled_libraries():
        places.append(("bundled with the package", str(path)))
    for name in _library_file_names():
        places.append(("next to the package", str(_PACKAGE_DIR.parent / name)))
    places.append(("repository build", str(_REPO_BUILD_LIBRARY)))
    found = ctypes.util.find_library("xylotrak")
    places.append(("system search (find_library('xylotrak'))", found))
    return places


_lock = threading.Lock()
_library: ctypes.CDLL | None = None


def _bind(cdll: ctypes.CDLL) -> ctypes.CDLL:
    for name, (restype, argtypes) in SIGNATURES.items():
        fn = getattr(cdll, name)  # AttributeError: not a Xylotrak library
        fn.restype = restype
        fn.argtypes = argtypes
    return cdll


def load_library() -> ctypes.CDLL:
    """Loads (once per process) and returns the library with every export's signature set.

    Raises XylotrakLibraryNotFound naming every place tried and why it failed.
    """
    global _library
    if _library is not None:
        return _library
    with _lock:
        if _library is not None:
            return _library
        tried: list[tuple[str, str]] = []
        for where, path in library_candidates():
            if path is None:
                tried.append((where, "not found"))
                continue
            if os.sep in path and not os.path.exists(path):
                tried.append((f"{where} {path}", "no such file"))
                continue
            try:
                cdll = ctypes.CDLL(path)
            except OSError as error:
                tried.append((f"{where} {path}", str(error)))
                continue
            try:
                _library = _bind(cdll)
                return _library
            except AttributeError as error:
                tried.append((f"{where} {path}", f"not the Xylotrak library ({error})"))
        raise XylotrakLibraryNotFound(tried)


def library_path() -> str:
    """The file name the library was loaded from (loads it if needed)."""
    return load_library()._name


def double_array(values: Iterable[float]) -> ctypes.Array[ctypes.c_double]:
    """A C array of doubles holding ``values``."""
    numbers = [float(v) for v in values]
    return (ctypes.c_double * len(numbers))(*numbers)


# The library's vocabularies (XYLOTRAK_WORDS_*), bucking defaults
# (XYLOTRAK_DEFAULT_*) and fit defaults (XYLOTRAK_FIT_DEFAULT_*), as
# xylotrak.h numbers them.
WORDS_FINDING = 0
WORDS_FINDING_TEXT = 1
WORDS_FIT_STATUS = 2
WORDS_FIT_MESSAGE = 3
WORDS_LOG_COLUMN = 4
WORDS_TOTALS_COLUMN = 5
WORDS_INTERVAL_MESSAGE = 6
WORDS_CALIBRATION_FLAG = 7
WORDS_MATRIX_MESSAGE = 8
WORDS_CONVERGENCE = 9
WORDS_CONVERGENCE_MESSAGE = 10
DEFAULT_STUMP_HEIGHT = 0
DEFAULT_STUMP_TRIM = 1
DEFAULT_START_HEIGHT = 2
DEFAULT_TOP_HEIGHT_LIMIT = 3
DEFAULT_HEIGHT_LIMIT = 4
FIT_DEFAULT_EXPS = 0
FIT_DEFAULT_CANDIDATES = 1
FIT_DEFAULT_MAX_TERMS = 2


@functools.cache
def words(vocabulary: int) -> tuple[str, ...]:
    """Every word of one of the library's vocabularies (``xylotrak_words``), in index order."""
    lib = load_library()
    found: list[str] = []
    while (n := lib.xylotrak_words(vocabulary, len(found), None, 0)) >= 0:
        text = (ctypes.c_uint16 * (n + 1))()
        lib.xylotrak_words(vocabulary, len(found), text, n + 1)
        found.append(bytes(text)[: 2 * n].decode("utf-16-le"))
    return tuple(found)


def word(vocabulary: int, index: int) -> str | None:
    """Word ``index`` of a vocabulary, or None where the library has none."""
    found = words(vocabulary)
    return found[index] if 0 <= index < len(found) else None


def bucking_default(which: int) -> float:
    """The library's default of a bucking argument (``xylotrak_bucking_default``)."""
    return float(load_library().xylotrak_bucking_default(which))


@functools.cache
def product_default() -> dict[str, float]:
    """A product record as ``xylotrak_product_default`` fills a cleared one, by record name: the
    defaults of the fields that may be left out (the others stay 0)."""
    record = ProductSpec()
    load_library().xylotrak_product_default(ctypes.byref(record))
    return {name: getattr(record, name) for name, _ in ProductSpec._fields_}


@functools.cache
def fit_default(which: int) -> tuple[float, ...]:
    """One of the library's fit defaults (``xylotrak_fit_default``)."""
    lib = load_library()
    n = lib.xylotrak_fit_default(which, None, 0)
    values = (ctypes.c_double * max(n, 1))()
    lib.xylotrak_fit_default(which, values, n)
    return tuple(values[:n]) if n > 0 else ()
