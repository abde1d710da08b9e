"""Harvester production files (.hpr): what they hold, and the value each harvest left on the table.

The library reads the file (pugixml) and does the audit; this module turns its tables into
pandas DataFrames (pandas is needed here).
"""

from __future__ import annotations

import ctypes
import math
import os
from typing import Any

from ._lib import (
    AuditLog,
    AuditStem,
    AuditTotals,
    HprLog,
    HprNote,
    HprProduct,
    HprSpecies,
    HprStem,
    load_library,
)

__all__ = ["XylotrakHprError", "read_hpr", "harvest_audit"]

_SPECIES, _PRODUCTS, _STEMS, _LOGS, _UNSUPPORTED, _AUDIT_STEMS, _AUDIT_LOGS = range(7)
_DIAMETERS = ("butt_ob", "butt_ub", "mid_ob", "mid_ub", "top_ob", "top_ub")
_VOLUMES = ("m3_price", "m3sob", "m3sub")


class XylotrakHprError(ValueError):
    """A .hpr file that cannot be read: the library's message, with the line and element."""


class _File:
    def __init__(self, path: str | os.PathLike[str]) -> None:
        self._lib = load_library()
        handle = ctypes.c_void_p()
        message = (ctypes.c_uint16 * 512)()
        code = self._lib.HPRoDll(os.fsencode(path), ctypes.byref(handle), message, 512)
        if code != 0:
            text = bytes(message).decode("utf-16-le").split("\0", 1)[0]
            raise XylotrakHprError(f"{os.fspath(path)}: {text}")
        self.handle = handle

    def close(self) -> None:
        if self.handle:
            self._lib.HPRcDll(self.handle)
            self.handle = ctypes.c_void_p()

    def rows(self, table: int) -> int:
        return int(self._lib.HPRnDll(self.handle, table))

    def row(self, table: int, i: int, record: ctypes.Structure) -> str:
        n = self._lib.HPRrDll(self.handle, table, i, ctypes.byref(record), None, 0)
        text = (ctypes.c_uint16 * (n + 1))()
        self._lib.HPRrDll(self.handle, table, i, ctypes.byref(record), text, n + 1)
        return bytes(text)[: 2 * n].decode("utf-16-le")


def _none_if_nan(v: float) -> float | None:
    return None if math.isnan(v) else v


def _tables(f: _File) -> dict[str, Any]:
    import pandas as pd  # type: ignore[import]  # pandas 1.5 ships no type information

    species = []
    for i in range(f.rows(_SPECIES)):
        s = HprSpecies()
        name = f.row(_SPECIES, i, s)
        species.append({"species_group_key": s.key, "name": name,
                        "bark_function_given": bool(s.barkFunction)})
    products = []
    for i in range(f.rows(_PRODUCTS)):
        p = HprProduct()
        name = f.row(_PRODUCTS, i, p)
        m = p.matrix
        products.append({
            "product_key": p.key, "name": name, "species_group_key": p.speciesGroupKey,
            "supported": bool(p.supported),
            "diameter_classes_mm": [m.diameterLimits[k] for k in range(m.diameterClassCount)],
            "diameter_max_mm": m.diameterMax,
            "length_classes_cm": [m.lengthLimits[k] for k in range(m.lengthClassCount)],
            "length_max_cm": m.lengthMax,
            "prices": [m.prices[k] for k in range(m.diameterClassCount * m.lengthClassCount)],
            "cells": [m.cells[k] for k in range(m.diameterClassCount * m.lengthClassCount)],
            "permitted_grades": [m.grades[k] for k in range(m.gradeCount)],
            "diameter_position": m.diameterPosition, "diameter_under_bark": bool(m.diameterUnderBark),
            "price_basis": m.priceBasis, "volume_rule": m.volumeRule,
            "volume_length": m.volumeLength, "volume_under_bark": bool(m.volumeUnderBark)})
    stems = []
    stem_keys = []
    for i in range(f.rows(_STEMS)):
        h = HprStem()
        f.row(_STEMS, i, h)
        st = h.stem
        stem_keys.append(h.key)
        stems.append({
            "stem_key": h.key, "species_group_key": h.speciesGroupKey,
            "dbh_mm": _none_if_nan(h.dbhMm), "log_count": h.logCount,
            "positions_cm": [st.positions[k] for k in range(st.pointCount)],
            "diameters_mm": [st.diameters[k] for k in range(st.pointCount)],
            "grade_starts_cm": [st.gradeStarts[k] for k in range(st.gradeCount)],
            "grades": [st.grades[k] for k in range(st.gradeCount)],
            "bark_positions_cm": [st.barkPositions[k] for k in range(st.barkCount)],
            "double_bark_mm": [st.barkThickness[k] for k in range(st.barkCount)]})
    logs = []
    for i in range(f.rows(_LOGS)):
        lg = HprLog()
        f.row(_LOGS, i, lg)
        row: dict[str, Any] = {"stem_key": stem_keys[lg.stem], "log_key": lg.logKey,
                               "product_key": lg.productKey, "start_cm": lg.startCm,
                               "length_cm": lg.lengthCm}
        row.update({f"diameter_{n}": lg.diameters[k] for k, n in enumerate(_DIAMETERS)})
        row.update({f"volume_{n}": lg.volumes[k] for k, n in enumerate(_VOLUMES)})
        logs.append(row)
    notes = []
    for i in range(f.rows(_UNSUPPORTED)):
        n = HprNote()
        what = f.row(_UNSUPPORTED, i, n)
        notes.append({"what": what, "line": n.line, "count": n.count})
    return {"species": pd.DataFrame(species), "products": pd.DataFrame(products),
            "stems": pd.DataFrame(stems), "logs": pd.DataFrame(logs),
            "unsupported": pd.DataFrame(notes, columns=["what", "line", "count"]),
            "_stem_keys": stem_keys}


def read_hpr(path: str | os.PathLike[str]) -> dict[str, Any]:
    """What a .hpr file holds, as DataFrames: ``species``, ``products``, ``stems`` (with their
    measured diameters, grade zones and bark points as lists), ``logs`` (the logs cut) and
    ``unsupported`` (what the library does not read, with the line and number of occurrences).
    Raises XylotrakHprError for a file that cannot be read."""
    f = _File(path)
    try:
        tables = _tables(f)
        del tables["_stem_keys"]
        return tables
    finally:
        f.close()


def harvest_audit(path: str | os.PathLike[str], resolution_cm: int = 1) -> dict[str, Any]:
    """The audit of a .hpr file, as ``xtk harvest`` prints it: ``stems`` (a DataFrame: stem_key,
    actual_value, actual_value_model, optimal_value, gain, no_optimum), ``logs`` (a DataFrame of
    the logs cut and the optimal logs, ``optimal`` telling them apart), ``totals`` (a dict) and
    ``unsupported`` (a DataFrame). The optimum's cuts lie on a grid of resolution_cm."""
    import pandas as pd

    f = _File(path)
    try:
        totals = AuditTotals()
        if f._lib.HPRaDll(f.handle, int(resolution_cm), ctypes.byref(totals)) != 0:
            raise ValueError("resolution_cm must lie between 1 and 1000")
        tables = _tables(f)
        keys = tables["_stem_keys"]
        stems = []
        for i in range(f.rows(_AUDIT_STEMS)):
            a = AuditStem()
            reason = f.row(_AUDIT_STEMS, i, a)
            stems.append({"stem_key": keys[a.stem], "actual_value": a.actualValue,
                          "actual_value_model": a.actualValueModel,
                          "optimal_value": a.optimalValue, "gain": a.gain,
                          "no_optimum": reason or None})
        logs = []
        for i in range(f.rows(_AUDIT_LOGS)):
            lg = AuditLog()
            f.row(_AUDIT_LOGS, i, lg)
            m = lg.log
            logs.append({"stem_key": keys[lg.stem], "optimal": bool(lg.optimal),
                         "product_key": lg.productKey, "start_cm": m.startCm,
                         "length_cm": m.lengthCm,
                         "diameter_class_mm": m.diameterClassMm if m.diameterClass >= 0 else None,
                         "length_class_cm": m.lengthClassCm if m.lengthClass >= 0 else None,
                         "volume": m.volume if lg.optimal else lg.fileVolume,
                         "value": lg.fileValue, "volume_model": m.volume,
                         "value_model": m.value, "status": m.status})
        return {"stems": pd.DataFrame(stems), "logs": pd.DataFrame(logs),
                "totals": {"actual_value": totals.actualValue,
                           "actual_value_model": totals.actualValueModel,
                           "optimal_value": totals.optimalValue,
                           "actual_value_optimised": totals.actualValueOptimised,
                           "stems": totals.stems, "stems_optimised": totals.stemsOptimised},
                "unsupported": tables["unsupported"]}
    finally:
        f.close()
