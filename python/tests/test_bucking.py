"""Bucking through the binding against the bucking exports called on raw byte tables."""

import pytest
from conftest import FOUR_PRODUCTS, LOG_FIELDS, PRODUCT_OUTPUTS, TREE, as_products, bits, record

import xylotrak
from xylotrak import Outcome


def snake(name):
    return "".join("_" + c.lower() if c.isupper() else c for c in name)


def check_equal(result, expected, products):
    raw_outcome, outputs, rows, totals = expected
    assert result.outcome is Outcome.from_raw(raw_outcome)
    assert len(result.logs) == len(rows) - 1
    for log, row in zip([result.stump] + result.logs, rows):
        for name, _, code in LOG_FIELDS:
            value = getattr(log, snake(name))
            assert (value == row[name]) if code == "h" else (bits(value) == bits(row[name])), name
        number = log.product_number
        assert log.product_name == (products[number - 1].label(number) if number else None)
    for got, output in zip(result.products, outputs):
        for name, _, code in PRODUCT_OUTPUTS:
            value = getattr(got, snake(name))
            assert (value == output[name]) if code == "h" else (bits(value) == bits(output[name]))
    assert [bits(x) for x in vars(result.totals).values()] == [bits(x) for x in totals]


PARAMETERS = [{}, dict(stump_height=0.5, stump_trim=0.1), dict(start_height=2.0),
              dict(top_height_limit=12.0), dict(height_limit=9.0, stump_height=0.0)]
TABLES = {
    "four products": FOUR_PRODUCTS,
    "rules and bases": [record(25.0, 3.0, 5.0, 120.0, position=1, heightRule=1),
                        record(14.0, 2.5, 4.0, 70.0, 0, 99, maxTopDiam=30.0, lossFraction=1.0),
                        record(6.0, 1.0, 2.0, 5.0, 7, minBaseDiam=8.0, trimLength=0.0)],
    "empty table": [],
}


@pytest.mark.parametrize("table", TABLES)
@pytest.mark.parametrize("objective", [None, "value", "volume"])
def test_bucking_equals_the_exports(raw, table, objective):
    products = as_products(TABLES[table])
    taper = xylotrak.Taper(*TREE)
    for parameters in PARAMETERS:
        if objective is None:
            result = xylotrak.buck(taper, products, **parameters)
        else:
            result = xylotrak.buck_optimal(taper, products, objective=objective, **parameters)
        expected = raw.buck(TREE, TABLES[table], objective, **parameters)
        check_equal(result, expected, products)
    if objective is None:
        assert result.outcome is Outcome.WINNER


@pytest.mark.parametrize("objective", ["value", "volume"])
def test_exact_bucking_equals_its_export(raw, objective):
    taper = xylotrak.Taper(*TREE)
    for table in TABLES.values():
        products = as_products(table)
        for parameters in PARAMETERS:
            result = xylotrak.buck_optimal(taper, products, objective=objective, exact=True,
                                           **parameters)
            expected = raw.buck(TREE, table, objective, exact=True, **parameters)
            check_equal(result, expected, products)


def test_results_hang_together():
    products = as_products(FOUR_PRODUCTS)
    result = xylotrak.buck(xylotrak.Taper(*TREE), products)
    assert [log.log_number for log in result.logs] == list(range(1, len(result.logs) + 1))
    for got in result.products:
        mine = [log for log in result.logs if log.product_number == got.number]
        assert got.log_count == len(mine) and got.name == products[got.number - 1].name
    assert result.stump.base_height == 0 and result.stump.length == 0.3


def test_optimised_outcomes_without_a_winner():
    taper = xylotrak.Taper(*TREE)
    too_thick = as_products([record(60.0, 3.0, 5.0, 100.0)])
    none = xylotrak.buck_optimal(taper, too_thick)
    assert none.outcome is Outcome.NO_WINNER and none.logs == []
    assert none.totals == xylotrak.Totals(*[0.0] * 8)
    # 25 x 25 x 19 butt, second and third logs: generation 3 leaves more than 10000.
    many = [record(10.0, length, length, price, 0, position)
            for position, first, count, price in [(1, 4.0, 25, 120.0), (2, 3.0, 25, 90.0),
                                                   (3, 2.0, 19, 40.0)]
            for length in [first + 0.1 * i for i in range(count)]]
    given_up = xylotrak.buck_optimal(taper, as_products(many), objective="volume")
    assert given_up.outcome is Outcome.GIVEN_UP and given_up.logs == []
    # The exact optimiser answers the same tree, and no worse than any sequence it could see.
    exact = xylotrak.buck_optimal(taper, as_products(many), objective="volume", exact=True)
    assert exact.outcome is Outcome.WINNER and len(exact.logs) >= 3
    assert exact.totals.product_volume > 0


def test_bucking_arguments_are_checked():
    taper, products = xylotrak.Taper(*TREE), as_products(FOUR_PRODUCTS)
    for objective in ("price", None, 0):
        with pytest.raises(ValueError, match="objective"):
            xylotrak.buck_optimal(taper, products, objective=objective)
    with pytest.raises(TypeError):
        xylotrak.buck(taper, [FOUR_PRODUCTS[0]])  # a dict, not a Product
    with pytest.raises(ValueError, match="32767"):
        xylotrak.buck(taper, products * 8192)


def test_bucking_keywords_are_checked_by_name():
    taper = xylotrak.Taper(30, 20, [1, -1], [0, 1])
    products = as_products([record(10.0, 3.0, 3.0, 5.0)])
    with pytest.raises(TypeError, match="stump_hieght"):
        xylotrak.buck(taper, products, stump_hieght=0.5)
    with pytest.raises(TypeError, match="unknown bucking argument"):
        xylotrak.buck_optimal(taper, products, height=3)
    # The defaults are the Heights defaults, for every bucking.
    defaults = xylotrak.Heights()
    explicit = {name: getattr(defaults, name) for name in xylotrak.bucking.HEIGHT_NAMES}
    assert xylotrak.buck(taper, products) == xylotrak.buck(taper, products, **explicit)
    assert xylotrak.buck_optimal(taper, products) == xylotrak.buck_optimal(
        taper, products, **explicit
    )
