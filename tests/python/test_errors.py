"""vyxzeb.Error and its subclasses, built from the library's return-code
table."""

import pickle

import pytest

import vyxzeb
from vyxzeb import _errors, _vyxzeb

KINDS = {
    -1011: (vyxzeb.CaptureTimeoutError, TimeoutError),
    -1002: (vyxzeb.NotInitializedError, vyxzeb.Error),
    -1009: (vyxzeb.BadParameterError, ValueError),
    -1014: (vyxzeb.NotSupportedError, vyxzeb.Error),
    -1003: (vyxzeb.NotSupportedError, vyxzeb.Error),
}


def test_every_failure_code_of_the_table_has_its_error():
    table = _vyxzeb.ret_table()
    assert table[0][:2] == (0, "VYXZEB_RET_SUCCESS")
    for code, name, text in table[1:]:
        error = _errors.error_from_code(code, "VYXZEB_Something", "what was asked")
        assert isinstance(error, vyxzeb.Error)
        assert (error.code, error.name, error.text) == (code, name, text)
        assert str(error) == f"VYXZEB_Something: {code} {name}: {text}; what was asked"
        expected = KINDS.get(code, (vyxzeb.Error, vyxzeb.Error))
        assert type(error) is expected[0] and isinstance(error, expected[1])


def test_a_code_outside_the_table():
    error = _errors.error_from_code(-1, "VYXZEB_X")
    assert type(error) is vyxzeb.Error
    assert error.name == "VYXZEB_RET_UNKNOWN" and str(error) == "VYXZEB_X: -1 VYXZEB_RET_UNKNOWN: unknown return code"


def test_errors_survive_pickling():
    error = _errors.error_from_code(-1011, "VYXZEB_CaptureData", "no frame within 300 ms")
    back = pickle.loads(pickle.dumps(error))
    assert type(back) is vyxzeb.CaptureTimeoutError
    assert (back.code, back.function, back.detail, str(back)) == (-1011, "VYXZEB_CaptureData",
                                                                   "no frame within 300 ms", str(error))


def test_a_released_frame_error_is_a_value_error():
    assert issubclass(vyxzeb.FrameReleasedError, ValueError)
    with pytest.raises(ValueError):
        raise vyxzeb.FrameReleasedError("x")
