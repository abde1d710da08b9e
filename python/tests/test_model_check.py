"""The model check (Taper.check), the accurate volume and the warning of flawed models.

Flawed models are built to have known flaws and nothing else; the accurate volume is compared
with the integral of the squared profile in exact rational arithmetic."""

import ctypes
import json
import math
import random
import subprocess
import warnings
from fractions import Fraction

import pytest
from conftest import TREE, bits, find_xtk

from xylotrak import FINDINGS, ModelCheck, Taper, XylotrakModelWarning


def expanded(degree, linear=1.1, power=0.4):
    """``linear (1 - y) + power (1 - y)^degree`` multiplied out into powers of y: a smooth stem
    whose coefficients grow to ``power * C(degree, degree / 2)`` with alternating signs."""
    coefs = [0.0] * (degree + 1)
    coefs[0] += linear
    coefs[1] -= linear
    for k in range(degree + 1):
        coefs[k] += power * math.comb(degree, k) * (-1) ** k
    return coefs, [float(k) for k in range(degree + 1)]


def fifth_degree_stem(rng):
    """A sum of positive multiples of (1 - y)^k, k = 1..5, with weights of three decimals,
    multiplied out: coefficients of both signs as a fit gives them, a profile that narrows
    monotonically to 0 at the tip."""
    weights = [round(rng.uniform(0.0, 0.4), 3) for _ in range(5)]
    weights[0] = round(1.15 - sum(weights[1:]) / 2, 3)
    coefs = [0.0] * 6
    for k, w in enumerate(weights, start=1):
        for j in range(k + 1):
            coefs[j] += w * math.comb(k, j) * (-1) ** j
    return coefs, [float(j) for j in range(6)]


def exact_volume(dbh, height, coefs, exps, lower=0.0, upper=None):
    """pi/40000 dbh^2 times the integral of the squared profile from ``lower`` to ``upper``
    (m): the integral is a rational sum for whole exponents, taken exactly on the doubles given;
    only the last product is rounded."""
    assert all(e == int(e) and e >= 0 for e in exps)
    h = Fraction(height)
    a, b = Fraction(lower) / h, (Fraction(height if upper is None else upper)) / h
    total = Fraction(0)
    for ci, ei in zip(coefs, exps):
        for cj, ej in zip(coefs, exps):
            p = int(ei) + int(ej) + 1
            total += Fraction(ci) * Fraction(cj) * (b**p - a**p) / p
    return math.pi / 40000 * dbh * dbh * height * float(total)


def relative(a, b):
    return abs(a - b) / abs(b)


CONE = ([1.0, -1.0], [0.0, 1.0])
BENCHMARK = (TREE[2], TREE[3])

# Each model has exactly the findings given (dbh 30 cm, height 25 m).
FLAWED = {
    "expanded degree 34": (expanded(34), ("volume-ill-conditioned",)),
    # 1 + y/2 - 3y^2/2 widens to y = 1/6, then narrows to 0 at the tip.
    "bump": (([1.0, 0.5, -1.5], [0.0, 1.0, 2.0]), ("diameter-increases",)),
    # (1 - y)(1 - 3y) is negative from y = 1/3 and comes back to 0 at the tip. Diameters read
    # 0 where the profile is negative, so the reported diameter never widens.
    "dip": (([1.0, -4.0, 3.0], [0.0, 1.0, 2.0]), ("negative-diameter",)),
    "nonzero tip": (([1.0, -0.9], [0.0, 1.0]), ("nonzero-tip",)),
    # 1 - 3y + 3y^2 widens again above y = 1/2, up to 1 at the tip.
    "bump and nonzero tip": (([1.0, -3.0, 3.0], [0.0, 1.0, 2.0]),
                             ("diameter-increases", "nonzero-tip")),
    "exps[0] = 1": (([1.0, -1.0], [1.0, 2.0]), ("exp0-nonzero",)),
    "NaN coefficient": (([math.nan, -1.0], [0.0, 1.0]), ("nonfinite",)),
}


class TestFindings:
    @pytest.mark.parametrize("name", FLAWED)
    def test_a_built_flaw_is_found_and_nothing_else(self, name):
        (coefs, exps), findings = FLAWED[name]
        check = Taper(30, 25, coefs, exps).check()
        assert check.findings == findings
        assert not check.clean
        if "volume-ill-conditioned" in findings:
            assert check.volume_digits < 6
        elif "nonfinite" in findings:
            assert check.volume_digits == 0
        else:
            assert check.volume_digits >= 12

    def test_a_term_count_beyond_16_bits_is_found_alone(self, raw):
        # 65537 reads as 1 in 16 bits: the cone itself, which is sound otherwise.
        coefs, exps = CONE
        for term_count, expected in ((65537, ("bad-term-count",)), (-1, ("bad-term-count",)),
                                     (1, ())):
            digits = ctypes.c_int32(-1)
            found = raw.PHCkDll(30.0, 25.0, (ctypes.c_double * 2)(*coefs),
                                (ctypes.c_double * 2)(*exps), term_count, ctypes.byref(digits))
            assert ModelCheck.from_bits(found, digits.value).findings == expected, term_count
            assert 0 <= digits.value <= 15

    def test_ordinary_models_are_clean(self):
        rng = random.Random(11)
        models = [CONE, BENCHMARK] + [fifth_degree_stem(rng) for _ in range(25)]
        for coefs, exps in models:
            for dbh, height in ((35.0, 30.0), (12.5, 9.0), (80.0, 45.0)):
                check = Taper(dbh, height, coefs, exps).check()
                assert check.clean and check.findings == (), (coefs, check)
                assert check.volume_digits >= 12, (coefs, check)

    def test_codes_follow_the_bits(self):
        assert FINDINGS == ("volume-ill-conditioned", "diameter-increases", "negative-diameter",
                            "nonzero-tip", "exp0-nonzero", "nonfinite", "bad-term-count")
        assert ModelCheck.from_bits(0x7F, 4) == ModelCheck(FINDINGS, 4)
        assert ModelCheck.from_bits(0x0A, 9).findings == ("diameter-increases", "nonzero-tip")
        assert ModelCheck.from_bits(0x101, 2).findings == ("volume-ill-conditioned",
                                                           "unknown-0x100")
        assert ModelCheck.from_bits(0, 15).clean
        with pytest.raises(AttributeError):
            ModelCheck.from_bits(0, 15).volume_digits = 3  # frozen

    def test_check_is_the_export(self, raw):
        for coefs, exps in [BENCHMARK, expanded(34)] + [m for m, _ in FLAWED.values()]:
            tree = (30.0, 25.0, coefs, exps)
            digits = ctypes.c_int32(-1)
            found = raw.PHCkDll(*raw.model(tree), ctypes.byref(digits))
            assert Taper(*tree).check() == ModelCheck.from_bits(found, digits.value)


class TestAccurateVolume:
    def test_small_random_models_agree_with_exact_arithmetic(self):
        rng = random.Random(5)
        for _ in range(150):
            n = rng.randint(0, 6)
            coefs = [rng.uniform(-2.0, 2.0) for _ in range(n + 1)]
            exps = [0.0] + sorted(float(e) for e in rng.sample(range(1, 10), n))
            dbh, height = rng.uniform(8.0, 70.0), rng.uniform(6.0, 45.0)
            taper = Taper(dbh, height, coefs, exps)
            lower = rng.choice([0.0, rng.uniform(0.1, height / 2)])
            upper = rng.choice([0.0, rng.uniform(height / 2, height)])
            want = exact_volume(dbh, height, coefs, exps, lower, upper or None)
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", XylotrakModelWarning)  # shapes are random
                got = taper.volume(lower, upper, accurate=True)
            assert relative(got, want) <= 1e-10, (taper, lower, upper)

    def test_expanded_model_where_the_closed_form_cancels(self):
        coefs, exps = expanded(34)
        taper = Taper(30, 25, coefs, exps)
        want = exact_volume(30, 25, coefs, exps)
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", XylotrakModelWarning)
            accurate, closed = taper.volume(accurate=True), taper.volume()
        assert relative(accurate, want) <= 1e-5
        # What the check's digit count says: the closed form has lost its digits here.
        assert taper.check().volume_digits < 6 and relative(closed, want) > 1e-6

    def test_accurate_and_closed_form_agree_where_the_check_trusts_the_closed_form(self):
        rng = random.Random(8)
        compared = 0
        for k in range(120):
            if k % 2:
                coefs, exps = fifth_degree_stem(rng)
            else:  # the benchmark stem with its coefficients moved about
                coefs = [c * rng.uniform(0.8, 1.2) for c in BENCHMARK[0]]
                exps = BENCHMARK[1]
            dbh, height = rng.uniform(10.0, 60.0), rng.uniform(8.0, 40.0)
            taper = Taper(dbh, height, coefs, exps)
            if taper.check().volume_digits < 12:
                continue
            for _ in range(5):
                limits = (rng.choice([0.0, rng.uniform(0.1, height / 3)]),
                          rng.choice([0.0, rng.uniform(height / 3, height)]),
                          rng.choice([0.0, rng.uniform(0.5, 1.0) * dbh]),
                          rng.choice([0.0, rng.uniform(0.05, 0.4) * dbh]),
                          rng.choice([0.0, rng.uniform(1.0, 5.0)]))
                with warnings.catch_warnings():
                    warnings.simplefilter("ignore", XylotrakModelWarning)
                    closed, accurate = taper.volume(*limits), taper.volume(*limits, accurate=True)
                if closed == 0:
                    assert accurate == 0, (taper, limits)
                else:
                    assert relative(accurate, closed) <= 1e-10, (taper, limits)
                    compared += 1
        assert compared >= 200

    def test_accurate_volume_is_the_export(self, raw):
        taper = Taper(*TREE)
        model = raw.model(TREE)
        for limits in [(0, 0, 0, 0, 0), (0.3, 0, 0, 7, 2.5), (2, 20, 0, 0, 3), (5, 2, 0, 0, 0),
                       (0, 0, 30, 10, 0), (math.nan, 0, 0, 0, 0)]:
            assert bits(taper.volume(*limits, accurate=True)) == bits(
                raw.PHVaDll(*model, *limits))
        cuts = [0.3, 4.3, 8.4, 12.0]
        assert taper.section_volumes(cuts, accurate=True) == [
            raw.PHVaDll(*model, a, b, 0, 0, 0) for a, b in zip(cuts, cuts[1:])]


class TestWarning:
    def test_once_per_taper_naming_the_findings(self):
        (coefs, exps), findings = FLAWED["bump and nonzero tip"]
        first, second = Taper(30, 25, coefs, exps), Taper(30, 25, coefs, exps)
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            first.volume()
            first.volume(2, 10)
            first.section_volumes([0.3, 4.3, 8.3])
            first.form_factor()
            first.volume(accurate=True)
            assert len(caught) == 1
            second.form_factor()
            assert len(caught) == 2
        for w in caught:
            assert issubclass(w.category, XylotrakModelWarning)
            assert issubclass(XylotrakModelWarning, UserWarning)
            assert all(code in str(w.message) for code in findings)
            assert w.filename == __file__  # points at the caller's line

    def test_not_for_clean_models_nor_for_other_calls(self):
        rng = random.Random(2)
        clean = [Taper(*TREE), Taper(30, 25, *CONE)] + [
            Taper(30, 25, *fifth_degree_stem(rng)) for _ in range(5)]
        (coefs, exps), _ = FLAWED["nonzero tip"]
        flawed = Taper(30, 25, coefs, exps)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            for taper in clean:
                taper.volume()
                taper.volume(0.3, 0, 0, 7, 2.5, accurate=True)
                taper.section_volumes([0.3, 4.3, 8.3])
                taper.form_factor()
            # Diameters, heights, log counts and the check itself do not integrate.
            flawed.diameter(1.3)
            flawed.height_at(7)
            flawed.log_count(log_length=3)
            assert flawed.check().findings == ("nonzero-tip",)

    def test_the_accurate_volume_is_no_reason_for_the_ill_conditioned_warning(self):
        taper = Taper(30, 25, *expanded(34))
        with warnings.catch_warnings(record=True) as caught:
            warnings.simplefilter("always")
            taper.volume(accurate=True)
            taper.section_volumes([0, 10, 25], accurate=True)
            assert caught == []
            taper.volume()
            assert len(caught) == 1
            assert "volume-ill-conditioned" in str(caught[0].message)
            assert "accurate=True" in str(caught[0].message)


@pytest.mark.needs_xtk
def test_xtk_check_reports_what_taper_check_does(tmp_path):
    xtk = find_xtk()
    path = tmp_path / "tree.json"
    models = [BENCHMARK, CONE] + [m for name, (m, _) in FLAWED.items() if name != "NaN coefficient"]
    for coefs, exps in models:
        path.write_text(json.dumps({"dbh": 30, "height": 25, "coefs": coefs, "exps": exps}))
        run = subprocess.run([xtk, "taper", "--check", "--json", "--tree", str(path)],
                             capture_output=True, text=True, timeout=60)
        check = Taper(30, 25, coefs, exps).check()
        assert run.returncode == (0 if check.clean else 3), run.stderr
        assert json.loads(run.stdout) == {"findings": list(check.findings),
                                          "volume_digits": check.volume_digits}
