"""Shared set-up of the vyxzeb tests: they run only on the virtual board
(under vyxsim), share one opened camera, and put every setting back after
each test."""

import os
import shlex
import subprocess
import sys

import pytest

import vyxboard_probe as board

_why = board.why_not_owned()
if _why:
    sys.stderr.write(f"FATAL: the virtual board is not active ({_why}).\n"
                     "Refusing to run: these tests would reach the machine's real device nodes.\n"
                     "Run them under vyxsim (ctest does).\n")
    sys.exit(3)

import vyxzeb  # noqa: E402  (only once the board is known to own the nodes)

# Generous: the board delivers a frame within milliseconds, but the machine
# may be loaded or emulated.
TIMEOUT_MS = 20000


# Settings a test may change, put back after each test in this order (the
# frame size before the multi-frame count that depends on it).
SETTINGS = ("address_mode", "field_of_view", "multi_frame", "mirror", "flip", "flash", "flash_invert",
            "fixed_frame_rate", "trigger_delay", "trigger_filter", "frame_buffers", "exposure_lines", "gain")


@pytest.fixture(scope="session")
def cam():
    """The camera every test shares (opening takes over a second), with the
    settings it had when it was opened."""
    with vyxzeb.Camera() as camera:
        camera.start_values = {name: getattr(camera, name) for name in SETTINGS}
        yield camera


@pytest.fixture(autouse=True)
def start_state(request):
    """Each test that uses the camera starts in software-trigger mode with
    empty frame buffers, a generous time-out, the start-up settings and no
    board faults (the first test gets them from opening the camera)."""
    if "cam" not in request.fixturenames:
        yield
        return
    camera = request.getfixturevalue("cam")
    board.reset_faults()
    camera.timeout_ms = TIMEOUT_MS
    yield
    board.reset_faults()
    # Stop continuous frames first (nothing triggers externally) and let the
    # library read every interrupt already raised; then setting the mode
    # empties the buffers and drops every frame a test left queued.
    if camera.trigger_mode == vyxzeb.TriggerMode.CONTINUOUS:
        camera.trigger_mode = vyxzeb.TriggerMode.EXTERNAL_TYPE0
    assert board.wait_interrupts_read(TIMEOUT_MS)
    camera.multi_frame = 1
    for name in SETTINGS:
        setattr(camera, name, camera.start_values[name])
    camera.trigger_mode = vyxzeb.TriggerMode.SOFTWARE


def run_python(code, timeout=300):
    """Runs Python code in a new interpreter of the kind under test (the
    board's, under the emulator, in a cross build) on the same virtual board;
    returns the finished process."""
    command = shlex.split(os.environ.get("VYX_TEST_PYTHON", sys.executable))
    return subprocess.run(command + ["-c", code], capture_output=True, text=True, timeout=timeout)
