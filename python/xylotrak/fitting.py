"""Fitting taper models to measured stems (``PHFcDll``, ``PHFwDll``, ``PHFmDll``).

A measurement is one diameter ``d`` (cm) at a height ``h`` (m) on a tree of diameter at breast
height ``dbh`` (cm) and total height ``height`` (m). The fit is of the relative profile
``d / dbh = sum(coefs[k] * (h / height) ** exps[k])`` by least squares, or with random tree
effects by REML. :func:`fit_taper` and :class:`TaperFit` live beside the
:class:`~xylotrak.taper.Taper` they make; this module names the fitting's public parts.
"""

from __future__ import annotations

from typing import Any

from . import _fit
from ._fit import XylotrakFitError
from .taper import TaperFit, fit_taper

__all__ = ["DEFAULT_EXPS", "TaperFit", "XylotrakFitError", "fit_taper"]


def __getattr__(name: str) -> Any:
    # DEFAULT_EXPS is the library's, read on first use (see xylotrak._fit).
    if name == "DEFAULT_EXPS":
        return _fit.DEFAULT_EXPS
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
