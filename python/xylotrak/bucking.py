"""Bucking one stem into logs of a product table: sequential (``buck``) or optimised
(``buck_optimal``)."""

from __future__ import annotations

import ctypes
import dataclasses
import enum
from collections.abc import Sequence
from typing import Any, cast

from . import _lib
from .products import Product, product_table
from .taper import Taper

__all__ = [
    "BuckingResult",
    "Heights",
    "Log",
    "Outcome",
    "ProductResult",
    "Totals",
    "buck",
    "buck_optimal",
]

OBJECTIVES = {"value": 0, "volume": 1}


@dataclasses.dataclass(frozen=True)
class Heights:
    """The heights of a bucking call, the keyword arguments of every bucking function:
    ``stump_height`` and ``stump_trim`` (m), ``start_height`` (where the sequential bucking's
    first log may begin at the earliest), ``top_height_limit`` (a log of minimum length must end
    below it; 999 is the tip) and ``height_limit`` (for products with the height rule). The
    defaults are the library's."""

    stump_height: float = dataclasses.field(
        default_factory=lambda: _lib.bucking_default(_lib.DEFAULT_STUMP_HEIGHT))
    stump_trim: float = dataclasses.field(
        default_factory=lambda: _lib.bucking_default(_lib.DEFAULT_STUMP_TRIM))
    start_height: float = dataclasses.field(
        default_factory=lambda: _lib.bucking_default(_lib.DEFAULT_START_HEIGHT))
    top_height_limit: float = dataclasses.field(
        default_factory=lambda: _lib.bucking_default(_lib.DEFAULT_TOP_HEIGHT_LIMIT))
    height_limit: float = dataclasses.field(
        default_factory=lambda: _lib.bucking_default(_lib.DEFAULT_HEIGHT_LIMIT))

    def arguments(self) -> tuple[float, ...]:
        """Arguments 6 to 12 of the bucking exports (8 and 9 are not read)."""
        return (
            self.start_height, self.top_height_limit, 0.0, 0.0, self.stump_height,
            self.stump_trim, self.height_limit,
        )  # fmt: skip


HEIGHT_NAMES = tuple(field.name for field in dataclasses.fields(Heights))


def heights_of(options: dict[str, float]) -> Heights:
    """The Heights named by keyword arguments; an unknown name is a TypeError naming it."""
    unknown = sorted(set(options) - set(HEIGHT_NAMES))
    if unknown:
        raise TypeError(
            f"unknown bucking argument {', '.join(unknown)} (expected {', '.join(HEIGHT_NAMES)})"
        )
    return Heights(**options)


class Outcome(enum.Enum):
    """What a bucking call answered: the export's 1.0, 0.0 or 99.0."""

    NO_WINNER = 0  # the optimised search found no admissible sequence
    WINNER = 1  # a cutting was reported (sequential bucking always answers this)
    GIVEN_UP = 99  # the optimised search was given up (too many sequences, or out of memory)

    @property
    def raw(self) -> float:
        """The export's return value."""
        return float(self.value)

    @classmethod
    def from_raw(cls, raw: float) -> Outcome:
        for outcome in cls:
            if raw == outcome.value:
                return outcome
        raise RuntimeError(f"the bucking export answered {raw!r}, expected 1.0, 0.0 or 99.0")


@dataclasses.dataclass(frozen=True)
class Log:
    """One row of the log table; the stump row has log_number 0 and product_number 0."""

    log_number: int
    product_number: int
    product_name: str | None  # None in the stump row
    base_height: float
    length: float
    top_height: float
    trim_top_height: float
    base_diam: float
    top_diam: float
    trim_top_diam: float
    volume: float  # m^3 net of the product's loss
    value: float


@dataclasses.dataclass(frozen=True)
class ProductResult:
    """The result fields of one product record."""

    number: int  # 1-based table index
    product: Product
    log_count: int
    volume_sum: float
    value_sum: float
    last_top_height: float
    last_top_diam: float
    length_sum: float
    mean_top_diam: float
    weighted_top_diam: float

    @property
    def name(self) -> str:
        return self.product.label(self.number)


@dataclasses.dataclass(frozen=True)
class Totals:
    """The eight stem totals, in the exports' argument order."""

    product_volume: float
    stump_volume: float
    leftover_volume: float
    top_volume: float
    trim_volume: float
    loss_volume: float
    stem_volume: float
    total_value: float


TOTAL_NAMES = tuple(field.name for field in dataclasses.fields(Totals))


@dataclasses.dataclass(frozen=True)
class BuckingResult:
    outcome: Outcome
    stump: Log
    logs: list[Log]
    products: list[ProductResult]
    totals: Totals


_LOG_DOUBLES = (
    "baseHeight", "length", "topHeight", "trimTopHeight", "baseDiam", "topDiam", "trimTopDiam",
    "volume", "value",
)  # fmt: skip
_PRODUCT_DOUBLES = (
    "volumeSum", "valueSum", "lastTopHeight", "lastTopDiam", "lengthSum", "meanTopDiam",
    "weightedTopDiam",
)  # fmt: skip


class Bucker:
    """The records of one product table, reused for many stems (the exports clear every output
    on entry). Not for use by two threads at once."""

    def __init__(self, products: Sequence[Product]):
        self.products = list(products)
        self._table = product_table(self.products)
        self._logs = (_lib.LogEntry * _lib.LOG_ROWS)()
        self._totals = [ctypes.c_double() for _ in range(8)]
        self._total_refs = [ctypes.byref(t) for t in self._totals]

    def run(
        self,
        taper: Taper,
        objective: str | None = None,
        *,
        exact: bool = False,
        **heights: float,
    ) -> BuckingResult:
        """Sequential bucking with ``objective`` None, else optimised for "value" or "volume":
        by the breadth-first search, or with ``exact`` by the exact optimiser. The keyword
        arguments are those of :class:`Heights`."""
        lib = _lib.load_library()
        scalars = heights_of(heights).arguments()
        count = len(self.products)
        if objective is None:
            raw = lib.PHVsDll(
                *taper.model_args(), *scalars, self._table, count, *self._total_refs, self._logs
            )
        else:
            try:
                code = OBJECTIVES[objective]
            except (KeyError, TypeError):
                message = f"objective must be 'value' or 'volume', got {objective!r}"
                raise ValueError(message) from None
            raw = (lib.PHVxDll if exact else lib.PHVoDll)(
                *taper.model_args(), *scalars, self._table, count, code, *self._total_refs,
                self._logs,
            )  # fmt: skip
        return self._result(Outcome.from_raw(raw))

    def _log(self, row: _lib.LogEntry) -> Log:
        number = row.productNumber
        if number == 0:
            name = None
        elif 1 <= number <= len(self.products):
            name = self.products[number - 1].label(number)
        else:  # cannot happen with a sound library; keep the row rather than hide it
            name = f"product {number}"
        return Log(row.logNumber, number, name, *(getattr(row, f) for f in _LOG_DOUBLES))

    def _result(self, outcome: Outcome) -> BuckingResult:
        logs = []
        for k in range(1, _lib.LOG_ROWS):
            row = self._logs[k]
            if row.logNumber == 0:
                break
            logs.append(self._log(row))
        products = [
            ProductResult(
                number, product, record.logCount, *(getattr(record, f) for f in _PRODUCT_DOUBLES)
            )
            for number, (product, record) in enumerate(zip(self.products, self._table), start=1)
        ]
        totals = Totals(*(t.value for t in self._totals))
        return BuckingResult(outcome, self._log(self._logs[0]), logs, products, totals)


def buck(taper: Taper, products: Sequence[Product], **heights: float) -> BuckingResult:
    """Sequential bucking: the products in table order, each cutting as many logs as its rules
    allow from the stump upward. The keyword arguments are those of :class:`Heights`. The
    outcome is always WINNER."""
    # As given: mypy cannot see that no ``exact`` is among the heights.
    return Bucker(products).run(taper, None, **cast("dict[str, Any]", heights))


def buck_optimal(
    taper: Taper,
    products: Sequence[Product],
    *,
    objective: str = "value",
    exact: bool = False,
    **heights: float,
) -> BuckingResult:
    """Optimised bucking: the sequence of logs with the highest total value (``objective``
    "value") or net volume ("volume"). The keyword arguments are those of :class:`Heights`;
    the first log always begins at stump_height + stump_trim (start_height is passed on but
    not used). Outcome NO_WINNER or GIVEN_UP leaves the log table, products and totals
    cleared.

    The breadth-first search gives up (GIVEN_UP) when a generation holds more than 10000
    sequences; with ``exact`` the exact optimiser answers every tree with the best sequence over
    all admissible ones (GIVEN_UP then only if memory runs out)."""
    if objective not in OBJECTIVES:
        raise ValueError(f"objective must be 'value' or 'volume', got {objective!r}")
    return Bucker(products).run(taper, objective, exact=exact, **heights)
