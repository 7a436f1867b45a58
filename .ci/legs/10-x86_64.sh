# Leg: x86-64, exactly the README's test command (no build type: the code
# under test at RelWithDebInfo, the suites' own sources at -O0).
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$JOBS"
run_ctest build
