"""The board's GPIO lines through vyxzeb.gpio."""

import pytest

import vyxboard_probe as board
import vyxzeb
from vyxzeb import gpio


def test_lines_and_directions(cam):
    assert gpio.count() == 8
    assert gpio.direction_mask() == 0xF8


def test_output_lines_round_trip(cam):
    gpio.set_status(0)
    gpio.set(3, True)
    gpio.set(4, False)
    gpio.set(5, 1)
    assert (gpio.get(3), gpio.get(4), gpio.get(5)) == (True, False, True)
    assert board.gpio_level(5) and not board.gpio_level(4)
    assert (gpio.status() & 0xF8) == 0x28
    gpio.set_status(0x50)
    assert [gpio.get(line) for line in range(3, 8)] == [False, True, False, True, False]


def test_input_lines_follow_the_board(cam):
    board.set_gpio_input(1, True)
    assert gpio.get(1) is True and gpio.status() & 0x2
    board.set_gpio_input(1, False)
    assert gpio.get(1) is False


def test_lines_that_cannot_be_used(cam):
    with pytest.raises(vyxzeb.Error) as raised:
        gpio.set(1, True)            # an input
    assert raised.value.code == -1010 and raised.value.name == "VYXZEB_RET_GPIO_FAILED"
    with pytest.raises(vyxzeb.Error):
        gpio.get(99)
    with pytest.raises(vyxzeb.BadParameterError):
        gpio.get(-1)
    with pytest.raises(TypeError):
        gpio.get("3")
