# Leg: x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer.  The
# Python module stays out (its tests run in legs 10 and 35, and it would
# double this leg's build); line tables (-g1) are all a sanitizer report
# needs and keep the instrumented build within the CI budget.
cmake -S . -B build-sanitize -G Ninja -DVYX_SANITIZE=ON -DVYX_BUILD_PYTHON=OFF \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
cmake --build build-sanitize -j"$JOBS"
# The fault sweep fails every call of init, capture, show, BMP, log and
# uninit into the board and the file system in turn.  Its runs mostly wait
# (each one initialises the device), so it runs beside the suites, each
# process on a sandbox of its own; any finding fails the leg.
sweep_log=build-sanitize/fault-sweep.txt
build-sanitize/bin/reliability_fault_sweep >"$sweep_log" 2>&1 &
sweep_pid=$!
run_ctest build-sanitize
if wait "$sweep_pid"; then
    grep -E 'fault points' "$sweep_log"
else
    cat "$sweep_log"
    echo "fault sweep: findings or unexercised points (above)" >&2
    exit 1
fi
