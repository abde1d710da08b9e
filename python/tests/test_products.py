"""Product table files: both formats give the same products; every bad input is named."""

import json

import pytest
from conftest import FOUR_PRODUCTS, as_products, record

import xylotrak


def write_csv(path, records, columns=None):
    columns = columns or list(records[0])
    lines = [",".join(columns)] + [",".join(str(r.get(c, "")) for c in columns) for r in records]
    path.write_text("\n".join(lines) + "\n")
    return path


def test_json_and_csv_tables_give_the_same_products(tmp_path):
    expected = as_products(FOUR_PRODUCTS)
    json_file = tmp_path / "products.json"
    json_file.write_text(json.dumps(FOUR_PRODUCTS))
    assert xylotrak.load_products(json_file) == expected
    columns = list(reversed(list(FOUR_PRODUCTS[0])))  # any column order
    assert xylotrak.load_products(write_csv(tmp_path / "p.csv", FOUR_PRODUCTS, columns)) == expected
    # Without suffix the first character decides; without a name the default is used.
    unnamed = [{k: v for k, v in r.items() if k != "name"} for r in FOUR_PRODUCTS[:2]]
    (tmp_path / "table").write_text(json.dumps(unnamed))
    names = [p.name for p in xylotrak.load_products(tmp_path / "table")]
    assert names == ["product 1", "product 2"]
    # Whole numbers may be written 2.0; the product keeps an int.
    priced = dict(FOUR_PRODUCTS[0], priceBasis=2.0)
    json_file.write_text(json.dumps([priced]))
    assert xylotrak.load_products(json_file)[0].price_basis == 2


GOOD = record(7.0, 2.0, 3.0, 8.0, name="pulp")
REMOVE = object()


@pytest.mark.parametrize("change, where, message", [
    ({"minLenght": 2.0}, "field 'minLenght'", "unknown"),
    ({"minLength": REMOVE}, "field 'minLength'", "missing"),
    ({"minLength": None}, "field 'minLength'", "number"),
    ({"minLength": "2"}, "field 'minLength'", "number"),
    ({"priceBasis": 1.5}, "field 'priceBasis'", "whole number"),
    ({"logPosition": 40000}, "field 'logPosition'", "-32768..32767"),
    ({"heightRule": True}, "field 'heightRule'", "number"),
    ({"unitPrice": 1e400}, "field 'unitPrice'", "range"),
    ({"name": 3}, "field 'name'", "string"),
])  # fmt: skip
def test_bad_json_products_are_named(tmp_path, change, where, message):
    bad = dict(GOOD, **change)
    bad = {k: v for k, v in bad.items() if v is not REMOVE}
    path = tmp_path / "products.json"
    path.write_text(json.dumps([GOOD, bad]).replace("Infinity", "1e400"))
    with pytest.raises(xylotrak.InputFileError) as error:
        xylotrak.load_products(path)
    text = str(error.value)
    assert text.startswith(f"{path}: product 2: {where}") and message in text, text
    assert (error.value.path, error.value.line) == (str(path), "product 2")


@pytest.mark.parametrize("text, where, message", [
    ("[1, 2", "line 1", "invalid JSON"),
    ('{"minTopDiam": 1}', "", "array"),
    ("[3]", "product 1", "object"),
    ('[{"minTopDiam": 1, "minTopDiam": 2}]', "", "duplicate key"),
    ('[{"minTopDiam": NaN}]', "", "NaN"),
])
def test_malformed_json_tables(tmp_path, text, where, message):
    path = tmp_path / "products.json"
    path.write_text(text)
    with pytest.raises(xylotrak.InputFileError, match=message) as error:
        xylotrak.load_products(path)
    assert str(error.value).startswith(f"{path}: {where}")


@pytest.mark.parametrize("edit, where, message", [
    (lambda h, r: (h, r.replace("2.0", "", 1)), "line 3: field 'minLength'", "empty"),
    (lambda h, r: (h, r.replace("2.0", "two", 1)), "line 3: field 'minLength'", "not a number"),
    (lambda h, r: (h, r.replace("2.0", "nan", 1)), "line 3: field 'minLength'", "not a number"),
    (lambda h, r: (h, r + ",1"), "line 3", "cells but the header has"),
    (lambda h, r: (h.replace("minLength", "minLen"), r), "line 1: field 'minLen'", "unknown"),
    (lambda h, r: (h.replace("name", "minLength"), r), "line 1: field 'minLength'", "twice"),
    (lambda h, r: (h.replace(",trimLength", ""), r.rsplit(",", 1)[0]), "line 2: field 'trimLength'",
     "missing"),
])  # fmt: skip
def test_bad_csv_products_are_named(tmp_path, edit, where, message):
    path = write_csv(tmp_path / "products.csv", [GOOD, GOOD])
    header, first, second = path.read_text().splitlines()
    header, second = edit(header, second)
    if "trimLength" in where:
        first = first.rsplit(",", 1)[0]
    path.write_text("\n".join([header, first, second]) + "\n")
    with pytest.raises(xylotrak.InputFileError) as error:
        xylotrak.load_products(path)
    assert str(error.value).startswith(f"{path}: {where}") and message in str(error.value)


def test_unreadable_and_empty_tables(tmp_path):
    with pytest.raises(xylotrak.InputFileError, match="cannot read"):
        xylotrak.load_products(tmp_path / "absent.csv")
    (tmp_path / "empty.csv").write_text("\n")
    with pytest.raises(xylotrak.InputFileError, match="header"):
        xylotrak.load_products(tmp_path / "empty.csv")


def test_product_objects_check_their_fields():
    with pytest.raises(TypeError, match="price_basis"):
        xylotrak.Product(min_top_diam=7, min_length=2, max_length=3, unit_price=8, price_basis=1.0)
    with pytest.raises(ValueError):
        xylotrak.Product(min_top_diam=7, min_length=2, max_length=3, unit_price=8,
                         log_position=-40000)
    with pytest.raises(TypeError):
        xylotrak.Product(min_top_diam="7", min_length=2, max_length=3, unit_price=8)


def test_fields_left_out_take_the_librarys_defaults():
    p = xylotrak.Product(min_top_diam=7, min_length=2, max_length=3, unit_price=8)
    assert p.to_record_dict() == {
        "minTopDiam": 7.0, "maxTopDiam": 999.0, "minBaseDiam": 0.0, "maxBaseDiam": 999.0,
        "minLength": 2.0, "maxLength": 3.0, "unitPrice": 8.0, "priceBasis": 0, "logPosition": 0,
        "heightRule": 0, "lossFraction": 0.0, "trimLength": 0.0,
    }  # fmt: skip
    assert type(p.price_basis) is int and type(p.max_top_diam) is float
