#!/usr/bin/env bash
# Prepares a folder with Debian's armhf Python, NumPy and pytest, for running
# the module's tests of an armhf build under qemu-arm.
#
#   python/armhf-sysroot.sh DIR
#
# Debian's python3.11:armhf cannot be installed beside the amd64 one, so the
# packages are downloaded with apt-get and unpacked into DIR with dpkg -x
# (nothing on the machine changes; armhf must be a foreign architecture of
# apt: dpkg --add-architecture armhf && apt-get update).  Then configure the
# armhf build with -DVYX_PYTHON_SYSROOT=DIR.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 DIR" >&2; exit 2; }
root=$(realpath -m "$1")

armhf=(python3.11-minimal libpython3.11-minimal libpython3.11-stdlib python3-numpy
       libc6 libexpat1 zlib1g libffi8 libssl3 libblas3 liblapack3 libgfortran5 libgcc-s1
       libstdc++6 libbz2-1.0 liblzma5 libsqlite3-0 libtinfo6 libncursesw6 libreadline8
       libuuid1 libcrypt1 libnsl2 libtirpc3 libdb5.3)
# pytest and what it imports are architecture independent.
all=(python3-pytest python3-pluggy python3-iniconfig python3-packaging python3-py
     python3-attr python3-more-itertools)

if [ -x "$root/usr/bin/python3.11" ] && [ -d "$root/usr/lib/python3/dist-packages/numpy" ] &&
   [ -d "$root/usr/lib/python3/dist-packages/_pytest" ]; then
    echo "armhf Python sysroot already in $root"
    exit 0
fi
debs=$(mktemp -d)
trap 'rm -rf "$debs"' EXIT
chmod 755 "$debs"   # apt-get downloads as its own user
(cd "$debs" && apt-get download -qq "${armhf[@]/%/:armhf}" "${all[@]}")
mkdir -p "$root"
for deb in "$debs"/*.deb; do
    dpkg -x "$deb" "$root"
done
# Byte-compile with the host's Python of the same version: the emulated one
# would spend seconds compiling at every start (and may not write the cache).
# A few data files of the standard library's own tests never compile.
/usr/bin/python3 -m compileall -q -j 2 "$root/usr/lib/python3.11" "$root/usr/lib/python3/dist-packages" >/dev/null || true
echo "armhf Python sysroot in $root"
