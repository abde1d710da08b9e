"""read_hpr and harvest_audit against the library's tables and against xtk harvest."""

import json
import math
import os
import subprocess

import pytest
from conftest import REPO

import xylotrak

HPR = REPO / "tests" / "data" / "hpr"


def test_read_hpr_gives_every_table():
    t = xylotrak.read_hpr(HPR / "small.hpr")
    assert list(t["species"]["name"]) == ["Spruce", "Pine"]
    saw = t["products"].iloc[0]
    assert saw["product_key"] == 11 and saw["diameter_classes_mm"] == [160, 200, 240]
    assert saw["cells"][2 * 4 + 3] == 2 and saw["permitted_grades"] == [1]
    assert list(t["stems"]["stem_key"]) == [1001, 1002]
    assert t["stems"].iloc[0]["positions_cm"][-1] == 1290
    logs = t["logs"]
    assert list(logs["start_cm"][:4]) == [0, 432, 835, 985]
    assert logs.iloc[0]["volume_m3_price"] == 0.1849
    assert math.isnan(logs.iloc[0]["volume_m3sob"])
    assert any("bark function" in w for w in t["unsupported"]["what"])


def test_broken_file_raises_with_the_line():
    with pytest.raises(xylotrak.XylotrakHprError, match="cannot be read"):
        xylotrak.read_hpr("/nonexistent/file.hpr")


def test_audit_matches_xtk(tmp_path):
    audit = xylotrak.harvest_audit(HPR / "unsupported.hpr")
    stems = audit["stems"]
    assert math.isnan(stems.iloc[0]["optimal_value"])
    assert "Calculated Norwegian mid" in stems.iloc[0]["no_optimum"]
    assert audit["totals"]["stems_optimised"] == 1
    xtk = os.environ.get("XTK", str(REPO / "build" / "tools" / "xtk" / "xtk"))
    if not os.path.exists(xtk):
        pytest.skip("no xtk")
    for name in ("small.hpr", "unsupported.hpr"):
        audit = xylotrak.harvest_audit(HPR / name)
        out = json.loads(subprocess.run([xtk, "harvest", str(HPR / name), "--json"],
                                        capture_output=True, text=True, check=True).stdout)
        for row, stem in zip(audit["stems"].itertuples(), out["stems"]):
            assert row.stem_key == stem["stem_key"]
            assert row.actual_value == stem["actual_value"]
            assert (math.isnan(row.optimal_value) if stem["optimal_value"] is None
                    else row.optimal_value == stem["optimal_value"])
        optimal = audit["logs"][audit["logs"]["optimal"]]
        assert list(optimal["length_cm"]) == [l["length_cm"] for s in out["stems"]
                                              for l in s["optimal_logs"]]
        assert audit["totals"]["optimal_value"] == out["totals"]["optimal_value"]


def test_schema_names_give_the_tables_of_the_earlier_names():
    """schema.hpr: small.hpr's content under the StanForD 2010 schema's element names."""
    a, b = xylotrak.read_hpr(HPR / "schema.hpr"), xylotrak.read_hpr(HPR / "small.hpr")
    for table in ("species", "products", "stems", "logs"):
        assert a[table].to_json() == b[table].to_json(), table
    assert any("bark function 'Swedish Zacco' is not applied" in w
               for w in a["unsupported"]["what"])
