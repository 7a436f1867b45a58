#!/usr/bin/env python3
"""Checks the dynamic section of every shipped binary with readelf: the
sonames of the project's libraries, the NEEDED entries that name them, and
that the shipped libraries depend on system libraries only.

The build tree hides a wrong soname (a symlink in lib/ answers any spelling),
but on the board each library is one file, /usr/lib/<soname>, and a binary
that records any other name does not start.

usage: check_linkage.py [--soname FILE NAME]... [--needs FILE NAME]...
                        [--system-only FILE]... [--sanitized]
  --soname FILE NAME   FILE's SONAME is exactly NAME
  --needs FILE NAME    FILE records NEEDED NAME
  --system-only FILE   FILE needs nothing beyond the C and C++ runtimes, the
                       threads, loader and math libraries (and the names
                       given with --needs for it)
  --sanitized          the sanitizer runtimes count as system libraries
Every file named records the project's libraries (NEEDED libvyx...) only by
the sonames given with --soname.
"""
import argparse
import re
import subprocess
import sys

SYSTEM = [r"libc\.so\.6", r"libm\.so\.6", r"libpthread\.so\.0", r"libdl\.so\.2",
          r"libstdc\+\+\.so\.6", r"libgcc_s\.so\.1", r"ld-linux[-\w.]*\.so\.\d+"]
SANITIZER = [r"libasan\.so\.\d+", r"libubsan\.so\.\d+", r"libtsan\.so\.\d+"]
OWN = re.compile(r"^libvyx")


def dynamic(path):
    """(soname or None, [needed]) of an ELF file, any machine."""
    out = subprocess.run(["readelf", "-d", "-W", path], check=True,
                         capture_output=True, text=True).stdout
    soname, needed = None, []
    for line in out.splitlines():
        m = re.search(r"\((SONAME|NEEDED)\)\s+\S+ \S+: \[(.*)\]", line)
        if not m:
            continue
        if m.group(1) == "SONAME":
            soname = m.group(2)
        else:
            needed.append(m.group(2))
    return soname, needed


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--soname", nargs=2, action="append", default=[], metavar=("FILE", "NAME"))
    ap.add_argument("--needs", nargs=2, action="append", default=[], metavar=("FILE", "NAME"))
    ap.add_argument("--system-only", action="append", default=[], metavar="FILE")
    ap.add_argument("--sanitized", action="store_true")
    a = ap.parse_args()

    files = {f for f, _ in a.soname} | {f for f, _ in a.needs} | set(a.system_only)
    info = {f: dynamic(f) for f in sorted(files)}
    sonames = {name for _, name in a.soname}
    system = [re.compile("^%s$" % p) for p in SYSTEM + (SANITIZER if a.sanitized else [])]
    errors = []

    for f, name in a.soname:
        if info[f][0] != name:
            errors.append("%s: SONAME is %r, expected %r" % (f, info[f][0], name))
    for f, name in a.needs:
        if name not in info[f][1]:
            errors.append("%s: no NEEDED %s (has %s)" % (f, name, ", ".join(info[f][1])))
    for f in sorted(files):
        for n in info[f][1]:
            if OWN.match(n) and n not in sonames:
                errors.append("%s: NEEDED %r is no soname of this project (%s)"
                              % (f, n, ", ".join(sorted(sonames))))
    for f in a.system_only:
        allowed = {name for g, name in a.needs if g == f}
        for n in info[f][1]:
            if n not in allowed and not any(p.match(n) for p in system):
                errors.append("%s: depends on %s, which the board may not have" % (f, n))

    for e in errors:
        print(e)
    print("%d files, %d linkage problems" % (len(files), len(errors)))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
