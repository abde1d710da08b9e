"""Element-wise application of a scalar export, with or without NumPy.

NumPy is never imported here: an ndarray can only exist once the caller has imported NumPy,
so it is looked up in ``sys.modules``.
"""

from __future__ import annotations

import sys
from collections.abc import Callable, Iterable
from typing import Any


def _numpy() -> Any:
    return sys.modules.get("numpy")


def is_ndarray(values: object) -> bool:
    np = _numpy()
    return np is not None and isinstance(values, np.ndarray)


def map_values(fn: Callable[[float], float], values: Any, *, dtype: str = "float64") -> Any:
    """``fn`` applied to every element: an ndarray of the same shape for an ndarray (or NumPy
    scalar), a list for any other iterable."""
    np = _numpy()
    if np is not None and isinstance(values, (np.ndarray, np.generic)):
        source = np.asarray(values, dtype=np.float64)
        out = np.empty(source.shape, dtype=dtype)
        flat = out.reshape(-1)
        for i, v in enumerate(source.reshape(-1).tolist()):
            flat[i] = fn(v)
        return out
    if isinstance(values, (str, bytes)) or not isinstance(values, Iterable):
        raise TypeError(
            f"expected a sequence or array of numbers, got {type(values).__name__}; "
            "use the scalar method for a single value"
        )
    return [fn(float(v)) for v in values]
