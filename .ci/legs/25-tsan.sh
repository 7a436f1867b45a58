# Leg: ThreadSanitizer (x86-64 only: Debian has no TSan runtime for armhf).
# Builds the library, the plug-in and the threaded suites only - capture
# hand-shake, device, capture node, log, demos, the concurrent-use stress
# test - and runs them with any report failing the test.  The virtual board
# is the hardware's stand-in and is not checked (tests/tsan.supp).
tsan_tests="capture_sync_test capture_handshake_test camera_set_test api_capture_tests device_tests
            device_capture_node_tests log_tests demos_run_test reliability_stress_test sensor_test"
# The suites' own code at -O0, as in leg 20.
cmake -S . -B build-tsan -G Ninja -DVYX_SANITIZE=thread -DVYX_BUILD_PYTHON=OFF -DVYX_TEST_COMPILE_OPTIONS=-O0 \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
# shellcheck disable=SC2086
cmake --build build-tsan -j"$JOBS" --target vyxSensorQ210B $tsan_tests
run_ctest build-tsan -R "^($(echo $tsan_tests | tr ' ' '|'))\$"
