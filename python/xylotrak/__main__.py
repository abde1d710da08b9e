"""``python3 -m xylotrak demo``: the comparison that ``xtk demo`` prints, made with the binding.

A 30 m conifer bucked into four products twice, in priority order and optimised by value, laid
out as ``xtk demo`` lays it out (the same text, character for character; xtk's drawing of the
two buckings, its ``--svg`` file, is not made here).
"""

from __future__ import annotations

import argparse
import decimal
import math
import sys
from collections.abc import Sequence

from .bucking import BuckingResult, buck, buck_optimal
from .products import Product
from .taper import Taper

__all__ = ["demo_products", "demo_text", "demo_tree", "main"]

_PROFILE_HEIGHTS = (0.0, 1.3, 3.0, 6.0, 9.0, 12.0, 15.0, 18.0, 21.0, 24.0, 27.0, 30.0)
_STUMP_HEIGHT = 0.3


def demo_tree() -> Taper:
    """A 30 m conifer of 30 cm at breast height whose relative diameter narrows from 1.17 at the
    ground (the butt swell) through 1.0 at breast height to 0 at the tip."""
    return Taper(30, 30, [1.17, -1.07, 1.19, -1.54, 0.6, -0.35], [0, 0.5, 1, 2, 3, 6])


def demo_products() -> list[Product]:
    """Four assortments in the mill's order of priority: veneer only from the butt log,
    sawlogs, poles of exactly 6 m with a top of 14 to 20 cm paid by the piece, and pulpwood."""

    def product(
        name: str, min_top: float, min_length: float, max_length: float, price: float,
        basis: int, position: int, loss: float, max_top: float = 999,
    ) -> Product:  # fmt: skip
        return Product(
            name=name, min_top_diam=min_top, max_top_diam=max_top, min_length=min_length,
            max_length=max_length, unit_price=price, price_basis=basis, log_position=position,
            loss_fraction=loss, trim_length=0.1,
        )  # fmt: skip

    return [
        product("veneer", 26, 3.0, 4.0, 150, 0, 1, 0.05),
        product("sawlog", 18, 3.0, 5.0, 90, 0, 0, 0.05),
        product("pole", 14, 6.0, 6.0, 16, 2, 0, 0.0, max_top=20),
        product("pulp", 7, 2.0, 3.0, 25, 0, 0, 0.0),
    ]


# -- numbers as xtk writes them -----------------------------------------------
def _fixed(value: float, decimals: int) -> str:
    """printf's ``%.*f``; "-" for NaN."""
    return "-" if math.isnan(value) else "%.*f" % (decimals, value)


def _compact(value: float) -> str:
    """Three decimals with the trailing zeros (and a bare point) dropped."""
    text = _fixed(value, 3).rstrip("0")
    return text[:-1] if text.endswith(".") else text


def _num17(value: float) -> str:
    """printf's ``%.17g``."""
    return "%.17g" % value


def _shortest(value: float) -> str:
    """The shortest text that reads back as ``value``, as C++'s ``std::to_chars`` writes it: the
    shortest digits in fixed or scientific notation, whichever is shorter (fixed on a tie)."""
    if not math.isfinite(value):
        return repr(value)
    if value == 0:
        return "-0" if math.copysign(1, value) < 0 else "0"
    number = decimal.Decimal(repr(value))  # repr: the shortest digits that read back
    sign, digits, exponent = number.as_tuple()
    assert isinstance(exponent, int)
    while len(digits) > 1 and digits[-1] == 0:  # "30.0" has the digits of "3e+01"
        digits, exponent = digits[:-1], exponent + 1
    mantissa = "".join(map(str, digits))
    minus = "-" if sign else ""
    scale = exponent + len(digits) - 1  # the power of ten of the first digit
    head = mantissa[0] + ("." + mantissa[1:] if len(mantissa) > 1 else "")
    scientific = f"{minus}{head}e{'-' if scale < 0 else '+'}{abs(scale):02d}"
    if exponent >= 0:
        plain = mantissa + "0" * exponent
    elif -exponent < len(mantissa):
        plain = mantissa[:exponent] + "." + mantissa[exponent:]
    else:
        plain = "0." + "0" * (-exponent - len(mantissa)) + mantissa
    plain = minus + plain
    return plain if len(plain) <= len(scientific) else scientific


def _polynomial(taper: Taper) -> str:
    text = ""
    for i, (coef, exp) in enumerate(zip(taper.coefs, taper.exps)):
        if i == 0:
            text += _shortest(coef)
        else:
            text += " - " if coef < 0 else " + "
            text += _shortest(abs(coef)) + (" x" if exp == 1 else " x^" + _shortest(exp))
    return text


class _Table:
    """Columns of text, numbers right-aligned and text left-aligned, as xtk prints them."""

    def __init__(self) -> None:
        self._titles: list[str] = []
        self._right: list[bool] = []
        self._rows: list[list[str]] = []

    def column(self, title: str, *, left: bool = False) -> None:
        self._titles.append(title)
        self._right.append(not left)

    def row(self, cells: Sequence[str]) -> None:
        self._rows.append((list(cells) + [""] * len(self._titles))[: len(self._titles)])

    def lines(self, indent: int = 2) -> list[str]:
        widths = [
            max([len(title)] + [len(row[c]) for row in self._rows])
            for c, title in enumerate(self._titles)
        ]

        def line(cells: Sequence[str]) -> str:
            out = " " * indent
            for c, cell in enumerate(cells):
                pad = " " * (widths[c] - len(cell))
                if c:
                    out += "  "
                if self._right[c]:
                    out += pad + cell
                else:
                    out += cell + (pad if c + 1 < len(cells) else "")
            return out.rstrip(" ")

        rule = " " * indent + "-" * (sum(widths) + 2 * (len(widths) - 1))
        return [line(self._titles), rule] + [line(row) for row in self._rows]


def _log_table(result: BuckingResult) -> _Table:
    table = _Table()
    table.column("log")
    table.column("product", left=True)
    for title in ("base m", "length m", "top cm", "m3", "value"):
        table.column(title)
    for k, log in enumerate(result.logs, start=1):
        table.row([
            str(k), log.product_name or "?", _fixed(log.base_height, 2), _fixed(log.length, 2),
            _fixed(log.top_diam, 1), _fixed(log.volume, 4), _fixed(log.value, 2),
        ])  # fmt: skip
    return table


_TOTAL_LABELS = (
    ("product volume (m3)", "product_volume"), ("stump (m3)", "stump_volume"),
    ("leftover (m3)", "leftover_volume"), ("top (m3)", "top_volume"),
    ("trims (m3)", "trim_volume"), ("loss (m3)", "loss_volume"),
    ("whole stem (m3)", "stem_volume"), ("total value", "total_value"),
)  # fmt: skip


def _totals_table(titles: Sequence[str], results: Sequence[BuckingResult]) -> _Table:
    table = _Table()
    table.column("", left=True)
    for title in titles:
        table.column(title)
    table.row(["logs"] + [str(len(r.logs)) for r in results])
    for label, name in _TOTAL_LABELS:
        decimals = 2 if name == "total_value" else 4
        table.row([label] + [_fixed(getattr(r.totals, name), decimals) for r in results])
    return table


def demo_text() -> str:
    """The demo's report: the tree, its profile, the products and both buckings side by side."""
    tree, products = demo_tree(), demo_products()
    sequential = buck(tree, products, stump_height=_STUMP_HEIGHT)
    optimised = buck_optimal(tree, products, objective="value", stump_height=_STUMP_HEIGHT)
    out: list[str] = []
    summary = f"dbh {_compact(tree.dbh)} cm, height {_compact(tree.height)} m, "
    summary += f"{tree.term_count}-term taper"
    out.append(f"Tree: {summary}, stump cut at {_compact(_STUMP_HEIGHT)} m")
    out.append(f"  relative diameter p(x) = {_polynomial(tree)},  x = h / {_num17(tree.height)}")
    out.append("")

    profile = _Table()
    profile.column("height m")
    for h in _PROFILE_HEIGHTS:
        profile.column(_fixed(h, 1))
    profile.row(["diameter cm"] + [_fixed(tree.diameter(h), 1) for h in _PROFILE_HEIGHTS])
    out.append("Profile")
    out += profile.lines()

    table = _Table()
    for title in ("#", "product", "top cm", "length m", "log", "price", "loss"):
        table.column(title, left=title == "product")
    for number, p in enumerate(products, start=1):
        top = (
            f"{_fixed(p.min_top_diam, 0)}-{_fixed(p.max_top_diam, 0)}"
            if p.max_top_diam < 999
            else f">= {_fixed(p.min_top_diam, 0)}"
        )
        length = (
            _fixed(p.max_length, 1)
            if p.min_length == p.max_length
            else f"{_fixed(p.min_length, 1)}-{_fixed(p.max_length, 1)}"
        )
        basis = {0: "/m3", 1: "/m"}.get(p.price_basis, "/log")
        table.row([
            str(number), p.label(number), top, length,
            "any" if p.log_position == 0 else str(p.log_position),
            _fixed(p.unit_price, 0) + basis, _fixed(p.loss_fraction * 100, 0) + "%",
        ])  # fmt: skip
    out.append("")
    out.append("Products, in priority order")
    out += table.lines()

    left, right = _log_table(sequential).lines(), _log_table(optimised).lines()
    left_title = f"Sequential bucking: value {_fixed(sequential.totals.total_value, 2)}"
    right_title = f"Optimised by value: value {_fixed(optimised.totals.total_value, 2)}"
    width = max([len(left_title) + 2] + [len(line) for line in left]) + 4
    out.append("")
    out.append(("  " + left_title).ljust(width) + "  " + right_title)
    for i in range(max(len(left), len(right))):
        pair = (left[i] if i < len(left) else "").ljust(width)
        out.append((pair + (right[i] if i < len(right) else "")).rstrip(" "))
    out.append("")
    out += _totals_table(["sequential", "optimised by value"], [sequential, optimised]).lines()
    gain = optimised.totals.total_value - sequential.totals.total_value
    share = 100 * gain / sequential.totals.total_value
    out.append("")
    out.append(
        f"The search for the best sequence gains {_fixed(gain, 2)} ({_fixed(share, 1)}%) "
        "over cutting in priority order."
    )
    return "\n".join(out) + "\n"


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(
        prog="python3 -m xylotrak", description="The Xylotrak Python binding's commands."
    )
    commands = parser.add_subparsers(dest="command", required=True)
    commands.add_parser(
        "demo",
        help="buck a built-in 30 m tree into four products, in priority order and by value",
        description="Prints the comparison of xtk demo (without its drawing).",
    )
    parser.parse_args(argv)
    sys.stdout.write(demo_text())
    return 0


if __name__ == "__main__":
    sys.exit(main())
