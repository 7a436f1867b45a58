#!/usr/bin/env bash
# Soak: continuous capture on the virtual board at its highest frame rate
# for a long time (default one hour), reporting every minute.  Not part of
# CI.
#
#   tests/reliability/soak.sh                  one hour, build/ of this tree
#   tests/reliability/soak.sh --seconds 600    ten minutes
#   BUILD=build-sanitize tests/reliability/soak.sh --seconds 600 --json
#
# Every option is passed to the soak program (--help lists them).  The
# program is built first if needed; the exit status is the program's: 0 when
# no frame was lost or duplicated and memory, descriptors and threads stayed
# level, 1 otherwise.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD:-$root/build}
die() { echo "soak: $*" >&2; exit 2; }

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja >/dev/null || die "cannot configure $build"
fi
cmake --build "$build" --target reliability_soak >/dev/null || die "cannot build reliability_soak in $build"
[ -x "$build/bin/reliability_soak" ] || die "$build has no reliability_soak (CLI11 and nlohmann-json are needed)"
exec "$build/bin/reliability_soak" "$@"
