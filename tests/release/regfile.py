#!/usr/bin/env python3
"""Reads registry exports (`wine regedit /E FILE`) for the release test.

  regfile.py get FILE KEY [NAME]   prints the value NAME of KEY (its default
                                   value without NAME); exit 1 when the key or
                                   the value is not there
  regfile.py has FILE KEY          exit 0 when KEY is there
  regfile.py diff BEFORE AFTER     prints every key and value that differs,
                                   leaving out what Wine itself changes while
                                   programs run; exit 1 when anything differs

Keys are written as in the export (HKEY_LOCAL_MACHINE\\Software\\...), compared
without regard to case.
"""
import re
import sys

# What Wine changes by itself, whatever the programs do: its display
# driver writes the keys of the display adapter and the monitor anew for
# every X display it starts on (seen: Control\\Video with new GUIDs and
# driver dates, Control\\Class of the display and monitor classes).
WINE_NOISE = [
    r"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Video(\\|$)",
    # display adapters
    r"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\\{4D36E968-E325-11CE-BFC1-08002BE10318\}(\\|$)",
    # monitors
    r"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Class\\\{4D36E96E-E325-11CE-BFC1-08002BE10318\}(\\|$)",
]
NOISE = [re.compile(p, re.IGNORECASE) for p in WINE_NOISE]


def read(path):
    """{key (lower case): (key as written, {name (lower): (name, data)})}"""
    raw = open(path, "rb").read()
    if raw.startswith(b"\xff\xfe"):
        text = raw[2:].decode("utf-16-le")
    else:
        text = raw.decode("utf-8", "replace")
    lines = text.replace("\r\n", "\n").split("\n")
    keys = {}
    current = None
    pending = ""
    for line in lines:
        if pending:
            line = pending + line.lstrip()
            pending = ""
        if line.endswith("\\") and not line.startswith("["):
            pending = line[:-1]
            continue
        if line.startswith("[") and line.endswith("]"):
            name = line[1:-1]
            current = keys.setdefault(name.lower(), (name, {}))[1]
            continue
        if current is None or not line or line.startswith(";") or line.startswith("#"):
            continue
        if line.startswith("@="):
            current[""] = ("@", line[2:])
        elif line.startswith('"'):
            m = re.match(r'"((?:[^"\\]|\\.)*)"=(.*)$', line)
            if m:
                current[m.group(1).lower()] = (m.group(1), m.group(2))
    return keys


def unquote(data):
    if data.startswith("hex(7):"):  # a list of strings, UTF-16LE
        raw = bytes(int(b, 16) for b in data[7:].split(",") if b.strip())
        return "\n".join(s for s in raw.decode("utf-16-le").split("\0") if s)
    if data.startswith('"') and data.endswith('"'):
        return re.sub(r"\\(.)", r"\1", data[1:-1])
    return data


def noise(key):
    return any(p.match(key) for p in NOISE)


def main(argv):
    if len(argv) >= 4 and argv[1] in ("get", "has"):
        keys = read(argv[2])
        entry = keys.get(argv[3].lower())
        if entry is None:
            return 1
        if argv[1] == "has":
            return 0
        name = argv[4].lower() if len(argv) > 4 else ""
        value = entry[1].get(name)
        if value is None:
            return 1
        print(unquote(value[1]))
        return 0
    if len(argv) == 4 and argv[1] == "diff":
        before, after = read(argv[2]), read(argv[3])
        differences = []
        for lower in sorted(set(before) | set(after)):
            shown = (before.get(lower) or after.get(lower))[0]
            if noise(shown):
                continue
            if lower not in after:
                differences.append("- [%s]" % shown)
                continue
            if lower not in before:
                differences.append("+ [%s]" % shown)
                for name, data in after[lower][1].values():
                    differences.append("+     %s=%s" % (name, data))
                continue
            b, a = before[lower][1], after[lower][1]
            for name in sorted(set(b) | set(a)):
                if b.get(name) != a.get(name):
                    if name in b:
                        differences.append("- [%s] %s=%s" % (shown, b[name][0], b[name][1]))
                    if name in a:
                        differences.append("+ [%s] %s=%s" % (shown, a[name][0], a[name][1]))
        for line in differences:
            print(line)
        return 1 if differences else 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
