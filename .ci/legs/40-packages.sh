# Leg: the Debian packages for PCs (amd64) and for the board (armhf), lintian
# on them, and the example application built outside the tree against the
# packages unpacked into a staging folder (nothing is installed on the
# machine): with CMake's find_package and with pkg-config, run on the staged
# virtual board, built with AddressSanitizer and run the same way, and
# cross-built for the board against the staged armhf SDK and run under qemu.
# Reuses the build folders of legs 10 (build/) and 30 (build-armhf/); the
# exports of an unoptimised coverage build are checked on the two shipped
# libraries alone.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

expect_in() {   # expect_in FILE TEXT: FILE holds TEXT, or the leg fails
    grep -qF -- "$2" "$1" || { echo "missing \"$2\" in $1:" >&2; cat "$1" >&2; return 1; }
}

log "exports of a Debug build with coverage"
cmake -S . -B build-exports -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVYX_COVERAGE=ON -DVYX_BUILD_TESTS=OFF >/dev/null
cmake --build build-exports -j"$JOBS" --target vyxzeb vyxSensorQ210B
python3 tests/exports/check_exports.py include build-exports/lib/libvyxzeb.so build-exports/lib/libvyxSensorQ210B.so
python3 tests/exports/check_linkage.py \
    --soname build-exports/lib/libvyxzeb.so libvyxzeb.so \
    --soname build-exports/lib/libvyxSensorQ210B.so libvyxSensorQ210B.so \
    --needs build-exports/lib/libvyxSensorQ210B.so libvyxzeb.so

log "packages"
# The same configuration as legs 10 and 30, so this leg also runs alone.
cmake -S . -B build -G Ninja >/dev/null
cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-armhf.cmake" >/dev/null
for dir in build build-armhf; do
    cmake --build "$dir" -j"$JOBS"
    rm -rf "$dir/packages"
    (cd "$dir" && cpack --config CPackConfig.cmake >/dev/null)
done
ls -l build/packages build-armhf/packages
lintian --fail-on error --tag-display-limit 0 build/packages/*.deb build-armhf/packages/*.deb
# The board's library and plug-in sit in /usr/lib itself, in both
# architectures; the virtual board never goes to the board.
for arch in amd64 armhf; do
    dir=build; [ "$arch" = armhf ] && dir=build-armhf
    dpkg-deb -c "$dir/packages/libvyxzeb_2.2.0.0_$arch.deb" > "$stage/contents"
    expect_in "$stage/contents" " ./usr/lib/libvyxzeb.so"
    expect_in "$stage/contents" " ./usr/lib/libvyxSensorQ210B.so"
done
[ -f build/packages/vyxzeb-sim_2.2.0.0_amd64.deb ]
if ls build-armhf/packages/vyxzeb-sim_* 2>/dev/null; then
    echo "the virtual board must not be packaged for the board" >&2
    exit 1
fi

log "example against the amd64 packages"
pc="$stage/amd64"
for p in build/packages/*_amd64.deb; do dpkg -x "$p" "$pc"; done
cp -r examples/hello_capture "$stage/src"
cmake -S "$stage/src" -B "$stage/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$pc/usr" >/dev/null
cmake --build "$stage/cmake"
run_ctest "$stage/cmake"
[ -s "$stage/cmake/vyxsim-root/picture/data/hello.bmp" ]

export PKG_CONFIG_PATH="$pc/usr/lib/pkgconfig"
g++ -std=c++17 -Wall -Wextra -Werror -o "$stage/hello_pc" "$stage/src/hello_capture.cpp" \
    $(pkg-config --cflags --libs vyxzeb)
g++ -std=c++17 -g -fsanitize=address -o "$stage/hello_asan" "$stage/src/hello_capture.cpp" \
    $(pkg-config --cflags --libs vyxzeb)
unset PKG_CONFIG_PATH
for app in hello_pc hello_asan; do
    LD_LIBRARY_PATH="$pc/usr/lib" "$pc/usr/bin/vyxsim" --root "$stage/root-$app" -- \
        "$stage/$app" > "$stage/$app.out" 2>&1
    expect_in "$stage/$app.out" "frame 9: mean grey"
    expect_in "$stage/$app.out" "program ended with status 0"
    [ -s "$stage/root-$app/picture/data/hello.bmp" ]
done

# An application's own test links the board the way the SDK's tests do.
mkdir -p "$stage/linked"
cat > "$stage/linked/CMakeLists.txt" <<'EOT'
cmake_minimum_required(VERSION 3.16)
project(linked CXX)
find_package(vyxzeb 2.2 CONFIG REQUIRED COMPONENTS sim)
add_executable(linked_test linked_test.cpp)
target_link_libraries(linked_test PRIVATE vyxzeb::vyxzeb vyxzeb::vyxboard)
EOT
cat > "$stage/linked/linked_test.cpp" <<'EOT'
#include <VYXZebApi.h>
int main() { return VYXZEB_Init() == VYXZEB_RET_SUCCESS && VYXZEB_UnInit() == VYXZEB_RET_SUCCESS ? 0 : 1; }
EOT
cmake -S "$stage/linked" -B "$stage/linked/build" -G Ninja -DCMAKE_PREFIX_PATH="$pc/usr" >/dev/null
cmake --build "$stage/linked/build"
"$stage/linked/build/linked_test"

log "example cross-built against the armhf packages, run under qemu"
arm="$stage/armhf"
for p in build-armhf/packages/*_armhf.deb; do dpkg -x "$p" "$arm"; done
# The board has no virtual board package; to run the example under qemu the
# armhf build's own virtual board joins the staged SDK.
cmake --install build-armhf --component sim --prefix "$arm/usr" >/dev/null
# The toolchain file of the example's README.
cat > "$stage/armhf.cmake" <<EOT
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_FIND_ROOT_PATH $arm)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOT
cmake -S "$stage/src" -B "$stage/cross" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$stage/armhf.cmake" >/dev/null
cmake --build "$stage/cross"
file "$stage/cross/hello_capture" | grep -q "ARM"
PKG_CONFIG_LIBDIR="$arm/usr/lib/pkgconfig" arm-linux-gnueabihf-g++ -std=c++17 -o "$stage/hello_armhf_pc" \
    "$stage/src/hello_capture.cpp" $(PKG_CONFIG_LIBDIR="$arm/usr/lib/pkgconfig" pkg-config --cflags --libs vyxzeb)
qemu-arm -L /usr/arm-linux-gnueabihf -E LD_LIBRARY_PATH=/usr/arm-linux-gnueabihf/lib \
    "$arm/usr/bin/vyxsim" --root "$stage/root-armhf" -- "$stage/cross/hello_capture" > "$stage/armhf.out" 2>&1
expect_in "$stage/armhf.out" "frame 9: mean grey"
expect_in "$stage/armhf.out" "program ended with status 0"
[ -s "$stage/root-armhf/picture/data/hello.bmp" ]
