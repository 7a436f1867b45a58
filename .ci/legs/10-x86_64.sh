# Leg: x86-64, exactly the README's test command.
cmake -S . -B build -G Ninja >/dev/null
cmake --build build -j"$JOBS"
run_ctest build
