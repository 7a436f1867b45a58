"""Frames copied out of the camera: their shape, their pixels, the caller's
array, time-outs, threads and software triggers."""

import threading
import time
import tracemalloc

import numpy as np
import pytest

import vyxboard_probe as board
import vyxzeb
from vyxzeb import AddressMode, TriggerMode

SHAPES = [
    ((0, 0, 1280, 1024), AddressMode.NORMAL, (1024, 1280)),
    ((0, 0, 640, 480), AddressMode.NORMAL, (480, 640)),
    ((0, 0, 1280, 1024), AddressMode.DIV2, (512, 640)),
    ((0, 0, 1280, 1024), AddressMode.DIV3, (341, 424)),
    ((0, 0, 1280, 1024), AddressMode.DIV8, (128, 160)),
    ((320, 256, 640, 480), AddressMode.DIV4, (120, 160)),
]


@pytest.mark.parametrize("fov,mode,shape", SHAPES)
def test_the_shape_follows_field_of_view_and_address_mode(cam, fov, mode, shape):
    cam.field_of_view = fov
    cam.address_mode = mode
    frame = cam.capture()
    assert frame.shape == shape
    assert frame.dtype == np.uint8 and frame.flags.c_contiguous and frame.flags.writeable
    assert cam.frame_shape == shape
    assert (cam.capture_size.height, cam.capture_size.width) == shape


def _stampless(frame):
    # The board stamps a frame counter into the first 8 bytes of each frame.
    return frame[1:-1].astype(np.int16)


@pytest.mark.parametrize("setting,reverse", [("mirror", lambda a: a[:, ::-1]), ("flip", lambda a: a[::-1])])
def test_mirror_and_flip_reverse_the_array(cam, setting, reverse):
    cam.field_of_view = (0, 0, 640, 512)   # an off-centre window: the scene is not symmetric in it
    plain = _stampless(cam.capture())
    setattr(cam, setting, True)
    turned = _stampless(cam.capture())
    unlike = np.abs(turned - plain).mean()
    assert unlike > 4, "the scene should not look the same turned round"
    assert np.abs(reverse(turned) - plain).mean() < unlike / 10


def test_capture_into_the_callers_array(cam):
    out = np.zeros(cam.frame_shape, np.uint8)
    first = cam.capture(out=out)
    assert first is out
    stamp = board.frame_counter(out)
    assert cam.capture(out=out) is out
    assert board.frame_counter(out) > stamp     # a newer frame of the sensor
    # Any strides will do: every other column of a wider array.
    wide = np.zeros((1024, 2 * 1280), np.uint8)
    cam.capture(out=wide[:, ::2])
    assert wide[:, 1::2].max() == 0 and wide[:, ::2].max() > 0


@pytest.mark.parametrize("bad", [np.zeros((10, 10), np.uint8), np.zeros((1024, 1280), np.uint16),
                                 np.zeros((2, 1024, 1280), np.uint8), [[0] * 1280] * 1024])
def test_a_wrong_array_is_refused_before_waiting(cam, bad):
    cam.trigger_mode = TriggerMode.EXTERNAL_TYPE0    # a wait would time out at once
    cam.timeout_ms = 0
    with pytest.raises(vyxzeb.BadParameterError):
        cam.capture(out=bad)


def test_a_read_only_array_is_refused(cam):
    out = np.zeros(cam.frame_shape, np.uint8)
    out.flags.writeable = False
    with pytest.raises(vyxzeb.BadParameterError, match="read-only"):
        cam.capture(out=out)


def test_capture_into_the_callers_array_allocates_nothing(cam):
    out = np.empty(cam.frame_shape, np.uint8)
    cam.capture(out=out)
    tracemalloc.start()
    try:
        start, _ = tracemalloc.get_traced_memory()
        for _ in range(20):
            cam.capture(out=out)
        _, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    assert peak - start < out.nbytes // 16   # one allocated frame would be out.nbytes


def test_several_frames_per_buffer_come_as_one_array(cam):
    cam.trigger_mode = TriggerMode.CONTINUOUS    # one software trigger makes one frame
    cam.multi_frame = 3
    frames = cam.capture()
    assert frames.shape == (3, 1024, 1280)
    stamps = [board.frame_counter(f) for f in frames]
    assert stamps[0] < stamps[1] < stamps[2]


def test_frames_iterates(cam):
    stamps = [board.frame_counter(f) for f in cam.frames(4)]
    assert len(stamps) == 4 and stamps == sorted(set(stamps))   # the sensor's counter: increasing
    out = np.empty(cam.frame_shape, np.uint8)
    assert all(f is out for f in cam.frames(2, out=out))


def test_a_capture_time_out_raises_after_the_set_time(cam):
    cam.trigger_mode = TriggerMode.EXTERNAL_TYPE0    # waits for an edge that never comes
    cam.timeout_ms = 300
    start = time.monotonic()
    with pytest.raises(vyxzeb.CaptureTimeoutError) as raised:
        cam.capture()
    waited = time.monotonic() - start
    assert 0.25 <= waited < 60
    error = raised.value
    assert isinstance(error, TimeoutError) and error.code == -1011
    assert error.function == "VYXZEB_CaptureData" and "300 ms" in str(error)


def test_other_threads_run_while_a_capture_waits(cam):
    cam.trigger_mode = TriggerMode.EXTERNAL_TYPE0
    cam.timeout_ms = 1500
    window = []
    done = threading.Event()

    def capture():
        window.append(time.monotonic())
        with pytest.raises(vyxzeb.CaptureTimeoutError):
            cam.capture()
        window.append(time.monotonic())
        done.set()

    waiter = threading.Thread(target=capture)
    ticks = []
    waiter.start()
    while not done.is_set():
        ticks.append(time.monotonic())
        done.wait(0.01)
    waiter.join()
    # A capture holding the GIL would let no tick through while it waits.
    during = [t for t in ticks if window[0] + 0.2 < t < window[1] - 0.1]
    assert len(during) >= 5, (window, len(ticks))


def test_two_threads_capturing_get_distinct_frames(cam):
    stamps, errors = [], []

    def capture():
        try:
            for _ in range(10):
                stamps.append(board.frame_counter(cam.capture()))
        except Exception as e:  # noqa: BLE001 - reported below
            errors.append(e)

    threads = [threading.Thread(target=capture) for _ in range(2)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not errors
    assert len(set(stamps)) == 20


def test_trigger_exposes_now_and_the_next_capture_collects_that_frame(cam):
    cam.trigger()
    after = board.counters()
    frame = cam.capture()
    assert board.frame_counter(frame) == after["last_frame_counter"]
    assert board.counters()["frames_written"] == after["frames_written"]   # no second trigger
    # A triggered frame nobody collects is given back when the next comes.
    cam.trigger()
    cam.trigger()
    newest = board.counters()["last_frame_counter"]
    assert board.frame_counter(cam.capture()) == newest
    assert board.frame_counter(cam.capture()) > newest


def test_trigger_needs_software_trigger_mode(cam):
    cam.trigger_mode = TriggerMode.CONTINUOUS
    with pytest.raises(vyxzeb.NotSupportedError) as raised:
        cam.trigger()
    assert raised.value.code == -1014
