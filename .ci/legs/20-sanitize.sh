# Leg: x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer: the
# shipped libraries, the board, the demos, the tools and every suite.  Left
# out, as other legs cover them: the Python module (its tests run in legs 10
# and 35, and it would double this leg's build) and the fuzz corpora's replay
# (leg 50 runs every corpus input under both sanitizers before it fuzzes).
# Line tables (-g1) are all a sanitizer report needs; the code under test is
# built at -O1, the suites' own code at -O0 (instrumented, it compiles 2.5
# times faster, and the suites mostly wait on the camera).
cmake -S . -B build-sanitize -G Ninja -DVYX_SANITIZE=ON -DVYX_BUILD_PYTHON=OFF -DVYX_FUZZ_REPLAY=OFF \
      -DVYX_TEST_COMPILE_OPTIONS=-O0 \
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
