# Leg: x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S . -B build-sanitize -G Ninja -DVYX_SANITIZE=ON >/dev/null
cmake --build build-sanitize -j"$JOBS"
run_ctest build-sanitize
