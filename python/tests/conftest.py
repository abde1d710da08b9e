"""Shared fixtures. The raw helpers call the exports through their own ctypes declarations and
plain byte buffers laid out from the header, so they share nothing with the binding."""

import ctypes
import os
import struct
import sys
from pathlib import Path

import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
REPO = PYTHON_DIR.parent
sys.path.insert(0, str(PYTHON_DIR))
# The unload report of the library goes nowhere (also in Dask worker processes).
os.environ.setdefault("XYLOTRAK_LOG", "/nonexistent/xylotrak/xtk.txt")

import xylotrak  # noqa: E402

D = ctypes.c_double
PD = ctypes.POINTER(D)
INT = ctypes.c_int

# Input fields of ProductSpec and the LogEntry fields, at their byte offsets in the header.
PRODUCT_INPUTS = [("minTopDiam", 0, "d"), ("maxTopDiam", 8, "d"), ("minBaseDiam", 16, "d"),
                  ("maxBaseDiam", 24, "d"), ("minLength", 32, "d"), ("maxLength", 40, "d"),
                  ("unitPrice", 48, "d"), ("priceBasis", 56, "h"), ("logPosition", 58, "h"),
                  ("heightRule", 60, "h"), ("lossFraction", 64, "d"), ("trimLength", 72, "d")]
PRODUCT_OUTPUTS = [("logCount", 80, "h")] + [
    (name, 88 + 8 * i, "d")
    for i, name in enumerate(["volumeSum", "valueSum", "lastTopHeight", "lastTopDiam",
                              "lengthSum", "meanTopDiam", "weightedTopDiam"])]
LOG_FIELDS = [("logNumber", 0, "h"), ("productNumber", 2, "h")] + [
    (name, 8 + 8 * i, "d")
    for i, name in enumerate(["baseHeight", "length", "topHeight", "trimTopHeight", "baseDiam",
                              "topDiam", "trimTopDiam", "volume", "value"])]


def bits(x):
    """The 8 bytes of a double, so that comparisons are bit for bit (NaN and -0.0 included)."""
    return struct.pack("<d", x)


class Raw:
    """Direct calls of the exports."""

    def __init__(self, path):
        self.lib = ctypes.CDLL(path)
        taper = [D, D, PD, PD, INT]
        for name, res, args in [
            ("PHDiDll", D, taper + [D]), ("PHHiDll", D, taper + [D]),
            ("PHViDll", D, taper + [D] * 5), ("PHCTDll", ctypes.c_int32, taper + [D] * 5),
            ("PHVaDll", D, taper + [D] * 5),
            ("PHCkDll", ctypes.c_int32, taper + [ctypes.POINTER(ctypes.c_int32)]),
            ("PHFFDll", D, [PD, PD, INT]), ("gDll", D, [D]), ("dgDll", D, [D, D]),
            ("VTHuDll", D, [D, D]), ("VTCiDll", D, [D, D]), ("VTSmDll", D, [D] * 3),
            ("VTNwDll", D, [D] * 4), ("VTNeDll", D, [D] * 3), ("VTCoDll", D, [D] * 3),
            ("CalcAreaDll", ctypes.c_int16, [D] * 5 + [INT] * 4 + [PD] * 3),
            ("PHVsDll", D, taper + [D] * 7 + [ctypes.c_char_p, INT] + [PD] * 8 + [ctypes.c_char_p]),
            ("PHVoDll", D, taper + [D] * 7 + [ctypes.c_char_p, INT, INT] + [PD] * 8
             + [ctypes.c_char_p]),
            ("PHVxDll", D, taper + [D] * 7 + [ctypes.c_char_p, INT, INT] + [PD] * 8
             + [ctypes.c_char_p]),
            ("tally_count", ctypes.c_int32, [INT]), ("tally_status", ctypes.c_int32, [INT]),
        ]:  # fmt: skip
            fn = getattr(self.lib, name)
            fn.restype, fn.argtypes = res, args

    @staticmethod
    def model(tree):
        dbh, height, coefs, exps = tree
        n = len(coefs)
        return dbh, height, (D * n)(*coefs), (D * n)(*exps), n - 1

    def __getattr__(self, name):
        return getattr(self.lib, name)

    def buck(self, tree, products, objective=None, stump_height=0.3, stump_trim=0.0,
             start_height=0.0, top_height_limit=999.0, height_limit=999.0, exact=False):
        """Returns (raw outcome, product output dicts, log row dicts up to the end row, totals)."""
        table = ctypes.create_string_buffer(144 * max(len(products), 1))
        for i, product in enumerate(products):
            for name, offset, code in PRODUCT_INPUTS:
                struct.pack_into("<" + code, table, 144 * i + offset, product[name])
        logs = ctypes.create_string_buffer(80 * 100)
        totals = [D() for _ in range(8)]
        scalars = (start_height, top_height_limit, 0.0, 0.0, stump_height, stump_trim, height_limit)
        head = (*self.model(tree), *scalars, table, len(products))
        tail = (*(ctypes.byref(t) for t in totals), logs)
        if objective is None:
            raw = self.lib.PHVsDll(*head, *tail)
        else:
            search = self.lib.PHVxDll if exact else self.lib.PHVoDll
            raw = search(*head, {"value": 0, "volume": 1}[objective], *tail)
        outputs = [{name: struct.unpack_from("<" + code, table, 144 * i + offset)[0]
                    for name, offset, code in PRODUCT_OUTPUTS} for i in range(len(products))]
        rows = []
        for k in range(100):
            row = {name: struct.unpack_from("<" + code, logs, 80 * k + offset)[0]
                   for name, offset, code in LOG_FIELDS}
            if k > 0 and row["logNumber"] == 0:
                break
            rows.append(row)
        return raw, outputs, rows, [t.value for t in totals]


@pytest.fixture(scope="session")
def raw():
    return Raw(xylotrak.library_path())


# A 30 m tree of 35 cm whose profile narrows from 1.15 dbh at the ground to 0 at the tip.
TREE = (35.0, 30.0, [1.15, -0.6, 0.9, -1.6, 0.8, -0.65], [0.0, 0.5, 1.0, 2.0, 3.0, 5.0])


def record(min_top, min_length, max_length, price, basis=0, position=0, **other):
    """A product as a dict of record field names (what a product file holds)."""
    fields = dict(minTopDiam=min_top, maxTopDiam=999.0, minBaseDiam=0.0, maxBaseDiam=999.0,
                  minLength=min_length, maxLength=max_length, unitPrice=price, priceBasis=basis,
                  logPosition=position, heightRule=0, lossFraction=0.05, trimLength=0.1)
    fields.update(other)
    return fields


# Veneer, saw logs, small saw logs (priced per log), pulp (priced per metre).
FOUR_PRODUCTS = [record(30.0, 4.0, 6.0, 180.0, name="veneer"),
                 record(20.0, 3.0, 5.0, 95.0, name="saw logs"),
                 record(12.0, 3.0, 5.0, 60.0, 2, name="small saw logs"),
                 record(7.0, 2.0, 3.0, 8.0, 1, name="pulp")]


def as_products(records):
    snake = {camel: name for name, camel in xylotrak.RECORD_NAMES.items()}
    return [xylotrak.Product(**{snake.get(k, k): v for k, v in r.items()}) for r in records]


def find_xtk():
    """The xtk program under test: $XTK, or the one in build/."""
    path = os.environ.get("XTK") or str(REPO / "build" / "tools" / "xtk" / "xtk")
    if not os.access(path, os.X_OK):
        pytest.fail(f"the xtk program was not found at {path}: build it (target xtk) or set XTK "
                    "to its path; deselect with -m 'not needs_xtk' on a branch without it")
    return path
