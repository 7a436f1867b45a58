"""Zero-copy frames: the camera's frame buffer itself, for as long as it is
held."""

from __future__ import annotations

import os
from typing import Any, Optional, Tuple, Union

import numpy as np

from . import _vyxzeb
from ._errors import FrameReleasedError

PathLike = Union[str, "os.PathLike[str]"]


class Frame:
    """A captured frame, read in place in the camera's frame buffer.

    Made by :meth:`Camera.frame`; use it as a context manager::

        with cam.frame() as f:
            level = f.array.mean()     # no copy

    While the frame is held, the PL does not write into its buffer.  When
    the ``with`` block ends (or :meth:`release` is called) the buffer goes
    back to the PL and the frame is invalid: ``array`` and the other methods
    raise :class:`FrameReleasedError`.  Arrays taken from ``array`` before
    that stay readable but may change under you, as the PL reuses the
    buffer: keep ``f.copy()`` if you need the pixels later.

    The camera has four frame buffers; holding all of them stops the flow
    of frames (captures then time out).
    """

    def __init__(self, hold: _vyxzeb.FrameHold) -> None:
        self._hold = hold
        self._array: Optional[np.ndarray] = None

    def _held(self, what: str) -> _vyxzeb.FrameHold:
        if self._hold.finished:
            raise FrameReleasedError(f"{what}: the frame was released (its buffer belongs to the camera again)")
        return self._hold

    @property
    def array(self) -> np.ndarray:
        """Read-only ``uint8`` array over the frame buffer, shape (height,
        width), or (count, height, width) when ``Camera.multi_frame`` > 1."""
        hold = self._held("array")
        if self._array is None:
            self._array = hold.view()
        return self._array

    def __array__(self, dtype: Any = None, copy: Any = None) -> np.ndarray:
        a = self.array
        return a if dtype is None else a.astype(dtype)

    @property
    def shape(self) -> Tuple[int, ...]:
        """Shape of ``array`` (known after the release too)."""
        return tuple(self._hold.shape)

    @property
    def released(self) -> bool:
        """Whether the buffer went back to the camera."""
        return bool(self._hold.finished)

    def copy(self) -> np.ndarray:
        """The pixels as a new, writeable array of their own."""
        out = np.empty(self.shape, dtype=np.uint8)
        self._held("copy").copy_to(out)
        return out

    def show(self) -> None:
        """Shows this frame on the HDMI output (in the camera's current screen
        rectangle), straight from the frame buffer."""
        self._held("show").show()

    def save_bmp(self, path: PathLike) -> None:
        """Saves the frame as an 8-bit grey BMP file straight from the frame
        buffer.  ``path`` must lie under ``/picture/sd/`` or ``/picture/data/``
        (the camera's storage; under ``vyxsim`` the sandbox of ``--root``)."""
        self._held("save_bmp").save_bmp(os.fspath(path))

    def release(self) -> None:
        """Gives the buffer back to the camera; the frame is invalid from
        now on.  Calling it again does nothing."""
        self._array = None
        self._hold.finish()

    def __enter__(self) -> "Frame":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.release()

    def __repr__(self) -> str:
        state = "released" if self.released else "held"
        return f"<vyxzeb.Frame shape={self.shape} {state}>"
