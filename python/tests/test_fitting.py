"""Fitting taper models: the binding against an independent least-squares fit (NumPy), groups,
errors, and xtk fit's files as xtk batch and the binding read them."""

import json
import math
import subprocess
import warnings

import numpy as np
import pandas as pd
import pytest

import xylotrak
from conftest import find_xtk
from xylotrak import _lib


def measurements(coefs, exps, trees=80, per_tree=9, sigma=0.02, seed=1):
    rng = np.random.default_rng(seed)
    dbh = np.repeat(rng.uniform(12, 60, trees), per_tree)
    height = np.repeat(rng.uniform(12, 38, trees), per_tree)
    h = rng.uniform(0, 1, trees * per_tree) * height
    x = h / height
    y = sum(c * (np.ones_like(x) if e == 0 else x**e) for c, e in zip(coefs, exps))
    d = dbh * (y + rng.normal(0, sigma, x.size))
    ids = np.repeat([f"t{k}" for k in range(trees)], per_tree)
    return pd.DataFrame({"id": ids, "dbh": dbh, "height": height, "h": h, "d": d})


def lstsq(frame, exps):
    """Least squares by NumPy (an SVD-based solver, independent of the library's QR)."""
    x = (frame.h / frame.height).to_numpy()
    design = np.column_stack([np.ones_like(x) if e == 0 else x**e for e in exps])
    coefs, *_ = np.linalg.lstsq(design, (frame.d / frame.dbh).to_numpy(), rcond=None)
    return coefs, design


PINE = ([1.2, -1.6, 1.2, -0.8], [0, 1, 2, 3])
SPRUCE = ([1.0, -0.9, -0.1], [0, 2, 30])


class TestFit:
    @pytest.mark.parametrize("exps", [[0, 1, 2, 3, 4, 5], [0, 0.5, 2, 8, 30], [0, 1]])
    def test_coefficients_equal_an_independent_least_squares_fit(self, exps):
        frame = measurements(*PINE, seed=len(exps))
        fit = xylotrak.fit_taper(frame, exps=exps)
        ref, design = lstsq(frame, exps)
        np.testing.assert_allclose(fit.coefs, ref, rtol=1e-10, atol=0)
        residuals = (frame.d / frame.dbh).to_numpy() - design @ ref
        rss = float(residuals @ residuals)
        m, p = design.shape
        assert fit.residual_std_error == pytest.approx(math.sqrt(rss / (m - p)), rel=1e-10)
        y = (frame.d / frame.dbh).to_numpy()
        assert fit.r_squared == pytest.approx(1 - rss / float(((y - y.mean()) ** 2).sum()), rel=1e-12)
        covariance = rss / (m - p) * np.linalg.inv(design.T @ design)
        np.testing.assert_allclose(fit.standard_errors, np.sqrt(np.diag(covariance)), rtol=1e-6)
        cm = residuals * frame.dbh.to_numpy()
        assert fit.diameter_rmse == pytest.approx(math.sqrt(float(cm @ cm) / m), rel=1e-10)
        assert fit.rows_used == len(frame) and fit.rows_skipped == 0

    def test_missing_and_impossible_rows_are_skipped_and_counted(self):
        frame = measurements(*PINE, seed=7)
        bad = pd.DataFrame({"id": ["x"] * 4, "dbh": [np.nan, 30, 30, -1],
                            "height": [20, 20, 20, 20], "h": [5, 25, -1, 5], "d": [20, 20, 20, 20]})
        fit = xylotrak.fit_taper(pd.concat([frame, bad], ignore_index=True), exps=[0, 1, 2, 3])
        clean = xylotrak.fit_taper(frame, exps=[0, 1, 2, 3])
        assert (fit.rows_used, fit.rows_skipped) == (len(frame), 4)
        assert fit.coefs == clean.coefs

    def test_errors_name_the_reason_and_the_group(self):
        frame = measurements(*PINE, seed=8)
        with pytest.raises(xylotrak.XylotrakFitError, match="rank-deficient") as e:
            xylotrak.fit_taper(frame, exps=[0, 2, 2])
        assert e.value.code == 2 and e.value.rows_used == len(frame)
        few = frame.head(3).assign(species="fir")
        both = pd.concat([frame.assign(species="pine"), few])
        with pytest.raises(xylotrak.XylotrakFitError, match="group 'fir': too few"):
            xylotrak.fit_taper(both, exps=[0, 1, 2, 3], by="species")
        with pytest.raises(ValueError, match="no column 'h'"):
            xylotrak.fit_taper(frame.drop(columns="h"))
        with pytest.raises(ValueError, match="not both"):
            xylotrak.fit_taper(frame, exps=[0, 1], select=True)
        with pytest.raises(ValueError, match="differ in length"):
            xylotrak.fit_taper({"dbh": [30, 30], "height": [20, 20], "h": [1, 2], "d": [3]})

    def test_groups_fit_separately_in_order_of_appearance(self):
        both = pd.concat([measurements(*SPRUCE, seed=3).assign(species="spruce"),
                          measurements(*PINE, seed=4).assign(species="pine")])
        fits = xylotrak.fit_taper(both, exps=[0, 1, 2, 3], by="species")
        assert list(fits) == ["spruce", "pine"]
        for name, fit in fits.items():
            alone = xylotrak.fit_taper(both[both.species == name], exps=[0, 1, 2, 3])
            assert fit.coefs == alone.coefs

    def test_stepwise_selection_recovers_candidate_exponents(self):
        frame = measurements(*SPRUCE, trees=200, sigma=0.01, seed=5)
        fit = xylotrak.fit_taper(frame, select=True)
        assert fit.exps == (0.0, 2.0, 30.0)
        for c, true, se in zip(fit.coefs, SPRUCE[0], fit.standard_errors):
            assert abs(c - true) < 4 * se
        capped = xylotrak.fit_taper(frame, select=True, max_terms=2)
        assert len(capped.exps) <= 2

    def test_taper_fit_gives_a_tree_with_the_fitted_profile(self):
        frame = measurements(*PINE, sigma=0, seed=6)
        tree = xylotrak.Taper.fit(frame, 30, 20, exps=PINE[1])
        np.testing.assert_allclose(tree.coefs, PINE[0], rtol=1e-9)
        exact = xylotrak.Taper(30, 20, PINE[0], PINE[1])
        assert tree.diameter(7.3) == pytest.approx(exact.diameter(7.3), rel=1e-9)
        with pytest.raises(TypeError):
            xylotrak.Taper.fit(frame, 30, 20, by="id")


@pytest.mark.skipif(find_xtk() is None, reason="xtk not built")
class TestXtkFit:
    def test_models_file_feeds_batch_and_matches_the_binding(self, tmp_path):
        xtk = find_xtk()
        frame = pd.concat([measurements(*SPRUCE, seed=9).assign(species="spruce"),
                           measurements(*PINE, seed=10).assign(species="pine")])
        stems = tmp_path / "stems.csv"
        frame.to_csv(stems, index=False, float_format="%.17g")
        models, svg = tmp_path / "models.json", tmp_path / "fit.svg"
        out = subprocess.run([xtk, "fit", "--stems", stems, "--by", "species", "--exps",
                              "0,1,2,3", "--json", "--models", models, "--svg", svg],
                             capture_output=True, text=True, check=True)
        report = json.loads(out.stdout)
        fits = xylotrak.fit_taper(frame, exps=[0, 1, 2, 3], by="species")
        assert [f["group"] for f in report["fits"]] == ["spruce", "pine"]
        for f in report["fits"]:
            assert tuple(f["coefs"]) == fits[f["group"]].coefs
            assert f["rows_used"] == fits[f["group"]].rows_used
            assert "findings" in f["check"]
        saved = json.loads(models.read_text())
        assert saved["pine"] == {"coefs": list(fits["pine"].coefs), "exps": [0, 1, 2, 3]}
        assert svg.read_text().count("<polyline") == 2
        # xtk batch reads the models file as it is written.
        trees = tmp_path / "trees.csv"
        trees.write_text("id,dbh,height,model\na,30,22,pine\nb,35,25,spruce\n")
        products = tmp_path / "products.csv"
        products.write_text("minTopDiam,maxTopDiam,minBaseDiam,maxBaseDiam,minLength,maxLength,"
                            "unitPrice,priceBasis,logPosition,heightRule,lossFraction,trimLength\n"
                            "10,999,0,999,3,5,50,0,0,0,0,0.1\n")
        subprocess.run([xtk, "batch", trees, "--products", products, "--models", models],
                       capture_output=True, text=True, check=True)
        # pandas' default parser can miss the nearest double of 17 digits by one unit in
        # the last place ("0.72332025465997718"); round_trip reads them as xtk wrote them.
        totals = pd.read_csv(tmp_path / "trees_totals.csv", float_precision="round_trip")
        with warnings.catch_warnings():  # a fitted model need not end at 0 at the tip
            warnings.simplefilter("ignore", xylotrak.XylotrakModelWarning)
            expected = xylotrak.Taper(30, 22, fits["pine"].coefs, [0, 1, 2, 3]).volume()
        assert totals.stemVolume[0] == expected

    def test_the_binding_and_xtk_leave_the_same_choices_to_the_library(self, tmp_path):
        xtk = find_xtk()
        frame = measurements(*SPRUCE, trees=150, sigma=0.01, seed=12)
        stems = tmp_path / "stems.csv"
        frame.to_csv(stems, index=False, float_format="%.17g")
        for options, kwargs in (([], {}), (["--select"], {"select": True})):
            out = subprocess.run([xtk, "fit", "--stems", stems, "--json", *options],
                                 capture_output=True, text=True, check=True)
            fit = xylotrak.fit_taper(frame, **kwargs)
            assert tuple(json.loads(out.stdout)["fits"][0]["exps"]) == fit.exps
        assert xylotrak.fit_taper(frame).exps == xylotrak.fitting.DEFAULT_EXPS
        # A limit given without the selection is refused, as xtk and R refuse it, even when it
        # is the default.
        with pytest.raises(ValueError, match="go with select=True"):
            xylotrak.fit_taper(frame, max_terms=8)
        help_text = subprocess.run([xtk, "fit", "--help"], capture_output=True, text=True,
                                   check=True).stdout  # fmt: skip
        candidates = _lib.fit_default(_lib.FIT_DEFAULT_CANDIDATES)
        assert ",".join(f"{c:g}" for c in candidates) in help_text

    def test_selection_and_failures_reach_the_exit_code(self, tmp_path):
        xtk = find_xtk()
        frame = measurements(*SPRUCE, trees=150, sigma=0.01, seed=11)
        stems = tmp_path / "stems.csv"
        frame.to_csv(stems, index=False)
        out = subprocess.run([xtk, "fit", "--stems", stems, "--select", "--json"],
                             capture_output=True, text=True, check=True)
        assert json.loads(out.stdout)["fits"][0]["exps"] == [0, 2, 30]
        bad = subprocess.run([xtk, "fit", "--stems", stems, "--exps", "0,1,1"],
                             capture_output=True, text=True)
        assert bad.returncode == 1 and "rank-deficient" in bad.stderr
        wrong = subprocess.run([xtk, "fit", "--stems", stems, "--exps", "0,1", "--select"],
                               capture_output=True, text=True)
        assert wrong.returncode == 2 and "--exps" in wrong.stderr


def test_a_fit_pickled_under_the_fitting_module_still_loads():
    import pickle

    fit = xylotrak.fit_taper(measurements(*PINE), exps=PINE[1])
    stored = pickle.dumps(fit, protocol=0).replace(b"xylotrak.taper", b"xylotrak.fitting")
    assert b"xylotrak.fitting" in stored
    assert pickle.loads(stored) == fit
