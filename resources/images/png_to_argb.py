#!/usr/bin/env python3
"""Stores a picture of the program decoded, for a resource of type "ARGB":
png_to_argb.py IN.png OUT.argb

The program draws its PNG pictures from these: "ARGB", the width and the
height (32-bit little-endian), then the pixels row by row from the top, four
bytes each in the order blue, green, red, alpha (not premultiplied), as GDI+
takes them for PixelFormat32bppARGB. Decoding a PNG through the system at
start-up cost several milliseconds a picture. Takes the 8-bit RGBA,
non-interlaced PNG files images/draw.sh makes, and refuses any other.
"""
import struct
import sys
import zlib


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c


def decode(data):
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    at, idat, header = 8, b"", None
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        at += 12 + length
    if not header:
        raise ValueError("no IHDR")
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour != 6 or interlace != 0:
        raise ValueError("only 8-bit RGBA non-interlaced pictures are taken")
    raw = zlib.decompress(idat)
    stride = width * 4
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = previous[i]
            c = previous[i - 4] if i >= 4 else 0
            if kind == 1:
                line[i] = (line[i] + a) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + b) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 0xFF
            elif kind == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 0xFF
            elif kind != 0:
                raise ValueError("bad filter %d" % kind)
        rows.append(line)
        previous = line
    return width, height, rows


def main():
    width, height, rows = decode(open(sys.argv[1], "rb").read())
    out = bytearray(b"ARGB" + struct.pack("<II", width, height))
    for line in rows:
        for i in range(0, len(line), 4):
            r, g, b, a = line[i:i + 4]
            out += bytes((b, g, r, a))
    open(sys.argv[2], "wb").write(out)


if __name__ == "__main__":
    main()
