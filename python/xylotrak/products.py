"""Products (assortments) and the product table files."""

from __future__ import annotations

import csv
import ctypes
import dataclasses
import os
from collections.abc import Mapping, Sequence
from typing import Any

from . import _lib
from ._input import (
    INT16_MAX,
    InputFileError,
    StrPath,
    finite_number,
    int16,
    load_json,
    number_from_text,
)

__all__ = ["Product", "RECORD_NAMES", "load_products"]


@dataclasses.dataclass(frozen=True, kw_only=True)
class Product:
    """One product of the table, in priority order. Fields are the ``ProductSpec`` input fields
    in snake_case (``RECORD_NAMES`` maps them to the record names used in product files).

    Diameters in cm, lengths in m. ``price_basis``: 0 per m^3 net, 1 per metre, 2 per log.
    ``log_position``: 0 or 99 any position, k >= 1 only the k-th log. ``height_rule``: 0 none,
    1 bound by the bucking's ``height_limit``. In Python the limits that mean "no restriction"
    may be left out; product files must give every field.
    """

    min_top_diam: float
    min_length: float
    max_length: float
    unit_price: float
    max_top_diam: float = dataclasses.field(default_factory=lambda: _default("max_top_diam"))
    min_base_diam: float = dataclasses.field(default_factory=lambda: _default("min_base_diam"))
    max_base_diam: float = dataclasses.field(default_factory=lambda: _default("max_base_diam"))
    price_basis: int = dataclasses.field(default_factory=lambda: _default_code("price_basis"))
    log_position: int = dataclasses.field(default_factory=lambda: _default_code("log_position"))
    height_rule: int = dataclasses.field(default_factory=lambda: _default_code("height_rule"))
    loss_fraction: float = dataclasses.field(default_factory=lambda: _default("loss_fraction"))
    trim_length: float = dataclasses.field(default_factory=lambda: _default("trim_length"))
    name: str | None = None

    def __post_init__(self) -> None:
        for field in dataclasses.fields(self):
            value = getattr(self, field.name)
            if field.name == "name":
                if value is not None and not isinstance(value, str):
                    raise TypeError(f"Product.name must be a string, got {value!r}")
            elif field.name in _INT_FIELDS:
                if isinstance(value, bool) or not isinstance(value, int):
                    raise TypeError(f"Product.{field.name} must be an int, got {value!r}")
                int16(value)  # range check
            else:
                if isinstance(value, bool) or not isinstance(value, (int, float)):
                    raise TypeError(f"Product.{field.name} must be a number, got {value!r}")
                object.__setattr__(self, field.name, float(value))

    def label(self, number: int) -> str:
        """The product's name, or "product <number>" (1-based table index) without one."""
        return self.name if self.name else f"product {number}"

    def to_record(self, record: _lib.ProductSpec) -> None:
        """Writes the input fields into a ProductSpec record."""
        for snake, camel in RECORD_NAMES.items():
            setattr(record, camel, getattr(self, snake))

    def to_record_dict(self) -> dict[str, Any]:
        """The product as in a JSON product table (record names, and ``name`` when set)."""
        result: dict[str, Any] = {
            camel: getattr(self, snake) for snake, camel in RECORD_NAMES.items()
        }
        if self.name is not None:
            result["name"] = self.name
        return result


RECORD_NAMES: dict[str, str] = {
    "min_top_diam": "minTopDiam",
    "max_top_diam": "maxTopDiam",
    "min_base_diam": "minBaseDiam",
    "max_base_diam": "maxBaseDiam",
    "min_length": "minLength",
    "max_length": "maxLength",
    "unit_price": "unitPrice",
    "price_basis": "priceBasis",
    "log_position": "logPosition",
    "height_rule": "heightRule",
    "loss_fraction": "lossFraction",
    "trim_length": "trimLength",
}


def _default(field: str) -> float:
    """The library's default of a product field a user may leave out."""
    return float(_lib.product_default()[RECORD_NAMES[field]])


def _default_code(field: str) -> int:
    """The same for the three 16-bit codes."""
    return int(_lib.product_default()[RECORD_NAMES[field]])


_INT_FIELDS = frozenset({"price_basis", "log_position", "height_rule"})
_SNAKE = {camel: snake for snake, camel in RECORD_NAMES.items()}
_ALLOWED = ", ".join(list(RECORD_NAMES.values()) + ["name"])


def _product_from_cells(
    cells: Mapping[str, Any],
    number: int,
    *,
    text: bool,
    path: StrPath | None,
    line: int | str | None,
) -> Product:
    """A product from one JSON object or CSV row (``text``: CSV cells, else JSON values)."""
    for key in cells:
        if key != "name" and key not in _SNAKE:
            raise InputFileError(
                f"unknown field (allowed: {_ALLOWED})", path=path, line=line, field=key
            )
    values: dict[str, Any] = {}
    for camel, snake in _SNAKE.items():
        if camel not in cells:
            raise InputFileError("missing", path=path, line=line, field=camel)
        raw = cells[camel]
        try:
            if text:
                if raw.strip() == "":
                    raise ValueError("empty")
                value = number_from_text(raw.strip())
            else:
                value = finite_number(raw)
            values[snake] = int16(value) if snake in _INT_FIELDS else value
        except ValueError as error:
            raise InputFileError(str(error), path=path, line=line, field=camel) from None
    name = cells.get("name")
    if name is not None and not isinstance(name, str):
        raise InputFileError("expected a string", path=path, line=line, field="name")
    values["name"] = name if name else f"product {number}"
    return Product(**values)


def _check_count(count: int, path: StrPath | None) -> None:
    if count > INT16_MAX:
        raise InputFileError(f"{count} products; at most {INT16_MAX} are allowed", path=path)


def _load_json_products(path: StrPath) -> list[Product]:
    data = load_json(path)
    if not isinstance(data, list):
        raise InputFileError("expected a JSON array of product objects", path=path)
    _check_count(len(data), path)
    products = []
    for index, item in enumerate(data, start=1):
        where = f"product {index}"
        if not isinstance(item, dict):
            raise InputFileError("expected a JSON object", path=path, line=where)
        products.append(_product_from_cells(item, index, text=False, path=path, line=where))
    return products


def _load_csv_products(path: StrPath) -> list[Product]:
    try:
        stream = open(path, encoding="utf-8-sig", newline="")
    except OSError as error:
        raise InputFileError(f"cannot read: {error.strerror or error}", path=path) from None
    products: list[Product] = []
    with stream:
        reader = csv.reader(stream)
        try:
            header: list[str] | None = None
            for row in reader:
                if not any(cell.strip() for cell in row):
                    continue  # blank line
                if header is None:
                    header = [cell.strip() for cell in row]
                    seen: set[str] = set()
                    for name in header:
                        if name in seen:
                            raise InputFileError(
                                "column appears twice", path=path, line=reader.line_num, field=name
                            )
                        seen.add(name)
                        if name != "name" and name not in _SNAKE:
                            raise InputFileError(
                                f"unknown column (allowed: {_ALLOWED})",
                                path=path, line=reader.line_num, field=name,
                            )  # fmt: skip
                    continue
                if len(row) != len(header):
                    raise InputFileError(
                        f"{len(row)} cells but the header has {len(header)} columns",
                        path=path, line=reader.line_num,
                    )  # fmt: skip
                cells = dict(zip(header, row))
                number = len(products) + 1
                _check_count(number, path)
                products.append(
                    _product_from_cells(cells, number, text=True, path=path, line=reader.line_num)
                )
        except csv.Error as error:
            raise InputFileError(f"invalid CSV: {error}", path=path, line=reader.line_num) from None
        except UnicodeDecodeError as error:
            raise InputFileError(f"not UTF-8 text: {error.reason}", path=path) from None
    if header is None:
        raise InputFileError("empty file: expected a header row", path=path)
    return products


def load_products(path: str | os.PathLike[str]) -> list[Product]:
    """Reads a product table: a JSON array of objects or a CSV file with a header row, under the
    record field names (every one required; ``name`` optional, default "product <n>"). The
    format follows the suffix (``.json``/``.csv``), else the first character (``[`` is JSON).

    Raises InputFileError naming the file, the line (CSV) or product (JSON) and the field.
    """
    suffix = os.fspath(path).lower().rsplit(".", 1)[-1]
    if suffix not in ("json", "csv"):
        try:
            with open(path, encoding="utf-8-sig") as stream:
                suffix = "json" if stream.read(4096).lstrip().startswith("[") else "csv"
        except (OSError, UnicodeDecodeError):
            suffix = "csv"  # the CSV reader reports the problem
    return _load_json_products(path) if suffix == "json" else _load_csv_products(path)


def product_table(products: Sequence[Product]) -> ctypes.Array[_lib.ProductSpec]:
    """A ProductSpec array holding the products' inputs, in order."""
    if len(products) > INT16_MAX:
        raise ValueError(f"{len(products)} products; at most {INT16_MAX} are allowed")
    table = (_lib.ProductSpec * max(len(products), 1))()
    for record, product in zip(table, products):
        if not isinstance(product, Product):
            raise TypeError(f"expected Product, got {type(product).__name__}")
        product.to_record(record)
    return table
