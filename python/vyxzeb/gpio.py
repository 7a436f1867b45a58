"""The board's GPIO lines.

Lines are numbered 0 to 7 (:func:`count`): lines 0 to 2 are inputs, 3 to 7
outputs (:func:`direction_mask`; the directions are fixed by the board).  On
the virtual board, input line 0 is also the PL's external trigger input.
The calls need an open :class:`vyxzeb.Camera` (they raise
:class:`vyxzeb.NotInitializedError` otherwise)::

    with vyxzeb.Camera():
        vyxzeb.gpio.set(3, True)
        button = vyxzeb.gpio.get(0)
"""

from __future__ import annotations

from . import _vyxzeb

__all__ = ["count", "direction_mask", "get", "set", "status", "set_status"]


def count() -> int:
    """Number of GPIO lines (8)."""
    return int(_vyxzeb.gpio_count())


def direction_mask() -> int:
    """Bit i set means line i is an output (0xF8: lines 3 to 7)."""
    return int(_vyxzeb.gpio_direction_mask())


def get(line: int) -> bool:
    """Level of a line (inputs and outputs)."""
    return bool(_vyxzeb.gpio_get(line))


def set(line: int, value: bool) -> None:  # noqa: A001 - the verb of the GPIO family
    """Drives an output line (3 to 7) high (True) or low (False)."""
    _vyxzeb.gpio_set(line, value)


def status() -> int:
    """Levels of all lines as a bit mask: bit i is line i."""
    return int(_vyxzeb.gpio_status())


def set_status(levels: int) -> None:
    """Sets output lines 3 to 7 from the bits of ``levels`` (other bits are
    ignored)."""
    _vyxzeb.gpio_set_status(levels)
