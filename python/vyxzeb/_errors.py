"""Exceptions of vyxzeb, built from the library's return-code table.

Every failing call raises :class:`Error` or one of its subclasses.  An error
carries the library's return code (``code``, a negative ``int``), its name
(``name``, e.g. ``"VYXZEB_RET_CAPTURE_TIMEOUT"``), the one-line explanation
of the code (``text``), the library function that failed (``function``) and,
where it helps, what was asked (``detail``).
"""

from __future__ import annotations

from typing import Dict, Tuple, Type

from . import _vyxzeb

# code -> (name, text), exactly as the library's table has them.
_TABLE: Dict[int, Tuple[str, str]] = {code: (name, text) for code, name, text in _vyxzeb.ret_table()}
_CODES: Dict[str, int] = {name: code for code, (name, _) in _TABLE.items()}


def code_of(name: str) -> int:
    """The return code of a ``VYXZEB_RET_`` name."""
    return _CODES[name]


class Error(Exception):
    """A call into the camera library failed.

    Attributes: ``code`` (the ``VYXZEB_RET_`` code, negative), ``name`` (its
    name), ``text`` (one line on what it means), ``function`` (the library
    function that returned it) and ``detail`` (what was asked, may be empty).
    """

    code: int
    name: str
    text: str
    function: str
    detail: str

    def __init__(self, code: int, function: str = "", detail: str = "") -> None:
        self.code = code
        self.name, self.text = _TABLE.get(code, ("VYXZEB_RET_UNKNOWN", "unknown return code"))
        self.function = function
        self.detail = detail
        message = f"{code} {self.name}: {self.text}"
        if function:
            message = f"{function}: {message}"
        if detail:
            message = f"{message}; {detail}"
        super().__init__(message)

    def __reduce__(self):  # keeps code, function and detail through pickling
        return (type(self), (self.code, self.function, self.detail))


class CaptureTimeoutError(Error, TimeoutError):
    """No frame arrived within the capture time-out (``Camera.timeout_ms``),
    or a trigger-mode change ended the wait (``VYXZEB_RET_CAPTURE_TIMEOUT``)."""


class NotInitializedError(Error):
    """The camera is closed, or no camera is open for a call that needs one
    (``VYXZEB_RET_NOT_INITIALIZED``)."""


class BadParameterError(Error, ValueError):
    """A value is out of range or an argument is unusable
    (``VYXZEB_RET_BAD_PARAMETER``)."""


class NotSupportedError(Error):
    """The camera cannot do this (``VYXZEB_RET_NOT_SUPPORTED`` and
    ``VYXZEB_RET_SENSOR_NOT_SUPPORTED``)."""


_CLASSES: Dict[str, Type[Error]] = {
    "VYXZEB_RET_CAPTURE_TIMEOUT": CaptureTimeoutError,
    "VYXZEB_RET_NOT_INITIALIZED": NotInitializedError,
    "VYXZEB_RET_BAD_PARAMETER": BadParameterError,
    "VYXZEB_RET_NOT_SUPPORTED": NotSupportedError,
    "VYXZEB_RET_SENSOR_NOT_SUPPORTED": NotSupportedError,
}


def error_from_code(code: int, function: str = "", detail: str = "") -> Error:
    """The exception for a return code: the subclass of its kind, or Error."""
    name = _TABLE.get(code, ("", ""))[0]
    return _CLASSES.get(name, Error)(code, function, detail)


def bad_parameter(function: str, detail: str) -> BadParameterError:
    """A BadParameterError for a value refused before it reached the library."""
    return BadParameterError(code_of("VYXZEB_RET_BAD_PARAMETER"), function, detail)


class FrameReleasedError(ValueError):
    """A zero-copy frame was used after its buffer went back to the camera."""
