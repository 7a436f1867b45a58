#!/usr/bin/env python3
"""threshold.py - binarise what the camera sees with Otsu's threshold.

Captures one frame, computes its grey histogram with NumPy, picks the
threshold that best separates dark from bright (Otsu's method), writes the
binary picture as a PNG file and shows it on the HDMI output.

On a PC, under the virtual board:

    vyxsim -- python3 threshold.py --output threshold.png

The PNG writer below uses only the standard library (zlib).
"""

import argparse
import json
import os
import struct
import sys
import zlib

import numpy as np

import vyxzeb


def otsu_threshold(image: np.ndarray) -> int:
    """The grey level t that maximises the between-class variance of the
    pixels <= t and the pixels > t."""
    histogram = np.bincount(image.ravel(), minlength=256).astype(np.float64)
    levels = np.arange(256, dtype=np.float64)
    dark_count = np.cumsum(histogram)
    dark_sum = np.cumsum(histogram * levels)
    bright_count = dark_count[-1] - dark_count
    with np.errstate(divide="ignore", invalid="ignore"):
        dark_mean = dark_sum / dark_count
        bright_mean = (dark_sum[-1] - dark_sum) / bright_count
        between = dark_count * bright_count * (dark_mean - bright_mean) ** 2
    between[~np.isfinite(between)] = -1.0
    return int(np.argmax(between))


def png_bytes(image: np.ndarray) -> bytes:
    """An 8-bit grey PNG of a (height, width) uint8 array."""
    height, width = image.shape

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    # Each row starts with its filter type, 0 (none).
    rows = np.hstack([np.zeros((height, 1), np.uint8), np.ascontiguousarray(image, np.uint8)])
    header = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 0)   # 8-bit grey, no interlace
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows.tobytes(), 6))
            + chunk(b"IEND", b""))


def write_file(path: str, data: bytes) -> None:
    """Writes the file whole or not at all."""
    temporary = f"{path}.tmp{os.getpid()}"
    with open(temporary, "wb") as out:
        out.write(data)
    os.replace(temporary, path)


def main(argv=None) -> int:
    parser = argparse.ArgumentParser(description="Capture a frame, binarise it with Otsu's threshold, "
                                                 "save it as PNG and show it on HDMI.")
    parser.add_argument("-o", "--output", default="threshold.png", help="PNG file to write (default: %(default)s)")
    parser.add_argument("--exposure-ms", type=float, help="exposure time in milliseconds (default: the camera's)")
    parser.add_argument("--gain", type=int, help="analogue gain in sensor steps (default: the camera's)")
    parser.add_argument("--no-show", action="store_true", help="do not show the result on HDMI")
    parser.add_argument("--json", action="store_true", help="print the result as one JSON object")
    args = parser.parse_args(argv)

    try:
        with vyxzeb.Camera() as cam:
            if args.exposure_ms is not None:
                cam.exposure_ms = args.exposure_ms
            if args.gain is not None:
                cam.gain = args.gain
            frame = cam.capture()
            threshold = otsu_threshold(frame)
            binary = np.where(frame > threshold, 255, 0).astype(np.uint8)
            write_file(args.output, png_bytes(binary))
            if not args.no_show:
                cam.show(binary)
    except vyxzeb.Error as e:
        print(f"threshold.py: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"threshold.py: cannot write {args.output}: {e.strerror}", file=sys.stderr)
        return 1

    bright = float(np.count_nonzero(binary)) / binary.size
    result = {"threshold": threshold, "bright_fraction": round(bright, 4), "width": int(frame.shape[1]),
              "height": int(frame.shape[0]), "output": args.output, "shown": not args.no_show}
    if args.json:
        print(json.dumps(result))
    else:
        print(f"threshold {threshold}: {bright:.1%} of the {frame.shape[1]} x {frame.shape[0]} pixels are bright; "
              f"written to {args.output}" + ("" if args.no_show else ", shown on HDMI"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
