"""Strict reading of input files: one error class, number checks, JSON without surprises."""

from __future__ import annotations

import json
import math
import os
import re
from collections.abc import Mapping
from typing import Any, NoReturn, Union

INT16_MIN, INT16_MAX = -32768, 32767

#: A file name, as the input readers take it.
StrPath = Union[str, "os.PathLike[str]"]

# A plain decimal number: no "nan", "inf", hex, underscores or surrounding blanks.
_NUMBER = re.compile(r"[+-]?(?:\d+\.?\d*|\.\d+)(?:[eE][+-]?\d+)?\Z")


class InputFileError(ValueError):
    """Bad input: the message names the file, the line (or record) and the field."""

    def __init__(
        self,
        message: str,
        *,
        path: StrPath | None = None,
        line: int | str | None = None,
        field: str | None = None,
    ) -> None:
        self.reason = message
        self.path = None if path is None else os.fspath(path)
        self.line = line
        self.field = field
        where = []
        if self.path is not None:
            where.append(self.path)
        if line is not None:
            where.append(f"line {line}" if isinstance(line, int) else str(line))
        if field is not None:
            where.append(f"field '{field}'")
        super().__init__(": ".join(where + [message]))

    def __reduce__(self) -> tuple[Any, ...]:  # keeps the attributes when raised on a Dask worker
        return (_rebuild_error, (type(self), self.reason, self.path, self.line, self.field))


def _rebuild_error(
    cls: type[InputFileError],
    reason: str,
    path: str | None,
    line: int | str | None,
    field: str | None,
) -> InputFileError:
    return cls(reason, path=path, line=line, field=field)


def number_from_text(text: str) -> float:
    """A finite number written in plain decimal notation; ValueError otherwise."""
    if not _NUMBER.match(text):
        raise ValueError(f"not a number: {text!r}")
    value = float(text)
    if not math.isfinite(value):
        raise ValueError(f"number out of range: {text!r}")
    return value


def finite_number(value: Any) -> float:
    """A JSON/Python number (not a bool) that is finite, as a float; ValueError otherwise."""
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise ValueError(f"expected a number, got {json.dumps(value)}")
    try:
        result = float(value)
    except OverflowError:
        raise ValueError(f"number out of range: {value}") from None
    if not math.isfinite(result):
        raise ValueError(f"number out of range: {value}")
    return result


def int16(value: float | int) -> int:
    """A whole number in -32768..32767 (2 and 2.0 both pass); ValueError otherwise."""
    if isinstance(value, float) and not value.is_integer():
        raise ValueError(f"expected a whole number, got {value!r}")
    result = int(value)
    if not INT16_MIN <= result <= INT16_MAX:
        raise ValueError(f"whole number {result} is outside {INT16_MIN}..{INT16_MAX}")
    return result


def _reject_constant(name: str) -> NoReturn:
    raise ValueError(f"{name} is not a number")


def _pairs_without_duplicates(pairs: list[tuple[str, Any]]) -> dict[str, Any]:
    result: dict[str, Any] = {}
    for key, value in pairs:
        if key in result:
            raise ValueError(f"duplicate key '{key}'")
        result[key] = value
    return result


def load_json(path: StrPath) -> Any:
    """Parses a JSON file, refusing NaN/Infinity and duplicate keys, with the file named in any
    error (and the line and column of a syntax error)."""
    try:
        with open(path, encoding="utf-8") as stream:
            text = stream.read()
    except OSError as error:
        raise InputFileError(f"cannot read: {error.strerror or error}", path=path) from None
    except UnicodeDecodeError as error:
        raise InputFileError(f"not UTF-8 text: {error.reason}", path=path) from None
    try:
        return json.loads(
            text,
            parse_constant=_reject_constant,
            object_pairs_hook=_pairs_without_duplicates,
        )
    except json.JSONDecodeError as error:
        raise InputFileError(
            f"column {error.colno}: invalid JSON: {error.msg}", path=path, line=error.lineno
        ) from None
    except ValueError as error:
        raise InputFileError(f"invalid JSON: {error}", path=path) from None


def load_json_object(
    source: StrPath | Mapping[str, Any], expected: str
) -> tuple[Mapping[str, Any], StrPath | None]:
    """``(data, path)``: ``source`` itself when it is a mapping (path None), else the JSON file
    it names, which must hold an object; ``expected`` says what the object should be."""
    if isinstance(source, Mapping):
        return source, None
    data = load_json(source)
    if not isinstance(data, Mapping):
        raise InputFileError(expected, path=source)
    return data, source
