# Leg: the Python module as a user gets it, from the Debian packages of leg 40
# (build/packages, build-armhf/packages): the amd64 packages unpacked into a
# staging folder capture a frame on the virtual board, and the board's
# package holds the module built for armhf.
if ! ls build/packages/python3-vyxzeb_*_amd64.deb build-armhf/packages/python3-vyxzeb_*_armhf.deb >/dev/null 2>&1; then
    log "python3-vyxzeb: no packages were cut (leg 40), nothing to check"
    return 0
fi
log "python3-vyxzeb from the amd64 packages"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for p in libvyxzeb vyxzeb-sim python3-vyxzeb; do
    dpkg -x build/packages/${p}_*_amd64.deb "$stage"
done
dpkg-deb -f build/packages/python3-vyxzeb_*_amd64.deb Depends | grep -q python3-numpy
(cd "$stage" &&
 PYTHONPATH="$stage/usr/lib/python3/dist-packages" LD_LIBRARY_PATH="$stage/usr/lib" \
 timeout 120 usr/bin/vyxsim --root "$stage/root" -- /usr/bin/python3 -c '
import sys, vyxzeb
assert vyxzeb.__file__.startswith(sys.argv[1]), vyxzeb.__file__
print("python3-vyxzeb: mean grey", vyxzeb.Camera().capture().mean())' "$stage/usr")

log "python3-vyxzeb for the board"
dpkg-deb -c build-armhf/packages/python3-vyxzeb_*_armhf.deb > "$stage/contents"
grep -q '/usr/lib/python3/dist-packages/vyxzeb/_vyxzeb\.cpython-3[0-9]*-arm-linux-gnueabihf\.so$' "$stage/contents" ||
    { echo "the armhf package holds no armhf module:" >&2; cat "$stage/contents" >&2; exit 1; }
