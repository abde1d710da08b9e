"""Fitting taper models to measured stems (``PHFcDll``, ``PHFwDll``, ``PHFmDll``).

A measurement is one diameter ``d`` (cm) at a height ``h`` (m) on a tree of diameter at breast
height ``dbh`` (cm) and total height ``height`` (m). The fit is of the relative profile
``d / dbh = sum(coefs[k] * (h / height) ** exps[k])`` by least squares, or with random tree
effects by REML. :func:`fit_taper` and :class:`TaperFit` live beside the
:class:`~xylotrak.taper.Taper` they make; this module names the fitting's public parts.
"""

from __future__ import annotations

from ._fit import DEFAULT_EXPS, XylotrakFitError
from .taper import TaperFit, fit_taper

__all__ = ["DEFAULT_EXPS", "TaperFit", "XylotrakFitError", "fit_taper"]
