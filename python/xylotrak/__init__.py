"""Python binding of the Xylotrak forest-mensuration library (ctypes, no compiler needed).

The shared library is looked for, on first use, through ``XYLOTRAK_LIBRARY``, then next to the
package, then in the repository's ``build/`` folder, then by the system's library search.
``xylotrak.dask`` (optional, needs Dask) bucks whole inventories on a cluster.
"""

from typing import Any

from . import accounting
from ._input import InputFileError
from ._lib import LogEntry, ProductSpec, XylotrakLibraryNotFound, library_path, load_library
from .bucking import (
    BuckingResult,
    Heights,
    Log,
    Outcome,
    ProductResult,
    Totals,
    buck,
    buck_optimal,
)
from .formulas import (
    PlotArea,
    basal_area,
    basal_areas,
    cone_volume,
    cylinder_volume,
    huber_volume,
    neiloid_volume,
    newton_volume,
    plot_area,
    quadratic_mean_diameter,
    smalian_volume,
)
from .fitting import TaperFit, XylotrakFitError, fit_taper
from .harvest import XylotrakHprError, harvest_audit, read_hpr
from .inventory import buck_inventory
from .products import RECORD_NAMES, Product, load_products
from . import taper
from .taper import FitCovariance, Interval, ModelCheck, Taper, XylotrakModelWarning


def __getattr__(name: str) -> Any:
    # The version is the loaded library's own (defined once, by its build); the findings'
    # codes are the library's too. Both are read when first asked for.
    if name == "__version__":
        version: bytes = load_library().xylotrak_version()
        return version.decode("ascii")
    if name == "FINDINGS":
        return taper.FINDINGS
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


__all__ = [
    "BuckingResult",
    "FINDINGS",
    "FitCovariance",
    "Heights",
    "Interval",
    "InputFileError",
    "Log",
    "LogEntry",
    "ModelCheck",
    "Outcome",
    "PlotArea",
    "Product",
    "ProductResult",
    "ProductSpec",
    "RECORD_NAMES",
    "Taper",
    "TaperFit",
    "Totals",
    "XylotrakFitError",
    "XylotrakHprError",
    "XylotrakLibraryNotFound",
    "XylotrakModelWarning",
    "accounting",
    "basal_area",
    "basal_areas",
    "buck",
    "buck_inventory",
    "buck_optimal",
    "cone_volume",
    "cylinder_volume",
    "fit_taper",
    "harvest_audit",
    "huber_volume",
    "library_path",
    "load_library",
    "load_products",
    "neiloid_volume",
    "newton_volume",
    "plot_area",
    "quadratic_mean_diameter",
    "read_hpr",
    "smalian_volume",
]
