"""Settings as properties: values go to the library and come back, values
out of range are refused with the library's code and change nothing."""

import math

import pytest

import vyxzeb

ROUND_TRIPS = [
    ("gain", 100),
    ("exposure_lines", 500),
    ("mirror", True),
    ("flip", True),
    ("flash", True),
    ("flash_invert", True),
    ("trigger_delay", 1234),
    ("trigger_filter", 300),
    ("multi_frame", 2),
    ("frame_buffers", 3),
    ("fixed_frame_rate", 30),
    ("timeout_ms", 1234),
    ("address_mode", vyxzeb.AddressMode.DIV2),
    ("field_of_view", (8, 16, 640, 480)),
] + [("trigger_mode", mode) for mode in vyxzeb.TriggerMode]


@pytest.mark.parametrize("name,value", ROUND_TRIPS, ids=[f"{n}={v!r}" for n, v in ROUND_TRIPS])
def test_setting_round_trips(cam, name, value):
    setattr(cam, name, value)
    back = getattr(cam, name)
    assert back == value
    assert type(back) is type(value) or isinstance(value, tuple)


def test_enum_settings_read_back_as_enums(cam):
    cam.trigger_mode = 0
    assert cam.trigger_mode is vyxzeb.TriggerMode.CONTINUOUS
    cam.address_mode = 3
    assert cam.address_mode is vyxzeb.AddressMode.DIV4
    assert isinstance(cam.field_of_view, vyxzeb.FieldOfView)


def test_exposure_time_and_lines_describe_the_same_exposure(cam):
    cam.exposure_ms = 5.0
    lines = cam.exposure_lines
    assert cam.exposure_ms == pytest.approx(5.0, rel=0.01)
    cam.exposure_lines = 2 * lines
    assert cam.exposure_ms == pytest.approx(10.0, rel=0.01)


def test_the_sensor_aligns_the_field_of_view(cam):
    cam.field_of_view = (13, 5, 601, 400)
    assert cam.field_of_view == (8, 5, 600, 400)


REFUSED = [
    ("gain", 256), ("gain", -1), ("exposure_lines", 65535), ("exposure_ms", -0.5), ("exposure_ms", 1e6),
    ("exposure_ms", math.nan), ("exposure_ms", math.inf), ("trigger_delay", 65536), ("trigger_filter", 65536),
    ("fixed_frame_rate", 1000001), ("timeout_ms", -1), ("timeout_ms", 2**32), ("multi_frame", 0),
    ("multi_frame", 9), ("frame_buffers", 4), ("trigger_mode", 6), ("trigger_mode", -1), ("address_mode", 5),
    ("field_of_view", (0, 0, 1281, 10)), ("field_of_view", (1000, 0, 640, 10)), ("field_of_view", (0, 0, 8, 10)),
    ("field_of_view", (0, 0, 640)), ("field_of_view", (0, 0, 640, 0)),
]


@pytest.mark.parametrize("name,value", REFUSED, ids=[f"{n}={v!r}" for n, v in REFUSED])
def test_out_of_range_values_raise_bad_parameter_and_change_nothing(cam, name, value):
    before = getattr(cam, name)
    with pytest.raises(vyxzeb.BadParameterError) as raised:
        setattr(cam, name, value)
    error = raised.value
    assert error.code == -1009
    assert error.name == "VYXZEB_RET_BAD_PARAMETER"
    assert isinstance(error, (vyxzeb.Error, ValueError))
    assert error.function.startswith("VYXZEB_")
    assert getattr(cam, name) == before


def test_the_multi_frame_limit_follows_the_frame_size(cam):
    assert cam.ranges["multi_frame"] == (1, 8)
    cam.address_mode = vyxzeb.AddressMode.DIV2
    assert cam.ranges["multi_frame"] == (1, 32)
    cam.multi_frame = 32
    assert cam.multi_frame == 32


@pytest.mark.parametrize("value", [1.5, "3", None])
def test_values_of_the_wrong_kind_raise_type_error(cam, value):
    with pytest.raises(TypeError):
        cam.gain = value


def test_ranges_describe_the_sensor_and_the_pl(cam):
    r = cam.ranges
    assert r["gain"] == (0, 255)
    assert r["exposure_lines"] == (0, 65534)
    assert r["exposure_ms"][0] == 0 and r["exposure_ms"][1] > 100
    assert r["trigger_delay"] == (0, 65535) and r["trigger_filter"] == (0, 65535)
    assert r["frame_buffers"] == (0, 3)
    assert r["field_of_view"] == vyxzeb.FieldOfViewLimits(16, 1, 1280, 1024)
    for name, limits in r.items():
        if name != "field_of_view":
            assert limits[0] <= limits[1], name


def test_identification(cam):
    assert cam.sensor_type is vyxzeb.SensorType.Q210B
    info = cam.device_info
    assert info.kind == (info.pl_version >> 24) - 1
    assert cam.capture_size == (1280, 1024, 8)
    assert cam.index == 0
    assert vyxzeb.library_version() == (2, 2, 0, 0)
    assert vyxzeb.__version__ == "2.2.0.0"


def test_a_camera_set_that_does_not_exist_is_refused(cam):
    with pytest.raises(vyxzeb.Error) as raised:
        vyxzeb.Camera(1)
    assert raised.value.code == -1026
    assert "VYXZEB_RET_SET_UNAVAILABLE" in str(raised.value)


def test_a_second_camera_shares_the_device_and_its_settings(cam):
    with vyxzeb.Camera(0) as other:
        other.gain = 77
        assert cam.gain == 77
        other.timeout_ms = 4321
        assert cam.timeout_ms == 4321
    assert other.closed and not cam.closed
    assert cam.capture().shape == (1024, 1280)
    with pytest.raises(vyxzeb.NotInitializedError) as raised:
        other.gain = 1
    assert "closed" in str(raised.value)
