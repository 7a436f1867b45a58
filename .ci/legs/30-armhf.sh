# Leg: cross build for the board (armhf), tests under qemu-arm.
cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-armhf.cmake" >/dev/null
cmake --build build-armhf -j"$JOBS"
run_ctest build-armhf
