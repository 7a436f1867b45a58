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


def test_opening_fails_with_a_reason_and_the_log_names_the_step(tmp_path):
    # Without the cache-memory node VYXZEB_Init fails; the log says why.
    done = run_python(textwrap.dedent(f"""
        import os, vyxboard_probe as board, vyxzeb
        board.make_node_missing("/dev/cache_ops")
        path = vyxzeb.set_log({str(tmp_path)!r})
        try:
            vyxzeb.Camera()
        except vyxzeb.Error as e:
            assert e.code == -1001 and e.function == "VYXZEB_Init" and "set_log" in str(e), e
        else:
            raise SystemExit("the camera opened without /dev/cache_ops")
        assert vyxzeb.set_log(None) is None and vyxzeb.log_file() is None
        print(path)
    """))
    assert done.returncode == 0, done.stderr
    log = open(done.stdout.strip(), errors="replace").read()
    assert "VYXERR_(" in log and "failed" in log
