"""Zero-copy frames: the array is the frame buffer itself, the buffer goes
back to the camera when the block ends, and a released frame refuses use."""

import os

import numpy as np
import pytest

import vyxboard_probe as board
import vyxzeb

WAIT_MS = 20000


def releases():
    return board.counters()["releases"]


def assert_releases(expected):
    """The PL has seen exactly `expected` releases (every store made so far
    included)."""
    assert board.wait_tick(WAIT_MS)
    assert releases() == expected


def test_the_view_is_the_frame_buffer_until_the_block_ends(cam):
    before = releases()
    with cam.frame() as f:
        a = f.array
        assert a.shape == cam.frame_shape == f.shape and a.dtype == np.uint8
        assert not a.flags.writeable and not a.flags.owndata
        with pytest.raises(ValueError):
            a[0, 0] = 1
        assert board.frame_counter(a) == board.counters()["last_frame_counter"]
        assert np.asarray(f) is a and f.array is a
        assert np.array_equal(f.copy(), a) and f.copy().flags.writeable
        assert not f.released
        assert_releases(before)
    assert_releases(before + 1)
    assert f.released and "released" in repr(f)


@pytest.mark.parametrize("use", ["array", "asarray", "copy", "show", "save_bmp"])
def test_a_released_frame_refuses_its_buffer(cam, use):
    with cam.frame() as f:
        pass
    calls = {
        "array": lambda: f.array,
        "asarray": lambda: np.asarray(f),
        "copy": f.copy,
        "show": f.show,
        "save_bmp": lambda: f.save_bmp("/picture/data/released.bmp"),
    }
    with pytest.raises(vyxzeb.FrameReleasedError):
        calls[use]()
    assert not os.path.exists(board.sandbox_path("/picture/data/released.bmp"))
    f.release()   # again: nothing happens


def test_buffers_go_back_oldest_first_whatever_order_frames_end_in(cam):
    before = releases()
    with cam.frame() as older:
        stamp = board.frame_counter(older.array)
        with cam.frame() as newer:
            assert board.frame_counter(newer.array) > stamp
        cam.capture()                  # a third buffer, copied and finished at once
        # The PL frees the oldest buffer on each release: neither may go
        # back while the oldest is still read.
        assert_releases(before)
        assert board.frame_counter(older.array) == stamp
    # Now all three go back, one release each.  (The board samples its
    # registers about once a millisecond and may merge releases written
    # back to back into one; so at least one is seen.)
    assert board.wait_counter("releases", before + 1, WAIT_MS)
    assert cam.capture().shape == cam.frame_shape


def test_a_frame_shows_and_saves_straight_from_its_buffer(cam):
    shows = board.counters()["shows_evaluated"]
    with cam.frame() as f:
        f.show()
        f.save_bmp("/picture/data/frame.bmp")
    assert board.wait_show(shows, WAIT_MS)
    with open(board.sandbox_path("/picture/data/frame.bmp"), "rb") as bmp:
        header = bmp.read(54)
    assert header[:2] == b"BM"
    assert int.from_bytes(header[18:22], "little") == 1280
    assert int.from_bytes(header[22:26], "little", signed=True) == -1024


def test_a_frame_of_several_frames_per_buffer(cam):
    cam.trigger_mode = vyxzeb.TriggerMode.CONTINUOUS    # one software trigger makes one frame
    cam.multi_frame = 2
    with cam.frame() as f:
        assert f.array.shape == (2, 1024, 1280)
        assert board.frame_counter(f.array[1]) > board.frame_counter(f.array[0])
