# Leg: x86-64 with AddressSanitizer and UndefinedBehaviorSanitizer.  The
# Python module stays out (its tests run in legs 10 and 35, and it would
# double this leg's build); line tables (-g1) are all a sanitizer report
# needs and keep the instrumented build within the CI budget.
cmake -S . -B build-sanitize -G Ninja -DVYX_SANITIZE=ON -DVYX_BUILD_PYTHON=OFF \
      -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" \
      -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O1 -g1 -DNDEBUG" >/dev/null
cmake --build build-sanitize -j"$JOBS"
run_ctest build-sanitize
