"""The device's life in a process of its own: opened by the first camera,
kept by every camera and held frame, closed by the last, opened again; a
process that ends with them open ends cleanly."""

import textwrap

from conftest import run_python

SCRIPT = textwrap.dedent("""
    import gc
    import numpy as np
    import vyxboard_probe as board
    import vyxzeb

    def refused(call, why="open a vyxzeb.Camera first"):
        try:
            call()
        except vyxzeb.NotInitializedError as e:
            assert why in str(e) and e.code == -1002, e
            return True
        return False

    assert not board.why_not_owned()
    assert refused(vyxzeb.gpio.status)
    assert refused(lambda: vyxzeb.save_bmp(np.zeros((2, 2), np.uint8), "/picture/data/a.bmp"))

    first, second = vyxzeb.Camera(), vyxzeb.Camera()
    first.gain = 40
    second.close()
    assert first.gain == 40                      # still the same open device

    frame = first.frame()
    view = frame.array
    stamp = board.frame_counter(view)
    first.close()
    assert refused(first.capture, "the camera is closed")
    assert board.frame_counter(view) == stamp    # the held frame keeps the buffer mapped
    vyxzeb.gpio.status()                         # and the device open
    frame.release()
    del frame, view
    gc.collect()
    assert refused(vyxzeb.gpio.status)           # the last user is gone: closed

    again = vyxzeb.Camera()
    assert again.capture().shape == (1024, 1280)
    held = again.frame()
    print("ok", flush=True)
    # Ends with an open camera and a held frame.
""")


def test_the_device_lives_as_long_as_its_users():
    done = run_python(SCRIPT)
    assert done.returncode == 0, done.stderr
    assert done.stdout.strip() == "ok"
