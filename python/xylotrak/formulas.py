"""Basal area, quadratic mean diameter, log volume formulas and the plot calculator."""

from __future__ import annotations

import ctypes
import dataclasses
from collections.abc import Iterable
from typing import TYPE_CHECKING, Any, overload

from . import _lib
from ._input import int16
from ._vector import map_values

if TYPE_CHECKING:
    import numpy as np
    import numpy.typing as npt

__all__ = [
    "PlotArea",
    "basal_area",
    "basal_areas",
    "cone_volume",
    "cylinder_volume",
    "huber_volume",
    "neiloid_volume",
    "newton_volume",
    "plot_area",
    "quadratic_mean_diameter",
    "smalian_volume",
]

_REJECTED = -1.0  # what a formula export answers for a negative or NaN argument


def _call(export: str, name: str, **arguments: float) -> float:
    result: float = getattr(_lib.load_library(), export)(*arguments.values())
    if result == _REJECTED:
        shown = ", ".join(f"{key}={value!r}" for key, value in arguments.items())
        raise ValueError(f"{name}: every argument must be 0 or more and not NaN ({shown})")
    return result


def basal_area(diameter: float) -> float:
    """Basal area (m^2) of a diameter (cm)."""
    return _call("gDll", "basal_area", diameter=diameter)


@overload
def basal_areas(  # type: ignore[misc]  # an ndarray is iterable too: the first match wins
    diameters: np.ndarray[Any, Any] | np.generic,
) -> npt.NDArray[np.float64]: ...
@overload
def basal_areas(diameters: Iterable[float]) -> list[float]: ...
def basal_areas(diameters: Any) -> Any:
    """``basal_area`` of each diameter: an ndarray for an ndarray, a list otherwise."""
    return map_values(basal_area, diameters)


def quadratic_mean_diameter(basal_area: float, tree_count: float) -> float:
    """Quadratic mean diameter (cm) of ``tree_count`` trees with a total ``basal_area`` (m^2).
    A tree_count of 0 gives infinity (NaN when basal_area is 0 too)."""
    return _call("dgDll", "quadratic_mean_diameter", basal_area=basal_area, tree_count=tree_count)


def huber_volume(diameter: float, length: float) -> float:
    """Huber volume (m^3) of a log from its mid-length diameter (cm) and length (m)."""
    return _call("VTHuDll", "huber_volume", diameter=diameter, length=length)


def cylinder_volume(diameter: float, length: float) -> float:
    """Cylinder volume (m^3) of a diameter (cm) and length (m)."""
    return _call("VTCiDll", "cylinder_volume", diameter=diameter, length=length)


def smalian_volume(diameter1: float, diameter2: float, length: float) -> float:
    """Smalian volume (m^3): the mean of the end basal areas times the length."""
    return _call(
        "VTSmDll", "smalian_volume", diameter1=diameter1, diameter2=diameter2, length=length
    )


def newton_volume(diameter1: float, mid_diameter: float, diameter2: float, length: float) -> float:
    """Newton volume (m^3): (g1 + 4 gm + g2) / 6 times the length."""
    return _call(
        "VTNwDll", "newton_volume",
        diameter1=diameter1, mid_diameter=mid_diameter, diameter2=diameter2, length=length,
    )  # fmt: skip


def neiloid_volume(diameter1: float, diameter2: float, length: float) -> float:
    """Neiloid-frustum volume (m^3) from the end diameters (cm) and the length (m)."""
    return _call(
        "VTNeDll", "neiloid_volume", diameter1=diameter1, diameter2=diameter2, length=length
    )


def cone_volume(diameter1: float, diameter2: float, length: float) -> float:
    """Cone-frustum volume (m^3) from the end diameters (cm) and the length (m)."""
    return _call("VTCoDll", "cone_volume", diameter1=diameter1, diameter2=diameter2, length=length)


@dataclasses.dataclass(frozen=True)
class PlotArea:
    area: float
    length1: float
    length2: float


def plot_area(
    *,
    area: float = 0,
    length1: float = 0,
    length2: float = 0,
    slope1: float = 0,
    slope2: float = 0,
    slope_correction: bool = False,
    rectangular: bool = False,
    unit_scale: int = 0,
    area_unit: int = 0,
) -> PlotArea:
    """A plot's horizontal area and its dimensions measured along the slope.

    Circular plot: an ``area`` gives the radius ``length1``, else a radius gives the area.
    Rectangular plot: an area with one side gives the other (``length1`` preferred as the given
    one), two sides give the area. A given area always wins. ``area_unit`` 1 reads the area in
    hectares, 2 in ares, other values in square length units; ``unit_scale`` 5 multiplies that
    factor by 10000. With ``slope_correction`` each length is reduced by the cosine of its slope
    (degrees), when both slopes are below 90 in magnitude. Inputs that determine nothing come
    back unchanged (lengths as absolute values).
    """
    codes = []
    for name, value in (("unit_scale", unit_scale), ("area_unit", area_unit)):
        if isinstance(value, bool) or not isinstance(value, int):
            raise TypeError(f"plot_area: {name} must be an int, got {value!r}")
        codes.append(int16(value))
    outputs = [ctypes.c_double() for _ in range(3)]
    _lib.load_library().CalcAreaDll(
        area, length1, length2, slope1, slope2, int(bool(slope_correction)),
        int(bool(rectangular)), codes[0], codes[1], *(ctypes.byref(o) for o in outputs),
    )  # fmt: skip
    return PlotArea(*(o.value for o in outputs))
