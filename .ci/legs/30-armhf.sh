# Leg: cross build for the board (armhf), tests under qemu-arm.  Line tables
# (-g1) are enough for a backtrace under qemu and keep the cross build within
# the CI budget; the optimisation is the board's (-O2), so the vector loops
# checked here are the shipped ones.  The suites' own code is built at -O0
# (40 % less compile time; the code under test, the demos' helpers the suites
# compile in included, keeps -O2).
cmake -S . -B build-armhf -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/Toolchain-armhf.cmake" \
      -DVYX_TEST_COMPILE_OPTIONS=-O0 \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" >/dev/null
cmake --build build-armhf -j"$JOBS"
run_ctest build-armhf
