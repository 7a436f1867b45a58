#!/usr/bin/env python3
"""Independent reader for the BMP files the library writes.

Usage: check_bmp.py FILE WIDTH HEIGHT BITS [FILE WIDTH HEIGHT BITS ...]

Parses the file with the standard library only and checks every header
field, the grey palette (8 bits) and the pixel bytes, which the tests fill
with (row * 7 + byte * 13) & 0xFF over each padded row.  Prints one line
per file: OK, or the first difference found.
"""
import struct
import sys


def check(path, width, height, bits):
    with open(path, "rb") as f:
        data = f.read()
    row = (width * bits + 31) // 32 * 4
    image = row * height
    header = 14 + 40 + (1024 if bits == 8 else 0)
    if len(data) != header + image:
        return "length %d, expected %d" % (len(data), header + image)
    magic, size, reserved, offset = struct.unpack_from("<2sIIi", data, 0)
    if magic != b"BM" or size != len(data) or reserved != 0 or offset != header:
        return "file header %r %d %d %d" % (magic, size, reserved, offset)
    info = struct.unpack_from("<IiiHHIIiiII", data, 14)
    expected = (40, width, -height, 1, bits, 0, image, 0, 0, 0, 0)
    if info != expected:
        return "information header %r, expected %r" % (info, expected)
    if bits == 8:
        for j in range(256):
            entry = data[54 + 4 * j:58 + 4 * j]
            if entry != bytes((j, j, j, j)):
                return "palette entry %d is %r" % (j, entry)
    rows = {}  # the pattern repeats with (row * 7) mod 256
    for r in range(height):
        got = data[offset + r * row:offset + (r + 1) * row]
        key = (r * 7) & 0xFF
        if key not in rows:
            rows[key] = bytes((key + c * 13) & 0xFF for c in range(row))
        if got != rows[key]:
            return "pixel row %d differs" % r
    return "OK"


if __name__ == "__main__":
    args = sys.argv[1:]
    for i in range(0, len(args) - 3, 4):
        print(check(args[i], int(args[i + 1]), int(args[i + 2]), int(args[i + 3])))
