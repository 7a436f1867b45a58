# Leg: the Python module's tests for the board (armhf) under qemu-arm, with
# Debian's armhf Python, NumPy and pytest unpacked into a folder; reuses the
# build-armhf/ folder of leg 30.
python/armhf-sysroot.sh build-armhf/python-sysroot
cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-armhf.cmake" \
      -DVYX_PYTHON_SYSROOT="$ROOT/build-armhf/python-sysroot" >/dev/null
cmake --build build-armhf -j"$JOBS"
run_ctest build-armhf -R '^python_'
