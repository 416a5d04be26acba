#!/usr/bin/env python3
"""Prints a text of a Windows file's version resource: version_of.py FILE KEY
(KEY such as FileVersion or ProductVersion); exit 1 when it has none."""
import sys


def text_of(data, key):
    # Inside the version resource, not a text of the program's own.
    start = data.find("VS_VERSION_INFO\0".encode("utf-16-le"))
    if start < 0:
        return None
    name = (key + "\0").encode("utf-16-le")
    at = data.find(name, start)
    while at >= 0 and (at - start) % 2:
        at = data.find(name, at + 1)
    if at < 0:
        return None
    at += len(name)
    while data[at:at + 2] == b"\0\0":  # padding to the value
        at += 2
    end = at
    while end + 1 < len(data) and data[end:end + 2] != b"\0\0":
        end += 2
    return data[at:end].decode("utf-16-le")


if __name__ == "__main__":
    value = text_of(open(sys.argv[1], "rb").read(), sys.argv[2])
    if value is None:
        sys.exit(1)
    print(value)
