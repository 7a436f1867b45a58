"""Reference counting: a thousand captures, zero-copy frames included, leave
the process's memory where it was."""

import gc
import os
import tracemalloc

import numpy as np

import vyxboard_probe as board

CAPTURES = 1000
WARM_UP = 50


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def capture_every_way(cam, out, i):
    kind = i % 3
    if kind == 0:
        return cam.capture()
    if kind == 1:
        return cam.capture(out=out)
    with cam.frame() as f:
        return board.frame_counter(f.array)


def test_a_thousand_captures_leave_memory_flat(cam):
    cam.field_of_view = (0, 0, 320, 240)      # 77 kB frames: quick, and 1000 kept would be 77 MB
    out = np.empty(cam.frame_shape, np.uint8)
    for i in range(WARM_UP):                  # allocator and caches settle
        capture_every_way(cam, out, i)
    gc.collect()
    resident = resident_bytes()
    tracemalloc.start()
    try:
        traced, _ = tracemalloc.get_traced_memory()
        for i in range(CAPTURES):
            last = capture_every_way(cam, out, i)
        del last
        gc.collect()
        traced_growth = tracemalloc.get_traced_memory()[0] - traced
    finally:
        tracemalloc.stop()
    resident_growth = resident_bytes() - resident
    # One frame kept shows in the traced memory, and so does a small object
    # kept per capture (1000 x 32 bytes); frames kept per capture would fill
    # the resident size (which also holds an emulator's code cache).
    assert traced_growth < 32 * 1024, traced_growth
    if not os.environ.get("VYX_SANITIZED"):   # the sanitizer keeps freed memory in quarantine
        assert resident_growth < 16 * 2**20, resident_growth
