"""vyxzeb - the VYX smart camera from Python, with NumPy frames.

The camera (an ARMv7 board with a 1280 x 1024 grey sensor and a 1280 x 720
HDMI output) through its SDK library ``libvyxzeb``: on the board itself, or
on a PC under the virtual board::

    vyxsim -- python3 -c "import vyxzeb; print(vyxzeb.Camera().capture().mean())"

Main pieces:

* :class:`Camera` - settings as properties, ``capture()`` (a NumPy copy),
  ``frame()`` (zero-copy, as a context manager), ``frames(n)``,
  ``trigger()``, ``show(image)`` and ``show_frame()`` on HDMI.
* :mod:`vyxzeb.gpio` - the board's GPIO lines.
* :func:`save_bmp` - BMP files through the library's writer.
* :func:`set_log` - the library's diagnostic log.
* :class:`Error` and its subclasses - raised by every failing call, with the
  library's return code, its name and explanation.
"""

from __future__ import annotations

import os
from typing import Any, Optional, Tuple, Union

import numpy as np

from . import _vyxzeb, gpio
from ._errors import (BadParameterError, CaptureTimeoutError, Error, FrameReleasedError, NotInitializedError,
                      NotSupportedError)
from ._types import (AddressMode, CaptureSize, DeviceInfo, FieldOfView, FieldOfViewLimits, SensorType,
                     TriggerMode)
from .camera import Camera
from .frame import Frame

__all__ = [
    "AddressMode", "BadParameterError", "Camera", "CaptureSize", "CaptureTimeoutError", "DeviceInfo", "Error",
    "FieldOfView", "FieldOfViewLimits", "Frame", "FrameReleasedError", "NotInitializedError",
    "NotSupportedError", "SensorType", "TriggerMode", "gpio", "library_version", "log_file", "save_bmp", "set_log",
]


def library_version() -> Tuple[int, int, int, int]:
    """Version of libvyxzeb, four numbers (2, 2, 0, 0)."""
    return tuple(_vyxzeb.library_version())  # type: ignore[return-value]


__version__ = ".".join(str(n) for n in library_version())


def save_bmp(image: Any, path: Union[str, "os.PathLike[str]"]) -> None:
    """Saves a ``uint8`` image as a BMP file through the library's writer:
    (height, width) grey (8 bits), (height, width, 3) RGB (24 bits) or
    (height, width, 4) RGBA (32 bits).  ``path`` must lie under
    ``/picture/sd/`` or ``/picture/data/`` (the camera's storage; under
    ``vyxsim`` the sandbox of ``--root``), and a camera must be open."""
    _vyxzeb.save_bmp(np.asarray(image), os.fspath(path))


def set_log(folder: Optional[Union[str, "os.PathLike[str]"]]) -> Optional[str]:
    """Switches the library's diagnostic log: with a folder, on, into a new
    file ``VYXLog_YYYYMMDD(hhmmss).txt`` there (the folder is made if its
    parent exists; raises ``OSError`` otherwise); with None, off.  Works with
    or without an open camera; switch it on before opening a camera to see
    why opening fails.  Returns the log file's path, or None."""
    return _vyxzeb.set_log(None if folder is None else os.fspath(folder))


def log_file() -> Optional[str]:
    """Path of the library's log file while the log is on, else None."""
    return _vyxzeb.log_file()
