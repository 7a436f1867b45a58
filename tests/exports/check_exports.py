#!/usr/bin/env python3
"""Compares the dynamic symbol tables of the two shipped libraries with the
functions their public headers declare, so that no exported function goes
missing and nothing internal leaks out.

usage: check_exports.py INCLUDE_DIR LIBVYXZEB LIBVYXSENSOR
"""
import re
import subprocess
import sys

# Classes whose vtables, typeinfo and members cross the plug-in boundary.
LIB_CLASSES = ("CIBus", "CBusSPI", "CBusSPI0", "CBusSPI1")
PLUGIN_CLASSES = ("CISensor", "CSensor", "CSensorQ210B")
# The two interfaces are used on both sides of the boundary; a library that
# only uses the other side's interface may still carry its type information
# (the sanitizer build's vptr checks emit it).
INTERFACES = ("CIBus", "CISensor")
# Symbols the AddressSanitizer instrumentation adds beside each global.
SANITIZER_PREFIXES = ("__odr_asan",)
PLUGIN_FUNCTIONS = {"newSensor", "deleteSensor"}
# The log handle is defined in libvyxzeb alone; the plug-in takes it from there.
LOG_GLOBALS = {"hVYXLog"}


def header_functions(path):
    """Returns (plain names, C++ signatures) of the functions a header
    exports.  Declarations after the close of its extern "C" block carry
    C++ names."""
    text = open(path).read()
    text = re.sub(r"/\*.*?\*/", "", text, flags=re.S)
    text = re.sub(r"//[^\n]*", "", text)
    closes = list(re.finditer(r"#ifdef __cplusplus\s*\}", text))
    split = closes[-1].end() if closes else len(text)
    decl = re.compile(r"VYXZEB_API\s+[\w\s\*]+?\b((?:VYXZEB|VYXLOG)_\w+)\s*\(([^)]*)\)", re.S)
    plain, mangled = set(), set()
    for m in decl.finditer(text):
        name, params = m.group(1), m.group(2)
        if m.start() < split:
            plain.add(name)
            continue
        types = []
        for p in params.split(","):
            p = " ".join(p.split())
            # drop the parameter name, keep the type with its stars
            p = re.sub(r"\s*(\**)\s*\w+$", r"\1", p)
            types.append(p)
        mangled.add("%s(%s)" % (name, ", ".join(types)))
    return plain, mangled


def exported(lib):
    out = subprocess.run(["readelf", "--dyn-syms", "-W", lib], check=True, capture_output=True, text=True).stdout
    names = set()
    for line in out.splitlines():
        cols = line.split()
        # Num: Value Size Type Bind Vis Ndx Name
        if len(cols) >= 8 and cols[0].endswith(":") and cols[6] != "UND" and cols[4] in ("GLOBAL", "WEAK"):
            names.add(cols[7].split("@")[0])
    return names


def demangle(names):
    names = sorted(names)
    out = subprocess.run(["c++filt"], input="\n".join(names), check=True, capture_output=True, text=True).stdout
    return dict(zip(names, out.splitlines()))


def belongs_to(demangled, classes):
    """True for members, vtables and typeinfo of the given classes."""
    for c in classes:
        if demangled.startswith(c + "::"):
            return True
        for prefix in ("typeinfo for ", "typeinfo name for ", "vtable for "):
            if demangled == prefix + c:
                return True
    return False


def check(lib, expected_plain, expected_cxx, classes):
    names = {n for n in exported(lib) if not n.startswith(SANITIZER_PREFIXES)}
    required = classes
    classes = tuple(classes) + INTERFACES
    dem = demangle(names)
    errors = []
    got_plain = {n for n in names if dem[n] == n}
    got_cxx = {dem[n] for n in names if dem[n] != n and not belongs_to(dem[n], classes)}
    for n in sorted(expected_plain - got_plain):
        errors.append("%s: missing %s" % (lib, n))
    for n in sorted(expected_cxx - got_cxx):
        errors.append("%s: missing %s" % (lib, n))
    for n in sorted(got_plain - expected_plain):
        errors.append("%s: leaks %s" % (lib, n))
    for n in sorted(got_cxx - expected_cxx):
        errors.append("%s: leaks %s" % (lib, n))
    for c in required:
        if not any(dem[n] == "typeinfo for " + c for n in names):
            errors.append("%s: class %s is not exported" % (lib, c))
    return errors


def main():
    include, lib, plugin = sys.argv[1:4]
    api_plain, api_cxx = header_functions(include + "/VYXZebApi.h")
    log_plain, log_cxx = header_functions(include + "/VYXLog.h")
    errors = check(lib, api_plain | log_plain | LOG_GLOBALS, api_cxx | log_cxx, LIB_CLASSES)
    errors += check(plugin, log_plain | PLUGIN_FUNCTIONS, log_cxx, PLUGIN_CLASSES)
    for e in errors:
        print(e)
    print("%d exported-symbol problems" % len(errors))
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
