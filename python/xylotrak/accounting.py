"""The library's per-family call counters.

Slots 0-6 start counting from zero at the first counted call after the library is loaded (or at
``start()``) and stop at ``stop()``; slot 7, the basic formulas, starts with the first formula
call and never stops; that first formula call also restarts slots 0-6 from zero. Counters are
32-bit and wrap; ``count`` reads them as unsigned.
"""

from __future__ import annotations

import enum

from . import _lib

__all__ = ["Slot", "Status", "count", "snapshot", "start", "status", "stop"]


class Slot(enum.IntEnum):
    OPTIMISED_BUCKING = 0  # PHVoDll
    SEQUENTIAL_BUCKING = 1  # PHVsDll
    VOLUME = 2  # PHViDll
    DIAMETER = 3  # PHDiDll
    HEIGHT = 4  # PHHiDll
    FORM_FACTOR = 5  # PHFFDll
    LOG_COUNT = 6  # PHCTDll
    FORMULAS = 7  # gDll, dgDll, VTHuDll, VTCiDll, VTSmDll, VTNwDll, VTNeDll, VTCoDll


class Status(enum.Enum):
    OFF = 0  # never started since the library was loaded
    COUNTING = -1
    STOPPED = -2


def _slot(slot: int | Slot) -> int:
    try:
        return int(Slot(slot))
    except ValueError:
        raise ValueError(f"accounting slot must be 0..7, got {slot!r}") from None


def start() -> None:
    """Starts slots 0-6 counting from zero."""
    _lib.load_library().tally_start()


def stop() -> None:
    """Stops slots 0-6; their counts are kept."""
    _lib.load_library().tally_stop()


def status(slot: int | Slot) -> Status:
    return Status(_lib.load_library().tally_status(_slot(slot)))


def count(slot: int | Slot) -> int:
    """The slot's counter, 0 to 2**32 - 1."""
    counter: int = _lib.load_library().tally_count(_slot(slot))
    return counter & 0xFFFFFFFF


def snapshot() -> dict[str, dict[str, object]]:
    """Every slot's status and count, keyed by slot name in lower case, e.g.
    ``{"diameter": {"slot": 3, "status": "counting", "count": 104}, ...}``."""
    return {
        slot.name.lower(): {
            "slot": int(slot),
            "status": status(slot).name.lower(),
            "count": count(slot),
        }
        for slot in Slot
    }
