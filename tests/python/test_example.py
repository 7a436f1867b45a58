"""python/examples/threshold.py: its Otsu threshold and PNG writer, and the
whole example run on the virtual board."""

import json
import os
import struct
import sys
import zlib

import numpy as np

from conftest import run_python

EXAMPLES = os.path.join(os.environ["VYX_SOURCE_DIR"], "python", "examples")
EXAMPLE = os.path.join(EXAMPLES, "threshold.py")
sys.path.insert(0, EXAMPLES)
import threshold  # noqa: E402  (the example itself, imported from its folder)


def read_png(data):
    """Decodes the 8-bit grey, unfiltered PNG the example writes."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, {}
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        assert struct.unpack(">I", data[pos + 8 + length:pos + 12 + length])[0] == zlib.crc32(kind + body)
        chunks[kind] = chunks.get(kind, b"") + body
        pos += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert (depth, colour) == (8, 0)
    rows = np.frombuffer(zlib.decompress(chunks[b"IDAT"]), np.uint8).reshape(height, width + 1)
    assert not rows[:, 0].any()
    return rows[:, 1:]


def test_otsu_separates_two_populations():
    rng = np.random.default_rng(7)
    image = np.concatenate([rng.normal(60, 8, 5000), rng.normal(190, 8, 3000)]).clip(0, 255).astype(np.uint8)
    t = threshold.otsu_threshold(image)
    assert 90 < t < 160
    assert threshold.otsu_threshold(np.full((4, 4), 9, np.uint8)) in range(256)   # one level: no crash


def test_the_png_holds_the_image():
    image = np.random.default_rng(1).integers(0, 256, (7, 13), dtype=np.uint8)
    assert np.array_equal(read_png(threshold.png_bytes(image)), image)


def test_the_example_runs_on_the_board(tmp_path):
    out = tmp_path / "binary.png"
    done = run_python(f"import sys, runpy; sys.argv = ['threshold.py', '--json', '-o', {str(out)!r}]; "
                      f"runpy.run_path({EXAMPLE!r}, run_name='__main__')")
    assert done.returncode == 0, done.stderr
    result = json.loads(done.stdout)
    assert result["shown"] and result["output"] == str(out)
    binary = read_png(out.read_bytes())
    assert binary.shape == (result["height"], result["width"]) == (1024, 1280)
    assert set(np.unique(binary)) <= {0, 255}
    assert 0.05 < result["bright_fraction"] < 0.95
