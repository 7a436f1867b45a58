"""Images on the emulated HDMI screen and in BMP files."""

import pathlib

import numpy as np
import pytest

import vyxboard_probe as board
import vyxzeb

WAIT_MS = 20000


def shown(cam, image, at):
    """Shows `image` at `at` and returns that rectangle of the screen once
    the board has displayed it."""
    before = board.counters()["shows_evaluated"]
    cam.show(image, at=at)
    assert board.wait_show(before, WAIT_MS)
    x, y, w, h = at
    return board.screen()[y:y + h, x:x + w]


def test_a_grey_image_appears_on_the_screen(cam):
    ramp = np.tile(np.arange(0, 256, 4, dtype=np.uint8), (48, 1))      # 48 x 64
    region = shown(cam, ramp, at=(100, 60, 64, 48))
    for channel in range(3):
        assert np.array_equal(region[..., channel], ramp)


def test_an_rgb_image_keeps_its_colours(cam):
    y, x = np.mgrid[0:40, 0:80]
    rgb = np.stack([x * 3, y * 6, np.full_like(x, 200)], axis=-1).astype(np.uint8)
    assert np.array_equal(shown(cam, rgb, at=(400, 200, 80, 40)), rgb)
    # Any strides: the same picture through a transposed view.
    view = np.ascontiguousarray(rgb.transpose(1, 0, 2)).transpose(1, 0, 2)
    assert np.array_equal(shown(cam, view, at=(0, 0, 80, 40)), rgb)


def test_show_scales_the_image_to_the_rectangle(cam):
    image = np.zeros((20, 20), np.uint8)
    image[:, 10:] = 255
    region = shown(cam, image, at=(640, 360, 40, 40))
    assert region[:, :20].max() == 0 and region[:, 20:].min() == 255


def test_show_frame_puts_a_frame_on_the_screen(cam):
    before = board.counters()["shows_evaluated"]
    cam.show_frame(at=(0, 0, 640, 512))
    assert board.wait_show(before, WAIT_MS)
    assert board.screen()[8:512, :640].mean() > 10


@pytest.mark.parametrize("bad", [np.zeros((8, 8)), np.zeros(64, np.uint8), np.zeros((8, 8, 2), np.uint8),
                                 np.zeros((0, 8), np.uint8), "picture"])
def test_images_that_cannot_be_shown_are_refused(cam, bad):
    with pytest.raises(vyxzeb.BadParameterError):
        cam.show(bad)


def test_a_bad_rectangle_is_refused(cam):
    for at in [(0, 0, 64), (-4, 0, 64, 48), ("a", 0, 1, 1)]:
        with pytest.raises((vyxzeb.BadParameterError, TypeError)):
            cam.show(np.zeros((4, 4), np.uint8), at=at)


def read_bmp(board_path):
    data = pathlib.Path(board.sandbox_path(board_path)).read_bytes()
    assert data[:2] == b"BM"
    offset = int.from_bytes(data[10:14], "little")
    width = int.from_bytes(data[18:22], "little")
    height = -int.from_bytes(data[22:26], "little", signed=True)
    bits = int.from_bytes(data[28:30], "little")
    row = (width * bits + 31) // 32 * 4
    rows = np.frombuffer(data, np.uint8, count=row * height, offset=offset).reshape(height, row)
    return rows[:, :width * bits // 8].reshape(height, width, -1), bits


@pytest.mark.parametrize("channels,bits", [(1, 8), (3, 24), (4, 32)])
def test_save_bmp_writes_what_the_array_holds(cam, channels, bits):
    image = np.random.default_rng(channels).integers(0, 256, (3, 5, channels), dtype=np.uint8)
    if channels == 1:
        image = image[..., 0]
    vyxzeb.save_bmp(image, pathlib.Path(f"/picture/data/saved{channels}.bmp"))
    pixels, saved_bits = read_bmp(f"/picture/data/saved{channels}.bmp")
    assert saved_bits == bits
    if channels == 1:
        assert np.array_equal(pixels[..., 0], image)
    else:
        # The file holds blue, green, red (and alpha).
        assert np.array_equal(pixels[..., 2::-1], image[..., :3])
        if channels == 4:
            assert np.array_equal(pixels[..., 3], image[..., 3])


def test_save_bmp_refusals_carry_the_library_codes(cam):
    grey = np.zeros((4, 4), np.uint8)
    with pytest.raises(vyxzeb.BadParameterError) as raised:
        vyxzeb.save_bmp(grey, "/tmp/outside.bmp")
    assert raised.value.function == "VYXZEB_HelperSaveToBmp"
    with pytest.raises(vyxzeb.Error) as raised:
        vyxzeb.save_bmp(grey, "/picture/data/no-such-folder/x.bmp")
    assert raised.value.code == -1001 and raised.value.name == "VYXZEB_RET_FAILED"
