"""Fits through the tip, mixed-effects fits, intervals and calibration through the binding."""

from __future__ import annotations

import pickle
import warnings

import numpy as np
import pytest

import xylotrak

BETA = np.array([1.25, -1.9, 2.2, -1.55])
D = np.array([[0.004, -0.003], [-0.003, 0.004]])


def _stems(trees: int = 80, per_tree: int = 10, seed: int = 3) -> dict[str, np.ndarray]:
    rng = np.random.default_rng(seed)
    chol = np.linalg.cholesky(D)
    cols: dict[str, list[float]] = {k: [] for k in ("id", "dbh", "height", "h", "d")}
    for t in range(trees):
        dbh, height = rng.uniform(12, 60), rng.uniform(12, 38)
        c = BETA.copy()
        c[:2] += chol @ rng.standard_normal(2)
        for _ in range(per_tree):
            x = rng.uniform(0.01, 0.98)
            y = c @ np.array([1, x, x * x, x**3]) + rng.normal(0, 0.02)
            for key, value in zip(cols, (t, dbh, height, x * height, dbh * y)):
                cols[key].append(value)
    return {k: np.array(v) for k, v in cols.items()}


def test_tip_zero_fit_ends_at_zero_and_the_free_fit_is_unchanged() -> None:
    stems = _stems()
    tip = xylotrak.fit_taper(stems, exps=[0, 1, 2, 3], tip_zero=True)
    free = xylotrak.fit_taper(stems, exps=[0, 1, 2, 3])
    assert abs(sum(tip.coefs)) < 1e-14
    assert tip.tip_zero and not free.tip_zero
    assert tip.residual_df == tip.rows_used - 3
    assert free.residual_df == free.rows_used - 4
    chosen = xylotrak.fit_taper(stems, select=True, tip_zero=True)
    assert abs(sum(chosen.coefs)) < 1e-13


def test_mixed_fit_intervals_and_calibration() -> None:
    fit = xylotrak.fit_taper(_stems(), exps=[0, 1, 2, 3], random=[0, 1])
    assert fit.converged and fit.iterations > 0
    assert fit.random_exps == (0.0, 1.0)
    assert len(fit.random_covariance) == 2 and fit.random_covariance[0][1] < 0
    tree = fit.taper(30, 25)
    conf = tree.volume(interval="confidence")
    pred = tree.volume(interval="prediction", level=0.95)
    assert conf.value == pytest.approx(tree.volume()) and pred.value == conf.value
    assert pred.lower < conf.lower < conf.value < conf.upper < pred.upper
    d = tree.diameter_interval(7, "prediction")
    assert d.lower < d.value < d.upper
    own = fit.taper(30, 25, measured=[(7, d.upper)])
    assert own.statistics is not None and own.statistics.calibrated
    assert own.diameter(7) > tree.diameter(7)
    narrowed = own.volume(interval="prediction")
    assert narrowed.upper - narrowed.lower < pred.upper - pred.lower
    assert pickle.loads(pickle.dumps(own)).volume(interval="confidence") == own.volume(
        interval="confidence")  # fmt: skip
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        far = tree.calibrate([(7, 2 * d.upper)])
    assert far.statistics is not None and far.statistics.outlying and caught


def test_interval_errors_are_reported() -> None:
    tree = xylotrak.fit_taper(_stems(), exps=[0, 1, 2, 3]).taper(30, 25)
    with pytest.raises(ValueError, match="confidence"):
        tree.volume(interval="both")
    with pytest.raises(ValueError, match="outside the stem"):
        tree.diameter_interval(30)  # above the tip
    with pytest.raises(ValueError, match="fitted profile"):
        xylotrak.Taper(30, 25, [1, -1], [0, 1]).volume(interval="confidence")
    with pytest.raises(ValueError, match="id"):
        stems = _stems()
        del stems["id"]
        xylotrak.fit_taper(stems, exps=[0, 1], random=[0])


@pytest.mark.needs_xtk
def test_xtk_and_the_binding_warn_and_refuse_in_the_same_words(tmp_path) -> None:
    import subprocess

    from conftest import find_xtk

    stems = _stems(trees=30, per_tree=6)
    table = tmp_path / "stems.csv"
    rows = zip(*(stems[k] for k in ("id", "dbh", "height", "h", "d")))
    table.write_text("id,dbh,height,h,d\n" + "".join(
        f"t{int(t)},{b!r},{H!r},{h!r},{d!r}\n" for t, b, H, h, d in rows))  # fmt: skip
    saved = tmp_path / "fit.json"
    xtk = find_xtk()

    def run(*args: object) -> subprocess.CompletedProcess[str]:
        return subprocess.run([xtk, *map(str, args)], capture_output=True, text=True)

    assert run("fit", "--stems", table, "--exps", "0,1,2,3", "--random", "0,1",
               "--save", saved).returncode == 0  # fmt: skip
    tree = xylotrak.fit_taper(stems, exps=[0, 1, 2, 3], random=[0, 1]).taper(30, 25)
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        tree.calibrate([(7, 80.0)])
    said = run("taper", "--fit", saved, "--dbh", 30, "--height", 25, "--measured", "7:80")
    assert said.returncode == 0
    assert [f"xtk: warning: {w.message}" for w in caught] == said.stderr.splitlines()
    # A diameter interval above the tip: refused, in the library's words.
    with pytest.raises(ValueError) as refused:
        tree.diameter_interval(30)
    said = run("taper", "--fit", saved, "--dbh", 30, "--height", 25, "--at", 30, "--interval",
               "confidence")  # fmt: skip
    assert said.returncode != 0 and f"option --at: {refused.value}" in said.stderr


def test_a_fit_that_fails_says_why_in_the_librarys_words_and_crosses_processes() -> None:
    from xylotrak import _lib

    # Diameters near the largest doubles: the restricted likelihood overflows.
    rng = np.random.default_rng(6)
    stems = {"id": np.repeat(np.arange(6), 4), "dbh": np.full(24, 30.0),
             "height": np.full(24, 16.0), "h": np.tile([0.3, 4.0, 8.0, 12.0], 6),
             "d": rng.uniform(1e299, 1e300, 24)}  # fmt: skip
    with pytest.raises(xylotrak.XylotrakFitError) as stopped:
        xylotrak.fit_taper(stems, exps=[0, 1], random=[0])
    e = stopped.value
    assert e.code == 6 and e.reason == _lib.words(_lib.WORDS_CONVERGENCE)[2] == "nonfinite"
    assert isinstance(e.iterations, int) and e.iterations >= 0
    why = _lib.words(_lib.WORDS_CONVERGENCE_MESSAGE)[2]
    assert f"({why} after {e.iterations} iterations)" in str(e)
    with pytest.raises(xylotrak.XylotrakFitError) as few:
        xylotrak.fit_taper({k: v[:2] for k, v in _stems().items()}, exps=[0, 1, 2], by="id")
    assert few.value.reason is None and few.value.iterations is None
    # Dask and multiprocessing carry a worker's error back pickled.
    for error in (e, few.value):
        back = pickle.loads(pickle.dumps(error))
        assert str(back) == str(error)
        fields = ("code", "rows_used", "rows_skipped", "group", "reason", "iterations")
        assert [getattr(back, f) for f in fields] == [getattr(error, f) for f in fields]
