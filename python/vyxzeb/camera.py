"""The camera: settings, frames and the HDMI output of one camera set."""

from __future__ import annotations

import atexit
import operator
import weakref
from typing import Any, Callable, Dict, Iterator, Optional, Sequence

import numpy as np

from . import _vyxzeb
from ._errors import bad_parameter
from ._types import (AddressMode, CaptureSize, DeviceInfo, FieldOfView, FieldOfViewLimits, SensorType,
                     TriggerMode)
from .frame import Frame

# Library setters of the settings Python checks against their ranges (the
# library limits these values silently; a value out of range is refused here).
_RANGE_CHECKED = {
    "exposure_ms": "VYXZEB_SetExposureTime",
    "exposure_lines": "VYXZEB_SetExposureLines",
    "gain": "VYXZEB_SetGain",
    "trigger_delay": "VYXZEB_SetTriggerDelay",
    "trigger_filter": "VYXZEB_SetTriggerFilter",
    "fixed_frame_rate": "VYXZEB_SetFixFrameRate",
    "timeout_ms": "VYXZEB_CaptureSetTimeOut",
}

_open_cameras: "weakref.WeakSet[Camera]" = weakref.WeakSet()


@atexit.register
def _close_open_cameras() -> None:
    # Close the device before the interpreter tears modules down.
    for cam in list(_open_cameras):
        cam.close()


def _enum_value(enum_type: Any, value: Any, function: str) -> int:
    try:
        return int(enum_type(value))
    except ValueError:
        names = ", ".join(f"{m.name}={m.value}" for m in enum_type)
        raise bad_parameter(function, f"{value!r} is not a {enum_type.__name__} ({names})") from None


def _setting(name: str, doc: str, to_python: Optional[Callable[[Any], Any]] = None,
             to_c: Optional[Callable[[Any], Any]] = None) -> property:
    """A property read and written through the library's getter and setter of
    `name` (see CameraCore's settings table)."""

    def fget(self: "Camera") -> Any:
        value = self._core.get(name)
        return to_python(value) if to_python else value

    def fset(self: "Camera", value: Any) -> None:
        if to_c:
            value = to_c(value)
        if name in _RANGE_CHECKED:
            self._check_range(name, value)
        self._core.set(name, value)

    return property(fget, fset, doc=doc)


class Camera:
    """One camera set of the board: its sensor settings, its frames and the
    HDMI output.

    ``Camera(index=0)`` opens camera set ``index`` (the board has one, 0).
    The first camera of a process opens the device (``VYXZEB_Init``, over a
    second); further cameras share it, and closing the last one closes the
    device (``VYXZEB_UnInit``).  A camera set opened for the first time
    starts acquiring in software-trigger mode with an 8000 ms capture
    time-out.  Use it as a context manager, or call :meth:`close`::

        with vyxzeb.Camera() as cam:
            cam.exposure_ms = 5.0
            frame = cam.capture()          # numpy uint8, (height, width)

    Settings are properties in the library's units.  Values the library
    would silently limit (exposure, gain, trigger delay and filter, fixed
    frame rate, time-out) are refused outside :attr:`ranges` with
    :class:`BadParameterError`; the sensor may still align a value (the
    field of view to its steps), so read a setting back for the value in
    force.  Every failing call raises :class:`vyxzeb.Error`.

    The library is waited on without the GIL: other Python threads run
    while a capture waits.  One capture at a time runs per camera set.
    """

    def __init__(self, index: int = 0) -> None:
        """Opens camera set ``index``; raises :class:`Error` when the device
        cannot be opened (:func:`vyxzeb.set_log` records why)."""
        self._core = _vyxzeb.CameraCore(operator.index(index))
        _open_cameras.add(self)

    # ------------------------------------------------------------------ life
    @property
    def index(self) -> int:
        """Index of the camera set (0 as shipped)."""
        return int(self._core.index)

    @property
    def closed(self) -> bool:
        """Whether :meth:`close` was called."""
        return bool(self._core.closed)

    def close(self) -> None:
        """Gives back what the camera holds and lets go of the device; the
        last camera (and zero-copy frame) closes it.  Calling it again does
        nothing.  Afterwards every call raises :class:`NotInitializedError`."""
        self._core.close()
        _open_cameras.discard(self)

    def __enter__(self) -> "Camera":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __repr__(self) -> str:
        return f"<vyxzeb.Camera index={self.index}{' closed' if self.closed else ''}>"

    # ------------------------------------------------------------- settings
    exposure_ms = _setting(
        "exposure_ms", "Exposure time in milliseconds (float; ``ranges['exposure_ms']``).", float, float)
    exposure_lines = _setting(
        "exposure_lines", "Exposure time in sensor lines (int; ``ranges['exposure_lines']``).", None, operator.index)
    gain = _setting("gain", "Analogue gain in the sensor's gain steps (int; ``ranges['gain']``).", None,
                    operator.index)
    address_mode = _setting(
        "address_mode", "Row and column address mode (:class:`AddressMode`): the frame shrinks by its divisor.",
        AddressMode, lambda v: _enum_value(AddressMode, v, "VYXZEB_SetAddressMode"))
    mirror = _setting("mirror", "Horizontal mirror of the sensor readout (bool).", bool, bool)
    flip = _setting("flip", "Vertical flip of the sensor readout (bool).", bool, bool)
    flash = _setting("flash", "Whether the sensor's flash (strobe) output is enabled (bool).", bool, bool)
    flash_invert = _setting("flash_invert", "Whether the flash output is inverted (bool).", bool, bool)
    trigger_mode = _setting(
        "trigger_mode", "How frames are triggered (:class:`TriggerMode`).  Setting it empties the frame "
        "buffers, wakes a waiting capture with :class:`CaptureTimeoutError` and restarts acquisition.",
        TriggerMode, lambda v: _enum_value(TriggerMode, v, "VYXZEB_SetTriggerMode"))
    trigger_delay = _setting(
        "trigger_delay", "Delay between an external trigger and the frame, in PL units (microseconds on the "
        "virtual board; ``ranges['trigger_delay']``).", None, operator.index)
    trigger_filter = _setting(
        "trigger_filter", "Shortest level change of the external trigger input that counts, in PL units "
        "(microseconds on the virtual board; ``ranges['trigger_filter']``).", None, operator.index)
    multi_frame = _setting(
        "multi_frame", "Frames stored per frame buffer (1 up to ``ranges['multi_frame'][1]``, which depends on "
        "the frame size).  Above 1, captures return (count, height, width) arrays, and a buffer is delivered "
        "once all its frames are in: in software-trigger mode each capture triggers one frame, so use "
        "continuous or external triggers.", None, operator.index)
    frame_buffers = _setting("frame_buffers", "Frame-buffer number of the PL (0..3).", None, operator.index)
    fixed_frame_rate = _setting(
        "fixed_frame_rate", "Fixed frame rate in frames per second for continuous mode; 0 = off (the sensor's "
        "own rate).  The PL stores it as a period of whole microseconds.", None, operator.index)
    timeout_ms = _setting(
        "timeout_ms", "How long a capture waits for a frame, in milliseconds (8000 at start; 0 = do not "
        "wait).", None, operator.index)

    @property
    def field_of_view(self) -> FieldOfView:
        """Sensor window read out, ``(x, y, width, height)`` in sensor pixels.
        The sensor aligns it (x and width to multiples of 8) and keeps it on
        the array; the frame size follows (see :attr:`capture_size`)."""
        return FieldOfView(*self._core.get("field_of_view"))

    @field_of_view.setter
    def field_of_view(self, value: Sequence[int]) -> None:
        try:
            x, y, width, height = (operator.index(v) for v in value)
        except (TypeError, ValueError):
            raise bad_parameter("VYXZEB_SetCaptureFieldOfView",
                                f"the field of view is (x, y, width, height), not {value!r}") from None
        lim = self.ranges["field_of_view"]
        if not (lim.min_width <= width <= lim.max_width and lim.min_height <= height <= lim.max_height
                and 0 <= x <= lim.max_width - width and 0 <= y <= lim.max_height - height):
            raise bad_parameter("VYXZEB_SetCaptureFieldOfView",
                                f"{tuple(value)} does not fit the {lim.max_width} x {lim.max_height} sensor "
                                f"(width {lim.min_width}..{lim.max_width}, height {lim.min_height}.."
                                f"{lim.max_height})")
        self._core.set("field_of_view", (x, y, width, height))

    def _check_range(self, name: str, value: Any) -> None:
        lo, hi = self._core.range(name)
        if not lo <= value <= hi:
            raise bad_parameter(_RANGE_CHECKED[name], f"{name} {value!r} is outside {lo}..{hi}")

    @property
    def ranges(self) -> Dict[str, Any]:
        """Ranges of the settings: ``(minimum, maximum)`` per name (exposure_ms,
        exposure_lines, gain, trigger_delay, trigger_filter, multi_frame,
        frame_buffers, fixed_frame_rate, timeout_ms) and a
        :class:`FieldOfViewLimits` for ``field_of_view``."""
        out: Dict[str, Any] = {}
        for name in ("exposure_ms", "exposure_lines", "gain", "trigger_delay", "trigger_filter",
                     "multi_frame", "frame_buffers", "fixed_frame_rate", "timeout_ms"):
            out[name] = tuple(self._core.range(name))
        out["field_of_view"] = FieldOfViewLimits(*self._core.range("field_of_view"))
        return out

    # ------------------------------------------------------- identification
    @property
    def capture_size(self) -> CaptureSize:
        """Size of the frames delivered now: width, height (pixels), bits per
        pixel (8)."""
        return CaptureSize(*self._core.capture_size())

    @property
    def frame_shape(self) -> tuple:
        """Shape of the arrays :meth:`capture` returns now: (height, width),
        or (count, height, width) with :attr:`multi_frame` > 1."""
        return tuple(self._core.frame_shape())

    @property
    def sensor_type(self) -> SensorType:
        """Sensor model of this camera set."""
        return SensorType(self._core.sensor_type())

    @property
    def device_info(self) -> DeviceInfo:
        """Kind and version word of the PL."""
        return DeviceInfo(*self._core.device_info())

    # --------------------------------------------------------------- frames
    def capture(self, out: Optional[np.ndarray] = None) -> np.ndarray:
        """Waits for the next frame (at most :attr:`timeout_ms`) and returns a
        copy: a ``uint8`` array of :attr:`frame_shape`.  The frame buffer goes
        back to the camera at once.

        With ``out`` (a writeable ``uint8`` array of :attr:`frame_shape`, any
        strides), the frame is copied into it and ``out`` is returned: a
        loop that reuses one array allocates nothing.

        In software-trigger mode the call fires the trigger (or returns the
        frame an earlier :meth:`trigger` exposed).  Raises
        :class:`CaptureTimeoutError` when no frame comes in time."""
        return self._core.capture(out)

    def frame(self) -> Frame:
        """Waits for the next frame like :meth:`capture` and returns it without a
        copy, held in its frame buffer until released (see :class:`Frame`)."""
        return Frame(self._core.hold())

    def frames(self, count: Optional[int] = None, out: Optional[np.ndarray] = None) -> Iterator[np.ndarray]:
        """Yields ``count`` captured frames (endlessly when None), each as
        :meth:`capture` returns it; with ``out`` every frame is copied into
        that one array."""
        n = None if count is None else operator.index(count)
        taken = 0
        while n is None or taken < n:
            yield self.capture(out)
            taken += 1

    def trigger(self) -> None:
        """Software-trigger mode only: exposes a frame now and keeps it for the
        next :meth:`capture`, :meth:`frame` or :meth:`frames` of this camera
        (an earlier one not collected is dropped).  Returns when the camera
        has stored the frame.  In other modes raises
        :class:`NotSupportedError`."""
        self._core.trigger()

    # -------------------------------------------------------------- display
    def show(self, image: Any, at: Optional[Sequence[int]] = None) -> None:
        """Shows an image on the 1280 x 720 HDMI output: a ``uint8`` array,
        (height, width) grey or (height, width, 3) RGB ((..., 4) RGBA: alpha
        is ignored).  The image is copied into a block of the camera's
        physical memory pool and scaled to the screen rectangle ``at`` =
        (x, y, width, height) in screen pixels (multiples of 4, clamped to the
        screen); without ``at`` the last rectangle is used (at start the
        whole screen)."""
        self._core.show(np.asarray(image), at)

    def show_frame(self, at: Optional[Sequence[int]] = None) -> None:
        """Captures the next frame and shows it on the HDMI output, in ``at``
        as for :meth:`show`."""
        self._core.show_frame(at)
