"""Library lookup, record layouts and the scalar calls against the exports themselves."""

import ctypes
import math
import os
import re
import subprocess
import sys

import pytest
from conftest import PYTHON_DIR, REPO, TREE, bits

import xylotrak
from xylotrak import _lib


def run_python(code, **env):
    environment = dict(os.environ, PYTHONPATH=str(PYTHON_DIR), **env)
    return subprocess.run([sys.executable, "-c", code], env=environment, capture_output=True,
                          text=True, timeout=60)


def test_record_layouts_match_the_header():
    header = (REPO / "include" / "xylotrak.h").read_text()
    records = {"ProductSpec": xylotrak.ProductSpec, "LogEntry": xylotrak.LogEntry,
               "xylotrak_fit_stats": _lib.FitStats, "xylotrak_taper_model": _lib.TaperModel,
               "xylotrak_inventory_params": _lib.InventoryParams,
               "xylotrak_tree_result": _lib.TreeResult,
               "xylotrak_inventory_block": _lib.InventoryBlock,
               "xylotrak_mixed_stats": _lib.MixedStats, "xylotrak_taper_fit": _lib.TaperFitRecord,
               "xylotrak_measured_stem": _lib.MeasuredStem,
               "xylotrak_matrix_product": _lib.MatrixProduct,
               "xylotrak_matrix_log": _lib.MatrixLog, "xylotrak_matrix_params": _lib.MatrixParams,
               "xylotrak_hpr_species": _lib.HprSpecies, "xylotrak_hpr_product": _lib.HprProduct,
               "xylotrak_hpr_stem": _lib.HprStem, "xylotrak_hpr_log": _lib.HprLog,
               "xylotrak_hpr_note": _lib.HprNote, "xylotrak_audit_stem": _lib.AuditStem,
               "xylotrak_audit_log": _lib.AuditLog, "xylotrak_audit_totals": _lib.AuditTotals}
    for name, size in re.findall(r"sizeof\((\w+)\) == (\d+)", header):
        assert ctypes.sizeof(records[name]) == int(size)
    checked = 0
    for name, field, offset in re.findall(r"offsetof\((\w+), (\w+)\) == (\d+)", header):
        assert getattr(records[name], field).offset == int(offset), (name, field)
        checked += 1
    fields = sum(len(r._fields_) for r in records.values())
    assert checked == fields == (22 + 12 + 7 + 4 + 9 + 7 + 6 + 7 + 11 + 10 + 16 + 11 + 5
                                 + 3 + 5 + 7 + 8 + 2 + 10 + 7 + 6)  # every member, padding too


def test_missing_library_is_a_clear_error():
    bad = "/nonexistent/dir/libxylotrak.so"
    result = run_python("import xylotrak\nxylotrak.basal_area(30)", XYLOTRAK_LIBRARY=bad)
    assert result.returncode != 0
    assert "XylotrakLibraryNotFound" in result.stderr and bad in result.stderr
    assert "no such file" in result.stderr
    # Importing alone does not need the library.
    assert run_python("import xylotrak", XYLOTRAK_LIBRARY=bad).returncode == 0


def test_every_place_tried_is_named(monkeypatch, tmp_path):
    not_a_library = tmp_path / "libxylotrak.so"
    not_a_library.write_text("text")
    other_library = ctypes.util.find_library("m")  # loads, but has no Xylotrak exports
    monkeypatch.setattr(_lib, "_library", None)
    monkeypatch.setattr(_lib, "library_candidates", lambda: [
        ("missing", str(tmp_path / "none.so")), ("text", str(not_a_library)),
        ("other", other_library), ("search", None)])
    with pytest.raises(xylotrak.XylotrakLibraryNotFound) as error:
        xylotrak.load_library()
    places = [place for place, _ in error.value.tried]
    assert len(places) == 4 and "none.so" in places[0] and str(not_a_library) in places[1]
    assert "not the Xylotrak library" in error.value.tried[2][1]
    assert "not found" in str(error.value)


def test_lookup_order(monkeypatch):
    monkeypatch.setenv("XYLOTRAK_LIBRARY", "/some/where.so")
    assert _lib.library_candidates() == [("XYLOTRAK_LIBRARY", "/some/where.so")]
    monkeypatch.delenv("XYLOTRAK_LIBRARY")
    places = [path for _, path in _lib.library_candidates()]
    package = os.path.dirname(xylotrak.__file__)
    assert places[0].startswith(package)
    assert places.index(str(REPO / "build" / "libxylotrak.so")) == len(places) - 2


def test_outcome_enum():
    assert [(o.name, o.value) for o in xylotrak.Outcome] == [
        ("NO_WINNER", 0), ("WINNER", 1), ("GIVEN_UP", 99)]
    assert xylotrak.Outcome.from_raw(99.0) is xylotrak.Outcome.GIVEN_UP
    assert xylotrak.Outcome.WINNER.raw == 1.0
    with pytest.raises(RuntimeError):
        xylotrak.Outcome.from_raw(2.0)


TAPER_CALLS = [
    ("diameter", "PHDiDll", [0.0, 1.3, 10.0, 29.9, 30.0, 35.0, -1.0, math.nan]),
    ("height_at", "PHHiDll", [40.0, 35.0, 20.0, 7.0, 0.0, -3.0]),
]
LIMITS = [(0, 0, 0, 0, 0), (0.3, 0, 0, 7, 0), (0.3, 0, 0, 7, 2.5), (2, 20, 0, 0, 3),
          (0, 0, 999, 0, 0), (0, 0, 30, 10, 0), (5, 2, 0, 0, 0), (math.nan, 0, 0, 0, 0)]


def test_taper_calls_equal_the_exports(raw):
    taper = xylotrak.Taper(*TREE)
    model = raw.model(TREE)
    for method, export, arguments in TAPER_CALLS:
        for x in arguments:
            assert bits(getattr(taper, method)(x)) == bits(getattr(raw, export)(*model, x))
    for limits in LIMITS:
        assert bits(taper.volume(*limits)) == bits(raw.PHViDll(*model, *limits))
        assert taper.log_count(*limits) == raw.PHCTDll(*model, *limits)
    assert bits(taper.volume(lower_height=0.3, upper_diam=7, log_length=2.5)) == bits(
        raw.PHViDll(*model, 0.3, 0, 0, 7, 2.5))
    assert bits(taper.form_factor()) == bits(raw.PHFFDll(model[2], model[3], model[4]))
    constant = xylotrak.Taper(20, 10, [0.5], [0])  # termCount 0
    assert bits(constant.diameter(3)) == bits(raw.PHDiDll(*raw.model((20, 10, [0.5], [0])), 3))


def test_taper_arguments_are_checked(tmp_path):
    with pytest.raises(ValueError, match="exps has 1"):
        xylotrak.Taper(30, 20, [1, -1], [0])
    with pytest.raises(ValueError):
        xylotrak.Taper(30, 20, [], [])
    path = tmp_path / "tree.json"
    path.write_text('{"dbh": 35, "height": 30, "coefs": [1.15, -0.6], "exps": [0, 0.5]}')
    assert xylotrak.Taper.from_json(path) == xylotrak.Taper(35, 30, [1.15, -0.6], [0, 0.5])
    for text, field in [('{"dbh": 35, "height": 30, "coefs": [1], "exp": [0]}', "exp"),
                        ('{"dbh": "35", "height": 30, "coefs": [1], "exps": [0]}', "dbh"),
                        ('{"dbh": 35, "coefs": [1], "exps": [0]}', "height"),
                        ('{"dbh": 35, "height": 30, "coefs": [1, 2], "exps": [0]}', "exps")]:
        path.write_text(text)
        with pytest.raises(xylotrak.InputFileError, match=f"tree.json: field '{field}'"):
            xylotrak.Taper.from_json(path)
    path.write_text('{"dbh": 35,\n "height": NaN}')
    with pytest.raises(xylotrak.InputFileError, match="tree.json"):
        xylotrak.Taper.from_json(path)


def test_vectorised_helpers_with_numpy(raw):
    np = pytest.importorskip("numpy")
    taper = xylotrak.Taper(*TREE)
    heights = np.array([[0.0, 1.3, 5.0], [12.5, 29.0, 31.0]])
    diameters = taper.diameters(heights)
    assert isinstance(diameters, np.ndarray) and diameters.shape == (2, 3)
    assert [bits(d) for d in diameters.ravel()] == [
        bits(taper.diameter(h)) for h in heights.ravel()]
    targets = np.arange(5.0, 40.0, 5.0)
    assert taper.heights_at(targets).tolist() == [taper.height_at(d) for d in targets]
    cuts = np.array([0.3, 4.3, 8.4, 12.0])
    volumes = taper.section_volumes(cuts)
    assert isinstance(volumes, np.ndarray)
    assert volumes.tolist() == [taper.volume(a, b) for a, b in zip(cuts[:-1], cuts[1:])]
    assert xylotrak.basal_areas(np.array([10.0, 20.0])).tolist() == [
        raw.gDll(10.0), raw.gDll(20.0)]


def test_vectorised_helpers_without_numpy():
    code = """
import sys
sys.modules["numpy"] = None  # any import of NumPy now fails
import xylotrak
t = xylotrak.Taper(35, 30, [1.15, -0.6, 0.9], [0, 0.5, 1])
d = t.diameters((h for h in [0, 1.3, 10]))
assert type(d) is list and d == [t.diameter(h) for h in [0, 1.3, 10]], d
assert t.heights_at([20]) == [t.height_at(20)]
assert t.section_volumes([0.3, 4.3, 8.3]) == [t.volume(0.3, 4.3), t.volume(4.3, 8.3)]
assert xylotrak.basal_areas([30]) == [xylotrak.basal_area(30)]
try:
    t.diameters(3.0)
except TypeError:
    print("ok")
"""
    result = run_python(code)
    assert result.returncode == 0 and result.stdout.strip() == "ok", result.stderr


FORMULAS = [
    ("basal_area", "gDll", [(30.0,), (0.0,), (-0.0,), (math.inf,)]),
    ("quadratic_mean_diameter", "dgDll", [(25.3, 640.0), (1.0, 0.0), (0.0, 0.0), (12.0, 0.5)]),
    ("huber_volume", "VTHuDll", [(32.5, 4.0), (0.0, 4.0)]),
    ("cylinder_volume", "VTCiDll", [(32.5, 4.0)]),
    ("smalian_volume", "VTSmDll", [(35.0, 28.0, 4.0), (28.0, 35.0, 4.0)]),
    ("newton_volume", "VTNwDll", [(35.0, 31.0, 28.0, 4.0)]),
    ("neiloid_volume", "VTNeDll", [(35.0, 28.0, 4.0), (30.0, 30.0, 5.0)]),
    ("cone_volume", "VTCoDll", [(35.0, 28.0, 4.0), (30.0, 0.0, 10.0)]),
]


def test_formulas_equal_the_exports_and_raise_for_rejected_arguments(raw):
    for function, export, cases in FORMULAS:
        for arguments in cases:
            assert bits(getattr(xylotrak, function)(*arguments)) == bits(
                getattr(raw, export)(*arguments)), (function, arguments)
        arity = len(cases[0])
        for bad in (-1.0, math.nan):
            arguments = [1.0] * (arity - 1) + [bad]
            assert getattr(raw, export)(*arguments) == -1.0
            with pytest.raises(ValueError, match=function):
                getattr(xylotrak, function)(*arguments)


@pytest.mark.parametrize("kwargs", [
    dict(area=400), dict(area=400, slope_correction=True, slope1=60),
    dict(area=400, slope_correction=True, slope1=60, slope2=95),
    dict(length1=-10, area_unit=1), dict(rectangular=True, length1=20, length2=30, area_unit=1),
    dict(rectangular=True, area=0.06, area_unit=1, length2=30),
    dict(area=-5, length2=-7), dict(area=2, area_unit=1, unit_scale=5)])
def test_plot_area_equals_the_export(raw, kwargs):
    arguments = [kwargs.get(k, 0) for k in ("area", "length1", "length2", "slope1", "slope2")]
    codes = [int(kwargs.get(k, 0)) for k in
             ("slope_correction", "rectangular", "unit_scale", "area_unit")]
    outputs = [ctypes.c_double(), ctypes.c_double(), ctypes.c_double()]
    assert raw.CalcAreaDll(*arguments, *codes, *(ctypes.byref(o) for o in outputs)) == 1
    result = xylotrak.plot_area(**kwargs)
    assert [bits(x) for x in (result.area, result.length1, result.length2)] == [
        bits(o.value) for o in outputs]


def test_accounting_helpers(raw):
    from xylotrak import accounting
    taper = xylotrak.Taper(*TREE)
    accounting.start()
    taper.height_at(7.0)
    assert accounting.count(accounting.Slot.HEIGHT) == 1 == raw.tally_count(4)
    assert accounting.count(3) == raw.tally_count(3) > 0
    accounting.stop()
    taper.diameter(1.0)
    snapshot = accounting.snapshot()
    assert snapshot["height"] == {"slot": 4, "status": "stopped", "count": 1}
    assert snapshot["diameter"]["count"] == raw.tally_count(3)
    assert accounting.status(4) is accounting.Status.STOPPED
    accounting.start()
    assert accounting.status(4) is accounting.Status.COUNTING and accounting.count(4) == 0
    with pytest.raises(ValueError):
        accounting.count(8)


def test_version_is_the_librarys():
    import os

    import xylotrak

    version = xylotrak.__version__
    assert version == xylotrak.load_library().xylotrak_version().decode()
    expected = os.environ.get("XYLOTRAK_PROJECT_VERSION")
    if expected is not None:  # set by the build's test run
        assert version == expected
    assert [int(part) for part in version.split(".")] and version.count(".") == 2
