# Leg: the benchmarks build, and bench_image runs briefly and writes a
# well-formed --json report.  Its figures are not judged here: a CI machine
# is shared, and a timed verdict would flake.  Reuses build/ from leg 10.
# Without OpenCV (not in the package lists) bench_image leaves out the
# comparisons with it and keeps the others.
cmake -S . -B build -G Ninja -DVYX_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$JOBS" --target bench_image bench_capture
build/bin/bench_image --json --benchmark_min_time=0.01 >build/bench_image.json 2>build/bench_image.log \
    || { cat build/bench_image.log; exit 1; }
python3 - build/bench_image.json <<'PY'
import json, sys
run = json.load(open(sys.argv[1]))
want = {"threshold_vs_memcpy", "band_noise_vs_smooth",
        "histogram_camera_vs_one_store_per_pixel", "histogram_noise_vs_one_store_per_pixel"}
if run.get("opencv"):
    want |= {"threshold_vs_cv_threshold", "band_vs_cv_inrange",
             "histogram_camera_vs_cv_calchist", "histogram_noise_vs_cv_calchist",
             "one_store_per_pixel_camera_vs_cv_calchist", "one_store_per_pixel_noise_vs_cv_calchist"}
ratios = run["ratios"]
missing = sorted(want - set(ratios))
unmeasured = sorted(k for k, r in ratios.items() if not isinstance(r.get("paired"), (int, float)) or r["paired"] < 0)
if missing or unmeasured:
    sys.exit(f"bench_image --json: missing {missing}, without a paired figure {unmeasured}")
print(f"bench_image --json: {len(ratios)} ratios, OpenCV {run.get('opencv') or 'absent'}")
PY
python3 bench/compare_runs.py build/bench_image.json build/bench_image.json
