"""Enumerations and small records of vyxzeb; values come from the library's
public header, value for value."""

from __future__ import annotations

import enum
from typing import NamedTuple

from . import _vyxzeb

_TRIGGER = _vyxzeb.TRIGGER_MODES
_ADDRESS = _vyxzeb.ADDRESS_MODES
_SENSOR = _vyxzeb.SENSOR_TYPES


class TriggerMode(enum.IntEnum):
    """How the PL starts acquiring a frame (``VYXZEB_TRIGGER_MODE``).

    CONTINUOUS: frames on the PL's own frame clock (the sensor's rate, or
    ``Camera.fixed_frame_rate``).  SOFTWARE: one frame per capture call (the
    call fires the trigger), or per ``Camera.trigger()``.  EXTERNAL_TYPE0..3:
    frames from the external trigger input; what each type means electrically
    is the PL's (on the virtual board: rising edge, falling edge, both edges,
    high level).
    """

    CONTINUOUS = _TRIGGER["CONTINUOUS"]
    SOFTWARE = _TRIGGER["SOFTWARE"]
    EXTERNAL_TYPE2 = _TRIGGER["EXTERNAL_TYPE2"]
    EXTERNAL_TYPE3 = _TRIGGER["EXTERNAL_TYPE3"]
    EXTERNAL_TYPE0 = _TRIGGER["EXTERNAL_TYPE0"]
    EXTERNAL_TYPE1 = _TRIGGER["EXTERNAL_TYPE1"]


class AddressMode(enum.IntEnum):
    """Row and column address mode (``VYX_ADDRESSMODE``): how many sensor rows
    and columns make one row and column of the frame (1, 1/2, 1/3, 1/4, 1/8)."""

    NORMAL = _ADDRESS["NORMAL"]
    DIV2 = _ADDRESS["DIV2"]
    DIV3 = _ADDRESS["DIV3"]
    DIV4 = _ADDRESS["DIV4"]
    DIV8 = _ADDRESS["DIV8"]


class SensorType(enum.IntEnum):
    """Sensor model of a camera set (``VYXZEB_SENSOR_TYPE``)."""

    V880A = _SENSOR["V880A"]
    Q210B = _SENSOR["Q210B"]


class FieldOfView(NamedTuple):
    """Window of the sensor that is read out, in sensor pixels."""

    x: int
    y: int
    width: int
    height: int


class FieldOfViewLimits(NamedTuple):
    """Smallest and largest window the sensor accepts, in sensor pixels."""

    min_width: int
    min_height: int
    max_width: int
    max_height: int


class CaptureSize(NamedTuple):
    """Size of the delivered frames: pixels and bits per pixel."""

    width: int
    height: int
    bits_per_pixel: int


class DeviceInfo(NamedTuple):
    """What the PL's version word says: ``kind`` (its top byte minus 1) and
    the whole 32-bit word."""

    kind: int
    pl_version: int
